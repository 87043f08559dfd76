// Codes, names and texts: return codes, status names and bits, argument,
// report and command names, error codes, and the session's answer text.
#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>
#include <string>

#include "api/bx_api_errortext.h"
#include "session/bx_argconv.h"
#include "session/bx_debug_error.h"

TEST(Codes, ReturnCodeTexts) {
    struct Case {
        int code;
        const char *text;
    } cases[] = {
        {BX_OK, "OK"},
        {BX_NEGATIVE, "negative response"},
        {BX_ACTION, "action required"},
        {BX_AVSFAIL, "AVS failure"},
        {BX_NOTDONE, "not done"},
        {BX_INVALID, "invalid request"},
        {BX_COMM, "comm error"},
        {BX_SYNTAX, "syntax error"},
        {BX_DUPLICATE, "duplicate invoice"},
        {BX_BADINVOICE, "bad invoice"},
        {BX_DATA, "data problem"},
        {BX_OSBUG, "OS bug"},
        {BX_UNINIT, "uninitialized"},
        {6, "unknown"},
        {-8, "unknown"},
        {BX_FAILED, "unknown"},
        {BX_NOTVOIDABLE, "unknown"},
        {INT_MAX, "unknown"},
        {INT_MIN, "unknown"},
    };
    for (const auto &c : cases) EXPECT_STREQ(bx_ret2str(c.code), c.text) << c.code;
    EXPECT_EQ(BX_FAILED, 128);
    EXPECT_EQ(BX_UNINIT, -7);
}

TEST(Codes, StatusNameToValue) {
    struct Case {
        const char *name;
        int value;
    } cases[] = {
        {"none", 0},    {"None", 0},      {"new", 1},       {"auth", 2},     {"ready", 4},
        {"Ready", 4},   {"done", 8},      {"unauth", 16},   {"denied", 32},  {"review", 64},
        {"bad", 128},   {"BAD", 128},     {"all", 255},     {"ALL", 255},    {"unknown", 256},
        {"", 256},      {" new", 256},    {"news", 256},    {"bogus", 256},  {nullptr, 256},
    };
    for (const auto &c : cases)
        EXPECT_EQ(bx_str2stat(c.name), c.value) << (c.name ? c.name : "(null)");
    EXPECT_EQ(BX_STAT_ALL, BX_STAT_NEW | BX_STAT_AUTH | BX_STAT_READY | BX_STAT_DONE |
                               BX_STAT_UNAUTH | BX_STAT_DENIED | BX_STAT_REVIEW | BX_STAT_BAD);
}

TEST(Codes, StatusValueToName) {
    struct Case {
        int value;
        const char *name;
    } cases[] = {
        {0, "none"},        {1, "new"},      {2, "auth"},     {3, "auth"},      {4, "ready"},
        {7, "ready"},       {8, "done"},     {16, "unauth"},  {32, "denied"},   {64, "review"},
        {127, "review"},    {128, "bad"},    {129, "bad"},    {255, "bad"},     {256, "bad"},
        {INT_MAX, "bad"},   {-1, "unknown"}, {INT_MIN, "unknown"},
    };
    for (const auto &c : cases) EXPECT_STREQ(bx_stat2str(c.value), c.name) << c.value;
    // Every queue name survives the round trip.
    for (int i = 1; i <= 8; i++) EXPECT_STREQ(bx_stat2str(bx_str2stat(stati[i])), stati[i]);
}

TEST(Codes, ArgumentNames) {
    const char *names[] = {
        "end",         "amount",      "cardnum",       "expdate",      "address",
        "zipcode",     "comment",     "type",          "status",       "troutnum",
        "bankaccnum",  "checknum",    "licensenum",    "licensestate", "accountname",
        "accounttype", "product",     "acode",         "tax",          "track1",
        "track2",      "entrysource", "purchaseorder", "shipzipcode",  "encryption",
        "setmerchant", "setcardholder", "cvv2",
    };
    for (int i = 0; i < 28; i++) EXPECT_EQ(bx_str2arg(names[i]), i) << names[i];
    struct Case {
        const char *name;
        int code;
    } cases[] = {
        {"CardNum", BX_ARG_CARDNUM}, {"CVV2", BX_ARG_CVV2},  {"AMOUNT", BX_ARG_AMOUNT},
        {"END", BX_ARG_END},         {"card", 28},           {"", 28},
        {"cvv", 28},                 {nullptr, BX_ARG_UNKNOWN},
    };
    for (const auto &c : cases)
        EXPECT_EQ(bx_str2arg(c.name), c.code) << (c.name ? c.name : "(null)");
}

TEST(Codes, ReportTypes) {
    struct Case {
        const char *name;
        int code;
    } cases[] = {
        {"server", BX_REP_SERVER}, {"Server", 1}, {"UPLOAD", BX_REP_UPLOAD}, {"upload", 2},
        {"bogus", 3},              {"Bogus", 3},  {"", 3},                   {"dstat", 3},
        {nullptr, BX_REP_UNKNOWN},
    };
    for (const auto &c : cases)
        EXPECT_EQ(bx_str2rep(c.name), c.code) << (c.name ? c.name : "(null)");
}

TEST(Codes, CommandNames) {
    struct Case {
        const char *name;
        int code;
    } cases[] = {
        {"initialize", BX_CMD_INITIALIZE}, {"cancel", BX_CMD_CANCEL},
        {"resend", BX_CMD_RESEND},         {"forcebatch", BX_CMD_FORCEBATCH},
        {"receipt", BX_CMD_RECEIPT},       {"Receipt", 4},
        {"PHONENUM", BX_CMD_PHONENUM},     {"init", 6},
        {"", 6},                           {nullptr, BX_CMD_UNKNOWN},
    };
    for (const auto &c : cases)
        EXPECT_EQ(bx_str2cmd(c.name), c.code) << (c.name ? c.name : "(null)");
}

namespace {

struct ErrorCase {
    int err;
    int code;
};

const ErrorCase kErrorCodes[] = {
    {EACCES, -2},       {EAGAIN, -3},    {EBADF, -4},      {EBADMSG, -5},    {EBUSY, -6},
    {ECANCELED, -7},    {ECHILD, -8},    {EDEADLK, -9},    {EDOM, -10},      {EEXIST, -11},
    {EFAULT, -12},      {EFBIG, -13},    {EINPROGRESS, -14}, {EINTR, -15},   {EINVAL, -16},
    {EIO, -17},         {EISDIR, -18},   {EMFILE, -19},    {EMLINK, -20},    {EMSGSIZE, -21},
    {ENAMETOOLONG, -22}, {ENFILE, -23},  {ENODEV, -24},    {ENOENT, -25},    {ENOEXEC, -26},
    {ENOLCK, -27},      {ENOMEM, -28},   {ENOSPC, -29},    {ENOSYS, -30},    {ENOTDIR, -31},
    {ENOTEMPTY, -32},   {ENOTSUP, -33},  {ENOTTY, -34},    {ENXIO, -35},     {EPERM, -36},
    {EPIPE, -37},       {ERANGE, -38},   {EROFS, -39},     {ESPIPE, -40},    {ESRCH, -41},
    {ETIMEDOUT, -42},   {E2BIG, -43},    {EXDEV, -44},
};

}  // namespace

TEST(Codes, ErrorNumbersToCodes) {
    for (const auto &c : kErrorCodes) {
        errno = c.err;
        EXPECT_EQ(bx_debug_error(), c.code) << strerror(c.err);
    }
    errno = EWOULDBLOCK;
    EXPECT_EQ(bx_debug_error(), -3);
    errno = 0;
    EXPECT_EQ(bx_debug_error(), 0);
    for (int err : {ECONNREFUSED, ENOTSOCK, EHOSTUNREACH, 9999}) {
        errno = err;
        EXPECT_EQ(bx_debug_error(), -1) << err;
    }
}

TEST(Codes, CodesToErrorTexts) {
    for (const auto &c : kErrorCodes)
        EXPECT_STREQ(bx_debug_strerror(c.code), strerror(c.err)) << c.code;
    EXPECT_STREQ(bx_debug_strerror(0), "no error");
    EXPECT_STREQ(bx_debug_strerror(-1), "unknown error");
    for (int code : {1, -45, 2, INT_MAX, INT_MIN})
        EXPECT_STREQ(bx_debug_strerror(code), "problem with error reporting") << code;
}

TEST(Codes, AnswerTextOfTheSession) {
    EXPECT_EQ(bx_textvalue(nullptr), nullptr);
    EXPECT_EQ(bx_errortext(nullptr), nullptr);
    auto session = std::make_unique<_bx_session>();
    strcpy(session->apitext, "text {no such transaction}");
    EXPECT_EQ(bx_textvalue(session.get()), session->apitext);
    EXPECT_EQ(bx_errortext(session.get()), session->apitext);
    EXPECT_STREQ(bx_textvalue(session.get()), "text {no such transaction}");
}
