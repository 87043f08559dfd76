// bx_xaction_keydb: a transaction record in its stored stream form.
//
// Everything that reads or writes a transaction in a queue goes through
// these three calls; the key names and encodings are shared with the
// processing daemon and must not change.  The stream's invoice header is
// the record's data.retail.invoice; every other stored field is one key.
//
// Failure policy: results only.  The keyed-record layer logs refused
// streams and pack overflows; callers log their own context.
#ifndef BRIX_XACTION_BX_XACTION_KEYDB_H
#define BRIX_XACTION_BX_XACTION_KEYDB_H

#include "xaction/bx_xaction.h"

#ifdef __cplusplus
extern "C" {
#endif

// Packs xact into buf (capacity len bytes).  Returns the stream length, or
// 0 when the keyed record cannot be made or the stream does not fit.
int bx_xaction_pack(char *buf, bx_xaction xact, int len);
// Zero-fills xact, then rebuilds it from the first len bytes of buf.
// Returns 1, or -1 when the stream is refused (xact stays zero-filled).
// Values longer than their field are cut to the field's width.
int bx_xaction_unpack(const char *buf, bx_xaction xact, int len);
// Copies the stream's invoice into invoice (9 bytes).  Returns 1, or 0
// when the stream is refused.
int bx_xaction_unpack_invoice(const char *buf, char *invoice, int len);

#ifdef __cplusplus
}
#endif

#endif
