// fuzz_qor_ptr: the handle text a script hands back to name its session.
//
// Three pointers are registered once per process (values 1, 2, 3).  Each
// input, cut at its first zero byte as the binding's text is, must name
// one of them exactly when it decodes to that value, and nothing
// otherwise.  A decoded value must encode to a text of at most 16
// characters that decodes to it again; so must the value of the input's
// first four bytes.
#include <cstdlib>
#include <string>

#include "binding/qor_ptr.h"
#include "fuzz/fuzz_util.h"

namespace {

int g_sessions[3];

void check_roundtrip(uint32_t value) {
    char *text = qor_ptr_encode(value);
    FUZZ_CHECK(text != nullptr);
    FUZZ_CHECK(strlen(text) <= 16);
    uint32_t back = ~value;
    FUZZ_CHECK(qor_ptr_decode(text, &back) == 1 && back == value);
    free(text);
}

bool registered() {
    for (int &s : g_sessions) free(qor_ptr_ptrtostring(&s));
    for (uint32_t v = 1; v <= 3; v++) {
        char *text = qor_ptr_encode(v);
        FUZZ_CHECK(qor_ptr_stringtoptr(text) == &g_sessions[v - 1]);
        free(text);
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const bool ready = registered();
    (void)ready;
    std::string text(fuzz::bytes(data, size));  // the binding's C string ends at a zero byte
    uint32_t value = 0;
    int decoded = qor_ptr_decode(text.c_str(), &value);
    void *named = qor_ptr_stringtoptr(text.c_str());
    if (decoded && value >= 1 && value <= 3)
        FUZZ_CHECK(named == &g_sessions[value - 1]);
    else
        FUZZ_CHECK(named == nullptr);
    if (decoded) check_roundtrip(value);

    uint32_t raw = 0;
    if (size > 0) memcpy(&raw, data, size < sizeof raw ? size : sizeof raw);
    check_roundtrip(raw);
    return 0;
}
