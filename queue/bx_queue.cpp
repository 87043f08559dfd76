// bx_queue: the spool queues shared with the processing daemon.
//
// A queue is one directory with two index value files (".index", the
// highest index number given out; ".head", the lowest that may still hold
// an item), two lock files (".lock", the queue lock callers hold around a
// logical step; ".dblock", the index lock that covers a whole operation),
// item files "<n>", item lock files "<n>.lock" and invoice entry files
// "i_<escaped key>" that map a key to its index number.  The session opens
// every queue at start and closes it at the end; transaction creation, the
// processing requests, counting, lookup, deletion and the protocol commands
// store and read their records through the operations here.
//
// Failure policy: operations answer with their result (an index number, a
// count, an item or a negative queue error); every file-system failure and
// every refused argument of an operation that reads or changes a queue is
// logged.  A failing index lock is logged and the operation goes on
// unlocked.  The rebuild prints its own findings on standard output.
#include "queue/bx_queue.h"

#include <climits>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <iterator>
#include <memory>
#include <new>
#include <vector>

#include "queue/qor_fdlib.h"
#include "support/qor_log.h"
#include "support/qor_util.h"
#include "xaction/bx_etc.h"

namespace {

constexpr size_t kPathSize = 1024;  // item and entry paths, terminator included
constexpr int kLineSize = 100;      // index, key and size lines are read up to this
constexpr size_t kMaxKey = kLineSize - 1;  // a key line ends in a newline
constexpr mode_t kDirMode = 0700;
constexpr mode_t kFileMode = 0600;
constexpr int kOpenExisting = QOR_FDLIB_RDWR;                      // 2
constexpr int kOpenOrCreate = QOR_FDLIB_CREATE | QOR_FDLIB_RDWR;   // 3
constexpr int kCreateNew = kOpenOrCreate | QOR_FDLIB_EXCL;         // 7
constexpr int kRewriteExisting = QOR_FDLIB_RDWR | QOR_FDLIB_TRUNC; // 10
constexpr int kReadOnly = 0;

struct FreeText {
    void operator()(char *p) const { free(p); }
};
using Text = std::unique_ptr<char, FreeText>;

// An open descriptor, closed when it goes out of scope.
class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { close(); }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    int get() const { return fd_; }
    bool ok() const { return fd_ >= 0; }
    int release() {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void close() {
        if (fd_ >= 0) qor_fdlib_close(fd_);
        fd_ = -1;
    }

private:
    int fd_;
};

// A path built in a fixed buffer.  A path that does not fit is refused,
// never cut: a cut name would be another file.
class Path {
public:
    Path() { buf_[0] = '\0'; }
    bool format(const char *fmt, ...) __attribute__((format(printf, 2, 3))) {
        va_list ap;
        va_start(ap, fmt);
        int n = vsnprintf(buf_, sizeof buf_, fmt, ap);
        va_end(ap);
        if (n < 0 || static_cast<size_t>(n) >= sizeof buf_) return fail();
        len_ = static_cast<size_t>(n);
        return true;
    }
    // Appends a key in the entry-file escape: letters, digits, '.', '-' and
    // '+' as they are, every other byte as '%' and two upper-case hex digits.
    bool append_escaped(const char *key) {
        static const char kHex[] = "0123456789ABCDEF";
        for (const unsigned char *p = reinterpret_cast<const unsigned char *>(key); *p; p++) {
            bool plain = (*p >= 'a' && *p <= 'z') || (*p >= 'A' && *p <= 'Z') ||
                         (*p >= '0' && *p <= '9') || *p == '.' || *p == '-' || *p == '+';
            size_t need = plain ? 1 : 3;
            if (len_ + need >= sizeof buf_) return fail();
            if (plain) {
                buf_[len_++] = static_cast<char>(*p);
            } else {
                buf_[len_++] = '%';
                buf_[len_++] = kHex[*p >> 4];
                buf_[len_++] = kHex[*p & 0xF];
            }
        }
        buf_[len_] = '\0';
        return true;
    }
    const char *c_str() const { return buf_; }

private:
    bool fail() {
        buf_[0] = '\0';
        len_ = 0;
        return false;
    }
    char buf_[kPathSize];
    size_t len_ = 0;
};

bool too_long(bx_queue q, const char *what) {
    qor_logf(QOR_LOG_NONFATAL, "Path of '%s' in spool '%s' is too long", what, q->qdpath);
    return false;
}

// --- Paths -----------------------------------------------------------------

// "%s/%s", allocated to exact size; null when memory cannot be had.
char *buildpath(const char *spooldir, const char *qname) {
    size_t len = strlen(spooldir) + 1 + strlen(qname) + 1;
    char *path = static_cast<char *>(malloc(len));
    if (path) snprintf(path, len, "%s/%s", spooldir, qname);
    return path;
}

bool build_item_filename(bx_queue q, uint32_t indexno, Path &out) {
    if (out.format("%s/%u", q->qdpath, indexno)) return true;
    char what[16];
    snprintf(what, sizeof what, "%u", indexno);
    return too_long(q, what);
}

// The item's lock file: the item file's name plus ".lock".
bool buildlock(bx_queue q, const Path &item, Path &out) {
    if (out.format("%s.%s", item.c_str(), "lock")) return true;
    return too_long(q, item.c_str());
}

bool build_dbentry_filename(bx_queue q, const char *pkey, Path &out) {
    if (out.format("%s/i_", q->qdpath) && out.append_escaped(pkey)) return true;
    return too_long(q, pkey);
}

// Data and key that an item file can hold and give back: the key is the
// file's first line, read back as a line of at most 100 bytes, newline
// included.  Logs a refusal as op's.  A null key is one put makes itself.
bool storable(const char *op, const char *data, int size, const char *key) {
    if (size < 0 || (!data && size > 0)) {
        qor_logf(QOR_LOG_NONFATAL, "%s: no data to store (size %d)", op, size);
        return false;
    }
    if (key && (strnlen(key, kMaxKey + 1) > kMaxKey || strchr(key, '\n'))) {
        qor_logf(QOR_LOG_NONFATAL, "%s: key of %zu bytes or with a newline refused", op, strlen(key));
        return false;
    }
    return true;
}

// --- Index value files -----------------------------------------------------

// Decimal conversion of an index line, atoi-style, kept inside int.
int index_value(const char *line) {
    long v = strtol(line, nullptr, 10);
    if (v > INT_MAX) return INT_MAX;
    if (v < INT_MIN) return INT_MIN;
    return static_cast<int>(v);
}

// Reads an index value file under a shared lock on its first byte.  False
// when the lock could not be had.  The release at the end ends every lock
// this process holds on the file, including one taken by lock_indexes.
bool read_index(int fd, int *value) {
    if (qor_fdlib_lockfd(fd, QOR_FDLIB_SHARED, QOR_FDLIB_WAIT) != 0) return false;
    char line[kLineSize + 1];
    errno = 0;
    if (qor_fdlib_fdrewind(fd) == -1 || qor_fdlib_fdgets(line, kLineSize, fd) != 0) {
        qor_log_err(QOR_LOG_INFO, "Initializing queue count");
        *value = 0;
    } else {
        *value = index_value(line);
    }
    qor_fdlib_unlockfd(fd);
    return true;
}

int get_maxindex(bx_queue q) {
    int v;
    if (read_index(q->qdmaxindexfd, &v)) return v;
    qor_log_err(QOR_LOG_FATAL, "Can't lock queue max-index file for reading");
    return -1;
}

int get_firstindex(bx_queue q) {
    int v;
    if (read_index(q->qdfirstindexfd, &v)) return v;
    qor_log_err(QOR_LOG_FATAL, "Can't lock queue first-index file for reading");
    return -1;
}

// --- Index locks -----------------------------------------------------------

// Takes the three index locks in the fixed order ".head", ".index",
// ".dblock".  Every program sharing the queue takes them in this order, so
// no two of them can wait for each other in a cycle.
int lock_indexes(bx_queue q, int type) {
    const int fds[] = {q->qdfirstindexfd, q->qdmaxindexfd, q->dblockfd};
    for (size_t i = 0; i < std::size(fds); i++) {
        if (qor_fdlib_lockfd(fds[i], type, QOR_FDLIB_WAIT) == 0) continue;
        int err = errno;
        while (i-- > 0) qor_fdlib_unlockfd(fds[i]);
        errno = err;
        qor_log_err(QOR_LOG_NONFATAL, "queue lock_indexes failed.");
        return -1;
    }
    return 0;
}

int unlock_indexes(bx_queue q) {
    qor_fdlib_unlockfd(q->dblockfd);
    qor_fdlib_unlockfd(q->qdmaxindexfd);
    qor_fdlib_unlockfd(q->qdfirstindexfd);
    return 0;
}

// Holds the index locks for one operation.  A failed lock was logged; the
// operation goes on without it, and the release is harmless then.
class IndexLock {
public:
    IndexLock(bx_queue q, int type) : q_(q) { lock_indexes(q, type); }
    ~IndexLock() { unlock_indexes(q_); }
    IndexLock(const IndexLock &) = delete;
    IndexLock &operator=(const IndexLock &) = delete;

private:
    bx_queue q_;
};

// --- Entry files -------------------------------------------------------------

// Index number recorded for a key, or -1 when there is none.
int search_db_by_invoice(bx_queue q, const char *pkey) {
    Path entry;
    if (!build_dbentry_filename(q, pkey, entry)) return -1;
    Fd fd(qor_fdlib_open(entry.c_str(), kOpenExisting, kFileMode));
    if (!fd.ok()) return -1;
    int v = read_index_from_fd(fd.get());
    return v > 0 ? v : -1;
}

int write_db_invoice(bx_queue q, const char *pkey, int indexno) {
    Path entry;
    if (!build_dbentry_filename(q, pkey, entry)) return -1;
    Fd fd(qor_fdlib_open(entry.c_str(), kOpenOrCreate, kFileMode));
    if (!fd.ok()) return -1;
    return put_index_to_fd(fd.get(), indexno);
}

// Removes an item's file and its lock file; results are ignored.
void remove_item_files(bx_queue q, uint32_t indexno) {
    Path item, lock;
    if (!build_item_filename(q, indexno, item)) return;
    qor_fdlib_unlink(item.c_str());
    if (buildlock(q, item, lock)) qor_fdlib_unlink(lock.c_str());
}

// Gives out the next index number by recording it in ".index".  Called
// with the index locks held.  -1 when the numbers are used up.
int insert_new_index(bx_queue q) {
    int max = get_maxindex(q);
    if (max < 0) max = 0;
    if (max == INT_MAX) {
        qor_logf(QOR_LOG_NONFATAL, "Queue '%s' has no index number left", q->qname);
        return -1;
    }
    int indexno = max + 1;
    if (put_index_to_fd(q->qdmaxindexfd, indexno) < 0)
        qor_log_errf(QOR_LOG_NONFATAL, "Max index %d of queue '%s' cannot be written", indexno,
                     q->qname);
    return indexno;
}

// Points the key's entry file at the item just written, then removes the
// item the key named before.  The old item goes only once the new one is
// on disk and named by the entry, so an update interrupted at any point
// (a crash, a full disk) leaves one whole version of the record on disk.
// False when the entry could not be written: the key then names its old
// item again, if it had one.  Called with the index locks held.
bool repoint_entry(bx_queue q, const char *pkey, int indexno) {
    int old = search_db_by_invoice(q, pkey);
    if (write_db_invoice(q, pkey, indexno) < 0) {
        qor_logf(QOR_LOG_NONFATAL, "db entry %s (%d) cannot be written", pkey, indexno);
        if (old > 0) write_db_invoice(q, pkey, old);
        return false;
    }
    if (old > 0 && old != indexno) remove_item_files(q, static_cast<uint32_t>(old));
    return true;
}

// --- Item files --------------------------------------------------------------

// Writes all of buf, going on after partial writes.  False (errno set) when
// the file takes no more.
bool write_all(int fd, const char *buf, size_t len) {
    while (len > 0) {
        ssize_t n = qor_fdlib_write(fd, buf, len);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            return false;
        }
        buf += n;
        len -= static_cast<size_t>(n);
    }
    return true;
}

// Key line, size line, data, then a flush to disk.
bool write_item(int fd, const char *key, const char *data, int size) {
    char head[kLineSize + 16];
    int len = snprintf(head, sizeof head, "%s\n%d\n", key, size);
    return write_all(fd, head, static_cast<size_t>(len)) &&
           write_all(fd, data, static_cast<size_t>(size)) && qor_fdlib_fsync(fd) == 0;
}

// Writes the item into the file fd holds and closes it.  A torn item file
// would be taken for a whole one, so on failure it is logged as op's and
// removed.
bool write_item_file(Fd &fd, const Path &fname, const char *op, const char *key, const char *data,
                     int size) {
    bool ok = write_item(fd.get(), key, data, size);
    if (!ok) qor_log_errf(QOR_LOG_FATAL, "%s: Could not write spool file '%s'", op, fname.c_str());
    fd.close();
    if (!ok) qor_fdlib_unlink(fname.c_str());
    return ok;
}

// The size line: decimal digits and a newline, within int.  -1 otherwise.
int size_value(const char *line) {
    long v = 0;
    const char *p = line;
    for (; *p >= '0' && *p <= '9'; p++) {
        v = v * 10 + (*p - '0');
        if (v > INT_MAX) return -1;
    }
    if (p == line || strcmp(p, "\n") != 0) return -1;
    return static_cast<int>(v);
}

enum class ReadResult { Ok, Short, Failed, NoMemory };

// Reads exactly size bytes into a new buffer of size + 1 bytes.  The buffer
// grows with the data actually read, so a size line that lies costs no
// more memory than the file holds.
ReadResult read_data(int fd, int size, char **out) {
    size_t want = static_cast<size_t>(size);
    size_t cap = std::min<size_t>(want, 65536);
    char *buf = static_cast<char *>(malloc(cap + 1));
    if (!buf) return ReadResult::NoMemory;
    size_t got = 0;
    while (got < want) {
        if (got == cap) {
            size_t grown = std::min(want, cap * 2);
            char *bigger = static_cast<char *>(realloc(buf, grown + 1));
            if (!bigger) {
                free(buf);
                return ReadResult::NoMemory;
            }
            buf = bigger;
            cap = grown;
        }
        ssize_t n = qor_fdlib_read(fd, buf + got, cap - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            free(buf);
            return n == 0 ? ReadResult::Short : ReadResult::Failed;
        }
        got += static_cast<size_t>(n);
    }
    buf[got] = '\0';
    *out = buf;
    return ReadResult::Ok;
}

void free_queue_item(bx_queue_item qi) {
    if (!qi) return;
    free(qi->primary_key);
    free(qi->fname);
    free(qi->lname);
    free(qi->buf);
    free(qi);
}

// The item lock: an exclusive waiting lock on the first byte of
// "<n>.lock", created on first use.  Held while the item file is read.
class ItemLock {
public:
    explicit ItemLock(const Path &lockname) { fd_ = lock_item_file(lockname); }
    ~ItemLock() { unlock_item_file(fd_); }
    ItemLock(const ItemLock &) = delete;
    ItemLock &operator=(const ItemLock &) = delete;

private:
    // Without the lock the item is read all the same.
    static int lock_item_file(const Path &lockname) {
        int fd = qor_fdlib_open(lockname.c_str(), kOpenOrCreate, kFileMode);
        if (fd < 0) return -1;
        if (qor_fdlib_lockfd(fd, QOR_FDLIB_EXCLUSIVE, QOR_FDLIB_WAIT) != 0) {
            qor_fdlib_close(fd);
            return -1;
        }
        return fd;
    }
    static void unlock_item_file(int lfd) {
        if (lfd < 0) return;
        qor_fdlib_unlockfd(lfd);
        qor_fdlib_close(lfd);
    }
    int fd_;
};

// Reads item <indexno>; called with the index locks held.  Null when there
// is no such file or it cannot be read whole.
bx_queue_item get_item_by_indexno(bx_queue q, uint32_t indexno) {
    Path fname, lname;
    if (!build_item_filename(q, indexno, fname) || !buildlock(q, fname, lname)) return nullptr;
    if (!qor_fdlib_fileexists(fname.c_str())) return nullptr;

    ItemLock lock(lname);
    // Reading needs no write access to the spool file.
    Fd fd(qor_fdlib_open(fname.c_str(), kReadOnly, 0));
    if (!fd.ok()) {
        qor_log_errf(QOR_LOG_FATAL, "Could not open spool file '%s' for reading", fname.c_str());
        return nullptr;
    }
    char key[kLineSize + 1];
    if (qor_fdlib_fdgets(key, kLineSize, fd.get()) != 0) return nullptr;
    if (!qor_util_chop(key)) {
        qor_logf(QOR_LOG_NONFATAL, "Bad key line in spool file '%s'", fname.c_str());
        return nullptr;
    }
    char sizeline[kLineSize + 1];
    if (qor_fdlib_fdgets(sizeline, kLineSize, fd.get()) != 0) return nullptr;
    int size = size_value(sizeline);
    if (size < 0) {
        qor_logf(QOR_LOG_NONFATAL, "Bad size line in spool file '%s'", fname.c_str());
        return nullptr;
    }
    char *data = nullptr;
    switch (read_data(fd.get(), size, &data)) {
    case ReadResult::Ok:
        break;
    case ReadResult::Short:
        qor_logf(QOR_LOG_NONFATAL, "Short spool file '%s'", fname.c_str());
        return nullptr;
    case ReadResult::Failed:
        qor_log_errf(QOR_LOG_NONFATAL, "Could not read spool file '%s'", fname.c_str());
        return nullptr;
    case ReadResult::NoMemory:
        qor_logf(QOR_LOG_NONFATAL, "No memory for spool file '%s' (%d bytes)", fname.c_str(), size);
        return nullptr;
    }
    auto *qi = static_cast<bx_queue_item>(calloc(1, sizeof(struct _bx_queue_item)));
    if (!qi) {
        free(data);
        return nullptr;
    }
    qi->buf = data;
    qi->size = size;
    qi->indexno = indexno;
    qi->fname = qor_util_strdup(fname.c_str());
    qi->lname = qor_util_strdup(lname.c_str());
    qi->primary_key = qor_util_strdup(key);
    if (!qi->fname || !qi->lname || !qi->primary_key) {
        free_queue_item(qi);
        return nullptr;
    }
    return qi;
}

bx_queue_item get_item_by_invoice(bx_queue q, const char *invoice) {
    IndexLock lock(q, QOR_FDLIB_SHARED);
    int indexno = search_db_by_invoice(q, invoice);
    if (indexno <= 0) return nullptr;
    return get_item_by_indexno(q, static_cast<uint32_t>(indexno));
}

bool item_exists(bx_queue q, uint32_t indexno, bool *exists) {
    Path item;
    if (!build_item_filename(q, indexno, item)) return false;
    *exists = qor_fdlib_fileexists(item.c_str()) == 1;
    return true;
}

// Counts the item files from the first to the max index, stopping at
// limit (limit < 0: no limit).  Index numbers compare as unsigned 32-bit
// values, so an unreadable first index (-1) ends the walk at once; an
// unreadable max index means there is nothing to walk.
int count_items(bx_queue q, int limit) {
    IndexLock lock(q, QOR_FDLIB_SHARED);
    int first = get_firstindex(q);
    int max = get_maxindex(q);
    int count = 0;
    if (max < 0) return 0;
    for (uint64_t n = static_cast<uint32_t>(first); n <= static_cast<uint32_t>(max); n++) {
        if (limit >= 0 && count >= limit) break;
        bool exists;
        if (!item_exists(q, static_cast<uint32_t>(n), &exists)) break;
        if (exists) count++;
    }
    return count;
}

// An operation called on a queue the session could not open.
void no_queue(const char *operation) { qor_logf(QOR_LOG_NONFATAL, "%s: no queue", operation); }

// Rebuild findings go to standard output, at once.
void say(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
void say(const char *fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    vprintf(fmt, ap);
    va_end(ap);
    fflush(stdout);
}

// --- Creating a queue ------------------------------------------------------

int initfile(const char *dirname, const char *filename, int init_value) {
    Text path(buildpath(dirname, filename));
    if (!path) return -6;
    Fd fd(qor_fdlib_open(path.get(), kOpenOrCreate, kFileMode));
    if (!fd.ok()) return -6;
    put_index_to_fd(fd.get(), init_value);
    return 0;
}

// Makes the queue directory with ".index" and ".head" at 1.  1 when the
// directory is there afterwards, 0 when it is not, -1 when it could not be
// made.
int createspooldir(const char *dirname, const char *qname) {
    (void)qname;
    qor_logf(QOR_LOG_INFO, "Creating spooldir '%s'.", dirname);
    if (qor_fdlib_mkdir(dirname, kDirMode) != 0) {
        int err = errno;
        // Another process opening the same queue made it first.
        if (err == EEXIST && qor_fdlib_checkdir(dirname)) return 1;
        errno = err;
        qor_log_errf(QOR_LOG_FATAL, "Could not create spool '%s'.", dirname);
        return -1;
    }
    initfile(dirname, ".index", 1);
    initfile(dirname, ".head", 1);
    int isdir = qor_fdlib_checkdir(dirname);
    if (!isdir) qor_log_err(QOR_LOG_FATAL, dirname);
    return isdir;
}

int opendirindex(const char *indexname) {
    int fd = qor_fdlib_open(indexname, kOpenOrCreate, kFileMode);
    if (fd < 0)
        qor_log_err(QOR_LOG_FATAL, indexname);
    else
        qor_fdlib_fsync(fd);
    return fd;
}

}  // namespace

extern "C" {

// --- Index value files -----------------------------------------------------

int read_index_from_fd(int fd) {
    int v;
    return read_index(fd, &v) ? v : -1;
}

int put_index_to_fd(int fd, int count) {
    char text[16];
    int len = snprintf(text, sizeof text, "%d\n", count);
    if (qor_fdlib_fdrewind(fd) == -1 || qor_fdlib_ftruncate(fd, 0) != 0) return -1;
    ssize_t wrote = qor_fdlib_write(fd, text, static_cast<size_t>(len));
    if (wrote != len) return -1;
    qor_fdlib_fdrewind(fd);
    if (qor_fdlib_fsync(fd) != 0) return -1;
    return static_cast<int>(wrote);
}

// --- Queue ---------------------------------------------------------------------

bx_queue bx_queue_open(const char *qname, int flags, const char *spooldir) {
    (void)flags;
    Text dir(qname && spooldir ? buildpath(spooldir, qname) : nullptr);
    if (!dir) {
        qor_logf(QOR_LOG_FATAL, "Could not build spool dir for '%s'", qname ? qname : "");
        return nullptr;
    }
    if (!qor_fdlib_checkdir(dir.get()) && createspooldir(dir.get(), qname) == 0)
        qor_log_errf(QOR_LOG_FATAL, "bx_queue_open(%s/%s)", dir.get(), qname);

    Text ipath(buildpath(dir.get(), ".index"));
    Text hpath(buildpath(dir.get(), ".head"));
    Text lpath(buildpath(dir.get(), ".lock"));
    Text dpath(buildpath(dir.get(), ".dblock"));
    if (!ipath || !hpath || !lpath || !dpath) return nullptr;

    // Each descriptor is closed again if a later step fails.
    Fd ifd(opendirindex(ipath.get()));
    if (!ifd.ok()) return nullptr;
    Fd hfd(opendirindex(hpath.get()));
    if (!hfd.ok()) return nullptr;
    Fd lfd(qor_fdlib_createlockfile(lpath.get()));
    if (!lfd.ok()) return nullptr;
    Fd dfd(qor_fdlib_createlockfile(dpath.get()));
    if (!dfd.ok()) return nullptr;

    auto *q = static_cast<bx_queue>(calloc(1, sizeof(struct _bx_queue)));
    if (!q) return nullptr;
    q->qname = qor_util_strdup(qname);
    if (!q->qname) {
        free(q);
        return nullptr;
    }
    q->qdpath = dir.release();
    q->qdmipath = ipath.release();
    q->qdfipath = hpath.release();
    q->qdmaxindexfd = ifd.release();
    q->qdfirstindexfd = hfd.release();
    q->lockfd = lfd.release();
    q->dblockfd = dfd.release();
    return q;
}

int bx_queue_close(bx_queue q, int flags) {
    (void)flags;
    if (!q) return 0;
    free(q->qname);
    free(q->qdpath);
    free(q->qdmipath);
    free(q->qdfipath);
    // Closing ends every record lock this process holds on these files.
    const int fds[] = {q->qdmaxindexfd, q->qdfirstindexfd, q->lockfd, q->dblockfd};
    for (int fd : fds)
        if (fd >= 0) qor_fdlib_close(fd);
    free(q);
    return 0;
}

int bx_queue_lockqueue(bx_queue q) {
    if (!q) return -1;
    return qor_fdlib_lockfd(q->lockfd, QOR_FDLIB_EXCLUSIVE, QOR_FDLIB_WAIT) == 0 ? 0 : -1;
}

int bx_queue_unlockqueue(bx_queue q) {
    if (!q) return -1;
    return qor_fdlib_unlockfd(q->lockfd);
}

int bx_queue_count(bx_queue qid) {
    if (!qid) {
        no_queue("bx_queue_count");
        return 0;
    }
    return count_items(qid, -1);
}

int bx_queue_count_limited(bx_queue qid, int limit) {
    if (!qid) {
        no_queue("bx_queue_count_limited");
        return 0;
    }
    if (limit <= 0) return 0;
    return count_items(qid, limit);
}

const char *bx_queue_error(int error) {
    static const struct {
        int code;
        const char *text;
    } kTexts[] = {
        {-2, "Generic queueing error"},
        {-1, "Function unimplemented"},
    };
    for (const auto &t : kTexts)
        if (t.code == error) return t.text;
    return "Unknown error";
}

int bx_queue_sanitize(bx_queue qid) {
    if (!qid) {
        say("queue_sanitize: cannot open queue at all!\n");
        return -1;
    }
    IndexLock lock(qid, QOR_FDLIB_EXCLUSIVE);
    int failures = 0;

    // Every entry file goes; they are written again from the items.
    qor_dirlist *ls = nullptr;
    if (qor_fdlib_dirlist(qid->qdpath, &ls) != 0) return -1;
    for (int i = 0; i < ls->num; i++) {
        if (strncmp(ls->entries[i], "i_", 2) != 0) continue;
        Path entry;
        if (entry.format("%s/%s", qid->qdpath, ls->entries[i]))
            qor_fdlib_unlink(entry.c_str());
        else
            failures += !too_long(qid, ls->entries[i]);
    }
    qor_fdlib_dirlist_free(ls);

    // Item files carry canonical decimal names: "12", not "012" or
    // "12.lock".  Ascending order lets the newest of two items left under
    // one key by an interrupted replacement own the entry file.
    if (qor_fdlib_dirlist(qid->qdpath, &ls) != 0) return -1;
    std::vector<uint32_t> numbers;
    try {
        for (int i = 0; i < ls->num; i++) {
            const char *name = ls->entries[i];
            size_t len = strlen(name);
            if (len == 0 || len > 10 || name[0] == '0' || strspn(name, "0123456789") != len)
                continue;
            unsigned long long v = strtoull(name, nullptr, 10);
            if (v <= INT_MAX) numbers.push_back(static_cast<uint32_t>(v));
        }
    } catch (const std::bad_alloc &) {
        qor_fdlib_dirlist_free(ls);
        return -1;
    }
    qor_fdlib_dirlist_free(ls);
    std::sort(numbers.begin(), numbers.end());

    for (uint32_t n : numbers) {
        bool exists;
        if (!item_exists(qid, n, &exists)) {
            failures++;
            continue;
        }
        if (!exists) continue;
        bx_queue_item qi = get_item_by_indexno(qid, n);
        if (!qi) {
            failures++;
            say("queue_sanitize: unreadable transaction! (%s, #%ld)\n", qid->qname,
                static_cast<long>(n));
            continue;
        }
        if (write_db_invoice(qid, qi->primary_key, static_cast<int>(n)) < 0) {
            failures++;
            qor_logf(QOR_LOG_NONFATAL, "db entry %s (%d) cannot be written", qi->primary_key,
                     static_cast<int>(n));
        }
        free_queue_item(qi);
    }

    int largest = numbers.empty() ? 0 : static_cast<int>(numbers.back());
    int smallest = numbers.empty() ? 0 : static_cast<int>(numbers.front());
    if (put_index_to_fd(qid->qdmaxindexfd, largest) <= 0) {
        failures++;
        say("queue_sanitize: cannot write .index! (%s)\n", qid->qname);
    }
    if (put_index_to_fd(qid->qdfirstindexfd, smallest) <= 0) {
        failures++;
        say("queue_sanitize: cannot write .head! (%s)\n", qid->qname);
    }
    return failures ? -1 : 0;
}

// --- Items -----------------------------------------------------------------

int bx_queue_put(bx_queue qid, const char *outbuf, int size, const char *pkey) {
    if (!qid) {
        no_queue("bx_queue_put");
        return -5;
    }
    if (!storable("bx_queue_put", outbuf, size, pkey)) return -5;
    IndexLock lock(qid, QOR_FDLIB_EXCLUSIVE);
    char made[24];
    if (!pkey) {
        long long max = get_maxindex(qid);
        snprintf(made, sizeof made, "%08lld", (max < 0 ? 0 : max) + 1);
        pkey = made;
    }
    int indexno = insert_new_index(qid);
    if (indexno < 0) return -5;

    // The new item is written and flushed before anything names it.
    Path fname;
    if (!build_item_filename(qid, static_cast<uint32_t>(indexno), fname)) return -5;
    Fd fd(qor_fdlib_open(fname.c_str(), kCreateNew, kFileMode));
    if (!fd.ok()) {
        qor_log_errf(QOR_LOG_FATAL, "bx_queue_put: Could not build spool file for '%s'",
                     fname.c_str());
        return -5;
    }
    if (!write_item_file(fd, fname, "bx_queue_put", pkey, outbuf, size)) return -5;
    // An item its key does not find is not stored.
    if (!repoint_entry(qid, pkey, indexno)) {
        qor_fdlib_unlink(fname.c_str());
        return -5;
    }
    return indexno;
}

int bx_queue_change(bx_queue qid, const char *outbuf, int size, const char *pkey) {
    if (!qid) {
        no_queue("bx_queue_change");
        return -5;
    }
    if (!pkey) return 0;
    if (!storable("bx_queue_change", outbuf, size, pkey)) return -5;
    IndexLock lock(qid, QOR_FDLIB_EXCLUSIVE);
    int indexno = search_db_by_invoice(qid, pkey);
    if (indexno <= 0) return 0;
    Path fname;
    if (!build_item_filename(qid, static_cast<uint32_t>(indexno), fname)) return -5;
    Fd fd(qor_fdlib_open(fname.c_str(), kRewriteExisting, kFileMode));
    if (!fd.ok()) {
        qor_log_errf(QOR_LOG_FATAL, "bx_queue_change: Could not build spool file for '%s'",
                     fname.c_str());
        return -5;
    }
    if (!write_item_file(fd, fname, "bx_queue_change", pkey, outbuf, size)) return -5;
    return indexno;
}

int bx_queue_retrieve(bx_queue qid, bx_queue_item item_id, char *buf, int maxsize) {
    if (!qid || !item_id || !buf) return -4;
    if (maxsize < item_id->size) return -3;
    if (item_id->size > 0) memcpy(buf, item_id->buf, static_cast<size_t>(item_id->size));
    return item_id->size;
}

bx_queue_item bx_queue_find_item(bx_queue qid, const char *context) {
    if (!qid) {
        no_queue("bx_queue_find_item");
        return nullptr;
    }
    char key[9];
    bx_invoice_key(context, key);
    bx_queue_item qi = get_item_by_invoice(qid, key);
    // Records stored by hand under the bare key "id" are still found.
    if (!qi && strcmp(key, "IDXXXXXX") == 0) qi = get_item_by_invoice(qid, "id");
    return qi;
}

bx_queue_item bx_queue_nth_item(bx_queue qid, unsigned int n) {
    if (!qid) {
        no_queue("bx_queue_nth_item");
        return nullptr;
    }
    IndexLock lock(qid, QOR_FDLIB_SHARED);
    int first = get_firstindex(qid);
    int max = get_maxindex(qid);
    if (n == 0 || max < 0) return nullptr;
    unsigned int seen = 0;
    uint64_t at = static_cast<uint32_t>(first);
    for (; at <= static_cast<uint32_t>(max); at++) {
        bool exists;
        if (!item_exists(qid, static_cast<uint32_t>(at), &exists)) return nullptr;
        if (exists && ++seen == n) break;
    }
    if (seen != n) return nullptr;
    return get_item_by_indexno(qid, static_cast<uint32_t>(at));
}

int bx_queue_item_delete(bx_queue qid, bx_queue_item qi) {
    if (!qid) {
        no_queue("bx_queue_item_delete");
        free_queue_item(qi);
        return -1;
    }
    if (!qi) {
        qor_log(QOR_LOG_NONFATAL, "bx_queue_item_delete: no item");
        return -1;
    }
    IndexLock lock(qid, QOR_FDLIB_EXCLUSIVE);
    int max = get_maxindex(qid);
    int first = get_firstindex(qid);
    // The new ".head" is the lowest item still on disk below max, looked
    // for before this item's files go, so deleting the oldest item leaves
    // ".head" on it until a later deletion.  With an unreadable index value
    // ".head" stays as it is rather than skip items.
    if (max >= 0 && first >= 0) {
        uint32_t head = static_cast<uint32_t>(max);
        bool searched = true;
        for (uint32_t n = static_cast<uint32_t>(first); n < static_cast<uint32_t>(max); n++) {
            bool exists;
            if (!item_exists(qid, n, &exists)) {
                searched = false;
                break;
            }
            if (exists) {
                head = n;
                break;
            }
        }
        if (searched) put_index_to_fd(qid->qdfirstindexfd, static_cast<int>(head));
    }
    // The entry goes only while it still names this item: a newer item
    // stored under the same key keeps its entry.
    Path entry;
    if (qi->primary_key && build_dbentry_filename(qid, qi->primary_key, entry)) {
        int named = search_db_by_invoice(qid, qi->primary_key);
        if (named < 0 || static_cast<uint32_t>(named) == qi->indexno)
            qor_fdlib_unlink(entry.c_str());
    }
    if (qi->fname) qor_fdlib_unlink(qi->fname);
    if (qi->lname) qor_fdlib_unlink(qi->lname);
    free_queue_item(qi);
    return 0;
}

int bx_queue_item_close(bx_queue qid, bx_queue_item qi) {
    (void)qid;
    free_queue_item(qi);
    return 0;
}

}  // extern "C"
