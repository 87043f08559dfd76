// The shared processor state records: their exact bytes, parsing of any
// bytes, the sync states, the card-range table, no globals queue.
#include <sys/stat.h>

#include <cstddef>
#include <cstring>

#include "api/bx_api_new.h"
#include "commands/bx_nash_dll.h"
#include "commands/bx_rbank_dll.h"
#include "tests/api/daemon.h"
#include "tests/commands/commands_fixture.h"

using ctest::Commands;
using namespace std::string_literals;

namespace {

enum { INITREQF, INITSTAT, NETTIMEF, TIMEOUTS, BATCHNUM, TRANSNUM, MERCHANT, SERVICES, PHONENUM };
const char *const kKeys[] = {"INITREQF", "INITSTAT", "NETTIMEF", "TIMEOUTS", "BATCHNUM",
                             "TRANSNUM", "MERCHANT", "SERVICES", "PHONENUM"};
bx_session (*const kSyncs[])(bx_session) = {
    bx_rbank_dllsync_initialization, bx_rbank_dllsync_initstate, bx_rbank_dllsync_network,
    bx_rbank_dllsync_timeouts, bx_rbank_dllsync_batchnum, bx_rbank_dllsync_transnum,
    bx_rbank_dllsync_merchant, bx_rbank_dllsync_ranges, bx_nash_dllsync_phonenum};
int &state(_dll &d, int rec) {
    int *states[] = {&d.flags.needs_init_valid, &d.init_state.valid, &d.timing_data.valid,
                     &d.timeouts.valid, &d.counters.batchvalid, &d.counters.transvalid,
                     &d.merchant.valid, &d.ranges.valid, &d.phonenum.valid};
    return *states[rec];
}
// Reads one record afresh; true when the sync left the state at 1.
bool load(bx_session s, int rec) {
    state(s->dll, rec) = 0;
    kSyncs[rec](s);
    return state(s->dll, rec) == 1;
}

// Each record is written byte for byte, and what is read back into a
// cleared dll writes the same bytes again.
TEST_F(Commands, EachRecordWrittenExactlyAndReadBack) {
    open_protocol("RBank");
    _dll &d = s->dll;
    d.flags = {1, 95, 0, -1};
    d.init_state = {0, 'A', '\xE9'};
    d.timing_data = {0, 1, 12, 3};
    d.timeouts = {0, 15, -2, 300};
    d.counters = {0, 42, 0, 7};
    d.merchant = {0, "M1234", "ACME", 1, 0};
    d.ranges.numranges = 2, d.ranges.s[0] = {"V ", "4", "5"}, d.ranges.s[1] = {"AX", "34", "35"};
    d.phonenum = {0, "5551234", "5559876"};
    const std::string bytes[] = {"1\0" "95\0"s, "A\xE9"s, "112\0" "3\0"s, "15\0-2\0" "300\0"s, "42\0"s,
                                 "7\0"s, "M1234\0ACME\0" "10"s, "2\0V \0" "4\0" "5\0AX\0" "34\0" "35\0"s,
                                 "5551234\0" "5559876\0"s};
    for (int pass = 0; pass < 2; pass++) {
        for (int rec = INITREQF; rec <= PHONENUM; rec++) {
            state(d, rec) = 2;
            EXPECT_EQ(kSyncs[rec](s), s);
            EXPECT_EQ(state(d, rec), 1);
            EXPECT_EQ(record(kKeys[rec]), bytes[rec]) << kKeys[rec] << " pass " << pass;
        }
        memset(&d.flags, 0, sizeof d - offsetof(_dll, flags));
        for (int rec = INITREQF; rec <= PHONENUM; rec++) EXPECT_TRUE(load(s, rec));
    }
}

// Whatever the bytes, a read takes what is there and nothing more; a piece
// that is missing leaves its field as it was (77, "old").
TEST_F(Commands, ReadingTakesWhatIsThereAndNeverMore) {
    open_protocol("RBank");
    std::string ranges31 = "31\0"s;
    for (int i = 0; i < 31; i++) ranges31 += "R\0"s + std::to_string(i) + "\0" "9\0"s;
    const std::string id(25, 'i'), name(45, 'n'), number(40, '1');
    struct Case {
        int rec;
        std::string bytes;
        bool (*check)(const _dll &);
    } cases[] = {
        {INITREQF, "0x123"s, [](const _dll &d) { return d.flags.needs_init == 0 && d.flags.needs_init_time == 123; }},
        {NETTIMEF, "x"s, [](const _dll &d) { return d.timing_data.active == 1 && d.timing_data.upload_time == 77; }},
        {TIMEOUTS, "15\0-2"s, [](const _dll &d) { return d.timeouts.rsp == -2 && d.timeouts.eot == 77; }},
        {TIMEOUTS, "99999999999"s, [](const _dll &d) { return d.timeouts.enq == 2147483647; }},
        {TRANSNUM, "7abc"s, [](const _dll &d) { return d.counters.transnum == 7; }},
        {MERCHANT, id + "\0"s + name + "\0" "01"s, [](const _dll &d) {
             return d.merchant.id == std::string(19, 'i') && d.merchant.name == std::string(40, 'n') &&
                    d.merchant.authallowed == 0 && d.merchant.returnallowed == 1; }},
        {MERCHANT, "ID\0NAME"s, [](const _dll &d) { return !strcmp(d.merchant.name, "NAME") && d.merchant.authallowed == 77; }},
        {SERVICES, ranges31, [](const _dll &d) { return d.ranges.numranges == 30 && !strcmp(d.ranges.s[29].prefixlow, "29"); }},
        {SERVICES, "5\0V \0" "4\0" "5\0M \0" "5\0" "6\0DC\0" "3"s, [](const _dll &d) { return d.ranges.numranges == 2; }},
        {SERVICES, "-3\0"s, [](const _dll &d) { return d.ranges.numranges == 0; }},
        {PHONENUM, number + "\0" "5559876"s, [](const _dll &d) {
             return d.phonenum.primary == std::string(32, '1') && !strcmp(d.phonenum.secondary, "5559876"); }},
        {PHONENUM, std::string(1025, '5'), [](const _dll &d) { return !strcmp(d.phonenum.primary, "old"); }},
        {PHONENUM, ""s, [](const _dll &d) { return !strcmp(d.phonenum.primary, "old"); }},
    };
    for (const Case &c : cases) {
        _dll &d = s->dll;
        d.flags.needs_init = d.timeouts.enq = d.timeouts.rsp = d.timeouts.eot = d.counters.transnum = 77;
        d.flags.needs_init_time = d.timing_data.upload_time = d.ranges.numranges = 77;
        d.timing_data.active = d.merchant.authallowed = d.merchant.returnallowed = 77;
        strcpy(d.merchant.name, "old"), strcpy(d.phonenum.primary, "old");
        put_record(kKeys[c.rec], c.bytes);
        EXPECT_TRUE(load(s, c.rec));
        EXPECT_TRUE(c.check(d)) << kKeys[c.rec] << " " << c.bytes.substr(0, 30);
    }
}

TEST_F(Commands, SyncStateDecidesTheDirection) {
    struct Case {
        int state;
        const char *disk;     // record before the sync, null for none
        int memory_after;
        std::string disk_after;
    } cases[] = {{0, nullptr, 5, "-"}, {0, "9", 9, "9\0"s}, {1, "9", 5, "9\0"s},
                 {2, "9", 5, "5\0"s},  {2, nullptr, 5, "5\0"s}, {7, "9", 5, "9\0"s}};
    for (const Case &c : cases) {
        open_protocol("RBank");
        if (c.disk) put_record("BATCHNUM", c.disk + "\0"s);
        s->dll.counters = {c.state, 5, 0, 0};
        bx_rbank_dllsync_batchnum(s);
        EXPECT_EQ(s->dll.counters.batchvalid, 1) << c.state;
        EXPECT_EQ(s->dll.counters.batchnum, c.memory_after) << c.state;
        EXPECT_EQ(record("BATCHNUM"), c.disk_after) << c.state;
    }
}

TEST_F(Commands, RangesAreFoundByPrefixLowInclusiveHighExclusive) {
    open_protocol("RBank");
    for (const _bx_dll_range &r : {_bx_dll_range{"V ", "4000", "5000"}, {"C1", "4", "5"}, {"M ", "51", "56"}})
        *bx_rbank_dll_addrange(s) = r;
    s->dll.ranges.valid = 2;
    bx_rbank_dllsync_ranges(s);
    s->dll.ranges.numranges = 0;
    s->dll.ranges.valid = 0;  // the look-ups read the table back first
    const char *cases[][2] = {{"4000123", "V "}, {"4999999", "V "}, {"41", "C1"}, {"5000000", nullptr},
                              {"5100", "M "}, {"5599", "M "}, {"56", nullptr}, {"", nullptr}};
    for (auto &c : cases) {
        _bx_dll_range *r = bx_rbank_dll_findrange(s, c[0]);
        EXPECT_STREQ(r ? r->servicetype : nullptr, c[1]) << c[0];
    }
    while (bx_rbank_dll_addrange(s)) {
    }
    EXPECT_EQ(s->dll.ranges.numranges, 30);
    EXPECT_EQ(bx_rbank_dll_addrange(s), nullptr);
    EXPECT_EQ(s->dll.ranges.numranges, 30);
}

// A data directory whose globals queue cannot be opened: the syncs touch
// nothing, and the commands that need the queue answer 128.
TEST_F(Commands, WithoutGlobalsQueueCommandsFailCleanly) {
    mkdir(spool.c_str(), 0700);
    testutil::write_file(spool + "/globals", "");
    const char *cases[][4] = {
        {"Nashville", "5", "5551234", "text {unable to read phone numbers}"},
        {"RBank", "0", nullptr, "text {unable to store init flag}"},
        {"RBank", "4", "R1", "text {unable to read card ranges}"},
    };
    for (auto &c : cases) {
        ASSERT_NE(s = open(base_config(c[0])), nullptr);
        ASSERT_EQ(s->globals, nullptr);
        ASSERT_EQ(bx_new(s, "R1"), 0);
        ASSERT_TRUE(testutil::daemon_move(s->new_, s->auth, "R1"));
        testutil::LogCapture log;
        s->dll.counters.batchvalid = 2;
        EXPECT_EQ(bx_rbank_dllsync_batchnum(s), s);
        EXPECT_EQ(s->dll.counters.batchvalid, 2);
        EXPECT_TRUE(log.contains("NonFatal error: bx_rbank_dllsync_batchnum: queue 'globals' is not open\n"));
        EXPECT_EQ(bx_command(s, atoi(c[1]), c[2]), 128);
        EXPECT_STREQ(s->apitext, c[3]);
        bx_done(s);
        s = nullptr;
        testutil::remove_tree(spool + "/auth");
    }
}

}  // namespace
