// qor_fdlib: descriptor I/O, POSIX record locks and directory listing for
// the queue store and the protocol commands.
//
// Every platform file-system call goes through sys() (qor_fdlib_inline.h,
// where the queue store's calls are inline), which counts it and lets the
// test seam make one chosen call fail.  The plain wrappers pass the
// platform result through with errno set.  Bad arguments of
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

#include "queue/qor_fdlib_inline.h"
#include "support/qor_log.h"

namespace {

using qor_fdlib::g_calls;
using qor_fdlib::g_env_read;
using qor_fdlib::g_lock_timer;
using qor_fdlib::g_mutations;
using qor_fdlib::g_trigger;
using qor_fdlib::Kind;
using qor_fdlib::lock_cmd_of;
using qor_fdlib::lock_range;
using qor_fdlib::lock_type_of;
using qor_fdlib::open_kind;
using qor_fdlib::platform_flags;
using qor_fdlib::seam_fires;
using qor_fdlib::set_lock;
using qor_fdlib::sys;
using qor_fdlib::Trigger;

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

// seam_fires for calls made through a stream or listing, which are not
// repeated on EINTR by sys(): an injected interruption is passed over.
bool seam_fails(Kind kind = Kind::read) {
    while (seam_fires(kind))
        if (errno != EINTR) return true;
    return false;
}

// The record-lock protocol and its pitfalls are written down in
// qor_fdlib_inline.h, next to set_lock.  The queries and range locks here
// are the rare ones.

double now_seconds() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
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

namespace qor_fdlib {

unsigned long g_calls = 0;
unsigned long g_mutations = 0;
Trigger g_trigger;
bool g_env_read = false;
void (*g_lock_timer)(double seconds) = nullptr;

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

int timed_lock(int fd, struct flock *fl) {
    double start = now_seconds();
    int r = sys([&] { return fcntl(fd, F_SETLKW, fl); });
    g_lock_timer(now_seconds() - start);
    return r;
}

}  // namespace qor_fdlib

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

int qor_fdlib_unlockfd(int fd) { return qor_fdlib::unlockfd(fd); }

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
    return qor_fdlib::openat(dirfd, name, in_flags, mode);
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
    return qor_fdlib::pread(fd, buf, count, offset);
}

ssize_t qor_fdlib_pwrite(int fd, const void *buf, size_t count, off_t offset) {
    return qor_fdlib::pwrite(fd, buf, count, offset);
}

ssize_t qor_fdlib_pwritev(int fd, const struct iovec *iov, int iovcnt, off_t offset) {
    return qor_fdlib::pwritev(fd, iov, iovcnt, offset);
}

int qor_fdlib_close(int fd) { return qor_fdlib::close(fd); }

int qor_fdlib_fsync(int fd) { return qor_fdlib::fsync(fd); }

int qor_fdlib_ftruncate(int fd, off_t length) {
    return sys(Kind::mutate, [&] { return ftruncate(fd, length); });
}

int qor_fdlib_unlink(const char *name) { return sys(Kind::mutate, [&] { return unlink(name); }); }

int qor_fdlib_unlinkat(int dirfd, const char *name, int flags) {
    return qor_fdlib::unlinkat(dirfd, name, flags);
}

int qor_fdlib_linkat(int olddirfd, const char *oldname, int newdirfd, const char *newname) {
    return qor_fdlib::linkat(olddirfd, oldname, newdirfd, newname);
}

int qor_fdlib_renameat(int olddirfd, const char *oldname, int newdirfd, const char *newname) {
    return qor_fdlib::renameat(olddirfd, oldname, newdirfd, newname);
}

int qor_fdlib_rename(const char *oldname, const char *newname) {
    return sys(Kind::mutate, [&] { return rename(oldname, newname); });
}

int qor_fdlib_fstatat(int dirfd, const char *name, struct stat *st) {
    return qor_fdlib::fstatat(dirfd, name, st);
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
