// bx_script: the BRIX module's script functions for another interpreter.
//
// The PHP 8 extension (php/) cannot see the module interface of
// binding/php3_api.h, whose names PHP's own headers take.  This interface
// carries only plain values: it names the functions of brix_functions,
// runs one with texts and integers through the module's host and hands
// back its text or integer.  It also ends what a script left open, tells
// why a "bx_init" opened no session, and carries the host's configuration
// directory to the library.
//
// Failure policy: no exception leaves these calls.  bx_script_call answers
// BX_SCRIPT_WRONG_COUNT when the handler refused the argument count and
// BX_SCRIPT_FAILED when the call could not be made (unknown function, no
// memory) or gave no result; nothing is logged here.
#ifndef BRIX_BINDING_BX_SCRIPT_H
#define BRIX_BINDING_BX_SCRIPT_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

// Outcome of a call (bx_script_result.kind).
enum {
    BX_SCRIPT_TEXT = 1,       // text and len hold the answer
    BX_SCRIPT_INTEGER = 2,    // integer holds the answer
    BX_SCRIPT_WRONG_COUNT = 3,
    BX_SCRIPT_FAILED = 4
};

typedef struct {
    int is_integer;           // 1: integer, 0: text
    long long integer;
    const char *text;         // need not be terminated; len bytes
    size_t len;
} bx_script_arg;

typedef struct {
    int kind;                 // BX_SCRIPT_*
    long long integer;        // answer of BX_SCRIPT_INTEGER
    char *text;               // answer of BX_SCRIPT_TEXT, terminated (owned)
    size_t len;
} bx_script_result;

// Number of script functions, and the name of function `index` (null
// outside 0 .. count - 1).
int bx_script_count(void);
const char *bx_script_name(int index);
// The index of a function name, compared without regard to case; -1.
int bx_script_find(const char *name);

// Calls function `index` with argc arguments; returns and fills
// result->kind.  Release the result with bx_script_result_free.
int bx_script_call(int index, int argc, const bx_script_arg *argv, bx_script_result *result);
void bx_script_result_free(bx_script_result *result);

// Closes every session that is still open (as "bx_done" would) and
// returns how many there were.
int bx_script_close_all(void);

// Why the last call opened no session: after a "bx_init" that failed, the
// lines it logged (without their level names, joined by "; "), or the
// library's failure text when it logged none; "" after any other call.
// The lines still reach the log.
const char *bx_script_open_failure(void);

// Where "bx_init" finds configurations (bx_script_config_dir's source).
enum {
    BX_SCRIPT_DIR_STANDARD = 0,     // only the standard directories
    BX_SCRIPT_DIR_ENVIRONMENT = 1,  // BRIX_CONFIG_DIR
    BX_SCRIPT_DIR_HOST = 2          // the host's, bx_script_set_config_dir
};
// Sets the host's configuration directory, searched after BRIX_CONFIG_DIR
// and before the standard ones; null or "" clears it.  0, or -1 (no memory).
int bx_script_set_config_dir(const char *dir);
// The directory that the environment or the host names, null when only
// the standard directories are searched; *source tells which.
const char *bx_script_config_dir(int *source);
// Standard directory `index` in search order; null past the last.
const char *bx_script_standard_config_dir(int index);

#ifdef __cplusplus
}
#endif

#endif
