// qor_fdlib: descriptor I/O, POSIX record locks and directory listing for
// the queue store and the protocol commands.
//
// Every platform file-system call goes through sys() below, which counts
// it and lets the test seam make one chosen call fail.  The plain wrappers
// pass the platform result through with errno set.  Bad arguments of
// qor_fdlib_lockfd print a usage line on standard error; the lock queries
// print through perror; qor_fdlib_fdgets logs a Warning on a premature end
// of file.  Nothing else here logs: callers decide what a failure means.
#include "queue/qor_fdlib.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>

#include "support/qor_log.h"

namespace {

// ---------------------------------------------------------------------------
// Test seam.  Every platform file-system call made through this library is
// counted (g_calls); the calls that change the file system (creating,
// writing, truncating, flushing, linking, renaming, removing) are counted
// again as mutations (g_mutations).  One armed trigger picks one call by
// its number in either count and either makes it fail with a chosen error
// number or kills the process with SIGKILL before the call is made, as a
// crash would.  A trigger fires once and then switches itself off.  The
// environment variable BRIX_FS_SEAM arms a trigger in a program that a test
// cannot reach from inside ("kill:N", "fail:N:EIO", both counting
// mutations from the first call), so the tools can be crashed too.
enum class Kind { read, mutate };

struct Trigger {
    unsigned long at = 0;     // count at which it fires; 0 = off
    bool mutations = false;   // counts mutations, not every call
    int err = 0;              // error number to fail with; 0 = kill
};

unsigned long g_calls = 0;
unsigned long g_mutations = 0;
Trigger g_trigger;
bool g_env_read = false;

// Error numbers a BRIX_FS_SEAM trigger may name.
constexpr struct {
    const char *name;
    int err;
} kSeamErrors[] = {{"EIO", EIO}, {"ENOSPC", ENOSPC}, {"EINTR", EINTR}, {"EROFS", EROFS},
                   {"EDQUOT", EDQUOT}, {"ENOLCK", ENOLCK}, {"EDEADLK", EDEADLK}};

// Read at the first call, which is counted already: `before` is the
// number of mutations made before it.
void read_seam_environment(unsigned long before) {
    g_env_read = true;
    const char *v = getenv("BRIX_FS_SEAM");
    if (!v) return;
    char name[16] = "";
    unsigned long n = 0;
    if (sscanf(v, "kill:%lu", &n) == 1 && n > 0) {
        g_trigger = {before + n, true, 0};
    } else if (sscanf(v, "fail:%lu:%15[A-Z]", &n, name) == 2 && n > 0) {
        for (const auto &e : kSeamErrors)
            if (strcmp(e.name, name) == 0) g_trigger = {before + n, true, e.err};
    }
}

// The rare part of seam_fires: a trigger is armed, or the environment is
// still to be read.
__attribute__((noinline)) bool seam_armed(Kind kind) {
    if (!g_env_read) read_seam_environment(g_mutations - (kind == Kind::mutate ? 1 : 0));
    if (g_trigger.at == 0) return false;
    if (g_trigger.mutations ? (kind != Kind::mutate || g_mutations != g_trigger.at)
                            : g_calls != g_trigger.at)
        return false;
    int err = g_trigger.err;
    g_trigger = {};
    if (err == 0) raise(SIGKILL);
    errno = err;
    return true;
}

// True when the call being made now must fail (errno is then set).  A kill
// trigger does not return.  Counting is all a call costs when nothing is
// armed.
inline bool seam_fires(Kind kind = Kind::read) {
    ++g_calls;
    if (kind == Kind::mutate) ++g_mutations;
    if (__builtin_expect(g_env_read && g_trigger.at == 0, 1)) return false;
    return seam_armed(kind);
}

// seam_fires for calls made through a stream or listing, which are not
// repeated on EINTR by sys(): an injected interruption is passed over.
bool seam_fails(Kind kind = Kind::read) {
    while (seam_fires(kind))
        if (errno != EINTR) return true;
    return false;
}

// Runs one platform call that reports failure as -1.  An interrupted call
// is made again: a signal is no reason for a file operation to fail.
template <typename Call>
auto sys(Kind kind, Call call) -> decltype(call()) {
    for (;;) {
        auto r = seam_fires(kind) ? static_cast<decltype(call())>(-1) : call();
        if (r == -1 && errno == EINTR) continue;
        return r;
    }
}
template <typename Call>
auto sys(Call call) -> decltype(call()) {
    return sys(Kind::read, call);
}

// ---------------------------------------------------------------------------
// POSIX record locks: how they behave and where they bite.
//
// All exclusion between the sessions of the script interpreter and the
// processing daemon is done with fcntl() record locks on the first byte
// (offset 0, length 1) of a lock-carrying file.  These locks are easy to
// misuse, because they do not behave like the locks of most other systems:
//
//   (1) A record lock belongs to the PROCESS and the FILE (inode), not to
//       the descriptor through which it was taken.  Two descriptors of the
//       same file in one process see the same lock: locking through the
//       second one converts or confirms the lock that already exists, and
//       never blocks against the process's own lock.  So a second open
//       bx_queue on the same directory in the same process shares every
//       lock with the first; the two give no exclusion against each other.
//
//   (2) Closing ANY descriptor of a file drops ALL of the process's locks
//       on that file, whichever descriptor took them.  Opening a lock file
//       briefly (to test it, to read it) and closing it again silently
//       undoes a lock held elsewhere in the process.  This is why the
//       queue keeps its four bookkeeping descriptors open for the life of
//       the record, and why a caller must never open and close ".lock",
//       ".dblock", ".index" or ".head" while it holds their locks.
//
//   (3) An unlock releases the range, not "one acquisition": locks do not
//       nest or count.  Taking a shared lock on ".index" to read it and
//       then releasing it also ends the exclusive lock that lock_indexes
//       took on ".index" a moment before.  The queue code relies on this on
//       purpose (the ".dblock" lock, never released early, is the one that
//       covers a whole operation) and both programs sharing a queue must
//       keep to it.
//
//   (4) Locking a range the process already holds with another type
//       converts the lock in place (exclusive to shared or back); it is not
//       a second lock.  A conversion from shared to exclusive can block,
//       and can fail with EDEADLK when two processes both try it.
//
//   (5) F_SETLKW blocks until the lock is granted, but it may also return
//       -1 with EINTR (a signal arrived), EDEADLK (the kernel found a wait
//       cycle between processes), ENOLCK, or EIO on a network file system
//       that lost its lease.  An interrupted wait is simply made again (a
//       signal says nothing about the lock).  Every other error is a failed
//       lock: the caller must not go on as if it held the lock, so the
//       queue operations fail, log it and leave the queue as it was.
//
//   (8) Waiting for a second lock while holding a first one can close a
//       cycle with a process that takes the two the other way round (the
//       library moves auth -> unauth while the daemon moves unauth ->
//       auth).  The kernel reports only some such cycles (EDEADLK), and none
//       across the machines of a network file system.  So whoever holds one
//       queue lock takes another only without waiting, retrying after a
//       short pause, and gives up after a bounded time.
//
//   (6) Locks are not inherited across fork(): a child starts with none,
//       even though it shares the parent's descriptors.  They do survive
//       exec() on descriptors that stay open.
//
//   (7) Locks are advisory.  They exclude only processes that ask for them
//       the same way, on the same byte; a process that writes without
//       locking is not stopped.  Both programs must lock byte 0, length 1,
//       not the whole file (a whole-file lock would conflict with a
//       one-byte lock, but a different range would not).
// ---------------------------------------------------------------------------

// A lock request of `type` over length bytes from offset begin.
struct flock lock_range(short type, off_t begin, off_t length) {
    struct flock fl;
    memset(&fl, 0, sizeof fl);
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = begin;
    fl.l_len = length;
    return fl;
}

// Measurement hook: told how long each waiting lock request took.
void (*g_lock_timer)(double seconds) = nullptr;

double now_seconds() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// Sets one lock request; returns the fcntl result (0 or -1).
int set_lock(int fd, short type, off_t begin, off_t length, int cmd) {
    struct flock fl = lock_range(type, begin, length);
    if (!g_lock_timer || cmd != F_SETLKW || type == F_UNLCK) return sys([&] { return fcntl(fd, cmd, &fl); });
    double start = now_seconds();
    int r = sys([&] { return fcntl(fd, cmd, &fl); });
    g_lock_timer(now_seconds() - start);
    return r;
}

struct LockKind {
    int type;      // QOR_FDLIB_SHARED / QOR_FDLIB_EXCLUSIVE
    short fcntl;   // matching platform lock type
};
constexpr LockKind kLockKinds[] = {
    {QOR_FDLIB_SHARED, F_RDLCK},
    {QOR_FDLIB_EXCLUSIVE, F_WRLCK},
};

// Platform lock type of a library lock type; -1 for a bad one.
short lock_type_of(int type) {
    for (const auto &k : kLockKinds)
        if (k.type == type) return k.fcntl;
    return -1;
}

// fcntl command of a lock grant; -1 for a bad one.
int lock_cmd_of(int wait) {
    if (wait == QOR_FDLIB_NOWAIT) return F_SETLK;
    if (wait == QOR_FDLIB_WAIT) return F_SETLKW;
    return -1;
}

// Asks which lock would conflict with a `type` lock on the range.
// Returns the holder's pid, -1 when nothing conflicts, or -2 when the
// query failed; *found receives the conflicting platform lock type.
int query_lock(int fd, off_t begin, off_t len, short type, short *found) {
    struct flock fl = lock_range(type, begin, len);
    if (sys([&] { return fcntl(fd, F_GETLK, &fl); }) == -1) return -2;
    *found = fl.l_type;
    return fl.l_type == F_UNLCK ? -1 : static_cast<int>(fl.l_pid);
}

struct OpenFlag {
    int bit;       // library flag bit
    int platform;  // open(2) flag it stands for
};
constexpr OpenFlag kOpenFlags[] = {
    {QOR_FDLIB_CREATE, O_CREAT},
    {QOR_FDLIB_EXCL, O_EXCL},
    {QOR_FDLIB_TRUNC, O_TRUNC},
};

// The open(2) flags of library open flags.  Descriptors of the queue store
// must not leak into programs that the interpreter starts.
int platform_flags(int in_flags) {
    int flags = (in_flags & QOR_FDLIB_RDWR) ? O_RDWR : O_RDONLY;
    for (const auto &f : kOpenFlags)
        if (in_flags & f.bit) flags |= f.platform;
    return flags | O_CLOEXEC;
}

// An open that creates or truncates changes the file system.
Kind open_kind(int flags) { return (flags & (O_CREAT | O_TRUNC)) ? Kind::mutate : Kind::read; }

// Copies a text stream line by line; returns the error number left by the
// copy (0 when all went well).
int copy_lines(FILE *out, FILE *in) {
    char line[2048];
    errno = 0;
    while (fgets(line, sizeof line, in))
        if (fputs(line, out) == EOF) break;
    int err = ferror(in) || ferror(out) ? (errno ? errno : EIO) : 0;
    if (fflush(out) == EOF && err == 0) err = errno ? errno : EIO;
    return err;
}

}  // namespace

extern "C" {

// --- Locks -----------------------------------------------------------------

int qor_fdlib_lockfd(int fd, int type, int wait) {
    if (fd == -1) return -1;
    short ltype = lock_type_of(type);
    int cmd = lock_cmd_of(wait);
    if (ltype == -1) fputs("Usage error: QOR_FDLIB_LTYPE var not set.\n", stderr);
    if (cmd == -1) fputs("Usage error: QOR_FDLIB_LGRANT var not set.\n", stderr);
    if (ltype == -1 || cmd == -1) return -1;
    return set_lock(fd, ltype, 0, 1, cmd);
}

int qor_fdlib_unlockfd(int fd) {
    if (fd == -1) return 0;
    // A release that fails would leave the lock held until the descriptor
    // closes, blocking every other process: it is tried again.
    for (int tries = 0; tries < 3; tries++)
        if (set_lock(fd, F_UNLCK, 0, 1, F_SETLKW) == 0) return 0;
    return -1;
}

int qor_fdlib_unlockf(FILE *fp) { return qor_fdlib_unlockfd(fp ? fileno(fp) : -1); }

int qor_fdlib_rangelockfd(int fd, int type, off_t begin, off_t length, int wait) {
    short ltype = lock_type_of(type);
    int cmd = lock_cmd_of(wait);
    if (ltype == -1 || cmd == -1) return -1;
    return set_lock(fd, ltype, begin, length, cmd);
}

int qor_fdlib_rangeunlockfd(int fd, off_t begin, off_t length) {
    return set_lock(fd, F_UNLCK, begin, length, F_SETLK);
}

// Who holds a lock over the range that a lock of query_type would
// conflict with: the holder's pid with its lock type in *type, -1 with 0
// in *type when none does.  A failed query prints message and answers 0
// with the shared type.
static int report_lock(int fd, off_t begin, off_t len, short query_type, const char *message,
                       int *type) {
    short found = F_UNLCK;
    int pid = query_lock(fd, begin, len, query_type, &found);
    if (pid == -2) {
        perror(message);
        if (type) *type = F_RDLCK;
        return 0;
    }
    if (type) *type = pid == -1 ? 0 : found;
    return pid;
}

int qor_fdlib_getrangelockfd(int fd, off_t begin, off_t len, int *type) {
    return report_lock(fd, begin, len, F_RDLCK, "Error getting lock info", type);
}

int qor_fdlib_getlockfd(int fd, int *type) {
    // An exclusive query over the whole file reports a lock of either kind
    // held by any other process.
    return report_lock(fd, 0, 0, F_WRLCK, "Locking error", type);
}

// --- Descriptors ---------------------------------------------------------------

int qor_fdlib_open(const char *pathname, int in_flags, mode_t mode) {
    int flags = platform_flags(in_flags);
    return sys(open_kind(flags), [&] { return open(pathname, flags, mode); });
}

int qor_fdlib_openat(int dirfd, const char *name, int in_flags, mode_t mode) {
    int flags = platform_flags(in_flags);
    return sys(open_kind(flags), [&] { return openat(dirfd, name, flags, mode); });
}

int qor_fdlib_opendirfd(int dirfd, const char *name) {
    return sys([&] { return openat(dirfd, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC); });
}

int qor_fdlib_createlockfile(const char *filename) {
    return qor_fdlib_open(filename, QOR_FDLIB_CREATE | QOR_FDLIB_RDWR, 0666);
}

int qor_fdlib_fdgets(char *s, int size, int fd) {
    int stored = 0;
    for (;;) {
        char c;
        ssize_t got = qor_fdlib_read(fd, &c, 1);
        if (got == 0) {
            qor_log(QOR_LOG_WARNING, "Read returned 0 in fdgets!\n");
            return -1;
        }
        if (got < 0) return errno ? errno : -1;
        if (stored >= size) break;  // the line is longer than s: byte dropped
        s[stored++] = c;
        if (c == '\n') break;
    }
    s[stored] = '\0';
    return 0;
}

ssize_t qor_fdlib_read(int fd, void *buf, size_t count) {
    return sys([&] { return read(fd, buf, count); });
}

ssize_t qor_fdlib_write(int fd, const void *buf, size_t count) {
    return sys(Kind::mutate, [&] { return write(fd, buf, count); });
}

ssize_t qor_fdlib_pread(int fd, void *buf, size_t count, off_t offset) {
    return sys([&] { return pread(fd, buf, count, offset); });
}

ssize_t qor_fdlib_pwrite(int fd, const void *buf, size_t count, off_t offset) {
    return sys(Kind::mutate, [&] { return pwrite(fd, buf, count, offset); });
}

ssize_t qor_fdlib_pwritev(int fd, const struct iovec *iov, int iovcnt, off_t offset) {
    return sys(Kind::mutate, [&] { return pwritev(fd, iov, iovcnt, offset); });
}

int qor_fdlib_close(int fd) {
    // The descriptor is released even when the seam reports a failure, as
    // Linux releases it whatever close() returns.
    if (seam_fires()) {
        int err = errno;
        close(fd);
        errno = err;
        return -1;
    }
    return close(fd);
}

int qor_fdlib_fsync(int fd) { return sys(Kind::mutate, [&] { return fsync(fd); }); }

int qor_fdlib_ftruncate(int fd, off_t length) {
    return sys(Kind::mutate, [&] { return ftruncate(fd, length); });
}

int qor_fdlib_unlink(const char *name) { return sys(Kind::mutate, [&] { return unlink(name); }); }

int qor_fdlib_unlinkat(int dirfd, const char *name, int flags) {
    return sys(Kind::mutate, [&] { return unlinkat(dirfd, name, flags); });
}

int qor_fdlib_linkat(int olddirfd, const char *oldname, int newdirfd, const char *newname) {
    return sys(Kind::mutate, [&] { return linkat(olddirfd, oldname, newdirfd, newname, 0); });
}

int qor_fdlib_renameat(int olddirfd, const char *oldname, int newdirfd, const char *newname) {
    return sys(Kind::mutate, [&] { return renameat(olddirfd, oldname, newdirfd, newname); });
}

int qor_fdlib_rename(const char *oldname, const char *newname) {
    return sys(Kind::mutate, [&] { return rename(oldname, newname); });
}

int qor_fdlib_fstatat(int dirfd, const char *name, struct stat *st) {
    return sys([&] { return fstatat(dirfd, name, st, AT_SYMLINK_NOFOLLOW); });
}

int qor_fdlib_fstat(int fd, struct stat *st) { return sys([&] { return fstat(fd, st); }); }

int qor_fdlib_replace_file(const char *path, const char *tmp, const void *data, size_t len, mode_t mode) {
    int fd = sys(Kind::mutate, [&] { return open(tmp, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, mode); });
    if (fd < 0) return -1;
    const char *p = static_cast<const char *>(data);
    size_t left = len;
    // A temporary file left by an earlier run keeps its own mode, and the
    // umask trims a new one's: the mode is set whatever it was.
    bool ok = sys(Kind::mutate, [&] { return fchmod(fd, mode); }) == 0;
    while (ok && left > 0) {
        ssize_t w = qor_fdlib_write(fd, p, left);
        if (w <= 0) {
            if (w == 0) errno = ENOSPC;
            ok = false;
        } else {
            p += w;
            left -= static_cast<size_t>(w);
        }
    }
    ok = ok && qor_fdlib_fsync(fd) == 0;
    int err = errno;
    if (qor_fdlib_close(fd) != 0 && ok) {
        ok = false;
        err = errno;
    }
    int stage = -1;
    if (ok && qor_fdlib_rename(tmp, path) != 0) {
        ok = false;
        err = errno;
        stage = -2;
    }
    if (!ok) {
        qor_fdlib_unlink(tmp);
        errno = err;
        return stage;
    }
    // The new name reaches the disk too.
    std::string_view whole(path);
    size_t slash = whole.rfind('/');
    std::string dir = slash == std::string_view::npos ? "." : slash == 0 ? "/" : std::string(whole.substr(0, slash));
    return qor_fdlib_syncdir(dir.c_str()) == 0 ? 0 : -3;
}

int qor_fdlib_syncdir(const char *path) {
    int fd = sys([&] { return open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC); });
    if (fd < 0) return -1;
    int r = qor_fdlib_fsync(fd);
    int err = errno;
    qor_fdlib_close(fd);
    errno = err;
    return r;
}

int qor_fdlib_mkdir(const char *pathname, mode_t mode) {
    return sys(Kind::mutate, [&] { return mkdir(pathname, mode); });
}

int qor_fdlib_mkdirat(int dirfd, const char *name, mode_t mode) {
    return sys(Kind::mutate, [&] { return mkdirat(dirfd, name, mode); });
}

off_t qor_fdlib_fdrewind(int fd) { return sys([&] { return lseek(fd, 0, SEEK_SET); }); }

off_t qor_fdlib_gotoeof(int fd) { return sys([&] { return lseek(fd, 0, SEEK_END); }); }

// --- Names and directories -------------------------------------------------

int qor_fdlib_fileexists(const char *name) {
    struct stat st;
    return sys([&] { return stat(name, &st); }) == 0 ? 1 : 0;
}

int qor_fdlib_checkdir(const char *name) {
    struct stat st;
    if (sys([&] { return stat(name, &st); }) != 0) return 0;
    return S_ISDIR(st.st_mode) ? 1 : 0;
}

int qor_fdlib_dirlist(const char *dirname, qor_dirlist **res) {
    if (!res) return -1;
    *res = nullptr;
    auto *ls = static_cast<qor_dirlist *>(calloc(1, sizeof(qor_dirlist)));
    if (!ls) return -1;
    size_t capacity = 32;
    ls->entries = static_cast<char **>(calloc(capacity, sizeof(char *)));
    if (!ls->entries) {
        free(ls);
        return -1;
    }
    DIR *dir = seam_fails() ? nullptr : opendir(dirname);
    if (!dir) {
        qor_fdlib_dirlist_free(ls);
        return -1;
    }
    bool failed = false;
    for (;;) {
        // readdir signals both the end and an error with null; only errno
        // tells them apart.  A listing cut short by an error is no listing.
        errno = 0;
        struct dirent *e = seam_fails() ? nullptr : readdir(dir);
        if (!e) {
            failed = errno != 0;
            break;
        }
        if (static_cast<size_t>(ls->num) == capacity) {
            void *grown = realloc(ls->entries, 2 * capacity * sizeof(char *));
            if (!grown) {
                failed = true;
                break;
            }
            ls->entries = static_cast<char **>(grown);
            capacity *= 2;
        }
        char *name = strdup(e->d_name);
        if (!name) {
            failed = true;
            break;
        }
        ls->entries[ls->num++] = name;
    }
    int err = errno;
    if (seam_fails()) failed = true;  // closedir: the stream is released anyway
    closedir(dir);
    if (failed) {
        qor_fdlib_dirlist_free(ls);
        errno = err ? err : EIO;
        return -1;
    }
    *res = ls;
    return 0;
}

int qor_fdlib_dirlist_free(qor_dirlist *ls) {
    if (!ls) return 0;
    for (int i = 0; i < ls->num; i++) free(ls->entries[i]);
    free(ls->entries);
    free(ls);
    return 0;
}

// --- Sizes, times and copies ---------------------------------------------------

off_t qor_fdlib_filelen(FILE *in) {
    struct stat st;
    if (!in || sys([&] { return fstat(fileno(in), &st); }) != 0) return -1;
    return st.st_size;
}

time_t qor_fdlib_fdmtime(int fd) {
    struct stat st;
    if (sys([&] { return fstat(fd, &st); }) != 0) return -1;
    return st.st_mtime;
}

off_t qor_fdlib_get_len_from_filename(const char *filename) {
    int fd = qor_fdlib_open(filename, 0, 0);
    if (fd == -1) return -1;
    struct stat st;
    off_t len = sys([&] { return fstat(fd, &st); }) == 0 ? st.st_size : -1;
    qor_fdlib_close(fd);
    return len;
}

int qor_fdlib_finclude_filename(FILE *out, const char *filename) {
    FILE *in = seam_fails() ? nullptr : fopen(filename, "r");
    if (!in) return errno ? errno : EIO;
    int err = copy_lines(out, in);
    fclose(in);
    return err;
}

int qor_fdlib_finclude_file(FILE *out, FILE *file) { return copy_lines(out, file); }

// --- Test seam -------------------------------------------------------------

void qor_fdlib_fail_nth(unsigned long n, int err) {
    g_env_read = true;
    g_trigger = n == 0 ? Trigger{} : Trigger{g_calls + n, false, err};
}

void qor_fdlib_fail_nth_mutation(unsigned long n, int err) {
    g_env_read = true;
    g_trigger = n == 0 ? Trigger{} : Trigger{g_mutations + n, true, err};
}

void qor_fdlib_kill_nth_mutation(unsigned long n) { qor_fdlib_fail_nth_mutation(n, 0); }

unsigned long qor_fdlib_calls(void) { return g_calls; }

unsigned long qor_fdlib_mutations(void) { return g_mutations; }

void qor_fdlib_time_locks(void (*timer)(double seconds)) { g_lock_timer = timer; }

}  // extern "C"
