// bxphp: the BRIX module of the script interpreter.
//
// The module record brix_module_entry names the module "BRIX" and its
// function table brix_functions: sixteen script functions, "bx_init" to
// "bx_textvalue", each served by a handler bx_php_<name>.  A handler
// checks its argument count, converts the arguments to text (the item
// number of "bx_lookup" to an integer), turns the handle text back into a
// session (binding/qor_ptr), calls the library operation and leaves the
// script's answer in its result: nearly always a text (the return code's
// text, a status name, a handle or the session's answer text), for
// "bx_count" an integer.
//
// A loader finds the record through get_module (binding/bxphp_get_module,
// built only into the module file build/bxphp.so); the PHP 8 extension
// (php/) reads the table through binding/bx_script instead.
//
// Failure policy: a wrong argument count is reported with
// wrong_param_count and nothing of the library is called.  A handle that
// names no open session reaches the operations as no session, so they
// answer "uninitialized" (-7); "bx_textvalue" and "bx_lookup" then answer
// the empty text.  The handlers log nothing themselves.
#ifndef BRIX_BINDING_BXPHP_H
#define BRIX_BINDING_BXPHP_H

#include "binding/php3_api.h"

enum { BX_PHP_NUM_FUNCTIONS = 16 };

extern "C" {

extern php3_module_entry brix_module_entry;
// The sixteen functions in their fixed order, then an all-zero entry.
extern function_entry brix_functions[BX_PHP_NUM_FUNCTIONS + 1];

// The loader's entry: the module record.
php3_module_entry *get_module(void);

void bx_php_init(INTERNAL_FUNCTION_PARAMETERS);      // (name) -> handle text
void bx_php_done(INTERNAL_FUNCTION_PARAMETERS);      // (handle) -> "OK"
void bx_php_new(INTERNAL_FUNCTION_PARAMETERS);       // (handle, invoice) -> code text
void bx_php_add(INTERNAL_FUNCTION_PARAMETERS);       // (handle, invoice, argument, value) -> code text
void bx_php_delete(INTERNAL_FUNCTION_PARAMETERS);    // (handle, invoice) -> code text
void bx_php_auth(INTERNAL_FUNCTION_PARAMETERS);      // (handle, invoice) -> code text
void bx_php_return(INTERNAL_FUNCTION_PARAMETERS);    // (handle, invoice) -> code text
void bx_php_reverse(INTERNAL_FUNCTION_PARAMETERS);   // (handle, invoice) -> code text
void bx_php_sale(INTERNAL_FUNCTION_PARAMETERS);      // (handle, invoice) -> code text
void bx_php_void(INTERNAL_FUNCTION_PARAMETERS);      // (handle, invoice) -> code text
void bx_php_status(INTERNAL_FUNCTION_PARAMETERS);    // (handle, invoice) -> status name
void bx_php_count(INTERNAL_FUNCTION_PARAMETERS);     // (handle, status name) -> integer
void bx_php_lookup(INTERNAL_FUNCTION_PARAMETERS);    // (handle, status name, index) -> answer text
void bx_php_report(INTERNAL_FUNCTION_PARAMETERS);    // (handle, report type) -> code text
void bx_php_command(INTERNAL_FUNCTION_PARAMETERS);   // (handle, command, argument) -> code text
void bx_php_textvalue(INTERNAL_FUNCTION_PARAMETERS); // (handle) -> answer text

}  // extern "C"

#endif
