// bxphp_get_module: the one entry a loader looks up in the module file
// build/bxphp.so.  It lives apart from the handlers because another
// module file (the PHP 8 extension) carries the handlers too and exports
// a get_module of its own.
#include "binding/bxphp.h"

extern "C" __attribute__((visibility("default"))) php3_module_entry *get_module(void) {
    return &brix_module_entry;
}
