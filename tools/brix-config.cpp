// brix-config: writes and reads scrambled merchant configuration files.
//
// The library accepts a configuration only in its scrambled form; this is
// the administrator's way to produce one from plain text (encode), to read
// one back (decode, get) and to find out why one is refused (check).  It
// uses the library's own encoder, checks and line rules, so what it says
// about a file is what bx_init will find.
//
// Failure policy: bad input (unreadable file, failed check, missing key,
// unwritable output) gives one line "brix-config: FILE: problem" on
// standard error and exit status 1; a malformed command line gives the
// usage text on standard error and exit status 2.  Library log messages
// are shown on standard error, never sent to the system log.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "queue/qor_fdlib.h"
#include "session/bx_config.h"
#include "support/qor_log.h"

namespace {

constexpr char kProg[] = "brix-config";
constexpr char kStdinName[] = "<stdin>";
constexpr int kExitOk = 0;
constexpr int kExitBad = 1;
constexpr int kExitUsage = 2;

constexpr char kUsage[] =
    "usage: brix-config encode [-o FILE] [PLAIN]\n"
    "       brix-config decode FILE\n"
    "       brix-config check FILE\n"
    "       brix-config get FILE KEY\n"
    "       brix-config -h | --help\n"
    "\n"
    "Writes and reads scrambled merchant configuration files.\n"
    "  encode  scramble the plain text PLAIN (standard input when absent or \"-\")\n"
    "          into FILE, created with mode 0600, or to standard output\n"
    "  decode  print the plain text of FILE\n"
    "  check   verify the header and the length and sum checks of FILE\n"
    "  get     print the value of KEY in FILE (first line wins, any case)\n"
    "Exit status: 0 success, 1 bad input, 2 usage error.\n";

using Args = std::vector<std::string>;

int usage_error() {
    fputs(kUsage, stderr);
    return kExitUsage;
}

int fail(const std::string &file, const std::string &problem) {
    fprintf(stderr, "%s: %s: %s\n", kProg, file.c_str(), problem.c_str());
    return kExitBad;
}

// Library messages become our own stderr lines ("line" ends in "\n").
void log_to_stderr(int, const char *line, void *) { fprintf(stderr, "%s: %s", kProg, line); }

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) close(fd_);
    }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

// Whole contents of a descriptor; the errno of the failure otherwise.
int read_fd(int fd, std::string &out) {
    char buf[65536];
    for (;;) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n == 0) return 0;
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        out.append(buf, static_cast<size_t>(n));
    }
}

int write_fd(int fd, std::string_view data) {
    while (!data.empty()) {
        ssize_t n = write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        data.remove_prefix(static_cast<size_t>(n));
    }
    return 0;
}

// Reads a named file ("-" or none: standard input); nullopt after saying why.
std::optional<std::string> read_input(const std::string *path, int &status) {
    std::string data;
    int err;
    if (!path || *path == "-") {
        err = read_fd(STDIN_FILENO, data);
    } else {
        Fd fd(open(path->c_str(), O_RDONLY | O_CLOEXEC));
        err = fd.get() < 0 ? errno : read_fd(fd.get(), data);
    }
    if (err) {
        status = fail(path && *path != "-" ? *path : kStdinName, strerror(err));
        return std::nullopt;
    }
    return data;
}

// Writes a configuration file readable by its owner only (0600).  The
// live configuration is never rewritten in place: the new text goes into
// a temporary file beside it, is flushed and renamed over it, so a session
// opening meanwhile reads the old configuration or the new one, whole.
// A symbolic link is written through, as a plain write would: the file it
// names is replaced, and the link stays.
int write_private(const std::string &path, std::string_view data) {
    std::string target = path;
    struct stat st;
    if (lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        std::unique_ptr<char, decltype(&free)> real(realpath(path.c_str(), nullptr), &free);
        if (!real) return fail(path, strerror(errno));
        target = real.get();
    }
    if (stat(target.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) return fail(path, "not a regular file");
    std::string tmp = target + "." + std::to_string(getpid()) + ".tmp";
    if (qor_fdlib_replace_file(target.c_str(), tmp.c_str(), data.data(), data.size(), 0600) != 0)
        return fail(path, strerror(errno));
    return kExitOk;
}

int write_stdout(std::string_view data) {
    if (int err = write_fd(STDOUT_FILENO, data)) return fail("<stdout>", strerror(err));
    return kExitOk;
}

const char *check_problem(brix::ConfigCheck check) {
    switch (check) {
    case brix::ConfigCheck::missing_at: return "missing @ (not a scrambled configuration)";
    case brix::ConfigCheck::bad_len: return "length check failed";
    case brix::ConfigCheck::bad_sum: return "sum check failed";
    case brix::ConfigCheck::ok: break;
    }
    return "ok";
}

// Reads and checks a scrambled file; the plain text, or nullopt after
// saying why it is refused.
std::optional<std::string> read_checked(const std::string &path, int &status) {
    auto file = read_input(&path, status);
    if (!file) return std::nullopt;
    std::string plain;
    brix::ConfigCheck check = brix::config_descramble(*file, plain);
    if (check != brix::ConfigCheck::ok) {
        status = fail(path, check_problem(check));
        return std::nullopt;
    }
    return plain;
}

int cmd_encode(const Args &args) {
    const std::string *output = nullptr;
    const std::string *input = nullptr;
    bool options_done = false;
    for (size_t i = 0; i < args.size(); i++) {
        const std::string &a = args[i];
        if (!options_done && a == "--") {
            options_done = true;
        } else if (!options_done && a == "-o") {
            if (output || i + 1 == args.size()) return usage_error();
            output = &args[++i];
        } else if (!options_done && a.size() > 1 && a[0] == '-') {
            return usage_error();
        } else {
            if (input) return usage_error();
            input = &a;
        }
    }
    int status = kExitOk;
    auto plain = read_input(input, status);
    if (!plain) return status;
    std::string scrambled = brix::config_scramble(*plain);
    return output ? write_private(*output, scrambled) : write_stdout(scrambled);
}

int cmd_decode(const Args &args) {
    int status = kExitOk;
    auto plain = read_checked(args[0], status);
    return plain ? write_stdout(*plain) : status;
}

int cmd_check(const Args &args) {
    int status = kExitOk;
    if (!read_checked(args[0], status)) return status;
    return write_stdout(args[0] + ": ok\n");
}

int cmd_get(const Args &args) {
    const std::string &path = args[0];
    const std::string &key = args[1];
    int status = kExitOk;
    auto plain = read_checked(path, status);
    if (!plain) return status;
    bx_config_config_data cfg = brix::config_from_plain(*plain);
    if (!cfg) return fail(path, strerror(ENOMEM));
    char *value = get_value_with_name(key.c_str(), cfg);
    bx_config_destroy_config(cfg);
    if (!value) return fail(path, "no value for " + key);
    std::string line = std::string(value) + "\n";
    free(value);
    return write_stdout(line);
}

struct Command {
    const char *name;
    int (*run)(const Args &);
    size_t min_args;
    size_t max_args;    // encode checks its own options and operands
};

constexpr Command kCommands[] = {
    {"encode", cmd_encode, 0, SIZE_MAX},
    {"decode", cmd_decode, 1, 1},
    {"check", cmd_check, 1, 1},
    {"get", cmd_get, 2, 2},
};

int run(int argc, char **argv) {
    if (argc < 2) return usage_error();
    std::string_view first = argv[1];
    if (first == "-h" || first == "--help") {
        fputs(kUsage, stdout);
        return fflush(stdout) == 0 ? kExitOk : kExitBad;
    }
    for (const auto &c : kCommands) {
        if (first != c.name) continue;
        Args args(argv + 2, argv + argc);
        if (args.size() < c.min_args || args.size() > c.max_args) return usage_error();
        // Only encode takes options; elsewhere a dash word is a mistake.
        if (c.run != cmd_encode)
            for (const auto &a : args)
                if (a.size() > 1 && a[0] == '-') return usage_error();
        return c.run(args);
    }
    return usage_error();
}

}  // namespace

int main(int argc, char **argv) {
    qor_log_set_sink(log_to_stderr, nullptr);
    try {
        return run(argc, argv);
    } catch (const std::bad_alloc &) {
        fprintf(stderr, "%s: %s\n", kProg, strerror(ENOMEM));
    } catch (const std::exception &e) {
        fprintf(stderr, "%s: %s\n", kProg, e.what());
    }
    return kExitBad;
}
