// brix-config, run as a real process: encoding, decoding, checking and
// looking up configuration files, exit statuses and messages.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "session/bx_config.h"
#include "tests/testutil.h"
#include "tests/tools/tools_test.h"

using testutil::TempDir;
using tooltest::Result;

namespace {

const std::string kTool = BRIX_BUILD_DIR "/brix-config";

Result run(const std::vector<std::string> &args, const std::string &input = "") {
    return tooltest::run(kTool, args, input);
}

const std::string kPlain =
    "MerchantNo: 12345\n"
    "merchantno: 99999\n"
    "Uname: brix  \r\n"
    "MerchantNo : shadow\n"
    "# a comment\n"
    "Empty:\n"
    "ClearingProtocol: demo\n"
    "Last: no line feed";

bool starts_with(const std::string &s, const std::string &prefix) {
    return s.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

TEST(BrixConfigTool, EncodeWritesPrivateFileThatDecodesBack) {
    TempDir dir;
    testutil::write_file(dir / "plain", kPlain);
    Result r = run({"encode", "-o", dir / "shop.conf", dir / "plain"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(testutil::file_mode(dir / "shop.conf"), 0600);
    EXPECT_EQ(testutil::read_file(dir / "shop.conf"), brix::config_scramble(kPlain));

    Result d = run({"decode", dir / "shop.conf"});
    EXPECT_EQ(d.status, 0);
    EXPECT_EQ(d.out, kPlain);
    EXPECT_EQ(d.err, "");

    // The library reads what the tool wrote.
    std::unique_ptr<_bx_config_config_data, void (*)(bx_config_config_data)> cfg(
        load_config((dir / "shop.conf").c_str()), bx_config_destroy_config);
    ASSERT_TRUE(cfg);
    char *v = bx_config_get_by_code(cfg.get(), BX_CFG_MERCHANTNO);
    ASSERT_TRUE(v);
    EXPECT_STREQ(v, "12345");
    free(v);
}

TEST(BrixConfigTool, EncodeFromStandardInputToStandardOutput) {
    std::string binary("A: \x01\xff\0z\n", 8);
    for (const auto &args : {std::vector<std::string>{"encode"},
                             std::vector<std::string>{"encode", "-"},
                             std::vector<std::string>{"encode", "--", "-"}}) {
        Result r = run(args, binary);
        EXPECT_EQ(r.status, 0) << args.size();
        EXPECT_EQ(r.out, brix::config_scramble(binary)) << args.size();
        EXPECT_EQ(r.err, "");
    }
    Result empty = run({"encode"});
    EXPECT_EQ(empty.out, brix::config_scramble(""));
}

// Over an existing file, and through a symbolic link to one: the file ends
// private and whole, and the link stays a link.
TEST(BrixConfigTool, EncodeOverExistingFileLeavesItPrivate) {
    for (bool link : {false, true}) {
        TempDir dir;
        std::string out = dir / "shop.conf", real = link ? dir / "real.conf" : out;
        testutil::write_file(real, std::string(4096, 'o'), 0644);
        if (link) {
            ASSERT_EQ(symlink("real.conf", out.c_str()), 0);
        }
        Result r = run({"encode", "-o", out}, "Uname: brix\n");
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(testutil::file_mode(real), 0600) << link;
        EXPECT_EQ(testutil::read_file(real), brix::config_scramble("Uname: brix\n")) << link;
        struct stat st;
        EXPECT_TRUE(lstat(out.c_str(), &st) == 0 && S_ISLNK(st.st_mode) == link) << link;
    }
}

TEST(BrixConfigTool, CheckAndDecodeNameTheFailedCheck) {
    TempDir dir;
    std::string good = brix::config_scramble(kPlain);
    std::string replaced = good;
    replaced[20] ^= 0x01;
    struct Case {
        const char *what;
        std::string bytes;
        std::string problem;
    } cases[] = {
        {"plain text", kPlain, "missing @ (not a scrambled configuration)"},
        {"empty", "", "missing @ (not a scrambled configuration)"},
        {"short header", "@GLD", "length check failed"},
        {"byte added", good + "x", "length check failed"},
        {"byte removed", good.substr(0, good.size() - 1), "length check failed"},
        {"byte replaced", replaced, "sum check failed"},
    };
    std::string path = dir / "bad.conf";
    for (const auto &c : cases) {
        testutil::write_file(path, c.bytes);
        for (const char *cmd : {"check", "decode"}) {
            Result r = run({cmd, path});
            EXPECT_EQ(r.status, 1) << c.what << " " << cmd;
            EXPECT_EQ(r.out, "") << c.what << " " << cmd;
            EXPECT_EQ(r.err, "brix-config: " + path + ": " + c.problem + "\n") << c.what << " " << cmd;
        }
    }
    testutil::write_file(path, good);
    Result ok = run({"check", path});
    EXPECT_EQ(ok.status, 0);
    EXPECT_EQ(ok.out, path + ": ok\n");
    EXPECT_EQ(ok.err, "");
}

TEST(BrixConfigTool, GetFollowsTheLookupRules) {
    TempDir dir;
    std::string path = dir / "shop.conf";
    testutil::write_file(path, brix::config_scramble(kPlain));
    struct Case {
        const char *key;
        int status;
        std::string out;
        std::string err;
    } cases[] = {
        {"MerchantNo", 0, "12345\n", ""},
        {"MERCHANTNO", 0, "12345\n", ""},
        {"uname", 0, "brix  \r\n", ""},
        {"clearingprotocol", 0, "demo\n", ""},
        {"Empty", 1, "", "brix-config: " + path + ": no value for Empty\n"},
        {"Last", 1, "", "brix-config: " + path + ": no value for Last\n"},
        {"Nope", 1, "", "brix-config: " + path + ": no value for Nope\n"},
    };
    for (const auto &c : cases) {
        Result r = run({"get", path, c.key});
        EXPECT_EQ(r.status, c.status) << c.key;
        EXPECT_EQ(r.out, c.out) << c.key;
        EXPECT_EQ(r.err, c.err) << c.key;
    }
    testutil::write_file(dir / "plain", kPlain);
    Result refused = run({"get", dir / "plain", "MerchantNo"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.err,
              "brix-config: " + dir / "plain" + ": missing @ (not a scrambled configuration)\n");
}

TEST(BrixConfigTool, UnreadableFilesAreNamed) {
    TempDir dir;
    std::string absent = dir / "absent";
    for (const auto &args : {std::vector<std::string>{"decode", absent},
                             std::vector<std::string>{"check", absent},
                             std::vector<std::string>{"get", absent, "Uname"},
                             std::vector<std::string>{"encode", absent}}) {
        Result r = run(args);
        EXPECT_EQ(r.status, 1) << args[0];
        EXPECT_EQ(r.out, "") << args[0];
        EXPECT_EQ(r.err, "brix-config: " + absent + ": No such file or directory\n") << args[0];
    }
    Result r = run({"encode", "-o", dir / "no/such/dir/x.conf"}, "A: b\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "brix-config: " + dir / "no/such/dir/x.conf" + ": No such file or directory\n");
}

TEST(BrixConfigTool, UsageErrorsAndHelp) {
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"frob"},
        {"decode"},
        {"decode", "a", "b"},
        {"check"},
        {"get", "f"},
        {"get", "f", "k", "x"},
        {"encode", "-x"},
        {"encode", "-o"},
        {"encode", "a", "b"},
        {"encode", "-o", "x", "-o", "y"},
        {"check", "-v"},
        {"-x"},
    };
    for (const auto &args : bad) {
        Result r = run(args);
        EXPECT_EQ(r.status, 2) << (args.empty() ? "(none)" : args[0]);
        EXPECT_EQ(r.out, "");
        EXPECT_TRUE(starts_with(r.err, "usage: brix-config ")) << r.err;
    }
    for (const char *h : {"-h", "--help"}) {
        Result r = run({h});
        EXPECT_EQ(r.status, 0) << h;
        EXPECT_TRUE(starts_with(r.out, "usage: brix-config ")) << h;
        EXPECT_EQ(r.err, "") << h;
    }
}

namespace {

// Writing the live configuration fails or is cut short at any of its
// file-system calls: the file holds the old configuration or the new one,
// whole; a failure leaves no temporary file behind (a crash may, under a
// name no session reads).
TEST(BrixConfigTool, EncodeReplacesTheLiveFileWholeOrNotAtAll) {
    TempDir dir;
    const std::string conf = dir / "shop.conf", plain = dir / "shop.plain";
    testutil::write_file(plain, "MerchantNo: 2\n");
    testutil::write_file(conf, brix::config_scramble("MerchantNo: 1\n"));
    const std::string old_text = testutil::read_file(conf), new_text = brix::config_scramble("MerchantNo: 2\n");
    bool done = false;
    for (int n = 1; n < 20 && !done; n++)
        for (const char *how : {"fail", "kill"}) {
            std::string seam = std::string(how) + ":" + std::to_string(n) + (how[0] == 'f' ? ":EIO" : "");
            setenv("BRIX_FS_SEAM", seam.c_str(), 1);
            Result r = run({"encode", "-o", conf, plain});
            unsetenv("BRIX_FS_SEAM");
            std::string now = testutil::read_file(conf);
            EXPECT_TRUE(now == old_text || now == new_text) << seam;
            for (const std::string &name : testutil::list_dir(dir.path()))
                if (how[0] == 'k' && name.size() > 4 && name.compare(name.size() - 4, 4, ".tmp") == 0)
                    unlink((dir / name).c_str());
            EXPECT_EQ(testutil::list_dir(dir.path()), (std::vector<std::string>{"shop.conf", "shop.plain"}))
                << seam;
            EXPECT_EQ(testutil::file_mode(conf), 0600) << seam;
            if (r.status == 0) {
                EXPECT_EQ(now, new_text) << seam;
                done = true;
            }
            testutil::write_file(conf, old_text);
        }
    EXPECT_TRUE(done);
}

}  // namespace
