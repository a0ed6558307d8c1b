#ifndef KESTREL_BASE_UPNP_LOG_H
#define KESTREL_BASE_UPNP_LOG_H

/* The library's one reporting call. Every module logs through upnp_log_impl
 * with a level and exactly one source bit. The logger filters by level and
 * source, writes timestamped lines to the log file (standard output while no
 * file is open), rotates files named "...-log.txt" at one megabyte and keeps
 * at most five old parts. A critical message also goes to the console and
 * ends the process unless the application registered an exit function
 * (see upnp_exit.h). */

#ifdef __cplusplus
extern "C" {
#endif

enum upnp_log_level {
  LOG_LEVEL_DEBUG = 0,
  LOG_LEVEL_TRACE = 1,
  LOG_LEVEL_INFO = 2,
  LOG_LEVEL_WARNING = 3,
  LOG_LEVEL_ERROR = 4,
  LOG_LEVEL_CRITICAL = 5
};

enum upnp_log_source {
  LOG_SYSTEM = 1,
  LOG_SSDP = 2,
  LOG_DB = 4,
  LOG_HTTP = 8,
  LOG_CLIENT_DB = 16,
  LOG_EVENTING = 32,
  LOG_XML = 64,
  LOG_PLUGIN = 128,
  LOG_SCAN = 256,
  LOG_RMEDIA = 512,
  LOG_MEDIAFUSION = 1024,
  LOG_CGI = 2048,
  LOG_LINKPROT = 4096
};

/* Size after which a file whose name contains "-log.txt" is rotated. */
#define UPNP_LOG_ROTATE_SIZE 1048576L
/* Old parts kept beside the current log file. */
#define UPNP_LOG_KEEP_PARTS 5

void upnp_log_impl(int level, unsigned int source, const char *function, const char *format, ...)
    __attribute__((format(printf, 4, 5)));

/* Opens (appending) or creates the log file; none logs to standard output.
 * Returns 1, or 0 when the file can neither be opened nor created. */
int upnp_log_init(const char *path);
/* Closes the file, forgets the bad list and deletes the lock. */
void upnp_log_exit(void);
/* 1 while the logger's lock exists. */
int upnp_log_initialized(void);
/* Empties the log file. */
void upnp_log_clear(void);
void upnp_log_flush(void);

void upnp_log_set_level(int level);
int upnp_log_get_level(void);
void upnp_log_set_sources(unsigned int sources);
unsigned int upnp_log_get_sources(void);
/* Whether the source bit is in the enabled-sources mask. */
int upnp_log_enabled(unsigned int source);
/* 0 stops writing file lines; critical messages still reach the console. */
void upnp_log_enable(int flag);
/* Flush the file after every line. */
void upnp_log_set_force_flush(int flag);
/* Copy of the log file name (free with upnp_free_impl), or none. */
char *upnp_log_get_filename(void);

/* Whether a message of this level and source goes to the log: with the
 * source enabled exactly when the level reaches the threshold, otherwise
 * only critical messages. */
int upnp_log_to_appender(int level, unsigned int source);

/* Name of a level ("[Info]") or a source bit ("LOG_HTTP"); "?" otherwise. */
const char *upnp_log_level_name(int level);
const char *upnp_log_source_name(unsigned int source);

typedef void (*upnp_log_critical_error_handler)(int level);
/* The first handler registered stays; later ones are ignored. */
void upnp_log_register_critical_error_handler(upnp_log_critical_error_handler handler);

#ifdef __cplusplus
}
#endif

#endif
