#include "tests/testutil.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "support/qor_log.h"

namespace testutil {

LogCapture::LogCapture() { qor_log_set_sink(&LogCapture::sink, this); }
LogCapture::~LogCapture() { qor_log_set_sink(nullptr, nullptr); }

void LogCapture::sink(int priority, const char *line, void *rock) {
    static_cast<LogCapture *>(rock)->lines_.push_back({priority, line});
}

std::vector<std::string> LogCapture::texts() const {
    std::vector<std::string> out;
    for (const auto &l : lines_) out.push_back(l.text);
    return out;
}

bool LogCapture::contains(const std::string &line) const {
    return std::any_of(lines_.begin(), lines_.end(), [&](const Line &l) { return l.text == line; });
}

const char *memory_dir() { return access("/dev/shm", W_OK) == 0 ? "/dev/shm" : nullptr; }

TempDir::TempDir(const char *under) {
    const char *base = under ? under : getenv("TMPDIR");
    std::string tmpl = std::string(base && *base ? base : "/tmp") + "/brix-test-XXXXXX";
    if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    path_ = tmpl;
}

TempDir::~TempDir() { remove_tree(path_); }

std::string read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void write_file(const std::string &path, const std::string &data, int mode) {
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << data;
    }
    chmod(path.c_str(), mode);
}

bool exists(const std::string &path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

int file_mode(const std::string &path) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return -1;
    return st.st_mode & 07777;
}

std::vector<std::string> list_dir(const std::string &path) {
    std::vector<std::string> out;
    DIR *d = opendir(path.c_str());
    if (!d) return out;
    while (dirent *e = readdir(d)) {
        std::string n = e->d_name;
        if (n != "." && n != "..") out.push_back(n);
    }
    closedir(d);
    std::sort(out.begin(), out.end());
    return out;
}

void copy_tree(const std::string &from, const std::string &to) {
    remove_tree(to);
    struct stat st;
    if (lstat(from.c_str(), &st) != 0) return;
    if (S_ISDIR(st.st_mode)) {
        mkdir(to.c_str(), st.st_mode & 07777);
        for (const auto &n : list_dir(from)) copy_tree(from + "/" + n, to + "/" + n);
    } else if (S_ISREG(st.st_mode)) {
        write_file(to, read_file(from), st.st_mode & 07777);
    }
}

void remove_tree(const std::string &path) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return;
    if (S_ISDIR(st.st_mode)) {
        for (const auto &n : list_dir(path)) remove_tree(path + "/" + n);
        rmdir(path.c_str());
    } else {
        unlink(path.c_str());
    }
}

}  // namespace testutil
