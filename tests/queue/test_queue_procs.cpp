// Queue store across real processes: the queue lock and the index locks
// block other processes, concurrent puts lose nothing, and a reader never
// sees an item halfway through its replacement.
#include <gtest/gtest.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "queue/bx_queue.h"
#include "queue/qor_fdlib.h"
#include "tests/queue/queue_test_util.h"
#include "tests/testutil.h"

using qtest::Queue;

namespace {

struct Pipe {
    Pipe() {
        if (pipe(fd) != 0) fd[0] = fd[1] = -1;
    }
    ~Pipe() {
        close(fd[0]);
        close(fd[1]);
    }
    void put(char c) const { (void)!write(fd[1], &c, 1); }
    char get() const {
        char c = 0;
        return read(fd[0], &c, 1) == 1 ? c : 0;
    }
    int fd[2];
};

// A child that opens its own queue, says 'r', runs step (which may block
// on a lock the parent holds) and then reports 'D'.
pid_t blocked_child(const Queue &q, const Pipe &ready, const Pipe &done,
                    int (*step)(bx_queue)) {
    std::string spool = q.spool.path();
    return qtest::spawn([&, spool] {
        bx_queue cq = bx_queue_open("new", 0, spool.c_str());
        if (!cq) return 3;
        ready.put('r');
        int rc = step(cq);
        done.put('D');
        bx_queue_close(cq, 0);
        return rc;
    });
}

// The child is held back while the parent holds a lock, and goes on once
// the parent lets go.
void expect_blocked_until(const Pipe &ready, const Pipe &done, pid_t pid,
                          const std::function<void()> &release) {
    ASSERT_EQ(ready.get(), 'r');
    EXPECT_FALSE(qtest::readable_within(done.fd[0], 150)) << "child was not blocked";
    release();
    EXPECT_TRUE(qtest::readable_within(done.fd[0], 5000)) << "child never went on";
    EXPECT_EQ(done.get(), 'D');
    EXPECT_EQ(qtest::wait_exit(pid), 0);
}

TEST(QueueProcs, QueueLockBlocksAnotherProcess) {
    Queue q;
    ASSERT_EQ(bx_queue_lockqueue(q.q), 0);
    Pipe ready, done;
    pid_t pid = blocked_child(q, ready, done, [](bx_queue cq) {
        int rc = bx_queue_lockqueue(cq);
        bx_queue_unlockqueue(cq);
        return rc == 0 ? 0 : 1;
    });
    expect_blocked_until(ready, done, pid, [&] { EXPECT_EQ(bx_queue_unlockqueue(q.q), 0); });
}

TEST(QueueProcs, OperationsWaitForTheIndexLock) {
    Queue q;
    // Holding ".dblock" exclusively stands for another process in the
    // middle of a put or a delete.
    ASSERT_EQ(qor_fdlib_lockfd(q.q->dblockfd, QOR_FDLIB_EXCLUSIVE, QOR_FDLIB_WAIT), 0);
    Pipe ready, done;
    pid_t pid = blocked_child(q, ready, done, [](bx_queue cq) {
        return bx_queue_put(cq, "x", 1, "CHILDXXX") == 2 ? 0 : 1;
    });
    expect_blocked_until(ready, done, pid, [&] { qor_fdlib_unlockfd(q.q->dblockfd); });
    EXPECT_EQ(bx_queue_count(q.q), 1);

    // A count waits for a writer too, but not for another reader.
    ASSERT_EQ(qor_fdlib_lockfd(q.q->dblockfd, QOR_FDLIB_SHARED, QOR_FDLIB_WAIT), 0);
    pid = qtest::spawn([&] {
        bx_queue cq = bx_queue_open("new", 0, q.spool.path().c_str());
        return cq && bx_queue_count(cq) == 1 ? 0 : 1;
    });
    EXPECT_EQ(qtest::wait_exit(pid), 0);
    qor_fdlib_unlockfd(q.q->dblockfd);
}

TEST(QueueProcs, ConcurrentPutsLoseNothing) {
    Queue q;
    constexpr int kChildren = 4, kPuts = 25;
    std::string spool = q.spool.path();
    pid_t pids[kChildren];
    for (int c = 0; c < kChildren; c++) {
        pids[c] = qtest::spawn([c, spool] {
            bx_queue cq = bx_queue_open("new", 0, spool.c_str());
            if (!cq) return 3;
            for (int i = 0; i < kPuts; i++) {
                char key[16], data[16];
                snprintf(key, sizeof key, "W%dN%02dXXX", c, i);
                snprintf(data, sizeof data, "%d/%d", c, i);
                if (bx_queue_put(cq, data, static_cast<int>(strlen(data)), key) < 2) return 1;
            }
            bx_queue_close(cq, 0);
            return 0;
        });
    }
    for (pid_t pid : pids) EXPECT_EQ(qtest::wait_exit(pid), 0);
    EXPECT_EQ(bx_queue_count(q.q), kChildren * kPuts);
    EXPECT_EQ(q.read(".index"), std::to_string(1 + kChildren * kPuts) + "\n");
    for (int c = 0; c < kChildren; c++) {
        for (int i = 0; i < kPuts; i++) {
            char key[16], data[16];
            snprintf(key, sizeof key, "w%dn%02d", c, i);
            snprintf(data, sizeof data, "%d/%d", c, i);
            bx_queue_item qi = bx_queue_find_item(q.q, key);
            ASSERT_NE(qi, nullptr) << key;
            EXPECT_EQ(std::string(qi->buf, qi->size), data);
            bx_queue_item_close(q.q, qi);
        }
    }
}

// Version v of the replaced item: two digits, then a run of one letter
// whose length varies from version to version.
std::string version(int v) {
    char head[3];
    snprintf(head, sizeof head, "%02d", v);
    return head + std::string(1 + (v * 997) % 3000, static_cast<char>('a' + v % 26));
}

TEST(QueueProcs, ReaderNeverSeesAHalfReplacedItem) {
    Queue q;
    constexpr int kVersions = 60;
    std::string first = version(0);
    ASSERT_EQ(bx_queue_put(q.q, first.data(), static_cast<int>(first.size()), "HALFXXXX"), 2);
    std::string spool = q.spool.path();
    pid_t writer = qtest::spawn([spool] {
        bx_queue cq = bx_queue_open("new", 0, spool.c_str());
        for (int v = 1; v < kVersions; v++) {
            std::string d = version(v);
            if (bx_queue_put(cq, d.data(), static_cast<int>(d.size()), "HALFXXXX") < 2) return 1;
        }
        return 0;
    });
    pid_t reader = qtest::spawn([spool] {
        bx_queue cq = bx_queue_open("new", 0, spool.c_str());
        time_t until = time(nullptr) + 10;
        int last = 0;
        while (last < kVersions - 1 && time(nullptr) < until) {
            bx_queue_item qi = bx_queue_find_item(cq, "half");
            if (!qi) return 2;  // the key vanished for a moment
            int v = atoi(std::string(qi->buf, 2).c_str());
            bool whole = v >= last && std::string(qi->buf, qi->size) == version(v);
            bx_queue_item_close(cq, qi);
            if (!whole) return 1;
            last = v;
        }
        return last == kVersions - 1 ? 0 : 3;
    });
    EXPECT_EQ(qtest::wait_exit(writer), 0);
    EXPECT_EQ(qtest::wait_exit(reader), 0);
    EXPECT_EQ(bx_queue_count(q.q), 1);
}

}  // namespace
