// bx_queue_files: the spool's file forms and the queue steps that the
// recovery, the checker and the repair share with the queue operations.
//
// One reader of each form exists, here: item files ("key\nsize\ndata"),
// index value files ("%d\n"), the names of item, item lock, entry and
// journal files.  The queue operations (bx_queue.cpp), the journal and its
// recovery, the spool checker and the repair (bx_spool.cpp) and the tools
// all read through these, so they can never disagree about what is torn,
// orphan or complete.
//
// Failure policy: the parsers are pure and never read past their input,
// whatever the bytes.  The file steps return false (or -1) with errno set
// and log nothing unless they say so; their callers log in their own words.
#ifndef BRIX_QUEUE_BX_QUEUE_FILES_H
#define BRIX_QUEUE_BX_QUEUE_FILES_H

#include <stddef.h>
#include <stdint.h>

#include <cerrno>
#include <functional>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "queue/bx_queue.h"
#include "queue/qor_fdlib_inline.h"
#include "support/qor_util.h"

namespace bxq {

constexpr int kLineSize = 100;             // key, size and index lines, newline included
constexpr size_t kMaxKey = kLineSize - 1;  // a key line ends in its newline
constexpr size_t kPathSize = 1024;         // item and entry paths, terminator included

// --- Forms -------------------------------------------------------------------

// What an item file's bytes are.
enum class ItemForm {
    whole,       // key line, size line and at least size data bytes
    no_key,      // no newline within the first 100 bytes (an empty file too)
    no_size,     // no size line after the key line
    bad_size,    // the size line is not a decimal number within int
    short_data,  // fewer data bytes than the size line declares
};

struct ParsedItem {
    std::string_view key;   // without its newline
    int size = 0;           // declared data length
    std::string_view data;  // the first size data bytes (fewer when short_data)
    size_t extra = 0;       // bytes after the data (a whole item may carry them)
};

ItemForm parse_item(const char *bytes, size_t len, ParsedItem *out);
// A short description of a form that is not whole, for findings.
const char *item_form_text(ItemForm form);

// An index value file's bytes: a decimal number ended by a newline; what
// follows the newline is what an interrupted shortening left and does not
// count.  False when there is no such line (an empty file too).
bool parse_index(const char *bytes, size_t len, int *value);

// Names in a queue directory.
bool item_number(std::string_view name, uint32_t *n);       // "12": canonical decimal, 1..INT_MAX
bool item_lock_number(std::string_view name, uint32_t *n);  // "12.lock"
bool entry_key(std::string_view name, std::string *key);    // "i_<escaped key>"
std::string escape_key(std::string_view key);               // the entry escape of a key
using brix::printable;  // (support/qor_util.h)

// The folder of the journal, beside the queues.
constexpr char kJournalDir[] = "journal";

// Journal records (files in <spool>/journal), one per change under way:
//   put     "p.<queue>.<n>.<old>"  the new item's bytes, linked in as item
//                                  n; old is the number the key had (0 none)
//   change  "c.<queue>.<n>"        the new bytes of item n, renamed over it
//   move    "m.<from>.<to>.<escaped key>"  empty; a transaction on its way
struct JournalName {
    char kind = 0;            // 'p', 'c' or 'm'
    std::string queue;        // the put's or change's queue; the move's source
    std::string to;           // the move's destination
    uint32_t n = 0;           // the put's or change's item number
    uint32_t old = 0;         // the put's former item of the key, 0 none
    std::string key;          // the move's key, unescaped
};
bool parse_journal_name(std::string_view name, JournalName *out);
std::string put_record_name(const char *queue, uint32_t n, uint32_t old);
std::string move_record_name(const char *from, const char *to, std::string_view key);

// --- Queue steps ---------------------------------------------------------------

// An open descriptor, closed when it goes out of scope.
class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { close(); }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    int get() const { return fd_; }
    bool ok() const { return fd_ >= 0; }
    // Takes over another descriptor, closing the one held.
    void reset(int fd) {
        close();
        fd_ = fd;
    }
    int release() {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }
    // Closes keeping errno, so that a failure's error number survives the
    // cleanup.
    [[gnu::always_inline]] void close() {
        if (fd_ >= 0) {
            int err = errno;
            qor_fdlib::close(fd_);
            errno = err;
        }
        fd_ = -1;
    }

private:
    int fd_;
};


// Reads a whole small file through fd from offset 0 (one call when it is
// small).  False on a read error.
bool read_all(int fd, std::string *out);

// Index locks: ".head", ".index", ".dblock" in that order.  False (logged
// "queue lock_indexes failed.") when one cannot be had: then none is held.
// Taken and released around most steps of a queue operation, so inline:
// each lock call returns straight into the operation.
bool lock_indexes_failed(const int *fds, size_t locked);  // releases the first `locked`
[[gnu::always_inline]] inline bool lock_indexes(bx_queue q, int type) {
    const int fds[] = {q->qdfirstindexfd, q->qdmaxindexfd, q->dblockfd};
    for (size_t i = 0; i < std::size(fds); i++)
        if (qor_fdlib::lockfd(fds[i], type, QOR_FDLIB_WAIT) != 0) return lock_indexes_failed(fds, i);
    return true;
}
[[gnu::always_inline]] inline void unlock_indexes(bx_queue q) {
    qor_fdlib::unlockfd(q->dblockfd);
    qor_fdlib::unlockfd(q->qdmaxindexfd);
    qor_fdlib::unlockfd(q->qdfirstindexfd);
}

// Holds the index locks for one operation.
class IndexLock {
public:
    IndexLock(bx_queue q, int type) : q_(q), held_(lock_indexes(q, type)) {}
    ~IndexLock() {
        if (held_) unlock_indexes(q_);
    }
    IndexLock(const IndexLock &) = delete;
    IndexLock &operator=(const IndexLock &) = delete;
    bool held() const { return held_; }

private:
    bx_queue q_;
    bool held_;
};

// The queue's max and first index (-1 when the value cannot be had; logged).
// A max index that does not read as a value is taken from the item files
// present instead.
int get_maxindex(bx_queue q);
int read_maxindex(bx_queue q, ssize_t *length);  // and the length of ".index" as read
int read_firstindex(bx_queue q, ssize_t *length);  // and the length of ".head" as read
int get_firstindex(bx_queue q);

// Largest item number present in the queue directory (0 for none); -1 when
// the directory cannot be listed.
long largest_item(bx_queue q);

// A key's entry file, read and then rewritten in place through one
// descriptor.
struct EntryFile {
    Fd fd;                    // open when the entry exists (or once written)
    int value = 0;            // the number it names; 0 none
    ssize_t length = -1;      // its length as read, -1 unknown
    enum class Access { read, write, create };
    // Reads the entry (a missing one names 0); false when it cannot be
    // read.  `write` opens it for the rewrite too, `create` makes it
    // (empty, naming nothing) when it is missing.
    bool open(bx_queue q, const char *key, Access access);
    // Points it at n (creating it when missing).
    bool write(bx_queue q, const char *key, uint32_t n);
};

// The index number the key's entry names: > 0; 0 when it has no entry, or
// one that names nothing; -1 when the entry cannot be read.
int entry_value(bx_queue q, const char *key);
// Points the key's entry at n.  An existing entry is rewritten in place.
bool write_entry(bx_queue q, const char *key, uint32_t n);
// Removes the key's entry; a missing one is no failure.
bool remove_entry(bx_queue q, const char *key);

// 1 when item n is present, 0 when not, -1 when that cannot be told.
int item_present(bx_queue q, uint32_t n);
// Reads item n (with its item lock).  Null when it is absent (errno 0) or
// cannot be read whole (errno set, logged).
bx_queue_item read_item(bx_queue q, uint32_t n);
// Removes item n and then its lock file; missing files are no failure.
// False only when the item is still there; a lock file that stays (logged)
// sets *lock_left.
bool remove_item(bx_queue q, uint32_t n, bool *lock_left = nullptr);
// Moves item n out of the queue into <spool>/quarantine, keeping its bytes;
// the lock file goes.  false when it could not be moved.
bool quarantine_item(bx_queue q, uint32_t n, const char *why, std::string *where);
// Whether an invoice is in a queue, asked of several queues in turn: the
// same files, locks and reads as bx_queue_find_item, but the item is only
// checked to be whole, not copied out.  The key and its entry name are
// made once for all the queues asked.
class Probe {
public:
    explicit Probe(const char *invoice);
    // 1 when the queue holds the invoice, 0 when not, -1 when it cannot be
    // read (q->lasterr set).
    int in(bx_queue q) const;

private:
    char key_[9];             // the invoice key, as bx_queue_find_item makes it
    std::string entry_;       // "i_" and the escaped key
};

// Reads every item of the queue, oldest first, under the shared index
// locks, in one walk (bx_queue_nth_item for each position would walk the
// queue once per item).  visit(n, item) gets each item it could read and
// then owns it; an item that cannot be read whole is visited with null
// (errno set).  visit returns false to stop.  False when the queue itself
// could not be read (lasterr set).
bool walk_queue(bx_queue q, const std::function<bool(uint32_t n, bx_queue_item item)> &visit);

// Rebuilds the queue's entry and index files from its items (see
// bx_queue_sanitize), telling each finding as one line to `say`.  0, or -1
// when something could not be read or written.
int sanitize(bx_queue q, const std::function<void(const std::string &)> &say);

// Flushes the queue directory's names to disk.
[[gnu::always_inline]] inline bool sync_queue_dir(bx_queue q) { return qor_fdlib::fsync(q->qdirfd) == 0; }

// Every name in a directory, sorted, without "." and "..".  False when it
// cannot be listed.
bool list_names(const char *dir, std::vector<std::string> *names);

}  // namespace bxq

#endif
