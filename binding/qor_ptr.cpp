// qor_ptr: handle texts and the table of handle values.  See the header.
#include "binding/qor_ptr.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

namespace {

// Handle value -> registered pointer.  Ordered, so the oldest value that is
// still registered comes first (until the counter wraps).
std::map<uint32_t, void *> &table() {
    static std::map<uint32_t, void *> t;
    return t;
}

uint32_t g_next = 1;  // the next value to hand out

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// The value of ptr, 0 when it is not registered.
uint32_t value_of(void *ptr) {
    for (const auto &[value, p] : table())
        if (p == ptr) return value;
    return 0;
}

// Registers ptr under the next free value; 0 when memory is short.
uint32_t add(void *ptr) {
    auto &t = table();
    // Skip 0 and, once the counter has wrapped, values still in use.
    while (g_next == 0 || t.count(g_next)) g_next++;
    uint32_t value = g_next++;
    t.emplace(value, ptr);
    return value;
}

}  // namespace

extern "C" {

char *qor_ptr_encode(uint32_t value) {
    char *text = static_cast<char *>(calloc(QOR_PTR_TEXT_SIZE, 1));
    if (!text) return nullptr;
    size_t used = 0;
    for (int i = 0; i < 4; i++)
        used += snprintf(text + used, QOR_PTR_TEXT_SIZE - used, "%u,",
                         static_cast<unsigned>((value >> (8 * i)) & 0xFF));
    return text;
}

int qor_ptr_decode(const char *text, uint32_t *value) {
    if (!text) return 0;
    const char *p = text;
    uint32_t v = 0;
    for (int i = 0; i < 4; i++) {
        while (is_blank(*p)) p++;
        if (!is_digit(*p)) return 0;
        // Only the low 8 bits count, however long the number: 256 is 0.
        uint32_t byte = 0;
        for (; is_digit(*p); p++) byte = (byte * 10 + static_cast<uint32_t>(*p - '0')) & 0xFF;
        const char *comma = strchr(p, ',');
        if (!comma) return 0;
        v |= byte << (8 * i);
        p = comma + 1;
    }
    if (value) *value = v;
    return 1;
}

char *qor_ptr_ptrtostring(void *ptr) {
    try {
        uint32_t value = ptr ? value_of(ptr) : 0;
        bool added = ptr && !value;
        if (added) value = add(ptr);
        char *text = qor_ptr_encode(value);
        // A pointer the caller cannot name is not left behind in the table.
        if (!text && added) table().erase(value);
        return text;
    } catch (...) {
        return nullptr;
    }
}

void *qor_ptr_stringtoptr(const char *text) {
    uint32_t value = 0;
    if (!qor_ptr_decode(text, &value) || value == 0) return nullptr;
    auto &t = table();
    auto it = t.find(value);
    return it == t.end() ? nullptr : it->second;
}

void qor_ptr_forget(void *ptr) {
    if (!ptr) return;
    if (uint32_t value = value_of(ptr)) table().erase(value);
}

void *qor_ptr_take(void) {
    auto &t = table();
    if (t.empty()) return nullptr;
    auto it = t.begin();
    void *ptr = it->second;
    t.erase(it);
    return ptr;
}

}  // extern "C"
