// Queue store in one process: directory creation, the on-disk layout after
// puts, replacements and deletes, counting and walking over holes, find,
// retrieve, change, the rebuild, refused paths and keys, the failure seam
// and a queue that could not be opened.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "queue/bx_queue.h"
#include "queue/qor_fdlib.h"
#include "tests/queue/queue_test_util.h"
#include "tests/testutil.h"

using qtest::Queue;
using testutil::LogCapture;
using Files = std::vector<std::string>;

namespace {

const Files kBookkeeping = {".dblock", ".head", ".index", ".lock"};

Files with(Files base, const Files &more) {
    base.insert(base.end(), more.begin(), more.end());
    std::sort(base.begin(), base.end());
    return base;
}

int put(bx_queue q, const std::string &key, const std::string &data) {
    return bx_queue_put(q, data.data(), static_cast<int>(data.size()), key.c_str());
}

// Key of the item found for a text, or "-" when none is found.
std::string found_key(bx_queue q, const char *text) {
    bx_queue_item qi = bx_queue_find_item(q, text);
    if (!qi) return "-";
    std::string key = qi->primary_key;
    bx_queue_item_close(q, qi);
    return key;
}

std::string nth_key(bx_queue q, unsigned n) {
    bx_queue_item qi = bx_queue_nth_item(q, n);
    if (!qi) return "-";
    std::string key = qi->primary_key;
    bx_queue_item_close(q, qi);
    return key;
}

std::string err(int e) { return strerror(e); }

TEST(QueueOpen, CreatesTheDirectoryAndBookkeepingFiles) {
    qtest::Umask um(0);
    LogCapture log;
    Queue q("ready");
    ASSERT_NE(q.q, nullptr);
    EXPECT_EQ(log.texts(), Files{"Information: Creating spooldir '" + q.dir() + "'.\n"});
    EXPECT_EQ(testutil::file_mode(q.dir()), 0700);
    EXPECT_EQ(q.files(), kBookkeeping);
    struct {
        const char *name;
        int mode;
        const char *content;
    } want[] = {{".index", 0600, "1\n"}, {".head", 0600, "1\n"},
                {".lock", 0666, ""},     {".dblock", 0666, ""}};
    for (const auto &w : want) {
        EXPECT_EQ(testutil::file_mode(q.file(w.name)), w.mode) << w.name;
        EXPECT_EQ(q.read(w.name), w.content) << w.name;
    }
    EXPECT_STREQ(q.q->qname, "ready");
    EXPECT_EQ(std::string(q.q->qdpath), q.dir());
    EXPECT_EQ(std::string(q.q->qdmipath), q.file(".index"));
    EXPECT_EQ(std::string(q.q->qdfipath), q.file(".head"));

    // A second open finds the directory and changes nothing.
    log.clear();
    bx_queue again = bx_queue_open("ready", 0, q.spool.path().c_str());
    ASSERT_NE(again, nullptr);
    EXPECT_TRUE(log.lines().empty());
    bx_queue_close(again, 0);
    EXPECT_EQ(q.read(".index"), "1\n");
}

TEST(QueueOpen, FailuresGiveNoQueueAndLeakNoDescriptor) {
    testutil::TempDir spool;
    int fds = qtest::open_fd_count();
    {
        LogCapture log;
        std::string root = spool / "missing";
        std::string dir = root + "/new";
        EXPECT_EQ(bx_queue_open("new", 0, root.c_str()), nullptr);
        EXPECT_EQ(log.texts(), (Files{
            "Information: Creating spooldir '" + dir + "'.\n",
            "Fatal error: " + err(ENOENT) + ": Could not create spool '" + dir + "'.\n",
            "Fatal error(" + dir + "/.index): " + err(ENOENT) + "\n"}));
    }
    {
        // The lock file cannot be opened: the two index descriptors go again.
        LogCapture log;
        ASSERT_EQ(mkdir((spool / "bad").c_str(), 0700), 0);
        ASSERT_EQ(mkdir((spool / "bad/.dblock").c_str(), 0700), 0);
        EXPECT_EQ(bx_queue_open("bad", 0, spool.path().c_str()), nullptr);
    }
    {
        LogCapture log;
        EXPECT_EQ(bx_queue_open(nullptr, 0, spool.path().c_str()), nullptr);
        EXPECT_EQ(log.texts(), Files{"Fatal error: Could not build spool dir for ''\n"});
    }
    EXPECT_EQ(qtest::open_fd_count(), fds);
}

TEST(QueueItems, LayoutAfterPutsReplacementsAndDeletes) {
    Queue q;
    EXPECT_EQ(put(q.q, "A", "hello"), 2);
    EXPECT_EQ(q.files(), with(kBookkeeping, {"2", "i_A"}));
    EXPECT_EQ(q.read(".index"), "2\n");
    EXPECT_EQ(q.read(".head"), "1\n");
    EXPECT_EQ(q.read("i_A"), "2\n");
    EXPECT_EQ(q.read("2"), "A\n5\nhello");
    EXPECT_EQ(testutil::file_mode(q.file("2")), 0600);
    EXPECT_EQ(testutil::file_mode(q.file("i_A")), 0600);

    EXPECT_EQ(put(q.q, "B", ""), 3);
    EXPECT_EQ(q.read("3"), "B\n0\n");

    // Reading an item leaves its lock file behind.
    EXPECT_EQ(found_key(q.q, "A"), "-");  // the text A looks for AXXXXXXX
    bx_queue_item qi = bx_queue_nth_item(q.q, 1);
    ASSERT_NE(qi, nullptr);
    EXPECT_EQ(qi->indexno, 2u);
    EXPECT_EQ(std::string(qi->fname), q.file("2"));
    EXPECT_EQ(std::string(qi->lname), q.file("2.lock"));
    bx_queue_item_close(q.q, qi);
    EXPECT_EQ(testutil::file_mode(q.file("2.lock")), 0600);
    EXPECT_EQ(q.read("2.lock"), "");

    // Replacing A gives it a new number and removes the old files.
    EXPECT_EQ(put(q.q, "A", "bye"), 4);
    EXPECT_EQ(q.files(), with(kBookkeeping, {"3", "4", "i_A", "i_B"}));
    EXPECT_EQ(q.read("i_A"), "4\n");
    EXPECT_EQ(q.read("4"), "A\n3\nbye");
    EXPECT_EQ(q.read(".index"), "4\n");
    EXPECT_EQ(bx_queue_count(q.q), 2);

    // Deleting B (number 3, the lowest) leaves ".head" on 3.
    qi = bx_queue_nth_item(q.q, 1);
    ASSERT_NE(qi, nullptr);
    ASSERT_STREQ(qi->primary_key, "B");
    EXPECT_EQ(bx_queue_item_delete(q.q, qi), 0);
    EXPECT_EQ(q.files(), with(kBookkeeping, {"4", "i_A"}));
    EXPECT_EQ(q.read(".head"), "3\n");
    EXPECT_EQ(q.read(".index"), "4\n");
    EXPECT_EQ(bx_queue_count(q.q), 1);
}

TEST(QueueItems, PutWithoutKeyNamesTheItemByItsNumber) {
    Queue q;
    q.write(".index", "41\n");
    EXPECT_EQ(bx_queue_put(q.q, "xy", 2, nullptr), 42);
    EXPECT_EQ(q.read("42"), "00000042\n2\nxy");
    EXPECT_EQ(q.read("i_00000042"), "42\n");
    EXPECT_EQ(q.read(".index"), "42\n");
}

TEST(QueueItems, EntryFileNamesEscapeTheKey) {
    Queue q;
    struct {
        std::string key, entry;
    } cases[] = {
        {"A B/C", "i_A%20B%2FC"},
        {"x.y-z+0", "i_x.y-z+0"},
        {"a%b", "i_a%25b"},
        {std::string("\xff\x01", 2), "i_%FF%01"},
        {"", "i_"},
    };
    for (const auto &c : cases) {
        int n = put(q.q, c.key, "d");
        ASSERT_GT(n, 0) << c.entry;
        EXPECT_TRUE(testutil::exists(q.file(c.entry))) << c.entry;
        EXPECT_EQ(q.read(c.entry), std::to_string(n) + "\n");
    }
}

TEST(QueueItems, DataWithZeroBytesIsReadBackWhole) {
    Queue q;
    const char data[] = {'a', 0, 'b', '\n', 0};
    ASSERT_EQ(bx_queue_put(q.q, data, 5, "ZEROBYTE"), 2);
    bx_queue_item qi = bx_queue_find_item(q.q, "zerobyte");
    ASSERT_NE(qi, nullptr);
    EXPECT_EQ(qi->size, 5);
    EXPECT_EQ(std::string(qi->buf, 5), std::string(data, 5));
    EXPECT_EQ(qi->buf[5], 0);

    char buf[8];
    struct {
        char *buf;
        int maxsize;
        int rc;
    } cases[] = {{buf, 5, 5}, {buf, 8, 5}, {buf, 4, -3}, {nullptr, 8, -4}};
    for (const auto &c : cases) {
        memset(buf, '#', sizeof buf);
        EXPECT_EQ(bx_queue_retrieve(q.q, qi, c.buf, c.maxsize), c.rc);
        if (c.rc == -3) {
            EXPECT_EQ(buf[0], '#');  // nothing copied
        }
    }
    EXPECT_EQ(bx_queue_retrieve(q.q, nullptr, buf, 8), -4);
    EXPECT_EQ(bx_queue_retrieve(q.q, qi, buf, 5), 5);
    EXPECT_EQ(std::string(buf, 5), std::string(data, 5));
    bx_queue_item_close(q.q, qi);
}

// Small data goes out with its two lines in one write, larger data as a
// second piece: either way the file is the key line, the size line and the
// data, and reads back whole.
TEST(QueueItems, ItemFilesOfEverySizeAreWrittenWhole) {
    Queue q;
    const int sizes[] = {0, 1, 4095, 4096, 4097, 70000};
    for (int size : sizes) {
        SCOPED_TRACE(size);
        std::string data(static_cast<size_t>(size), '\0');
        for (int i = 0; i < size; i++) data[static_cast<size_t>(i)] = static_cast<char>('a' + i % 26);
        char key[9];  // as invoice keys are: eight letters and digits
        snprintf(key, sizeof key, "SZ%06d", size);
        int n = put(q.q, key, data);
        ASSERT_GT(n, 0);
        EXPECT_EQ(q.read(std::to_string(n)), key + ("\n" + std::to_string(size)) + "\n" + data);
        bx_queue_item qi = bx_queue_find_item(q.q, key);
        ASSERT_NE(qi, nullptr);
        EXPECT_EQ(std::string(qi->buf, static_cast<size_t>(qi->size)), data);
        bx_queue_item_close(q.q, qi);
    }
}

TEST(QueueItems, FindNormalisesTheInvoiceText) {
    Queue q;
    for (const char *key : {"AB12XXXX", "ABCDEFGH", "INITREQF", "id", "IDXXXXXX"}) put(q.q, key, key);
    struct {
        const char *text;
        const char *key;
    } cases[] = {
        {"ab-12", "AB12XXXX"},   {"AB12", "AB12XXXX"},     {"ab#cdefghij", "ABCDEFGH"},
        {"INITREQF", "INITREQF"}, {"ID", "IDXXXXXX"},      {"nothere", "-"},
        {"", "-"},                {nullptr, "-"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(found_key(q.q, c.text), c.key) << (c.text ? c.text : "(null)");

    // Without "IDXXXXXX", id finds the item stored under the bare key "id".
    bx_queue_item qi = bx_queue_find_item(q.q, "IDXXXXXX");
    ASSERT_NE(qi, nullptr);
    bx_queue_item_delete(q.q, qi);
    EXPECT_EQ(found_key(q.q, "id"), "id");
    EXPECT_EQ(found_key(q.q, "Id"), "id");
}

TEST(QueueItems, ChangeRewritesInPlace) {
    Queue q;
    ASSERT_EQ(put(q.q, "K", "one"), 2);
    ASSERT_EQ(put(q.q, "L", "x"), 3);
    EXPECT_EQ(bx_queue_change(q.q, "three", 5, "K"), 2);
    EXPECT_EQ(q.read("2"), "K\n5\nthree");
    EXPECT_EQ(q.read("i_K"), "2\n");
    EXPECT_EQ(q.read(".index"), "3\n");
    EXPECT_EQ(bx_queue_change(q.q, "z", 1, "NOKEY"), 0);
    EXPECT_EQ(bx_queue_change(q.q, "z", 1, nullptr), 0);
    EXPECT_EQ(q.files(), with(kBookkeeping, {"2", "3", "i_K", "i_L"}));
}

// An invoice key: the text padded with X to 8 characters.
std::string key8(const std::string &text) { return text + std::string(8 - text.size(), 'X'); }

// Items at 3, 5, 6 and 9 between ".head" 2 and ".index" 10, keyed K3XXXXXX...
void make_holes(Queue &q) {
    q.write(".head", "2\n");
    q.write(".index", "10\n");
    for (int n : {3, 5, 6, 9}) {
        std::string key = key8("K" + std::to_string(n));
        q.write(std::to_string(n), key + "\n1\nx");
        q.write("i_" + key, std::to_string(n) + "\n");
    }
    q.write("4.lock", "");
    q.write("i_K7XXXXXX", "7\n");  // an entry whose item is gone
}

TEST(QueueWalk, CountAndNthSkipHoles) {
    Queue q;
    make_holes(q);
    EXPECT_EQ(bx_queue_count(q.q), 4);
    struct {
        int limit, count;
    } limited[] = {{0, 0}, {-1, 0}, {1, 1}, {3, 3}, {4, 4}, {100, 4}};
    for (const auto &c : limited) EXPECT_EQ(bx_queue_count_limited(q.q, c.limit), c.count) << c.limit;
    struct {
        unsigned n;
        const char *key;
    } nth[] = {{0, "-"},        {1, "K3XXXXXX"}, {2, "K5XXXXXX"}, {3, "K6XXXXXX"},
               {4, "K9XXXXXX"}, {5, "-"},        {~0u, "-"}};
    for (const auto &c : nth) EXPECT_EQ(nth_key(q.q, c.n), c.key) << c.n;

    // ".head" past an item hides it; an empty queue counts 0.
    q.write(".head", "6\n");
    EXPECT_EQ(bx_queue_count(q.q), 2);
    EXPECT_EQ(nth_key(q.q, 1), "K6XXXXXX");
    EXPECT_EQ(found_key(q.q, "k7"), "-");
    Queue empty;
    EXPECT_EQ(bx_queue_count(empty.q), 0);
    EXPECT_EQ(nth_key(empty.q, 1), "-");
}

// Index values that hold no number hide nothing: a damaged ".index"
// stands for the largest item present, a damaged ".head" for 0; neither
// ever leads to a walk over 2^32 numbers.
TEST(QueueWalk, DamagedIndexValuesHideNoItem) {
    Queue q;
    make_holes(q);
    for (const char *bad : {"-1\n", "", "x\n", "12"}) {
        q.write(".index", bad);
        q.write(".head", "2\n");
        EXPECT_EQ(bx_queue_count(q.q), 4) << bad;
        EXPECT_EQ(nth_key(q.q, 4), "K9XXXXXX") << bad;
        q.write(".index", "10\n");
        q.write(".head", bad);
        EXPECT_EQ(bx_queue_count_limited(q.q, 10), 4) << bad;
        EXPECT_EQ(nth_key(q.q, 1), "K3XXXXXX") << bad;
    }
    // The next put mends ".index".
    q.write(".index", "");
    EXPECT_EQ(put(q.q, "NEW", "n"), 10);
    EXPECT_EQ(q.read(".index"), "10\n");

    // An empty ".index" reads as 0 with a note in the log.
    LogCapture log;
    q.write(".index", "");
    q.write(".head", "1\n");
    EXPECT_EQ(bx_queue_count(q.q), 5);
    EXPECT_EQ(log.texts(), (Files{"Information(Initializing queue count): Success\n"}));
}

TEST(QueueWalk, DeleteMovesTheHead) {
    Queue q;
    for (const char *k : {"A", "B", "C"}) put(q.q, k, k);  // 2, 3, 4
    struct {
        const char *key;
        const char *head;
        int count;
    } steps[] = {{"A", "2\n", 2}, {"B", "3\n", 1}, {"C", "4\n", 0}};
    for (const auto &s : steps) {
        bx_queue_item qi = bx_queue_nth_item(q.q, 1);
        ASSERT_NE(qi, nullptr);
        ASSERT_STREQ(qi->primary_key, s.key);
        EXPECT_EQ(bx_queue_item_delete(q.q, qi), 0);
        EXPECT_EQ(q.read(".head"), s.head) << s.key;
        EXPECT_EQ(bx_queue_count(q.q), s.count);
    }
    EXPECT_EQ(q.files(), kBookkeeping);
    EXPECT_EQ(q.read(".index"), "4\n");
    EXPECT_EQ(put(q.q, "D", "d"), 5);
}

TEST(QueueWalk, DeletingAStaleSnapshotKeepsTheNewerEntry) {
    Queue q;
    ASSERT_EQ(put(q.q, "KXXXXXXX", "old"), 2);
    bx_queue_item stale = bx_queue_find_item(q.q, "K");
    ASSERT_NE(stale, nullptr);
    ASSERT_EQ(put(q.q, "KXXXXXXX", "new"), 3);
    ASSERT_EQ(bx_queue_item_delete(q.q, stale), 0);
    bx_queue_item qi = bx_queue_find_item(q.q, "K");
    ASSERT_NE(qi, nullptr);
    EXPECT_EQ(std::string(qi->buf, qi->size), "new");
    bx_queue_item_close(q.q, qi);
}

TEST(QueueItems, UnreadableItemFilesGiveNoItem) {
    Queue q;
    struct {
        std::string content, line;
    } cases[] = {
        {"K\n10\nabc", "NonFatal error: Spool file '%s' is torn: fewer data bytes than its size line declares\n"},
        {"K\nabc\nabc", "NonFatal error: Spool file '%s' is unreadable: bad size line\n"},
        {"K\n-3\n", "NonFatal error: Spool file '%s' is unreadable: bad size line\n"},
        {"K\n99999999999\nx", "NonFatal error: Spool file '%s' is unreadable: bad size line\n"},
        {std::string(120, 'k') + "\n1\nx", "NonFatal error: Spool file '%s' is torn: no key line\n"},
        {"K\n", "NonFatal error: Spool file '%s' is torn: no size line\n"},
        {"", "NonFatal error: Spool file '%s' is torn: no key line\n"},
    };
    for (const auto &c : cases) {
        q.write(".index", "2\n");
        q.write(".head", "2\n");
        q.write("2", c.content);
        q.write("i_KXXXXXXX", "2\n");
        LogCapture log;
        EXPECT_EQ(bx_queue_find_item(q.q, "K"), nullptr) << c.content;
        EXPECT_EQ(bx_queue_nth_item(q.q, 1), nullptr);
        std::string line = c.line;
        auto at = line.find("%s");
        if (at != std::string::npos) line.replace(at, 2, q.file("2"));
        ASSERT_FALSE(log.lines().empty());
        EXPECT_EQ(log.texts()[0], line);
    }
}

TEST(QueueItems, KeysThatCannotBeReadBackAreRefused) {
    Queue q;
    LogCapture log;
    EXPECT_EQ(put(q.q, "a\nb", "x"), -5);
    EXPECT_EQ(put(q.q, std::string(100, 'k'), "x"), -5);
    EXPECT_EQ(bx_queue_put(q.q, nullptr, 3, "K"), -5);
    EXPECT_EQ(bx_queue_put(q.q, "x", -1, "K"), -5);
    EXPECT_EQ(log.texts(), (Files{
        "NonFatal error: bx_queue_put: key of 3 bytes or with a newline refused\n",
        "NonFatal error: bx_queue_put: key of 100 bytes or with a newline refused\n",
        "NonFatal error: bx_queue_put: no data to store (size 3)\n",
        "NonFatal error: bx_queue_put: no data to store (size -1)\n"}));
    EXPECT_EQ(q.files(), kBookkeeping);

    std::string longest(99, 'k');
    ASSERT_EQ(put(q.q, longest, "x"), 2);
    bx_queue_item qi = bx_queue_nth_item(q.q, 1);
    ASSERT_NE(qi, nullptr);
    EXPECT_EQ(std::string(qi->primary_key), longest);
    bx_queue_item_close(q.q, qi);
}

TEST(QueueItems, PathsThatDoNotFitAreRefused) {
    testutil::TempDir spool;
    // Make the queue directory path exactly 1022 bytes long: "<dir>/2"
    // then needs 1025 bytes with its terminator.
    std::string root = spool.path();
    while (root.size() + 1 + 200 + 1 + 3 < 1022) {
        root += "/" + std::string(200, 'd');
        ASSERT_EQ(mkdir(root.c_str(), 0700), 0);
    }
    std::string last(1022 - root.size() - 1 - 3 - 1, 'e');
    ASSERT_TRUE(last.size() >= 1 && last.size() <= 255);
    root += "/" + last;
    ASSERT_EQ(mkdir(root.c_str(), 0700), 0);
    std::string dir = root + "/new";
    ASSERT_EQ(dir.size(), 1022u);
    bx_queue q = bx_queue_open("new", 0, root.c_str());
    ASSERT_NE(q, nullptr);
    LogCapture log;
    EXPECT_EQ(put(q, "K", "x"), -5);
    EXPECT_TRUE(log.contains("NonFatal error: Path of 'K' in spool '" + dir + "' is too long\n"));
    EXPECT_EQ(testutil::list_dir(dir), kBookkeeping);
    EXPECT_EQ(bx_queue_count(q), 0);
    bx_queue_close(q, 0);
}

TEST(QueueSeam, ItemFileFailuresReturnMinus5AndLeaveNoFile) {
    struct {
        const char *message;
    } cases[] = {{"bx_queue_put: Could not build spool file for '%s'"},
                 {"bx_queue_put: Could not write spool file '%s'"}};
    for (const auto &c : cases) {
        bool hit = false;
        // Fail the calls of a put into a new queue one by one until the one
        // named by the message fails.
        for (unsigned long n = 1; n < 100 && !hit; n++) {
            Queue q;
            std::string line = c.message;
            line.replace(line.find("%s"), 2, q.file("2"));
            LogCapture log;
            qor_fdlib_fail_nth(n, EIO);
            int result = put(q.q, "KEY", "payload");
            qor_fdlib_fail_nth(0, 0);
            hit = log.contains("Fatal error: " + err(EIO) + ": " + line + "\n");
            if (!hit) continue;
            EXPECT_EQ(result, -5);
            EXPECT_FALSE(testutil::exists(q.file("2")));
            EXPECT_FALSE(testutil::exists(q.file("i_KEY"))) << "nothing names the lost item";
            EXPECT_EQ(q.read(".index"), "2\n") << "the number is not given out again";
            EXPECT_EQ(bx_queue_count(q.q), 0);
        }
        EXPECT_TRUE(hit) << c.message;
    }
}

// A replacement that fails at any file-system call, or is cut short there,
// leaves a whole version of the record findable: the old one until the
// new one is on disk and named by the entry file.
TEST(QueueSeam, FailedReplacementKeepsTheStoredRecord) {
    for (unsigned long n = 1; n < 100; n++) {
        Queue q;
        ASSERT_EQ(put(q.q, "KEYXXXXX", "old version"), 2);
        unsigned long before = qor_fdlib_calls();
        testutil::LogCapture log;
        qor_fdlib_fail_nth(n, EIO);
        int result = put(q.q, "KEYXXXXX", "new version");
        bool fired = qor_fdlib_calls() - before >= n;
        qor_fdlib_fail_nth(0, 0);
        bx_queue_item qi = bx_queue_find_item(q.q, "KEY");
        ASSERT_NE(qi, nullptr) << "call " << n << " result " << result;
        std::string data(qi->buf, qi->size);
        bx_queue_item_close(q.q, qi);
        if (result > 0)
            EXPECT_EQ(data, "new version") << "call " << n;
        else
            EXPECT_EQ(data, "old version") << "call " << n;
        if (!fired) break;  // the put made fewer than n calls: all covered
    }
}

TEST(QueueSanitize, RebuildsEntriesAndIndexesOfADamagedQueue) {
    Queue q;
    for (int n : {5, 9, 12}) q.write(std::to_string(n), key8("K" + std::to_string(n)) + "\n2\nok");
    q.write("7", "T\n10\nabc");   // torn
    q.write("3", "DUP\n1\na");    // two items under one key: the newer wins
    q.write("8", "DUP\n1\nb");
    q.write("012", "not an item");
    q.write("5.lock", "");
    q.write("i_STRAY", "44\n");
    q.write("i_K12XXXXX", "13\n");
    q.write(".index", "3\n");
    q.write(".head", "1\n");
    LogCapture log;
    testing::internal::CaptureStdout();
    EXPECT_EQ(bx_queue_sanitize(q.q), -1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "queue_sanitize: unreadable transaction! (new, #7)\n");
    EXPECT_TRUE(log.contains("NonFatal error: Spool file '" + q.file("7") +
                             "' is torn: fewer data bytes than its size line declares\n"));
    EXPECT_EQ(q.read(".index"), "12\n");
    EXPECT_EQ(q.read(".head"), "3\n");
    struct {
        const char *entry, *value;
    } entries[] = {{"i_K5XXXXXX", "5\n"}, {"i_K9XXXXXX", "9\n"}, {"i_K12XXXXX", "12\n"},
                   {"i_DUP", "8\n"}};
    for (const auto &e : entries) EXPECT_EQ(q.read(e.entry), e.value) << e.entry;
    EXPECT_FALSE(testutil::exists(q.file("i_STRAY")));
    EXPECT_EQ(bx_queue_count(q.q), 6);  // 3, 5, 7, 8, 9 and 12
    EXPECT_EQ(found_key(q.q, "k12"), "K12XXXXX");

    // Without the torn item the rebuild succeeds.
    ASSERT_EQ(unlink(q.file("7").c_str()), 0);
    testing::internal::CaptureStdout();
    EXPECT_EQ(bx_queue_sanitize(q.q), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST(QueueSanitize, EmptyQueueAndNoQueue) {
    Queue q;
    testing::internal::CaptureStdout();
    EXPECT_EQ(bx_queue_sanitize(q.q), 0);
    EXPECT_EQ(bx_queue_sanitize(nullptr), -1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "queue_sanitize: cannot open queue at all!\n");
    EXPECT_EQ(q.read(".index"), "0\n");
    EXPECT_EQ(q.read(".head"), "0\n");
    EXPECT_EQ(put(q.q, "A", "a"), 1);
}

TEST(QueueNull, EveryOperationFailsCleanly) {
    LogCapture log;
    char buf[4];
    struct _bx_queue_item dummy{};
    EXPECT_EQ(bx_queue_put(nullptr, "x", 1, "K"), -5);
    EXPECT_EQ(bx_queue_change(nullptr, "x", 1, "K"), -5);
    EXPECT_EQ(bx_queue_retrieve(nullptr, &dummy, buf, 4), -4);
    EXPECT_EQ(bx_queue_find_item(nullptr, "K"), nullptr);
    EXPECT_EQ(bx_queue_nth_item(nullptr, 1), nullptr);
    EXPECT_EQ(bx_queue_count(nullptr), 0);
    EXPECT_EQ(bx_queue_count_limited(nullptr, 5), 0);
    EXPECT_EQ(bx_queue_item_delete(nullptr, nullptr), -1);
    EXPECT_EQ(bx_queue_item_close(nullptr, nullptr), 0);
    EXPECT_EQ(bx_queue_lockqueue(nullptr), -1);
    EXPECT_EQ(bx_queue_unlockqueue(nullptr), -1);
    EXPECT_EQ(bx_queue_close(nullptr, 0), 0);
    EXPECT_EQ(log.texts(), (Files{
        "NonFatal error: bx_queue_put: no queue\n",
        "NonFatal error: bx_queue_change: no queue\n",
        "NonFatal error: bx_queue_find_item: no queue\n",
        "NonFatal error: bx_queue_nth_item: no queue\n",
        "NonFatal error: bx_queue_count: no queue\n",
        "NonFatal error: bx_queue_count_limited: no queue\n",
        "NonFatal error: bx_queue_item_delete: no queue\n"}));
}

// Every update of an item gives it a new number: the cost of counting and
// walking a queue follows the items present, not the numbers given out.
TEST(QueueWalk, CostFollowsItemsPresentNotHistory) {
    auto cost = [](int updates) {
        Queue q("new", testutil::memory_dir());
        for (int k = 0; k < 12; k++)
            for (int u = 0; u <= updates; u++) EXPECT_GT(put(q.q, key8("K" + std::to_string(k)), "v"), 0);
        unsigned long before = qor_fdlib_calls();
        EXPECT_EQ(bx_queue_count(q.q), 12);
        EXPECT_EQ(nth_key(q.q, 12), key8("K11"));  // oldest first: K11 was updated last
        EXPECT_EQ(nth_key(q.q, 1), key8("K0"));
        return qor_fdlib_calls() - before;
    };
    // Beyond a short first stretch, tested number by number, more history
    // costs nothing more.
    unsigned long some = cost(40), more = cost(80);
    EXPECT_LE(more, some + 4) << some;
}

TEST(QueueErrors, Texts) {
    struct {
        int code;
        const char *text;
    } cases[] = {{-1, "Function unimplemented"}, {-2, "Generic queueing error"},
                 {-3, "Unknown error"},          {-5, "Unknown error"},
                 {-6, "Unknown error"},          {0, "Unknown error"}};
    for (const auto &c : cases) EXPECT_STREQ(bx_queue_error(c.code), c.text) << c.code;
}

}  // namespace
