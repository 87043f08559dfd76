// brix: the PHP 8 extension that gives merchants' PHP scripts the sixteen
// BRIX script functions ("bx_init" ... "bx_textvalue").
//
// At module start-up every function of the BRIX module's table is
// registered as a PHP function of the same name, all served by one
// dispatcher.  The dispatcher turns the PHP arguments into texts and
// integers, runs the module's own handler through binding/bx_script (the
// module interface itself cannot share a translation unit with Zend's
// headers, which use the same names) and returns its answer as a PHP
// string or int.  All functions share one variadic argument list, so the
// handler alone decides whether the count is right.
//
// At the end of every request the sessions that the request left open are
// closed and the effective user that the request began with is restored,
// so a worker serving many requests neither leaks descriptors nor runs a
// later request as the merchant's service user.
//
// Failure policy: a wrong argument count throws ArgumentCountError, an
// array argument or one with a NUL byte a TypeError or ValueError (the
// library works on C texts, where a NUL byte would silently cut the text);
// a call that could not be made for lack of memory throws Error.  Nothing
// is logged here.
#include <unistd.h>

#include "php.h"
#include "ext/standard/info.h"
#include "zend_exceptions.h"

#include "binding/bx_script.h"

namespace {

constexpr int kMaxFunctions = 32;

// Every function takes any number of arguments; the handler checks them.
ZEND_BEGIN_ARG_INFO_EX(arginfo_brix_any, 0, 0, 0)
    ZEND_ARG_VARIADIC_INFO(0, args)
ZEND_END_ARG_INFO()

zend_function_entry g_entries[kMaxFunctions + 1];
int g_registered = 0;         // entries of g_entries registered with PHP
uid_t g_request_euid = 0;     // effective user at the start of the request

// Releases the argument texts of one call.
void release_texts(zend_string **texts, uint32_t count) {
    for (uint32_t i = 0; i < count; i++)
        if (texts[i]) zend_string_release(texts[i]);
}

// Fills args[i] from the PHP argument; false with a PHP exception raised
// when the argument cannot be passed.  texts[i] keeps a text alive.
bool convert_arg(zval *arg, uint32_t position, bx_script_arg *out, zend_string **text) {
    ZVAL_DEREF(arg);
    if (Z_TYPE_P(arg) == IS_LONG) {
        *out = bx_script_arg{1, Z_LVAL_P(arg), nullptr, 0};
        return true;
    }
    if (Z_TYPE_P(arg) == IS_ARRAY) {
        zend_argument_type_error(position, "must be of type string|int, array given");
        return false;
    }
    zend_string *s = zval_try_get_string(arg);
    if (!s) return false;
    *text = s;
    if (memchr(ZSTR_VAL(s), '\0', ZSTR_LEN(s))) {
        zend_argument_value_error(position, "must not contain any null bytes");
        return false;
    }
    *out = bx_script_arg{0, 0, ZSTR_VAL(s), ZSTR_LEN(s)};
    return true;
}

void brix_dispatch(INTERNAL_FUNCTION_PARAMETERS) {
    zval *params = nullptr;
    uint32_t argc = 0;
    ZEND_PARSE_PARAMETERS_START(0, -1)
        Z_PARAM_VARIADIC('*', params, argc)
    ZEND_PARSE_PARAMETERS_END();

    const char *name = ZSTR_VAL(EX(func)->common.function_name);
    int index = bx_script_find(name);
    if (index < 0) {
        zend_throw_error(nullptr, "%s(): no such function in the brix module", name);
        return;
    }

    // Zend's own memory: reclaimed at the request's end even if a fatal
    // error leaves this function early.
    bx_script_arg *args = argc ? static_cast<bx_script_arg *>(safe_emalloc(argc, sizeof *args, 0)) : nullptr;
    zend_string **texts = argc ? static_cast<zend_string **>(ecalloc(argc, sizeof *texts)) : nullptr;
    bool converted = true;
    for (uint32_t i = 0; i < argc && converted; i++)
        converted = convert_arg(&params[i], i + 1, &args[i], &texts[i]);

    bx_script_result result{};
    int kind = converted ? bx_script_call(index, static_cast<int>(argc), args, &result) : 0;
    release_texts(texts, argc);
    if (args) efree(args);
    if (texts) efree(texts);
    if (!converted) return;

    switch (kind) {
    case BX_SCRIPT_TEXT:
        RETVAL_STRINGL(result.text, result.len);
        break;
    case BX_SCRIPT_INTEGER:
        RETVAL_LONG(static_cast<zend_long>(result.integer));
        break;
    case BX_SCRIPT_WRONG_COUNT:
        zend_throw_exception_ex(zend_ce_argument_count_error, 0, "Wrong parameter count for %s()", name);
        break;
    default:
        zend_throw_error(nullptr, "%s(): the call could not be made (out of memory)", name);
        break;
    }
    bx_script_result_free(&result);
}

// The request is over: close what it left open, give back its user.
void end_request() {
    bx_script_close_all();
    if (geteuid() != g_request_euid && seteuid(g_request_euid) != 0)
        zend_error(E_WARNING, "brix: cannot restore effective user %ld", static_cast<long>(g_request_euid));
}

PHP_MINIT_FUNCTION(brix) {
    int count = bx_script_count();
    if (count > kMaxFunctions) return FAILURE;
    for (int i = 0; i < count; i++) {
        zend_function_entry &e = g_entries[i];
        e = zend_function_entry{};
        e.fname = bx_script_name(i);
        e.handler = brix_dispatch;
        e.arg_info = arginfo_brix_any;
        e.num_args = static_cast<uint32_t>(sizeof arginfo_brix_any / sizeof arginfo_brix_any[0] - 1);
    }
    g_entries[count] = zend_function_entry{};
    if (zend_register_functions(nullptr, g_entries, nullptr, type) != SUCCESS) return FAILURE;
    g_registered = count;
    (void)module_number;
    return SUCCESS;
}

PHP_MSHUTDOWN_FUNCTION(brix) {
    (void)type;
    (void)module_number;
    bx_script_close_all();
    if (g_registered) zend_unregister_functions(g_entries, g_registered, nullptr);
    g_registered = 0;
    return SUCCESS;
}

PHP_RINIT_FUNCTION(brix) {
    (void)type;
    (void)module_number;
    g_request_euid = geteuid();
    return SUCCESS;
}

PHP_RSHUTDOWN_FUNCTION(brix) {
    (void)type;
    (void)module_number;
    end_request();
    return SUCCESS;
}

PHP_MINFO_FUNCTION(brix) {
    (void)zend_module;
    php_info_print_table_start();
    php_info_print_table_row(2, "brix support", "enabled");
    char count[16];
    snprintf(count, sizeof count, "%d", g_registered);
    php_info_print_table_row(2, "script functions", count);
    php_info_print_table_end();
}

zend_module_entry brix_zend_module = {
    STANDARD_MODULE_HEADER,
    "brix",
    nullptr,                  // the functions are registered at start-up
    PHP_MINIT(brix),
    PHP_MSHUTDOWN(brix),
    PHP_RINIT(brix),
    PHP_RSHUTDOWN(brix),
    PHP_MINFO(brix),
    "3.3",
    STANDARD_MODULE_PROPERTIES,
};

}  // namespace

extern "C" ZEND_DLEXPORT zend_module_entry *get_module(void) { return &brix_zend_module; }
