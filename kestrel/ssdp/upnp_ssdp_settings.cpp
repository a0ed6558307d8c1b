// Search switches and timing, and the control point's set-up of SSDP.
#include <atomic>

#include "base/upnp_ini_file.h"
#include "ssdp/upnp_ssdp_internal.h"

SsdpSearchSettings g_ssdp_search;

namespace {

std::atomic<int> g_control_point{0};

// A property the store does not hold leaves the built-in value.
void read_property(unsigned int key, void (*set)(int)) {
  if (upnp_ini_file_getString(key) != nullptr) set(upnp_ini_file_getInt(key));
}

unsigned int seconds_to_ms(int seconds) { return seconds > 0 ? static_cast<unsigned int>(seconds) * 1000u : 0u; }

}  // namespace

extern "C" void upnp_cp_ssdp_init(int flag) {
  if (flag == 0) g_control_point.store(1);
  if (upnp_ssdp_handler_is_registered(SSDP_cp_handler)) return;
  read_property(INI_MSEARCH_INTERVAL, upnp_ssdp_set_msearch_interval);
  read_property(INI_MSEARCH_START_INTERVAL, upnp_ssdp_set_msearch_initial_interval);
  read_property(INI_MSEARCH_QUICK, upnp_ssdp_set_enable_quick_msearches);
  upnp_ssdp_register_handler(SSDP_cp_handler, "Controlpoint");
}

extern "C" int upnp_ssdp_is_control_point(void) { return g_control_point.load(); }

extern "C" void upnp_ssdp_enable_search_dms(int flag) { g_ssdp_search.dms.store(flag != 0); }
extern "C" void upnp_ssdp_enable_search_dmr(int flag) { g_ssdp_search.dmr.store(flag != 0); }
extern "C" void upnp_ssdp_enable_search_remoteui_server(int flag) { g_ssdp_search.remoteui_server.store(flag != 0); }
extern "C" void upnp_ssdp_enable_search_remoteui_client(int flag) { g_ssdp_search.remoteui_client.store(flag != 0); }
extern "C" void upnp_ssdp_enable_search_igd(int flag) { g_ssdp_search.igd.store(flag != 0); }
extern "C" int upnp_ssdp_search_dms_is_enabled(void) { return g_ssdp_search.dms.load(); }
extern "C" int upnp_ssdp_search_dmr_is_enabled(void) { return g_ssdp_search.dmr.load(); }
extern "C" int upnp_ssdp_search_remoteui_server_is_enabled(void) { return g_ssdp_search.remoteui_server.load(); }
extern "C" int upnp_ssdp_search_remoteui_client_is_enabled(void) { return g_ssdp_search.remoteui_client.load(); }
extern "C" int upnp_ssdp_search_igd_is_enabled(void) { return g_ssdp_search.igd.load(); }

extern "C" void upnp_ssdp_set_msearch_interval(int seconds) {
  g_ssdp_search.repeat_interval_ms.store(seconds_to_ms(seconds));
}
extern "C" int upnp_ssdp_get_msearch_interval(void) {
  return static_cast<int>(g_ssdp_search.repeat_interval_ms.load() / 1000u);
}
extern "C" void upnp_ssdp_set_msearch_initial_interval(int seconds) {
  g_ssdp_search.initial_interval_ms.store(seconds_to_ms(seconds));
}
extern "C" int upnp_ssdp_get_msearch_initial_interval(void) {
  return static_cast<int>(g_ssdp_search.initial_interval_ms.load() / 1000u);
}
extern "C" void upnp_ssdp_set_enable_quick_msearches(int flag) { g_ssdp_search.quick.store(flag != 0); }
extern "C" int upnp_ssdp_get_enable_quick_msearches(void) { return g_ssdp_search.quick.load(); }
