// Helpers for the queue store tests: an open queue in a scratch directory,
// child processes, umask and file-descriptor bookkeeping.
#ifndef BRIX_TESTS_QUEUE_QUEUE_TEST_UTIL_H
#define BRIX_TESTS_QUEUE_QUEUE_TEST_UTIL_H

#include <dirent.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>

#include "queue/bx_queue.h"
#include "tests/testutil.h"

namespace qtest {

// Sets the umask for the life of the object.
class Umask {
public:
    explicit Umask(mode_t m) : old_(umask(m)) {}
    ~Umask() { umask(old_); }

private:
    mode_t old_;
};

// One queue opened in a fresh spool directory.
struct Queue {
    // A scratch spool under $TMPDIR, or under `under` (e.g. /dev/shm).
    explicit Queue(const char *name = "new", const char *under = nullptr) : spool(under), qname(name) {
        q = bx_queue_open(name, 0, spool.path().c_str());
    }
    ~Queue() { bx_queue_close(q, 0); }
    Queue(const Queue &) = delete;
    Queue &operator=(const Queue &) = delete;
    std::string dir() const { return spool.path() + "/" + qname; }
    std::string file(const std::string &name) const { return dir() + "/" + name; }
    std::string read(const std::string &name) const { return testutil::read_file(file(name)); }
    void write(const std::string &name, const std::string &data) const {
        testutil::write_file(file(name), data);
    }
    std::vector<std::string> files() const { return testutil::list_dir(dir()); }

    testutil::TempDir spool;
    std::string qname;
    bx_queue q;
};

// Runs body in a child process, which ends with _exit(body's result) and
// never returns into the test runner.  A stuck child is killed after 20 s.
inline pid_t spawn(const std::function<int()> &body) {
    pid_t pid = fork();
    if (pid == 0) {
        alarm(20);
        int rc = 100;
        try {
            rc = body();
        } catch (...) {
        }
        _exit(rc);
    }
    return pid;
}

// Exit status of a child; -1 when it did not exit normally.
inline int wait_exit(pid_t pid) {
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// True when fd becomes readable within ms milliseconds.
inline bool readable_within(int fd, int ms) {
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, ms) == 1;
}

inline int open_fd_count() {
    int n = 0;
    DIR *d = opendir("/proc/self/fd");
    if (!d) return -1;
    while (readdir(d)) n++;
    closedir(d);
    return n;
}

}  // namespace qtest

#endif
