// bx_debug_error: compact negative codes for the system's error numbers.
//
// Operations that pass an operating-system failure on as an int result
// turn errno into one of these codes with bx_debug_error; the code is
// turned back into the system's text with bx_debug_strerror.
//
// Failure policy: nothing here fails; an error number outside the table
// gives -1, a code outside the table a fixed text.
#ifndef BRIX_SESSION_BX_DEBUG_ERROR_H
#define BRIX_SESSION_BX_DEBUG_ERROR_H

#ifdef __cplusplus
extern "C" {
#endif

// The current errno as a code: 0 for none, -2..-44 for the known errors,
// -1 for any other.
int bx_debug_error(void);
// "no error" for 0, "unknown error" for -1, the system's text for -2..-44,
// "problem with error reporting" for anything else.
const char *bx_debug_strerror(int code);

#ifdef __cplusplus
}
#endif

#endif
