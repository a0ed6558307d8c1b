// The configuration store's table: module state and lock, property creation,
// counted initialisation and release, and the application's hooks.
#include "base/upnp_ini_file.h"

#include "base/upnp_ini_file_internal.h"
#include "base/upnp_log.h"
#include "base/upnp_mem.h"

#include <cstring>
#include <mutex>
#include <new>
#include <strings.h>

IniState g_ini;
CRITICAL_SECTION g_ini_Section;
std::atomic<bool> g_ini_lock_exists{false};
std::atomic<unsigned int> g_nTypesInitialized{0};
IniHooks g_ini_hooks;

namespace {

// Serialises the counted init and release (which create and delete the lock).
std::mutex g_ini_init_guard;

void free_property(IniProperty &p) {
  ini_drop_list_cache(p);
  upnp_free_impl(p.name);
  upnp_free_impl(p.value);
  upnp_free_impl(p.def);
  upnp_free_impl(p.help);
  p.name = p.value = p.def = p.help = nullptr;
}

}  // namespace

bool ini_lock() {
  if (!g_ini_lock_exists.load(std::memory_order_acquire)) return false;
  EnterCriticalSection(&g_ini_Section);
  return true;
}

void ini_unlock() { LeaveCriticalSection(&g_ini_Section); }

IniProperty *ini_find(unsigned int key) {
  if (key > UPNP_INI_MAX_KEY) return nullptr;
  int16_t index = g_ini.lookup[key];
  if (index < 0 || static_cast<size_t>(index) >= g_ini.props.size()) return nullptr;
  return &g_ini.props[static_cast<size_t>(index)];
}

IniProperty *ini_find_name(const char *name) {
  if (name == nullptr) return nullptr;
  for (IniProperty &p : g_ini.props) {
    if (p.name != nullptr && strcasecmp(p.name, name) == 0) return &p;
  }
  return nullptr;
}

const char *ini_effective(const IniProperty &p) { return p.value != nullptr ? p.value : p.def; }

void ini_drop_list_cache(IniProperty &p) {
  if (p.list_cache != nullptr) {
    upnp_free_impl(p.list_cache[0]);
    upnp_free_impl(p.list_cache);
  }
  p.list_cache = nullptr;
  p.list_count = 0;
}

bool ini_is_restricted(unsigned int key) {
  upnp_ini_is_restricted_cb hook = g_ini_hooks.is_restricted.load(std::memory_order_acquire);
  return hook != nullptr && hook(key) != 0;
}

extern "C" int upnp_ini_file_create_property(unsigned int key, const char *name, const char *default_value,
                                             const char *help, int list, int hidden, int disabled, int restart) {
  if (name == nullptr || name[0] == '\0') return INI_CREATE_NO_NAME;
  if (!g_ini_lock_exists.load(std::memory_order_acquire)) return INI_CREATE_NOT_INITIALIZED;
  if (key > UPNP_INI_MAX_KEY) return INI_CREATE_TABLE_FULL;
  if (!ini_lock()) return INI_CREATE_NOT_INITIALIZED;
  int result = INI_CREATE_OK;
  if (ini_find(key) != nullptr) {
    result = INI_CREATE_KEY_EXISTS;
  } else if (ini_find_name(name) != nullptr) {
    result = INI_CREATE_NAME_EXISTS;
  } else if (g_ini.props.size() >= UPNP_INI_MAX_PROPS) {
    result = INI_CREATE_TABLE_FULL;
  } else {
    IniProperty p{};
    p.key = key;
    p.name = upnp_strdup_impl(name);
    p.def = upnp_strdup_impl(default_value);
    p.help = upnp_strdup_impl(help);
    p.list = list != 0;
    p.hidden = hidden != 0;
    p.disabled = disabled != 0;
    p.restart = restart != 0;
    bool stored = p.name != nullptr && (default_value == nullptr || p.def != nullptr) &&
                  (help == nullptr || p.help != nullptr);
    if (stored) {
      try {
        g_ini.props.push_back(p);
      } catch (const std::bad_alloc &) {
        stored = false;
      }
    }
    if (stored) {
      g_ini.lookup[key] = static_cast<int16_t>(g_ini.props.size() - 1);
    } else {
      free_property(p);
      result = INI_CREATE_NO_MEMORY;
    }
  }
  ini_unlock();
  return result;
}

void ini_create_rows(const IniRow *rows, size_t count, unsigned int groups, unsigned int skip_groups) {
  for (size_t i = 0; i < count; ++i) {
    const IniRow &row = rows[i];
    if (groups != 0 && ((row.groups & groups) == 0 || (row.groups & skip_groups) != 0)) continue;
    int result = upnp_ini_file_create_property(row.key, row.name, row.def, row.help, 0, row.hidden, 0, row.restart);
    if (result != INI_CREATE_OK) {
      upnp_log_impl(LOG_LEVEL_ERROR, LOG_SYSTEM, nullptr, "Error in creating ini file property %s : %d", row.name,
                    result);
    }
  }
}

extern "C" int upnp_ini_file_init(void) {
  {
    std::lock_guard<std::mutex> hold(g_ini_init_guard);
    if (g_ini.init_counter++ > 0) return 0;
    InitializeCriticalSection(&g_ini_Section);
    for (int16_t &slot : g_ini.lookup) slot = -1;
    g_ini.pending_restart = false;
    g_ini_lock_exists.store(true, std::memory_order_release);
  }
  size_t count = 0;
  const IniRow *rows = ini_base_rows(&count);
  ini_create_rows(rows, count, 0, 0);
  if (ini_lock()) {
    g_ini.pending_restart = false;
    ini_unlock();
  }
  return 0;
}

extern "C" void upnp_ini_file_release(void) {
  std::lock_guard<std::mutex> hold(g_ini_init_guard);
  if (g_ini.init_counter <= 0) return;
  if (--g_ini.init_counter > 0) return;
  EnterCriticalSection(&g_ini_Section);
  g_ini.default_files.clear();
  for (int16_t &slot : g_ini.lookup) slot = -1;
  for (IniProperty &p : g_ini.props) free_property(p);
  g_ini.props.clear();
  g_ini.props.shrink_to_fit();
  g_ini.ini_path.clear();
  g_ini.ini_path_valid = false;
  // The program path goes with its directory: a later parse derives both again.
  g_ini.exe_name.clear();
  g_ini.exe_dir.clear();
  g_ini.exe_known = false;
  g_ini.ignored_params.clear();
  g_ini.utf16 = false;
  g_ini.pending_restart = false;
  // The client groups' records are gone with the table.
  g_nTypesInitialized.store(0, std::memory_order_release);
  g_ini_lock_exists.store(false, std::memory_order_release);
  LeaveCriticalSection(&g_ini_Section);
  DeleteCriticalSection(&g_ini_Section);
}

extern "C" void upnp_ini_file_release_on_exit(void) {
  {
    std::lock_guard<std::mutex> hold(g_ini_init_guard);
    if (g_ini.init_counter <= 0) return;
    g_ini.init_counter = 1;
  }
  upnp_ini_file_release();
}

extern "C" void upnp_ini_set_obfuscation(upnp_ini_is_restricted_cb is_restricted,
                                         upnp_ini_get_obfuscated_name_cb get_obfuscated_name,
                                         upnp_ini_translate_obfuscated_name_cb translate_obfuscated_name,
                                         upnp_ini_decrypt_cb decrypt, upnp_ini_encrypt_cb encrypt,
                                         upnp_ini_is_encrypted_cb is_encrypted) {
  g_ini_hooks.is_restricted.store(is_restricted, std::memory_order_release);
  g_ini_hooks.get_obfuscated_name.store(get_obfuscated_name, std::memory_order_release);
  g_ini_hooks.translate_obfuscated_name.store(translate_obfuscated_name, std::memory_order_release);
  g_ini_hooks.decrypt.store(decrypt, std::memory_order_release);
  g_ini_hooks.encrypt.store(encrypt, std::memory_order_release);
  g_ini_hooks.is_encrypted.store(is_encrypted, std::memory_order_release);
}
