// bx_debug_error: errno to compact code and back.  See bx_debug_error.h.
#include "session/bx_debug_error.h"

#include <cerrno>
#include <cstring>

namespace {

constexpr int kFirstCode = -2;    // code of the first table entry

// The error numbers, in code order: entry i has code kFirstCode - i.
constexpr int kErrors[] = {
    EACCES,     EAGAIN,  EBADF,   EBADMSG,   EBUSY,        ECANCELED, ECHILD,  EDEADLK,
    EDOM,       EEXIST,  EFAULT,  EFBIG,     EINPROGRESS,  EINTR,     EINVAL,  EIO,
    EISDIR,     EMFILE,  EMLINK,  EMSGSIZE,  ENAMETOOLONG, ENFILE,    ENODEV,  ENOENT,
    ENOEXEC,    ENOLCK,  ENOMEM,  ENOSPC,    ENOSYS,       ENOTDIR,   ENOTEMPTY, ENOTSUP,
    ENOTTY,     ENXIO,   EPERM,   EPIPE,     ERANGE,       EROFS,     ESPIPE,  ESRCH,
    ETIMEDOUT,  E2BIG,   EXDEV,
};
constexpr int kCount = sizeof kErrors / sizeof kErrors[0];
constexpr int kLastCode = kFirstCode - (kCount - 1);
static_assert(kLastCode == -44, "the error table ends at code -44");

}  // namespace

extern "C" {

int bx_debug_error(void) {
    int err = errno;
    if (err == 0) return 0;
    for (int i = 0; i < kCount; i++)
        if (kErrors[i] == err) return kFirstCode - i;
    return -1;
}

const char *bx_debug_strerror(int code) {
    if (code == 0) return "no error";
    if (code == -1) return "unknown error";
    if (code <= kFirstCode && code >= kLastCode) return strerror(kErrors[kFirstCode - code]);
    return "problem with error reporting";
}

}  // extern "C"
