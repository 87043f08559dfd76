// The driver's-licence state table and its per-protocol codes.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <memory>
#include <set>
#include <string>

#include "session/bx_session.h"
#include "xaction/bx_statecode.h"

namespace {

std::string text(const char *p) { return p ? p : "(none)"; }

TEST(StateCode, TableHas74RowsInOrder) {
    int rows = 0;
    while (table[rows].abbrev) rows++;
    EXPECT_EQ(rows, 74);
    const state_entry_struct &end = table[74];
    EXPECT_EQ(end.scancode, nullptr);
    EXPECT_EQ(end.telecheckcode, nullptr);
    EXPECT_EQ(end.name, nullptr);

    const struct {
        int row;
        const char *abbrev, *scan, *telecheck, *name;
    } rowsWanted[] = {
        {0, "AL", "01", "25", "Alabama"},
        {1, "AK", "02", "55", "Alaska"},
        {7, "DC", "51", "93", "District of Columbia"},
        {8, "DE", "08", "33", "Delaware"},
        {50, "WY", "50", "99", "Wyoming"},
        {51, "AS", "54", nullptr, "American Samoa"},
        {52, "CZ", nullptr, nullptr, "Panama Canal Zone"},
        {53, "GU", nullptr, "76", "Guam"},
        {57, "RA", "77", nullptr, "US Resident Alien"},
        {67, "PQ", "64", "71", "Quebec"},
        {68, "QC", "64", "71", "Quebec"},
        {70, "YT", "67", "91", "Yukon"},
        {71, "YK", "67", "91", "Yukon"},
        {72, "NZ", nullptr, "76", "New Zealand"},
        {73, "AU", nullptr, "76", "Australia"},
    };
    for (const auto &w : rowsWanted) {
        const state_entry_struct &r = table[w.row];
        EXPECT_EQ(text(r.abbrev), text(w.abbrev)) << "row " << w.row;
        EXPECT_EQ(text(r.scancode), text(w.scan)) << "row " << w.row;
        EXPECT_EQ(text(r.telecheckcode), text(w.telecheck)) << "row " << w.row;
        EXPECT_EQ(text(r.name), text(w.name)) << "row " << w.row;
    }
}

TEST(StateCode, AbbreviationsAreUniqueAndCodesAreTwoDigits) {
    std::set<std::string> seen;
    for (const state_entry_struct *r = table; r->abbrev; r++) {
        EXPECT_TRUE(seen.insert(r->abbrev).second) << r->abbrev;
        for (const char *code : {r->scancode, r->telecheckcode})
            if (code) {
                EXPECT_TRUE(strlen(code) == 2 && isdigit(code[0]) && isdigit(code[1])) << r->abbrev;
            }
    }
}

TEST(StateCode, CodeByProtocol) {
    enum { SCAN = 3, TELECHECK = 4, DEMO = 5 };
    const struct {
        int protocol;
        const char *state;
        const char *code;
    } cases[] = {
        {TELECHECK, "qc", "71"},
        {TELECHECK, "ny", "69"},
        {TELECHECK, "NY", "69"},
        {TELECHECK, "Ny", "69"},
        {SCAN, "ny", "32"},
        {DEMO, "ny", "32"},
        {SCAN, "CZ", nullptr},      // the row has no SCAN code
        {TELECHECK, "CZ", nullptr},
        {TELECHECK, "AS", nullptr},
        {SCAN, "AS", "54"},
        {TELECHECK, "gu", "76"},
        {TELECHECK, "AU", "76"},
        {SCAN, "YK", "67"},
        {SCAN, "ZZ", nullptr},      // no such state
        {SCAN, "New York", nullptr},  // names are never matched
        {SCAN, "N", nullptr},
        {SCAN, "NYC", nullptr},
        {SCAN, "", nullptr},
        {SCAN, "RA", "77"},
        // Card protocols and a session without a protocol have no codes.
        {0, "NY", nullptr},
        {1, "NY", nullptr},
        {6, "NY", nullptr},
        {7, "NY", nullptr},
        {12, "NY", nullptr},
        {18, "NY", nullptr},
    };
    auto session = std::make_unique<_bx_session>();
    for (const auto &c : cases) {
        session->protocol = c.protocol;
        EXPECT_EQ(text(bx_statecode(session.get(), c.state)), text(c.code))
            << c.state << " under protocol " << c.protocol;
    }
    session->protocol = SCAN;
    EXPECT_EQ(bx_statecode(session.get(), nullptr), nullptr);
    EXPECT_EQ(bx_statecode(nullptr, "NY"), nullptr);
}

}  // namespace
