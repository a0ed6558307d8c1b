#ifndef KESTREL_BASE_PLATFORM_UPNP_APPDATA_DIR_H
#define KESTREL_BASE_PLATFORM_UPNP_APPDATA_DIR_H

/* Where the platform keeps per-user application data (one implementation per
 * operating system under platform/<os>/). The configuration store puts the
 * application's own folder under this root. */

#include <string>

/* The user data root: the platform's per-user data folder for an ordinary
 * user, "/var/lumetmedia" for the superuser or a user without a password
 * database entry; empty when there is none. */
std::string getAppDataDir();

/* The rule behind getAppDataDir with its inputs spelled out (for checks on
 * any machine): `privileged` for the superuser or a missing password entry,
 * `data_home` the platform's data-folder override (may be none), `home` the
 * user's home directory (may be none). */
std::string upnp_app_data_root(bool privileged, const char *data_home, const char *home);

#endif
