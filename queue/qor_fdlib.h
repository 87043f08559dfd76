// qor_fdlib: descriptor I/O, POSIX record locks and directory listing.
//
// Every file-system call of the queue store goes through this library, so
// a test can make the n-th call fail with a chosen error number
// (qor_fdlib_fail_nth), and so errno handling lives in one place.
//
// Failure policy: the plain wrappers pass the platform result through with
// errno set; argument errors of the lock calls print a usage line on
// standard error; nothing here logs except qor_fdlib_fdgets (Warning on a
// premature end of file).
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
};

typedef struct qor_dirlist_ {
    int num;                  // number of names
    char **entries;           // owned names, "." and ".." included
} qor_dirlist;

int qor_fdlib_lockfd(int fd, int type, int wait);
int qor_fdlib_unlockfd(int fd);
int qor_fdlib_unlockf(FILE *fp);
int qor_fdlib_rangelockfd(int fd, int type, off_t begin, off_t length, int wait);
int qor_fdlib_rangeunlockfd(int fd, off_t begin, off_t length);
int qor_fdlib_getrangelockfd(int fd, off_t begin, off_t len, int *type);
int qor_fdlib_getlockfd(int fd, int *type);

int qor_fdlib_open(const char *pathname, int in_flags, mode_t mode);
int qor_fdlib_createlockfile(const char *filename);
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

// Test seam: the n-th file-system call from now (1 = the next one) fails
// with error number err.  n = 0 switches the seam off.
void qor_fdlib_fail_nth(unsigned long n, int err);
// Number of file-system calls made through this library so far.
unsigned long qor_fdlib_calls(void);

#ifdef __cplusplus
}
#endif

#endif
