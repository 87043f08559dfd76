// tool_common: what the demonstration daemon (brix-demod) and the operator's
// tool (brix) share: the invoice test, the stderr echo of the log, and the
// brace-word and JSON forms of an output line.
//
// Failure policy: nothing here fails towards its caller; a text that is not
// in brace-word form parses as one "text" field.
#ifndef BRIX_TOOLS_TOOL_COMMON_H
#define BRIX_TOOLS_TOOL_COMMON_H

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "support/qor_log.h"
#include "support/qor_util.h"
#include "xaction/bx_etc.h"

namespace brixtool {

// A key the queue store finds by itself (bx_queue_find_item normalises the
// text it is given): eight upper-case letters and digits, as bx_new stores
// every invoice.
inline bool is_invoice(std::string_view key) {
    if (key.size() != 8) return false;
    char normal[9];
    bx_invoice_key(std::string(key).c_str(), normal);
    return key == normal;
}

// Log sink of -v: every line goes to standard error, prefixed with the
// program's name, and on to the system log as the library would send it.
inline void echo_log(int priority, const char *line, void *rock) {
    fprintf(stderr, "%s: %s", static_cast<const char *>(rock), line);
    qor_log_syslog(priority, line, nullptr);
}

// An output line: named values in order.  A numeric value is written
// without quotes in JSON.
struct Field {
    std::string key;
    std::string value;
    bool numeric = false;
};
using Fields = std::vector<Field>;

// The library's answers are brace words, "key {value} key {value}".  A
// value ends at the first "}" that ends the text or is followed by a blank
// and the next "key {".  Text in any other form is one field "text".
inline Fields parse_braces(std::string_view text) {
    while (!text.empty() && (text.back() == ' ' || text.back() == '\n')) text.remove_suffix(1);
    auto word_end = [&](size_t at) {
        size_t e = at;
        while (e < text.size() && text[e] != ' ' && text[e] != '{' && text[e] != '}') e++;
        return e;
    };
    auto starts_group = [&](size_t at) {  // at: the blank after a "}"
        if (at >= text.size() || text[at] != ' ') return false;
        size_t e = word_end(at + 1);
        return e > at + 1 && text.compare(e, 2, " {") == 0;
    };
    Fields out;
    size_t at = 0;
    while (at < text.size()) {
        size_t key_end = word_end(at);
        if (key_end == at || text.compare(key_end, 2, " {") != 0) return {{"text", std::string(text)}};
        size_t value = key_end + 2, close = value;
        for (;; close++) {
            close = text.find('}', close);
            if (close == std::string_view::npos) return {{"text", std::string(text)}};
            if (close + 1 == text.size() || starts_group(close + 1)) break;
        }
        out.push_back({std::string(text.substr(at, key_end - at)),
                       std::string(text.substr(value, close - value))});
        at = close + 1 == text.size() ? close + 1 : close + 2;
    }
    return out;
}

// Length of the well-formed UTF-8 sequence at s[0], or 0.
inline size_t utf8_length(std::string_view s) {
    auto cont = [&](size_t i) { return i < s.size() && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80; };
    unsigned char c = static_cast<unsigned char>(s[0]);
    if (c < 0x80) return 1;
    size_t n = c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
    for (size_t i = 1; i < n; i++)
        if (!cont(i)) return 0;
    if (n < 3) return n;
    unsigned char c1 = static_cast<unsigned char>(s[1]);
    if ((c == 0xE0 && c1 < 0xA0) || (c == 0xED && c1 >= 0xA0) ||  // overlong, surrogate
        (c == 0xF0 && c1 < 0x90) || (c == 0xF4 && c1 >= 0x90))    // overlong, beyond U+10FFFF
        return 0;
    return n;
}

// A JSON string.  Well-formed UTF-8 passes as it is; any other byte is
// taken as the Latin-1 character of that value, so the output is always
// valid JSON and no byte is lost.
inline std::string json_string(std::string_view s) {
    std::string out = "\"";
    while (!s.empty()) {
        unsigned char c = static_cast<unsigned char>(s[0]);
        size_t n = utf8_length(s);
        char esc[8];
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (brix::is_control(c) || n == 0) {
            snprintf(esc, sizeof esc, "\\u%04x", c);
            out += esc;
        } else {
            out.append(s.substr(0, n));
            s.remove_prefix(n);
            continue;
        }
        s.remove_prefix(1);
    }
    return out + "\"";
}

// The line in brace words, or as one JSON object.
inline std::string render(const Fields &fields, bool json) {
    std::string out = json ? "{" : "";
    for (const Field &f : fields) {
        if (&f != &fields.front()) out += json ? "," : " ";
        if (json)
            out += json_string(f.key) + ":" + (f.numeric ? f.value : json_string(f.value));
        else
            out += f.key + " {" + f.value + "}";
    }
    return json ? out + "}" : out;
}

}  // namespace brixtool

#endif
