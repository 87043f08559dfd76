// Counting, walking and deleting through the session operations.
#include <gtest/gtest.h>

#include <string>

#include "api/bx_api_count.h"
#include "api/bx_api_delete.h"
#include "api/bx_api_lookup.h"
#include "api/bx_api_new.h"
#include "api/bx_api_status.h"
#include "tests/api/daemon.h"
#include "tests/brix_fixture.h"

using testutil::BrixTest;
using testutil::LogCapture;

namespace {

class Queues : public BrixTest {
protected:
    bx_session s = nullptr;
    void SetUp() override {
        BrixTest::SetUp();
        s = open(base_config());
        ASSERT_NE(s, nullptr) << bx_initerror;
    }
    void TearDown() override {
        bx_done(s);
        BrixTest::TearDown();
    }
    void create(const std::string &inv, bx_queue q = nullptr) {
        ASSERT_EQ(bx_new(s, inv.c_str()), 0) << inv;
        if (q) {
            ASSERT_TRUE(testutil::daemon_move(s->new_, q, inv.c_str()));
        }
    }
};

TEST_F(Queues, CountLabelsAndTotals) {
    EXPECT_EQ(bx_count(nullptr, 255), -7);
    EXPECT_EQ(bx_count(s, 0), 0);
    EXPECT_STREQ(s->apitext, "");
    for (int i = 0; i < 3; i++) create("n" + std::to_string(i));
    for (int i = 0; i < 10; i++) create("d" + std::to_string(i), s->done);
    create("b0", s->bad);
    EXPECT_EQ(bx_count(s, 9), 13);
    EXPECT_STREQ(s->apitext, "new {3} done {10} ");
    EXPECT_EQ(bx_count(s, 255), 14);
    EXPECT_STREQ(s->apitext,
                 "new {3} authorized {0} ready {0} done {10} unauthorized {0} denied {0} review {0} bad {1} ");
    EXPECT_EQ(bx_count(s, 256 | 128), 1);
    EXPECT_STREQ(s->apitext, "bad {1} ");
}

TEST_F(Queues, LookupWalksOldestFirst) {
    EXPECT_EQ(bx_lookup(nullptr, 1, 1), -7);
    EXPECT_EQ(bx_lookup(s, 1, 0), -2);
    EXPECT_STREQ(s->apitext, "Error: item number must be at least 1");
    EXPECT_EQ(bx_lookup(s, 3, 0), -2);
    EXPECT_STREQ(s->apitext, "Error: item number must be at least 1");
    for (int type : {3, 0, 255, 256, -1}) {
        EXPECT_EQ(bx_lookup(s, type, 1), -2) << type;
        EXPECT_STREQ(s->apitext, "Error: invalid type");
    }
    EXPECT_EQ(bx_lookup(s, 1, 1), 0);
    EXPECT_STREQ(s->apitext, "NONE");
    for (const char *inv : {"first", "second", "third"}) create(inv);
    ASSERT_EQ(bx_delete(s, "second"), 0);
    const char *expect[] = {"FIRSTXXX", "THIRDXXX", "NONE"};
    for (int n = 1; n <= 3; n++) {
        EXPECT_EQ(bx_lookup(s, 1, n), 0);
        EXPECT_STREQ(s->apitext, expect[n - 1]) << n;
    }
}

TEST_F(Queues, DeleteWhereTheStateAllows) {
    EXPECT_EQ(bx_delete(nullptr, "x"), -7);
    EXPECT_EQ(bx_delete(s, "nosuch"), -4);
    EXPECT_STREQ(s->apitext, "text {invoice doesn't exist}");
    create("r1", s->ready);
    create("u1", s->unauth);
    for (const char *inv : {"r1", "u1"}) {
        EXPECT_EQ(bx_delete(s, inv), -4);
        EXPECT_STREQ(s->apitext, "text {illegal operation on that invoice}");
        EXPECT_NE(bx_status(s, inv), 0) << "left in place";
    }
    struct Case {
        const char *inv;
        bx_queue _bx_session::*queue;
    } cases[] = {{"n1", nullptr}, {"a1", &_bx_session::auth}, {"d1", &_bx_session::done},
                 {"x1", &_bx_session::denied}, {"v1", &_bx_session::review}, {"b1", &_bx_session::bad}};
    for (const auto &c : cases) {
        bx_queue q = c.queue ? s->*c.queue : s->new_;
        create(c.inv, c.queue ? q : nullptr);
        bx_status(s, c.inv);  // leaves text behind; a delete clears it
        EXPECT_EQ(bx_delete(s, c.inv), 0) << c.inv;
        EXPECT_STREQ(s->apitext, "");
        EXPECT_EQ(bx_status(s, c.inv), 0);
        // Item, entry and lock files are gone; only the bookkeeping stays.
        EXPECT_EQ(testutil::list_dir(q->qdpath),
                  (std::vector<std::string>{".dblock", ".head", ".index", ".lock"})) << c.inv;
    }
}

}  // namespace
