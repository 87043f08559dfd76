// php3_api: the script interpreter's module interface as the BRIX module's
// handlers use it, and nothing more.
//
// A module is a record naming its function table; each function is a
// handler that receives the call's argument list and a value record for
// its result.  The handlers count the arguments, fetch them with
// getParameters, convert them in place to text or integers and leave a
// text (IS_STRING) or an integer (IS_LONG) in the result.
//
// The calls are served by a host: binding/php3_host is the small host of
// this library, which runs the handlers for the PHP 8 extension (php/) and
// for the tests.  The names here are also names of PHP 8's own headers,
// so this header and Zend's never meet in one translation unit, and the
// host calls have C++ linkage, so they can never bind to PHP's symbols of
// the same name.
//
// Failure policy: getParameters returns FAILURE for a count that does not
// match the list; the other calls cannot fail towards the handler (a host
// that runs out of memory leaves a value empty rather than fail the call).
#ifndef BRIX_BINDING_PHP3_API_H
#define BRIX_BINDING_PHP3_API_H

#include <stddef.h>

enum { SUCCESS = 0, FAILURE = -1 };

// Type tags of a value record.
enum {
    IS_LONG = 1,              // value.lval holds an integer
    IS_STRING = 4             // value.str holds a text
};

// A value record: an argument or a result.
typedef struct _pval_struct {
    unsigned short type;      // IS_LONG or IS_STRING; 0 while a result is unset
    union {
        long lval;            // integer value
        struct {
            char *val;        // text, NUL-terminated, owned by the host
            size_t len;       // length of val without its terminator
        } str;
    } value;
} pval;

// A call's argument list, owned by the host.
typedef struct _php3_arglist {
    int count;                // number of arguments
    pval *args;               // the arguments in call order
} HashTable;

#define INTERNAL_FUNCTION_PARAMETERS HashTable *ht, pval *return_value
#define ARG_COUNT(ht) ((ht)->count)
#define WRONG_PARAM_COUNT \
    {                     \
        wrong_param_count(); \
        return;           \
    }

// One script function: its name, its handler, no argument-type list.
typedef struct _php3_function_entry {
    const char *fname;
    void (*handler)(INTERNAL_FUNCTION_PARAMETERS);
    unsigned char *func_arg_types;
} function_entry;

// The record a host reads when it loads a module.  Only name and functions
// are used by this module; the hooks stay null.
typedef struct _php3_module_entry {
    const char *name;
    function_entry *functions;
    int (*module_startup_func)(int type, int module_number);
    int (*module_shutdown_func)(void);
    int (*request_startup_func)(int type, int module_number);
    int (*request_shutdown_func)(void);
    void (*info_func)(void);
    int request_started;
    int module_started;
    unsigned char type;
    void *handle;
    int module_number;
} php3_module_entry;

// Fills n references (pval **) with the call's arguments in order;
// FAILURE when the list does not hold exactly n.
int getParameters(HashTable *ht, int n, ...);
// Tells the host that the call had a wrong argument count; the handler
// returns without a result.
void wrong_param_count(void);
// Converts a value in place to text (an integer to its decimal form).
void convert_to_string(pval *value);
// Converts a value in place to an integer (a text by its leading decimal
// number, as strtol reads it; 0 without one).
void convert_to_long(pval *value);
// A copy of length bytes of text, terminated, in memory the host owns and
// releases with the value that holds it; null when memory is short.
char *_estrndup(const char *text, size_t length);

#endif
