// bx_dll: the store of the shared processor state records.
//
// State that outlives one transaction and that the processing daemon and
// the merchant's sessions must agree on (init flag, terminal codes, network
// timing, line timeouts, batch and transaction numbers, merchant identity,
// card ranges, dial numbers) lives in memory in the session's dll and on
// disk as one item of the "globals" queue per record.  Each record has a
// sync state: 0 memory not loaded (the next sync reads the record), 1 in
// step (the next sync does nothing), 2 memory changed (the next sync writes
// the record).  A sync leaves the state at 1.
//
// The nine records are the rows of one table (key, sync-state field, the
// writer that lays out the bytes, the parser); the daemon reads and writes
// the same bytes, so the layouts are exact.  The sync operations of
// bx_rbank_dll and bx_nash_dll and the protocol commands call bx_dll_sync.
//
// Failure policy: a missing, empty or over-long record (more than
// BX_DLL_READ_SIZE bytes) leaves memory as it is and is not logged; the
// queue store logs its own failures.  A session without a globals queue,
// or a globals lock that cannot be had, is logged and leaves memory and the
// sync state untouched.  A parser never reads past the record's bytes.
#ifndef BRIX_COMMANDS_BX_DLL_H
#define BRIX_COMMANDS_BX_DLL_H

#include <cstddef>

#include "session/bx_session.h"

// The state records, one per key of the globals queue.
enum class bx_dll_key {
    initreqf,  // "INITREQF": terminal initialisation flag (dll.flags)
    initstat,  // "INITSTAT": terminal access and processing codes (dll.init_state)
    nettimef,  // "NETTIMEF": network timing (dll.timing_data)
    timeouts,  // "TIMEOUTS": line timeouts (dll.timeouts)
    batchnum,  // "BATCHNUM": batch number (dll.counters)
    transnum,  // "TRANSNUM": transaction number (dll.counters)
    merchant,  // "MERCHANT": merchant identity and permissions (dll.merchant)
    services,  // "SERVICES": card ranges and their service types (dll.ranges)
    phonenum,  // "PHONENUM": dial numbers (dll.phonenum)
};

// A stored record longer than this is not loaded.
constexpr size_t BX_DLL_READ_SIZE = 1024;

// Moves one record between the session's dll and the globals queue by its
// sync state.  True when the sync did what its state asked: nothing, a
// read (also one that found no record) or a write the queue stored.  False
// when the globals queue is absent or its lock cannot be had (nothing done,
// state unchanged) or when the write was not stored (state 1 all the same,
// as the daemon expects of a sync).
bool bx_dll_sync(bx_session s, bx_dll_key record);

// Reads a stored record's bytes (size of them, zero bytes included) into
// the session's dll as the sync's read does; the sync state is left alone.
void bx_dll_parse(bx_session s, bx_dll_key record, const char *data, size_t size);

#endif
