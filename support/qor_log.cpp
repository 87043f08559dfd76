// qor_log: formats log lines and sends them to syslog or a test sink.
// See qor_log.h for the failure policy.
//
// The library lives inside other programs (PHP, a web server's workers),
// which may use the system log themselves under their own identity.  So
// the library never calls openlog(): it speaks to the system log's socket
// itself, with its own identity in each message, and the host's syslog
// settings stay as the host made them.  Without a system log the line goes
// to standard error, never to the console device.
#include "support/qor_log.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

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
int g_syslog_fd = -1;         // datagram socket connected to the system log

// Connects the library's own socket to the system log; false when there
// is none to reach.
bool connect_syslog() {
    if (g_syslog_fd >= 0) return true;
    int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    struct sockaddr_un addr = {};
    addr.sun_family = AF_UNIX;
    strcpy(addr.sun_path, "/dev/log");
    if (connect(fd, reinterpret_cast<struct sockaddr *>(&addr), sizeof addr) != 0) {
        close(fd);
        return false;
    }
    g_syslog_fd = fd;
    return true;
}

// Appends the line to a file (BRIX_LOG_FILE) or standard error.
void write_line(int fd, const char *line, size_t len) {
    while (len > 0) {
        ssize_t n = write(fd, line, len);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        line += n;
        len -= static_cast<size_t>(n);
    }
}

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
    int err = errno;
    if (!line) line = "";
    size_t len = strnlen(line, kLineSize);
    while (len > 0 && line[len - 1] == '\n') len--;
    char msg[kLineSize + 320];
    time_t now = time(nullptr);
    struct tm tm;
    localtime_r(&now, &tm);
    char stamp[32];
    strftime(stamp, sizeof stamp, "%b %e %T", &tm);
    const char *file = getenv("BRIX_LOG_FILE");
    if (file && *file) {
        // Every line in one file: tests, and hosts without a system log.
        int n = snprintf(msg, sizeof msg, "%s %s[%d]: %.*s\n", stamp, qor_log_ident, static_cast<int>(getpid()),
                         static_cast<int>(len), line);
        int fd = open(file, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
        if (fd >= 0) {
            write_line(fd, msg, static_cast<size_t>(n) < sizeof msg ? static_cast<size_t>(n) : sizeof msg - 1);
            close(fd);
        }
        errno = err;
        return;
    }
    int n = snprintf(msg, sizeof msg, "<%d>%s %s[%d]: %.*s", LOG_USER | (priority & LOG_PRIMASK), stamp,
                     qor_log_ident, static_cast<int>(getpid()), static_cast<int>(len), line);
    size_t size = static_cast<size_t>(n) < sizeof msg ? static_cast<size_t>(n) : sizeof msg - 1;
    // A system log that went away (restarted) is reconnected once.
    for (int tries = 0; tries < 2; tries++) {
        if (!connect_syslog()) break;
        if (send(g_syslog_fd, msg, size, MSG_NOSIGNAL) >= 0) {
            errno = err;
            return;
        }
        close(g_syslog_fd);
        g_syslog_fd = -1;
    }
    n = snprintf(msg, sizeof msg, "%s[%d]: %.*s\n", qor_log_ident, static_cast<int>(getpid()),
                 static_cast<int>(len), line);
    write_line(STDERR_FILENO, msg, static_cast<size_t>(n) < sizeof msg ? static_cast<size_t>(n) : sizeof msg - 1);
    errno = err;
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
