// Run state of the library's server as seen by the lock helpers.
#include "base/upnp_server_state.h"

#include <atomic>

namespace {
std::atomic<int> g_state{UPNP_SERVER_RUNNING};
}

extern "C" int upnp_server_get_state(void) { return g_state.load(std::memory_order_acquire); }

extern "C" void upnp_server_set_state(int state) { g_state.store(state, std::memory_order_release); }

extern "C" int upnp_server_is_active(void) {
  int state = upnp_server_get_state();
  return state == UPNP_SERVER_RUNNING || state == UPNP_SERVER_RESTARTING;
}
