#ifndef KESTREL_BASE_UPNP_INI_FILE_INTERNAL_H
#define KESTREL_BASE_UPNP_INI_FILE_INTERNAL_H

/* State of the configuration store shared by its source files. Everything
 * here is guarded by g_ini_Section unless noted. The store never logs while
 * holding the lock. */

#include "base/upnp_critsec.h"
#include "base/upnp_ini_file.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct IniProperty {
  unsigned int key;
  char *name;        // owned
  char *value;       // owned; none = not modified
  char *def;         // owned; none = no default
  int list;          // the value is a comma-separated list
  int list_count;    // cached element count, 0 = not split yet
  char **list_cache; // element starts; list_cache[0] owns the split copy
  char *help;        // owned; none = no help line
  int hidden;
  int disabled;
  int restart;
};

struct IniState {
  // g_iniProps: records in creation order. The records hold pointers to
  // their texts, so growing the array never moves a text a caller holds.
  std::vector<IniProperty> props;
  int16_t lookup[UPNP_INI_MAX_KEY + 1];
  int init_counter = 0;  // g_nInitCounter (guarded by the init guard)
  std::string ini_path;  // g_strIniPath (cached; valid when ini_path_valid)
  bool ini_path_valid = false;
  std::vector<std::string> default_files;  // g_pDefaultFileList
  bool pending_restart = false;
  bool utf16 = false;
  std::vector<std::string> ignored_params;  // g_ignored_params
  std::string exe_name;
  std::string exe_dir;
  bool exe_known = false;
};

extern IniState g_ini;
extern CRITICAL_SECTION g_ini_Section;
// Whether g_ini_Section exists (created by the first init, deleted by the
// last release); read without the lock.
extern std::atomic<bool> g_ini_lock_exists;
// g_nTypesInitialized: groups created by clientInit.
extern std::atomic<unsigned int> g_nTypesInitialized;

struct IniHooks {
  std::atomic<upnp_ini_is_restricted_cb> is_restricted{nullptr};
  std::atomic<upnp_ini_get_obfuscated_name_cb> get_obfuscated_name{nullptr};
  std::atomic<upnp_ini_translate_obfuscated_name_cb> translate_obfuscated_name{nullptr};
  std::atomic<upnp_ini_decrypt_cb> decrypt{nullptr};
  std::atomic<upnp_ini_encrypt_cb> encrypt{nullptr};
  std::atomic<upnp_ini_is_encrypted_cb> is_encrypted{nullptr};
};
extern IniHooks g_ini_hooks;

// Takes the lock; false (nothing held) while the store is not initialised.
bool ini_lock();
void ini_unlock();

// Record of a key, or none; under the lock.
IniProperty *ini_find(unsigned int key);
IniProperty *ini_find_name(const char *name);
// Current value, else default, else none; under the lock.
const char *ini_effective(const IniProperty &p);
void ini_drop_list_cache(IniProperty &p);

// Whether a property is restricted by the application's hook (called
// without the lock).
bool ini_is_restricted(unsigned int key);

// The ini path (inipath joined with ininame), building and caching it and
// creating the directory the first time; under the lock.
const std::string &ini_path_locked();

// Row of the built-in property table.
struct IniRow {
  unsigned int key;
  const char *name;
  const char *def;
  unsigned int groups;  // 0 = base, else clientInit group bits
  int hidden;
  int restart;
  const char *help;
};
// The base rows (created by upnp_ini_file_init) and the client rows, in
// table order.
const IniRow *ini_base_rows(size_t *count);
const IniRow *ini_client_rows(size_t *count);
// Creates rows, logging each failure.
void ini_create_rows(const IniRow *rows, size_t count, unsigned int groups, unsigned int skip_groups);

// Applies the text of an ini file (UTF-8, or UTF-16 with its byte order
// mark) to the store: every "name=value" line is set, not forced and without
// overwrite. Remembers the encoding for writing.
void upnp_ini_file_read_buffer(const char *data, size_t size);
// The text of the ini file for the current store, in UTF-8.
std::string upnp_ini_file_format(int utf_bits);
// Replaces the file at `path` whole with `bytes`: written to a temporary name
// beside it and renamed over it, so that a failed write never leaves a half
// written file. Returns true on success (nothing is left behind on failure).
bool upnp_ini_file_replace(const std::string &path, const std::string &bytes);

#endif
