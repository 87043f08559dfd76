// Test fixture for whole-library tests: writes merchant configurations with
// the same encoder the brix-config tool uses, points BRIX_CONFIG_DIR at
// them and opens sessions.
#ifndef BRIX_TESTS_BRIX_FIXTURE_H
#define BRIX_TESTS_BRIX_FIXTURE_H

#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "api/bx_api_init.h"
#include "session/bx_config.h"
#include "tests/testutil.h"

namespace testutil {

inline std::string current_user() {
    struct passwd *pw = getpwuid(getuid());
    return pw ? pw->pw_name : "root";
}

class BrixTest : public ::testing::Test {
protected:
    TempDir dir;
    TempDir logs;             // what the tools a test runs log
    std::string confdir = dir / "conf";
    std::string spool = dir / "spool";

    void SetUp() override {
        mkdir(confdir.c_str(), 0700);
        setenv("BRIX_CONFIG_DIR", confdir.c_str(), 1);
        // The tools a test runs log here, not to the host's system log.
        setenv("BRIX_LOG_FILE", (logs / "brix.log").c_str(), 1);
    }
    void TearDown() override {
        unsetenv("BRIX_CONFIG_DIR");
        unsetenv("BRIX_LOG_FILE");
    }

    // The standard lines of a working configuration.
    std::string base_config(const std::string &protocol = "demo") const {
        return "Uname: " + current_user() + "\nClearingProtocol: " + protocol +
               "\nBRIXPath: " + spool + "\nModemPort: /dev/null\nMerchantNo: 123456789012\n";
    }
    void write_config(const std::string &name, const std::string &plain) const {
        write_file(confdir + "/" + name + ".conf", brix::config_scramble(plain));
    }
    // Writes `plain` as configuration "test" and opens a session on it.
    bx_session open(const std::string &plain) {
        write_config("test", plain);
        return bx_init("test");
    }
};

}  // namespace testutil

#endif
