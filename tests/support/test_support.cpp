#include <gtest/gtest.h>
#include <syslog.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "support/qor_log.h"
#include "support/qor_util.h"
#include "tests/testutil.h"

using testutil::LogCapture;

TEST(QorLog, LevelsNamesAndPriorities) {
    struct Case {
        int level;
        const char *line;
        int priority;
    } cases[] = {
        {1, "Debug: x\n", LOG_DEBUG},          {2, "Information: x\n", LOG_INFO},
        {3, "Warning: x\n", LOG_WARNING},      {4, "NonFatal error: x\n", LOG_ERR},
        {5, "Fatal error: x\n", LOG_CRIT},     {0, "Unknown type: x\n", LOG_ERR},
        {6, "Unknown type: x\n", LOG_ERR},
    };
    for (const auto &c : cases) {
        LogCapture log;
        qor_log(c.level, "x");
        ASSERT_EQ(log.lines().size(), 1u);
        EXPECT_EQ(log.lines()[0].text, c.line);
        EXPECT_EQ(log.lines()[0].priority, c.priority);
    }
}

TEST(QorLog, FormattedAndErrorForms) {
    LogCapture log;
    qor_logf(4, "Unable to find transaction %s", "INV42XXX");
    errno = ENOENT;
    qor_log_err(5, "open");
    errno = EACCES;
    qor_log_errf(4, "Unable to lock database to store transaction %s", "inv-42");
    auto t = log.texts();
    ASSERT_EQ(t.size(), 3u);
    EXPECT_EQ(t[0], "NonFatal error: Unable to find transaction INV42XXX\n");
    EXPECT_EQ(t[1], std::string("Fatal error(open): ") + strerror(ENOENT) + "\n");
    EXPECT_EQ(t[2], std::string("NonFatal error: ") + strerror(EACCES) +
                        ": Unable to lock database to store transaction inv-42\n");
}

TEST(QorLog, LongLineIsCutToTheBuffer) {
    LogCapture log;
    std::string big(10000, 'a');
    qor_log(2, big.c_str());
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_EQ(log.lines()[0].text.size(), 4095u);
}

TEST(QorLog, DefaultIdentity) { EXPECT_STREQ(qor_log_ident, "qor-no-name"); }

TEST(QorUtil, SafeStrncpyPadsAndTerminates) {
    char buf[6];
    memset(buf, 'z', sizeof buf);
    qor_util_safestrncpy(buf, "ab", 5);
    EXPECT_EQ(std::string(buf, 6), std::string("ab\0\0\0\0", 6));
    qor_util_safestrncpy(buf, "abcdefgh", 5);
    EXPECT_STREQ(buf, "abcde");
    qor_util_safestrncpy(buf, nullptr, 5);
    EXPECT_STREQ(buf, "");
}

TEST(QorUtil, IsNumStr) {
    struct Case {
        const char *text;
        int expect;
    } cases[] = {{"0", 1},  {"12", 1},  {"-5", 1},  {"012", 0}, {"+1", 0},
                 {" 1", 0}, {"", 0},    {"-", 0},   {"-0", 0},  {"12.lock", 0},
                 {"2147483647", 1}, {"2147483648", 0}, {"-2147483648", 1}, {".index", 0}};
    for (const auto &c : cases) EXPECT_EQ(qor_util_isnumstr(c.text), c.expect) << c.text;
}

TEST(QorUtil, ChopAndStrdup) {
    char buf[] = "line\nrest";
    EXPECT_EQ(qor_util_chop(buf), buf + 4);
    EXPECT_STREQ(buf, "line");
    char none[] = "none";
    EXPECT_EQ(qor_util_chop(none), nullptr);
    EXPECT_EQ(qor_util_strdup(nullptr), nullptr);
    char *d = qor_util_strdup("abc");
    EXPECT_STREQ(d, "abc");
    free(d);
}

TEST(QorUtil, CtimeStrIs24Characters) {
    time_t t = 0;
    setenv("TZ", "UTC", 1);
    tzset();
    EXPECT_STREQ(qor_util_ctimestr(&t), "Thu Jan  1 00:00:00 1970");
    EXPECT_EQ(strlen(qor_util_ctimestr(nullptr)), 24u);
    EXPECT_STREQ(qor_util_shortmonths[0], "Jan");
    EXPECT_STREQ(qor_util_shortmonths[12], "");
}
