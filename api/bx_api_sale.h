// bx_api_sale: bx_sale, the "sale" processing request. 
#ifndef BRIX_API_BX_API_SALE_H
#define BRIX_API_BX_API_SALE_H

#include "session/bx_session.h"

#ifdef __cplusplus
extern "C" {
#endif

int bx_sale(bx_session vsess, const char *invoice);

#ifdef __cplusplus
}
#endif

#endif
