// bench-queues: what bx_status, bx_count and bx_lookup cost on queues of
// growing size, and what a queue's history costs a count.
//
// For each size, a fresh spool gets that many card transactions in its
// "done" queue, stored through the library's own store (bx_api_store,
// which is bx_queue_put of the packed record: far quicker than whole
// sales).  Then each operation is called again and again for about a
// fifth of a second (at least three times) and timed:
//   count        bx_count of "done"
//   lookup-first bx_lookup of item 1 of "done" (the oldest)
//   lookup-last  bx_lookup of the last item (the newest: a walk of all)
//   status       bx_status of an invoice in the middle of "done"
//   status-none  bx_status of an invoice no queue holds
// and, for the history a queue keeps, HISTORY transactions are made in
// "new" with bx_new and then each changed five times with bx_add:
//   count-fresh    bx_count of "new" before the changes
//   count-changed  bx_count of "new" after them (the same transactions)
//
// Usage: bench-queues SPOOL_PARENT [-H HISTORY] [SIZE...]
//   SPOOL_PARENT  the spools go to SPOOL_PARENT/q<SIZE> and /history
//   SIZE          queue sizes (default 10 1000 100000); HISTORY default 200
// Output, one line per size and operation:
//   queue size=S op=OP calls=K us_per_call=T fs_calls_per_call=C answer=A
// fs_calls_per_call is the library's own count of file-system calls.
//
// Failure policy: a store that fails, or an answer that is not the
// expected one (the count, the invoice of the n-th item, the status),
// stops the program with exit status 1.
#include <sys/stat.h>

#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "api/bx_api_add.h"
#include "api/bx_api_count.h"
#include "api/bx_api_init.h"
#include "api/bx_api_lookup.h"
#include "api/bx_api_new.h"
#include "api/bx_api_status.h"
#include "api/bx_api_xact.h"
#include "bench/bench_common.h"
#include "bench/bench_config.h"
#include "queue/qor_fdlib.h"
#include "xaction/bx_xaction_retail.h"

namespace {

// Keys of the stored transactions: the run's tag, process letter Q.
std::string key_of(unsigned tag, long i) {
    char key[9];
    bench::make_key(key, tag, 26, static_cast<unsigned long>(i));
    return key;
}

// Calls op until about 0.2 s have passed (at least three times) and prints
// its line.  `answer` gives the answer text of the last call, checked
// against `expect`.
template <typename Op>
void measure(long size, const char *name, bx_session s, Op op, const std::string &expect) {
    long calls = 0;
    unsigned long fs0 = qor_fdlib_calls();
    double t0 = bench::now(), t;
    std::string answer;
    do {
        answer = op();
        calls++;
        t = bench::now() - t0;
    } while ((t < 0.2 || calls < 3) && calls < 100000);
    unsigned long fs = qor_fdlib_calls() - fs0;
    if (answer != expect) {
        fprintf(stderr, "bench-queues: %s on %ld items answered '%s' (%s), not '%s'\n", name, size,
                answer.c_str(), s->apitext, expect.c_str());
        exit(1);
    }
    printf("queue size=%ld op=%s calls=%ld us_per_call=%.1f fs_calls_per_call=%.1f answer=%s\n", size, name,
           calls, 1e6 * t / static_cast<double>(calls), static_cast<double>(fs) / static_cast<double>(calls),
           answer.c_str());
    fflush(stdout);
}

bx_session open_session(bench::ConfigDir &conf, const std::string &name, const std::string &spool) {
    mkdir(spool.c_str(), 0700);
    bench::write_config(conf.path(), name, spool);
    bx_session s = bx_init(name.c_str());
    if (!s) bench::die("bx_init", bx_initerror);
    return s;
}

void sized(bench::ConfigDir &conf, const std::string &parent, long size, unsigned tag) {
    std::string name = "q" + std::to_string(size);
    bx_session s = open_session(conf, name, parent + "/" + name);
    double t0 = bench::now();
    for (long i = 1; i <= size; i++) {
        std::string key = key_of(tag, i);
        _bx_xaction x = {};
        bx_xaction_retail_init(&x);
        if (!bx_xaction_retail_setinvoice(&x, key.c_str())) bench::die("cannot set invoice", key.c_str());
        x.time.creat = time(nullptr);
        if (bx_api_store(s->done, &x, key.c_str()) != bx_store::stored) bench::die("cannot store", key.c_str());
    }
    fprintf(stderr, "bench-queues: %ld items stored in %.1f s\n", size, bench::now() - t0);

    std::string text = "done {" + std::to_string(size) + "} ";
    measure(size, "count", s, [&] {
        bx_count(s, BX_STAT_DONE);
        return std::string(s->apitext);
    }, text);
    measure(size, "lookup-first", s, [&] {
        bx_lookup(s, BX_STAT_DONE, 1);
        return std::string(s->apitext);
    }, key_of(tag, 1));
    measure(size, "lookup-last", s, [&] {
        bx_lookup(s, BX_STAT_DONE, static_cast<int>(size));
        return std::string(s->apitext);
    }, key_of(tag, size));
    std::string middle = key_of(tag, (size + 1) / 2);
    measure(size, "status", s, [&] { return std::to_string(bx_status(s, middle.c_str())); },
            std::to_string(BX_STAT_DONE));
    measure(size, "status-none", s, [&] { return std::to_string(bx_status(s, "NOSUCH00")); },
            std::to_string(BX_STAT_NONE));
    bx_done(s);
}

void history(bench::ConfigDir &conf, const std::string &parent, long n, unsigned tag) {
    bx_session s = open_session(conf, "history", parent + "/history");
    auto ok = [&](int answer, const char *what) {
        if (answer != BX_OK) bench::die(what, s->apitext);
    };
    for (long i = 1; i <= n; i++) ok(bx_new(s, key_of(tag, i).c_str()), "bx_new");
    std::string text = "new {" + std::to_string(n) + "} ";
    auto count = [&] {
        bx_count(s, BX_STAT_NEW);
        return std::string(s->apitext);
    };
    measure(n, "count-fresh", s, count, text);
    for (int round = 0; round < 5; round++)
        for (long i = 1; i <= n; i++) ok(bx_add(s, key_of(tag, i).c_str(), BX_ARG_AMOUNT, "1.00"), "bx_add");
    measure(n, "count-changed", s, count, text);
    bx_done(s);
}

[[noreturn]] void usage() {
    fputs("usage: bench-queues SPOOL_PARENT [-H HISTORY] [SIZE...]\n", stderr);
    exit(2);
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 2) usage();
    std::string parent = argv[1];
    long hist = 200;
    std::vector<long> sizes;
    for (int i = 2; i < argc; i++) {
        if (strcmp(argv[i], "-H") == 0 && i + 1 < argc) {
            hist = atol(argv[++i]);
        } else {
            long v = atol(argv[i]);
            if (v < 1) usage();
            sizes.push_back(v);
        }
    }
    if (sizes.empty()) sizes = {10, 1000, 100000};
    mkdir(parent.c_str(), 0700);
    bench::ConfigDir conf;
    unsigned tag = bench::run_tag();
    for (long size : sizes) sized(conf, parent, size, tag);
    if (hist > 0) history(conf, parent, hist, tag);
    return 0;
}
