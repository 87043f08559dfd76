// bx_xaction_check: the cheque kind of transaction record.
//
// bx_new (api) initialises cheque records here; bx_add (api) sets the
// driver's-licence number and the (already translated) state code, which
// cheque protocols use to identify the writer.
//
// Failure policy: setters return 1 or 0 and never log; a null record or
// text, or no memory for a working copy, gives 0 with the record as it was.
#include "xaction/bx_xaction_check.h"

#include <cstring>

#include "support/qor_util.h"
#include "xaction/bx_packdigits.h"

namespace {

constexpr size_t kLicenseScan = 24;  // characters of a licence text looked at
constexpr size_t kStateScan = 2;     // characters of a state code looked at

// A licence number keeps letters, digits and '*' (C locale).
void pack_license(char *text) {
    char *out = text;
    for (const char *in = text; *in; in++) {
        unsigned char c = static_cast<unsigned char>(*in);
        if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '*')
            *out++ = *in;
    }
    *out = '\0';
}

}  // namespace

extern "C" {

int bx_xaction_check_init(bx_xaction xaction) {
    if (!xaction) return 0;
    brix::xaction_set_kind(xaction, BX_DBTYPE_CHECK, 1, BX_CODE_AUTH, BX_FORMAT_CHECK);
    memset(&xaction->data.check, 0, sizeof xaction->data.check);
    return 1;
}

int bx_xaction_check_destroy(bx_xaction) { return 1; }

int bx_xaction_check_setlicensenum(bx_xaction xaction, const char *licensenum) {
    if (!xaction || !licensenum) return 0;
    if (!brix::xaction_store_filtered(xaction->data.check.licensenum, licensenum, kLicenseScan,
                                      pack_license))
        return 0;
    xaction->data.check.dvsflag = 1;
    return 1;
}

int bx_xaction_check_setlicensestate(bx_xaction xaction, const char *licensestate) {
    if (!xaction || !licensestate) return 0;
    if (!brix::xaction_store_filtered(xaction->data.check.licensestate, licensestate, kStateScan,
                                      bx_packalnums))
        return 0;
    xaction->data.check.dvsflag = 1;
    return 1;
}

}  // extern "C"
