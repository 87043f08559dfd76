// bx_report: reading and writing the daemon's status reports.  See the
// header for the file names and the report line.
//
// No lock is taken: a writer builds the new report in a temporary file that
// carries its process id and renames it over the report, so two writers
// never share a temporary file and a reader never sees a partial line.
//
// Failure policy: return codes only.  A data directory path so long that a
// report file name would not fit a path buffer (4096 bytes) is refused
// with 128 and logged, as a configuration fault rather than a missing
// report.  A temporary file left by a failed write is removed.
#include "session/bx_report.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>

#include "queue/qor_fdlib.h"
#include "session/bx_debug_error.h"
#include "support/qor_log.h"
#include "support/qor_util.h"

extern "C" {
const char *const bx_repname[3] = {"debug", "dstat", "ustat"};
}

namespace {

constexpr size_t kPathSize = 4096;  // path buffer, terminator included

bool valid_type(int type) { return type == BX_REP_SERVER || type == BX_REP_UPLOAD; }

// The data directory path; the field is read only up to its own end.
std::string_view qdir_of(bx_session s) { return {s->qdir, strnlen(s->qdir, sizeof s->qdir)}; }

// "<qdir>.<suffix>" into path; false (logged) when it would not fit.
bool file_name(bx_session s, std::string_view suffix, std::string &path) {
    std::string_view qdir = qdir_of(s);
    if (qdir.size() + 1 + suffix.size() + 1 > kPathSize) {
        qor_logf(QOR_LOG_NONFATAL, "Data path too long for report file names (%zu characters)",
                 qdir.size());
        return false;
    }
    path.assign(qdir);
    path += '.';
    path += suffix;
    return true;
}

}  // namespace

extern "C" {

int bx_getreport(bx_session session, int type) {
    if (!session) return BX_UNINIT;
    session->apitext[0] = '\0';
    if (!valid_type(type)) return BX_SYNTAX;
    try {
        std::string path;
        if (!file_name(session, bx_repname[type], path)) return BX_FAILED;
        FILE *in = fopen(path.c_str(), "re");
        if (!in) return BX_FAILED;
        bool read = fgets(session->apitext, sizeof session->apitext, in) != nullptr;
        if (!read) session->apitext[0] = '\0';
        if (fclose(in) != 0 || !read) return BX_FAILED;
        return BX_OK;
    } catch (...) {
        session->apitext[0] = '\0';
        return BX_FAILED;
    }
}

int bx_setreport(bx_session session, int type, const char *task, const char *current) {
    if (!session) return BX_UNINIT;
    if (!valid_type(type)) return BX_SYNTAX;
    if (!task) task = "";
    if (!current) current = "none";
    try {
        std::string report, tmp;
        if (!file_name(session, bx_repname[type], report) ||
            !file_name(session, std::to_string(getpid()), tmp))
            return BX_FAILED;
        time_t now = time(nullptr);
        std::string line = std::string("task {") + task + "} current {" + current + "} time {" +
                           qor_util_ctimestr(&now) + "}\n";
        // The line reaches the disk before the rename publishes it, so a
        // crash never leaves an empty report in place of the old one.
        switch (qor_fdlib_replace_file(report.c_str(), tmp.c_str(), line.data(), line.size(), 0600)) {
        case 0: return BX_OK;
        case -2: return bx_debug_error();
        default: return BX_FAILED;
        }
    } catch (...) {
        return BX_FAILED;
    }
}

}  // extern "C"
