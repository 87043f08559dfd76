// bx_parsemoney: the money text of amounts and taxes.
//
// bx_add (api) turns the script's amount and tax texts into cents here
// before the amount and tax setters check the range.
//
// Failure policy: a text that is not an amount gives -1; nothing is
// logged.
#ifndef BRIX_XACTION_BX_PARSEMONEY_H
#define BRIX_XACTION_BX_PARSEMONEY_H

#include "xaction/bx_xaction.h"

#ifdef __cplusplus
extern "C" {
#endif

// Cents (>= 0), or -1 when `ms` is not "[ws][$][ws]digits[.[dd]][ws]" or
// its value does not fit an int count of cents.  A null text gives -1.
int bx_parsemoney(const char *ms);

#ifdef __cplusplus
}
#endif

#endif
