// bench-sale: the library's whole card sale, timed.  One sale is what a
// shop's script does for one order: bx_new, five bx_add (amount, card
// number, expiry date, address, zip code) and bx_sale, which moves the
// transaction from "new" to "ready".  Each selling process opens one
// session, makes one sale to warm up, and then N timed sales under new
// invoices.  bench/run.sh runs it against bench-floor, which makes only
// the file-system calls such a sale must make.
//
// Usage: bench-sale [options] SPOOL_DIR N
//   SPOOL_DIR   the spool (made by the library when missing); with -s
//               each process sells on its own spool SPOOL_DIR/s<i>
//   N           timed sales per process; 0 only lays the spool out
//   -p PROCS    processes selling at once (default 1), started together
//   -s          separate spools, one per process
//   -l          time every waiting lock request (qor_fdlib_time_locks)
//   -c CONFDIR  write the configuration "bench" (BRIXPath SPOOL_DIR) into
//               CONFDIR and keep it, for a script to open; otherwise it
//               lives in a temporary directory removed at the end
// Library log lines go to $BRIX_LOG_FILE (to CONFDIR/brix.log when unset),
// never to the system log.
//
// Output, one line:
//   library procs=P sales=S seconds=T sales_per_s=R calls_per_sale=C
//           cpu_us_per_sale=P user_us_per_sale=U sys_us_per_sale=Y
//           [lockwait_us_p50=.. lockwait_us_p90=.. lockwait_us_p99=.. lock_waits=..]
// sales and sales_per_s count all processes; calls_per_sale is the
// library's own count of file-system calls (qor_fdlib_calls); cpu is the
// selling processes' exact CPU time over their timed sales, per sale, and
// user and sys its split by getrusage (sampled at the clock tick).
//
// Failure policy: any answer but OK stops the program with the answer
// text on standard error and exit status 1.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "api/bx_api_add.h"
#include "api/bx_api_init.h"
#include "api/bx_api_new.h"
#include "api/bx_api_sale.h"
#include "bench/bench_common.h"
#include "bench/bench_config.h"
#include "queue/qor_fdlib.h"

namespace {

struct Options {
    std::string spool;
    long sales = 0;
    int procs = 1;
    bool separate = false;
    bool lock_times = false;
    std::string confdir;       // kept when given
};

// What one selling process sends back to the parent.
struct Report {
    long sales;
    double start, end;         // monotonic seconds of the timed sales
    unsigned long calls;       // file-system calls of the timed sales
    double cpu;                // CPU seconds of the timed sales (exact)
    double user, sys;          // the same split by getrusage (tick-sampled)
    long waits;                // lock wait samples that follow, in seconds
};

// The fields of one sale, in the order a shop's form gives them.
const struct {
    int arg;
    const char *value;
} kFields[] = {
    {BX_ARG_AMOUNT, "12.34"},
    {BX_ARG_CARDNUM, "4111111111111111"},
    {BX_ARG_EXPDATE, "1230"},
    {BX_ARG_ADDRESS, "123 Main Street"},
    {BX_ARG_ZIPCODE, "12345"},
};

std::vector<double> g_waits;
void note_wait(double seconds) { g_waits.push_back(seconds); }

void check(bx_session s, int answer, const char *what, const char *invoice) {
    if (answer == BX_OK) return;
    fprintf(stderr, "bench-sale: %s %s answered %d: %s\n", what, invoice, answer, s->apitext);
    exit(1);
}

void sell(bx_session s, const char *invoice) {
    check(s, bx_new(s, invoice), "bx_new", invoice);
    for (const auto &f : kFields) check(s, bx_add(s, invoice, f.arg, f.value), "bx_add", invoice);
    check(s, bx_sale(s, invoice), "bx_sale", invoice);
}

std::string config_name(const Options &o, int i) { return o.separate ? "bench" + std::to_string(i) : "bench"; }

// One selling process: opens its session, warms up, tells the parent it
// is ready (one byte on `ready`), waits for the start (`go` closed), sells
// and writes its report to `out`.
[[noreturn]] void seller(const Options &o, int i, unsigned tag, int ready, int go, int out) {
    std::string name = config_name(o, i);
    bx_session s = bx_init(name.c_str());
    if (!s) bench::die("bx_init", bx_initerror);
    char key[9];
    bench::make_key(key, tag, i, 0);
    sell(s, key);
    if (o.lock_times) {
        g_waits.reserve(static_cast<size_t>(o.sales) * 300);
        qor_fdlib_time_locks(note_wait);
    }
    char byte = 1, sink;
    if (write(ready, &byte, 1) != 1) bench::die("cannot signal readiness");
    if (read(go, &sink, 1) < 0) bench::die("cannot wait for the start");

    Report r{};
    r.sales = o.sales;
    unsigned long calls0 = qor_fdlib_calls();
    bench::Cpu c0 = bench::cpu();
    double cpu0 = bench::cpu_time();
    r.start = bench::now();
    for (long n = 1; n <= o.sales; n++) {
        bench::make_key(key, tag, i, static_cast<unsigned long>(n));
        sell(s, key);
    }
    r.end = bench::now();
    r.cpu = bench::cpu_time() - cpu0;
    bench::Cpu c1 = bench::cpu();
    r.calls = qor_fdlib_calls() - calls0;
    qor_fdlib_time_locks(nullptr);
    r.user = c1.user - c0.user;
    r.sys = c1.sys - c0.sys;
    r.waits = static_cast<long>(g_waits.size());
    bx_done(s);
    auto put = [&](const void *p, size_t len) {
        const char *b = static_cast<const char *>(p);
        while (len > 0) {
            ssize_t k = write(out, b, len);
            if (k <= 0) bench::die("cannot send the report");
            b += k;
            len -= static_cast<size_t>(k);
        }
    };
    put(&r, sizeof r);
    put(g_waits.data(), g_waits.size() * sizeof(double));
    _exit(0);
}

bool get(int fd, void *p, size_t len) {
    char *b = static_cast<char *>(p);
    while (len > 0) {
        ssize_t k = read(fd, b, len);
        if (k <= 0) return false;
        b += k;
        len -= static_cast<size_t>(k);
    }
    return true;
}

[[noreturn]] void usage() {
    fputs("usage: bench-sale [-p PROCS] [-s] [-l] [-c CONFDIR] SPOOL_DIR N\n", stderr);
    exit(2);
}

}  // namespace

int main(int argc, char **argv) {
    Options o;
    int c;
    while ((c = getopt(argc, argv, "p:slc:")) != -1) {
        switch (c) {
        case 'p': o.procs = atoi(optarg); break;
        case 's': o.separate = true; break;
        case 'l': o.lock_times = true; break;
        case 'c': o.confdir = optarg; break;
        default: usage();
        }
    }
    if (argc - optind != 2 || o.procs < 1 || o.procs > 36) usage();
    o.spool = argv[optind];
    o.sales = atol(argv[optind + 1]);
    if (o.sales < 0) usage();
    mkdir(o.spool.c_str(), 0700);

    bench::ConfigDir conf(o.confdir);
    for (int i = 0; i < (o.separate ? o.procs : 1); i++) {
        std::string spool = o.separate ? o.spool + "/s" + std::to_string(i) : o.spool;
        mkdir(spool.c_str(), 0700);
        bench::write_config(conf.path(), config_name(o, i), spool);
    }

    if (o.sales == 0) {
        // Lays the spool out: the session makes every queue it opens.
        for (int i = 0; i < (o.separate ? o.procs : 1); i++) {
            bx_session s = bx_init(config_name(o, i).c_str());
            if (!s) bench::die("bx_init", bx_initerror);
            bx_done(s);
        }
        return 0;
    }

    int ready[2], go[2];
    if (pipe(ready) != 0 || pipe(go) != 0) bench::die("pipe");
    unsigned tag = bench::run_tag();
    std::vector<pid_t> pids;
    std::vector<int> outs;
    for (int i = 0; i < o.procs; i++) {
        int out[2];
        if (pipe(out) != 0) bench::die("pipe");
        pid_t pid = fork();
        if (pid < 0) bench::die("fork");
        if (pid == 0) {
            close(ready[0]);
            close(go[1]);
            close(out[0]);
            seller(o, i, tag, ready[1], go[0], out[1]);
        }
        close(out[1]);
        pids.push_back(pid);
        outs.push_back(out[0]);
    }
    close(ready[1]);
    close(go[0]);
    char byte;
    for (int i = 0; i < o.procs; i++)
        if (read(ready[0], &byte, 1) != 1) bench::die("a selling process failed before the start");
    double go_time = bench::now();
    close(go[1]);

    Report total{};
    double end = go_time;
    std::vector<double> waits;
    bool ok = true;
    for (int i = 0; i < o.procs; i++) {
        Report r;
        if (!get(outs[static_cast<size_t>(i)], &r, sizeof r)) {
            ok = false;
            continue;
        }
        size_t at = waits.size();
        waits.resize(at + static_cast<size_t>(r.waits));
        if (!get(outs[static_cast<size_t>(i)], waits.data() + at, static_cast<size_t>(r.waits) * sizeof(double)))
            ok = false;
        total.sales += r.sales;
        total.calls += r.calls;
        total.cpu += r.cpu;
        total.user += r.user;
        total.sys += r.sys;
        end = std::max(end, r.end);
    }
    for (pid_t pid : pids) {
        int status;
        if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) ok = false;
    }
    if (!ok || total.sales == 0) bench::die("a selling process failed");

    double secs = end - go_time;
    double n = static_cast<double>(total.sales);
    printf("library procs=%d sales=%ld seconds=%.4f sales_per_s=%.1f calls_per_sale=%.1f "
           "cpu_us_per_sale=%.1f user_us_per_sale=%.1f sys_us_per_sale=%.1f",
           o.procs, total.sales, secs, n / secs, static_cast<double>(total.calls) / n, 1e6 * total.cpu / n,
           1e6 * total.user / n, 1e6 * total.sys / n);
    if (o.lock_times)
        printf(" lockwait_us_p50=%.1f lockwait_us_p90=%.1f lockwait_us_p99=%.1f lock_waits=%zu",
               1e6 * bench::percentile(waits, 0.50), 1e6 * bench::percentile(waits, 0.90),
               1e6 * bench::percentile(waits, 0.99), waits.size());
    printf("\n");
    return 0;
}
