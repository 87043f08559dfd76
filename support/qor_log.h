// qor_log: the one logging facility of the library.
//
// Every module logs through these four calls.  A line is formatted into a
// 4096-byte buffer and handed, with the syslog priority of its level, to
// the current sink.  The default sink is the system log (qor_log_syslog,
// identity qor_log_ident, with the process id, facility user); tests
// replace the sink to capture the exact lines.
//
// Failure policy: logging never fails towards its caller; an over-long
// line is cut at the buffer's end.
#ifndef BRIX_SUPPORT_QOR_LOG_H
#define BRIX_SUPPORT_QOR_LOG_H

#ifdef __cplusplus
extern "C" {
#endif

enum {
    QOR_LOG_DEBUG = 1,
    QOR_LOG_INFO = 2,
    QOR_LOG_WARNING = 3,
    QOR_LOG_NONFATAL = 4,
    QOR_LOG_FATAL = 5
};

// Identity used when syslog is opened; "qor-no-name" while none is set.
extern const char *qor_log_ident;

void qor_log(int level, const char *text);
void qor_logf(int level, const char *format, ...) __attribute__((format(printf, 2, 3)));
void qor_log_err(int level, const char *text);
void qor_log_errf(int level, const char *format, ...) __attribute__((format(printf, 2, 3)));

// Name and syslog priority of a level ("Unknown type"/err for others).
const char *qor_log_levelname(int level);
int qor_log_priority(int level);

// Replaceable destination.  A null sink restores syslog.
typedef void (*qor_log_sink)(int priority, const char *line, void *rock);
void qor_log_set_sink(qor_log_sink sink, void *rock);
// The current sink (null: syslog) and its rock, so that a sink put in
// front of it for a while can pass every line on and then give it back.
qor_log_sink qor_log_get_sink(void **rock);
// Sends one formatted line to the system log, as the default destination
// does: through the library's own socket to /dev/log, with qor_log_ident
// and the process id in the message and facility user, so the host
// process's own openlog() settings are never touched.  When the
// environment names a file in BRIX_LOG_FILE the line is appended there
// instead; when no system log can be reached it goes to standard error
// (never to the console device).
void qor_log_syslog(int priority, const char *line, void *rock);

#ifdef __cplusplus
}
#endif

#endif
