// The shared processor state records: their exact bytes, parsing of any
// bytes, the sync states, the card-range table, and sessions without a
// globals queue.
#include <sys/stat.h>

#include <cstring>

#include "api/bx_api_new.h"

#include "commands/bx_nash_dll.h"
#include "commands/bx_rbank_dll.h"
#include "support/qor_log.h"
#include "tests/api/daemon.h"
#include "tests/commands/commands_fixture.h"

using ctest::Commands;
using namespace std::string_literals;

namespace {

struct Record {
    const char *key;
    bx_session (*sync)(bx_session);
    int &(*state)(_dll &);
};
const Record kInitreqf{"INITREQF", bx_rbank_dllsync_initialization,
                       [](_dll &d) -> int & { return d.flags.needs_init_valid; }};
const Record kInitstat{"INITSTAT", bx_rbank_dllsync_initstate,
                       [](_dll &d) -> int & { return d.init_state.valid; }};
const Record kNettimef{"NETTIMEF", bx_rbank_dllsync_network,
                       [](_dll &d) -> int & { return d.timing_data.valid; }};
const Record kTimeouts{"TIMEOUTS", bx_rbank_dllsync_timeouts,
                       [](_dll &d) -> int & { return d.timeouts.valid; }};
const Record kBatchnum{"BATCHNUM", bx_rbank_dllsync_batchnum,
                       [](_dll &d) -> int & { return d.counters.batchvalid; }};
const Record kTransnum{"TRANSNUM", bx_rbank_dllsync_transnum,
                       [](_dll &d) -> int & { return d.counters.transvalid; }};
const Record kMerchant{"MERCHANT", bx_rbank_dllsync_merchant,
                       [](_dll &d) -> int & { return d.merchant.valid; }};
const Record kServices{"SERVICES", bx_rbank_dllsync_ranges,
                       [](_dll &d) -> int & { return d.ranges.valid; }};
const Record kPhonenum{"PHONENUM", bx_nash_dllsync_phonenum,
                       [](_dll &d) -> int & { return d.phonenum.valid; }};

// Values a read must replace, or keep where the record lacks the piece.
void preset(_dll &d) {
    d.flags.needs_init = d.timeouts.enq = d.timeouts.rsp = d.timeouts.eot = 77;
    d.flags.needs_init_time = d.timing_data.upload_time = d.timing_data.last_response_dur = 77;
    d.timing_data.active = d.merchant.authallowed = d.merchant.returnallowed = 7;
    d.counters.batchnum = d.counters.transnum = d.ranges.numranges = 77;
    strcpy(d.merchant.id, "old");
    strcpy(d.merchant.name, "old");
    strcpy(d.phonenum.primary, "old");
    strcpy(d.phonenum.secondary, "old");
}

TEST_F(Commands, EachRecordIsWrittenByteForByte) {
    open_protocol("RBank");
    struct Case {
        Record rec;
        void (*fill)(_dll &);
        std::string bytes;
    } cases[] = {
        {kInitreqf, [](_dll &d) { d.flags.needs_init = 1, d.flags.needs_init_time = 95; }, "1\0" "95\0"s},
        {kInitstat, [](_dll &d) { d.init_state.access_code = 'A', d.init_state.processing_code = '\xE9'; },
         "A\xE9"s},
        {kNettimef, [](_dll &d) { d.timing_data.active = 1, d.timing_data.upload_time = 12,
                                  d.timing_data.last_response_dur = 3; }, "112\0" "3\0"s},
        {kTimeouts, [](_dll &d) { d.timeouts.enq = 15, d.timeouts.rsp = -2, d.timeouts.eot = 300; },
         "15\0-2\0" "300\0"s},
        {kBatchnum, [](_dll &d) { d.counters.batchnum = 42; }, "42\0"s},
        {kTransnum, [](_dll &d) { d.counters.transnum = 0; }, "0\0"s},
        {kMerchant, [](_dll &d) { strcpy(d.merchant.id, "M1234"), strcpy(d.merchant.name, "ACME");
                                  d.merchant.authallowed = 1, d.merchant.returnallowed = 0; },
         "M1234\0ACME\0" "10"s},
        {kServices, [](_dll &d) { d.ranges.numranges = 2, d.ranges.s[0] = {"V ", "4", "5"},
                                  d.ranges.s[1] = {"AX", "34", "35"}; },
         "2\0V \0" "4\0" "5\0AX\0" "34\0" "35\0"s},
        {kPhonenum, [](_dll &d) { strcpy(d.phonenum.primary, "5551234"), d.phonenum.secondary[0] = 0; },
         "5551234\0\0"s},
    };
    for (const Case &c : cases) {
        c.fill(s->dll);
        c.rec.state(s->dll) = 2;
        EXPECT_EQ(c.rec.sync(s), s);
        EXPECT_EQ(c.rec.state(s->dll), 1) << c.rec.key;
        EXPECT_EQ(record(c.rec.key), c.bytes) << c.rec.key;
    }
}

TEST_F(Commands, ReadingTakesWhatIsThereAndNeverMore) {
    open_protocol("RBank");
    std::string ranges31 = "31\0"s, ranges_short = "5\0V \0" "4\0" "5\0M \0" "5\0" "6\0DC\0" "3"s;
    for (int i = 0; i < 31; i++) ranges31 += "R\0"s + std::to_string(i) + "\0"s + "9\0"s;
    struct Case {
        Record rec;
        std::string bytes;
        void (*check)(const _dll &);
    } cases[] = {
        {kInitreqf, "1\0" "95\0"s, [](const _dll &d) {
             EXPECT_EQ(d.flags.needs_init, 1); EXPECT_EQ(d.flags.needs_init_time, 95); }},
        {kInitreqf, "0x123"s, [](const _dll &d) {
             EXPECT_EQ(d.flags.needs_init, 0); EXPECT_EQ(d.flags.needs_init_time, 123); }},
        {kInitstat, "A\xE9"s, [](const _dll &d) {
             EXPECT_EQ(d.init_state.access_code, 'A'); EXPECT_EQ(d.init_state.processing_code, '\xE9'); }},
        {kNettimef, "012\0" "3\0"s, [](const _dll &d) {
             EXPECT_EQ(d.timing_data.active, 0); EXPECT_EQ(d.timing_data.upload_time, 12);
             EXPECT_EQ(d.timing_data.last_response_dur, 3); }},
        {kNettimef, "x"s, [](const _dll &d) {
             EXPECT_EQ(d.timing_data.active, 1); EXPECT_EQ(d.timing_data.upload_time, 77); }},
        {kTimeouts, "15\0-2\0" "99999999999\0"s, [](const _dll &d) {
             EXPECT_EQ(d.timeouts.enq, 15); EXPECT_EQ(d.timeouts.rsp, -2);
             EXPECT_EQ(d.timeouts.eot, 2147483647); }},
        {kTimeouts, "15"s, [](const _dll &d) {
             EXPECT_EQ(d.timeouts.enq, 15); EXPECT_EQ(d.timeouts.rsp, 77); }},
        {kBatchnum, "42\0"s, [](const _dll &d) { EXPECT_EQ(d.counters.batchnum, 42); }},
        {kTransnum, "7abc"s, [](const _dll &d) { EXPECT_EQ(d.counters.transnum, 7); }},
        {kMerchant, std::string(25, 'i') + "\0"s + std::string(45, 'n') + "\0" "01"s, [](const _dll &d) {
             EXPECT_EQ(d.merchant.id, std::string(19, 'i')); EXPECT_EQ(d.merchant.name, std::string(40, 'n'));
             EXPECT_EQ(d.merchant.authallowed, 0); EXPECT_EQ(d.merchant.returnallowed, 1); }},
        {kMerchant, "ID\0NAME"s, [](const _dll &d) {
             EXPECT_STREQ(d.merchant.id, "ID"); EXPECT_STREQ(d.merchant.name, "NAME");
             EXPECT_EQ(d.merchant.authallowed, 7); }},
        {kServices, ranges31, [](const _dll &d) {
             EXPECT_EQ(d.ranges.numranges, 30); EXPECT_STREQ(d.ranges.s[29].prefixlow, "29"); }},
        {kServices, ranges_short, [](const _dll &d) {
             EXPECT_EQ(d.ranges.numranges, 2); EXPECT_STREQ(d.ranges.s[1].servicetype, "M "); }},
        {kServices, "-3\0"s, [](const _dll &d) { EXPECT_EQ(d.ranges.numranges, 0); }},
        {kPhonenum, std::string(40, '1') + "\0" "5559876"s, [](const _dll &d) {
             EXPECT_EQ(d.phonenum.primary, std::string(32, '1'));
             EXPECT_STREQ(d.phonenum.secondary, "5559876"); }},
        {kPhonenum, std::string(1025, '5'), [](const _dll &d) { EXPECT_STREQ(d.phonenum.primary, "old"); }},
        {kPhonenum, ""s, [](const _dll &d) { EXPECT_STREQ(d.phonenum.primary, "old"); }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.rec.key + (" " + c.bytes.substr(0, 20)));
        preset(s->dll);
        put_record(c.rec.key, c.bytes);
        c.rec.state(s->dll) = 0;
        c.rec.sync(s);
        EXPECT_EQ(c.rec.state(s->dll), 1);
        c.check(s->dll);
    }
}

TEST_F(Commands, SyncStateDecidesTheDirection) {
    open_protocol("RBank");
    struct Case {
        int state;
        const char *disk;     // record before the sync, null for none
        int memory_after;
        std::string disk_after;
    } cases[] = {
        {0, nullptr, 5, "-"}, {0, "9", 9, "9\0"s}, {1, "9", 5, "9\0"s},
        {2, "9", 5, "5\0"s},  {2, nullptr, 5, "5\0"s}, {7, "9", 5, "9\0"s},
    };
    for (const Case &c : cases) {
        open_protocol("RBank");
        if (c.disk) put_record("BATCHNUM", c.disk + "\0"s);
        s->dll.counters.batchnum = 5;
        s->dll.counters.batchvalid = c.state;
        bx_rbank_dllsync_batchnum(s);
        EXPECT_EQ(s->dll.counters.batchvalid, 1) << c.state;
        EXPECT_EQ(s->dll.counters.batchnum, c.memory_after) << c.state;
        EXPECT_EQ(record("BATCHNUM"), c.disk_after) << c.state;
    }
}

TEST_F(Commands, RangesAreFoundByPrefixLowInclusiveHighExclusive) {
    open_protocol("RBank");
    const _bx_dll_range table[] = {{"V ", "4000", "5000"}, {"C1", "4", "5"}, {"M ", "51", "56"}, {"AX", "34", "35"}};
    for (const _bx_dll_range &r : table) *bx_rbank_dll_addrange(s) = r;
    s->dll.ranges.valid = 2;
    bx_rbank_dllsync_ranges(s);
    // A fresh read from disk serves the look-ups.
    s->dll.ranges.numranges = 0;
    s->dll.ranges.valid = 0;
    struct Case {
        const char *card;
        const char *type;  // null: no range
    } cases[] = {{"4000123", "V "}, {"4999999", "V "}, {"41", "C1"}, {"5000000", nullptr},
                 {"5100", "M "},    {"5599", "M "},    {"56", nullptr}, {"34", "AX"},
                 {"3", nullptr},    {"", nullptr}};
    for (const Case &c : cases) {
        _bx_dll_range *r = bx_rbank_dll_findrange(s, c.card);
        EXPECT_STREQ(r ? r->servicetype : nullptr, c.type) << c.card;
    }
    EXPECT_EQ(s->dll.ranges.numranges, 4);
    while (bx_rbank_dll_addrange(s)) {
    }
    EXPECT_EQ(s->dll.ranges.numranges, 30);
    EXPECT_EQ(bx_rbank_dll_addrange(s), nullptr);
    EXPECT_EQ(s->dll.ranges.numranges, 30);
    EXPECT_EQ(bx_rbank_dll_findrange(s, nullptr), nullptr);
}

// A data directory whose globals queue cannot be opened: the syncs touch
// nothing, and the commands that need the queue answer 128.
TEST_F(Commands, WithoutGlobalsQueueCommandsFailCleanly) {
    mkdir(spool.c_str(), 0700);
    testutil::write_file(spool + "/globals", "");
    s = open(base_config("Nashville"));
    ASSERT_NE(s, nullptr);
    ASSERT_EQ(s->globals, nullptr);
    testutil::LogCapture log;
    s->dll.counters.batchvalid = 2;
    EXPECT_EQ(bx_rbank_dllsync_batchnum(s), s);
    EXPECT_EQ(s->dll.counters.batchvalid, 2);
    EXPECT_TRUE(log.contains("NonFatal error: bx_rbank_dllsync_batchnum: queue 'globals' is not open\n"));
    EXPECT_EQ(bx_command(s, BX_CMD_PHONENUM, "5551234"), 128);
    EXPECT_STREQ(s->apitext, "text {unable to read phone numbers}");
    bx_done(s);
    s = open(base_config("RBank"));
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(bx_command(s, BX_CMD_INITIALIZE, nullptr), 128);
    EXPECT_STREQ(s->apitext, "text {unable to store init flag}");
    EXPECT_EQ(s->dll.flags.needs_init_lockfd, -1);
    EXPECT_EQ(bx_rbank_dll_findrange(s, "4111"), nullptr);
    ASSERT_EQ(bx_new(s, "R1"), 0);
    ASSERT_TRUE(testutil::daemon_move(s->new_, s->auth, "R1"));
    EXPECT_EQ(bx_command(s, BX_CMD_RECEIPT, "R1"), 128);
    EXPECT_STREQ(s->apitext, "text {unable to read card ranges}");
}

}  // namespace
