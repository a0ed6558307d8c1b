// The critical path's last step: hand the exit to the application when it has
// taken it over, otherwise end the process.
#include "base/upnp_exit.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace {
std::atomic<upnp_exit_function> g_exit_function{nullptr};
}

extern "C" void register_upnp_exit_function(upnp_exit_function function) {
  g_exit_function.store(function, std::memory_order_release);
}

extern "C" void upnp_exit(int status) {
  upnp_exit_function function = g_exit_function.load(std::memory_order_acquire);
  if (function != nullptr) {
    function(status);
    return;
  }
  std::fflush(nullptr);
  std::exit(status);
}
