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

// Each test starts and ends with an empty table.
class HandleTable : public ::testing::Test {
protected:
    void SetUp() override { drain(); }
    void TearDown() override { drain(); }
    static void drain() {
        while (qor_ptr_take()) {
        }
    }
    int a = 0, b = 0, c = 0;
};

TEST(HandleText, EncodesFourBytesLeastSignificantFirst) {
    EXPECT_EQ(text_of(qor_ptr_encode(0)), "0,0,0,0,");
    EXPECT_EQ(text_of(qor_ptr_encode(1)), "1,0,0,0,");
    EXPECT_EQ(text_of(qor_ptr_encode(0x0804A1C0)), "192,161,4,8,");
    EXPECT_EQ(text_of(qor_ptr_encode(0xFFFFFFFF)), "255,255,255,255,");
}

TEST(HandleText, Decodes) {
    struct Case {
        const char *text;
        int ok;
        uint32_t value;
    } cases[] = {
        {"192,161,4,8,", 1, 0x0804A1C0},
        {"0,0,0,0,", 1, 0},
        {"256,1,2,3,", 1, 0x03020100},          // low 8 bits only
        {"99999999999999999999,0,0,0,", 1, 255},
        {" 1,\t2,\n3, 4,", 1, 0x04030201},      // blanks before a number
        {"1x,2 ,3;,4,tail", 1, 0x04030201},     // anything up to the comma, and after the last
        {"192,161,4,8", 0, 0},                  // no comma behind the last number
        {"1,2,3", 0, 0},
        {"1,,2,3,4,", 0, 0},                    // a field without a number
        {"a,1,2,3,", 0, 0},
        {"-1,0,0,0,", 0, 0},
        {"+1,0,0,0,", 0, 0},
        {"", 0, 0},
        {",,,,", 0, 0},
        {nullptr, 0, 0},
    };
    for (const Case &c : cases) {
        uint32_t value = 0xDEADBEEF;
        EXPECT_EQ(qor_ptr_decode(c.text, &value), c.ok) << (c.text ? c.text : "(null)");
        if (c.ok) {
            EXPECT_EQ(value, c.value) << c.text;
        }
    }
}

TEST(HandleText, ShortTextsAreReadOnlyToTheirEnd) {
    // Exact-size buffers: a read past the terminator is caught under ASan.
    for (const char *text : {"", "1", "1,", "1,2,3", "1,2,3,4", " ", "7,7,7,7 "}) {
        size_t n = strlen(text) + 1;
        std::unique_ptr<char[]> exact(new char[n]);
        memcpy(exact.get(), text, n);
        EXPECT_EQ(qor_ptr_decode(exact.get(), nullptr), 0) << text;
        EXPECT_EQ(qor_ptr_stringtoptr(exact.get()), nullptr) << text;
    }
}

TEST_F(HandleTable, NamesOnlyRegisteredPointers) {
    EXPECT_EQ(text_of(qor_ptr_ptrtostring(nullptr)), "0,0,0,0,");
    EXPECT_EQ(qor_ptr_stringtoptr("0,0,0,0,"), nullptr);
    EXPECT_EQ(qor_ptr_take(), nullptr);  // null is never registered

    std::string ha = text_of(qor_ptr_ptrtostring(&a));
    std::string hb = text_of(qor_ptr_ptrtostring(&b));
    EXPECT_NE(ha, hb);
    EXPECT_EQ(text_of(qor_ptr_ptrtostring(&a)), ha);  // one handle per pointer
    EXPECT_EQ(qor_ptr_stringtoptr(ha.c_str()), &a);
    EXPECT_EQ(qor_ptr_stringtoptr(hb.c_str()), &b);
    // A value that was never handed out, and the pointer's address as a
    // handle, name nothing.
    EXPECT_EQ(qor_ptr_stringtoptr("255,255,255,255,"), nullptr);
    auto addr = reinterpret_cast<uintptr_t>(&a);
    std::string forged = text_of(qor_ptr_encode(static_cast<uint32_t>(addr)));
    if (forged != ha) {
        EXPECT_EQ(qor_ptr_stringtoptr(forged.c_str()), nullptr);
    }
    // Only the value counts: a first byte written 256 higher names the same.
    uint32_t value = 0;
    ASSERT_EQ(qor_ptr_decode(ha.c_str(), &value), 1);
    std::string alias = std::to_string((value & 0xFF) + 256) + ha.substr(ha.find(','));
    EXPECT_EQ(qor_ptr_stringtoptr(alias.c_str()), &a);
}

TEST_F(HandleTable, ForgottenHandlesAreNotReused) {
    std::string ha = text_of(qor_ptr_ptrtostring(&a));
    qor_ptr_forget(&a);
    qor_ptr_forget(&a);        // twice is harmless
    qor_ptr_forget(nullptr);
    EXPECT_EQ(qor_ptr_stringtoptr(ha.c_str()), nullptr);
    // The same pointer, and another, get new values; the old one stays dead.
    std::string again = text_of(qor_ptr_ptrtostring(&a));
    std::string hb = text_of(qor_ptr_ptrtostring(&b));
    EXPECT_NE(again, ha);
    EXPECT_NE(hb, ha);
    EXPECT_EQ(qor_ptr_stringtoptr(ha.c_str()), nullptr);
    EXPECT_EQ(qor_ptr_stringtoptr(again.c_str()), &a);
    uint32_t v1 = 0, v2 = 0, v3 = 0;
    qor_ptr_decode(ha.c_str(), &v1);
    qor_ptr_decode(again.c_str(), &v2);
    qor_ptr_decode(hb.c_str(), &v3);
    EXPECT_LT(v1, v2);
    EXPECT_LT(v2, v3);
}

TEST_F(HandleTable, TakeEmptiesTheTableOldestFirst) {
    std::string hb = text_of(qor_ptr_ptrtostring(&b));
    std::string ha = text_of(qor_ptr_ptrtostring(&a));
    std::string hc = text_of(qor_ptr_ptrtostring(&c));
    qor_ptr_forget(&a);
    EXPECT_EQ(qor_ptr_take(), &b);
    EXPECT_EQ(qor_ptr_take(), &c);
    EXPECT_EQ(qor_ptr_take(), nullptr);
    EXPECT_EQ(qor_ptr_stringtoptr(hb.c_str()), nullptr);
    EXPECT_EQ(qor_ptr_stringtoptr(hc.c_str()), nullptr);
}

}  // namespace
