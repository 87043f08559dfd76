// qor_log: formats log lines and sends them to syslog or a test sink.
// See qor_log.h for the failure policy.
#include "support/qor_log.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <syslog.h>

const char *qor_log_ident = "qor-no-name";

// A line longer than its buffer is cut on purpose: logging never fails.
#pragma GCC diagnostic ignored "-Wformat-truncation"

namespace {

constexpr size_t kLineSize = 4096;

struct Level {
    const char *name;
    int priority;
};

// Indexed by level; entry 0 stands for every unknown level.
constexpr Level kLevels[] = {
    {"Unknown type", LOG_ERR},  {"Debug", LOG_DEBUG},
    {"Information", LOG_INFO},  {"Warning", LOG_WARNING},
    {"NonFatal error", LOG_ERR}, {"Fatal error", LOG_CRIT},
};

const Level &level_of(int level) {
    if (level < 1 || level > 5) return kLevels[0];
    return kLevels[level];
}

qor_log_sink g_sink = nullptr;
void *g_rock = nullptr;
const char *g_opened_ident = nullptr;

void emit(int level, const char *line) {
    int prio = level_of(level).priority;
    if (g_sink) {
        g_sink(prio, line, g_rock);
        return;
    }
    qor_log_syslog(prio, line, nullptr);
}

}  // namespace

extern "C" {

void qor_log_syslog(int priority, const char *line, void *) {
    // syslog keeps the identity pointer; reopen when the identity moved.
    if (g_opened_ident != qor_log_ident) {
        openlog(qor_log_ident, LOG_CONS | LOG_NDELAY | LOG_PID, LOG_USER);
        g_opened_ident = qor_log_ident;
    }
    syslog(priority, "%s", line ? line : "");
}

qor_log_sink qor_log_get_sink(void **rock) {
    if (rock) *rock = g_rock;
    return g_sink;
}

const char *qor_log_levelname(int level) { return level_of(level).name; }
int qor_log_priority(int level) { return level_of(level).priority; }

void qor_log_set_sink(qor_log_sink sink, void *rock) {
    g_sink = sink;
    g_rock = rock;
}

void qor_log(int level, const char *text) {
    char line[kLineSize];
    snprintf(line, sizeof line, "%s: %s\n", qor_log_levelname(level), text ? text : "");
    emit(level, line);
}

void qor_logf(int level, const char *format, ...) {
    char text[kLineSize];
    va_list ap;
    va_start(ap, format);
    vsnprintf(text, sizeof text, format, ap);
    va_end(ap);
    qor_log(level, text);
}

void qor_log_err(int level, const char *text) {
    const char *err = strerror(errno);
    char line[kLineSize];
    snprintf(line, sizeof line, "%s(%s): %s\n", qor_log_levelname(level), text ? text : "", err);
    emit(level, line);
}

void qor_log_errf(int level, const char *format, ...) {
    const char *err = strerror(errno);
    char text[kLineSize];
    va_list ap;
    va_start(ap, format);
    vsnprintf(text, sizeof text, format, ap);
    va_end(ap);
    char line[kLineSize];
    snprintf(line, sizeof line, "%s: %s: %s\n", qor_log_levelname(level), err, text);
    emit(level, line);
}

}  // extern "C"
