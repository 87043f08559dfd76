// bxphp: the module record, its function table and the sixteen handlers.
// See bxphp.h for what each function answers.
#include "binding/bxphp.h"

#include <climits>
#include <cstdlib>
#include <cstring>

#include "api/bx_api_add.h"
#include "api/bx_api_command.h"
#include "api/bx_api_count.h"
#include "api/bx_api_dauth.h"
#include "api/bx_api_delete.h"
#include "api/bx_api_errortext.h"
#include "api/bx_api_init.h"
#include "api/bx_api_lookup.h"
#include "api/bx_api_new.h"
#include "api/bx_api_report.h"
#include "api/bx_api_return.h"
#include "api/bx_api_reverse.h"
#include "api/bx_api_sale.h"
#include "api/bx_api_status.h"
#include "api/bx_api_void.h"
#include "binding/qor_ptr.h"
#include "session/bx_argconv.h"

namespace {

// The handle of no session, answered when a session cannot be named.
constexpr char kNoSession[] = "0,0,0,0,";

const char *text_of(const pval *v) {
    return v->type == IS_STRING && v->value.str.val ? v->value.str.val : "";
}

// Converts the handle argument and finds its open session (null for none).
bx_session session_of(pval *handle) {
    convert_to_string(handle);
    return static_cast<bx_session>(qor_ptr_stringtoptr(text_of(handle)));
}

const char *text_arg(pval *v) {
    convert_to_string(v);
    return text_of(v);
}

void return_text(pval *rv, const char *text) {
    if (!text) text = "";
    size_t len = strlen(text);
    char *copy = _estrndup(text, len);
    if (!copy) return;
    rv->value.str.val = copy;
    rv->value.str.len = len;
    rv->type = IS_STRING;
}

void return_long(pval *rv, long number) {
    rv->value.lval = number;
    rv->type = IS_LONG;
}

void return_code(pval *rv, int code) { return_text(rv, bx_ret2str(code)); }

// The answer text of a session, the empty text for none.
void return_answer(pval *rv, bx_session s) {
    const char *text = bx_textvalue(s);
    return_text(rv, text ? text : "");
}

// The five processing requests and bx_new and bx_delete: (handle, invoice).
void invoice_request(HashTable *ht, pval *rv, int (*op)(bx_session, const char *)) {
    pval *handle, *invoice;
    if (ARG_COUNT(ht) != 2 || getParameters(ht, 2, &handle, &invoice) == FAILURE)
        WRONG_PARAM_COUNT;
    bx_session s = session_of(handle);
    return_code(rv, op(s, text_arg(invoice)));
}

// An item number from the script, kept within the operation's int.
int item_number(long n) {
    if (n > INT_MAX) return INT_MAX;
    if (n < INT_MIN) return INT_MIN;
    return static_cast<int>(n);
}

}  // namespace

extern "C" {

void bx_php_init(INTERNAL_FUNCTION_PARAMETERS) {
    pval *name;
    if (ARG_COUNT(ht) != 1 || getParameters(ht, 1, &name) == FAILURE) WRONG_PARAM_COUNT;
    bx_session s = bx_init(text_arg(name));
    char *handle = qor_ptr_ptrtostring(s);
    if (!handle) {
        // A session the script cannot name could never be closed: close it
        // now and answer as for a failed open.
        bx_done(s);
        return_text(return_value, kNoSession);
        return;
    }
    return_text(return_value, handle);
    free(handle);
}

void bx_php_done(INTERNAL_FUNCTION_PARAMETERS) {
    pval *handle;
    if (ARG_COUNT(ht) != 1 || getParameters(ht, 1, &handle) == FAILURE) WRONG_PARAM_COUNT;
    if (bx_session s = session_of(handle)) {
        qor_ptr_forget(s);
        bx_done(s);
    }
    return_code(return_value, BX_OK);
}

void bx_php_new(INTERNAL_FUNCTION_PARAMETERS) { invoice_request(ht, return_value, bx_new); }

void bx_php_add(INTERNAL_FUNCTION_PARAMETERS) {
    pval *handle, *invoice, *argname, *value;
    if (ARG_COUNT(ht) != 4 || getParameters(ht, 4, &handle, &invoice, &argname, &value) == FAILURE)
        WRONG_PARAM_COUNT;
    bx_session s = session_of(handle);
    const char *inv = text_arg(invoice);
    int arg = bx_str2arg(text_arg(argname));
    return_code(return_value, bx_add(s, inv, arg, text_arg(value)));
}

void bx_php_delete(INTERNAL_FUNCTION_PARAMETERS) { invoice_request(ht, return_value, bx_delete); }
void bx_php_auth(INTERNAL_FUNCTION_PARAMETERS) { invoice_request(ht, return_value, bx_auth); }
void bx_php_return(INTERNAL_FUNCTION_PARAMETERS) { invoice_request(ht, return_value, bx_return); }
void bx_php_reverse(INTERNAL_FUNCTION_PARAMETERS) { invoice_request(ht, return_value, bx_reverse); }
void bx_php_sale(INTERNAL_FUNCTION_PARAMETERS) { invoice_request(ht, return_value, bx_sale); }
void bx_php_void(INTERNAL_FUNCTION_PARAMETERS) { invoice_request(ht, return_value, bx_void); }

void bx_php_status(INTERNAL_FUNCTION_PARAMETERS) {
    pval *handle, *invoice;
    if (ARG_COUNT(ht) != 2 || getParameters(ht, 2, &handle, &invoice) == FAILURE)
        WRONG_PARAM_COUNT;
    bx_session s = session_of(handle);
    return_text(return_value, bx_stat2str(bx_status(s, text_arg(invoice))));
}

void bx_php_count(INTERNAL_FUNCTION_PARAMETERS) {
    pval *handle, *status;
    if (ARG_COUNT(ht) != 2 || getParameters(ht, 2, &handle, &status) == FAILURE)
        WRONG_PARAM_COUNT;
    bx_session s = session_of(handle);
    return_long(return_value, bx_count(s, bx_str2stat(text_arg(status))));
}

void bx_php_lookup(INTERNAL_FUNCTION_PARAMETERS) {
    pval *handle, *status, *index;
    if (ARG_COUNT(ht) != 3 || getParameters(ht, 3, &handle, &status, &index) == FAILURE)
        WRONG_PARAM_COUNT;
    bx_session s = session_of(handle);
    int type = bx_str2stat(text_arg(status));
    convert_to_long(index);
    bx_lookup(s, type, item_number(index->value.lval));  // the answer text tells
    return_answer(return_value, s);
}

void bx_php_report(INTERNAL_FUNCTION_PARAMETERS) {
    pval *handle, *type;
    if (ARG_COUNT(ht) != 2 || getParameters(ht, 2, &handle, &type) == FAILURE) WRONG_PARAM_COUNT;
    bx_session s = session_of(handle);
    return_code(return_value, bx_report(s, bx_str2rep(text_arg(type))));
}

void bx_php_command(INTERNAL_FUNCTION_PARAMETERS) {
    pval *handle, *command, *argument;
    if (ARG_COUNT(ht) != 3 || getParameters(ht, 3, &handle, &command, &argument) == FAILURE)
        WRONG_PARAM_COUNT;
    bx_session s = session_of(handle);
    int cmd = bx_str2cmd(text_arg(command));
    return_code(return_value, bx_command(s, cmd, text_arg(argument)));
}

void bx_php_textvalue(INTERNAL_FUNCTION_PARAMETERS) {
    pval *handle;
    if (ARG_COUNT(ht) != 1 || getParameters(ht, 1, &handle) == FAILURE) WRONG_PARAM_COUNT;
    return_answer(return_value, session_of(handle));
}

function_entry brix_functions[BX_PHP_NUM_FUNCTIONS + 1] = {
    {"bx_init", bx_php_init, nullptr},
    {"bx_done", bx_php_done, nullptr},
    {"bx_new", bx_php_new, nullptr},
    {"bx_add", bx_php_add, nullptr},
    {"bx_delete", bx_php_delete, nullptr},
    {"bx_auth", bx_php_auth, nullptr},
    {"bx_return", bx_php_return, nullptr},
    {"bx_reverse", bx_php_reverse, nullptr},
    {"bx_sale", bx_php_sale, nullptr},
    {"bx_void", bx_php_void, nullptr},
    {"bx_status", bx_php_status, nullptr},
    {"bx_count", bx_php_count, nullptr},
    {"bx_lookup", bx_php_lookup, nullptr},
    {"bx_report", bx_php_report, nullptr},
    {"bx_command", bx_php_command, nullptr},
    {"bx_textvalue", bx_php_textvalue, nullptr},
    {nullptr, nullptr, nullptr},
};

// Name and function table; no start-up, shutdown, request or information hook.
php3_module_entry brix_module_entry = {"BRIX", brix_functions, nullptr, nullptr, nullptr,
                                       nullptr, nullptr, 0, 0, 0, nullptr, 0};

}  // extern "C"
