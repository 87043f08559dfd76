// Handle texts: the text form, and the table that maps handle values to
// registered pointers (forged, closed, zero and short texts name nothing).
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "binding/qor_ptr.h"

namespace {

std::string text_of(char *fresh) {
    std::string s = fresh ? fresh : "(null)";
    free(fresh);
    return s;
}

uint32_t value_of(const std::string &text) {
    uint32_t v = 0;
    EXPECT_EQ(qor_ptr_decode(text.c_str(), &v), 1) << text;
    return v;
}

TEST(HandleText, EncodesAndDecodes) {
    EXPECT_EQ(text_of(qor_ptr_encode(0)), "0,0,0,0,");
    EXPECT_EQ(text_of(qor_ptr_encode(0x0804A1C0)), "192,161,4,8,");
    EXPECT_EQ(text_of(qor_ptr_encode(0xFFFFFFFF)), "255,255,255,255,");
    struct Case {
        const char *text;
        int ok;
        uint32_t value;
    } cases[] = {
        {"192,161,4,8,", 1, 0x0804A1C0},
        {"256,1,2,3,", 1, 0x03020100},          // only the low 8 bits count
        {"99999999999999999999,0,0,0,", 1, 255},
        {" 1,\t2,\n3, 4,", 1, 0x04030201},      // blanks before a number
        {"1x,2 ,3;,4,tail", 1, 0x04030201},     // anything up to each comma
        {"192,161,4,8", 0, 0},                  // no comma behind the last number
        {"1,,2,3,4,", 0, 0},                    // a field without a number
        {"a,1,2,3,", 0, 0},   {"-1,0,0,0,", 0, 0}, {"+1,0,0,0,", 0, 0},
        {"", 0, 0},           {",,,,", 0, 0},      {nullptr, 0, 0},
    };
    for (const Case &c : cases) {
        uint32_t value = 0xDEADBEEF;
        EXPECT_EQ(qor_ptr_decode(c.text, &value), c.ok) << (c.text ? c.text : "(null)");
        EXPECT_EQ(value, c.ok ? c.value : 0xDEADBEEF) << (c.text ? c.text : "(null)");
    }
    // Exact-size buffers: a read past the terminator is caught under ASan.
    for (const char *text : {"", "1", "1,", "1,2,3", "1,2,3,4", " ", "7,7,7,7 "}) {
        size_t n = strlen(text) + 1;
        std::unique_ptr<char[]> exact(new char[n]);
        memcpy(exact.get(), text, n);
        EXPECT_EQ(qor_ptr_decode(exact.get(), nullptr), 0) << text;
        EXPECT_EQ(qor_ptr_stringtoptr(exact.get()), nullptr) << text;
    }
}

TEST(HandleTable, NamesOnlyOpenPointersAndNeverReusesAValue) {
    while (qor_ptr_take()) {
    }
    int a = 0, b = 0, c = 0;
    EXPECT_EQ(text_of(qor_ptr_ptrtostring(nullptr)), "0,0,0,0,");
    EXPECT_EQ(qor_ptr_stringtoptr("0,0,0,0,"), nullptr);
    EXPECT_EQ(qor_ptr_take(), nullptr);  // null is never registered

    std::string ha = text_of(qor_ptr_ptrtostring(&a));
    std::string hb = text_of(qor_ptr_ptrtostring(&b));
    EXPECT_EQ(text_of(qor_ptr_ptrtostring(&a)), ha);  // one handle per pointer
    EXPECT_EQ(qor_ptr_stringtoptr(ha.c_str()), &a);
    EXPECT_EQ(qor_ptr_stringtoptr(hb.c_str()), &b);
    // Only the value counts: a first byte written 256 higher names the same.
    std::string alias = std::to_string((value_of(ha) & 0xFF) + 256) + ha.substr(ha.find(','));
    EXPECT_EQ(qor_ptr_stringtoptr(alias.c_str()), &a);
    // Values never handed out name nothing, the pointer's own address too.
    EXPECT_EQ(qor_ptr_stringtoptr("255,255,255,255,"), nullptr);
    std::string address = text_of(qor_ptr_encode(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&c))));
    EXPECT_EQ(qor_ptr_stringtoptr(address.c_str()), nullptr);

    // Forgotten: the old text names nothing, and a new registration of the
    // same pointer gets a later value.
    qor_ptr_forget(&a);
    qor_ptr_forget(&a);
    qor_ptr_forget(nullptr);
    EXPECT_EQ(qor_ptr_stringtoptr(ha.c_str()), nullptr);
    std::string again = text_of(qor_ptr_ptrtostring(&a));
    std::string hc = text_of(qor_ptr_ptrtostring(&c));
    EXPECT_EQ(qor_ptr_stringtoptr(ha.c_str()), nullptr);
    EXPECT_EQ(qor_ptr_stringtoptr(again.c_str()), &a);
    EXPECT_LT(value_of(hb), value_of(again));
    EXPECT_LT(value_of(again), value_of(hc));

    // Taken oldest first, until the table is empty.
    EXPECT_EQ(qor_ptr_take(), &b);
    EXPECT_EQ(qor_ptr_take(), &a);
    EXPECT_EQ(qor_ptr_take(), &c);
    EXPECT_EQ(qor_ptr_take(), nullptr);
    EXPECT_EQ(qor_ptr_stringtoptr(hc.c_str()), nullptr);
}

}  // namespace
