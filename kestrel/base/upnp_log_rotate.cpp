// Rotation of "...-log.txt" files and the clean-up thread that keeps at most
// five old parts beside the log file.
#include "base/upnp_log_rotate.h"

#include "base/upnp_fd.h"
#include "base/upnp_log.h"
#include "base/upnp_thread.h"

#include <atomic>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <new>
#include <cstdio>
#include <string>
#include <strings.h>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace {

const char kRotatingSuffix[] = "-log.txt";

// Names of old parts that could not be deleted; the clean-up skips them.
std::mutex g_bad_list_guard;
std::vector<std::string> g_BadList;

std::atomic<int> g_cleanups_running{0};

bool ends_with(const std::string &text, const char *suffix) {
  size_t length = std::strlen(suffix);
  return text.size() >= length && text.compare(text.size() - length, length, suffix) == 0;
}

void bad_list_add(const std::string &file_name) {
  std::lock_guard<std::mutex> hold(g_bad_list_guard);
  g_BadList.push_back(file_name);
}

void *cleanup_thread(void *argument) {
  char *name = static_cast<char *>(argument);
  upnp_log_remove_old_parts(name);
  delete[] name;
  g_cleanups_running.fetch_sub(1, std::memory_order_acq_rel);
  return nullptr;
}

}  // namespace

bool upnp_log_is_rotating_name(const char *name) {
  return name != nullptr && std::strstr(name, kRotatingSuffix) != nullptr;
}

std::string upnp_log_part_name(const char *name, const struct tm &local) {
  const char *end = std::strstr(name, kRotatingSuffix);
  std::string base(name, end != nullptr ? static_cast<size_t>(end - name) : std::strlen(name));
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02dT%02d:%02d:%02d", local.tm_year + 1900, local.tm_mon + 1,
                local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
  for (char *c = stamp; *c != '\0'; ++c) {
    if (*c == ':' || *c == 'T') *c = '-';
  }
  return base + "-" + stamp + kRotatingSuffix;
}

FILE *upnp_log_rotate_file(FILE *file, const char *name) {
  if (file != nullptr) std::fclose(file);
  std::time_t now = std::time(nullptr);
  struct tm local;
  std::memset(&local, 0, sizeof local);
  localtime_r(&now, &local);
  std::string part = upnp_log_part_name(name, local);
  // Two rotations within one second would give the same part name; renaming
  // onto it would silently drop the earlier part, so number the later one.
  std::error_code ec;
  if (fs::exists(part, ec)) {
    std::string stem = part.substr(0, part.size() - (sizeof kRotatingSuffix - 1));
    for (int n = 1; n < 1000; ++n) {
      std::string candidate = stem + "-" + std::to_string(n) + kRotatingSuffix;
      if (!fs::exists(candidate, ec)) {
        part = candidate;
        break;
      }
    }
  }
  std::rename(name, part.c_str());
  FILE *fresh = upnp_fopen(name, "w");
  if (fresh == nullptr) {
    std::printf("can't open log file (%s)\n", name);
    std::fprintf(stderr, "can't open log file (%s)\n", name);
  }
  return fresh;
}

void upnp_log_start_cleanup(const char *name) {
  size_t length = std::strlen(name);
  char *copy = new (std::nothrow) char[length + 1];
  if (copy == nullptr) return;
  std::memcpy(copy, name, length + 1);
  g_cleanups_running.fetch_add(1, std::memory_order_acq_rel);
  if (!upnp_start_detached_thread(cleanup_thread, copy, 5)) {
    delete[] copy;
    g_cleanups_running.fetch_sub(1, std::memory_order_acq_rel);
  }
}

int upnp_log_remove_old_parts(const char *name) {
  fs::path log_path(name);
  fs::path dir = log_path.parent_path();
  if (dir.empty()) dir = ".";
  const std::string current = log_path.filename().string();
  for (;;) {
    std::error_code ec;
    fs::directory_iterator it(dir, ec);
    if (ec) return 0;
    int count = 0;
    fs::path oldest;
    fs::file_time_type oldest_time{};
    for (; it != fs::directory_iterator(); it.increment(ec)) {
      if (ec) break;
      std::error_code entry_ec;
      if (it->is_directory(entry_ec)) continue;
      std::string file_name = it->path().filename().string();
      if (!ends_with(file_name, kRotatingSuffix)) continue;
      if (strcasecmp(file_name.c_str(), current.c_str()) == 0) continue;
      if (upnp_log_bad_list_contains(file_name.c_str())) continue;
      fs::file_time_type when = it->last_write_time(entry_ec);
      if (entry_ec) continue;
      if (count == 0 || when < oldest_time) {
        oldest = it->path();
        oldest_time = when;
      }
      ++count;
    }
    if (count <= UPNP_LOG_KEEP_PARTS) return count;
    // A part that another clean-up removed first simply is gone; one that
    // cannot be deleted goes on the bad list and ends this run.
    bool removed = fs::remove(oldest, ec);
    std::error_code exists_ec;
    if (!removed && (ec || fs::exists(oldest, exists_ec))) {
      bad_list_add(oldest.filename().string());
      return count;
    }
  }
}

int upnp_log_cleanups_running(void) { return g_cleanups_running.load(std::memory_order_acquire); }

void upnp_log_bad_list_clear(void) {
  std::lock_guard<std::mutex> hold(g_bad_list_guard);
  g_BadList.clear();
}

bool upnp_log_bad_list_contains(const char *file_name) {
  std::lock_guard<std::mutex> hold(g_bad_list_guard);
  for (const std::string &bad : g_BadList) {
    if (bad == file_name) return true;
  }
  return false;
}
