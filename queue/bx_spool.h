// bx_spool: the merchant's data directory as a whole: moving a transaction
// from one queue to another so that a crash can never leave it in both or
// in neither, finishing what a crashed process left unfinished, and the
// operator's check and repair of the spool files.
//
// Callers: the processing requests, the resend command and brix-demod move
// transactions with bx_queue_move; bx_init and brix-demod (before each
// poll) run bx_spool_recover; the operator's tool runs bx_spool_check and
// bx_spool_repair.
//
// The journal.  Every change that takes more than one file-system step
// first leaves a record in <spool>/journal, outside the queue directories,
// and removes it when it is over (see bx_queue_files.h for the names).
// While the change runs, its process holds an exclusive record lock on the
// record, so a recovery takes up only the records of processes that died:
// it takes the record's lock without waiting, and passes a record whose
// lock is held.  A move's record says which way the transaction was going;
// without it a copy left in "auth" and one in "unauth" could not be told
// apart, since the library and the daemon move between them in opposite
// directions.
//
// Failure policy: every failure is logged; a record that cannot be settled
// stays for the next recovery.  The check reports what it finds and
// changes nothing; the repair reports every change it makes, keeps the
// bytes of every item it takes out of a queue in <spool>/quarantine, and
// refuses to touch a queue whose lock it cannot take.
#ifndef BRIX_QUEUE_BX_SPOOL_H
#define BRIX_QUEUE_BX_SPOOL_H

#include <functional>
#include <string>
#include <vector>

#include "queue/bx_queue.h"
#include "queue/bx_queue_files.h"

// One queue of a spool.
struct bx_spool_queue {
    const char *name;         // queue name, as its directory is named
    bx_queue q;               // the open queue, or null when it could not be opened
    bool transactions;        // holds transactions under their invoices ("globals" does not)
    int search;               // place in the status search, 1 first; 0 for "globals"
};

struct bx_spool {
    std::string dir;                     // the data directory
    std::vector<bx_spool_queue> queues;  // the transaction queues first, "globals" last
};

// Takes a queue's lock without waiting, trying again after short pauses
// for ten seconds at most: a process holding one queue lock never waits
// for another, so no lock cycle can form with a process that takes the two
// the other way round.  0 when taken; -1 (errno EAGAIN) when the
// queue stayed busy; -1 with another errno when the lock failed.
int bx_queue_trylockqueue(bx_queue q);

enum class bx_moved {
    moved,       // stored in `to` and removed from `from`
    busy,        // `to` stayed locked by others; nothing changed
    unlocked,    // `to`'s lock failed (errno says why); nothing changed
    unstored,    // the store failed (or its record could not be written); nothing changed
    undeleted,   // stored in `to`, but the copy in `from` could not be removed;
                 // its journal record stays, and the next recovery removes it
};

// Moves a transaction: stores data under item's key in `to` and deletes
// item from `from`.  The caller holds `from`'s queue lock; `to`'s lock is
// taken here (bx_queue_trylockqueue) around the store.  The item is freed
// in every case.  The queue store logs its own failures; the caller logs
// what the outcome means to it.
bx_moved bx_queue_move(bx_queue from, bx_queue to, bx_queue_item item, const char *data, int size);

// Finishes or undoes the changes that crashed processes left in the
// spool's journal: a put whose item was linked in gets its entry and loses
// the key's older item (or, when the key has moved on since, goes); a put
// that never got linked in is dropped; a move whose transaction was stored
// beyond its source loses its source copy, and one that was not is
// dropped.  Returns the number of records settled, or -1 when some record
// could not be (logged; it stays for the next time).
int bx_spool_recover(const bx_spool &sp);

// The spool's journal records, by name: each with what its name says
// (`what.kind` 0 when the name is not a journal record's).  False, errno
// set, when the journal folder cannot be listed.
struct bx_journal_record {
    std::string name;         // file name in <spool>/journal
    bxq::JournalName what;    // parsed from the name
};
bool bx_spool_journal(const bx_spool &sp, std::vector<bx_journal_record> *out);

// What the check found wrong with one file.
struct bx_spool_finding {
    std::string queue;        // queue name(s); empty for the spool itself
    std::string file;         // file name within the queue ("" for the queue)
    std::string problem;      // one line
    bool failed = false;      // repair: a step that could not be done (else a change made)
};

// A transaction queue item's contents, judged by the caller: the invoice
// the stored record names (empty when it names none), or a problem.
struct bx_spool_content {
    std::string invoice;
    std::string problem;      // empty: readable
    long long changed = 0;    // latest time stamp of the record, seconds
};
using bx_spool_reader = std::function<bx_spool_content(const char *data, int size)>;

// Reports every damaged or doubtful file of the spool: bookkeeping files
// that hold no value, items torn or unreadable, items no entry finds
// (orphans) or that an entry passes over for a newer one of the same key
// (duplicates), entries that hold no number or name another key's item,
// item numbers outside ".head"..".index", an invoice held by more than one
// queue, files of no kind a queue holds, modes and owners, and unfinished
// journal records.
// Each queue is read under its third index lock (shared).
std::vector<bx_spool_finding> bx_spool_check(const bx_spool &sp, const bx_spool_reader &read,
                                             size_t *items = nullptr);

// Recovers the journal, then, each queue under its queue lock: moves every
// torn or unreadable item, every duplicate of a key within a queue (the
// older ones) and every copy of an invoice held by several queues (all but
// the one most recently changed) into <spool>/quarantine, removes lock
// files of items that are gone, and rebuilds the entry and index files
// (bx_queue_sanitize, which also gives orphans their entries).  Every
// change is reported as a line through `say`.  Returns the number of
// failures (0 when the spool is sound afterwards).
int bx_spool_repair(const bx_spool &sp, const bx_spool_reader &read,
                    const std::function<void(const bx_spool_finding &)> &say);

#endif
