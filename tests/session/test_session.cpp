// Session open and close: fields, defaults, widths, protocol selection and
// every failure path of bx_init with its log line and failure text.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "api/bx_api_command.h"
#include "api/bx_api_errortext.h"
#include "commands/bx_command.h"
#include "support/qor_log.h"
#include "tests/brix_fixture.h"
#include "validate/bx_val.h"

using testutil::BrixTest;
using testutil::LogCapture;

namespace {

class Session : public BrixTest {};

TEST_F(Session, OpensWithDefaultsAndCreatesTheSpoolTree) {
    LogCapture log;
    bx_session s = open(base_config());
    ASSERT_NE(s, nullptr) << bx_initerror;
    EXPECT_STREQ(bx_textvalue(s), "release {3.3 2000/03/27}");
    EXPECT_STREQ(qor_log_ident, "BRIX(test)");
    EXPECT_EQ(s->protocol, 5);
    EXPECT_EQ(s->dbtype, 1);
    EXPECT_EQ(s->fd, -1);
    EXPECT_EQ(s->track.meterfd, -1);
    EXPECT_STREQ(s->qdir, spool.c_str());
    EXPECT_STREQ(s->port, "/dev/null");
    EXPECT_STREQ(s->mercid, "123456789012");
    EXPECT_STREQ(s->version, "BRIX3.3A");
    struct {
        const char *field;
        const char *expect;
    } defaults[] = {
        {s->bankid, "000000"}, {s->agentbank, "000000"}, {s->agentchain, "000000"},
        {s->currency, "840"},  {s->country, "840"},      {s->timezone, "705"},
        {s->industry, "5999"}, {s->entrycap, "U"},       {s->taxexempt, "U"},
        {s->citycode, "         "}, {s->mercname, ""},   {s->devid, ""},
        {s->opid, ""},         {s->taxid, ""},           {s->mercomment, ""},
    };
    for (const auto &d : defaults) EXPECT_STREQ(d.field, d.expect);
    EXPECT_EQ(s->force, 0);
    // The demo protocol's card check; it cannot void.
    for (auto v : {s->val.bx_auth, s->val.bx_sale, s->val.bx_return, s->val.bx_reverse})
        EXPECT_EQ(v, &bx_val_ccard);
    EXPECT_EQ(s->val.bx_void, &bx_val_never);
    EXPECT_EQ(s->commandhandler, &bx_cmd_defaulthandler);
    for (bx_queue q : {s->new_, s->auth, s->ready, s->done, s->unauth, s->denied, s->review, s->bad,
                       s->globals})
        EXPECT_NE(q, nullptr);
    EXPECT_EQ(testutil::list_dir(spool),
              (std::vector<std::string>{"auth", "bad", "denied", "done", "globals", "journal", "new",
                                        "ready", "review", "unauth"}));
    EXPECT_EQ(testutil::file_mode(spool), 0700);
    bx_done(s);
    EXPECT_EQ(geteuid(), getuid());
}

TEST_F(Session, CopiesEachValueCutToItsField) {
    std::string plain = base_config() +
                        "DeviceID: " + std::string(40, 'd') + "\n"
                        "OperatorID: OPERATOR\n"
                        "TransactionCode: 1234567\n"
                        "TaxpayerID: 12345678901\n"
                        "BankID: 12345678\n"
                        "AgentBank: 7\n"
                        "AgentChain: abcdefgh\n"
                        "MerchantName: " + std::string(30, 'n') + "\n"
                        "Currency: 9781\n"
                        "MerchantStreet: " + std::string(90, 's') + "\n"
                        "MerchantCity: SPRINGFIELD CITY\n"
                        "MerchantState: ILL\n"
                        "MerchantCountry: 1245\n"
                        "MerchantZIP: 1234567890123\n"
                        "MerchantTimeZone: 7050\n"
                        "MerchantIndustry: 59991\n"
                        "EntryCapabilities: XY\n"
                        "TaxExempt: NO\n"
                        "MerchantComment: " + std::string(300, 'c') + "\n";
    plain.replace(plain.find("MerchantNo: 123456789012"), 24, "MerchantNo: " + std::string(40, '9'));
    bx_session s = open(plain);
    ASSERT_NE(s, nullptr) << bx_initerror;
    struct {
        const char *field;
        std::string expect;
    } cases[] = {
        {s->mercid, std::string(32, '9')}, {s->devid, std::string(32, 'd')},
        {s->opid, "OPER"},                  {s->transtype, "12345"},
        {s->taxid, "123456789"},            {s->bankid, "123456"},
        {s->agentbank, "7"},                {s->agentchain, "abcdef"},
        {s->mercname, std::string(25, 'n')}, {s->currency, "978"},
        {s->streetname, std::string(80, 's')}, {s->cityname, "SPRINGFIELD C"},
        {s->statename, "IL"},               {s->country, "124"},
        {s->citycode, "123456789"},         {s->timezone, "705"},
        {s->industry, "5999"},              {s->entrycap, "X"},
        {s->taxexempt, "N"},                {s->mercomment, std::string(256, 'c')},
    };
    for (const auto &c : cases) EXPECT_EQ(std::string(c.field), c.expect);
    bx_done(s);
}

TEST_F(Session, ZipIsPaddedToNineCharacters) {
    bx_session s = open(base_config() + "MerchantZIP: 12345\n");
    ASSERT_NE(s, nullptr);
    EXPECT_STREQ(s->citycode, "12345    ");
    bx_done(s);
}

TEST_F(Session, IssuerMagicForceAndDelays) {
    struct Case {
        std::string lines;
        const char *visa, *mc, *amex;
        int force;
        int dial[2], trans[2], hangup[2];
    } cases[] = {
        {"IssuerMagic: VISA=4000;MC=5100;XX=1\nForce: ALWAYS\nDemoDelayDial: 5,30\n"
         "DemoDelayTransaction: 7\n",
         "4000", "5100", "", 1, {5, 30}, {7, 7}, {0, 0}},
        {"IssuerMagic: visa=1;AMEX=123456789012\nForce: True\nDemoDelayHangup: x,2\n",
         "", "", "1234567890", 1, {0, 0}, {0, 0}, {0, 2}},
        {"IssuerMagic: AMEX=34;VISA\nForce: yes\n", "", "", "34", 0, {0, 0}, {0, 0}, {0, 0}},
        {"IssuerMagic: MC=;VISA=4=4\n", "4=4", "", "", 0, {0, 0}, {0, 0}, {0, 0}},
    };
    for (const auto &c : cases) {
        bx_session s = open(base_config() + c.lines);
        ASSERT_NE(s, nullptr) << c.lines;
        EXPECT_STREQ(s->issuer[1].magic, c.visa) << c.lines;
        EXPECT_STREQ(s->issuer[2].magic, c.mc) << c.lines;
        EXPECT_STREQ(s->issuer[3].magic, c.amex) << c.lines;
        EXPECT_EQ(s->force, c.force) << c.lines;
        const auto &d = s->dll.delays;
        EXPECT_EQ(d.dialmin, c.dial[0]);
        EXPECT_EQ(d.dialmax, c.dial[1]);
        EXPECT_EQ(d.transmin, c.trans[0]);
        EXPECT_EQ(d.transmax, c.trans[1]);
        EXPECT_EQ(d.hangupmin, c.hangup[0]);
        EXPECT_EQ(d.hangupmax, c.hangup[1]);
        bx_done(s);
    }
}

TEST_F(Session, ProtocolNamesSelectTheirSetup) {
    struct Case {
        const char *name;
        int protocol, dbtype;
    } cases[] = {
        {"ETC+", 1, 1},     {"MAPP", 2, 1},      {"NDC", 13, 1},     {"vital", 6, 1},
        {"RBank", 8, 1},    {"utf", 9, 1},       {"NOVA", 12, 1},    {"NOVA-TCP", 12, 1},
        {"SouthP", 15, 1},  {"NASHVILLE", 17, 1}, {"SCAN", 3, 2},    {"TeleCheck", 4, 2},
        {"SWACH", 7, 3},    {"dialdemo", 18, 1}, {"Demo", 5, 1},     {"demc", 5, 2},
        {"foo", 5, 1},      {"nosuch", 0, 0},    {"NOVA-", 0, 0},
    };
    for (const auto &c : cases) {
        bx_session s = open(base_config(c.name));
        ASSERT_NE(s, nullptr) << c.name;
        EXPECT_EQ(s->protocol, c.protocol) << c.name;
        EXPECT_EQ(s->dbtype, c.dbtype) << c.name;
        // The protocols' validator slots are tested with the validators;
        // "cancel" is a command no protocol serves.
        s->apitext[0] = 'x';
        EXPECT_EQ(bx_command(s, 1, ""), 5);
        EXPECT_STREQ(s->apitext, "text {invalid operation for this protocol}");
        bx_done(s);
    }
}

// Each failure of bx_init: its log line, its failure text, no session.
TEST_F(Session, EveryFailurePathLogsAndExplains) {
    std::string base = base_config();
    auto without = [&](const std::string &key) {
        std::string out, line;
        for (size_t pos = 0; pos < base.size();) {
            size_t nl = base.find('\n', pos);
            line = base.substr(pos, nl - pos + 1);
            if (line.rfind(key + ":", 0) != 0) out += line;
            pos = nl + 1;
        }
        return out;
    };
    struct Case {
        std::string plain;
        const char *raw;          // written as is (not scrambled) when set
        std::vector<std::string> lines;
        const char *initerror;    // null: unchanged
    } cases[] = {
        {"", "plain text\n",
         {"Fatal error: Missing @ in config file\n",
          "Fatal error: Bad configuration file at " + confdir + "/test.conf\n",
          "NonFatal error: Unable to read in configuration 'test'\n"},
         "Unable to read in configuration 'test'."},
        {without("Uname"), nullptr,
         {"NonFatal error: Unable to read BRIX user from config file.\n"},
         "Unable to read BRIX user from config file."},
        {"Uname: no-such-brix-user\n" + without("Uname"), nullptr,
         {"NonFatal error: Unable to look up UID for BRIX user no-such-brix-user.\n"},
         "Unable to look up UID for BRIX user no-such-brix-user."},
        {without("ModemPort"), nullptr,
         {"Fatal error: Can't set communications port.\n"},
         "Can't set communications port."},
        {without("BRIXPath"), nullptr, {"NonFatal error: can't read data path\n"}, nullptr},
        {without("BRIXPath") + "BRIXPath: /proc/self/no/such/dir\n", nullptr,
         {"Fatal error: Directory /proc/self/no/such/dir does not exist and could not be created.\n",
          "NonFatal error: can't read data path\n"},
         nullptr},
        {without("MerchantNo"), nullptr, {"NonFatal error: can't read merchant number\n"}, nullptr},
        {without("ClearingProtocol"), nullptr,
         {"NonFatal error: Couldn't determine clearing house protocol.\n"},
         "Couldn't determine clearing house protocol."},
    };
    for (const auto &c : cases) {
        strcpy(bx_initerror, "unchanged");
        if (c.raw)
            testutil::write_file(confdir + "/test.conf", c.raw);
        else
            write_config("test", c.plain);
        LogCapture log;
        EXPECT_EQ(bx_init("test"), nullptr) << c.plain;
        std::vector<std::string> errors;
        for (const auto &l : log.texts())
            if (l.rfind("Information", 0) != 0) errors.push_back(l);
        EXPECT_EQ(errors, c.lines) << c.plain;
        EXPECT_STREQ(bx_initerror, c.initerror ? c.initerror : "unchanged");
        EXPECT_EQ(geteuid(), getuid());
    }
}

TEST_F(Session, MissingFileInConfigDirFailsOnTheFirstRequiredValue) {
    LogCapture log;
    EXPECT_EQ(bx_init("absent"), nullptr);
    EXPECT_EQ(log.texts(),
              (std::vector<std::string>{
                  "Fatal error: Could not locate configuration file in " + confdir + "/absent.conf\n",
                  "NonFatal error: Unable to read BRIX user from config file.\n"}));
}

TEST_F(Session, OverlongNameIsRefused) {
    LogCapture log;
    std::string name(300, 'n');
    EXPECT_EQ(bx_init(name.c_str()), nullptr);
    EXPECT_STREQ(bx_initerror, "Configuration name is too long.");
    EXPECT_EQ(log.texts(), (std::vector<std::string>{
                               "NonFatal error: Configuration name is too long (300 characters)\n"}));
    EXPECT_EQ(bx_init(nullptr), nullptr);
}

TEST_F(Session, NameThatIsNoPlainFileNameIsRefusedBeforeLoading) {
    // Valid configurations beside and inside the configuration directory:
    // none of them may be reached.
    write_config("../evil", base_config());
    mkdir((confdir + "/a").c_str(), 0700);
    write_config("a/b", base_config());
    write_config(".hidden", base_config());
    const struct {
        std::string name, shown;
    } cases[] = {
        {"../evil", "../evil"}, {"a/b", "a/b"}, {".hidden", ".hidden"}, {"", ""},
        {"x\ny", "x\\x0Ay"}, {"x\x7f", "x\\x7F"}, {"tab\there", "tab\\x09here"},
    };
    for (const auto &c : cases) {
        qor_log_ident = "before";
        LogCapture log;
        EXPECT_EQ(bx_init(c.name.c_str()), nullptr) << c.shown;
        EXPECT_EQ(log.texts(), (std::vector<std::string>{"NonFatal error: Configuration name '" + c.shown +
                                                         "' is not a plain name\n"}));
        EXPECT_EQ(bx_initerror, "Configuration name '" + c.shown + "' is not a plain name.");
        EXPECT_STREQ(qor_log_ident, "before");
    }
    EXPECT_EQ(geteuid(), getuid());
}

TEST_F(Session, QueueThatCannotOpenIsReportedAndLeftAbsent) {
    mkdir(spool.c_str(), 0700);
    testutil::write_file(spool + "/unauth", "not a directory");
    testutil::write_file(spool + "/globals", "not a directory");
    LogCapture log;
    bx_session s = open(base_config());
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->unauth, nullptr);
    EXPECT_EQ(s->globals, nullptr);
    EXPECT_NE(s->new_, nullptr);
    EXPECT_TRUE(log.contains("NonFatal error: unable to open 'unauth queue\n"));
    for (const auto &l : log.texts()) EXPECT_EQ(l.find("globals' queue"), std::string::npos) << l;
    bx_done(s);
}

TEST_F(Session, DoneOnNoSessionDoesNothing) {
    bx_done(nullptr);
    EXPECT_EQ(geteuid(), getuid());
    EXPECT_EQ(bx_textvalue(nullptr), nullptr);
}

// Runs fn in a child process and returns its exit status.
template <typename Fn>
int in_child(Fn fn) {
    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) _exit(fn());
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
}

TEST_F(Session, SwitchesToTheServiceUserAndBack) {
    if (getuid() != 0) GTEST_SKIP() << "needs root to switch users";
    chown(dir.path().c_str(), 65534, 65534);
    int rc = in_child([&] {
        bx_session s = open("Uname: nobody\n" + base_config().substr(base_config().find('\n') + 1));
        if (!s) return 1;
        if (geteuid() != 65534) return 2;
        if (!s->new_) return 3;  // created by the service user
        bx_done(s);
        return geteuid() == 0 ? 0 : 4;
    });
    EXPECT_EQ(rc, 0);
    struct stat st;
    ASSERT_EQ(stat(spool.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 65534u);
}

TEST_F(Session, FailureAfterTheSwitchRestoresTheRealUser) {
    if (getuid() != 0) GTEST_SKIP() << "needs root to switch users";
    int rc = in_child([&] {
        std::string plain = "Uname: nobody\nBRIXPath: " + spool + "\nModemPort: x\n";
        if (open(plain) != nullptr) return 1;  // no MerchantNo
        return geteuid() == 0 ? 0 : 2;
    });
    EXPECT_EQ(rc, 0);
}

TEST_F(Session, NotRunningAsTheServiceUser) {
    if (getuid() != 0) GTEST_SKIP() << "needs root to drop privileges";
    write_config("test", base_config());  // Uname is root
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    chmod(dir.path().c_str(), 0755);
    chmod(confdir.c_str(), 0755);
    chmod((confdir + "/test.conf").c_str(), 0644);
    int rc = in_child([&] {
        if (setuid(65534) != 0) return 1;
        LogCapture log;
        if (bx_init("test") != nullptr) return 2;
        std::string out = log.texts().empty() ? "" : log.texts().back();
        out += bx_initerror;
        if (write(fds[1], out.data(), out.size()) < 0) return 3;
        return 0;
    });
    close(fds[1]);
    char buf[512] = {};
    ssize_t n = read(fds[0], buf, sizeof buf - 1);
    close(fds[0]);
    ASSERT_EQ(rc, 0);
    ASSERT_GT(n, 0);
    EXPECT_EQ(std::string(buf), "NonFatal error: Not running as BRIX user 'root'.\n"
                                "Not running as BRIX user 'root'.");
}

}  // namespace
