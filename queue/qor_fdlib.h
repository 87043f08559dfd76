// qor_fdlib: descriptor I/O, POSIX record locks and directory listing.
//
// Every file-system call of the queue store goes through this library, so
// a test can make the n-th call fail with a chosen error number
// (qor_fdlib_fail_nth), and so errno handling lives in one place.
//
// Failure policy: the plain wrappers pass the platform result through with
// errno set; argument errors of qor_fdlib_lockfd print a usage line on
// standard error and a failing lock query prints through perror; nothing
// here logs except qor_fdlib_fdgets (Warning on a premature end of file).
// The record-lock protocol and its pitfalls are written down in
// qor_fdlib_inline.h, next to the lock code.
#ifndef BRIX_QUEUE_QOR_FDLIB_H
#define BRIX_QUEUE_QOR_FDLIB_H

#include <stdio.h>
#include <sys/types.h>
#include <time.h>

#ifdef __cplusplus
extern "C" {
#endif

enum { QOR_FDLIB_SHARED = 1, QOR_FDLIB_EXCLUSIVE = 2 };   // lock type
enum { QOR_FDLIB_NOWAIT = 1, QOR_FDLIB_WAIT = 2 };         // lock grant
enum {                                                       // open flags
    QOR_FDLIB_CREATE = 1, QOR_FDLIB_RDWR = 2, QOR_FDLIB_EXCL = 4, QOR_FDLIB_TRUNC = 8
};  // no QOR_FDLIB_RDWR bit: read-only

typedef struct qor_dirlist_ {
    int num;                  // number of names
    char **entries;           // owned names, "." and ".." included
} qor_dirlist;

// Lock, release or query byte 0 (length 1) of a file; -1 on failure.
int qor_fdlib_lockfd(int fd, int type, int wait);
int qor_fdlib_unlockfd(int fd);
int qor_fdlib_unlockf(FILE *fp);
int qor_fdlib_rangelockfd(int fd, int type, off_t begin, off_t length, int wait);
int qor_fdlib_rangeunlockfd(int fd, off_t begin, off_t length);
int qor_fdlib_getrangelockfd(int fd, off_t begin, off_t len, int *type);
int qor_fdlib_getlockfd(int fd, int *type);

int qor_fdlib_open(const char *pathname, int in_flags, mode_t mode);
int qor_fdlib_createlockfile(const char *filename);
// Reads one line of at most size bytes (newline kept) into s, which holds
// size + 1; 0, or nonzero at end of file or on a read error.
int qor_fdlib_fdgets(char *s, int size, int fd);
ssize_t qor_fdlib_read(int fd, void *buf, size_t count);
ssize_t qor_fdlib_write(int fd, const void *buf, size_t count);
int qor_fdlib_close(int fd);
int qor_fdlib_fsync(int fd);
int qor_fdlib_ftruncate(int fd, off_t length);
int qor_fdlib_unlink(const char *name);
int qor_fdlib_mkdir(const char *pathname, mode_t mode);
off_t qor_fdlib_fdrewind(int fd);
off_t qor_fdlib_gotoeof(int fd);
int qor_fdlib_fileexists(const char *name);
int qor_fdlib_checkdir(const char *name);
int qor_fdlib_dirlist(const char *dirname, qor_dirlist **res);
int qor_fdlib_dirlist_free(qor_dirlist *ls);

// Size of an open stream's file, modification time of an open descriptor,
// size of a named file (-1 when it cannot be opened or examined).
off_t qor_fdlib_filelen(FILE *in);
time_t qor_fdlib_fdmtime(int fd);
off_t qor_fdlib_get_len_from_filename(const char *filename);
// Copy a text file line by line to out and flush it; the result is the
// error number left by the copy (0 when all went well) or by the open.
int qor_fdlib_finclude_filename(FILE *out, const char *filename);
int qor_fdlib_finclude_file(FILE *out, FILE *file);

// Descriptor-relative forms, for the queue store's open directories.  An
// interrupted call is made again by every wrapper here (except close).
int qor_fdlib_openat(int dirfd, const char *name, int in_flags, mode_t mode);
int qor_fdlib_opendirfd(int dirfd, const char *name);   // read-only directory descriptor
ssize_t qor_fdlib_pread(int fd, void *buf, size_t count, off_t offset);
ssize_t qor_fdlib_pwrite(int fd, const void *buf, size_t count, off_t offset);
struct iovec;
ssize_t qor_fdlib_pwritev(int fd, const struct iovec *iov, int iovcnt, off_t offset);
int qor_fdlib_unlinkat(int dirfd, const char *name, int flags);
int qor_fdlib_linkat(int olddirfd, const char *oldname, int newdirfd, const char *newname);
int qor_fdlib_renameat(int olddirfd, const char *oldname, int newdirfd, const char *newname);
int qor_fdlib_rename(const char *oldname, const char *newname);
int qor_fdlib_mkdirat(int dirfd, const char *name, mode_t mode);
struct stat;
int qor_fdlib_fstatat(int dirfd, const char *name, struct stat *st);  // no symlink followed
int qor_fdlib_fstat(int fd, struct stat *st);
// Flushes a directory (its names: creations, renames, removals) to disk.
int qor_fdlib_syncdir(const char *path);
// Replaces the file at path with data, whole or not at all: the data goes
// into the file tmp (created or emptied, mode `mode`, never through a
// symbolic link), is flushed, renamed over path, and the directory is
// flushed.  0; -1 when tmp could not be written, -2 when the rename
// failed, -3 when the directory could not be flushed (errno set; tmp is
// removed on -1 and -2).
int qor_fdlib_replace_file(const char *path, const char *tmp, const void *data, size_t len, mode_t mode);

// Test seam.  Every platform call counts as a call: open, close, read,
// pread, write, pwrite, fsync, ftruncate, lseek, unlink, link, rename,
// mkdir, stat, fstat, fcntl, opendir, readdir, closedir, fopen.  Those that
// change the file system (an open that creates or truncates, writes,
// fsync, ftruncate, unlink, link, rename, mkdir) count as mutations too.
// qor_fdlib_fail_nth: the n-th call from now (1 = the next one) fails with
// error number err, once; n = 0 switches the seam off.
// qor_fdlib_fail_nth_mutation: the same, counting mutations only.
// qor_fdlib_kill_nth_mutation: the process kills itself with SIGKILL just
// before its n-th mutation from now, as a crash at that point would.
// The environment variable BRIX_FS_SEAM="kill:N" or "fail:N:EIO" (ENOSPC,
// EINTR, EROFS, EDQUOT, ENOLCK, EDEADLK) arms the same in a program at its
// first file-system call.
void qor_fdlib_fail_nth(unsigned long n, int err);
void qor_fdlib_fail_nth_mutation(unsigned long n, int err);
void qor_fdlib_kill_nth_mutation(unsigned long n);
// Numbers of file-system calls and of mutations made so far.
unsigned long qor_fdlib_calls(void);
unsigned long qor_fdlib_mutations(void);
// Measurement: timer (null: none) is told the seconds each waiting lock
// request took, granted or not.
void qor_fdlib_time_locks(void (*timer)(double seconds));

#ifdef __cplusplus
}
#endif

#endif
