// php3_host: the host's side of the module interface.  See php3_host.h.
//
// Texts of values are allocated with malloc by _estrndup and released by
// the host when the call is over.  One static empty text stands in for a
// text that could not be allocated, so a handler always finds a
// terminated text after convert_to_string; it is never released.
#include "binding/php3_host.h"

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

char g_empty[1];                // the stand-in text
bool g_wrong_count = false;     // set by wrong_param_count during a call

void release(pval &v) {
    if (v.type == IS_STRING && v.value.str.val && v.value.str.val != g_empty)
        free(v.value.str.val);
    v = pval{};
}

void set_text(pval &v, char *text, size_t len) {
    v.type = IS_STRING;
    v.value.str.val = text ? text : g_empty;
    v.value.str.len = text ? len : 0;
}

// Releases every value of a call when it ends, however it ends.
struct Values {
    std::vector<pval> args;
    pval result{};
    ~Values() {
        for (pval &v : args) release(v);
        release(result);
    }
};

}  // namespace

int getParameters(HashTable *ht, int n, ...) {
    if (!ht || n != ht->count) return FAILURE;
    va_list ap;
    va_start(ap, n);
    for (int i = 0; i < n; i++) *va_arg(ap, pval **) = &ht->args[i];
    va_end(ap);
    return SUCCESS;
}

void wrong_param_count(void) { g_wrong_count = true; }

void convert_to_string(pval *value) {
    if (!value || value->type == IS_STRING) return;
    char digits[32] = "";
    if (value->type == IS_LONG) snprintf(digits, sizeof digits, "%ld", value->value.lval);
    size_t len = strlen(digits);
    set_text(*value, _estrndup(digits, len), len);
}

void convert_to_long(pval *value) {
    if (!value || value->type == IS_LONG) return;
    long number = 0;
    if (value->type == IS_STRING && value->value.str.val) {
        int saved = errno;
        number = strtol(value->value.str.val, nullptr, 10);  // clamps out of range
        errno = saved;
    }
    release(*value);
    value->type = IS_LONG;
    value->value.lval = number;
}

char *_estrndup(const char *text, size_t length) {
    if (length == SIZE_MAX) return nullptr;
    char *copy = static_cast<char *>(malloc(length + 1));
    if (!copy) return nullptr;
    if (length) memcpy(copy, text, length);
    copy[length] = '\0';
    return copy;
}

namespace php3_host {

Result call(Handler handler, std::span<const Arg> args) noexcept {
    Result out;
    out.outcome = Outcome::failed;
    if (!handler || args.size() > INT_MAX) return out;
    try {
        Values values;
        values.args.resize(args.size());
        for (size_t i = 0; i < args.size(); i++) {
            pval &v = values.args[i];
            if (args[i].is_long) {
                v.type = IS_LONG;
                v.value.lval = args[i].number;
                continue;
            }
            char *text = _estrndup(args[i].text.data(), args[i].text.size());
            if (!text) return out;
            set_text(v, text, args[i].text.size());
        }
        HashTable ht{static_cast<int>(values.args.size()), values.args.data()};
        g_wrong_count = false;
        handler(&ht, &values.result);
        const pval &r = values.result;
        if (g_wrong_count) {
            out.outcome = Outcome::wrong_count;
        } else if (r.type == IS_STRING && r.value.str.val) {
            out.text.assign(r.value.str.val, r.value.str.len);
            out.outcome = Outcome::text;
        } else if (r.type == IS_LONG) {
            out.number = r.value.lval;
            out.outcome = Outcome::integer;
        } else {
            out.outcome = Outcome::none;
        }
        g_wrong_count = false;
        return out;
    } catch (...) {
        out = Result{};
        out.outcome = Outcome::failed;
        return out;
    }
}

}  // namespace php3_host
