// bx_script: plain-valued access to the module's function table, run
// through the module's own host.  See bx_script.h.
#include "binding/bx_script.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "api/bx_api_init.h"
#include "binding/bxphp.h"
#include "binding/php3_host.h"
#include "binding/qor_ptr.h"
#include "support/qor_util.h"

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
    if (!bx_script_name(index) || argc < 0 || (argc > 0 && !argv)) return BX_SCRIPT_FAILED;
    try {
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

int bx_script_close_all(void) {
    int closed = 0;
    while (void *s = qor_ptr_take()) {
        bx_done(static_cast<bx_session>(s));
        closed++;
    }
    return closed;
}

}  // extern "C"
