// bx_luhn: the Luhn (mod 10) check digit of card numbers.
//
// bx_val_luhn (bx_val) asks here whether a card number is well formed.
// Pure: no state, no messages, no failures.
#ifndef BRIX_VALIDATE_BX_LUHN_H
#define BRIX_VALIDATE_BX_LUHN_H

#ifdef __cplusplus
extern "C" {
#endif

// 1 when the digits of s pass the Luhn check, else 0.  Characters other
// than digits are skipped and take no position, so blanks and dashes
// between groups do not matter; a text without digits passes.  A null
// text is no number and gives 0.
int bx_luhn(const char *s);

#ifdef __cplusplus
}
#endif

#endif
