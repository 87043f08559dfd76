// bx_packdigits: in-place normalisers that keep one character class.
//
// Used by the transaction setters (card numbers, dates, ZIP codes) before a
// value goes into a fixed field.  They never refuse a text: characters
// outside the class are dropped; bytes >= 0x80 belong to no class.
#ifndef BRIX_XACTION_BX_PACKDIGITS_H
#define BRIX_XACTION_BX_PACKDIGITS_H

#ifdef __cplusplus
extern "C" {
#endif

int bx_packdigits(char *text);    // keeps 0-9; returns the new length
int bx_packalnums(char *text);    // keeps A-Z a-z 0-9
int bx_packnonwhite(char *text);  // drops white space
int bx_trimnonwhite(char *text);  // trims leading and trailing white space

#ifdef __cplusplus
}
#endif

#endif
