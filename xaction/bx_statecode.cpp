// bx_statecode: driver's-licence state codes per clearing protocol.
//
// bx_add (api) asks here for the code under which the session's clearing
// protocol sends the state of a cheque writer's driver's licence.  SCAN
// and the demonstration protocols use one numbering, TeleCheck another;
// card protocols send no state at all.
//
// Failure policy: no code (unknown state, protocol without state codes,
// missing session or text) is a null result; nothing is logged.
#include "xaction/bx_statecode.h"

#include "session/bx_session.h"
#include "support/qor_util.h"
#include "validate/bx_val.h"

extern "C" {

// The order is fixed: the first matching row wins.  Quebec and Yukon have
// two abbreviations each; TeleCheck shares 76 between Guam, New Zealand
// and Australia.
const state_entry_struct table[] = {
    {"AL", "01", "25", "Alabama"},
    {"AK", "02", "55", "Alaska"},
    {"AZ", "03", "20", "Arizona"},
    {"AR", "04", "27", "Arkansas"},
    {"CA", "05", "23", "California"},
    {"CO", "06", "26", "Colorado"},
    {"CT", "07", "28", "Connecticut"},
    {"DC", "51", "93", "District of Columbia"},
    {"DE", "08", "33", "Delaware"},
    {"FL", "09", "35", "Florida"},
    {"GA", "10", "42", "Georgia"},
    {"HI", "11", "44", "Hawaii"},
    {"ID", "12", "43", "Idaho"},
    {"IL", "13", "45", "Illinois"},
    {"IN", "14", "46", "Indiana"},
    {"IA", "15", "49", "Iowa"},
    {"KS", "16", "57", "Kansas"},
    {"KY", "17", "59", "Kentucky"},
    {"LA", "18", "52", "Louisiana"},
    {"ME", "19", "56", "Maine"},
    {"MD", "20", "79", "Maryland"},
    {"MA", "21", "87", "Massachusetts"},
    {"MI", "22", "40", "Michigan"},
    {"MN", "23", "64", "Minnesota"},
    {"MS", "24", "77", "Mississippi"},
    {"MO", "25", "66", "Missouri"},
    {"MT", "26", "68", "Montana"},
    {"NE", "27", "63", "Nebraska"},
    {"NV", "28", "38", "Nevada"},
    {"NH", "29", "47", "New Hampshire"},
    {"NJ", "30", "53", "New Jersey"},
    {"NM", "31", "39", "New Mexico"},
    {"NY", "32", "69", "New York"},
    {"NC", "33", "75", "North Carolina"},
    {"ND", "34", "36", "North Dakota"},
    {"OH", "35", "60", "Ohio"},
    {"OK", "36", "65", "Oklahoma"},
    {"OR", "37", "67", "Oregon"},
    {"PA", "38", "78", "Pennsylvania"},
    {"RI", "39", "74", "Rhode Island"},
    {"SC", "40", "72", "South Carolina"},
    {"SD", "41", "73", "South Dakota"},
    {"TN", "42", "86", "Tennessee"},
    {"TX", "43", "89", "Texas"},
    {"UT", "44", "88", "Utah"},
    {"VT", "45", "83", "Vermont"},
    {"VA", "46", "82", "Virginia"},
    {"WA", "47", "92", "Washington"},
    {"WV", "48", "98", "West Virginia"},
    {"WI", "49", "94", "Wisconsin"},
    {"WY", "50", "99", "Wyoming"},
    {"AS", "54", nullptr, "American Samoa"},
    {"CZ", nullptr, nullptr, "Panama Canal Zone"},
    {"GU", nullptr, "76", "Guam"},
    {"MY", "53", "97", "US Military ID"},
    {"PR", "52", "70", "Puerto Rico"},
    {"VI", "55", "16", "US Virgin Islands"},
    {"RA", "77", nullptr, "US Resident Alien"},
    {"AB", "56", "21", "Alberta"},
    {"BC", "57", "54", "British Columbia"},
    {"MB", "58", "61", "Manitoba"},
    {"NB", "59", "95", "New Brunswick"},
    {"NF", "60", "31", "Newfoundland"},
    {"NT", "66", "37", "Northwest Territories"},
    {"NS", "61", "41", "Nova Scotia"},
    {"ON", "62", "51", "Ontario"},
    {"PE", "63", "81", "Prince Edward Island"},
    {"PQ", "64", "71", "Quebec"},
    {"QC", "64", "71", "Quebec"},
    {"SK", "65", "58", "Saskatchewan"},
    {"YT", "67", "91", "Yukon"},
    {"YK", "67", "91", "Yukon"},
    {"NZ", nullptr, "76", "New Zealand"},
    {"AU", nullptr, "76", "Australia"},
    {nullptr, nullptr, nullptr, nullptr},
};

}  // extern "C"

namespace {

// The column of the table that each clearing protocol reads.
struct ProtocolColumn {
    int protocol;
    const char *state_entry_struct::*column;
};
constexpr ProtocolColumn kColumns[] = {
    {BX_PROTO_SCAN, &state_entry_struct::scancode},
    {BX_PROTO_TELECHECK, &state_entry_struct::telecheckcode},
    {BX_PROTO_DEMO, &state_entry_struct::scancode},
};

const state_entry_struct *find_state(const char *str) {
    for (const state_entry_struct *row = table; row->abbrev; row++)
        if (qor_util_strcasecmp(row->abbrev, str) == 0) return row;
    return nullptr;
}

}  // namespace

extern "C" const char *bx_statecode(struct _bx_session *vsess, const char *str) {
    if (!vsess || !str) return nullptr;
    const state_entry_struct *row = find_state(str);
    if (!row) return nullptr;
    for (const auto &c : kColumns)
        if (c.protocol == vsess->protocol) return row->*c.column;
    return nullptr;
}
