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
// logged, and a failing operation leaves the queue as it was.  A failed
// index lock fails the operation.  The rebuild prints its own findings on
// standard output.
//
// Order of writes, so that a crash or a power loss at any instant leaves
// every acknowledged item whole and findable:
//   put     ".index" = n (flushed); the item written and flushed under its
//           journal name "p.<queue>.<n>.<old>"; linked in as "<n>"; the
//           entry pointed at n (flushed); the queue directory flushed; the
//           key's old item removed and the directory flushed again; the
//           journal name removed.  Until then the journal record tells the
//           next session what to finish (bx_spool_recover).
//   delete  ".head" moved; the item removed, then its lock file, then its
//           entry; the directory flushed.  An item is never left without
//           its entry while it is still there: a failed delete leaves a
//           visible item, never a ghost.
#include "queue/bx_queue.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "queue/bx_queue_files.h"
#include "queue/qor_fdlib_inline.h"
#include "support/qor_log.h"
#include "support/qor_util.h"
#include "xaction/bx_etc.h"

namespace bxq {

namespace {

// Bytes an entry file name carries as they are; any other is escaped.
constexpr bool plain_key_byte(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-' ||
           c == '+';
}

// Gives put() each character of the key in the entry escape: plain bytes
// as they are, any other as "%XX".  False when put() refuses one.
template <typename Put>
bool escape_each(std::string_view key, Put put) {
    static const char kHex[] = "0123456789ABCDEF";
    for (unsigned char c : key) {
        bool ok = plain_key_byte(c) ? put(static_cast<char>(c))
                                    : put('%') && put(kHex[c >> 4]) && put(kHex[c & 0xF]);
        if (!ok) return false;
    }
    return true;
}

constexpr mode_t kDirMode = 0700;
constexpr mode_t kFileMode = 0600;
constexpr int kOpenExisting = QOR_FDLIB_RDWR;                      // 2
constexpr int kOpenOrCreate = QOR_FDLIB_CREATE | QOR_FDLIB_RDWR;   // 3
constexpr int kCreateNew = kOpenOrCreate | QOR_FDLIB_EXCL;         // 7
constexpr int kReadOnly = 0;
constexpr char kQuarantineDir[] = "quarantine";
// The key of the invoice "id" (and of every invoice that keys alike):
// records stored by hand under the bare key "id" are found through it.
constexpr char kBareIdKey[] = "IDXXXXXX";
// Tries at giving a put a number that is not taken on disk.
constexpr int kNumberTries = 8;

struct FreeText {
    void operator()(char *p) const { free(p); }
};
using Text = std::unique_ptr<char, FreeText>;

// A file name inside a queue directory, built in a fixed buffer.  The full
// path (queue directory, "/", name) must fit kPathSize: a longer one is
// refused, never cut, since a cut name would be another file.
class Name {
public:
    // Only the first byte is set: a name is built whole before it is read,
    // and a sale builds some fifty names, each in a path-sized buffer.
    Name() { buf_[0] = '\0'; }
    // n in decimal, then `suffix`.
    bool number(bx_queue q, uint32_t n, const char *suffix) {
        auto [end, ec] = std::to_chars(buf_, buf_ + 16, n);
        (void)ec;
        size_t len = static_cast<size_t>(end - buf_), slen = strlen(suffix);
        memcpy(end, suffix, slen + 1);
        return fits(q, len + slen);
    }
    // "i_" and the key in the entry escape.
    bool entry(bx_queue q, const char *key) {
        size_t len = 2;
        memcpy(buf_, "i_", 2);
        bool room = escape_each(key, [&](char c) {
            if (len + 1 >= sizeof buf_) return false;
            buf_[len++] = c;
            return true;
        });
        buf_[len] = '\0';
        if (!room) return fail();
        return fits(q, len);
    }
    const char *c_str() const { return buf_; }
    // The full path, for messages.
    std::string path(bx_queue q) const { return std::string(q->qdpath) + "/" + buf_; }
    // The full path in new memory (null when there is none), for records.
    char *full_path(bx_queue q) const {
        size_t dir = q->qdpathlen, name = strlen(buf_);
        char *p = static_cast<char *>(malloc(dir + 1 + name + 1));
        if (!p) return nullptr;
        memcpy(p, q->qdpath, dir);
        p[dir] = '/';
        memcpy(p + dir + 1, buf_, name + 1);
        return p;
    }

private:
    bool fits(bx_queue q, size_t len) {
        if (len < sizeof buf_ && q->qdpathlen + 1 + len < kPathSize) return true;
        return fail();
    }
    bool fail() {
        errno = ENAMETOOLONG;
        return false;
    }
    char buf_[kPathSize];
};

bool too_long(bx_queue q, const char *what) {
    qor_logf(QOR_LOG_NONFATAL, "Path of '%s' in spool '%s' is too long", what, q->qdpath);
    errno = ENAMETOOLONG;
    return false;
}

bool item_name(bx_queue q, uint32_t n, Name &out) {
    if (out.number(q, n, "")) return true;
    char what[16];
    snprintf(what, sizeof what, "%u", n);
    return too_long(q, what);
}

bool lock_name(bx_queue q, uint32_t n, Name &out) {
    if (out.number(q, n, ".lock")) return true;
    char what[24];
    snprintf(what, sizeof what, "%u.lock", n);
    return too_long(q, what);
}

bool entry_name(bx_queue q, const char *key, Name &out) {
    if (out.entry(q, key)) return true;
    return too_long(q, key);
}

// "%s/%s", allocated to exact size; null when memory cannot be had.
char *buildpath(const char *spooldir, const char *qname) {
    size_t len = strlen(spooldir) + 1 + strlen(qname) + 1;
    char *path = static_cast<char *>(malloc(len));
    if (path) snprintf(path, len, "%s/%s", spooldir, qname);
    return path;
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

// Sets the queue's error of the operation and returns the failure value.
template <typename T>
T failed(bx_queue q, T value) {
    q->lasterr = errno ? errno : EIO;
    return value;
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

// Whole writes of up to two pieces: a short write is retried for the rest.
// One piece goes by a plain write.
bool write_all_at(int fd, const struct iovec *iov, int cnt, off_t at) {
    struct iovec left[2];
    int k = std::min(cnt, 2);
    std::copy(iov, iov + k, left);
    int i = 0;
    while (i < k) {
        ssize_t n = k - i == 1 ? qor_fdlib::pwrite(fd, left[i].iov_base, left[i].iov_len, at)
                               : qor_fdlib::pwritev(fd, left + i, k - i, at);
        if (n < 0) return false;
        if (n == 0) {
            errno = ENOSPC;
            return false;
        }
        at += n;
        auto done = static_cast<size_t>(n);
        while (i < k && done >= left[i].iov_len) done -= left[i++].iov_len;
        if (i < k) {
            left[i].iov_base = static_cast<char *>(left[i].iov_base) + done;
            left[i].iov_len -= done;
        }
    }
    return true;
}

// Writes an item file's contents (key line, size line, data) into fd and
// flushes it to disk.  Data of up to kWholeData bytes (every packed
// transaction) goes in one plain write with the two lines; longer data is
// written from where it lies, as a second piece of the same write.
constexpr size_t kHeadSize = kLineSize + 16;  // the key line and the size line
constexpr size_t kWholeData = 4096;
bool write_item(int fd, const char *key, const char *data, int size) {
    char file[kHeadSize + kWholeData];
    size_t klen = strnlen(key, kMaxKey);
    memcpy(file, key, klen);
    file[klen] = '\n';
    char *end = std::to_chars(file + klen + 1, file + kHeadSize - 1, size).ptr;
    *end++ = '\n';
    auto dlen = static_cast<size_t>(size);
    struct iovec iov[2] = {{file, static_cast<size_t>(end - file)}, {const_cast<char *>(data), dlen}};
    int pieces = 2;
    if (dlen <= kWholeData) {
        if (dlen > 0) memcpy(end, data, dlen);
        iov[0].iov_len += dlen;
        pieces = 1;
    }
    return write_all_at(fd, iov, pieces, 0) && qor_fdlib::fsync(fd) == 0;
}

// A journal record's name is given up once the change it records is over;
// failing to remove it only leaves work for the recovery.
void drop_record(bx_queue q, const char *name) {
    if (qor_fdlib::unlinkat(q->journalfd, name, 0) != 0 && errno != ENOENT)
        qor_log_errf(QOR_LOG_WARNING, "Could not remove journal record '%s'", name);
}

// An index value file as read: its value (0 when it holds none), whether
// it held one, and its length (-1 when it is longer than a value line).
struct IndexValue {
    int value = 0;
    bool valid = false;
    ssize_t length = -1;
};

// Reads an index value file in one call under a shared lock on its first
// byte.  False when the lock could not be had or the file could not be
// read.  An empty or malformed file reads as 0.  The release at the end
// ends every lock this process holds on the file, including one taken by
// lock_indexes.
bool read_index(int fd, IndexValue *iv, bool empty_is_new = false) {
    if (qor_fdlib::lockfd(fd, QOR_FDLIB_SHARED, QOR_FDLIB_WAIT) != 0) return false;
    char buf[kLineSize];
    ssize_t n = qor_fdlib::pread(fd, buf, sizeof buf, 0);
    if (n < 0) {
        int err = errno;
        qor_fdlib::unlockfd(fd);
        errno = err;
        return false;
    }
    *iv = {};
    iv->valid = n > 0 && parse_index(buf, static_cast<size_t>(n), &iv->value);
    if (n >= 0 && n < kLineSize) iv->length = n;
    if (!iv->valid) {
        if (n == 0) errno = 0;
        // A file just created to be written is empty: nothing to report.
        if (!(empty_is_new && n == 0)) qor_log_err(QOR_LOG_INFO, "Initializing queue count");
        iv->value = 0;
    }
    int err = errno;
    qor_fdlib::unlockfd(fd);
    errno = err;
    return true;
}

// Writes value into an index value file: the number and its newline in
// place, a flush, then the file cut to that length, unless it held no
// more than that (`had`: its length when known, else -1).
int write_index(int fd, int value, ssize_t had = -1) {
    char text[16];
    char *end = std::to_chars(text, text + sizeof text - 1, value).ptr;
    *end++ = '\n';
    int len = static_cast<int>(end - text);
    struct iovec iov = {text, static_cast<size_t>(len)};
    if (!write_all_at(fd, &iov, 1, 0) || qor_fdlib::fsync(fd) != 0) return -1;
    if ((had < 0 || had > len) && qor_fdlib_ftruncate(fd, len) != 0) return -1;
    return len;
}

// The new index number of a put: ".index" plus one, written to ".index".
// -1 when the max index cannot be read or written or is used up.
int insert_new_index(bx_queue q, int at_least) {
    ssize_t had;
    int max = read_maxindex(q, &had);
    if (max < 0) return -1;
    if (max < at_least) max = at_least;
    if (max == INT_MAX) {
        qor_logf(QOR_LOG_NONFATAL, "Queue '%s' has no index number left", q->qname);
        errno = EOVERFLOW;
        return -1;
    }
    int indexno = max + 1;
    if (write_index(q->qdmaxindexfd, indexno, had) < 0) {
        qor_log_errf(QOR_LOG_NONFATAL, "Max index %d of queue '%s' cannot be written", indexno,
                     q->qname);
        return -1;
    }
    return indexno;
}

// Reads a whole file through fd; large files grow the buffer.
bool read_whole_fd(int fd, std::string *out, char *stack, size_t stack_size) {
    ssize_t n = qor_fdlib::pread(fd, stack, stack_size, 0);
    if (n < 0) return false;
    try {
        out->assign(stack, static_cast<size_t>(n));
        while (static_cast<size_t>(n) == stack_size) {
            n = qor_fdlib::pread(fd, stack, stack_size, static_cast<off_t>(out->size()));
            if (n < 0) return false;
            out->append(stack, static_cast<size_t>(n));
        }
    } catch (const std::bad_alloc &) {
        errno = ENOMEM;
        return false;
    }
    return true;
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
// Without the lock the item is read all the same: item files are never
// written in place, so a read of an open item file is always whole.
class ItemLock {
public:
    ItemLock(bx_queue q, const Name &lockname) {
        fd_ = qor_fdlib::openat(q->qdirfd, lockname.c_str(), kOpenOrCreate, kFileMode);
        if (fd_ >= 0 && qor_fdlib::lockfd(fd_, QOR_FDLIB_EXCLUSIVE, QOR_FDLIB_WAIT) != 0) {
            qor_fdlib::close(fd_);
            fd_ = -1;
        }
    }
    ~ItemLock() {
        if (fd_ < 0) return;
        qor_fdlib::unlockfd(fd_);
        qor_fdlib::close(fd_);
    }
    ItemLock(const ItemLock &) = delete;
    ItemLock &operator=(const ItemLock &) = delete;

private:
    int fd_;
};

bx_queue_item new_item(bx_queue q, uint32_t n, const Name &item, const Name &lock,
                       const ParsedItem &p) {
    auto *qi = static_cast<bx_queue_item>(calloc(1, sizeof(struct _bx_queue_item)));
    if (!qi) return nullptr;
    qi->indexno = n;
    qi->size = p.size;
    qi->buf = static_cast<char *>(malloc(static_cast<size_t>(p.size) + 1));
    qi->fname = item.full_path(q);
    qi->lname = lock.full_path(q);
    qi->primary_key = static_cast<char *>(malloc(p.key.size() + 1));
    if (!qi->buf || !qi->fname || !qi->lname || !qi->primary_key) {
        free_queue_item(qi);
        errno = ENOMEM;
        return nullptr;
    }
    memcpy(qi->buf, p.data.data(), p.data.size());
    qi->buf[p.size] = '\0';
    memcpy(qi->primary_key, p.key.data(), p.key.size());
    qi->primary_key[p.key.size()] = '\0';
    return qi;
}

// Numbers of a span tested one by one before the directory is listed.
constexpr uint64_t kShortWalk = 32;

// Visits the item numbers present from first to last (unsigned,
// inclusive), lowest first, until visit(n) returns false.  A short span is
// tested number by number; the rest of a longer one is taken from one
// listing of the directory, so that the cost follows the items present and
// not every number a queue ever gave out (each update of a transaction
// takes a new one).  False when the queue could not be read.
template <typename Visit>
bool walk_items(bx_queue q, uint32_t first, uint32_t last, Visit visit) {
    uint64_t n = first;
    for (; n <= last && n < uint64_t{first} + kShortWalk; n++) {
        int present = item_present(q, static_cast<uint32_t>(n));
        if (present < 0) return false;
        if (present && !visit(static_cast<uint32_t>(n))) return true;
    }
    if (n > last) return true;
    std::vector<std::string> names;
    if (!list_names(q->qdpath, &names)) return false;
    std::vector<uint32_t> numbers;
    for (const std::string &name : names) {
        uint32_t v;
        if (item_number(name, &v) && v >= n && v <= last) numbers.push_back(v);
    }
    std::sort(numbers.begin(), numbers.end());
    for (uint32_t v : numbers)
        if (!visit(v)) break;
    return true;
}

// walk_items over the whole queue, from ".head" to ".index", under the
// shared index locks.  Index numbers compare as unsigned 32-bit values.
// False (lasterr set) when the queue could not be read.
template <typename Visit>
bool walk_present(bx_queue q, Visit visit) {
    q->lasterr = 0;
    IndexLock lock(q, QOR_FDLIB_SHARED);
    if (!lock.held()) return failed(q, false);
    int first = get_firstindex(q);
    int max = get_maxindex(q);
    if (first < 0 || max < 0) return failed(q, false);
    return walk_items(q, static_cast<uint32_t>(first), static_cast<uint32_t>(max), visit) || failed(q, false);
}

// Counts the items present, stopping at limit (limit <= 0: no limit;
// bx_queue_count_limited answers a limit of 0 itself).  -1 when the queue
// cannot be counted.
int count_items(bx_queue q, int limit) {
    int count = 0;
    bool walked = walk_present(q, [&](uint32_t) { return ++count != limit; });
    return walked ? count : -1;
}

// A key without an entry file is absent, and that is told by one failed
// open, without the index locks: the open sees the directory either before
// or after any put or delete, as a lookup under the locks would.  Only a
// key that has an entry is read under them.
bx_queue_item get_item_by_invoice(bx_queue q, const char *invoice) {
    Name name;
    if (!entry_name(q, invoice, name)) return failed(q, nullptr);
    Fd fd(qor_fdlib::openat(q->qdirfd, name.c_str(), kReadOnly, 0));
    if (!fd.ok()) return errno == ENOENT ? nullptr : failed(q, nullptr);
    IndexLock lock(q, QOR_FDLIB_SHARED);
    if (!lock.held()) return failed(q, nullptr);
    IndexValue iv;
    if (!read_index(fd.get(), &iv)) return failed(q, nullptr);
    int indexno = iv.valid && iv.value > 0 ? iv.value : 0;
    if (indexno == 0) return nullptr;
    errno = 0;
    bx_queue_item qi = read_item(q, static_cast<uint32_t>(indexno));
    if (!qi && errno) return failed(q, nullptr);
    return qi;
}

// --- Creating a queue ------------------------------------------------------

int initfile(const char *dirname, const char *filename, int init_value) {
    Text path(buildpath(dirname, filename));
    if (!path) return -6;
    Fd fd(qor_fdlib_open(path.get(), kOpenOrCreate, kFileMode));
    if (!fd.ok()) return -6;
    return write_index(fd.get(), init_value) < 0 ? -6 : 0;
}

// Makes the queue directory with ".index" and ".head" at 1.  1 when the
// directory is there afterwards, 0 when it is not, -1 when it could not be
// made.  The new directory and its name in the spool are flushed.
int createspooldir(const char *dirname, const char *spooldir) {
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
    qor_fdlib_syncdir(dirname);
    qor_fdlib_syncdir(spooldir);
    int isdir = qor_fdlib_checkdir(dirname);
    if (!isdir) qor_log_err(QOR_LOG_FATAL, dirname);
    return isdir;
}

int opendirindex(const char *indexname) {
    int fd = qor_fdlib_open(indexname, kOpenOrCreate, kFileMode);
    if (fd < 0)
        qor_log_err(QOR_LOG_FATAL, indexname);
    else
        qor_fdlib::fsync(fd);
    return fd;
}

// Opens (making it when missing) a directory of the spool beside the
// queues; -1 with errno set when it cannot be had.
int open_spool_subdir(const char *spooldir, const char *name) {
    Fd spool(qor_fdlib_open(spooldir, kReadOnly, 0));
    if (!spool.ok()) return -1;
    int fd = qor_fdlib_opendirfd(spool.get(), name);
    if (fd >= 0 || errno != ENOENT) return fd;
    if (qor_fdlib_mkdirat(spool.get(), name, kDirMode) != 0 && errno != EEXIST) return -1;
    qor_fdlib::fsync(spool.get());
    return qor_fdlib_opendirfd(spool.get(), name);
}

}  // namespace

// --- Forms ---------------------------------------------------------------------

ItemForm parse_item(const char *bytes, size_t len, ParsedItem *out) {
    *out = {};
    const char *end = bytes + len;
    const char *nl = static_cast<const char *>(memchr(bytes, '\n', std::min<size_t>(len, kLineSize)));
    if (!nl) return ItemForm::no_key;
    out->key = std::string_view(bytes, static_cast<size_t>(nl - bytes));
    const char *line = nl + 1;
    size_t left = static_cast<size_t>(end - line);
    const char *nl2 = static_cast<const char *>(memchr(line, '\n', std::min<size_t>(left, kLineSize)));
    if (!nl2) return ItemForm::no_size;
    long v = 0;
    const char *p = line;
    for (; p < nl2 && *p >= '0' && *p <= '9'; p++) {
        v = v * 10 + (*p - '0');
        if (v > INT_MAX) return ItemForm::bad_size;
    }
    if (p == line || p != nl2) return ItemForm::bad_size;
    out->size = static_cast<int>(v);
    const char *data = nl2 + 1;
    size_t have = static_cast<size_t>(end - data);
    if (have < static_cast<size_t>(v)) {
        out->data = std::string_view(data, have);
        return ItemForm::short_data;
    }
    out->data = std::string_view(data, static_cast<size_t>(v));
    out->extra = have - static_cast<size_t>(v);
    return ItemForm::whole;
}

const char *item_form_text(ItemForm form) {
    static const struct {
        ItemForm form;
        const char *text;
    } kTexts[] = {
        {ItemForm::whole, "whole"},
        {ItemForm::no_key, "torn: no key line"},
        {ItemForm::no_size, "torn: no size line"},
        {ItemForm::bad_size, "unreadable: bad size line"},
        {ItemForm::short_data, "torn: fewer data bytes than its size line declares"},
    };
    for (const auto &t : kTexts)
        if (t.form == form) return t.text;
    return "unreadable";
}

bool parse_index(const char *bytes, size_t len, int *value) {
    const char *nl = static_cast<const char *>(memchr(bytes, '\n', std::min<size_t>(len, kLineSize)));
    if (!nl || nl == bytes) return false;
    const char *p = bytes;
    bool negative = *p == '-';
    if (negative) p++;
    if (p == nl) return false;
    long long v = 0;
    for (; p < nl; p++) {
        if (*p < '0' || *p > '9') return false;
        v = v * 10 + (*p - '0');
        if (v > static_cast<long long>(INT_MAX) + 1) return false;
    }
    v = negative ? -v : v;
    if (v > INT_MAX || v < INT_MIN) return false;
    *value = static_cast<int>(v);
    return true;
}

bool item_number(std::string_view name, uint32_t *n) {
    if (name.empty() || name.size() > 10 || name[0] == '0') return false;
    uint64_t v = 0;
    for (char c : name) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + static_cast<uint64_t>(c - '0');
    }
    if (v > INT_MAX) return false;
    *n = static_cast<uint32_t>(v);
    return true;
}

bool item_lock_number(std::string_view name, uint32_t *n) {
    constexpr std::string_view kLock = ".lock";
    if (name.size() <= kLock.size() || name.substr(name.size() - kLock.size()) != kLock) return false;
    return item_number(name.substr(0, name.size() - kLock.size()), n);
}

bool entry_key(std::string_view name, std::string *key) {
    if (name.substr(0, 2) != "i_") return false;
    key->clear();
    auto hex = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    for (size_t i = 2; i < name.size(); i++) {
        if (name[i] != '%') {
            key->push_back(name[i]);
            continue;
        }
        if (i + 2 >= name.size() || hex(name[i + 1]) < 0 || hex(name[i + 2]) < 0) return false;
        key->push_back(static_cast<char>(hex(name[i + 1]) * 16 + hex(name[i + 2])));
        i += 2;
    }
    return !key->empty() && escape_key(*key) == name.substr(2);
}

std::string escape_key(std::string_view key) {
    std::string out;
    escape_each(key, [&](char c) {
        out.push_back(c);
        return true;
    });
    return out;
}

bool parse_journal_name(std::string_view name, JournalName *out) {
    *out = {};
    if (name.size() < 3 || name[1] != '.') return false;
    out->kind = name[0];
    std::vector<std::string_view> parts;
    size_t fields = out->kind == 'p' ? 3 : out->kind == 'c' ? 2 : out->kind == 'm' ? 3 : 0;
    if (fields == 0) return false;
    std::string_view rest = name.substr(2);
    // The last field of a move (the escaped key) may hold dots itself.
    while (parts.size() + 1 < fields) {
        size_t dot = rest.find('.');
        if (dot == std::string_view::npos) return false;
        parts.push_back(rest.substr(0, dot));
        rest = rest.substr(dot + 1);
    }
    parts.push_back(rest);
    for (std::string_view p : parts)
        if (p.empty()) return false;
    out->queue = std::string(parts[0]);
    if (out->kind == 'm') {
        out->to = std::string(parts[1]);
        std::string key;
        if (!entry_key("i_" + std::string(parts[2]), &key)) return false;
        out->key = key;
        return true;
    }
    if (!item_number(parts[1], &out->n)) return false;
    if (out->kind == 'p' && parts[2] != "0" && !item_number(parts[2], &out->old)) return false;
    return true;
}

std::string put_record_name(const char *queue, uint32_t n, uint32_t old) {
    return std::string("p.") + queue + "." + std::to_string(n) + "." + std::to_string(old);
}

std::string move_record_name(const char *from, const char *to, std::string_view key) {
    return std::string("m.") + from + "." + to + "." + escape_key(key);
}

// --- Queue steps ---------------------------------------------------------------

bool read_all(int fd, std::string *out) {
    char buf[4096];
    return read_whole_fd(fd, out, buf, sizeof buf);
}

bool lock_indexes_failed(const int *fds, size_t locked) {
    int err = errno;
    while (locked-- > 0) qor_fdlib::unlockfd(fds[locked]);
    errno = err;
    qor_log_err(QOR_LOG_NONFATAL, "queue lock_indexes failed.");
    errno = err;
    return false;
}

int get_maxindex(bx_queue q) {
    ssize_t length;
    return read_maxindex(q, &length);
}

int read_maxindex(bx_queue q, ssize_t *length) {
    IndexValue iv;
    if (!read_index(q->qdmaxindexfd, &iv)) {
        qor_log_err(QOR_LOG_FATAL, "Can't lock queue max-index file for reading");
        return -1;
    }
    *length = iv.length;
    if (iv.valid && iv.value >= 0) return iv.value;
    // A ".index" that holds no value must not hide the items it numbered:
    // the largest item present stands in, and the next put writes it.
    long largest = largest_item(q);
    if (largest < 0) {
        qor_log_errf(QOR_LOG_NONFATAL, "Max index of queue '%s' cannot be recovered", q->qname);
        return -1;
    }
    return static_cast<int>(largest);
}

int get_firstindex(bx_queue q) {
    ssize_t length;
    return read_firstindex(q, &length);
}

int read_firstindex(bx_queue q, ssize_t *length) {
    IndexValue iv;
    // A ".head" that holds no value hides nothing: the walk starts at 0.
    if (read_index(q->qdfirstindexfd, &iv)) {
        *length = iv.length;
        return iv.valid && iv.value >= 0 ? iv.value : 0;
    }
    qor_log_err(QOR_LOG_FATAL, "Can't lock queue first-index file for reading");
    return -1;
}

long largest_item(bx_queue q) {
    std::vector<std::string> names;
    if (!list_names(q->qdpath, &names)) return -1;
    long largest = 0;
    for (const std::string &name : names) {
        uint32_t n;
        if (item_number(name, &n) && n > largest) largest = n;
    }
    return largest;
}

bool EntryFile::open(bx_queue q, const char *key, Access access) {
    Name entry;
    fd.close();
    value = 0;
    length = -1;
    if (!entry_name(q, key, entry)) return false;
    static constexpr int kFlags[] = {kReadOnly, kOpenExisting, kOpenOrCreate};
    fd.reset(qor_fdlib::openat(q->qdirfd, entry.c_str(), kFlags[static_cast<int>(access)], kFileMode));
    if (!fd.ok()) return errno == ENOENT && access != Access::create;
    IndexValue iv;
    if (!read_index(fd.get(), &iv, access == Access::create)) return false;
    value = iv.valid && iv.value > 0 ? iv.value : 0;
    length = iv.length;
    return true;
}

bool EntryFile::write(bx_queue q, const char *key, uint32_t n) {
    if (!fd.ok()) {
        Name entry;
        if (!entry_name(q, key, entry)) return false;
        fd.reset(qor_fdlib::openat(q->qdirfd, entry.c_str(), kOpenOrCreate, kFileMode));
        if (!fd.ok()) return false;
        length = 0;
    }
    return write_index(fd.get(), static_cast<int>(n), length) >= 0;
}

int entry_value(bx_queue q, const char *key) {
    EntryFile e;
    return e.open(q, key, EntryFile::Access::read) ? e.value : -1;
}

bool write_entry(bx_queue q, const char *key, uint32_t n) {
    EntryFile e;
    return e.open(q, key, EntryFile::Access::create) && e.write(q, key, n);
}

bool remove_entry(bx_queue q, const char *key) {
    Name entry;
    if (!entry_name(q, key, entry)) return false;
    return qor_fdlib::unlinkat(q->qdirfd, entry.c_str(), 0) == 0 || errno == ENOENT;
}

int item_present(bx_queue q, uint32_t n) {
    Name item;
    // No item can be stored under a name that does not fit.
    if (!item.number(q, n, "")) return 0;
    struct stat st;
    if (qor_fdlib::fstatat(q->qdirfd, item.c_str(), &st) == 0) return 1;
    return errno == ENOENT ? 0 : -1;
}

namespace {

// Item n as read from its file (with its item lock), parsed.
struct Loaded {
    Name item, lock;
    char buf[8192];           // the file when it is smaller, read in one call
    std::string more;         // a larger file
    ParsedItem parsed;
};

// Reads and checks item n: 1 whole; 0 absent (errno 0); -1 not readable
// whole (errno set, logged).
int load_item(bx_queue q, uint32_t n, Loaded &l) {
    if (!item_name(q, n, l.item) || !lock_name(q, n, l.lock)) return -1;
    Fd fd(qor_fdlib::openat(q->qdirfd, l.item.c_str(), kReadOnly, 0));
    if (!fd.ok()) {
        if (errno == ENOENT) {
            errno = 0;
            return 0;
        }
        qor_log_errf(QOR_LOG_FATAL, "Could not open spool file '%s' for reading", l.item.path(q).c_str());
        return -1;
    }
    std::string_view bytes;
    {
        ItemLock held(q, l.lock);
        ssize_t got = qor_fdlib::pread(fd.get(), l.buf, sizeof l.buf, 0);
        if (got >= 0 && static_cast<size_t>(got) < sizeof l.buf) {
            bytes = std::string_view(l.buf, static_cast<size_t>(got));
        } else if (got < 0 || !read_whole_fd(fd.get(), &l.more, l.buf, sizeof l.buf)) {
            qor_log_errf(QOR_LOG_NONFATAL, "Could not read spool file '%s'", l.item.path(q).c_str());
            return -1;
        } else {
            bytes = l.more;
        }
    }
    ItemForm form = parse_item(bytes.data(), bytes.size(), &l.parsed);
    if (form != ItemForm::whole) {
        qor_logf(QOR_LOG_NONFATAL, "Spool file '%s' is %s", l.item.path(q).c_str(), item_form_text(form));
        errno = EBADMSG;
        return -1;
    }
    return 1;
}

}  // namespace

bx_queue_item read_item(bx_queue q, uint32_t n) {
    Loaded l;
    if (load_item(q, n, l) != 1) return nullptr;
    bx_queue_item qi = new_item(q, n, l.item, l.lock, l.parsed);
    if (!qi) qor_logf(QOR_LOG_NONFATAL, "No memory for spool file '%s'", l.item.path(q).c_str());
    return qi;
}

bool remove_item(bx_queue q, uint32_t n, bool *lock_left) {
    if (lock_left) *lock_left = false;
    Name item;
    if (!item_name(q, n, item)) return false;
    if (qor_fdlib::unlinkat(q->qdirfd, item.c_str(), 0) != 0 && errno != ENOENT) return false;
    // A lock file left behind names no item: nothing counts or finds it.
    Name lock;
    if (lock_name(q, n, lock) && qor_fdlib::unlinkat(q->qdirfd, lock.c_str(), 0) != 0 && errno != ENOENT) {
        qor_log_errf(QOR_LOG_WARNING, "Could not remove lock file '%s'", lock.path(q).c_str());
        if (lock_left) *lock_left = true;
    }
    return true;
}

bool quarantine_item(bx_queue q, uint32_t n, const char *why, std::string *where) {
    Name item;
    if (!item_name(q, n, item)) return false;
    std::string spool(q->qdpath);
    spool.erase(spool.rfind('/') == std::string::npos ? 0 : spool.rfind('/'));
    if (spool.empty()) spool = ".";
    Fd dir(open_spool_subdir(spool.c_str(), kQuarantineDir));
    if (!dir.ok()) return false;
    // <queue>.<n>.<why>[.<k>]: a name already there is never overwritten.
    std::string base = std::string(q->qname) + "." + item.c_str() + "." + why;
    for (int k = 0; k < 1000; k++) {
        std::string name = k == 0 ? base : base + "." + std::to_string(k);
        struct stat st;
        if (qor_fdlib::fstatat(dir.get(), name.c_str(), &st) == 0) continue;
        if (errno != ENOENT) return false;
        if (qor_fdlib::renameat(q->qdirfd, item.c_str(), dir.get(), name.c_str()) != 0) return false;
        qor_fdlib::fsync(dir.get());
        Name lock;
        if (lock_name(q, n, lock)) qor_fdlib::unlinkat(q->qdirfd, lock.c_str(), 0);
        *where = spool + "/" + kQuarantineDir + "/" + name;
        return true;
    }
    errno = EEXIST;
    return false;
}

Probe::Probe(const char *invoice) {
    bx_invoice_key(invoice, key_);
    entry_ = "i_" + escape_key(key_);
}

int Probe::in(bx_queue q) const {
    q->lasterr = 0;
    if (q->qdpathlen + 1 + entry_.size() >= kPathSize) {
        too_long(q, key_);
        return failed(q, -1);
    }
    // As get_item_by_invoice: a missing entry is told by one failed open.
    Fd fd(qor_fdlib::openat(q->qdirfd, entry_.c_str(), kReadOnly, 0));
    if (!fd.ok()) {
        if (errno != ENOENT) return failed(q, -1);
        // Records stored by hand under the bare key "id" are still found.
        if (memcmp(key_, kBareIdKey, sizeof kBareIdKey) != 0) return 0;
        bx_queue_item qi = get_item_by_invoice(q, "id");
        free_queue_item(qi);
        return qi ? 1 : q->lasterr ? -1 : 0;
    }
    IndexLock lock(q, QOR_FDLIB_SHARED);
    if (!lock.held()) return failed(q, -1);
    IndexValue iv;
    if (!read_index(fd.get(), &iv)) return failed(q, -1);
    if (!iv.valid || iv.value <= 0) return 0;
    Loaded l;
    int loaded = load_item(q, static_cast<uint32_t>(iv.value), l);
    return loaded < 0 ? failed(q, -1) : loaded;
}

bool walk_queue(bx_queue q, const std::function<bool(uint32_t n, bx_queue_item item)> &visit) {
    bool read_failed = false;
    bool walked = walk_present(q, [&](uint32_t n) {
        errno = 0;
        bx_queue_item qi = read_item(q, n);
        if (!qi && errno == 0) return true;  // gone meanwhile
        if (!qi && errno != EBADMSG) {
            read_failed = true;
            return false;
        }
        return visit(n, qi);
    });
    if (!walked) return false;
    return !read_failed || failed(q, false);
}

bool list_names(const char *dir, std::vector<std::string> *names) {
    qor_dirlist *ls = nullptr;
    if (qor_fdlib_dirlist(dir, &ls) != 0) return false;
    try {
        names->clear();
        for (int i = 0; i < ls->num; i++) {
            std::string_view n = ls->entries[i];
            if (n != "." && n != "..") names->emplace_back(n);
        }
    } catch (const std::bad_alloc &) {
        qor_fdlib_dirlist_free(ls);
        errno = ENOMEM;
        return false;
    }
    qor_fdlib_dirlist_free(ls);
    std::sort(names->begin(), names->end());
    return true;
}

// --- Rebuild ------------------------------------------------------------------

int sanitize(bx_queue qid, const std::function<void(const std::string &)> &say) {
    IndexLock lock(qid, QOR_FDLIB_EXCLUSIVE);
    if (!lock.held()) return -1;
    int failures = 0;
    std::vector<std::string> names;
    if (!list_names(qid->qdpath, &names)) return -1;

    // Item files carry canonical decimal names: "12", not "012" or
    // "12.lock".  Ascending order lets the newest of two items left under
    // one key own the entry file.
    std::vector<uint32_t> numbers;
    std::vector<std::string> entries;
    for (const std::string &name : names) {
        uint32_t n;
        if (item_number(name, &n))
            numbers.push_back(n);
        else if (name.compare(0, 2, "i_") == 0)
            entries.push_back(name);
    }
    std::sort(numbers.begin(), numbers.end());

    // The entries the items call for.  Existing entry files are rewritten
    // in place and only the ones no item calls for are removed, so a key
    // never loses its entry while the rebuild runs.
    std::vector<std::pair<std::string, uint32_t>> wanted;  // key, number (newest last)
    for (uint32_t n : numbers) {
        bx_queue_item qi = read_item(qid, n);
        if (!qi) {
            failures++;
            say(std::string("queue_sanitize: unreadable transaction! (") + qid->qname + ", #" + std::to_string(n) + ")");
            continue;
        }
        wanted.emplace_back(qi->primary_key, n);
        free_queue_item(qi);
    }
    std::vector<std::string> keep;
    for (auto it = wanted.rbegin(); it != wanted.rend(); ++it) {
        std::string file = "i_" + escape_key(it->first);
        if (std::find(keep.begin(), keep.end(), file) != keep.end()) continue;  // an older item of the key
        keep.push_back(file);
        if (!write_entry(qid, it->first.c_str(), it->second)) {
            failures++;
            qor_logf(QOR_LOG_NONFATAL, "db entry %s (%d) cannot be written", it->first.c_str(),
                     static_cast<int>(it->second));
        }
    }
    for (const std::string &e : entries) {
        if (std::find(keep.begin(), keep.end(), e) != keep.end()) continue;
        if (qor_fdlib::unlinkat(qid->qdirfd, e.c_str(), 0) != 0 && errno != ENOENT) failures++;
    }

    int largest = numbers.empty() ? 0 : static_cast<int>(numbers.back());
    int smallest = numbers.empty() ? 0 : static_cast<int>(numbers.front());
    if (write_index(qid->qdmaxindexfd, largest) <= 0) {
        failures++;
        say(std::string("queue_sanitize: cannot write .index! (") + qid->qname + ")");
    }
    if (write_index(qid->qdfirstindexfd, smallest) <= 0) {
        failures++;
        say(std::string("queue_sanitize: cannot write .head! (") + qid->qname + ")");
    }
    if (!sync_queue_dir(qid)) failures++;
    return failures ? -1 : 0;
}

}  // namespace bxq

using namespace bxq;

namespace {

// --- Put ---------------------------------------------------------------------

// Undoes a put that failed after it linked its item in: the item goes, the
// entry names what it named before.  False when that could not be done
// (the journal record then stays for the recovery).
bool undo_put(bx_queue q, EntryFile &entry, const char *key, uint32_t n, int old) {
    bool entry_ok = old > 0 ? entry.write(q, key, static_cast<uint32_t>(old)) : remove_entry(q, key);
    return remove_item(q, n) && entry_ok && sync_queue_dir(q);
}

int put(bx_queue q, const char *outbuf, int size, const char *pkey) {
    IndexLock lock(q, QOR_FDLIB_EXCLUSIVE);
    if (!lock.held()) return failed(q, -5);
    char made[24];
    if (!pkey) {
        int max = get_maxindex(q);
        if (max < 0) return failed(q, -5);
        snprintf(made, sizeof made, "%08d", max + 1);
        pkey = made;
    }
    EntryFile entry;
    // Opened (made, for a new key) once, read, and rewritten in place: an
    // entry that names nothing finds nothing, should the put not finish.
    if (!entry.open(q, pkey, EntryFile::Access::create)) {
        qor_log_errf(QOR_LOG_NONFATAL, "bx_queue_put: entry of '%s' in queue '%s' cannot be read",
                     pkey, q->qname);
        return failed(q, -5);
    }
    int old = entry.value;
    // A new key's entry, made empty just now, goes again if the put fails
    // before its item is linked in.
    struct Made {
        bx_queue q;
        const char *key;
        bool armed;
        ~Made() {
            int err = errno;
            if (armed) remove_entry(q, key);
            errno = err;
        }
    } new_entry{q, pkey, old == 0};
    int indexno = insert_new_index(q, 0);
    if (indexno < 0) return failed(q, -5);

    // The item is written and flushed under its journal name, where no
    // walk, count or rebuild of the queue sees it, then linked in under its
    // number.  A number already taken on disk (by an item, or by the
    // journal record of a put that never finished) is stepped past, and
    // ".index" mended to the largest item present.
    // While the put runs, its process holds the record's lock: a recovery
    // takes up only the records of processes that died.
    std::string record;
    Fd held;
    for (int tries = 0;; tries++) {
        record = put_record_name(q->qname, static_cast<uint32_t>(indexno), static_cast<uint32_t>(old));
        Name item;
        if (!item_name(q, static_cast<uint32_t>(indexno), item)) return failed(q, -5);
        held.reset(qor_fdlib::openat(q->journalfd, record.c_str(), kCreateNew, kFileMode));
        if (held.ok()) {
            bool written = qor_fdlib::lockfd(held.get(), QOR_FDLIB_EXCLUSIVE, QOR_FDLIB_NOWAIT) == 0 &&
                           write_item(held.get(), pkey, outbuf, size);
            if (written && qor_fdlib::linkat(q->journalfd, record.c_str(), q->qdirfd, item.c_str()) == 0)
                break;
            int err = errno;
            drop_record(q, record.c_str());
            held.close();
            errno = err;
            if (!written) {
                qor_log_errf(QOR_LOG_FATAL, "bx_queue_put: Could not write spool file '%s'",
                             item.path(q).c_str());
                return failed(q, -5);
            }
        }
        if (errno != EEXIST || tries == kNumberTries) {
            qor_log_errf(QOR_LOG_FATAL, "bx_queue_put: Could not build spool file for '%s'",
                         item.path(q).c_str());
            return failed(q, -5);
        }
        long largest = largest_item(q);
        int next = insert_new_index(q, static_cast<int>(std::max<long>(largest, indexno)));
        if (next < 0) return failed(q, -5);
        qor_logf(QOR_LOG_WARNING, "Queue '%s': index %d is taken on disk; item stored as %d", q->qname,
                 indexno, next);
        indexno = next;
    }
    uint32_t n = static_cast<uint32_t>(indexno);
    new_entry.armed = false;  // undo_put takes care of it from here

    // The entry names the new item; the item and the entry are made
    // durable before the old item goes.
    if (!entry.write(q, pkey, n) || !sync_queue_dir(q)) {
        int err = errno;
        qor_logf(QOR_LOG_NONFATAL, "db entry %s (%d) cannot be written", pkey, indexno);
        if (undo_put(q, entry, pkey, n, old)) drop_record(q, record.c_str());
        errno = err;
        return failed(q, -5);
    }
    if (old > 0 && static_cast<uint32_t>(old) != n) {
        // A replacement is done only when the old item is gone: one key
        // never answers with two items.
        if (!remove_item(q, static_cast<uint32_t>(old))) {
            int err = errno;
            qor_log_errf(QOR_LOG_NONFATAL, "bx_queue_put: old item %d of '%s' in queue '%s' cannot be removed",
                         old, pkey, q->qname);
            if (undo_put(q, entry, pkey, n, old)) drop_record(q, record.c_str());
            errno = err;
            return failed(q, -5);
        }
        // The new item is on disk already; a removal the disk may lose
        // leaves a copy that the entry passes over, never a lost one.
        if (!sync_queue_dir(q))
            qor_log_errf(QOR_LOG_WARNING, "Could not flush queue directory '%s'", q->qdpath);
    }
    drop_record(q, record.c_str());
    return indexno;
}

// --- Delete ------------------------------------------------------------------

int delete_item(bx_queue q, bx_queue_item qi) {
    IndexLock lock(q, QOR_FDLIB_EXCLUSIVE);
    if (!lock.held()) return failed(q, -1);
    int max = get_maxindex(q);
    ssize_t first_length = -1;
    int first = read_firstindex(q, &first_length);
    if (max < 0 || first < 0) return failed(q, -1);
    // The new ".head" is the lowest item still on disk below max, looked
    // for before this item's files go, so deleting the oldest item leaves
    // ".head" on it until a later deletion.  It never passes an item.
    uint32_t head = static_cast<uint32_t>(max);
    bool searched = static_cast<uint32_t>(first) >= static_cast<uint32_t>(max) ||
                    walk_items(q, static_cast<uint32_t>(first), static_cast<uint32_t>(max) - 1, [&](uint32_t v) {
                        head = v;
                        return false;
                    });
    if (searched && head != static_cast<uint32_t>(first) &&
        write_index(q->qdfirstindexfd, static_cast<int>(head), first_length) < 0)
        qor_log_errf(QOR_LOG_WARNING, "First index %u of queue '%s' cannot be written", head, q->qname);

    // The item goes first: a delete that fails part way leaves the item
    // where its entry finds it, never an entry-less item counted but not
    // found.  The entry goes only while it still names this item: a newer
    // item stored under the same key keeps its entry.
    bool lock_left;
    if (!remove_item(q, qi->indexno, &lock_left)) {
        qor_log_errf(QOR_LOG_NONFATAL, "Could not remove spool file '%s'", qi->fname);
        return failed(q, -1);
    }
    if (qi->primary_key) {
        int named = entry_value(q, qi->primary_key);
        if (named < 0 || (static_cast<uint32_t>(named) == qi->indexno && !remove_entry(q, qi->primary_key))) {
            qor_log_errf(QOR_LOG_NONFATAL, "Could not remove the entry of '%s' in queue '%s'",
                         qi->primary_key, q->qname);
            return failed(q, -1);
        }
    }
    if (!sync_queue_dir(q)) {
        qor_log_errf(QOR_LOG_NONFATAL, "Could not flush queue directory '%s'", q->qdpath);
        return failed(q, -1);
    }
    if (lock_left) {
        errno = EIO;
        return failed(q, -1);
    }
    return 0;
}

}  // namespace

extern "C" {

// --- Index value files -----------------------------------------------------

int read_index_from_fd(int fd) {
    IndexValue iv;
    return read_index(fd, &iv) ? iv.value : -1;
}

int put_index_to_fd(int fd, int count) { return write_index(fd, count); }

// --- Queue ---------------------------------------------------------------------

bx_queue bx_queue_open(const char *qname, int flags, const char *spooldir) {
    (void)flags;
    Text dir(qname && spooldir ? buildpath(spooldir, qname) : nullptr);
    if (!dir) {
        qor_logf(QOR_LOG_FATAL, "Could not build spool dir for '%s'", qname ? qname : "");
        return nullptr;
    }
    if (!qor_fdlib_checkdir(dir.get()) && createspooldir(dir.get(), spooldir) == 0)
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
    Fd qfd(qor_fdlib_open(dir.get(), kReadOnly, 0));
    if (!qfd.ok()) {
        qor_log_err(QOR_LOG_FATAL, dir.get());
        return nullptr;
    }
    Fd jfd(open_spool_subdir(spooldir, kJournalDir));
    if (!jfd.ok()) {
        qor_log_errf(QOR_LOG_FATAL, "Could not open journal directory '%s/%s'", spooldir, kJournalDir);
        return nullptr;
    }

    auto *q = static_cast<bx_queue>(calloc(1, sizeof(struct _bx_queue)));
    if (!q) return nullptr;
    q->qname = qor_util_strdup(qname);
    if (!q->qname) {
        free(q);
        return nullptr;
    }
    q->qdpath = dir.release();
    q->qdpathlen = strlen(q->qdpath);
    q->qdmipath = ipath.release();
    q->qdfipath = hpath.release();
    q->qdmaxindexfd = ifd.release();
    q->qdfirstindexfd = hfd.release();
    q->lockfd = lfd.release();
    q->dblockfd = dfd.release();
    q->qdirfd = qfd.release();
    q->journalfd = jfd.release();
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
    const int fds[] = {q->qdmaxindexfd, q->qdfirstindexfd, q->lockfd, q->dblockfd, q->qdirfd, q->journalfd};
    for (int fd : fds)
        if (fd >= 0) qor_fdlib::close(fd);
    free(q);
    return 0;
}

int bx_queue_lockqueue(bx_queue q) {
    if (!q) return -1;
    return qor_fdlib::lockfd(q->lockfd, QOR_FDLIB_EXCLUSIVE, QOR_FDLIB_WAIT) == 0 ? 0 : -1;
}

int bx_queue_unlockqueue(bx_queue q) {
    if (!q) return -1;
    return qor_fdlib::unlockfd(q->lockfd);
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
    qid->lasterr = 0;
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
    return sanitize(qid, [](const std::string &line) { say("%s\n", line.c_str()); });
}

// --- Items -----------------------------------------------------------------

int bx_queue_put(bx_queue qid, const char *outbuf, int size, const char *pkey) {
    if (!qid) {
        no_queue("bx_queue_put");
        return -5;
    }
    qid->lasterr = 0;
    errno = 0;
    if (!storable("bx_queue_put", outbuf, size, pkey)) {
        qid->lasterr = EINVAL;
        return -5;
    }
    return put(qid, outbuf, size, pkey);
}

// The new bytes replace the item's file whole: they are written under a
// journal name, flushed and renamed over the item, which keeps its number.
int bx_queue_change(bx_queue qid, const char *outbuf, int size, const char *pkey) {
    if (!qid) {
        no_queue("bx_queue_change");
        return -5;
    }
    qid->lasterr = 0;
    if (!pkey) return 0;
    if (!storable("bx_queue_change", outbuf, size, pkey)) return -5;
    IndexLock lock(qid, QOR_FDLIB_EXCLUSIVE);
    if (!lock.held()) return failed(qid, -5);
    int indexno = entry_value(qid, pkey);
    if (indexno < 0) return failed(qid, -5);
    if (indexno == 0 || item_present(qid, static_cast<uint32_t>(indexno)) != 1) return 0;
    Name item;
    if (!item_name(qid, static_cast<uint32_t>(indexno), item)) return failed(qid, -5);
    std::string record = std::string("c.") + qid->qname + "." + item.c_str();
    Fd fd(qor_fdlib::openat(qid->journalfd, record.c_str(), kOpenOrCreate | QOR_FDLIB_TRUNC, kFileMode));
    if (!fd.ok()) {
        qor_log_errf(QOR_LOG_FATAL, "bx_queue_change: Could not build spool file for '%s'",
                     item.path(qid).c_str());
        return failed(qid, -5);
    }
    bool written = write_item(fd.get(), pkey, outbuf, size);
    fd.close();
    if (!written ||
        qor_fdlib::renameat(qid->journalfd, record.c_str(), qid->qdirfd, item.c_str()) != 0 ||
        !sync_queue_dir(qid)) {
        qor_log_errf(QOR_LOG_FATAL, "bx_queue_change: Could not write spool file '%s'",
                     item.path(qid).c_str());
        drop_record(qid, record.c_str());
        return failed(qid, -5);
    }
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
    qid->lasterr = 0;
    char key[9];
    bx_invoice_key(context, key);
    bx_queue_item qi = get_item_by_invoice(qid, key);
    // Records stored by hand under the bare key "id" are still found.
    if (!qi && qid->lasterr == 0 && memcmp(key, kBareIdKey, sizeof kBareIdKey) == 0) qi = get_item_by_invoice(qid, "id");
    return qi;
}

bx_queue_item bx_queue_nth_item(bx_queue qid, unsigned int n) {
    if (!qid) {
        no_queue("bx_queue_nth_item");
        return nullptr;
    }
    qid->lasterr = 0;
    if (n == 0) return nullptr;
    unsigned int seen = 0;
    uint32_t at = 0;
    bool walked = walk_present(qid, [&](uint32_t v) {
        at = v;
        return ++seen != n;
    });
    if (!walked) return nullptr;
    if (seen != n) return nullptr;
    errno = 0;
    bx_queue_item qi = read_item(qid, static_cast<uint32_t>(at));
    if (!qi && errno) return failed(qid, nullptr);
    return qi;
}

int bx_queue_item_delete(bx_queue qid, bx_queue_item qi) {
    if (!qid) {
        no_queue("bx_queue_item_delete");
        free_queue_item(qi);
        return -1;
    }
    qid->lasterr = 0;
    if (!qi) {
        qor_log(QOR_LOG_NONFATAL, "bx_queue_item_delete: no item");
        qid->lasterr = EINVAL;
        return -1;
    }
    int r = delete_item(qid, qi);
    free_queue_item(qi);
    return r;
}

int bx_queue_item_close(bx_queue qid, bx_queue_item qi) {
    (void)qid;
    free_queue_item(qi);
    return 0;
}

}  // extern "C"
