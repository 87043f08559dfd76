// bx_queue: one spool queue of the merchant's data directory.
//
// A queue is a directory holding ".index" (highest index number given
// out), ".head" (lowest index that may hold an item), ".lock" (queue lock),
// ".dblock" (third index lock), item files "<n>", item lock files
// "<n>.lock" and invoice entry files "i_<escaped key>".  The processing
// daemon shares these files, their formats and their locks.
//
// Failure policy: operations return a non-negative value or a negative
// queue error (bx_queue_error); file-system failures are logged.  A null
// queue (one the session could not open) makes every operation fail with
// its failure value, logged for those that read or change a queue.
// Item and entry paths are limited to 1024 bytes: a longer one is refused
// and logged, never cut.
#ifndef BRIX_QUEUE_BX_QUEUE_H
#define BRIX_QUEUE_BX_QUEUE_H

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
// when the lock cannot be had; 0 for an empty file); the release also ends
// any other lock of this process on that file.  put_index_to_fd rewrites
// one and flushes it to disk; it returns the bytes written or -1.
int read_index_from_fd(int fd);
int put_index_to_fd(int fd, int count);

#ifdef __cplusplus
}
#endif

#endif
