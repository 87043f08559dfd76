// Daemon status reports: the writer's file, line and failures, and the
// reader's refusals (the reading answers are also covered from PHP).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <regex>
#include <string>

#include "session/bx_report.h"
#include "tests/brix_fixture.h"

using testutil::read_file;

namespace {

class Report : public testutil::BrixTest {
protected:
    bx_session s = nullptr;
    std::string server, upload, tmp;
    void SetUp() override {
        BrixTest::SetUp();
        s = open(base_config());
        ASSERT_NE(s, nullptr) << bx_initerror;
        server = spool + ".dstat";
        upload = spool + ".ustat";
        tmp = spool + "." + std::to_string(getpid());
    }
    void TearDown() override {
        bx_done(s);
        BrixTest::TearDown();
    }
};

TEST_F(Report, WritesBesideTheDataDirectoryAndReadsBack) {
    EXPECT_STREQ(bx_repname[0], "debug");
    ASSERT_EQ(bx_setreport(s, 1, "dialing", "ORDER1XX"), 0);
    std::string line = read_file(server);
    EXPECT_TRUE(std::regex_match(line, std::regex(R"(task \{dialing\} current \{ORDER1XX\} )"
                                                  R"(time \{\w{3} \w{3} [ \d]\d \d\d:\d\d:\d\d \d{4}\}\n)")))
        << line;
    EXPECT_EQ(testutil::file_mode(server), 0600);
    EXPECT_FALSE(testutil::exists(tmp));
    ASSERT_EQ(bx_getreport(s, 1), 0);
    EXPECT_EQ(s->apitext, line);
    // No current item writes none, no task the empty text.
    ASSERT_EQ(bx_setreport(s, 2, "upload", nullptr), 0);
    ASSERT_EQ(bx_setreport(s, 2, nullptr, nullptr), 0);
    EXPECT_EQ(read_file(upload).rfind("task {} current {none} time {", 0), 0u);
}

TEST_F(Report, RefusesNoSessionAndOtherTypes) {
    EXPECT_EQ(bx_getreport(nullptr, 1), -7);
    EXPECT_EQ(bx_setreport(nullptr, 1, "t", "c"), -7);
    for (int type : {0, 3, -1}) {
        strcpy(s->apitext, "earlier");
        EXPECT_EQ(bx_getreport(s, type), -2) << type;
        EXPECT_STREQ(s->apitext, "") << type;
        EXPECT_EQ(bx_setreport(s, type, "t", "c"), -2) << type;
    }
    EXPECT_EQ(testutil::list_dir(dir.path()), (std::vector<std::string>{"conf", "spool"}));
    mkdir(server.c_str(), 0700);  // unreadable
    EXPECT_EQ(bx_getreport(s, 1), 128);
    EXPECT_STREQ(s->apitext, "");
}

TEST_F(Report, WriteFailuresLeaveTheOldReport) {
    ASSERT_EQ(bx_setreport(s, 1, "old", "none"), 0);
    std::string old = read_file(server);
    mkdir(tmp.c_str(), 0700);  // the temporary file cannot be created
    EXPECT_EQ(bx_setreport(s, 1, "new", "none"), 128);
    rmdir(tmp.c_str());
    // A link in place of the temporary file is not followed.
    std::string victim = dir / "victim";
    testutil::write_file(victim, "keep");
    ASSERT_EQ(symlink(victim.c_str(), tmp.c_str()), 0);
    EXPECT_EQ(bx_setreport(s, 1, "new", "none"), 128);
    EXPECT_EQ(read_file(victim), "keep");
    unlink(tmp.c_str());
    EXPECT_EQ(read_file(server), old);
    // The rename fails: the error's code, and no temporary file is left.
    mkdir(upload.c_str(), 0700);
    testutil::write_file(upload + "/x", "");
    EXPECT_EQ(bx_setreport(s, 2, "new", "none"), -18);  // EISDIR
    EXPECT_FALSE(testutil::exists(tmp));
}

TEST_F(Report, DataPathTooLongForItsReportNames) {
    testutil::LogCapture log;
    char saved[sizeof s->qdir];
    memcpy(saved, s->qdir, sizeof saved);
    memset(s->qdir, 'a', sizeof s->qdir - 1);
    s->qdir[sizeof s->qdir - 1] = '\0';
    EXPECT_EQ(bx_getreport(s, 1), 128);
    EXPECT_EQ(bx_setreport(s, 1, "t", "c"), 128);
    EXPECT_TRUE(log.contains("NonFatal error: Data path too long for report file names (4094 characters)\n"));
    memset(s->qdir, 'a', sizeof s->qdir);  // no terminator: read to the field's end only
    EXPECT_EQ(bx_getreport(s, 2), 128);
    EXPECT_TRUE(log.contains("NonFatal error: Data path too long for report file names (4095 characters)\n"));
    memcpy(s->qdir, saved, sizeof saved);
}

}  // namespace
