// The BRIX module: its record and function table, the module file's one
// entry, the host calls, the handlers run through the host, and the
// plain-valued interface that the PHP 8 extension uses.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "binding/bx_script.h"
#include "binding/bxphp.h"
#include "binding/php3_host.h"
#include "binding/qor_ptr.h"
#include "tests/brix_fixture.h"

using php3_host::Arg;
using php3_host::Outcome;

namespace {

// The functions in table order, with their argument counts.
const struct {
    const char *name;
    int args;
} kFunctions[BX_PHP_NUM_FUNCTIONS] = {
    {"bx_init", 1},   {"bx_done", 1},    {"bx_new", 2},    {"bx_add", 4},
    {"bx_delete", 2}, {"bx_auth", 2},    {"bx_return", 2}, {"bx_reverse", 2},
    {"bx_sale", 2},   {"bx_void", 2},    {"bx_status", 2}, {"bx_count", 2},
    {"bx_lookup", 3}, {"bx_report", 2},  {"bx_command", 3}, {"bx_textvalue", 1},
};

void expect_table(const php3_module_entry *m) {
    EXPECT_STREQ(m->name, "BRIX");
    EXPECT_TRUE(!m->module_startup_func && !m->module_shutdown_func && !m->request_startup_func &&
                !m->request_shutdown_func && !m->info_func);
    int n = 0;
    for (const function_entry *f = m->functions; f->fname || f->handler || f->func_arg_types; f++, n++) {
        ASSERT_LT(n, BX_PHP_NUM_FUNCTIONS);
        EXPECT_STREQ(f->fname, kFunctions[n].name);
        EXPECT_TRUE(f->handler && !f->func_arg_types);
    }
    EXPECT_EQ(n, BX_PHP_NUM_FUNCTIONS);
}

TEST(Module, RecordAndTheModuleFile) {
    expect_table(&brix_module_entry);
    void *so = dlopen(BRIX_BUILD_DIR "/bxphp.so", RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(so, nullptr) << dlerror();
    auto get = reinterpret_cast<php3_module_entry *(*)()>(dlsym(so, "get_module"));
    ASSERT_NE(get, nullptr);
    expect_table(get());
    for (const char *hidden : {"bx_php_init", "brix_functions", "getParameters", "_estrndup", "bx_init"})
        EXPECT_EQ(dlsym(so, hidden), nullptr) << hidden;
    dlclose(so);
}

// Converts its first argument to text and its second to an integer.
void probe(INTERNAL_FUNCTION_PARAMETERS) {
    pval *a, *b;
    if (ARG_COUNT(ht) != 2 || getParameters(ht, 2, &a, &b) == FAILURE) WRONG_PARAM_COUNT;
    convert_to_string(a);
    convert_to_long(b);
    std::string out = std::string(a->value.str.val) + "|" + std::to_string(b->value.lval);
    return_value->value.str.val = _estrndup(out.c_str(), out.size());
    return_value->value.str.len = out.size();
    return_value->type = IS_STRING;
}

void no_result(INTERNAL_FUNCTION_PARAMETERS) { (void)ht, (void)return_value; }

TEST(Host, CallsAndConversions) {
    struct Case {
        Arg a, b;
        std::string out;
    } cases[] = {
        {Arg::of("x"), Arg::of("12abc"), "x|12"},
        {Arg::of(-42L), Arg::of(" 7"), "-42|7"},
        {Arg::of(""), Arg::of("none"), "|0"},
        {Arg::of(LONG_MIN), Arg::of("99999999999999999999999"),
         std::to_string(LONG_MIN) + "|" + std::to_string(LONG_MAX)},
        {Arg::of(std::string_view("a\0b", 3)), Arg::of(5L), "a|5"},
    };
    for (const Case &c : cases) {
        Arg args[] = {c.a, c.b};
        php3_host::Result r = php3_host::call(probe, args);
        EXPECT_EQ(r.outcome, Outcome::text);
        EXPECT_EQ(r.text, c.out);
    }
    Arg one[] = {Arg::of("x")};
    EXPECT_EQ(php3_host::call(probe, one).outcome, Outcome::wrong_count);
    EXPECT_EQ(php3_host::call(no_result, one).outcome, Outcome::none);
    EXPECT_EQ(php3_host::call(nullptr, one).outcome, Outcome::failed);
    HashTable empty{0, nullptr};
    pval *p = nullptr;
    EXPECT_EQ(getParameters(&empty, 1, &p), FAILURE);
    EXPECT_EQ(getParameters(nullptr, 0), FAILURE);
}

class Handlers : public testutil::BrixTest {
protected:
    testutil::LogCapture log;
    void TearDown() override {
        bx_script_close_all();
        BrixTest::TearDown();
    }
    std::string call(const char *name, std::vector<Arg> args) {
        php3_host::Result r = php3_host::call(brix_functions[bx_script_find(name)].handler, args);
        if (r.outcome == Outcome::integer) return "int " + std::to_string(r.number);
        EXPECT_EQ(r.outcome, Outcome::text) << name;
        return r.text;
    }
};

TEST_F(Handlers, WrongCountsCallNothing) {
    write_config("test", base_config());
    for (const auto &f : kFunctions)
        for (int given : {f.args - 1, f.args + 1}) {
            std::vector<Arg> args(static_cast<size_t>(given), Arg::of("test"));
            EXPECT_EQ(php3_host::call(brix_functions[bx_script_find(f.name)].handler, args).outcome,
                      Outcome::wrong_count) << f.name << " with " << given;
        }
    EXPECT_EQ(qor_ptr_take(), nullptr);  // no bx_init ran
}

TEST_F(Handlers, SessionFromInitToDone) {
    EXPECT_EQ(call("bx_init", {Arg::of("missing")}), "0,0,0,0,");
    write_config("test", base_config());
    std::string h = call("bx_init", {Arg::of("test")});
    auto s = static_cast<bx_session>(qor_ptr_stringtoptr(h.c_str()));
    ASSERT_NE(s, nullptr) << bx_initerror;
    EXPECT_EQ(call("bx_new", {Arg::of(h), Arg::of("a1")}), "OK");
    EXPECT_EQ(call("bx_add", {Arg::of(h), Arg::of("a1"), Arg::of("Amount"), Arg::of("5.00")}), "OK");
    EXPECT_EQ(call("bx_count", {Arg::of(h), Arg::of("new")}), "int 1");
    EXPECT_EQ(call("bx_lookup", {Arg::of(h), Arg::of("new"), Arg::of(1L)}), "A1XXXXXX");
    EXPECT_EQ(call("bx_status", {Arg::of(h), Arg::of("a1")}), "new");
    EXPECT_EQ(call("bx_textvalue", {Arg::of(h)}), s->apitext);
    EXPECT_EQ(call("bx_done", {Arg::of(h)}), "OK");
    EXPECT_EQ(qor_ptr_take(), nullptr);
    EXPECT_EQ(call("bx_new", {Arg::of(h), Arg::of("a2")}), "uninitialized");
    EXPECT_EQ(call("bx_lookup", {Arg::of(h), Arg::of("new"), Arg::of(1L)}), "");
    EXPECT_EQ(call("bx_done", {Arg::of(h)}), "OK");
}

TEST_F(Handlers, ScriptInterfaceAndClosingWhatIsLeftOpen) {
    EXPECT_EQ(bx_script_count(), 16);
    EXPECT_EQ(bx_script_find("BX_INIT"), 0);
    EXPECT_EQ(bx_script_find("bx_textvalue"), 15);
    EXPECT_EQ(bx_script_find("bx_errortext"), -1);
    EXPECT_EQ(bx_script_name(16), nullptr);
    bx_script_result r{};
    EXPECT_EQ(bx_script_call(16, 0, nullptr, &r), BX_SCRIPT_FAILED);
    EXPECT_EQ(bx_script_call(0, 1, nullptr, &r), BX_SCRIPT_FAILED);
    EXPECT_EQ(bx_script_call(0, 0, nullptr, &r), BX_SCRIPT_WRONG_COUNT);

    write_config("test", base_config());
    std::string handles[2];
    for (std::string &h : handles) {
        bx_script_arg name{0, 0, "test!", 4};  // only len bytes count
        ASSERT_EQ(bx_script_call(0, 1, &name, &r), BX_SCRIPT_TEXT);
        h.assign(r.text, r.len);
        bx_script_result_free(&r);
        EXPECT_NE(qor_ptr_stringtoptr(h.c_str()), nullptr) << bx_initerror;
    }
    bx_script_arg count[] = {{0, 0, handles[0].data(), handles[0].size()}, {0, 0, "all", 3}};
    ASSERT_EQ(bx_script_call(bx_script_find("bx_count"), 2, count, &r), BX_SCRIPT_INTEGER);
    EXPECT_EQ(r.integer, 0);
    EXPECT_EQ(bx_script_close_all(), 2);
    EXPECT_EQ(bx_script_close_all(), 0);
    for (const std::string &h : handles) EXPECT_EQ(qor_ptr_stringtoptr(h.c_str()), nullptr);
}

TEST_F(Handlers, AFailedInitTellsWhatItLogged) {
    testutil::LogCapture log;
    bx_script_result r{};
    auto init = [&](const char *name) {
        bx_script_arg arg{0, 0, name, strlen(name)};
        EXPECT_EQ(bx_script_call(0, 1, &arg, &r), BX_SCRIPT_TEXT);
        std::string h(r.text, r.len);
        bx_script_result_free(&r);
        return h;
    };
    // The log still gets every line; the reason gives them without levels.
    EXPECT_EQ(init("missing"), "0,0,0,0,");
    EXPECT_EQ(std::string(bx_script_open_failure()),
              "Could not locate configuration file in " + confdir +
                  "/missing.conf; Unable to read BRIX user from config file.");
    EXPECT_EQ(log.texts(), (std::vector<std::string>{
                               "Fatal error: Could not locate configuration file in " + confdir + "/missing.conf\n",
                               "NonFatal error: Unable to read BRIX user from config file.\n"}));
    // Any later call, a successful bx_init too, clears it.
    bx_script_arg none{0, 0, "0,0,0,0,", 8};
    EXPECT_EQ(bx_script_call(bx_script_find("bx_textvalue"), 1, &none, &r), BX_SCRIPT_TEXT);
    bx_script_result_free(&r);
    EXPECT_STREQ(bx_script_open_failure(), "");
    EXPECT_EQ(init("missing"), "0,0,0,0,");
    write_config("test", base_config());
    EXPECT_NE(init("test"), "0,0,0,0,");
    EXPECT_STREQ(bx_script_open_failure(), "");
    EXPECT_EQ(bx_script_close_all(), 1);
}

}  // namespace
