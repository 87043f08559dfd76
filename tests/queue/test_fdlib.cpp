// File library: lock arguments, record locks between processes, line
// reading, open flags and modes, directory listing, the failure seam.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <set>
#include <string>

#include "queue/qor_fdlib.h"
#include "tests/queue/queue_test_util.h"
#include "tests/testutil.h"

using testutil::LogCapture;
using testutil::TempDir;

namespace {

TEST(FdlibLock, BadArgumentsPrintUsageLines) {
    TempDir dir;
    int fd = qor_fdlib_createlockfile((dir / "l").c_str());
    ASSERT_GE(fd, 0);
    const std::string ltype = "Usage error: QOR_FDLIB_LTYPE var not set.\n";
    const std::string lgrant = "Usage error: QOR_FDLIB_LGRANT var not set.\n";
    struct Case {
        int fd, type, wait;
        std::string err;
    } cases[] = {
        {fd, 3, 2, ltype},          {fd, 0, 1, ltype},  {fd, 1, 3, lgrant},
        {fd, 2, 0, lgrant},         {fd, 3, 3, ltype + lgrant},
        {-1, 2, 2, ""},             {-1, 3, 3, ""},
    };
    for (const auto &c : cases) {
        testing::internal::CaptureStderr();
        int r = qor_fdlib_lockfd(c.fd, c.type, c.wait);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.err) << c.type << "/" << c.wait;
        EXPECT_EQ(r, -1);
    }
    testing::internal::CaptureStderr();
    EXPECT_EQ(qor_fdlib_unlockfd(-1), 0);
    EXPECT_EQ(qor_fdlib_rangelockfd(fd, 3, 0, 1, 2), -1);
    EXPECT_EQ(qor_fdlib_rangelockfd(fd, 1, 0, 1, 9), -1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    close(fd);
}

// Tries a non-waiting lock from a child process; returns the child's view:
// 0 granted, 1 refused.
int child_try_lock(const std::string &path, int type, off_t begin = 0, off_t len = 1) {
    pid_t pid = fork();
    if (pid == 0) {
        alarm(10);
        int fd = open(path.c_str(), O_RDWR);
        int r = qor_fdlib_rangelockfd(fd, type, begin, len, QOR_FDLIB_NOWAIT);
        _exit(r == 0 ? 0 : 1);
    }
    return qtest::wait_exit(pid);
}

TEST(FdlibLock, LocksExcludeOtherProcessesOnByteZeroOnly) {
    TempDir dir;
    std::string path = dir / "l";
    int fd = qor_fdlib_createlockfile(path.c_str());
    ASSERT_GE(fd, 0);
    ASSERT_EQ(qor_fdlib_lockfd(fd, QOR_FDLIB_SHARED, QOR_FDLIB_WAIT), 0);
    EXPECT_EQ(child_try_lock(path, QOR_FDLIB_SHARED), 0);
    EXPECT_EQ(child_try_lock(path, QOR_FDLIB_EXCLUSIVE), 1);
    ASSERT_EQ(qor_fdlib_lockfd(fd, QOR_FDLIB_EXCLUSIVE, QOR_FDLIB_NOWAIT), 0);
    EXPECT_EQ(child_try_lock(path, QOR_FDLIB_SHARED), 1);
    EXPECT_EQ(child_try_lock(path, QOR_FDLIB_EXCLUSIVE, 1, 1), 0);  // byte 1 is free
    ASSERT_EQ(qor_fdlib_unlockfd(fd), 0);
    EXPECT_EQ(child_try_lock(path, QOR_FDLIB_EXCLUSIVE), 0);
    close(fd);
}

TEST(FdlibLock, ClosingAnyDescriptorDropsTheProcessLock) {
    TempDir dir;
    std::string path = dir / "l";
    int fd = qor_fdlib_createlockfile(path.c_str());
    ASSERT_EQ(qor_fdlib_lockfd(fd, QOR_FDLIB_EXCLUSIVE, QOR_FDLIB_WAIT), 0);
    int other = qor_fdlib_open(path.c_str(), QOR_FDLIB_RDWR, 0);
    ASSERT_GE(other, 0);
    // A second descriptor in the same process shares the lock: no conflict.
    EXPECT_EQ(qor_fdlib_lockfd(other, QOR_FDLIB_EXCLUSIVE, QOR_FDLIB_NOWAIT), 0);
    EXPECT_EQ(child_try_lock(path, QOR_FDLIB_SHARED), 1);
    qor_fdlib_close(other);
    EXPECT_EQ(child_try_lock(path, QOR_FDLIB_SHARED), 0);
    close(fd);
}

TEST(FdlibIo, FdgetsReadsOneLineAndDropsTheOverflowByte) {
    TempDir dir;
    struct Case {
        std::string content;
        int size;
        int rc;                 // 0 or "failed"
        std::string line;       // when rc == 0
        std::string rest;       // what the next read sees
    } cases[] = {
        {"abc\ndef\n", 100, 0, "abc\n", "def\n"},
        {"\nx", 100, 0, "\n", "x"},
        {"abcdef\n", 3, 0, "abc", "ef\n"},  // 'd' is lost
        {"abc", 0, 0, "", "bc"},
        {"abc", 100, -1, "", ""},           // no newline before the end
        {"", 100, -1, "", ""},
    };
    for (const auto &c : cases) {
        std::string path = dir / "f";
        testutil::write_file(path, c.content);
        int fd = qor_fdlib_open(path.c_str(), 0, 0);
        ASSERT_GE(fd, 0);
        char buf[128];
        memset(buf, '#', sizeof buf);
        LogCapture log;
        int rc = qor_fdlib_fdgets(buf, c.size, fd);
        if (c.rc == 0) {
            EXPECT_EQ(rc, 0) << c.content;
            EXPECT_EQ(std::string(buf), c.line);
            char rest[64] = {0};
            ssize_t n = read(fd, rest, sizeof rest - 1);
            EXPECT_EQ(std::string(rest, n > 0 ? n : 0), c.rest);
            EXPECT_TRUE(log.lines().empty());
        } else {
            EXPECT_NE(rc, 0) << c.content;
            EXPECT_EQ(log.texts(), std::vector<std::string>{"Warning: Read returned 0 in fdgets!\n\n"});
        }
        close(fd);
    }
}

TEST(FdlibIo, OpenFlagsAndModes) {
    TempDir dir;
    qtest::Umask um(0);
    std::string f = dir / "f";
    EXPECT_EQ(qor_fdlib_open(f.c_str(), 2, 0600), -1);  // must exist
    EXPECT_EQ(errno, ENOENT);
    int fd = qor_fdlib_open(f.c_str(), 7, 0600);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(qor_fdlib_write(fd, "hello", 5), 5);
    qor_fdlib_close(fd);
    EXPECT_EQ(testutil::file_mode(f), 0600);
    EXPECT_EQ(qor_fdlib_open(f.c_str(), 7, 0600), -1);  // exists already
    EXPECT_EQ(errno, EEXIST);
    fd = qor_fdlib_open(f.c_str(), 3, 0600);
    EXPECT_EQ(qor_fdlib_gotoeof(fd), 5);
    EXPECT_EQ(qor_fdlib_fdrewind(fd), 0);
    qor_fdlib_close(fd);
    EXPECT_EQ(testutil::read_file(f), "hello");
    fd = qor_fdlib_open(f.c_str(), 10, 0600);
    qor_fdlib_close(fd);
    EXPECT_EQ(testutil::read_file(f), "");

    std::string l = dir / "l";
    fd = qor_fdlib_createlockfile(l.c_str());
    ASSERT_GE(fd, 0);
    qor_fdlib_close(fd);
    EXPECT_EQ(testutil::file_mode(l), 0666);
    EXPECT_EQ(qor_fdlib_fileexists(l.c_str()), 1);
    EXPECT_EQ(qor_fdlib_checkdir(l.c_str()), 0);
    EXPECT_EQ(qor_fdlib_checkdir(dir.path().c_str()), 1);
    EXPECT_EQ(qor_fdlib_fileexists((dir / "none").c_str()), 0);
    EXPECT_EQ(qor_fdlib_get_len_from_filename(f.c_str()), 0);
    EXPECT_EQ(qor_fdlib_get_len_from_filename((dir / "none").c_str()), -1);
}

TEST(FdlibDir, ListsEveryNameBeyondTheFirstArray) {
    TempDir dir;
    std::set<std::string> want = {".", ".."};
    for (int i = 0; i < 70; i++) {
        std::string n = "f" + std::to_string(i);
        testutil::write_file(dir / n, "");
        want.insert(n);
    }
    qor_dirlist *ls = nullptr;
    ASSERT_EQ(qor_fdlib_dirlist(dir.path().c_str(), &ls), 0);
    ASSERT_NE(ls, nullptr);
    std::set<std::string> got(ls->entries, ls->entries + ls->num);
    EXPECT_EQ(ls->num, 72);
    EXPECT_EQ(got, want);
    EXPECT_EQ(qor_fdlib_dirlist_free(ls), 0);

    ls = reinterpret_cast<qor_dirlist *>(1);
    EXPECT_EQ(qor_fdlib_dirlist((dir / "none").c_str(), &ls), -1);
    EXPECT_EQ(ls, nullptr);
}

TEST(FdlibSeam, FailsTheNthCallOnce) {
    TempDir dir;
    std::string f = dir / "f";
    testutil::write_file(f, "x");
    unsigned long before = qor_fdlib_calls();
    EXPECT_EQ(qor_fdlib_fileexists(f.c_str()), 1);
    EXPECT_EQ(qor_fdlib_calls(), before + 1);

    qor_fdlib_fail_nth(2, EROFS);
    EXPECT_EQ(qor_fdlib_fileexists(f.c_str()), 1);  // call 1 passes
    EXPECT_EQ(qor_fdlib_unlink(f.c_str()), -1);    // call 2 fails
    EXPECT_EQ(errno, EROFS);
    EXPECT_TRUE(testutil::exists(f));
    EXPECT_EQ(qor_fdlib_unlink(f.c_str()), 0);     // and only once
    EXPECT_FALSE(testutil::exists(f));

    // A failing listing frees what it had and reports none.
    qor_fdlib_fail_nth(3, EIO);  // opendir, readdir, readdir <- fails
    qor_dirlist *ls = nullptr;
    EXPECT_EQ(qor_fdlib_dirlist(dir.path().c_str(), &ls), -1);
    EXPECT_EQ(ls, nullptr);
    qor_fdlib_fail_nth(0, 0);
}

}  // namespace
