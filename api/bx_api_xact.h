// bx_api_xact: what the script-facing operations share: the queues by
// status bit, reading a stored transaction out of a queue item, and
// storing a transaction under its invoice.
//
// Failure policy: these helpers log nothing except the absent-queue
// message; their callers log in their own words.
#ifndef BRIX_API_BX_API_XACT_H
#define BRIX_API_BX_API_XACT_H

#include "queue/bx_queue.h"
#include "session/bx_session.h"
#include "xaction/bx_xaction.h"

// Room for packing a transaction: every stream this library writes fits.
constexpr int BX_PACK_SIZE = 4096;

// The answer of an operation that could not learn where an invoice stands
// (bx_status answered -1).
constexpr const char *BX_TEXT_UNSEARCHABLE = "text {unable to search the queues}";
// The answer of a move that stored the transaction in its new queue but
// could not remove it from its old one (BX_ACTION): the move has taken
// effect, and the next session removes the old copy.
constexpr const char *BX_TEXT_UNREMOVED =
    "text {transaction stored but not removed from its old queue}";

// The session's queue of one status bit, or null.  When the session could
// not open that queue, logs "<op>: queue '<name>' is not open".
bx_queue bx_api_queue(bx_session s, int status, const char *op);

// Unpacks the transaction stored in item into x (zero-filled first).  The
// whole stored stream is read, however long.  Returns bx_xaction_unpack's
// result (1 or -1), or -1 without an item.
int bx_api_fetch(bx_queue q, bx_queue_item item, bx_xaction x);

// bx_api_fetch for an operation that needs the transaction: when it cannot
// be read, logs "Problem unpacking transaction %s" with the invoice text as
// the caller gave it, answers "text {unable to unpack transaction}" and
// returns false.
bool bx_api_read(bx_session s, bx_queue q, bx_queue_item item, bx_xaction x, const char *invoice);

// Packs x into buf (BX_PACK_SIZE bytes).  The packed length, or 0 when x
// cannot be packed (logged "Unable to prepare transaction %s for storage"
// with the invoice text as the caller gave it).
int bx_api_pack(bx_xaction x, char *buf, const char *invoice);

enum class bx_store { stored, unpackable, unstored };

// Packs x and puts it into q under its invoice.  A failure is logged with
// the invoice text as the caller gave it: "Unable to prepare transaction
// %s for storage" when x cannot be packed, "Unable to insert transaction
// %s into database" when the put fails.
bx_store bx_api_store(bx_queue q, bx_xaction x, const char *invoice);

#endif
