// The control point's SSDP handler: NOTIFY alive and byebye announcements
// and search responses become calls of the device table.
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

#include "base/upnp_log.h"
#include "ssdp/upnp_control_record.h"
#include "ssdp/upnp_ssdp_internal.h"

namespace {

constexpr unsigned int kDefaultValidity = 1800;
constexpr unsigned int kMinValidity = 60;
// Larger max-age values are taken as this many seconds (about 31 years).
constexpr unsigned long kMaxValidity = 999999999UL;

const char *find_ci(const char *text, const char *what) {
  size_t length = std::strlen(what);
  for (const char *p = text; *p != '\0'; ++p) {
    if (strncasecmp(p, what, length) == 0) return p;
  }
  return nullptr;
}

bool starts_with_ci(const char *text, const char *prefix) { return strncasecmp(text, prefix, std::strlen(prefix)) == 0; }

// The value of the header field `name` (field names are matched ignoring
// case): from after the colon and its blanks to the end of the line, with
// trailing control characters and blanks dropped. false when missing.
bool field_value(const char *message, const char *name, std::string *value) {
  std::string key = std::string("\r\n") + name + ":";
  const char *at = find_ci(message, key.c_str());
  if (at == nullptr) return false;
  at += key.size();
  while (*at == ' ' || *at == '\t') ++at;
  const char *end = at;
  while (*end != '\0' && *end != '\r' && *end != '\n') ++end;
  while (end > at && static_cast<unsigned char>(end[-1]) <= ' ') --end;
  value->assign(at, end);
  return true;
}

// USN up to "::" (the uuid part).
std::string udn_of(const std::string &usn) {
  size_t cut = usn.find("::");
  return cut == std::string::npos ? usn : usn.substr(0, cut);
}

unsigned int validity_of(const char *message) {
  const char *at = find_ci(message, "\r\nCACHE-CONTROL:");
  if (at == nullptr) return kDefaultValidity;
  at += std::strlen("\r\nCACHE-CONTROL:");
  while (*at == ' ' || *at == '\t') ++at;
  if (!starts_with_ci(at, "max-age")) return kDefaultValidity;
  at += std::strlen("max-age");
  while (*at == ' ' || *at == '\t') ++at;
  if (*at != '=') return kDefaultValidity;
  ++at;
  while (*at == ' ' || *at == '\t') ++at;
  if (!std::isdigit(static_cast<unsigned char>(*at))) return kDefaultValidity;
  unsigned long seconds = 0;
  for (; std::isdigit(static_cast<unsigned char>(*at)); ++at) {
    seconds = seconds * 10 + static_cast<unsigned long>(*at - '0');
    if (seconds > kMaxValidity) seconds = kMaxValidity;
  }
  return seconds < kMinValidity ? kDefaultValidity : static_cast<unsigned int>(seconds);
}

int kind_of(const std::string &type) {
  const char *t = type.c_str();
  if (starts_with_ci(t, "urn:schemas-upnp-org:device:MediaServer")) {
    return upnp_ssdp_search_dms_is_enabled() ? UPNP_KIND_MEDIA_SERVER : 0;
  }
  if (starts_with_ci(t, "urn:schemas-upnp-org:device:MediaRenderer")) {
    return upnp_ssdp_search_dmr_is_enabled() ? UPNP_KIND_MEDIA_RENDERER : 0;
  }
  if (starts_with_ci(t, "urn:schemas-upnp-org:device:RemoteUIServer")) {
    return upnp_ssdp_search_remoteui_server_is_enabled() ? UPNP_KIND_REMOTE_UI_SERVER : 0;
  }
  return 0;
}

void log_missing(const char *what) {
  upnp_log_impl(LOG_LEVEL_DEBUG, LOG_SSDP, "SSDP_cp_handler", "\"%s\" entry not found in SSDP packet", what);
}

void add_device(const char *message, const std::string &type, upnp_interface_entry *entry) {
  int kind = kind_of(type);
  if (kind == 0) return;
  if (entry == nullptr || entry->address[0] == '\0' || entry->http_port == 0) return;
  std::string location, usn;
  if (!field_value(message, "LOCATION", &location) || location.empty()) {
    upnp_log_impl(LOG_LEVEL_DEBUG, LOG_SSDP, "SSDP_cp_handler", "%s not found in SSDP message", "LOCATION");
    return;
  }
  if (!field_value(message, "USN", &usn) || udn_of(usn).empty()) {
    upnp_log_impl(LOG_LEVEL_DEBUG, LOG_SSDP, "SSDP_cp_handler", "%s not found in SSDP message", "USN");
    return;
  }
  char interface[UPNP_IP_TEXT_SIZE + 16];
  std::snprintf(interface, sizeof interface, "%s:%d", entry->address, static_cast<int>(entry->http_port));
  upnp_control_add_device(location.c_str(), udn_of(usn).c_str(), interface, validity_of(message), kind);
}

void handle_notify(const char *message, upnp_interface_entry *entry) {
  upnp_log_impl(LOG_LEVEL_DEBUG, LOG_SSDP, "SSDP_cp_handler", "### SSDP CP handler received multicast SSDP:\n%s",
                message);
  if (std::strstr(message, "HTTP/1.1") == nullptr) {
    upnp_log_impl(LOG_LEVEL_DEBUG, LOG_SSDP, "SSDP_cp_handler", "Not an HTTP/1.1 notification");
    return;
  }
  std::string nts;
  if (!field_value(message, "NTS", &nts)) {
    log_missing("NTS:");
    return;
  }
  if (strcasecmp(nts.c_str(), "ssdp:alive") == 0) {
    if (find_ci(message, "\r\nSERVER:") == nullptr) {
      log_missing("SERVER:");
      return;
    }
    std::string type;
    if (field_value(message, "NT", &type)) add_device(message, type, entry);
    return;
  }
  if (strcasecmp(nts.c_str(), "ssdp:byebye") == 0) {
    std::string usn;
    if (!field_value(message, "USN", &usn) || udn_of(usn).empty()) {
      upnp_log_impl(LOG_LEVEL_DEBUG, LOG_SSDP, "SSDP_cp_handler", "USN not found in SSDP packet");
      return;
    }
    const std::string udn = udn_of(usn);
    if (upnp_control_delete_device(udn.c_str(), UPNP_KIND_MEDIA_RENDERER) == 0 &&
        upnp_control_delete_device(udn.c_str(), UPNP_KIND_MEDIA_SERVER) == 0) {
      upnp_control_delete_device(udn.c_str(), UPNP_KIND_REMOTE_UI_SERVER);
    }
    return;
  }
  upnp_log_impl(LOG_LEVEL_DEBUG, LOG_SSDP, "SSDP_cp_handler", "Unknown SSDP notification");
}

}  // namespace

extern "C" void SSDP_cp_handler(const char *message, struct upnp_interface_entry *entry, const char * /*address*/,
                                int /*port*/) {
  if (message == nullptr) return;
  if (starts_with_ci(message, "NOTIFY")) {
    handle_notify(message, entry);
    return;
  }
  if (std::strncmp(message, "HTTP/1.1", 8) == 0) {
    upnp_log_impl(LOG_LEVEL_DEBUG, LOG_SSDP, "SSDP_cp_handler", "### SSDP CP handler received MSearch response:\n%s",
                  message);
    if (find_ci(message, "\r\nSERVER:") == nullptr) {
      log_missing("SERVER:");
      return;
    }
    std::string type;
    if (field_value(message, "ST", &type)) add_device(message, type, entry);
  }
}
