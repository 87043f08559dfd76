// php3_host: a small host of the module interface in php3_api.h.
//
// It runs one handler call at a time: builds the argument list from the
// caller's texts and integers, calls the handler and hands back what the
// handler left in its result (a text, an integer, nothing) or that it
// reported a wrong argument count.  Every value it makes lives in memory
// of its own and is released when the call returns.  The PHP 8 extension
// reaches it through binding/bx_script; the tests call it directly.
//
// Failure policy: call() never throws; when the argument list cannot be
// built for lack of memory the handler is not called and the outcome is
// Outcome::failed.
#ifndef BRIX_BINDING_PHP3_HOST_H
#define BRIX_BINDING_PHP3_HOST_H

#include <span>
#include <string>
#include <string_view>

#include "binding/php3_api.h"

namespace php3_host {

using Handler = void (*)(INTERNAL_FUNCTION_PARAMETERS);

// One argument as the caller passes it: an integer or a text.
struct Arg {
    bool is_long = false;
    long number = 0;
    std::string_view text;

    static Arg of(long n) { return {true, n, {}}; }
    static Arg of(std::string_view t) { return {false, 0, t}; }
};

enum class Outcome {
    text,         // the handler returned a text
    integer,      // the handler returned an integer
    none,         // the handler set no result
    wrong_count,  // the handler reported a wrong argument count
    failed        // the host could not make the call (memory)
};

struct Result {
    Outcome outcome = Outcome::none;
    long number = 0;          // the integer of Outcome::integer
    std::string text;         // the text of Outcome::text
};

Result call(Handler handler, std::span<const Arg> args) noexcept;

}  // namespace php3_host

#endif
