// Record life, the kind initialisers and the folding of a processor
// result into a record.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "xaction/bx_xaction.h"
#include "xaction/bx_xaction_ach.h"
#include "xaction/bx_xaction_check.h"
#include "xaction/bx_xaction_retail.h"

namespace {

using Record = std::unique_ptr<_bx_xaction, void (*)(bx_xaction)>;

Record zeroed() { return Record(bx_xaction_create(), bx_xaction_destroy); }

bool all_zero(const void *p, size_t n) {
    const unsigned char *b = static_cast<const unsigned char *>(p);
    for (size_t i = 0; i < n; i++)
        if (b[i]) return false;
    return true;
}

TEST(XactionLife, CreateIsZeroFilled) {
    Record r = zeroed();
    ASSERT_NE(r.get(), nullptr);
    EXPECT_TRUE(all_zero(r.get(), sizeof *r));
    bx_xaction_destroy(nullptr);
}

TEST(XactionLife, KindInitialisers) {
    const struct {
        const char *name;
        int (*init)(bx_xaction);
        int (*destroy)(bx_xaction);
        int dbtype, pflag, ptype, type, code, format;
        bool clears_retail;  // else clears data.check
    } kinds[] = {
        {"retail", bx_xaction_retail_init, bx_xaction_retail_destroy, 1, 42, 1, 0, 4, 6, true},
        {"check", bx_xaction_check_init, bx_xaction_check_destroy, 2, 1, 1, 0, 4, 98, false},
        {"ach", bx_xaction_ach_init, bx_xaction_ach_destroy, 3, 1, 1, 0, 3, 95, false},
    };
    for (const auto &k : kinds) {
        Record r = zeroed();
        memset(r.get(), 0x5a, sizeof *r);
        EXPECT_EQ(k.init(r.get()), 1) << k.name;
        EXPECT_EQ(r->dbtype, k.dbtype) << k.name;
        EXPECT_EQ(r->subtype.pflag, k.pflag) << k.name;
        EXPECT_EQ(r->subtype.ptype, k.ptype) << k.name;
        EXPECT_EQ(r->subtype.type, k.type) << k.name;
        EXPECT_EQ(r->subtype.code, k.code) << k.name;
        EXPECT_EQ(r->subtype.format, k.format) << k.name;
        EXPECT_EQ(r->subtype.oldformat, 0x5a5a5a5a) << k.name;  // never set here
        const void *cleared = k.clears_retail ? static_cast<const void *>(&r->data.retail)
                                              : static_cast<const void *>(&r->data.check);
        size_t size = k.clears_retail ? sizeof r->data.retail : sizeof r->data.check;
        EXPECT_TRUE(all_zero(cleared, size)) << k.name;
        // Nothing else is touched.
        const void *kept = k.clears_retail ? static_cast<const void *>(&r->data.check)
                                           : static_cast<const void *>(&r->data.retail);
        EXPECT_EQ(*static_cast<const unsigned char *>(kept), 0x5a) << k.name;
        EXPECT_EQ(r->amount, 0x5a5a5a5a) << k.name;
        EXPECT_EQ(k.destroy(r.get()), 1) << k.name;
        EXPECT_EQ(k.init(nullptr), 0) << k.name;
    }
}

// A result with every field the record takes filled in.
std::unique_ptr<_bx_result> full_result() {
    auto r = std::make_unique<_bx_result>();
    qor_field_set(r->authcode, "AUTH0001");
    qor_field_set(r->valcode, "V123");
    qor_field_set(r->retref, "RR0000000042");
    qor_field_set(r->datestamp, "990327120000");
    r->pem = 'P';
    qor_field_set(r->cookie1, "c1");
    qor_field_set(r->cookie2, "c2");
    qor_field_set(r->cookie3, "c3");
    qor_field_set(r->text, "APPROVED");
    r->acode = 1;
    r->cvv2.code = 'M';
    r->data.retail.avs_code = 'Y';
    r->data.retail.authchar = 'A';
    r->data.retail.authsrcchar = '5';
    qor_field_set(r->data.retail.authnetid, "02");
    qor_field_set(r->data.retail.cardtype, "VI");
    qor_field_set(r->data.retail.transid, "123456789012345");
    r->data.retail.marketid = 'H';
    return r;
}

// A card record that already went through a processor once.
Record processed() {
    Record x = zeroed();
    bx_xaction_retail_init(x.get());
    qor_field_set(x->authcode, "MERCH1");
    qor_field_set(x->valcode, "oldv");
    qor_field_set(x->retref, "oldref");
    qor_field_set(x->datestamp, "oldstamp");
    qor_field_set(x->data.retail.trans_id, "oldtrans");
    qor_field_set(x->data.retail.authnetid, "ZZ");
    qor_field_set(x->data.retail.cardtype, "MC");
    qor_field_set(x->cookie1, "k1");
    x->data.retail.authchar = 'x';
    x->data.retail.authsrcchar = 'y';
    x->data.retail.avs_code = 'N';
    x->cvv2.code = 'N';
    x->msi = 'm';
    x->pem = 'q';
    x->hasresult = 1;
    qor_field_set(x->result.text, "earlier");
    return x;
}

TEST(ResultFolding, CopiesTheResult) {
    Record x = processed();
    auto r = full_result();
    copy_result_data(x.get(), r.get());
    EXPECT_EQ(x->hasresult, 1);
    EXPECT_EQ(memcmp(&x->result, r.get(), sizeof *r), 0);
    EXPECT_STREQ(x->data.retail.trans_id, "123456789012345");
    EXPECT_EQ(x->data.retail.authchar, 'A');
    EXPECT_EQ(x->data.retail.authsrcchar, '5');
    EXPECT_STREQ(x->data.retail.authnetid, "02");
    EXPECT_STREQ(x->data.retail.cardtype, "VI");
    EXPECT_STREQ(x->authcode, "AUTH0001");
    EXPECT_STREQ(x->valcode, "V123");
    EXPECT_STREQ(x->retref, "RR0000000042");
    EXPECT_STREQ(x->datestamp, "990327120000");
    EXPECT_STREQ(x->cookie1, "c1");
    EXPECT_STREQ(x->cookie2, "c2");
    EXPECT_STREQ(x->cookie3, "c3");
    EXPECT_EQ(x->data.retail.avs_code, 'Y');
    EXPECT_EQ(x->cvv2.code, 'M');
    EXPECT_EQ(x->msi, 'H');
    EXPECT_EQ(x->pem, 'q');  // the PEM indicator stays with the result
}

TEST(ResultFolding, EmptyAuthCodeKeepsTheMerchantsCode) {
    Record x = processed();
    auto r = full_result();
    r->authcode[0] = '\0';
    copy_result_data(x.get(), r.get());
    EXPECT_STREQ(x->authcode, "MERCH1");
    EXPECT_STREQ(x->valcode, "V123");
}

TEST(ResultFolding, WithoutResultEmptiesProcessorFields) {
    Record x = processed();
    copy_result_data(x.get(), nullptr);
    EXPECT_STREQ(x->data.retail.trans_id, "");
    EXPECT_EQ(x->data.retail.authchar, 0);
    EXPECT_EQ(x->data.retail.authsrcchar, 0);
    EXPECT_STREQ(x->data.retail.authnetid, "");
    EXPECT_STREQ(x->data.retail.cardtype, "");
    EXPECT_STREQ(x->authcode, "");
    EXPECT_STREQ(x->valcode, "");
    EXPECT_STREQ(x->retref, "");
    EXPECT_STREQ(x->datestamp, "");
    EXPECT_EQ(x->msi, 0);
    // Left as they were.
    EXPECT_EQ(x->hasresult, 1);
    EXPECT_STREQ(x->result.text, "earlier");
    EXPECT_STREQ(x->cookie1, "k1");
    EXPECT_EQ(x->data.retail.avs_code, 'N');
    EXPECT_EQ(x->cvv2.code, 'N');
    EXPECT_EQ(x->pem, 'q');
    copy_result_data(nullptr, nullptr);
}

TEST(ResultFolding, UnterminatedResultFieldsStayInTheirWidth) {
    Record x = zeroed();
    auto r = std::make_unique<_bx_result>();
    memset(r.get(), 'W', sizeof *r);
    copy_result_data(x.get(), r.get());
    EXPECT_EQ(std::string(x->authcode), std::string(8, 'W'));
    EXPECT_EQ(std::string(x->valcode), std::string(4, 'W'));
    EXPECT_EQ(std::string(x->retref), std::string(12, 'W'));
    EXPECT_EQ(std::string(x->datestamp), std::string(12, 'W'));
    EXPECT_EQ(std::string(x->cookie3), std::string(100, 'W'));
    EXPECT_EQ(std::string(x->data.retail.trans_id), std::string(15, 'W'));
    EXPECT_EQ(std::string(x->data.retail.authnetid), "WW");
    EXPECT_EQ(std::string(x->data.retail.cardtype), "WW");
}

TEST(ResultFolding, AuthToTicketAndReadyToDone) {
    const struct {
        const char *name;
        int code;
        bool with_result;
        int (*fold)(bx_xaction, bx_result);
        int ret;
        int ptype, type, code_after;
    } cases[] = {
        {"auth2ticket code 4", 4, true, bx_xaction_retail_auth2ticket, 1, 3, 2, 3},
        {"auth2ticket code 6", 6, true, bx_xaction_retail_auth2ticket, 0, 1, 0, 6},
        {"auth2ticket code 3", 3, true, bx_xaction_retail_auth2ticket, 0, 1, 0, 3},
        {"auth2ticket no result", 4, false, bx_xaction_retail_auth2ticket, 1, 3, 2, 3},
        {"ready2done", 3, true, bx_xaction_retail_ready2done, 1, 1, 0, 3},
        {"ready2done no result", 3, false, bx_xaction_retail_ready2done, 1, 1, 0, 3},
    };
    for (const auto &c : cases) {
        Record x = processed();
        x->subtype.code = c.code;
        auto r = full_result();
        EXPECT_EQ(c.fold(x.get(), c.with_result ? r.get() : nullptr), c.ret) << c.name;
        EXPECT_EQ(x->subtype.ptype, c.ptype) << c.name;
        EXPECT_EQ(x->subtype.type, c.type) << c.name;
        EXPECT_EQ(x->subtype.code, c.code_after) << c.name;
        EXPECT_EQ(x->subtype.pflag, 42) << c.name;
        if (c.with_result) {
            EXPECT_STREQ(x->result.text, "APPROVED") << c.name;  // copied whatever the code
            EXPECT_STREQ(x->authcode, "AUTH0001") << c.name;
        } else if (c.fold == bx_xaction_retail_auth2ticket) {
            EXPECT_STREQ(x->authcode, "") << c.name;  // folded in as "no result"
        } else {
            EXPECT_STREQ(x->authcode, "MERCH1") << c.name;  // nothing folded in
            EXPECT_STREQ(x->result.text, "earlier") << c.name;
        }
    }
    EXPECT_EQ(bx_xaction_retail_auth2ticket(nullptr, nullptr), 0);
}

}  // namespace
