// bx_abacheck: the check digit of nine-digit ABA bank routing numbers.
//
// bx_val_abacheck (bx_val) asks here whether a cheque's or ACH debit's
// routing number is well formed.  Pure: no state, no messages, no failures.
#ifndef BRIX_VALIDATE_BX_ABACHECK_H
#define BRIX_VALIDATE_BX_ABACHECK_H

#ifdef __cplusplus
extern "C" {
#endif

// 1 when s is exactly nine digits whose weighted sum (3, 7, 1, 3, 7, 1,
// 3, 7, 1) is divisible by 10, else 0.  A null text gives 0.
int bx_abacheck(const char *s);

#ifdef __cplusplus
}
#endif

#endif
