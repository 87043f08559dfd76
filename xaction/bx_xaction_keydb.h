// bx_xaction_keydb: a transaction record in its stored stream form.
//
// Everything that reads or writes a transaction in a queue goes through
// these three calls; the key names and encodings are shared with the
// processing daemon and must not change.  The stream's invoice header is
// the record's data.retail.invoice; every other stored field is one key.
//
// The same key table says which stored values are secret: card and bank
// account numbers are shown only by their last four characters, CVV2
// values and track data never, and those are blanked from a record once
// authorisation no longer needs them.  Whatever shows a stored record
// (the operator's tool, receipts) asks here; no other list exists.
//
// Failure policy: results only, except that a refused stream and a pack
// overflow are logged here; callers log their own context.
#ifndef BRIX_XACTION_BX_XACTION_KEYDB_H
#define BRIX_XACTION_BX_XACTION_KEYDB_H

#include <stddef.h>

#include "xaction/bx_xaction.h"

#ifdef __cplusplus
extern "C" {
#endif

// How a stored value may be shown.
typedef enum {
    BX_SENSITIVE_NONE = 0,       // as stored
    BX_SENSITIVE_LAST_FOUR = 1,  // every character but the last four as '*'
    BX_SENSITIVE_HIDDEN = 2,     // never: "(hidden)"; blanked after authorisation
} bx_sensitivity;

// Packs xact into buf (capacity len bytes).  Returns the stream length, or
// 0 when the stream does not fit.
int bx_xaction_pack(char *buf, bx_xaction xact, int len);
// Zero-fills xact, then rebuilds it from the first len bytes of buf.
// Returns 1, or -1 when the stream is refused (xact stays zero-filled).
// Values longer than their field are cut to the field's width.
int bx_xaction_unpack(const char *buf, bx_xaction xact, int len);
// Copies the stream's invoice into invoice (9 bytes).  Returns 1, or 0
// when the stream is refused.
int bx_xaction_unpack_invoice(const char *buf, char *invoice, int len);

// The sensitivity of a stream key; a key outside the table (or null) is
// not sensitive.
bx_sensitivity bx_xaction_key_sensitivity(const char *key);
// Writes the shown form of value (at most `width` bytes, or up to its NUL)
// into out, cut to outlen - 1 characters and terminated; returns its
// length.  An empty value shows as empty whatever its sensitivity.
size_t bx_xaction_show(bx_sensitivity how, const char *value, size_t width, char *out,
                       size_t outlen);
// Empties the fields whose values are never shown (CVV2 value, tracks 1
// and 2).  The CVV2 status and the processor's CVV2 result code stay, as
// do the card number and expiry that settlement and refunds need.
void bx_xaction_blank_secrets(bx_xaction x);

#ifdef __cplusplus
}

#include <string>
#include <string_view>

namespace brix {
// The shown form of a value stored under `key`.
std::string xaction_shown(const char *key, std::string_view value);
}  // namespace brix
#endif

#endif
