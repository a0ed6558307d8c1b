// The local network prefixes (the dotted address of each IPv4 interface up
// to and including its last '.'), behind the network lock.
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>

#include <cctype>
#include <cstring>
#include <strings.h>

#include "base/upnp_critsec.h"
#include "cp/upnp_cp_internal.h"

namespace {

constexpr int kMaxPrefixes = 16;
constexpr size_t kPrefixSize = 16;

CRITICAL_SECTION g_net_lock;
bool g_net_lock_ready = false;
char g_prefixes[kMaxPrefixes][kPrefixSize];
int g_prefix_count = 0;

}  // namespace

void cp_net_lock_init(void) {
  if (g_net_lock_ready) return;
  InitializeCriticalSection(&g_net_lock);
  g_net_lock_ready = true;
}

void cp_net_lock_exit(void) {
  if (!g_net_lock_ready) return;
  g_net_lock_ready = false;
  DeleteCriticalSection(&g_net_lock);
  g_prefix_count = 0;
}

extern "C" void upnp_cp_update_network_prefixes(void) {
  if (!g_net_lock_ready) return;
  char found[kMaxPrefixes][kPrefixSize];
  int count = 0;
  struct ifaddrs *list = nullptr;
  if (getifaddrs(&list) == 0) {
    for (struct ifaddrs *a = list; a != nullptr && count < kMaxPrefixes; a = a->ifa_next) {
      if (a->ifa_addr == nullptr || a->ifa_addr->sa_family != AF_INET) continue;
      char text[INET_ADDRSTRLEN];
      const struct sockaddr_in *in = reinterpret_cast<const struct sockaddr_in *>(a->ifa_addr);
      if (inet_ntop(AF_INET, &in->sin_addr, text, sizeof text) == nullptr) continue;
      char *dot = std::strrchr(text, '.');
      if (dot == nullptr) continue;
      dot[1] = '\0';
      bool known = false;
      for (int i = 0; i < count; ++i) known = known || std::strcmp(found[i], text) == 0;
      if (!known) std::memcpy(found[count++], text, std::strlen(text) + 1);
    }
    freeifaddrs(list);
  }
  EnterCriticalSection(&g_net_lock);
  std::memcpy(g_prefixes, found, sizeof found);
  g_prefix_count = count;
  LeaveCriticalSection(&g_net_lock);
}

extern "C" int upnp_cp_is_home_network_http_url(const char *url) {
  if (url == nullptr || strncasecmp(url, "http://", 7) != 0) return 0;
  const char *host = url + 7;
  if (!std::isdigit(static_cast<unsigned char>(*host))) return 0;
  if (!g_net_lock_ready) return 0;
  int result = 0;
  EnterCriticalSection(&g_net_lock);
  for (int i = 0; i < g_prefix_count && result == 0; ++i) {
    if (std::strncmp(host, g_prefixes[i], std::strlen(g_prefixes[i])) == 0) result = 1;
  }
  LeaveCriticalSection(&g_net_lock);
  return result;
}
