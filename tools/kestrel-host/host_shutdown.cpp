// The library's clean end (see host_shutdown.h).
#include "host_shutdown.h"

#include <dirent.h>
#include <dlfcn.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <string>

#include "host_output.h"
#include "host_slots.h"

// ThreadSanitizer keeps a thread of its own, started with the process's
// second thread (so after the host counted its threads): it is allowed for.
#if defined(__SANITIZE_THREAD__)
#define HOST_SANITIZER_THREADS 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define HOST_SANITIZER_THREADS 1
#endif
#endif
#ifndef HOST_SANITIZER_THREADS
#define HOST_SANITIZER_THREADS 0
#endif

namespace host {

int thread_count() {
  DIR *dir = opendir("/proc/self/task");
  if (dir == nullptr) return -1;
  int n = 0;
  while (struct dirent *entry = readdir(dir))
    if (entry->d_name[0] != '.') ++n;
  closedir(dir);
  return n;
}

std::string thread_names() {
  std::string names;
  DIR *dir = opendir("/proc/self/task");
  if (dir == nullptr) return names;
  while (struct dirent *entry = readdir(dir)) {
    if (entry->d_name[0] == '.') continue;
    std::ifstream comm(std::string("/proc/self/task/") + entry->d_name + "/comm");
    std::string name;
    std::getline(comm, name);
    names += (names.empty() ? "" : ", ") + name;
  }
  closedir(dir);
  return names;
}

int end_library(const Library &lib, int allowed_threads) {
  if (lib.handle == nullptr) return 0;
  using EndFn = nsresult (*)();
  auto end = reinterpret_cast<EndFn>(dlsym(lib.handle, "ZelControlPoint2XPComShutdown"));
  if (end == nullptr) return 0;  // a component without one (the test component): nothing to check
  const int before = thread_count();
  auto start = std::chrono::steady_clock::now();
  nsresult rv = end();
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
  const int after = thread_count();
  emit(Record("shutdown").str("result", result_name(rv)).num("ms", ms).num("threads_before", before)
           .num("threads", after));
  int failures = 0;
  if (NS_FAILED(rv)) {
    say("error", "the library's clean end failed: " + result_name(rv));
    ++failures;
  }
  allowed_threads += HOST_SANITIZER_THREADS;
  if (after > allowed_threads) {
    say("error", std::to_string(after) + " threads left after the library's clean end (" +
                     std::to_string(allowed_threads) + " expected): " + thread_names());
    ++failures;
  }
  return failures;
}

}  // namespace host
