// Configuration file: scrambled form, checks, line rules, file search,
// the code table and the data directory check.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "session/bx_config.h"
#include "tests/testutil.h"

using testutil::LogCapture;
using testutil::TempDir;

namespace {

struct ConfigDeleter {
    void operator()(_bx_config_config_data *c) const { bx_config_destroy_config(c); }
};
using Config = std::unique_ptr<_bx_config_config_data, ConfigDeleter>;

// A looked-up value, or nullopt for none; frees the library's copy.
std::optional<std::string> take(char *value) {
    if (!value) return std::nullopt;
    std::string s(value);
    free(value);
    return s;
}

std::optional<std::string> by_name(const Config &c, const char *name) {
    return take(get_value_with_name(name, c.get()));
}

std::optional<std::string> by_code(const Config &c, int code) {
    return take(bx_config_get_by_code(c.get(), code));
}

// Sets or clears BRIX_CONFIG_DIR for one test and restores it afterwards.
class ConfigDirEnv {
public:
    explicit ConfigDirEnv(const std::string *dir) {
        if (const char *old = getenv("BRIX_CONFIG_DIR")) old_ = old;
        if (dir)
            setenv("BRIX_CONFIG_DIR", dir->c_str(), 1);
        else
            unsetenv("BRIX_CONFIG_DIR");
    }
    ~ConfigDirEnv() {
        if (old_)
            setenv("BRIX_CONFIG_DIR", old_->c_str(), 1);
        else
            unsetenv("BRIX_CONFIG_DIR");
    }

private:
    std::optional<std::string> old_;
};

std::string write_config(const std::string &path, const std::string &plain) {
    testutil::write_file(path, brix::config_scramble(plain));
    return path;
}

Config load_plain(const TempDir &dir, const std::string &plain) {
    return Config(load_config(write_config(dir / "x.conf", plain).c_str()));
}

std::string fatal(const std::string &text) { return "Fatal error: " + text + "\n"; }

}  // namespace

// ---------------------------------------------------------------------------
// Scrambled form

TEST(ConfigFormat, HeaderAndBodyOfAKnownText) {
    // "A\n": L = 2, S = 75.  A = 2 ^ 0x6B3E = 0x6B3C, B = 75 ^ 0x7E15 = 0x7E5E;
    // body bytes 0x41 ^ 0x5B and 0x0A ^ 0x04.
    EXPECT_EQ(brix::config_scramble("A\n"), std::string("@GLDMHOFO\x1A\x0E"));
    // An empty body still carries both checks.
    EXPECT_EQ(brix::config_scramble(""), "@GLDOHOBF");
}

TEST(ConfigFormat, RollingKeyStepsBy0x29Modulo128) {
    std::string zeros(8, '\0');
    std::string body = brix::config_scramble(zeros).substr(9);
    const unsigned char expected[] = {0x5B, 0x04, 0x2D, 0x56, 0x7F, 0x28, 0x51, 0x7A};
    ASSERT_EQ(body.size(), sizeof expected);
    for (size_t i = 0; i < body.size(); i++)
        EXPECT_EQ(static_cast<unsigned char>(body[i]), expected[i]) << "byte " << i;
}

TEST(ConfigFormat, DescrambleRoundTripsEveryByteValue) {
    std::string plain;
    for (int i = 0; i < 3 * 256; i++) plain.push_back(static_cast<char>(i & 0xFF));
    std::string back;
    EXPECT_EQ(brix::config_descramble(brix::config_scramble(plain), back), brix::ConfigCheck::ok);
    EXPECT_EQ(back, plain);
}

TEST(ConfigFormat, DescrambleNamesTheFailedCheck) {
    std::string good = brix::config_scramble("Uname: bx\n");
    std::string replaced = good;
    replaced[12] ^= 0x01;
    struct Case {
        const char *what;
        std::string file;
        brix::ConfigCheck check;
    } cases[] = {
        {"empty", "", brix::ConfigCheck::missing_at},
        {"plain text", "Uname: bx\n", brix::ConfigCheck::missing_at},
        {"header only @", "@", brix::ConfigCheck::bad_len},
        {"header cut short", good.substr(0, 8), brix::ConfigCheck::bad_len},
        {"byte added", good + "x", brix::ConfigCheck::bad_len},
        {"byte removed", good.substr(0, good.size() - 1), brix::ConfigCheck::bad_len},
        {"byte replaced", replaced, brix::ConfigCheck::bad_sum},
        {"intact", good, brix::ConfigCheck::ok},
    };
    for (const auto &c : cases) {
        std::string plain;
        EXPECT_EQ(brix::config_descramble(c.file, plain), c.check) << c.what;
    }
}

// ---------------------------------------------------------------------------
// Loading

TEST(ConfigLoad, IntactFileGivesItsPairsInOrder) {
    TempDir dir;
    LogCapture log;
    Config c = load_plain(dir, "MerchantNo: 12345\nUname: brix\n");
    ASSERT_TRUE(c);
    ASSERT_EQ(c->num_config_items, 2);
    EXPECT_STREQ(c->config_names[0], "MerchantNo");
    EXPECT_STREQ(c->config_values[0], "12345");
    EXPECT_STREQ(c->config_names[1], "Uname");
    EXPECT_STREQ(c->config_values[1], "brix");
    EXPECT_TRUE(log.lines().empty());
}

TEST(ConfigLoad, HeaderCharactersStandForTheirLowNibble) {
    // A writer uses "A".."P", but a reader takes (c - 65) & 15 of any byte:
    // "W" stands for the same nibble as "G", "7" too.
    TempDir dir;
    std::string file = brix::config_scramble("A\n");
    std::string shifted = file;
    for (size_t i = 1; i < 9; i++) shifted[i] = static_cast<char>(file[i] + (i % 2 ? 16 : -16));
    testutil::write_file(dir / "x.conf", shifted);
    LogCapture log;
    Config c(load_config((dir / "x.conf").c_str()));
    EXPECT_TRUE(c);
    EXPECT_TRUE(log.lines().empty());
}

TEST(ConfigLoad, BadFilesAreRefusedWholeWithExactMessages) {
    TempDir dir;
    const std::string plain = "MerchantNo: 12345\nUname: brix\nClearingProtocol: demo\n";
    const std::string good = brix::config_scramble(plain);
    auto replace_byte = [&](size_t at) {
        std::string s = good;
        s[at] = static_cast<char>(s[at] ^ 0x20);
        return s;
    };
    auto set_header = [&](size_t at, char c) {
        std::string s = good;
        s[at] = (s[at] == c) ? static_cast<char>(c + 1) : c;
        return s;
    };
    const std::string missing = fatal("Missing @ in config file");
    const std::string len = fatal("Config file seems to be corrupted (len)");
    const std::string sum = fatal("Config file seems to be corrupted (sum)");
    struct Case {
        const char *what;
        std::string file;
        std::string first_message;
    } cases[] = {
        {"plain text", plain, missing},
        {"empty file", "", missing},
        {"only the @", "@", len},
        {"header cut short", good.substr(0, 6), len},
        {"byte added to the body", good + "\n", len},
        {"byte inserted in the body", good.substr(0, 15) + "Z" + good.substr(15), len},
        {"last byte removed", good.substr(0, good.size() - 1), len},
        {"first body byte replaced", replace_byte(9), sum},
        {"last byte replaced", replace_byte(good.size() - 1), sum},
        {"length check altered", set_header(2, 'A'), len},
        {"sum check altered", set_header(8, 'A'), sum},
        {"both checks altered", set_header(8, 'A').substr(0, 1) + "AAAA" +
                                    set_header(8, 'A').substr(5),
         len},
    };
    for (const auto &c : cases) {
        std::string path = dir / "bad.conf";
        testutil::write_file(path, c.file);
        LogCapture log;
        Config cfg(load_config(path.c_str()));
        EXPECT_FALSE(cfg) << c.what;
        std::vector<std::string> expected = {c.first_message,
                                             fatal("Bad configuration file at " + path)};
        EXPECT_EQ(log.texts(), expected) << c.what;
        for (const auto &l : log.lines()) EXPECT_EQ(l.priority, LOG_CRIT) << c.what;
        // The same bytes from memory: the same refusal in the same words.
        log.clear();
        EXPECT_EQ(brix::config_load(c.file, path.c_str()), nullptr) << c.what;
        EXPECT_EQ(log.texts(), expected) << c.what;
    }
}

TEST(ConfigLoad, UnopenableFileGivesAnEmptyConfiguration) {
    TempDir dir;
    std::string path = dir / "absent.conf";
    LogCapture log;
    Config c(load_config(path.c_str()));
    ASSERT_TRUE(c);
    EXPECT_EQ(c->num_config_items, 0);
    EXPECT_EQ(log.texts(), std::vector<std::string>{
                               fatal("Could not locate configuration file in " + path)});
    EXPECT_EQ(by_code(c, BX_CFG_MERCHANTNO), std::nullopt);
    EXPECT_EQ(by_code(c, BX_CFG_UNAME), std::nullopt);
}

// ---------------------------------------------------------------------------
// Line rules

TEST(ConfigLines, LookupFollowsTheLineRules) {
    struct Case {
        const char *what;
        std::string plain;
        const char *name;
        std::optional<std::string> value;
    } cases[] = {
        {"name, colon, blank, value", "MerchantNo: 12345\n", "MerchantNo", "12345"},
        {"no blank, other case", "merchantno:12345\n", "MerchantNo", "12345"},
        {"lookup in other case", "MerchantNo: 1\n", "MERCHANTNO", "1"},
        {"blank before the colon", "MerchantNo : 12345\n", "MerchantNo", std::nullopt},
        {"leading blank", " MerchantNo: 12345\n", "MerchantNo", std::nullopt},
        {"leading tab", "\tMerchantNo: 12345\n", "MerchantNo", std::nullopt},
        {"comment line", "# MerchantNo: 1\n", "MerchantNo", std::nullopt},
        {"name with a dash", "Merchant-No: 1\n", "Merchant-No", std::nullopt},
        {"empty value", "Uname:\n", "Uname", std::nullopt},
        {"only white space", "Uname: \t \r\n", "Uname", std::nullopt},
        {"white space after the colon skipped", "Uname:\t \x0b\x0c  brix\n", "Uname", "brix"},
        {"trailing blanks and CR kept", "Uname: brix  \r\n", "Uname", "brix  \r"},
        {"inner blanks and colons kept", "IssuerMagic: VISA=4000; MC:5\n", "IssuerMagic",
         "VISA=4000; MC:5"},
        {"first line wins", "Uname: first\nUNAME: second\n", "Uname", "first"},
        {"empty value does not shadow", "Uname:\nUname: second\n", "Uname", "second"},
        {"blank-before-colon does not shadow", "Uname : a\nUname: b\n", "Uname", "b"},
        {"empty lines around", "\n\nUname: x\n\n", "Uname", "x"},
        {"last line without line feed", "Uname: a\nMerchantNo: 1", "MerchantNo", std::nullopt},
        {"line before it still counts", "Uname: a\nMerchantNo: 1", "Uname", "a"},
        {"NUL byte ends the line", std::string("Uname: ab\0cd\n", 13), "Uname", "ab"},
        {"line after a NUL byte", std::string("X: \0\nUname: b\n", 14), "Uname", "b"},
        {"digits in names", "DemoDelayDial2: 5\nDemoDelayDial: 7\n", "DemoDelayDial", "7"},
    };
    TempDir dir;
    for (const auto &c : cases) {
        Config cfg = load_plain(dir, c.plain);
        ASSERT_TRUE(cfg) << c.what;
        EXPECT_EQ(by_name(cfg, c.name), c.value) << c.what;
        // The tool's reader keeps the same rules.
        Config same(brix::config_from_plain(c.plain));
        ASSERT_TRUE(same) << c.what;
        EXPECT_EQ(by_name(same, c.name), c.value) << c.what << " (from plain)";
    }
}

TEST(ConfigLines, SplittingStoresNameAndRest) {
    struct Case {
        const char *line;
        bool stored;
        const char *name;
        const char *value;
    } cases[] = {
        {"Uname: brix\n", true, "Uname", "brix"},
        {"Uname:brix", true, "Uname", "brix"},
        {"Uname: brix\nMore: x\n", true, "Uname", "brix"},
        // Any other form is kept under the whole line, unreachable for keys.
        {"MerchantNo : 12345\n", true, "MerchantNo : 12345", ": 12345"},
        {" x\n", true, " x", "x"},
        {"# c\n", true, "# c", "# c"},
        {":value\n", true, "", "value"},
        {"Uname:\n", false, nullptr, nullptr},
        {"Uname\n", false, nullptr, nullptr},
        {"\n", false, nullptr, nullptr},
        {"", false, nullptr, nullptr},
    };
    for (const auto &c : cases) {
        Config cfg(brix::config_from_plain(""));
        ASSERT_TRUE(cfg);
        EXPECT_EQ(cc_parse_line(c.line, cfg.get()), 0) << c.line;
        ASSERT_EQ(cfg->num_config_items, c.stored ? 1 : 0) << c.line;
        if (!c.stored) continue;
        EXPECT_STREQ(cfg->config_names[0], c.name) << c.line;
        EXPECT_STREQ(cfg->config_values[0], c.value) << c.line;
    }
}

TEST(ConfigLines, LongLinesGrowTheBuffer) {
    TempDir dir;
    // Around the first buffer (256) and its doublings.
    for (size_t len : {1u, 240u, 241u, 242u, 254u, 255u, 256u, 257u, 511u, 512u, 513u, 5000u}) {
        std::string value(len, 'v');
        for (size_t i = 0; i < len; i++) value[i] = static_cast<char>('a' + i % 26);
        std::string plain = "Short: 1\nMerchantComment: " + value + "\nAfter: 2\n";
        LogCapture log;
        Config c = load_plain(dir, plain);
        ASSERT_TRUE(c) << len;
        EXPECT_EQ(by_code(c, BX_CFG_MERCHANTCOMMENT), value) << len;
        EXPECT_EQ(by_name(c, "Short"), "1") << len;
        EXPECT_EQ(by_name(c, "After"), "2") << len;
        EXPECT_TRUE(log.lines().empty()) << len;
    }
}

TEST(ConfigLines, BodyLongerThanSixteenBitsOfLength) {
    // The checks keep the low 16 bits: a body of more than 65535 bytes loads.
    TempDir dir;
    std::string plain = "Uname: brix\n";
    while (plain.size() < 70000) plain += "Filler: " + std::string(60, 'f') + "\n";
    Config c = load_plain(dir, plain);
    ASSERT_TRUE(c);
    EXPECT_EQ(by_code(c, BX_CFG_UNAME), "brix");
}

// ---------------------------------------------------------------------------
// Finding the file

TEST(ConfigFind, ConfigDirVariableIsUsedWithoutExistenceCheck) {
    TempDir dir;
    std::string d = dir.path();
    ConfigDirEnv env(&d);
    write_config(dir / "shop.conf", "MerchantNo: env\n");
    {
        LogCapture log;
        Config c(bx_config_init("shop"));
        ASSERT_TRUE(c);
        EXPECT_EQ(by_code(c, BX_CFG_MERCHANTNO), "env");
        EXPECT_TRUE(log.lines().empty());
    }
    {
        LogCapture log;
        Config c(bx_config_init("other"));
        ASSERT_TRUE(c);
        EXPECT_EQ(c->num_config_items, 0);
        EXPECT_EQ(log.texts(), std::vector<std::string>{fatal(
                                   "Could not locate configuration file in " + d + "/other.conf")});
    }
}

TEST(ConfigFind, HostDirectoryStandsBehindTheVariable) {
    TempDir env_dir, host_dir;
    std::string e = env_dir.path(), h = host_dir.path();
    write_config(env_dir / "shop.conf", "MerchantNo: env\n");
    write_config(host_dir / "shop.conf", "MerchantNo: host\n");
    struct Reset {
        ~Reset() { bx_config_set_dir(nullptr); }
    } reset;
    ASSERT_EQ(bx_config_set_dir(h.c_str()), 0);
    int source = -1;
    {
        ConfigDirEnv env(&e);
        EXPECT_EQ(by_code(Config(bx_config_init("shop")), BX_CFG_MERCHANTNO), "env");
        EXPECT_EQ(bx_config_dir(&source), e);
        EXPECT_EQ(source, BX_CONFIG_DIR_ENVIRONMENT);
    }
    ConfigDirEnv env(nullptr);
    EXPECT_EQ(by_code(Config(bx_config_init("shop")), BX_CFG_MERCHANTNO), "host");
    EXPECT_EQ(bx_config_dir(&source), h);
    EXPECT_EQ(source, BX_CONFIG_DIR_HOST);
    {
        // Taken at its word like the variable: a missing file is reported.
        LogCapture log;
        Config c(bx_config_init("other"));
        ASSERT_TRUE(c);
        EXPECT_EQ(log.texts(), std::vector<std::string>{fatal(
                                   "Could not locate configuration file in " + h + "/other.conf")});
    }
    bx_config_set_dir("");
    EXPECT_EQ(bx_config_dir(&source), nullptr);
    EXPECT_EQ(source, BX_CONFIG_DIR_STANDARD);
    EXPECT_STREQ(bx_config_standard_dir(0), "/var/brix");
    EXPECT_STREQ(bx_config_standard_dir(1), "/usr/local/etc/brix");
    EXPECT_EQ(bx_config_standard_dir(2), nullptr);
}

TEST(ConfigFind, NullNameGivesNone) {
    LogCapture log;
    EXPECT_EQ(bx_config_init(nullptr), nullptr);
    EXPECT_TRUE(log.lines().empty());
}

namespace {

// Makes a standard directory for the test when it is missing; removes it
// afterwards only if this test made it (and it is empty again).  The test
// runs on private file systems (below), so this tidies only those.
class StandardDir {
public:
    explicit StandardDir(std::string path) : path_(std::move(path)) {
        created_ = mkdir(path_.c_str(), 0755) == 0;
    }
    ~StandardDir() {
        unlink(file_.c_str());
        if (created_) rmdir(path_.c_str());
    }
    std::string place(const std::string &name, const std::string &plain) {
        file_ = path_ + "/" + name + ".conf";
        return write_config(file_, plain);
    }
    void remove() { unlink(file_.c_str()); }

private:
    std::string path_;
    std::string file_;
    bool created_ = false;
};

// The standard configuration directories lie outside any temporary
// directory, so their test runs in a child process with a private mount
// namespace: fresh file systems over /var and /usr/local/etc that vanish
// with the child, and nothing of the host changes.  Exit 77 means the
// namespace could not be had (not permitted here).
constexpr int kNoNamespace = 77;

bool private_tmpfs(const char *dir) {
    return mount("brix-test", dir, "tmpfs", 0, "mode=0755") == 0;
}

int in_private_mounts(void (*body)()) {
    pid_t pid = fork();
    if (pid == 0) {
        alarm(60);
        // Mounts must not propagate back to the host's namespace.
        if (unshare(CLONE_NEWNS) != 0 ||
            mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            _exit(kNoNamespace);
        struct stat st;
        bool have_etc = stat("/usr/local/etc", &st) == 0 && S_ISDIR(st.st_mode);
        if (!private_tmpfs("/var") || !private_tmpfs(have_etc ? "/usr/local/etc" : "/usr/local"))
            _exit(kNoNamespace);
        if (!have_etc && mkdir("/usr/local/etc", 0755) != 0) _exit(kNoNamespace);
        body();
        fflush(stdout);
        _exit(::testing::Test::HasFailure() ? 1 : 0);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void standard_directories_in_order() {
    ConfigDirEnv env(nullptr);
    const std::string name = "brix-test-h1-" + std::to_string(getpid());
    StandardDir var("/var/brix");
    StandardDir usr("/usr/local/etc/brix");
    {
        LogCapture log;
        EXPECT_EQ(bx_config_init(name.c_str()), nullptr);
        EXPECT_TRUE(log.lines().empty());
    }
    usr.place(name, "MerchantNo: usr\n");
    EXPECT_EQ(by_code(Config(bx_config_init(name.c_str())), BX_CFG_MERCHANTNO), "usr");
    var.place(name, "MerchantNo: var\n");
    EXPECT_EQ(by_code(Config(bx_config_init(name.c_str())), BX_CFG_MERCHANTNO), "var");
    {
        // The variable wins over both standard places.
        TempDir dir;
        std::string d = dir.path();
        ConfigDirEnv inner(&d);
        write_config(dir / (name + ".conf"), "MerchantNo: env\n");
        EXPECT_EQ(by_code(Config(bx_config_init(name.c_str())), BX_CFG_MERCHANTNO), "env");
    }
    {
        // The host's directory comes before both standard places.
        TempDir dir;
        write_config(dir / (name + ".conf"), "MerchantNo: host\n");
        bx_config_set_dir(dir.path().c_str());
        EXPECT_EQ(by_code(Config(bx_config_init(name.c_str())), BX_CFG_MERCHANTNO), "host");
        bx_config_set_dir(nullptr);
    }
    {
        // A file that exists is the one loaded, even when it is refused.
        testutil::write_file("/var/brix/" + name + ".conf", "not scrambled\n");
        LogCapture log;
        EXPECT_EQ(bx_config_init(name.c_str()), nullptr);
        EXPECT_TRUE(log.contains(fatal("Missing @ in config file")));
    }
    var.remove();
    EXPECT_EQ(by_code(Config(bx_config_init(name.c_str())), BX_CFG_MERCHANTNO), "usr");
    usr.remove();
    EXPECT_EQ(bx_config_init(name.c_str()), nullptr);
}

}  // namespace

TEST(ConfigFind, StandardDirectoriesInOrder) {
    int rc = in_private_mounts(standard_directories_in_order);
    if (rc == kNoNamespace) GTEST_SKIP() << "no private mount namespace here (needs CAP_SYS_ADMIN)";
    EXPECT_EQ(rc, 0) << "the child's failures are printed above";
}

TEST(ConfigFind, OverlongPathsAreRefusedNotCut) {
    TempDir dir;
    std::string d = dir.path();
    ConfigDirEnv env(&d);
    const std::string head = "Configuration path for '";
    const std::string tail = "' is too long";
    // The longest path that fits: 4095 characters.
    size_t fits = 4095 - d.size() - 1 - 5;
    {
        LogCapture log;
        std::string name(fits, 'n');
        Config c(bx_config_init(name.c_str()));
        ASSERT_TRUE(c);    // tried (and not found), not refused
        ASSERT_EQ(log.lines().size(), 1u);
        EXPECT_EQ(log.lines()[0].text.rfind("Fatal error: Could not locate configuration file in " + d, 0),
                  0u);
    }
    {
        LogCapture log;
        std::string name(fits + 1, 'n');
        EXPECT_EQ(bx_config_init(name.c_str()), nullptr);
        // The name is cut so that the whole line keeps its end.
        size_t room = 4095 - std::string("Fatal error: ").size() - head.size() - tail.size() - 1;
        std::string expected = fatal(head + name.substr(0, room) + tail);
        EXPECT_EQ(expected.size(), 4095u);
        EXPECT_EQ(log.texts(), std::vector<std::string>{expected});
    }
    {
        std::string long_dir(5000, 'd');
        ConfigDirEnv inner(&long_dir);
        LogCapture log;
        EXPECT_EQ(bx_config_init("shop"), nullptr);
        EXPECT_EQ(log.texts(), std::vector<std::string>{fatal(head + "shop" + tail)});
    }
    {
        ConfigDirEnv none(nullptr);
        LogCapture log;
        std::string name(4090, 'n');
        EXPECT_EQ(bx_config_init(name.c_str()), nullptr);
        ASSERT_EQ(log.lines().size(), 1u);
        EXPECT_EQ(log.lines()[0].text.substr(log.lines()[0].text.size() - tail.size() - 1),
                  tail + "\n");
    }
}

// ---------------------------------------------------------------------------
// Codes

TEST(ConfigCodes, EveryCodeLooksUpItsKey) {
    struct Case {
        int code;
        const char *key;
    } cases[] = {
        {1, "ModemInit"},           {2, "ModemDialString"},     {3, "ModemHangUp"},
        {4, "PhoneNumber"},         {5, "UserName"},            {7, "ModemPort"},
        {8, "MerchantNo"},          {9, "DeviceID"},            {10, "OperatorID"},
        {13, "ConfigConnection"},   {14, "ClearingProtocol"},   {15, "BaudRate"},
        {16, "Force"},              {17, "Currency"},           {18, "MerchantCountry"},
        {19, "MerchantZIP"},        {20, "MerchantTimeZone"},   {21, "MerchantIndustry"},
        {22, "Uname"},              {23, "BankID"},             {24, "AgentBank"},
        {25, "AgentChain"},         {26, "MerchantCity"},       {27, "MerchantState"},
        {28, "MerchantName"},       {29, "TransactionCode"},    {30, "TaxpayerID"},
        {31, "PhoneNumberSettle"},  {32, "ModemPortSettle"},    {33, "MerchantStreet"},
        {34, "MerchantComment"},    {35, "NetLogin"},           {36, "EntryCapabilities"},
        {37, "TaxExempt"},          {38, "DemoDelayDial"},      {39, "DemoDelayTransaction"},
        {40, "DemoDelayHangup"},    {41, "IssuerMagic"},        {42, "TransactionTimeout"},
    };
    // Keys written in lower case: the lookup ignores case.
    std::string plain;
    for (const auto &c : cases) {
        std::string key = c.key;
        for (auto &ch : key) ch = static_cast<char>(tolower(static_cast<unsigned char>(ch)));
        plain += key + ": v" + std::to_string(c.code) + "\n";
    }
    TempDir dir;
    Config cfg = load_plain(dir, plain);
    ASSERT_TRUE(cfg);
    for (const auto &c : cases)
        EXPECT_EQ(by_code(cfg, c.code), "v" + std::to_string(c.code)) << c.key;

    Config empty(brix::config_from_plain(""));
    for (const auto &c : cases) EXPECT_EQ(by_code(empty, c.code), std::nullopt) << c.key;
}

TEST(ConfigCodes, VersionAndCodesOutsideTheTable) {
    TempDir dir;
    Config cfg = load_plain(dir, "Version: 9.9\nModemInit: x\n");
    ASSERT_TRUE(cfg);
    EXPECT_EQ(by_code(cfg, BX_CFG_VERSION), "BRIX3.3A");
    EXPECT_EQ(take(bx_config_get_by_code(nullptr, BX_CFG_VERSION)), "BRIX3.3A");
    EXPECT_EQ(take(bx_config_get_by_code(nullptr, BX_CFG_MODEMINIT)), std::nullopt);
    for (int code : {0, 12, 43, -1, 44, INT_MIN, INT_MAX})
        EXPECT_EQ(by_code(cfg, code), std::nullopt) << code;
}

TEST(ConfigCodes, NullArgumentsGiveNone) {
    Config cfg(brix::config_from_plain("Uname: x\n"));
    EXPECT_EQ(take(get_value_with_name(nullptr, cfg.get())), std::nullopt);
    EXPECT_EQ(take(get_value_with_name("Uname", nullptr)), std::nullopt);
    EXPECT_EQ(cc_parse_line(nullptr, cfg.get()), -1);
    bx_config_destroy_config(nullptr);
}

TEST(ConfigCodes, DataDirectoryIsCheckedAndCreated) {
    TempDir dir;
    struct Case {
        const char *what;
        std::string path;
        bool ok;
        bool created;
    } cases[] = {
        {"existing directory", dir.path(), true, false},
        {"missing directory", dir / "spool", true, true},
        {"parent missing", dir / "no/such/spool", false, false},
        {"a file in the way", dir / "plainfile", false, false},
    };
    testutil::write_file(dir / "plainfile", "x");
    for (const auto &c : cases) {
        Config cfg(brix::config_from_plain("BRIXPath: " + c.path + "\n"));
        LogCapture log;
        auto value = by_code(cfg, BX_CFG_BRIXPATH);
        if (c.ok) {
            EXPECT_EQ(value, c.path) << c.what;
            EXPECT_TRUE(log.lines().empty()) << c.what;
        } else {
            EXPECT_EQ(value, std::nullopt) << c.what;
            EXPECT_EQ(log.texts(),
                      std::vector<std::string>{fatal(
                          "Directory " + c.path + " does not exist and could not be created.")})
                << c.what;
        }
        if (c.created) {
            EXPECT_EQ(testutil::file_mode(c.path), 0700) << c.what;
        }
    }
    LogCapture log;
    Config none(brix::config_from_plain("Uname: x\n"));
    EXPECT_EQ(by_code(none, BX_CFG_BRIXPATH), std::nullopt);
    EXPECT_TRUE(log.lines().empty());
}
