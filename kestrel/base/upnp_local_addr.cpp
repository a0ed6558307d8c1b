// The host's own addresses, as the network runtime's interface table lists
// them.
#include "base/upnp_local_addr.h"

#include <cctype>
#include <cstring>

#include "base/upnp_mem.h"
#include "ssdp/upnp_ssdp_interfaces.h"

namespace {

struct Interfaces {
  upnp_interface_info entries[UPNP_MAX_INTERFACES];
  int count;
  Interfaces() : count(upnp_interfaces_snapshot(entries, UPNP_MAX_INTERFACES)) {}
};

// Index of the matching entry, or an error code as a negative number.
int matching_entry(const Interfaces &interfaces, const char *address) {
  if (address == nullptr || !std::isdigit(static_cast<unsigned char>(address[0]))) return -2;
  const char *last_dot = std::strrchr(address, '.');
  if (last_dot == nullptr) return -14;
  size_t prefix = static_cast<size_t>(last_dot - address) + 1;
  for (int i = 0; i < interfaces.count; ++i) {
    if (std::strncmp(interfaces.entries[i].address, address, prefix) == 0) return i;
  }
  return -14;
}

}  // namespace

extern "C" int is_local_ip(const char *address) {
  if (address == nullptr) return 0;
  Interfaces interfaces;
  for (int i = 0; i < interfaces.count; ++i) {
    if (std::strcmp(interfaces.entries[i].address, address) == 0) return 1;
  }
  return 0;
}

extern "C" char *upnp_get_used_local_ip(const char *text) {
  if (text == nullptr) return nullptr;
  Interfaces interfaces;
  for (int i = 0; i < interfaces.count; ++i) {
    const char *address = interfaces.entries[i].address;
    size_t length = std::strlen(address);
    if (length == 0) continue;
    for (const char *at = std::strstr(text, address); at != nullptr; at = std::strstr(at + 1, address)) {
      if (!std::isdigit(static_cast<unsigned char>(at[length]))) return upnp_strdup_impl(address);
    }
  }
  return nullptr;
}

extern "C" int upnp_is_my_server(const char *address, unsigned int port) {
  if (address == nullptr) return 0;
  Interfaces interfaces;
  for (int i = 0; i < interfaces.count; ++i) {
    if (interfaces.entries[i].http_port == port && std::strcmp(interfaces.entries[i].address, address) == 0) return 1;
  }
  return 0;
}

extern "C" int upnp_get_matching_local_server(const char *address, char **local_address, unsigned int *port,
                                              int *reserved) {
  if (local_address != nullptr) *local_address = nullptr;
  if (port != nullptr) *port = 0;
  if (reserved != nullptr) *reserved = 0;
  Interfaces interfaces;
  int found = matching_entry(interfaces, address);
  if (found < 0) return -found;
  if (local_address != nullptr) {
    *local_address = upnp_strdup_impl(interfaces.entries[found].address);
    if (*local_address == nullptr) return 8;
  }
  if (port != nullptr) *port = interfaces.entries[found].http_port;
  return 0;
}

extern "C" int upnp_server_is_local_network(const char *address) {
  return upnp_get_matching_local_server(address, nullptr, nullptr, nullptr) == 0 ? 1 : 0;
}

extern "C" char *upnp_get_matching_local_ip(const char *address) {
  char *local = nullptr;
  if (upnp_get_matching_local_server(address, &local, nullptr, nullptr) != 0) return nullptr;
  return local;
}
