// Shared test helpers: log capture, scratch directories, file access.
#ifndef BRIX_TESTS_TESTUTIL_H
#define BRIX_TESTS_TESTUTIL_H

#include <string>
#include <vector>

namespace testutil {

// Captures every log line while alive (restores syslog afterwards).
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;
    struct Line {
        int priority;
        std::string text;     // the formatted line, newline included
    };
    const std::vector<Line> &lines() const { return lines_; }
    std::vector<std::string> texts() const;
    bool contains(const std::string &line) const;  // exact line match
    void clear() { lines_.clear(); }

private:
    static void sink(int priority, const char *line, void *rock);
    std::vector<Line> lines_;
};

// A directory in memory where the machine has one (/dev/shm), else null
// (the default place): for tests that open thousands of files and flush.
const char *memory_dir();

// A fresh directory under $TMPDIR, removed with its contents.
class TempDir {
public:
    // Under $TMPDIR (or /tmp), or under `under` when given.
    explicit TempDir(const char *under = nullptr);
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const std::string &path() const { return path_; }
    std::string operator/(const std::string &name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

std::string read_file(const std::string &path);          // whole file; "" if missing
void write_file(const std::string &path, const std::string &data, int mode = 0600);
bool exists(const std::string &path);
int file_mode(const std::string &path);                  // permission bits, -1 if missing
std::vector<std::string> list_dir(const std::string &path); // sorted, without . and ..
void remove_tree(const std::string &path);
// Replaces `to` with a copy of the tree `from` (modes kept).
void copy_tree(const std::string &from, const std::string &to);

}  // namespace testutil

#endif
