#ifndef KESTREL_WEBAPI_WEBAPI_UPLOAD_FOLDER_H
#define KESTREL_WEBAPI_WEBAPI_UPLOAD_FOLDER_H

/* The private folder where uploads through the web API are staged: a 0700
 * folder of ours under the app-data folder, and files created in it
 * exclusively under names of ours. */

#include <string>

/* The staging folder, created when missing; empty when it cannot be made
 * or is not a private folder of this user (a link, another owner, other
 * modes). */
std::string webapi_upload_folder(void);
/* Creates a new empty file (mode 0600, exclusive, links not followed) in
 * the folder; its path, or empty. */
std::string webapi_upload_new_file(const std::string &folder);
/* Overrides the folder's parent (none: the app-data folder); for tests. */
void webapi_upload_set_parent(const char *path);

#endif
