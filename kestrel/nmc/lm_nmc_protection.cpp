// Content protection hooks at the controller's start and stop.
#include "nmc/lm_nmc_protection.h"

#include <cstdio>
#include <mutex>

namespace {

// Set by the application's side of the library, read by start and stop;
// copied out under the lock so that no hook runs with it held.
std::mutex g_mutex;
nmc_protection_hooks g_hooks = {nullptr, nullptr, nullptr};

nmc_protection_hooks current(void) {
  std::lock_guard<std::mutex> hold(g_mutex);
  return g_hooks;
}

}  // namespace

void nmc_set_protection_hooks(const nmc_protection_hooks *hooks) {
  std::lock_guard<std::mutex> hold(g_mutex);
  g_hooks = hooks != nullptr ? *hooks : nmc_protection_hooks{nullptr, nullptr, nullptr};
}

void nmc_protection_start(void) {
  const nmc_protection_hooks hooks = current();
  if (hooks.init_source != nullptr) {
    int error = hooks.init_source();
    if (error != 0) std::printf("dtcp_init_source() failed, error code=%d\n", error);
  }
  if (hooks.server_start != nullptr) {
    int error = hooks.server_start();
    if (error != 0) std::printf("dtcp_server_start() failed, error code=%d\n", error);
  }
}

void nmc_protection_exit(void) {
  const nmc_protection_hooks hooks = current();
  if (hooks.exit != nullptr) hooks.exit();
}
