// The remote-UI server list fed by the network callback.
#include "nmc/lm_nmc_ruis.h"

#include <mutex>

#include "base/upnp_log.h"
#include "cp/upnp_cp.h"

namespace {

// Guards the list and `open`: the network callback (control point threads)
// writes, readers copy.
std::mutex g_mutex;
std::vector<nmc_ruis_entry> g_list;
bool g_open = false;

}  // namespace

void nmc_ruis_start(void) {
  std::lock_guard<std::mutex> hold(g_mutex);
  g_list.clear();
  g_open = true;
}

void nmc_ruis_stop(void) {
  std::lock_guard<std::mutex> hold(g_mutex);
  g_list.clear();
  g_list.shrink_to_fit();
  g_open = false;
}

void nmc_ruis_added(int index, const char *name) {
  nmc_ruis_entry entry;
  char udn[256] = "";
  if (index < 0 || upnp_control_get_device_info(index, nullptr, 0, udn, sizeof udn, UPNP_CP_KIND_RUIS) != 0 ||
      udn[0] == '\0') {
    return;
  }
  entry.index = index;
  entry.udn = udn;
  entry.name = name != nullptr ? name : "";
  std::lock_guard<std::mutex> hold(g_mutex);
  if (!g_open) return;
  for (const nmc_ruis_entry &listed : g_list) {
    if (listed.udn == entry.udn) return;
  }
  try {
    g_list.push_back(std::move(entry));
  } catch (...) {
    upnp_log_impl(LOG_LEVEL_ERROR, LOG_SYSTEM, "nmc_ruis_added", "NMC: Out of memory adding remote-UI server");
  }
}

void nmc_ruis_removed(int index) {
  std::lock_guard<std::mutex> hold(g_mutex);
  for (auto it = g_list.begin(); it != g_list.end(); ++it) {
    if (it->index == index) {
      g_list.erase(it);
      return;
    }
  }
}

std::vector<nmc_ruis_entry> nmc_ruis_list(void) {
  std::lock_guard<std::mutex> hold(g_mutex);
  try {
    return g_list;
  } catch (...) {
    return {};
  }
}
