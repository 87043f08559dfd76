// Several processes creating and filling transactions at once, with real
// processes sharing one merchant's queues.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "api/bx_api_add.h"
#include "api/bx_api_count.h"
#include "api/bx_api_new.h"
#include "api/bx_api_status.h"
#include "support/qor_log.h"
#include "tests/api/daemon.h"
#include "tests/brix_fixture.h"

using testutil::BrixTest;

namespace {

void quiet(int, const char *, void *) {}

// Runs n children, each with its own session; returns their exit codes.
template <typename Fn>
std::vector<int> run_children(int n, Fn fn) {
    fflush(nullptr);
    std::vector<pid_t> pids;
    for (int i = 0; i < n; i++) {
        pid_t pid = fork();
        if (pid == 0) {
            qor_log_set_sink(quiet, nullptr);
            _exit(fn(i));
        }
        pids.push_back(pid);
    }
    std::vector<int> codes;
    for (pid_t pid : pids) {
        int status = 0;
        waitpid(pid, &status, 0);
        codes.push_back(WIFEXITED(status) ? WEXITSTATUS(status) : 200);
    }
    return codes;
}

class Concurrency : public BrixTest {
protected:
    void SetUp() override {
        BrixTest::SetUp();
        write_config("test", base_config());
    }
};

TEST_F(Concurrency, OfTwoCreatorsOfOneInvoiceExactlyOneWins) {
    const int rounds = 20;
    auto codes = run_children(2, [&](int) {
        bx_session s = bx_init("test");
        if (!s) return 100;
        int wins = 0;
        for (int r = 0; r < rounds; r++) {
            int rc = bx_new(s, ("race" + std::to_string(r)).c_str());
            if (rc == 0) wins++;
            else if (rc != -3) return 101;
        }
        bx_done(s);
        return wins;
    });
    ASSERT_LT(codes[0], 100);
    ASSERT_LT(codes[1], 100);
    EXPECT_EQ(codes[0] + codes[1], rounds);
    bx_session s = bx_init("test");
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(bx_count(s, 1), rounds);
    bx_done(s);
}

TEST_F(Concurrency, ManyFillersLoseNothing) {
    const int children = 4, each = 15;
    auto codes = run_children(children, [&](int c) {
        bx_session s = bx_init("test");
        if (!s) return 100;
        for (int i = 0; i < each; i++) {
            std::string inv = "c" + std::to_string(c) + "i" + std::to_string(i);
            if (bx_new(s, inv.c_str()) != 0) return 101;
            std::string amount = std::to_string(c + 1) + "." + std::to_string(10 + i);
            if (bx_add(s, inv.c_str(), 1, amount.c_str()) != 0) return 102;
            if (bx_add(s, inv.c_str(), 2, "4111111111111111") != 0) return 103;
        }
        bx_done(s);
        return 0;
    });
    for (int rc : codes) EXPECT_EQ(rc, 0);
    bx_session s = bx_init("test");
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(bx_count(s, 1), children * each);
    for (int c = 0; c < children; c++)
        for (int i = 0; i < each; i++) {
            std::string inv = "c" + std::to_string(c) + "i" + std::to_string(i);
            _bx_xaction x = {};
            ASSERT_TRUE(testutil::read_xaction(s->new_, inv.c_str(), x)) << inv;
            EXPECT_EQ(x.amount, (c + 1) * 100 + 10 + i) << inv;
            EXPECT_STREQ(x.acc.card.num, "4111111111111111") << inv;
        }
    bx_done(s);
}

}  // namespace
