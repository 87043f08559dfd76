// qor_fdlib_inline: the file-system calls of the queue store, inline, and
// the test seam they all pass.
//
// A queue operation makes its calls by the hundred, and on a machine whose
// kernel entry empties the processor's return predictions, every function
// that a call returns through costs more than the wrapper's own work (about
// 20 ns a frame).  So the calls the queue code makes are inline here: the
// platform call returns straight into the queue code.  The qor_fdlib_*
// functions are these same forms for every other caller.
//
// Failure policy: as qor_fdlib.h.  Each call passes the platform result
// through with errno set; an interrupted call is made again; a lock
// request with a bad type or grant goes to qor_fdlib_lockfd, which prints
// the usage line.  Nothing here logs.
#ifndef BRIX_QUEUE_QOR_FDLIB_INLINE_H
#define BRIX_QUEUE_QOR_FDLIB_INLINE_H

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>

#include "queue/qor_fdlib.h"

// Forced: the compiler would keep a wrapper called from many places out
// of line, and each call would return through it again.
#define QOR_FDLIB_INLINE [[gnu::always_inline]] inline

namespace qor_fdlib {

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

extern unsigned long g_calls;
extern unsigned long g_mutations;
extern Trigger g_trigger;
extern bool g_env_read;       // BRIX_FS_SEAM looked at
// Measurement hook: told how long each waiting lock request took.
extern void (*g_lock_timer)(double seconds);

// The rare part of seam_fires: a trigger is armed, or the environment is
// still to be read.
bool seam_armed(Kind kind);

// True when the call being made now must fail (errno is then set).  A kill
// trigger does not return.  Counting is all a call costs when nothing is
// armed.
QOR_FDLIB_INLINE bool seam_fires(Kind kind = Kind::read) {
    ++g_calls;
    if (kind == Kind::mutate) ++g_mutations;
    if (__builtin_expect(g_env_read && g_trigger.at == 0, 1)) return false;
    return seam_armed(kind);
}

// Runs one platform call that reports failure as -1.  An interrupted call
// is made again: a signal is no reason for a file operation to fail.
template <typename Call>
QOR_FDLIB_INLINE auto sys(Kind kind, Call call) -> decltype(call()) {
    for (;;) {
        auto r = seam_fires(kind) ? static_cast<decltype(call())>(-1) : call();
        // The answer is laid out to follow the call: a failure is rare.
        if (__builtin_expect(r == -1, 0) && errno == EINTR) continue;
        return r;
    }
}
template <typename Call>
QOR_FDLIB_INLINE auto sys(Call call) -> decltype(call()) {
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
//   (6) Waiting for a second lock while holding a first one can close a
//       cycle with a process that takes the two the other way round (the
//       library moves auth -> unauth while the daemon moves unauth ->
//       auth).  The kernel reports only some such cycles (EDEADLK), and none
//       across the machines of a network file system.  So whoever holds one
//       queue lock takes another only without waiting, retrying after a
//       short pause, and gives up after a bounded time.
//
//   (7) Locks are not inherited across fork(): a child starts with none,
//       even though it shares the parent's descriptors.  They do survive
//       exec() on descriptors that stay open.
//
//   (8) Locks are advisory.  They exclude only processes that ask for them
//       the same way, on the same byte; a process that writes without
//       locking is not stopped.  Both programs must lock byte 0, length 1,
//       not the whole file (a whole-file lock would conflict with a
//       one-byte lock, but a different range would not).
// ---------------------------------------------------------------------------

// A lock request of `type` over length bytes from offset begin.
inline struct flock lock_range(short type, off_t begin, off_t length) {
    struct flock fl = {};
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = begin;
    fl.l_len = length;
    return fl;
}

// A waiting lock request timed for g_lock_timer; the fcntl result.
int timed_lock(int fd, struct flock *fl);

// Sets one lock request; returns the fcntl result (0 or -1).
QOR_FDLIB_INLINE int set_lock(int fd, short type, off_t begin, off_t length, int cmd) {
    struct flock fl = lock_range(type, begin, length);
    if (__builtin_expect(g_lock_timer != nullptr, 0) && cmd == F_SETLKW && type != F_UNLCK)
        return timed_lock(fd, &fl);
    return sys([&] { return fcntl(fd, cmd, &fl); });
}

struct LockKind {
    int type;      // QOR_FDLIB_SHARED / QOR_FDLIB_EXCLUSIVE
    short fcntl;   // matching platform lock type
};
inline constexpr LockKind kLockKinds[] = {
    {QOR_FDLIB_SHARED, F_RDLCK},
    {QOR_FDLIB_EXCLUSIVE, F_WRLCK},
};

// Platform lock type of a library lock type; -1 for a bad one.
inline short lock_type_of(int type) {
    for (const auto &k : kLockKinds)
        if (k.type == type) return k.fcntl;
    return -1;
}

// fcntl command of a lock grant; -1 for a bad one.
inline int lock_cmd_of(int wait) {
    return wait == QOR_FDLIB_NOWAIT ? F_SETLK : wait == QOR_FDLIB_WAIT ? F_SETLKW : -1;
}

// Lock byte 0 of fd (qor_fdlib_lockfd).
QOR_FDLIB_INLINE int lockfd(int fd, int type, int wait) {
    short ltype = lock_type_of(type);
    int cmd = lock_cmd_of(wait);
    if (fd == -1 || ltype == -1 || cmd == -1) return qor_fdlib_lockfd(fd, type, wait);
    return set_lock(fd, ltype, 0, 1, cmd);
}

// Release byte 0 of fd (qor_fdlib_unlockfd).  A release that fails would
// leave the lock held until the descriptor closes, blocking every other
// process: it is tried again.
QOR_FDLIB_INLINE int unlockfd(int fd) {
    if (fd == -1) return 0;
    for (int tries = 0; tries < 3; tries++)
        if (set_lock(fd, F_UNLCK, 0, 1, F_SETLKW) == 0) return 0;
    return -1;
}

// ---------------------------------------------------------------------------
// Descriptors.

struct OpenFlag {
    int bit;       // library flag bit
    int platform;  // open(2) flag it stands for
};
inline constexpr OpenFlag kOpenFlags[] = {
    {QOR_FDLIB_CREATE, O_CREAT},
    {QOR_FDLIB_EXCL, O_EXCL},
    {QOR_FDLIB_TRUNC, O_TRUNC},
};

// The open(2) flags of library open flags.  Descriptors of the queue store
// must not leak into programs that the interpreter starts.
inline int platform_flags(int in_flags) {
    int flags = (in_flags & QOR_FDLIB_RDWR) ? O_RDWR : O_RDONLY;
    for (const auto &f : kOpenFlags)
        if (in_flags & f.bit) flags |= f.platform;
    return flags | O_CLOEXEC;
}

// An open that creates or truncates changes the file system.
inline Kind open_kind(int flags) {
    return (flags & (O_CREAT | O_TRUNC)) ? Kind::mutate : Kind::read;
}

QOR_FDLIB_INLINE int openat(int dirfd, const char *name, int in_flags, mode_t mode) {
    int flags = platform_flags(in_flags);
    return sys(open_kind(flags), [&] { return ::openat(dirfd, name, flags, mode); });
}

QOR_FDLIB_INLINE ssize_t pread(int fd, void *buf, size_t count, off_t offset) {
    return sys([&] { return ::pread(fd, buf, count, offset); });
}

QOR_FDLIB_INLINE ssize_t pwrite(int fd, const void *buf, size_t count, off_t offset) {
    return sys(Kind::mutate, [&] { return ::pwrite(fd, buf, count, offset); });
}

QOR_FDLIB_INLINE ssize_t pwritev(int fd, const struct iovec *iov, int iovcnt, off_t offset) {
    return sys(Kind::mutate, [&] { return ::pwritev(fd, iov, iovcnt, offset); });
}

// The descriptor is released even when the seam reports a failure, as
// Linux releases it whatever close() returns.
QOR_FDLIB_INLINE int close(int fd) {
    if (seam_fires()) {
        int err = errno;
        ::close(fd);
        errno = err;
        return -1;
    }
    return ::close(fd);
}

QOR_FDLIB_INLINE int fsync(int fd) { return sys(Kind::mutate, [&] { return ::fsync(fd); }); }

QOR_FDLIB_INLINE int unlinkat(int dirfd, const char *name, int flags) {
    return sys(Kind::mutate, [&] { return ::unlinkat(dirfd, name, flags); });
}

QOR_FDLIB_INLINE int linkat(int olddirfd, const char *oldname, int newdirfd, const char *newname) {
    return sys(Kind::mutate, [&] { return ::linkat(olddirfd, oldname, newdirfd, newname, 0); });
}

QOR_FDLIB_INLINE int renameat(int olddirfd, const char *oldname, int newdirfd, const char *newname) {
    return sys(Kind::mutate, [&] { return ::renameat(olddirfd, oldname, newdirfd, newname); });
}

// No symbolic link followed.
QOR_FDLIB_INLINE int fstatat(int dirfd, const char *name, struct stat *st) {
    return sys([&] { return ::fstatat(dirfd, name, st, AT_SYMLINK_NOFOLLOW); });
}

}  // namespace qor_fdlib

#endif
