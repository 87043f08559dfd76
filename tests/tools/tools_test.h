// Helpers for the tests that run brix-demod and the operator's tool as
// real processes on a spool that the test fills through the library.
#ifndef BRIX_TESTS_TOOLS_TOOLS_TEST_H
#define BRIX_TESTS_TOOLS_TOOLS_TEST_H

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <ctime>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "api/bx_api_add.h"
#include "api/bx_api_new.h"
#include "api/bx_api_status.h"
#include "tests/api/daemon.h"
#include "tests/brix_fixture.h"

namespace tooltest {

const std::string kDemod = BRIX_BUILD_DIR "/brix-demod";

// The operator's tool.
inline std::string brix_path() { return BRIX_BUILD_DIR "/brix"; }

struct Result {
    int status;               // exit status, -1 when not a normal exit
    std::string out, err;
};

// Starts tool with args, reading `input` and writing to files under io.
inline pid_t start(const testutil::TempDir &io, const std::string &tool, std::vector<std::string> args,
                   const std::string &input = "") {
    testutil::write_file(io / "in", input);
    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        int in = open((io / "in").c_str(), O_RDONLY), out = open((io / "out").c_str(), O_WRONLY | O_CREAT, 0600),
            err = open((io / "err").c_str(), O_WRONLY | O_CREAT, 0600);
        if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) _exit(126);
        args.insert(args.begin(), tool);
        std::vector<char *> argv;
        for (auto &a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(tool.c_str(), argv.data());
        _exit(127);
    }
    return pid;
}

inline Result finish(const testutil::TempDir &io, pid_t pid) {
    int wstatus = 0;
    waitpid(pid, &wstatus, 0);
    return {WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1, testutil::read_file(io / "out"),
            testutil::read_file(io / "err")};
}

inline Result run(const std::string &tool, const std::vector<std::string> &args, const std::string &input = "") {
    testutil::TempDir io;
    return finish(io, start(io, tool, args, input));
}

inline bool has(const std::string &text, const std::string &piece) { return text.find(piece) != std::string::npos; }

// Moves a transaction as a processing request does: the source queue's
// lock throughout, the destination's around the put, delete after a
// successful put.
inline bool request_move(bx_queue from, bx_queue to, const char *invoice,
                         const std::function<void(_bx_xaction &)> &change) {
    bx_queue_lockqueue(from);
    bool ok = false;
    if (bx_queue_item item = bx_queue_find_item(from, invoice)) {
        _bx_xaction x;
        std::vector<char> out(8192);
        int len = bx_xaction_unpack(item->buf, &x, item->size) == 1 ? (change(x), bx_xaction_pack(out.data(), &x, 8192)) : 0;
        if (len > 0 && bx_queue_lockqueue(to) == 0) {
            ok = bx_queue_put(to, out.data(), len, x.data.retail.invoice) > 0;
            bx_queue_unlockqueue(to);
        }
        ok ? bx_queue_item_delete(from, item) : bx_queue_item_close(from, item);
    }
    bx_queue_unlockqueue(from);
    return ok;
}

// The record changes of the request with this code.
inline void mark(_bx_xaction &x, int code) {
    if (code == BX_CODE_SALE || code == BX_CODE_RETURN) x.subtype.ptype = 3, x.subtype.type = 2;
    x.subtype.code = code;
    (code == BX_CODE_AUTH ? x.time.creat : x.time.ready) = time(nullptr);
    x.sent = 0;
}

using FieldList = std::vector<std::pair<std::string, std::string>>;

// A session on configuration "test" and transactions staged in it.
class ToolsTest : public testutil::BrixTest {
protected:
    bx_session s = nullptr;

    void SetUp() override {
        BrixTest::SetUp();
        configure(base_config());
    }
    void TearDown() override {
        bx_done(s);
        BrixTest::TearDown();
    }
    void configure(const std::string &plain) {
        bx_done(s);
        s = open(plain);
        ASSERT_NE(s, nullptr) << bx_initerror;
    }
    bx_queue queue(int status) { return s->*bx_queue_def_of(status)->field; }

    // Creates invoice with the fields and, unless dest is "new", moves it
    // there as the request `code` would.
    void stage(const std::string &invoice, const FieldList &fields, int dest = BX_STAT_NEW, int code = 0) {
        ASSERT_EQ(bx_new(s, invoice.c_str()), 0) << invoice;
        for (const auto &[arg, value] : fields)
            ASSERT_EQ(bx_add(s, invoice.c_str(), bx_str2arg(arg.c_str()), value.c_str()), 0) << invoice << " " << arg;
        if (dest != BX_STAT_NEW) {
            ASSERT_TRUE(request_move(queue(BX_STAT_NEW), queue(dest), invoice.c_str(),
                                     [code](_bx_xaction &x) { mark(x, code); }));
        }
    }
    std::string status_text(const std::string &invoice) {
        bx_status(s, invoice.c_str());
        return s->apitext;
    }
    Result demod(std::vector<std::string> extra = {}) {
        extra.insert(extra.begin(), {"-c", "test", "--once"});
        return run(kDemod, extra);
    }
    Result brix(std::vector<std::string> args, const std::string &input = "") {
        args.insert(args.begin(), {"-c", "test"});
        return run(brix_path(), args, input);
    }
};

}  // namespace tooltest

#endif
