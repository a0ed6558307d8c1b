#ifndef KESTREL_BASE_UPNP_LOG_ROTATE_H
#define KESTREL_BASE_UPNP_LOG_ROTATE_H

/* Rotation of the log file and the clean-up of old parts (internal to the
 * logger; the tests use it directly). */

#include <cstdio>
#include <string>

/* Whether files of this name rotate (the name contains "-log.txt"). */
bool upnp_log_is_rotating_name(const char *name);

/* Name of the part a rotation at the given local time gives: the name up to
 * "-log.txt", "-", the time as "%04d-%02d-%02d-%02d-%02d-%02d", "-log.txt". */
std::string upnp_log_part_name(const char *name, const struct tm &local);

/* Closes the file (when open), renames it to its part name and creates a new,
 * empty file under the name. Returns the new file, or none when it cannot be
 * created (logging then goes to standard output). Called under the log lock. */
FILE *upnp_log_rotate_file(FILE *file, const char *name);

/* Starts the clean-up of old parts for this log file in a detached thread. */
void upnp_log_start_cleanup(const char *name);

/* The clean-up itself: deletes the oldest "*-log.txt" files beside the log
 * file (not the log file itself, nor names on the bad list) until at most
 * five remain; a file that cannot be deleted goes on the bad list and ends
 * the run. Returns the number of old parts left. */
int upnp_log_remove_old_parts(const char *name);

/* Number of clean-up threads still running. */
int upnp_log_cleanups_running(void);

void upnp_log_bad_list_clear(void);
bool upnp_log_bad_list_contains(const char *file_name);

#endif
