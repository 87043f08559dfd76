// bx_script: plain-valued access to the module's function table, run
// through the module's own host.  See bx_script.h.
#include "binding/bx_script.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "api/bx_api_init.h"
#include "binding/bxphp.h"
#include "binding/php3_host.h"
#include "binding/qor_ptr.h"
#include "session/bx_config.h"
#include "support/qor_log.h"
#include "support/qor_util.h"

static_assert(int{BX_SCRIPT_DIR_STANDARD} == int{BX_CONFIG_DIR_STANDARD} &&
              int{BX_SCRIPT_DIR_ENVIRONMENT} == int{BX_CONFIG_DIR_ENVIRONMENT} &&
              int{BX_SCRIPT_DIR_HOST} == int{BX_CONFIG_DIR_HOST});

namespace {

constexpr char kNoSession[] = "0,0,0,0,";

// Why the last "bx_init" opened no session; empty after any other call.
std::string g_open_failure;

// Collects the lines logged while it lives and passes each one on to the
// sink that was in place, which it puts back at the end.
class LogTap {
public:
    LogTap() {
        prev_ = qor_log_get_sink(&prev_rock_);
        qor_log_set_sink(&LogTap::take, this);
    }
    ~LogTap() { qor_log_set_sink(prev_, prev_rock_); }
    LogTap(const LogTap &) = delete;
    LogTap &operator=(const LogTap &) = delete;
    const std::string &text() const { return text_; }

private:
    static void take(int priority, const char *line, void *rock) {
        auto *self = static_cast<LogTap *>(rock);
        if (self->prev_)
            self->prev_(priority, line, self->prev_rock_);
        else
            qor_log_syslog(priority, line, nullptr);
        try {
            self->add(line ? line : "");
        } catch (...) {
            // The reason is a courtesy; the line itself reached the log.
        }
    }
    // "Fatal error: text\n" is kept as "text".
    void add(std::string_view line) {
        if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
        for (int level = QOR_LOG_DEBUG; level <= QOR_LOG_FATAL; level++) {
            std::string_view name = qor_log_levelname(level);
            if (line.size() > name.size() + 1 && line.starts_with(name) &&
                line.substr(name.size(), 2) == ": ") {
                line.remove_prefix(name.size() + 2);
                break;
            }
        }
        if (!text_.empty()) text_ += "; ";
        text_ += line;
    }

    qor_log_sink prev_ = nullptr;
    void *prev_rock_ = nullptr;
    std::string text_;
};

bool is_init(int index) { return qor_util_strcasecmp(brix_functions[index].fname, "bx_init") == 0; }

}  // namespace

extern "C" {

int bx_script_count(void) { return BX_PHP_NUM_FUNCTIONS; }

const char *bx_script_name(int index) {
    if (index < 0 || index >= BX_PHP_NUM_FUNCTIONS) return nullptr;
    return brix_functions[index].fname;
}

int bx_script_find(const char *name) {
    if (!name) return -1;
    for (int i = 0; i < BX_PHP_NUM_FUNCTIONS; i++)
        if (qor_util_strcasecmp(brix_functions[i].fname, name) == 0) return i;
    return -1;
}

int bx_script_call(int index, int argc, const bx_script_arg *argv, bx_script_result *result) {
    if (!result) return BX_SCRIPT_FAILED;
    *result = bx_script_result{BX_SCRIPT_FAILED, 0, nullptr, 0};
    g_open_failure.clear();
    if (!bx_script_name(index) || argc < 0 || (argc > 0 && !argv)) return BX_SCRIPT_FAILED;
    try {
        std::optional<LogTap> tap;
        if (is_init(index)) tap.emplace();
        std::vector<php3_host::Arg> args;
        args.reserve(static_cast<size_t>(argc));
        for (int i = 0; i < argc; i++) {
            const bx_script_arg &a = argv[i];
            if (a.is_integer) {
                // The host's integers are longs: a wider value is held at
                // the nearest end rather than cut into another number.
                long long n = a.integer;
                if (n > LONG_MAX) n = LONG_MAX;
                if (n < LONG_MIN) n = LONG_MIN;
                args.push_back(php3_host::Arg::of(static_cast<long>(n)));
            } else {
                args.push_back(php3_host::Arg::of(std::string_view(a.text ? a.text : "", a.text ? a.len : 0)));
            }
        }
        php3_host::Result r = php3_host::call(brix_functions[index].handler, args);
        if (tap && r.outcome == php3_host::Outcome::text && r.text == kNoSession)
            g_open_failure = tap->text().empty() ? std::string(bx_initerror) : tap->text();
        tap.reset();
        switch (r.outcome) {
        case php3_host::Outcome::text: {
            char *copy = static_cast<char *>(malloc(r.text.size() + 1));
            if (!copy) break;
            memcpy(copy, r.text.data(), r.text.size());
            copy[r.text.size()] = '\0';
            *result = bx_script_result{BX_SCRIPT_TEXT, 0, copy, r.text.size()};
            break;
        }
        case php3_host::Outcome::integer:
            *result = bx_script_result{BX_SCRIPT_INTEGER, r.number, nullptr, 0};
            break;
        case php3_host::Outcome::wrong_count:
            result->kind = BX_SCRIPT_WRONG_COUNT;
            break;
        case php3_host::Outcome::none:
        case php3_host::Outcome::failed:
            break;
        }
    } catch (...) {
        bx_script_result_free(result);
    }
    return result->kind;
}

void bx_script_result_free(bx_script_result *result) {
    if (!result) return;
    free(result->text);
    *result = bx_script_result{BX_SCRIPT_FAILED, 0, nullptr, 0};
}

const char *bx_script_open_failure(void) { return g_open_failure.c_str(); }

int bx_script_set_config_dir(const char *dir) { return bx_config_set_dir(dir); }

const char *bx_script_config_dir(int *source) { return bx_config_dir(source); }

const char *bx_script_standard_config_dir(int index) { return bx_config_standard_dir(index); }

int bx_script_close_all(void) {
    int closed = 0;
    while (void *s = qor_ptr_take()) {
        bx_done(static_cast<bx_session>(s));
        closed++;
    }
    return closed;
}

}  // extern "C"
