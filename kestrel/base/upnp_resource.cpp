// Resource files beside the program, with a cache of the small static ones.
#include "base/upnp_resource.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/stat.h>

#include "base/upnp_critsec.h"
#include "base/upnp_fd.h"
#include "base/upnp_ini_file.h"
#include "base/upnp_log.h"
#include "base/upnp_mem.h"

namespace {

struct ResEntry {
  char *name;  // none: entry free
  char *data;
  uint32_t size;
};

ResEntry ResCache[UPNP_RESOURCE_CACHE_SIZE];
CRITICAL_SECTION g_Resource_Section;
std::atomic<bool> g_resource_lock_exists{false};
std::atomic<upnp_resource_get_function> ext_resource_get{nullptr};

const char *const strAllowedExt[] = {"xml", "txt", "ico", "jpg", "png"};

// Largest file read whole (the size travels as 32 bits, plus two zero bytes).
constexpr uint64_t kMaxResourceSize = 0xFFFFFFF0u;

void clear_cache_locked() {
  for (ResEntry &entry : ResCache) {
    upnp_free_impl(entry.name);
    upnp_free_impl(entry.data);
    entry = ResEntry{nullptr, nullptr, 0};
  }
}

// A name that would leave the resources folder is never looked up.
bool is_safe_name(const std::string &name) {
  if (name.empty() || name[0] == '/') return false;
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find('/', start);
    if (end == std::string::npos) end = name.size();
    if (name.compare(start, end - start, "..") == 0 && end - start == 2) return false;
    start = end + 1;
  }
  return true;
}

bool resource_path(const std::string &name, std::string *path) {
  const char *dir = upnp_ini_file_get_EXE_Dir();
  if (dir == nullptr || !is_safe_name(name)) return false;
  *path = std::string(dir) + '/' + "resources" + '/' + name;
  return true;
}

// Reads the whole regular file into a new block with two zero bytes after it.
bool read_file(const std::string &path, char **data, uint32_t *size) {
  FILE *file = upnp_fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  struct stat info;
  bool ok = fstat(fileno(file), &info) == 0 && S_ISREG(info.st_mode) && info.st_size >= 0 &&
            static_cast<uint64_t>(info.st_size) <= kMaxResourceSize;
  char *buffer = nullptr;
  size_t length = ok ? static_cast<size_t>(info.st_size) : 0;
  if (ok) {
    buffer = static_cast<char *>(upnp_malloc_impl(length + 2));
    ok = buffer != nullptr && std::fread(buffer, 1, length, file) == length;
  }
  std::fclose(file);
  if (!ok) {
    upnp_free_impl(buffer);
    return false;
  }
  buffer[length] = '\0';
  buffer[length + 1] = '\0';
  *data = buffer;
  *size = static_cast<uint32_t>(length);
  return true;
}

char *copy_bytes(const char *data, uint32_t size) {
  char *copy = static_cast<char *>(upnp_malloc_impl(static_cast<size_t>(size) + 2));
  if (copy == nullptr) return nullptr;
  std::memcpy(copy, data, size);
  copy[size] = '\0';
  copy[size + 1] = '\0';
  return copy;
}

bool is_cacheable(const std::string &name, uint32_t size) {
  if (size == 0) return false;
  if (name.find("strings-") != std::string::npos || name.find("views/") != std::string::npos) return false;
  size_t dot = name.rfind('.');
  if (dot == std::string::npos) return false;
  const std::string ext = name.substr(dot + 1);
  for (const char *allowed : strAllowedExt) {
    if (ext == allowed) return true;
  }
  return false;
}

// Under the lock: a copy of the cached bytes, or false when not cached.
bool cache_lookup_locked(const std::string &name, char **data, uint32_t *size, bool *failed) {
  for (const ResEntry &entry : ResCache) {
    if (entry.name != nullptr && name == entry.name) {
      *data = copy_bytes(entry.data, entry.size);
      *failed = *data == nullptr;
      *size = *failed ? 0 : entry.size;
      return true;
    }
  }
  return false;
}

void cache_store_locked(const std::string &name, const char *data, uint32_t size) {
  ResEntry *free_entry = nullptr;
  for (ResEntry &entry : ResCache) {
    if (entry.name != nullptr && name == entry.name) return;  // cached meanwhile
    if (entry.name == nullptr && free_entry == nullptr) free_entry = &entry;
  }
  if (free_entry == nullptr) {
    upnp_log_impl(LOG_LEVEL_ERROR, LOG_SYSTEM, "upnp_resource_get", "too many files (%d)", UPNP_RESOURCE_CACHE_SIZE);
    return;
  }
  char *name_copy = upnp_strdup_impl(name.c_str());
  char *data_copy = copy_bytes(data, size);
  if (name_copy == nullptr || data_copy == nullptr) {
    upnp_free_impl(name_copy);
    upnp_free_impl(data_copy);
    return;
  }
  *free_entry = ResEntry{name_copy, data_copy, size};
}

}  // namespace

extern "C" void upnp_resource_init(void) {
  if (!g_resource_lock_exists.load(std::memory_order_acquire)) {
    InitializeCriticalSection(&g_Resource_Section);
    g_resource_lock_exists.store(true, std::memory_order_release);
  }
  EnterCriticalSection(&g_Resource_Section);
  clear_cache_locked();
  LeaveCriticalSection(&g_Resource_Section);
}

extern "C" void upnp_resource_exit(void) {
  if (!g_resource_lock_exists.exchange(false, std::memory_order_acq_rel)) return;
  EnterCriticalSection(&g_Resource_Section);
  clear_cache_locked();
  LeaveCriticalSection(&g_Resource_Section);
  DeleteCriticalSection(&g_Resource_Section);
}

extern "C" void register_upnp_resource_get_function(upnp_resource_get_function function) {
  ext_resource_get.store(function, std::memory_order_release);
}

extern "C" int upnp_resource_get(const char *name, uint32_t *size, char **data) {
  if (size != nullptr) *size = 0;
  if (data != nullptr) *data = nullptr;
  if (name == nullptr || size == nullptr || data == nullptr) return 0;
  std::string key = name;
  size_t query = key.rfind('?');
  if (query != std::string::npos) key.erase(query);

  upnp_resource_get_function external = ext_resource_get.load(std::memory_order_acquire);
  if (external != nullptr) return external(key.c_str(), size, data);

  const bool locked = g_resource_lock_exists.load(std::memory_order_acquire);
  if (locked) {
    EnterCriticalSection(&g_Resource_Section);
    bool failed = false;
    bool hit = cache_lookup_locked(key, data, size, &failed);
    LeaveCriticalSection(&g_Resource_Section);
    if (hit) return failed ? 0 : 1;
  }

  std::string path;
  char *content = nullptr;
  uint32_t length = 0;
  if (!resource_path(key, &path) || !read_file(path, &content, &length)) return 0;
  if (locked && is_cacheable(key, length) && g_resource_lock_exists.load(std::memory_order_acquire)) {
    EnterCriticalSection(&g_Resource_Section);
    cache_store_locked(key, content, length);
    LeaveCriticalSection(&g_Resource_Section);
  }
  *data = content;
  *size = length;
  return 1;
}

extern "C" int upnp_resource_exists(const char *name) {
  if (name == nullptr) return 0;
  std::string path;
  if (!resource_path(name, &path)) return 0;
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) ? 1 : 0;
}

extern "C" int upnp_resource_cached_count(void) {
  if (!g_resource_lock_exists.load(std::memory_order_acquire)) return 0;
  int count = 0;
  EnterCriticalSection(&g_Resource_Section);
  for (const ResEntry &entry : ResCache) {
    if (entry.name != nullptr) ++count;
  }
  LeaveCriticalSection(&g_Resource_Section);
  return count;
}
