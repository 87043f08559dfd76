// fuzz_config: the merchant configuration file, from its raw bytes.
//
// Each input is a whole configuration file.  It is loaded as bx_init
// loads one (bx_config_init, from a file in the scratch directory named by
// BRIX_CONFIG_DIR) and from memory (brix::config_load); both must give the
// same answer, and that answer must be the descrambler's: a file is taken
// exactly when its checks pass, and then holds the pairs that the line
// parser makes of the descrambled text.  Every lookup is then asked of it.
//
// Random bytes almost never pass the sum check, so the same bytes are also
// taken as a plain text, scrambled with a valid header and loaded: that
// puts arbitrary lines in front of the line parser.
#include <string>
#include <utility>
#include <vector>

#include "fuzz/fuzz_util.h"
#include "session/bx_config.h"

namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

Pairs pairs_of(bx_config_config_data cfg) {
    Pairs out;
    FUZZ_CHECK(cfg->num_config_items >= 0);
    for (int i = 0; i < cfg->num_config_items; i++) {
        // Names and values are C strings the parser cut from one line; a
        // pair without a value is never stored (":x" has an empty name).
        FUZZ_CHECK(cfg->config_names[i] && cfg->config_values[i]);
        FUZZ_CHECK(*cfg->config_values[i]);
        FUZZ_CHECK(!strchr(cfg->config_names[i], '\n') && !strchr(cfg->config_values[i], '\n'));
        out.emplace_back(cfg->config_names[i], cfg->config_values[i]);
    }
    return out;
}

// Every lookup but the data directory's, which would make that directory.
void look_up_all(bx_config_config_data cfg) {
    for (int code = -1; code <= BX_CFG_TRANSACTIONTIMEOUT + 2; code++) {
        if (code == BX_CFG_BRIXPATH) continue;
        if (char *v = bx_config_get_by_code(cfg, code)) {
            FUZZ_CHECK(code == BX_CFG_VERSION || *v);
            free(v);
        }
    }
    free(get_value_with_name("BRIXPath", cfg));
    free(get_value_with_name("", cfg));
}

struct Config {
    explicit Config(bx_config_config_data c) : cfg(c) {}
    ~Config() { bx_config_destroy_config(cfg); }
    Config(const Config &) = delete;
    Config &operator=(const Config &) = delete;
    bx_config_config_data cfg;
};

// The file-system side, set up once: BRIX_CONFIG_DIR names the scratch
// directory, and each input becomes its "fuzz.conf".
const std::string &config_file() {
    static const std::string path = [] {
        fuzz::silence_log();
        setenv("BRIX_CONFIG_DIR", fuzz::scratch_dir().c_str(), 1);
        return fuzz::scratch_dir() + "/fuzz.conf";
    }();
    return path;
}

// Loads file bytes both ways and checks them against the descrambler.
void check_file(std::string_view file) {
    fuzz::write_file(config_file(), file);
    Config from_file(bx_config_init("fuzz"));
    Config from_memory(brix::config_load(file, "fuzz"));
    std::string plain;
    brix::ConfigCheck verdict = brix::config_descramble(file, plain);

    FUZZ_CHECK((from_memory.cfg != nullptr) == (verdict == brix::ConfigCheck::ok));
    FUZZ_CHECK((from_file.cfg != nullptr) == (from_memory.cfg != nullptr));
    if (!from_memory.cfg) return;
    Config from_plain(brix::config_from_plain(plain));
    FUZZ_CHECK(from_plain.cfg != nullptr);
    Pairs pairs = pairs_of(from_memory.cfg);
    FUZZ_CHECK(pairs == pairs_of(from_file.cfg));
    FUZZ_CHECK(pairs == pairs_of(from_plain.cfg));
    look_up_all(from_memory.cfg);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string_view input = fuzz::bytes(data, size);
    check_file(input);

    // The input as a plain text: scrambling is undone exactly.
    std::string scrambled = brix::config_scramble(input);
    std::string back;
    FUZZ_CHECK(brix::config_descramble(scrambled, back) == brix::ConfigCheck::ok);
    FUZZ_CHECK(back == input);
    check_file(scrambled);
    return 0;
}
