// bx_etc: bounded in-place filters, the free-text rule and the invoice
// key rule.
//
// The bx_etc_ filters keep at most `length` characters, so the buffer must
// hold length + 1 bytes.  bx_etc_plaintext is the one rule for free text a
// script gives (names, descriptions, references): it walks the whole text.
// bx_invoice_key is the one rule that turns an
// invoice text into the 8-character key under which a transaction is
// stored and looked up in every queue.
#ifndef BRIX_XACTION_BX_ETC_H
#define BRIX_XACTION_BX_ETC_H

#ifdef __cplusplus
extern "C" {
#endif

// Keeps letters, digits, space, '-', ',' and '.', upper-casing letters.
int bx_etc_alphanum(char *text, int length);
// Keeps digits, '.' and '-'.
int bx_etc_numeric(char *text, int length);
// Keeps digits, '$', '-' and '.'.
int bx_etc_monetary(char *text, int length);
// Drops '{', '}' and control characters (bytes below 0x20, and 0x7F), so
// that a stored text cannot close or open a brace word, or start a line,
// of the answers and receipts that print it.  Returns the new length.
int bx_etc_plaintext(char *text);

// Writes the invoice key of `text` into key (9 bytes): the text filtered
// by bx_etc_alphanum to 8 characters, then only its letters and digits,
// padded on the right with 'X' to exactly 8.  A null text gives XXXXXXXX.
void bx_invoice_key(const char *text, char key[9]);

#ifdef __cplusplus
}
#endif

#endif
