#ifndef KESTREL_MEDIA_ZEL_FILE_WRITE_H
#define KESTREL_MEDIA_ZEL_FILE_WRITE_H

#include <string>

/* Makes the folder and any missing parents, each new one with mode 0700.
 * False when a part cannot be made or the folder itself is a symbolic link
 * or no folder. */
bool zel_make_private_folder(const std::string &path);

/* Replaces the file at path with bytes: a temporary file in the same folder
 * is written, synced and renamed over the old one, which is never deleted
 * first. False (the old file whole, the temporary file gone) when any step
 * fails. A symbolic link at path is replaced, not followed. */
bool zel_replace_file(const std::string &path, const std::string &bytes);

/* Copies the file at from to to the same way; false when from cannot be read
 * or to cannot be written. */
bool zel_copy_file(const std::string &from, const std::string &to);

/* Reads a regular file without following a symbolic link; false when it
 * cannot be opened or read. */
bool zel_read_file(const std::string &path, std::string *bytes);

#endif
