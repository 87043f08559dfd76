// bx_queue: one spool queue of the merchant's data directory.
//
// A queue is a directory holding ".index" (highest index number given
// out), ".head" (lowest index that may hold an item), ".lock" (queue lock),
// ".dblock" (third index lock), item files "<n>", item lock files
// "<n>.lock" and invoice entry files "i_<escaped key>".  The processing
// daemon shares these files, their formats and their locks.
//
// Failure policy: operations return a non-negative value or a negative
// queue error (bx_queue_error); file-system failures are logged, and leave
// the queue as it was.  A failed lock fails the operation (it never goes
// on unlocked).  After a find, walk or count, q->lasterr tells "nothing
// there" (0) from "could not look" (an errno); bx_queue_count and
// bx_queue_count_limited return -1 when they could not count.  A null
// queue (one the session could not open) makes every operation fail with
// its failure value, logged for those that read or change a queue.
// Item and entry paths are limited to 1024 bytes: a longer one is refused
// and logged, never cut.
//
// Crash safety: an item is written under a journal name, flushed, and then
// linked in under its number, so no walk ever sees it half-written; index
// value and entry files are overwritten in place (they carry record locks
// and must keep their inode), so they always hold the old or the new
// value.  A put, change or move interrupted by a crash leaves its journal
// record, and the next session (bx_spool_recover) finishes or undoes it.
#ifndef BRIX_QUEUE_BX_QUEUE_H
#define BRIX_QUEUE_BX_QUEUE_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

struct _bx_queue {
    char *qname;              // queue name, "new" ... "globals"; owned, set by bx_queue_open
    char *qdpath;             // queue directory "<spool>/<qname>"; owned, set by bx_queue_open
    char *qdmipath;           // path of ".index"; owned, set by bx_queue_open
    char *qdfipath;           // path of ".head"; owned, set by bx_queue_open
    int qdmaxindexfd;         // ".index", read-write, open for the record's life
    int qdfirstindexfd;       // ".head", read-write, open for the record's life
    int lockfd;               // ".lock", carries the queue lock; open for the record's life
    int dblockfd;             // ".dblock", carries the third index lock; open for the record's life
    int qdirfd;               // the queue directory, read-only: names of the *at calls, and flushed
                              // after creations, renames and removals
    int journalfd;            // "<spool>/journal": records of changes under way (bx_spool.h)
    int lasterr;              // errno of the last operation's failure; 0 when it succeeded or
                              // found nothing (tells an absent item from an unreadable queue)
    size_t qdpathlen;         // strlen(qdpath), set by bx_queue_open: every name is checked
                              // against it
};
typedef struct _bx_queue *bx_queue;

struct _bx_queue_item {
    char *fname;              // item file path "<qdpath>/<n>", at most 1023 bytes; owned
    char *lname;              // item lock file path, fname + ".lock"; owned
    char *primary_key;        // key from the item file's first line, at most 99 bytes; owned
    uint32_t indexno;         // index number n of the item file
    int size;                 // data length in bytes, from the item file's size line
    char *buf;                // data, size + 1 bytes, zero after the data; owned
};
typedef struct _bx_queue_item *bx_queue_item;

bx_queue bx_queue_open(const char *qname, int flags, const char *spooldir);
int bx_queue_close(bx_queue q, int flags);
int bx_queue_lockqueue(bx_queue q);
int bx_queue_unlockqueue(bx_queue q);
int bx_queue_count(bx_queue qid);
int bx_queue_count_limited(bx_queue qid, int limit);
const char *bx_queue_error(int error);
int bx_queue_sanitize(bx_queue qid);

int bx_queue_put(bx_queue qid, const char *outbuf, int size, const char *pkey);
int bx_queue_change(bx_queue qid, const char *outbuf, int size, const char *pkey);
int bx_queue_retrieve(bx_queue qid, bx_queue_item item_id, char *buf, int maxsize);
bx_queue_item bx_queue_find_item(bx_queue qid, const char *context);
bx_queue_item bx_queue_nth_item(bx_queue qid, unsigned int n);
int bx_queue_item_delete(bx_queue qid, bx_queue_item qi);
int bx_queue_item_close(bx_queue qid, bx_queue_item qi);

// Index value files (".index", ".head", entry files) hold "%d\n".
// read_index_from_fd reads one under a shared lock on its first byte (-1
// when the lock cannot be had; 0 for an empty or malformed file); the
// release also ends any other lock of this process on that file.  Only the
// first line counts.  put_index_to_fd overwrites the value and its newline
// in place, flushes, then cuts the file to that length, so a reader sees
// the old value or the new one, never an empty file; it returns the bytes
// written or -1.
int read_index_from_fd(int fd);
int put_index_to_fd(int fd, int count);

#ifdef __cplusplus
}

#include <memory>

// Holds a queue's lock for one scope (the queue lock of a logical step).
class bx_queue_lock {
public:
    explicit bx_queue_lock(bx_queue q) : q_(q), held_(bx_queue_lockqueue(q) == 0) {}
    ~bx_queue_lock() { release(); }
    bx_queue_lock(const bx_queue_lock &) = delete;
    bx_queue_lock &operator=(const bx_queue_lock &) = delete;
    bool held() const { return held_; }
    // Releases early; returns the unlock's result (0 when not held).
    int release() {
        if (!held_) return 0;
        held_ = false;
        return bx_queue_unlockqueue(q_);
    }

private:
    bx_queue q_;
    bool held_;
};

// A queue item owned for one scope: closed when it goes unless released.
struct bx_queue_item_closer {
    void operator()(bx_queue_item item) const { bx_queue_item_close(nullptr, item); }
};
using bx_queue_item_ptr = std::unique_ptr<_bx_queue_item, bx_queue_item_closer>;
#endif

#endif
