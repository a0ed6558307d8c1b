// The handler table: every datagram goes to each registered handler in
// registration order.
#include <atomic>
#include <mutex>

#include "base/upnp_log.h"
#include "ssdp/upnp_ssdp_internal.h"

namespace {

struct Handler {
  std::atomic<upnp_ssdp_handler> function{nullptr};
};

Handler g_handlers[SSDP_MAX_HANDLERS];
// Entries below the count are complete; registration appends under the
// mutex and publishes the new count last, so dispatch needs no lock.
std::atomic<int> g_handler_count{0};
std::mutex g_register_mutex;

}  // namespace

extern "C" int upnp_ssdp_register_handler(upnp_ssdp_handler handler, const char *name) {
  const char *label = name != nullptr ? name : "";
  if (handler == nullptr) {
    upnp_log_impl(LOG_LEVEL_ERROR, LOG_SSDP, "upnp_ssdp_register_handler", "missing handler function for %s", label);
    return 0;
  }
  std::lock_guard<std::mutex> hold(g_register_mutex);
  int count = g_handler_count.load(std::memory_order_relaxed);
  if (count >= SSDP_MAX_HANDLERS) {
    upnp_log_impl(LOG_LEVEL_ERROR, LOG_SSDP, "upnp_ssdp_register_handler", "Too many callback handlers registered");
    return 0;
  }
  g_handlers[count].function.store(handler, std::memory_order_relaxed);
  g_handler_count.store(count + 1, std::memory_order_release);
  upnp_log_impl(LOG_LEVEL_INFO, LOG_SSDP, "upnp_ssdp_register_handler", "registered handler %s", label);
  return 1;
}

extern "C" int upnp_ssdp_handler_is_registered(upnp_ssdp_handler handler) {
  int count = g_handler_count.load(std::memory_order_acquire);
  for (int i = 0; i < count; ++i) {
    if (g_handlers[i].function.load(std::memory_order_relaxed) == handler) return 1;
  }
  return 0;
}

extern "C" void upnp_ssdp_dispatch(const char *message, struct upnp_interface_entry *entry, const char *address,
                                   int port) {
  int count = g_handler_count.load(std::memory_order_acquire);
  for (int i = 0; i < count; ++i) {
    upnp_ssdp_handler handler = g_handlers[i].function.load(std::memory_order_relaxed);
    if (handler != nullptr) handler(message, entry, address, port);
  }
}
