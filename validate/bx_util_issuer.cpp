// bx_util_issuer: card issuer (brand) and card category by card number.
//
// Called by the card protocols' validators (bx_util_issuer); the category
// classifier is exported for callers outside the library and used by no
// operation here; the session reads the short-name table for IssuerMagic.  Both classifications take the card's
// leading digits, at most 16, and try POSIX extended patterns on them in
// table order.
//
// Failure policy: a pattern that does not compile makes the call answer
// -1.  Patterns are compiled on first use and kept for the life of the
// process; they are constant, so the answers are those a fresh
// compilation on every call would give.
#include "validate/bx_util_issuer.h"

#include <regex.h>

#include <array>
#include <cstddef>
#include <iterator>

extern "C" {

const char *const bx_ctype_name[BX_NUM_ISSUERS] = {
    "bad",      "VISA",    "Master Card", "American Express", "Diners Club",
    "Discover", "enRoute", "JCB",         "Carte Blanche",    "unknown"};

const char *const bx_ctype_shortname[BX_NUM_ISSUERS] = {
    "BAD", "VISA", "MC", "AMEX", "DC", "DISCOVER", "ENROUTE", "JCB", "CB", "UNKNOWN"};

// Entry 0 matches only a non-digit, so it never matches a digit string;
// entry 9 matches any non-empty one, so the search always ends there.
const char *const bx_ctype_rx[BX_NUM_ISSUERS] = {
    "[^0-9]",
    "^4(.{12}|.{15})$",
    "^5[1-5].{14}$",
    "^3[47].{13}$",
    "^(30[0-5]|36.|38[0-8]).{11}$",
    "^6011.{12}$",
    "^(2014|2149).{11}$",
    "^(3083|309.|3[12]..|33[012].|3528|35[3-8].).{12}$",
    "^(39[34]|389).{11}$",
    ".",
};

const char *const bx_ctype_catname[BX_NUM_CATEGORIES] = {"normal", "purchase", "business",
                                                        "corporate"};

}  // extern "C"

namespace {

// Two purchase-card patterns, then the business-card pattern.
const char *const kCategoryRx[] = {
    "^4(0550[1-4]|0555[0-4]|15928|2460[4-5]|27533|288..|43085|48[4-6]..|71[5-6]..)(.{7}|.{10})$",
    "^5(405|5[5-6].).{12}$",
    "^5(4720[6-9]|472[1-9].|47[3-9]..|4800.|4801[0-8]|52[5-9]..|53[0-5]..|58...).{10}$",
};
constexpr size_t kPurchaseRx = 2;  // the first two of kCategoryRx

// A table of patterns compiled together: all of them, or none.  A table
// that could not be compiled (no memory, say) is tried again on the next
// use, so a passing shortage does not stick.
template <size_t N>
class PatternSet {
public:
    constexpr explicit PatternSet(const char *const (&rx)[N]) : rx_(rx) {}
    ~PatternSet() {
        if (ok_)
            for (regex_t &r : compiled_) regfree(&r);
    }
    PatternSet(const PatternSet &) = delete;
    PatternSet &operator=(const PatternSet &) = delete;

    // Compiles the table unless that is done; false when it cannot be.
    bool ready() {
        if (ok_) return true;
        for (size_t i = 0; i < N; i++) {
            if (regcomp(&compiled_[i], rx_[i], REG_EXTENDED | REG_NOSUB) != 0) {
                while (i-- > 0) regfree(&compiled_[i]);
                return false;
            }
        }
        ok_ = true;
        return true;
    }
    bool matches(size_t i, const char *text) const {
        return regexec(&compiled_[i], text, 0, nullptr, 0) == 0;
    }

private:
    const char *const (&rx_)[N];
    std::array<regex_t, N> compiled_{};
    bool ok_ = false;
};

PatternSet<BX_NUM_ISSUERS> issuer_patterns(bx_ctype_rx);
PatternSet<std::size(kCategoryRx)> category_patterns(kCategoryRx);

// The card number's digits: at most 16, taken up to the end of the text or
// the first field separator of track data ('=' in track 2, '^' in track
// 1).  Sentinels, blanks and dashes are skipped.
struct CardDigits {
    static constexpr size_t kMax = 16;
    char text[kMax + 1] = {};
    size_t count = 0;

    explicit CardDigits(const char *cardnum) {
        for (const char *p = cardnum ? cardnum : ""; *p && count < kMax; p++) {
            if (*p >= '0' && *p <= '9')
                text[count++] = *p;
            else if (*p == '=' || *p == '^')
                break;
        }
    }
};

}  // namespace

extern "C" {

int bx_util_issuer(const char *cardnum) {
    CardDigits digits(cardnum);
    if (digits.count == 0) return BX_ISSUER_BAD;
    if (!issuer_patterns.ready()) return -1;
    for (int i = 0; i < BX_NUM_ISSUERS; i++)
        if (issuer_patterns.matches(i, digits.text)) return i;
    return BX_ISSUER_UNKNOWN;  // not reached: the last pattern matches any digit
}

int bx_util_issuercategory(const char *cardnum) {
    CardDigits digits(cardnum);
    if (digits.count == 0) return BX_CATEGORY_NORMAL;
    if (!category_patterns.ready()) return -1;
    for (size_t i = 0; i < kPurchaseRx; i++)
        if (category_patterns.matches(i, digits.text)) return BX_CATEGORY_PURCHASE;
    if (category_patterns.matches(kPurchaseRx, digits.text)) return BX_CATEGORY_BUSINESS;
    return BX_CATEGORY_NORMAL;
}

}  // extern "C"
