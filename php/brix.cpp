// brix: the PHP 8 extension that gives merchants' PHP scripts the sixteen
// BRIX script functions ("bx_init" ... "bx_textvalue").
//
// The functions are declared in php/brix.stub.php; php/brix_arginfo.h,
// generated from it, gives PHP their parameter names, types and return
// types, and registers them with the module.  All sixteen share one body:
// it parses the arguments as the function's arginfo declares them (the
// argument count, then each argument as a string or as a string or int,
// in PHP's coercive or strict mode as the caller's file asks), runs the
// module's own handler through binding/bx_script (the module interface
// itself cannot share a translation unit with Zend's headers, which use
// the same names) and returns its answer as the declared string or int.
// The handler converts the values further exactly as it always has, so a
// call answers the same whichever of the accepted forms it was given.
//
// The ini setting brix.config_dir (system level: php.ini or a php-fpm
// pool's php_admin_value) names the configuration directory; the library
// consults it after BRIX_CONFIG_DIR, which php-fpm clears from its
// workers' environment by default, and before the standard directories.
//
// At the end of every request the sessions that the request left open are
// closed and the effective user that the request began with is restored,
// so a worker serving many requests neither leaks descriptors nor runs a
// later request as the merchant's service user.  Both are per process, so
// the extension refuses to be built for a thread-safe PHP.
//
// Failure policy: argument errors are PHP's own (ArgumentCountError,
// TypeError, ValueError for a NUL byte, which the library's C texts would
// silently cut); a call that could not be made for lack of memory throws
// Error.  A bx_init that opens no session answers "0,0,0,0," as always and
// raises an E_WARNING with the reason the library logged.  Nothing is
// logged here.
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "php.h"
#include "php_ini.h"
#include "ext/standard/info.h"
#include "zend_exceptions.h"

#ifdef ZTS
#error "brix cannot be built for a thread-safe (ZTS) PHP: its session handles and the effective user it switches belong to the whole process"
#endif

#include "binding/bx_script.h"
#include "php/brix_arginfo.h"

#define PHP_BRIX_VERSION "3.3"

namespace {

constexpr uint32_t kMaxArgs = 4;   // the most arguments a function takes
uid_t g_request_euid = 0;          // effective user at the start of the request

// Parses argument `n` as its arginfo declares it: string|int, or string.
// An int is passed as an int and anything else as PHP's text of it, so a
// float keeps its fraction ("10.5", not 10) as it always has; strict mode
// takes only the declared types.  False with the PHP exception raised
// when the argument cannot be passed.
bool parse_arg(zval *arg, const zend_internal_arg_info &info, uint32_t n, bx_script_arg *out) {
    bool or_int = ZEND_TYPE_FULL_MASK(info.type) & MAY_BE_LONG;
    if (or_int && Z_TYPE_P(arg) == IS_LONG) {
        *out = bx_script_arg{1, Z_LVAL_P(arg), nullptr, 0};
        return true;
    }
    zend_string *text = nullptr;
    if (!zend_parse_arg_str(arg, &text, false, n) || CHECK_NULL_PATH(ZSTR_VAL(text), ZSTR_LEN(text))) {
        // A string with a NUL byte gets PHP's ValueError (the library's C
        // texts would end there), any other refusal its TypeError.
        if (or_int && text)
            zend_argument_value_error(n, "must not contain any null bytes");
        else
            zend_wrong_parameter_type_error(n, or_int ? Z_EXPECTED_STRING_OR_LONG : Z_EXPECTED_PATH, arg);
        return false;
    }
    // The text lives in the call frame's argument until the call returns.
    *out = bx_script_arg{0, 0, ZSTR_VAL(text), ZSTR_LEN(text)};
    return true;
}

// The body of every function.
void brix_call(INTERNAL_FUNCTION_PARAMETERS) {
    const zend_internal_function &fn = EX(func)->internal_function;
    uint32_t argc = ZEND_NUM_ARGS();
    if (argc < fn.required_num_args || argc > fn.num_args) {
        zend_wrong_parameters_count_error(fn.required_num_args, fn.num_args);
        return;
    }
    bx_script_arg args[kMaxArgs];
    for (uint32_t i = 0; i < argc; i++)
        if (!parse_arg(ZEND_CALL_ARG(execute_data, i + 1), fn.arg_info[i], i + 1, &args[i])) return;

    const char *name = ZSTR_VAL(fn.function_name);
    int index = bx_script_find(name);
    bx_script_result result{};
    int kind = index < 0 ? BX_SCRIPT_FAILED : bx_script_call(index, static_cast<int>(argc), args, &result);
    // arg_info[-1] describes the return value.
    bool returns_int = ZEND_TYPE_FULL_MASK(fn.arg_info[-1].type) & MAY_BE_LONG;
    if (kind == BX_SCRIPT_TEXT && !returns_int) {
        RETVAL_STRINGL(result.text, result.len);
    } else if (kind == BX_SCRIPT_INTEGER && returns_int) {
        RETVAL_LONG(static_cast<zend_long>(result.integer));
    } else if (kind == BX_SCRIPT_WRONG_COUNT) {
        zend_wrong_parameters_count_error(fn.required_num_args, fn.num_args);
    } else {
        zend_throw_error(nullptr, "%s(): the call could not be made", name);
    }
    bx_script_result_free(&result);

    const char *why = bx_script_open_failure();
    if (*why) php_error_docref(nullptr, E_WARNING, "%s", why);
}

// The request is over: close what it left open, give back its user.
void end_request() {
    bx_script_close_all();
    if (geteuid() != g_request_euid && seteuid(g_request_euid) != 0)
        zend_error(E_WARNING, "brix: cannot restore effective user %ld", static_cast<long>(g_request_euid));
}

// brix.config_dir changed: at start-up from php.ini, in a php-fpm worker
// from its pool's php_admin_value.
ZEND_INI_MH(on_config_dir) {
    (void)entry;
    (void)mh_arg1;
    (void)mh_arg2;
    (void)mh_arg3;
    (void)stage;
    return bx_script_set_config_dir(new_value ? ZSTR_VAL(new_value) : nullptr) == 0 ? SUCCESS : FAILURE;
}

PHP_INI_BEGIN()
    PHP_INI_ENTRY("brix.config_dir", "", PHP_INI_SYSTEM, on_config_dir)
PHP_INI_END()

// The directory bx_init reads configurations from, as the info page
// shows it: the named one, else the first standard one that exists.
std::string config_dir_shown(bool &readable) {
    static const char *const kSource[] = {"", " (BRIX_CONFIG_DIR)", " (brix.config_dir)"};
    int source = BX_SCRIPT_DIR_STANDARD;
    const char *dir = bx_script_config_dir(&source);
    std::string none;
    for (int i = 0; !dir && bx_script_standard_config_dir(i); i++) {
        const char *d = bx_script_standard_config_dir(i);
        struct stat st;
        if (stat(d, &st) == 0 && S_ISDIR(st.st_mode)) dir = d;
        none += (i ? ", " : "") + std::string(d);
    }
    if (!dir) {
        readable = false;
        return none + " (none exists)";
    }
    readable = eaccess(dir, R_OK | X_OK) == 0;
    return dir + std::string(source == BX_SCRIPT_DIR_STANDARD ? " (standard directory)" : kSource[source]);
}

PHP_MINIT_FUNCTION(brix) {
    (void)type;
    REGISTER_INI_ENTRIES();
    // The stub's functions and the module's table must be the same set.
    int count = 0;
    for (const zend_function_entry *e = ext_functions; e->fname; e++, count++) {
        if (bx_script_find(e->fname) < 0 || e->num_args > kMaxArgs) {
            zend_error(E_CORE_WARNING, "brix: %s() is not a function of the module", e->fname);
            return FAILURE;
        }
    }
    if (count != bx_script_count()) {
        zend_error(E_CORE_WARNING, "brix: %d functions declared, the module has %d", count, bx_script_count());
        return FAILURE;
    }
    return SUCCESS;
}

PHP_MSHUTDOWN_FUNCTION(brix) {
    (void)type;
    bx_script_close_all();
    UNREGISTER_INI_ENTRIES();
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
    php_info_print_table_start();
    php_info_print_table_row(2, "brix support", "enabled");
    php_info_print_table_row(2, "version", PHP_BRIX_VERSION);
    php_info_print_table_row(2, "script functions", std::to_string(bx_script_count()).c_str());
    bool readable = false;
    std::string dir = config_dir_shown(readable);
    php_info_print_table_row(2, "configuration directory", dir.c_str());
    php_info_print_table_row(2, "configuration directory readable", readable ? "yes" : "no");
    php_info_print_table_end();
    DISPLAY_INI_ENTRIES();
}

zend_module_entry brix_zend_module = {
    STANDARD_MODULE_HEADER,
    "brix",
    ext_functions,
    PHP_MINIT(brix),
    PHP_MSHUTDOWN(brix),
    PHP_RINIT(brix),
    PHP_RSHUTDOWN(brix),
    PHP_MINFO(brix),
    PHP_BRIX_VERSION,
    STANDARD_MODULE_PROPERTIES,
};

}  // namespace

// The sixteen functions named by the arginfo, each the one body above.
#define BRIX_FUNCTION(name) \
    ZEND_FUNCTION(name) { brix_call(INTERNAL_FUNCTION_PARAM_PASSTHRU); }
BRIX_FUNCTION(bx_init)
BRIX_FUNCTION(bx_done)
BRIX_FUNCTION(bx_new)
BRIX_FUNCTION(bx_add)
BRIX_FUNCTION(bx_delete)
BRIX_FUNCTION(bx_auth)
BRIX_FUNCTION(bx_return)
BRIX_FUNCTION(bx_reverse)
BRIX_FUNCTION(bx_sale)
BRIX_FUNCTION(bx_void)
BRIX_FUNCTION(bx_status)
BRIX_FUNCTION(bx_count)
BRIX_FUNCTION(bx_lookup)
BRIX_FUNCTION(bx_report)
BRIX_FUNCTION(bx_command)
BRIX_FUNCTION(bx_textvalue)

extern "C" ZEND_DLEXPORT zend_module_entry *get_module(void) { return &brix_zend_module; }
