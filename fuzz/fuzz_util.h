// fuzz_util: what the fuzz targets share.
//
// Every target defines LLVMFuzzerTestOneInput and is built twice: linked
// with libFuzzer by `make fuzz` (build-fuzz, clang), and linked with
// replay_main.cpp into a program that `make test` runs over the committed
// corpus (build, build-asan).  A target is deterministic, frees what it
// takes, sends the library's log lines to a sink that only checks them
// (never to syslog), and touches no file outside the scratch directory
// made here.
//
// Failure policy: a broken expectation aborts (so both libFuzzer and the
// replay report it with the input that did it); a scratch directory that
// cannot be made aborts at once, since the target could not run.
#ifndef BRIX_FUZZ_FUZZ_UTIL_H
#define BRIX_FUZZ_FUZZ_UTIL_H

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "support/qor_log.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace fuzz {

// Aborts with a message naming the broken expectation.
#define FUZZ_CHECK(cond)                                                              \
    do {                                                                              \
        if (!(cond)) {                                                                \
            fprintf(stderr, "%s:%d: expectation failed: %s\n", __FILE__, __LINE__, #cond); \
            abort();                                                                  \
        }                                                                             \
    } while (0)

// A log line must be one terminated line of at most the logger's 4096
// bytes; reading it through lets the sanitizers check every byte.
inline void check_line(int, const char *line, void *) {
    FUZZ_CHECK(line != nullptr);
    size_t n = strnlen(line, 4096);
    FUZZ_CHECK(n < 4096);
}

// Sends the library's log lines to check_line for the life of the process.
inline void silence_log() { qor_log_set_sink(check_line, nullptr); }

inline std::string_view bytes(const uint8_t *data, size_t size) {
    return {reinterpret_cast<const char *>(data), size};
}

// Removes path and everything under it; symbolic links are not followed.
inline void remove_tree(const std::string &path) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return;
    if (!S_ISDIR(st.st_mode)) {
        unlink(path.c_str());
        return;
    }
    if (DIR *d = opendir(path.c_str())) {
        while (dirent *e = readdir(d)) {
            std::string_view name = e->d_name;
            if (name != "." && name != "..") remove_tree(path + "/" + e->d_name);
        }
        closedir(d);
    }
    rmdir(path.c_str());
}

// The process's own directory under $TMPDIR (else /tmp), made on first use
// and removed when the process exits.
inline const std::string &scratch_dir() {
    static const std::string dir = [] {
        const char *tmp = getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/brix-fuzz-XXXXXX";
        if (!mkdtemp(pattern.data())) {
            perror("brix fuzz: cannot make a scratch directory");
            abort();
        }
        return pattern;
    }();
    static const bool cleanup = [] { return atexit([] { remove_tree(scratch_dir()); }) == 0; }();
    (void)cleanup;
    return dir;
}

// Makes path hold exactly data; aborts when it cannot.  The file is
// rewritten in place and then cut to length, never emptied first: a file
// system may flush a file that was emptied and written again at its close,
// which would slow every run down to the disk's pace.
inline void write_file(const std::string &path, std::string_view data) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT, 0600);
    FUZZ_CHECK(fd >= 0);
    FUZZ_CHECK(pwrite(fd, data.data(), data.size(), 0) == static_cast<ssize_t>(data.size()));
    FUZZ_CHECK(ftruncate(fd, static_cast<off_t>(data.size())) == 0);
    FUZZ_CHECK(close(fd) == 0);
}

// The whole contents of a file ("" when it cannot be read).
inline std::string read_file(const std::string &path) {
    std::string out;
    int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0) return out;
    char buf[4096];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
    close(fd);
    return out;
}

}  // namespace fuzz

#endif
