// Sessions for the command tests, and the state records as the daemon
// sees them: the data bytes of the item files under <qdir>/globals.
#ifndef BRIX_TESTS_COMMANDS_COMMANDS_FIXTURE_H
#define BRIX_TESTS_COMMANDS_COMMANDS_FIXTURE_H

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "api/bx_api_command.h"
#include "queue/bx_queue.h"
#include "tests/brix_fixture.h"

namespace ctest {

using namespace std::string_literals;

class Commands : public testutil::BrixTest {
protected:
    bx_session s = nullptr;
    void TearDown() override {
        bx_done(s);
        BrixTest::TearDown();
    }
    // Opens a session; one opened before is closed and its spool removed.
    void open_protocol(const std::string &protocol, const std::string &extra = "") {
        if (s) {
            bx_done(s);
            s = nullptr;
            testutil::remove_tree(spool);
        }
        s = open(base_config(protocol) + extra);
        ASSERT_NE(s, nullptr) << bx_initerror;
    }
    // The data of the record stored under key ("-" for none), after the
    // item file's key line and exact size line.
    std::string record(const std::string &key) const {
        std::string dir = spool + "/globals/";
        std::string n = testutil::read_file(dir + "i_" + key);
        if (n.empty()) return "-";
        std::string item = testutil::read_file(dir + std::to_string(atoi(n.c_str())));
        size_t a = item.find('\n'), b = item.find('\n', a + 1);
        std::string data = item.substr(b + 1);
        EXPECT_EQ(item.substr(0, b + 1), key + "\n" + std::to_string(data.size()) + "\n");
        return data;
    }
    // Stores a record as the daemon would.
    void put_record(const char *key, const std::string &data) const {
        ASSERT_GE(bx_queue_put(s->globals, data.data(), (int)data.size(), key), 1) << key;
    }
};

}  // namespace ctest

#endif
