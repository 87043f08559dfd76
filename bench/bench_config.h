// bench_config: the merchant configuration the library benchmarks open
// their sessions on: the demonstration protocol, the current user, data in
// a spool the benchmark names.  Written with the library's own encoder.
//
// Failure policy: a configuration that cannot be written stops the
// program (bench::die).
#ifndef BRIX_BENCH_BENCH_CONFIG_H
#define BRIX_BENCH_BENCH_CONFIG_H

#include <ftw.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/bench_common.h"
#include "session/bx_config.h"

namespace bench {

// Writes configuration `name` into dir, its data in spool.
inline void write_config(const std::string &dir, const std::string &name, const std::string &spool) {
    struct passwd *pw = getpwuid(getuid());
    std::string plain = "Uname: " + std::string(pw ? pw->pw_name : "root") +
                        "\nClearingProtocol: demo\nBRIXPath: " + spool +
                        "\nModemPort: /dev/null\nMerchantNo: 123456789012\n";
    std::string bytes = brix::config_scramble(plain);
    std::string path = dir + "/" + name + ".conf";
    FILE *f = fopen(path.c_str(), "w");
    bool ok = f && fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    if (f && fclose(f) != 0) ok = false;
    if (!ok) die("cannot write configuration", path.c_str());
}

// Removes a directory tree; false when something stayed.
inline bool remove_tree(const std::string &dir) {
    auto one = [](const char *path, const struct stat *, int, struct FTW *) { return ::remove(path) == 0 ? 0 : -1; };
    return nftw(dir.c_str(), one, 16, FTW_DEPTH | FTW_PHYS) == 0;
}

// A temporary configuration directory that BRIX_CONFIG_DIR names from now
// on, removed when the process that made it exits (after bench::die too;
// a forked child leaves it alone; each benchmark makes one, and the exit
// handler knows only the last); library log lines go to a file in it
// unless BRIX_LOG_FILE names one already.  Given a directory, uses and
// keeps that one (made when missing).
class ConfigDir {
public:
    explicit ConfigDir(std::string keep = "") : dir_(std::move(keep)) {
        if (dir_.empty()) {
            char tmpl[] = "/tmp/bench-conf-XXXXXX";
            if (!mkdtemp(tmpl)) die("cannot make a configuration directory");
            dir_ = tmpl;
            static std::string made;
            static pid_t owner;
            made = dir_;
            owner = getpid();
            atexit([] {
                if (getpid() == owner && !remove_tree(made)) fprintf(stderr, "bench: could not remove %s\n", made.c_str());
            });
        } else if (mkdir(dir_.c_str(), 0700) != 0 && errno != EEXIST) {
            die("cannot make the configuration directory", dir_.c_str());
        }
        setenv("BRIX_CONFIG_DIR", dir_.c_str(), 1);
        if (!getenv("BRIX_LOG_FILE")) setenv("BRIX_LOG_FILE", (dir_ + "/brix.log").c_str(), 1);
    }
    ConfigDir(const ConfigDir &) = delete;
    ConfigDir &operator=(const ConfigDir &) = delete;
    const std::string &path() const { return dir_; }

private:
    std::string dir_;
};

}  // namespace bench

#endif
