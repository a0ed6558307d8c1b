// The library's clean end (see host_shutdown.h).
#include "host_shutdown.h"

#include <dirent.h>
#include <dlfcn.h>

#include <chrono>
#include <cstring>

#include "host_output.h"
#include "host_slots.h"

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
  if (after > allowed_threads) {
    say("error", std::to_string(after) + " threads left after the library's clean end (" +
                     std::to_string(allowed_threads) + " expected)");
    ++failures;
  }
  return failures;
}

}  // namespace host
