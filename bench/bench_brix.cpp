// bench-brix: what a transaction costs.  Creates, fills, looks up, moves
// (authorisation, sale) and counts transactions through the library in a
// scratch spool directory and reports, per operation, the wall time, the
// CPU time this process spent, and the file-system calls it made.  When
// CPU time is a small part of wall time, the disk's flushes are the cost,
// not the library's code.
//
// Usage: bench-brix [TRANSACTIONS] [SPOOL-PARENT-DIR]
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "api/bx_api_add.h"
#include "api/bx_api_count.h"
#include "api/bx_api_init.h"
#include "api/bx_api_dauth.h"
#include "api/bx_api_new.h"
#include "api/bx_api_sale.h"
#include "api/bx_api_status.h"
#include "queue/qor_fdlib.h"
#include "session/bx_config.h"
#include "support/qor_log.h"

namespace {

// User and system CPU seconds of this process so far.
struct Cpu {
    double user, sys;
};
Cpu cpu_seconds() {
    rusage ru;
    getrusage(RUSAGE_SELF, &ru);
    auto secs = [](const timeval &tv) { return tv.tv_sec + tv.tv_usec / 1e6; };
    return {secs(ru.ru_utime), secs(ru.ru_stime)};
}

struct Meter {
    const char *name;
    int ops = 0;
    double wall = 0, user = 0, sys = 0;
    unsigned long calls = 0;
    template <typename Fn>
    void run(Fn fn) {
        auto t0 = std::chrono::steady_clock::now();
        Cpu c0 = cpu_seconds();
        unsigned long k0 = qor_fdlib_calls();
        fn();
        calls += qor_fdlib_calls() - k0;
        Cpu c1 = cpu_seconds();
        user += c1.user - c0.user;
        sys += c1.sys - c0.sys;
        wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        ops++;
    }
    void report() const {
        printf("%-10s %5d ops %8.3f ms wall/op %7.3f ms user/op %7.3f ms system/op %6.1f fs calls/op\n",
               name, ops, 1e3 * wall / ops, 1e3 * user / ops, 1e3 * sys / ops, double(calls) / ops);
    }
};

void quiet(int, const char *, void *) {}

}  // namespace

int main(int argc, char **argv) {
    int n = argc > 1 ? atoi(argv[1]) : 200;
    std::string parent = argc > 2 ? argv[2] : "/tmp";
    std::string root = parent + "/bench-brix-XXXXXX";
    if (!mkdtemp(root.data())) {
        perror("mkdtemp");
        return 1;
    }
    std::string conf = root + "/conf";
    mkdir(conf.c_str(), 0700);
    std::string plain = "Uname: " + std::string(getenv("USER") ? getenv("USER") : "root") +
                        "\nClearingProtocol: demo\nBRIXPath: " + root +
                        "/spool\nModemPort: /dev/null\nMerchantNo: 1\n";
    if (FILE *f = fopen((conf + "/bench.conf").c_str(), "w")) {
        std::string s = brix::config_scramble(plain);
        fwrite(s.data(), 1, s.size(), f);
        fclose(f);
    }
    setenv("BRIX_CONFIG_DIR", conf.c_str(), 1);
    qor_log_set_sink(quiet, nullptr);
    bx_session s = bx_init("bench");
    if (!s) {
        fprintf(stderr, "bx_init: %s\n", bx_initerror);
        return 1;
    }

    Meter mnew{"bx_new"}, madd{"bx_add"}, mstatus{"bx_status"}, mcount{"bx_count"},
        mauth{"bx_auth"}, msale{"bx_sale"};
    for (int i = 0; i < n; i++) {
        std::string inv = "B" + std::to_string(i);
        mnew.run([&] { bx_new(s, inv.c_str()); });
        madd.run([&] { bx_add(s, inv.c_str(), 1, "12.34"); });
        madd.run([&] { bx_add(s, inv.c_str(), 2, "4111111111111111"); });
        madd.run([&] { bx_add(s, inv.c_str(), 3, "1229"); });
        mstatus.run([&] { bx_status(s, inv.c_str()); });
        // Every other transaction is authorised, the rest sold straight
        // from "new": both move a record between two queues.
        if (i % 2)
            mauth.run([&] { bx_auth(s, inv.c_str()); });
        else
            msale.run([&] { bx_sale(s, inv.c_str()); });
    }
    mcount.run([&] { bx_count(s, 255); });
    printf("spool under %s, %d transactions\n", parent.c_str(), n);
    for (const Meter *m : {&mnew, &madd, &mstatus, &mauth, &msale, &mcount}) m->report();
    bx_done(s);
    std::string rm = "rm -rf '" + root + "'";
    return system(rm.c_str()) == 0 ? 0 : 1;
}
