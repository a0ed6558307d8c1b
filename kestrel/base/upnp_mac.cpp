// MAC address of a neighbour: the system's neighbour table, read again after
// one echo request when the address is not in it yet.
#include "base/upnp_mac.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

#include "base/upnp_mac_platform.h"

namespace {

bool parse_mac(const std::string &token, unsigned int groups[6]) {
  size_t at = 0;
  for (int g = 0; g < 6; ++g) {
    size_t digits = 0;
    unsigned int value = 0;
    while (at < token.size() && digits < 3 && std::isxdigit(static_cast<unsigned char>(token[at]))) {
      char c = static_cast<char>(std::tolower(static_cast<unsigned char>(token[at])));
      value = value * 16 + static_cast<unsigned int>(c <= '9' ? c - '0' : c - 'a' + 10);
      ++digits;
      ++at;
    }
    if (digits == 0 || digits > 2) return false;
    groups[g] = value;
    if (g < 5) {
      if (at >= token.size() || token[at] != ':') return false;
      ++at;
    }
  }
  return at == token.size();
}

bool lookup(const char *address, char *mac) {
  std::string table;
  return upnp_mac_platform_read_table(&table) && upnp_mac_find_in_table(table.c_str(), address, mac) == 1;
}

}  // namespace

int upnp_mac_is_dotted_ipv4(const char *address) {
  if (address == nullptr) return 0;
  const char *p = address;
  for (int part = 0; part < 4; ++part) {
    int digits = 0;
    unsigned int value = 0;
    while (std::isdigit(static_cast<unsigned char>(*p)) && digits < 4) {
      value = value * 10 + static_cast<unsigned int>(*p - '0');
      ++digits;
      ++p;
    }
    if (digits == 0 || digits > 3 || value > 255) return 0;
    if (part < 3) {
      if (*p != '.') return 0;
      ++p;
    }
  }
  return *p == '\0' ? 1 : 0;
}

int upnp_mac_find_in_table(const char *table, const char *address, char *mac) {
  if (mac != nullptr) mac[0] = '\0';
  if (table == nullptr || address == nullptr || address[0] == '\0' || mac == nullptr) return 0;
  const std::string plain = address;
  const std::string bracketed = "(" + plain + ")";
  const char *line = table;
  while (*line != '\0') {
    const char *end = std::strchr(line, '\n');
    if (end == nullptr) end = line + std::strlen(line);
    bool named = false;
    const char *p = line;
    while (p < end) {
      while (p < end && std::isspace(static_cast<unsigned char>(*p))) ++p;
      const char *start = p;
      while (p < end && !std::isspace(static_cast<unsigned char>(*p))) ++p;
      if (start == p) break;
      std::string token(start, p);
      if (!named) {
        named = token == plain || token == bracketed;
        continue;
      }
      unsigned int groups[6];
      if (!parse_mac(token, groups)) continue;
      if ((groups[0] | groups[1] | groups[2] | groups[3] | groups[4] | groups[5]) == 0) return 0;
      std::snprintf(mac, 18, "%02X:%02X:%02X:%02X:%02X:%02X", groups[0], groups[1], groups[2], groups[3], groups[4],
                    groups[5]);
      return 1;
    }
    if (named) return 0;  // the first line naming the address decides
    line = *end == '\n' ? end + 1 : end;
  }
  return 0;
}

extern "C" int GetMACaddress(const char *address, char *mac) {
  if (mac != nullptr) mac[0] = '\0';
  if (mac == nullptr || address == nullptr || address[0] == '\0' || std::strcmp(address, "127.0.0.1") == 0 ||
      !upnp_mac_is_dotted_ipv4(address)) {
    return 0;
  }
  if (lookup(address, mac)) return 1;
  upnp_mac_platform_send_echo(address);
  if (lookup(address, mac)) return 1;
  mac[0] = '\0';
  return 0;
}
