// qor_ptr: the handle text by which a script names an open session.
//
// A script holds a session as a text: the four bytes of a 32-bit handle
// value, least significant first, each as an unsigned decimal number
// followed by "," ("1,0,0,0," for the value 1).  The value is no address:
// a per-process table maps each value to the session it was given to.
// Values come from a counter, so a closed session's value is not handed
// out again until the counter has gone round all 2^32 - 1 values; 0 names
// no session.  A text that decodes to a value the table does not hold
// (never given, already forgotten, forged) names no session, so a script
// can never make the library use freed or invented memory.
//
// The table is process-wide and unlocked: the script binding calls it one
// call at a time.  The binding registers a session when bx_init opens it,
// forgets it at bx_done, and takes what is left when a request ends.
//
// Failure policy: no exception leaves these calls; when memory is short
// qor_ptr_ptrtostring gives null (and registers nothing), and a text that
// is no handle gives null from qor_ptr_stringtoptr.
#ifndef BRIX_BINDING_QOR_PTR_H
#define BRIX_BINDING_QOR_PTR_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

enum { QOR_PTR_TEXT_SIZE = 30 };  // buffer of a handle text (at most 16 characters)

// A fresh handle text for ptr (caller frees with free()): ptr's value,
// given a new one if ptr is not registered yet; "0,0,0,0," for null.
char *qor_ptr_ptrtostring(void *ptr);
// The registered pointer named by a handle text; null for 0, for a value
// not registered and for a text that is no handle.
void *qor_ptr_stringtoptr(const char *text);
// Removes ptr from the table (nothing when it is not there).
void qor_ptr_forget(void *ptr);
// Removes one registered pointer, the oldest, and returns it; null when
// the table is empty.
void *qor_ptr_take(void);

// The text form alone.  qor_ptr_encode: fresh text of value (caller frees),
// null when memory is short.  qor_ptr_decode: 1 and *value when text holds
// four decimal numbers each followed, sooner or later, by ",", else 0.
char *qor_ptr_encode(uint32_t value);
int qor_ptr_decode(const char *text, uint32_t *value);

#ifdef __cplusplus
}
#endif

#endif
