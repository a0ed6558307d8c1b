// The interface table and the choice of addresses it is built from.
#include "ssdp/upnp_ssdp_interfaces.h"

#include <cstring>
#include <mutex>

#include "base/upnp_ini_file.h"
#include "ssdp/upnp_ssdp_internal.h"

upnp_interface_entry g_Interfaces[UPNP_MAX_INTERFACES];
std::atomic<int> g_nInterfaceCount{0};

namespace {

std::mutex g_table_mutex;
std::atomic<ssdp_address_source> g_address_source{nullptr};

}  // namespace

void upnp_interfaces_lock(void) { g_table_mutex.lock(); }
void upnp_interfaces_unlock(void) { g_table_mutex.unlock(); }

int upnp_interfaces_snapshot(upnp_interface_info *out, int max) {
  std::lock_guard<std::mutex> hold(g_table_mutex);
  int count = 0;
  for (const upnp_interface_entry &entry : g_Interfaces) {
    if (entry.address[0] == '\0' || count >= max) continue;
    std::memcpy(out[count].address, entry.address, sizeof out[count].address);
    out[count].http_port = entry.http_port;
    ++count;
  }
  return count;
}

void upnp_ssdp_set_address_source(ssdp_address_source source) { g_address_source.store(source); }

std::vector<std::string> ssdp_list_addresses(int max) {
  ssdp_address_source source = g_address_source.load();
  std::vector<std::string> addresses = source != nullptr ? source(max) : ssdp_platform_list_addresses(max);
  if (static_cast<int>(addresses.size()) > max) addresses.resize(static_cast<size_t>(max));
  return addresses;
}

std::vector<std::string> ssdp_collect_addresses(void) {
  const char *configured = upnp_ini_file_getString(INI_IP);
  if (configured != nullptr && configured[0] != '\0') {
    std::string ip(configured, strnlen(configured, UPNP_IP_TEXT_SIZE - 1));
    return {ip};
  }
  std::vector<std::string> addresses = ssdp_list_addresses(UPNP_MAX_INTERFACES);
  if (addresses.empty()) addresses.push_back("127.0.0.1");
  return addresses;
}
