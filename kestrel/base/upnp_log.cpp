// The logger: filtering by level and source, line formatting, writing to the
// log file or standard output, and the critical path. Rotation and the
// clean-up of old parts live in upnp_log_rotate.cpp.
//
// The lock serialises the building and writing of every line and the
// rotation; the filter (level, sources, enabled) is read without it. Nothing
// in here logs while holding the lock: a recursive entry would itself log.
#include "base/upnp_log.h"

#include "base/upnp_critsec.h"
#include "base/upnp_exit.h"
#include "base/upnp_fd.h"
#include "base/upnp_log_rotate.h"
#include "base/upnp_mem.h"
#include "base/upnp_thread.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <system_error>
#include <filesystem>

namespace {

std::atomic<int> g_bEnabled{1};
std::atomic<int> g_nLogLevel{0};
std::atomic<unsigned int> g_nLogEnabledSources{0};
std::atomic<int> g_LogForceFlush{0};
std::atomic<upnp_log_critical_error_handler> logCriticalErrorHandler{nullptr};

// Guarded by g_log_Section.
char g_strLogFileName[1024];
FILE *g_LogFile = nullptr;
long g_LogSize = 0;

CRITICAL_SECTION g_log_Section;
std::atomic<bool> g_bLogCriticalSectionInitialized{false};
// Creation and deletion of g_log_Section: two threads logging first at the
// same moment must not both create it.
std::mutex g_log_section_guard;

bool create_lock() {
  std::lock_guard<std::mutex> hold(g_log_section_guard);
  if (!g_bLogCriticalSectionInitialized.load(std::memory_order_acquire)) {
    InitializeCriticalSection(&g_log_Section);
    g_bLogCriticalSectionInitialized.store(true, std::memory_order_release);
  }
  return true;
}

bool lock_log() {
  if (!g_bLogCriticalSectionInitialized.load(std::memory_order_acquire)) create_lock();
  if (!g_bLogCriticalSectionInitialized.load(std::memory_order_acquire)) {
    std::printf("lock_log - critical section not initialized!\n");
    return false;
  }
  EnterCriticalSection(&g_log_Section);
  return true;
}

void unlock_log() {
  if (!g_bLogCriticalSectionInitialized.load(std::memory_order_acquire)) {
    std::printf("unlock_log - critical section not initialized!\n");
    return;
  }
  LeaveCriticalSection(&g_log_Section);
}

// Timestamp of a line: "%H:%M:%S" then ":%03ld " (ends with a blank).
std::string timestamp() {
  char buffer[64];
  buffer[0] = '\0';
  upnp_get_logging_timestamp(buffer, sizeof buffer);
  return buffer;
}

// Writes one line to the file or standard output; under the lock. Returns
// true when the file was rotated (the caller starts the clean-up after
// releasing the lock).
bool upnp_log_puts(const std::string &line) {
  if (g_LogFile == nullptr) {
    std::fwrite(line.data(), 1, line.size(), stdout);
  } else if (std::fwrite(line.data(), 1, line.size(), g_LogFile) < line.size()) {
    std::fclose(g_LogFile);
    g_LogFile = nullptr;
    std::printf("can't write log file\n%s", line.c_str());
  }
  g_LogSize += static_cast<long>(line.size());
  if (g_LogSize > UPNP_LOG_ROTATE_SIZE && upnp_log_is_rotating_name(g_strLogFileName)) {
    g_LogFile = upnp_log_rotate_file(g_LogFile, g_strLogFileName);
    g_LogSize = 0;
    return true;
  }
  return false;
}

// "<time stamp> <level> - <source><separator><text>" and a line break: the
// file line separates with ": ", the console line with ":" alone.
std::string log_line(int level, unsigned int source, const char *separator, const char *text) {
  std::string line = timestamp();
  line += ' ';
  line += upnp_log_level_name(level);
  line += " - ";
  line += upnp_log_source_name(source);
  line += separator;
  line += text;
  line += '\n';
  return line;
}

// The file line of one message.
void upnp_log_message(int level, unsigned int source, const char *text) {
  if (g_bEnabled.load(std::memory_order_relaxed) == 0) return;
  if (!lock_log()) return;
  std::string line = log_line(level, source, ": ", text);
  bool rotated = upnp_log_puts(line);
  if (g_LogForceFlush.load(std::memory_order_relaxed) != 0) {
    std::fflush(g_LogFile != nullptr ? g_LogFile : stdout);
  }
  std::string rotated_name = rotated ? std::string(g_strLogFileName) : std::string();
  unlock_log();
  if (rotated) upnp_log_start_cleanup(rotated_name.c_str());
}

// The console line of a critical message.
void upnp_log_console(int level, unsigned int source, const char *text) {
  if (!lock_log()) return;
  std::string line = log_line(level, source, ":", text);
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fflush(stdout);
  unlock_log();
}

void close_file_locked() {
  if (g_LogFile != nullptr) std::fclose(g_LogFile);
  g_LogFile = nullptr;
  g_LogSize = 0;
}

}  // namespace

extern "C" const char *upnp_log_level_name(int level) {
  static const char *const names[] = {"[Debug]", "[Trace]", "[Info]", "[Warning]", "[Error]", "[Critical]"};
  if (level < 0 || level > 5) return "?";
  return names[level];
}

extern "C" const char *upnp_log_source_name(unsigned int source) {
  static const char *const names[] = {"LOG_SYSTEM", "LOG_SSDP", "LOG_DB", "LOG_HTTP", "LOG_CLIENT_DB",
                                      "LOG_EVENTING", "LOG_XML", "LOG_PLUGIN", "LOG_SCAN", "LOG_RMEDIA",
                                      "LOG_MEDIAFUSION", "LOG_CGI", "LOG_LINKPROT"};
  for (unsigned int bit = 0; bit < sizeof names / sizeof names[0]; ++bit) {
    if (source == (1u << bit)) return names[bit];
  }
  return "?";
}

extern "C" int upnp_log_to_appender(int level, unsigned int source) {
  if ((source & g_nLogEnabledSources.load(std::memory_order_relaxed)) != 0) {
    return level >= g_nLogLevel.load(std::memory_order_relaxed) ? 1 : 0;
  }
  return level == LOG_LEVEL_CRITICAL ? 1 : 0;
}

extern "C" void upnp_log_impl(int level, unsigned int source, const char *function, const char *format, ...) {
  const bool critical = level == LOG_LEVEL_CRITICAL;
  if (!critical && upnp_log_to_appender(level, source) == 0) return;

  const char *fmt = format != nullptr ? format : "strMessage = NULL!";
  char *message = nullptr;
  char *text = nullptr;
  va_list ap;
  va_start(ap, format);
  va_list measure;
  va_copy(measure, ap);
  int length = std::vsnprintf(nullptr, 0, fmt, measure);
  va_end(measure);
  if (length < 0) length = 0;
  message = static_cast<char *>(std::malloc(static_cast<size_t>(length) + 1));
  if (message == nullptr) {
    std::fprintf(stderr, "upnp_log_impl - out of memory\n%s: %s", function ? function : "", fmt);
  } else {
    message[0] = '\0';
    if (length > 0) std::vsnprintf(message, static_cast<size_t>(length) + 1, fmt, ap);
  }
  va_end(ap);

  if (message != nullptr) {
    size_t fn_length = function != nullptr ? std::strlen(function) : 0;
    size_t size = fn_length + 3 + static_cast<size_t>(length) + 1;
    text = static_cast<char *>(std::malloc(size));
    if (text == nullptr) {
      std::fprintf(stderr, "upnp_log_impl - out of memory2\n%s: %s", function ? function : "", fmt);
    } else if (function != nullptr) {
      std::snprintf(text, size, "%s%s%s", function, " : ", message);
    } else {
      std::snprintf(text, size, "%s", message);
    }
  }

  if (text != nullptr) {
    if (upnp_log_to_appender(level, source) != 0) upnp_log_message(level, source, text);
    if (critical) upnp_log_console(level, source, text);
  }
  std::free(text);
  std::free(message);

  if (critical) {
    upnp_log_critical_error_handler handler = logCriticalErrorHandler.load(std::memory_order_acquire);
    if (handler != nullptr) handler(level);
    upnp_exit(0);
  }
}

extern "C" int upnp_log_init(const char *path) {
  if (!lock_log()) return 0;
  close_file_locked();
  g_strLogFileName[0] = '\0';
  upnp_log_bad_list_clear();
  int result = 1;
  if (path != nullptr && path[0] != '\0') {
    std::error_code ec;
    std::filesystem::path parent = std::filesystem::path(path).parent_path();
    if (!parent.empty()) std::filesystem::create_directories(parent, ec);
    FILE *file = upnp_fopen(path, "a");
    if (file == nullptr) file = upnp_fopen(path, "w");
    if (file == nullptr) {
      std::printf("can't open log file (%s)\n", path);
      std::fprintf(stderr, "can't open log file (%s)\n", path);
      result = 0;
    } else {
      std::snprintf(g_strLogFileName, sizeof g_strLogFileName, "%s", path);
      std::fseek(file, 0, SEEK_END);
      long size = std::ftell(file);
      g_LogSize = size > 0 ? size : 0;
      g_LogFile = file;
    }
  }
  unlock_log();
  return result;
}

extern "C" void upnp_log_exit(void) {
  if (g_bLogCriticalSectionInitialized.load(std::memory_order_acquire)) {
    EnterCriticalSection(&g_log_Section);
    if (g_strLogFileName[0] != '\0') close_file_locked();
    g_strLogFileName[0] = '\0';
    LeaveCriticalSection(&g_log_Section);
  }
  upnp_log_bad_list_clear();
  std::lock_guard<std::mutex> hold(g_log_section_guard);
  if (g_bLogCriticalSectionInitialized.load(std::memory_order_acquire)) {
    g_bLogCriticalSectionInitialized.store(false, std::memory_order_release);
    DeleteCriticalSection(&g_log_Section);
  }
}

extern "C" int upnp_log_initialized(void) {
  return g_bLogCriticalSectionInitialized.load(std::memory_order_acquire) ? 1 : 0;
}

extern "C" void upnp_log_clear(void) {
  if (!g_bLogCriticalSectionInitialized.load(std::memory_order_acquire)) return;
  EnterCriticalSection(&g_log_Section);
  if (g_strLogFileName[0] != '\0') {
    close_file_locked();
    std::remove(g_strLogFileName);
    g_LogFile = upnp_fopen(g_strLogFileName, "w");
    if (g_LogFile == nullptr) {
      std::printf("can't open log file (%s)\n", g_strLogFileName);
      std::fprintf(stderr, "can't open log file (%s)\n", g_strLogFileName);
    }
  }
  LeaveCriticalSection(&g_log_Section);
}

extern "C" void upnp_log_flush(void) {
  if (!lock_log()) return;
  std::fflush(g_LogFile != nullptr ? g_LogFile : stdout);
  unlock_log();
}

extern "C" void upnp_log_set_level(int level) { g_nLogLevel.store(level, std::memory_order_relaxed); }
extern "C" int upnp_log_get_level(void) { return g_nLogLevel.load(std::memory_order_relaxed); }
extern "C" void upnp_log_set_sources(unsigned int sources) {
  g_nLogEnabledSources.store(sources, std::memory_order_relaxed);
}
extern "C" unsigned int upnp_log_get_sources(void) { return g_nLogEnabledSources.load(std::memory_order_relaxed); }
extern "C" int upnp_log_enabled(unsigned int source) {
  return (g_nLogEnabledSources.load(std::memory_order_relaxed) & source) != 0 ? 1 : 0;
}
extern "C" void upnp_log_enable(int flag) { g_bEnabled.store(flag, std::memory_order_relaxed); }
extern "C" void upnp_log_set_force_flush(int flag) { g_LogForceFlush.store(flag, std::memory_order_relaxed); }

extern "C" char *upnp_log_get_filename(void) {
  if (!lock_log()) return nullptr;
  char *copy = g_strLogFileName[0] != '\0' ? upnp_strdup_impl(g_strLogFileName) : nullptr;
  unlock_log();
  return copy;
}

extern "C" void upnp_log_register_critical_error_handler(upnp_log_critical_error_handler handler) {
  upnp_log_critical_error_handler none = nullptr;
  logCriticalErrorHandler.compare_exchange_strong(none, handler, std::memory_order_acq_rel);
}
