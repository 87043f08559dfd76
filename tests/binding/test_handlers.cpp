// The BRIX module: its record and function table, the module file's one
// entry, the sixteen handlers run through the module's own host, the host
// calls themselves, and the plain-valued interface the PHP 8 extension uses.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <initializer_list>
#include <string>

#include "binding/bx_script.h"
#include "binding/bxphp.h"
#include "binding/php3_host.h"
#include "binding/qor_ptr.h"
#include "tests/brix_fixture.h"

using php3_host::Arg;
using php3_host::Outcome;
using testutil::BrixTest;
using testutil::LogCapture;

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

php3_host::Result run(const char *name, std::initializer_list<Arg> args) {
    for (const function_entry *f = brix_functions; f->fname; f++)
        if (strcmp(f->fname, name) == 0) return php3_host::call(f->handler, {args.begin(), args.size()});
    ADD_FAILURE() << "no function " << name;
    return {};
}

std::string text(const php3_host::Result &r) {
    EXPECT_EQ(r.outcome, Outcome::text);
    return r.text;
}

long integer(const php3_host::Result &r) {
    EXPECT_EQ(r.outcome, Outcome::integer);
    return r.number;
}

TEST(Module, RecordAndFunctionTable) {
    EXPECT_STREQ(brix_module_entry.name, "BRIX");
    EXPECT_EQ(brix_module_entry.functions, brix_functions);
    EXPECT_EQ(brix_module_entry.module_startup_func, nullptr);
    EXPECT_EQ(brix_module_entry.module_shutdown_func, nullptr);
    EXPECT_EQ(brix_module_entry.request_startup_func, nullptr);
    EXPECT_EQ(brix_module_entry.request_shutdown_func, nullptr);
    EXPECT_EQ(brix_module_entry.info_func, nullptr);
    const void *handlers[] = {
        (void *)bx_php_init,    (void *)bx_php_done,   (void *)bx_php_new,     (void *)bx_php_add,
        (void *)bx_php_delete,  (void *)bx_php_auth,   (void *)bx_php_return,  (void *)bx_php_reverse,
        (void *)bx_php_sale,    (void *)bx_php_void,   (void *)bx_php_status,  (void *)bx_php_count,
        (void *)bx_php_lookup,  (void *)bx_php_report, (void *)bx_php_command, (void *)bx_php_textvalue};
    for (int i = 0; i < BX_PHP_NUM_FUNCTIONS; i++) {
        EXPECT_STREQ(brix_functions[i].fname, kFunctions[i].name);
        EXPECT_EQ((const void *)brix_functions[i].handler, handlers[i]) << i;
        EXPECT_EQ(brix_functions[i].func_arg_types, nullptr);
    }
    const function_entry &end = brix_functions[BX_PHP_NUM_FUNCTIONS];
    EXPECT_TRUE(!end.fname && !end.handler && !end.func_arg_types);
}

TEST(Module, FileExportsOnlyGetModule) {
    void *so = dlopen(BRIX_BUILD_DIR "/bxphp.so", RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(so, nullptr) << dlerror();
    auto get = reinterpret_cast<php3_module_entry *(*)()>(dlsym(so, "get_module"));
    ASSERT_NE(get, nullptr);
    php3_module_entry *m = get();
    EXPECT_STREQ(m->name, "BRIX");
    int n = 0;
    for (const function_entry *f = m->functions; f->fname; f++, n++)
        EXPECT_STREQ(f->fname, kFunctions[n].name);
    EXPECT_EQ(n, BX_PHP_NUM_FUNCTIONS);
    for (const char *hidden : {"bx_php_init", "brix_functions", "getParameters", "_estrndup", "bx_init"})
        EXPECT_EQ(dlsym(so, hidden), nullptr) << hidden;
    dlclose(so);
}

// A handler that shows what the host gives it: it converts its first
// argument to text and the second to an integer.
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

TEST(Host, ConvertsArgumentsInPlace) {
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
    EXPECT_EQ(getParameters(&empty, 0), SUCCESS);
}

class Handlers : public BrixTest {
protected:
    LogCapture log;
    void TearDown() override {
        bx_script_close_all();
        BrixTest::TearDown();
    }
};

TEST_F(Handlers, WrongCountsCallNothing) {
    write_config("test", base_config());
    for (const auto &f : kFunctions) {
        for (int given : {f.args - 1, f.args + 1}) {
            std::vector<Arg> args(static_cast<size_t>(given), Arg::of("test"));
            int index = bx_script_find(f.name);
            ASSERT_GE(index, 0);
            EXPECT_EQ(php3_host::call(brix_functions[index].handler, args).outcome, Outcome::wrong_count)
                << f.name << " with " << given;
        }
    }
    EXPECT_EQ(qor_ptr_take(), nullptr);  // no bx_init ran
}

TEST_F(Handlers, NoSessionAnswers) {
    EXPECT_EQ(text(run("bx_init", {Arg::of("missing")})), "0,0,0,0,");
    for (const char *h : {"0,0,0,0,", "1,0,0,0,", "192,161,4,8", ""}) {
        EXPECT_EQ(text(run("bx_new", {Arg::of(h), Arg::of("A")})), "uninitialized");
        EXPECT_EQ(text(run("bx_add", {Arg::of(h), Arg::of("A"), Arg::of("amount"), Arg::of("1")})),
                  "uninitialized");
        EXPECT_EQ(text(run("bx_status", {Arg::of(h), Arg::of("A")})), "unknown");
        EXPECT_EQ(integer(run("bx_count", {Arg::of(h), Arg::of("all")})), -7);
        EXPECT_EQ(text(run("bx_lookup", {Arg::of(h), Arg::of("new"), Arg::of(1L)})), "");
        EXPECT_EQ(text(run("bx_textvalue", {Arg::of(h)})), "");
        EXPECT_EQ(text(run("bx_report", {Arg::of(h), Arg::of("server")})), "uninitialized");
        EXPECT_EQ(text(run("bx_command", {Arg::of(h), Arg::of("receipt"), Arg::of("")})), "uninitialized");
        EXPECT_EQ(text(run("bx_done", {Arg::of(h)})), "OK");
    }
}

TEST_F(Handlers, SessionFromInitToDone) {
    write_config("test", base_config());
    std::string h = text(run("bx_init", {Arg::of("test")}));
    auto s = static_cast<bx_session>(qor_ptr_stringtoptr(h.c_str()));
    ASSERT_NE(s, nullptr) << bx_initerror;
    EXPECT_EQ(text(run("bx_textvalue", {Arg::of(h)})), "release {3.3 2000/03/27}");
    EXPECT_EQ(text(run("bx_new", {Arg::of(h), Arg::of("a1")})), "OK");
    EXPECT_EQ(text(run("bx_add", {Arg::of(h), Arg::of("a1"), Arg::of("Amount"), Arg::of("5.00")})), "OK");
    EXPECT_EQ(text(run("bx_add", {Arg::of(h), Arg::of("a1"), Arg::of("nonsense"), Arg::of("5")})),
              "syntax error");
    EXPECT_EQ(text(run("bx_new", {Arg::of(h), Arg::of("a2")})), "OK");
    EXPECT_EQ(text(run("bx_status", {Arg::of(h), Arg::of("a1")})), "new");
    EXPECT_EQ(text(run("bx_status", {Arg::of(h), Arg::of("zz")})), "none");
    EXPECT_EQ(integer(run("bx_count", {Arg::of(h), Arg::of("ALL")})), 2);
    EXPECT_STREQ(s->apitext,
                 "new {2} authorized {0} ready {0} done {0} unauthorized {0} denied {0} review {0} bad {0} ");
    // The item number as an integer, as a text, and beyond an int.
    EXPECT_EQ(text(run("bx_lookup", {Arg::of(h), Arg::of("new"), Arg::of(2L)})), "A2XXXXXX");
    EXPECT_EQ(text(run("bx_lookup", {Arg::of(h), Arg::of("New"), Arg::of("1")})), "A1XXXXXX");
    EXPECT_EQ(text(run("bx_lookup", {Arg::of(h), Arg::of("new"), Arg::of(LONG_MAX)})), "NONE");
    EXPECT_EQ(text(run("bx_lookup", {Arg::of(h), Arg::of("new"), Arg::of(LONG_MIN)})),
              "Error: item number must be at least 1");
    EXPECT_EQ(text(run("bx_lookup", {Arg::of(h), Arg::of("new"), Arg::of(0x100000001L)})), "NONE");
    EXPECT_EQ(text(run("bx_report", {Arg::of(h), Arg::of("bogus")})), "syntax error");
    EXPECT_EQ(text(run("bx_report", {Arg::of(h), Arg::of("server")})), "unknown");
    EXPECT_EQ(text(run("bx_command", {Arg::of(h), Arg::of("Receipt"), Arg::of("")})), "invalid request");
    EXPECT_EQ(text(run("bx_textvalue", {Arg::of(h)})), "text {invalid operation for this protocol}");
    EXPECT_EQ(text(run("bx_delete", {Arg::of(h), Arg::of("a2")})), "OK");

    EXPECT_EQ(text(run("bx_done", {Arg::of(h)})), "OK");
    EXPECT_EQ(qor_ptr_stringtoptr(h.c_str()), nullptr);
    EXPECT_EQ(qor_ptr_take(), nullptr);
    EXPECT_EQ(text(run("bx_new", {Arg::of(h), Arg::of("a3")})), "uninitialized");
    EXPECT_EQ(text(run("bx_done", {Arg::of(h)})), "OK");
}

TEST_F(Handlers, ScriptInterfaceAndClosingWhatIsLeftOpen) {
    EXPECT_EQ(bx_script_count(), 16);
    EXPECT_EQ(bx_script_find("BX_INIT"), 0);
    EXPECT_EQ(bx_script_find("bx_textvalue"), 15);
    EXPECT_EQ(bx_script_find("bx_errortext"), -1);
    EXPECT_EQ(bx_script_find(nullptr), -1);
    EXPECT_EQ(bx_script_name(16), nullptr);
    EXPECT_EQ(bx_script_name(-1), nullptr);

    bx_script_result r{};
    EXPECT_EQ(bx_script_call(16, 0, nullptr, &r), BX_SCRIPT_FAILED);
    EXPECT_EQ(bx_script_call(0, 1, nullptr, &r), BX_SCRIPT_FAILED);
    EXPECT_EQ(bx_script_call(0, 0, nullptr, nullptr), BX_SCRIPT_FAILED);
    EXPECT_EQ(bx_script_call(0, 0, nullptr, &r), BX_SCRIPT_WRONG_COUNT);

    write_config("test", base_config());
    std::string handles[2];
    for (std::string &h : handles) {
        bx_script_arg name{0, 0, "test!", 4};  // only len bytes count
        ASSERT_EQ(bx_script_call(bx_script_find("bx_init"), 1, &name, &r), BX_SCRIPT_TEXT);
        h.assign(r.text, r.len);
        EXPECT_EQ(r.text[r.len], '\0');
        bx_script_result_free(&r);
        EXPECT_NE(qor_ptr_stringtoptr(h.c_str()), nullptr) << bx_initerror;
    }
    bx_script_arg count[] = {{0, 0, handles[0].data(), handles[0].size()}, {0, 0, "all", 3}};
    ASSERT_EQ(bx_script_call(bx_script_find("bx_count"), 2, count, &r), BX_SCRIPT_INTEGER);
    EXPECT_EQ(r.integer, 0);
    bx_script_result_free(&r);

    EXPECT_EQ(bx_script_close_all(), 2);
    EXPECT_EQ(bx_script_close_all(), 0);
    for (const std::string &h : handles) EXPECT_EQ(qor_ptr_stringtoptr(h.c_str()), nullptr);
}

}  // namespace
