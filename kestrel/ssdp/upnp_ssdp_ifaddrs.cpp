// The machine's IPv4 addresses from getifaddrs (interfaces that are up), in
// the order the system lists them.
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include "ssdp/upnp_ssdp_internal.h"

std::vector<std::string> ssdp_platform_list_addresses(int max) {
  std::vector<std::string> addresses;
  struct ifaddrs *list = nullptr;
  if (getifaddrs(&list) != 0) return addresses;
  for (struct ifaddrs *at = list; at != nullptr && static_cast<int>(addresses.size()) < max; at = at->ifa_next) {
    if (at->ifa_addr == nullptr || at->ifa_addr->sa_family != AF_INET || (at->ifa_flags & IFF_UP) == 0) continue;
    const sockaddr_in *address = reinterpret_cast<const sockaddr_in *>(at->ifa_addr);
    char text[INET_ADDRSTRLEN];
    if (inet_ntop(AF_INET, &address->sin_addr, text, sizeof text) != nullptr) addresses.emplace_back(text);
  }
  freeifaddrs(list);
  return addresses;
}
