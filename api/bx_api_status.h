// bx_api_status: where an invoice stands, and its status text.
#ifndef BRIX_API_BX_API_STATUS_H
#define BRIX_API_BX_API_STATUS_H

#include "session/bx_session.h"

#ifdef __cplusplus
extern "C" {
#endif

// The status bit of the queue that holds the invoice (0 when none does,
// -7 without a session); the status text is left in apitext.  -1 when a
// queue could not be searched (its lock or its files failed): then nobody
// can tell whether the invoice exists, apitext says so, and every caller
// refuses to go on.
int bx_status(bx_session vsess, const char *invoice);

#ifdef __cplusplus
}

// Where an invoice stands, as bx_status answers (-1 when a queue cannot be
// searched, logged), without reading the stored record or touching
// apitext: for the operations that only need the queue and answer in
// their own words.
int bx_api_where(bx_session s, const char *invoice);
#endif

#endif
