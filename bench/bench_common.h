// bench_common: what the benchmark programs share: clocks, CPU time,
// invoice keys and the one result line every program prints.
//
// The programs (bench-sale, bench-floor, bench-queues) are run by
// bench/run.sh (`make bench`), which reads their result lines; they are
// measurements, not tests, and stop with a message on the first thing
// that does not go as expected.
#ifndef BRIX_BENCH_BENCH_COMMON_H
#define BRIX_BENCH_BENCH_COMMON_H

#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace bench {

// Seconds on the monotonic clock, comparable between processes.
inline double now() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// CPU seconds of this process so far, to the nanosecond: the scheduler's
// own account.  (getrusage's split into user and system time is sampled at
// the clock tick on many kernels, and a system call's entry and exit count
// as user time there; only its total is exact.)
inline double cpu_time() {
    struct timespec ts;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// User and system CPU seconds of this process so far.
struct Cpu {
    double user = 0, sys = 0;
};
inline Cpu cpu() {
    struct rusage ru;
    getrusage(RUSAGE_SELF, &ru);
    auto secs = [](const timeval &tv) { return static_cast<double>(tv.tv_sec) + static_cast<double>(tv.tv_usec) / 1e6; };
    return {secs(ru.ru_utime), secs(ru.ru_stime)};
}

// Invoice keys: eight upper-case letters and digits, as the library keeps
// invoices, so that the invoice a script gives is its own key.  Three
// characters of the run (from the clock and the process id), one of the
// selling process, four of the sale's number in base 36 (1,679,616 sales).
constexpr char kDigits36[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";

inline unsigned run_tag() {
    return static_cast<unsigned>((time(nullptr) ^ (getpid() * 7919L)) % (36 * 36 * 36));
}

inline void make_key(char key[9], unsigned tag, int process, unsigned long sale) {
    for (int i = 2; i >= 0; i--, tag /= 36) key[i] = kDigits36[tag % 36];
    key[3] = kDigits36[process % 36];
    for (int i = 7; i >= 4; i--, sale /= 36) key[i] = kDigits36[sale % 36];
    key[8] = '\0';
}

// The value below which a share p (0..1) of the samples lie; 0 for none.
inline double percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    size_t k = static_cast<size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
    std::nth_element(v.begin(), v.begin() + static_cast<long>(k), v.end());
    return v[k];
}

// Stops the program: a benchmark that does not do what it measures
// measures nothing.
[[noreturn]] inline void die(const char *what, const char *detail = "") {
    fprintf(stderr, "bench: %s%s%s\n", what, *detail ? ": " : "", detail);
    exit(1);
}

}  // namespace bench

#endif
