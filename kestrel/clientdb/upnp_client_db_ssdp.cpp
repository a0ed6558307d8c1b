// Recognition of network devices from their SSDP announcements: the device
// description is fetched once per UDN and run through the description
// marks of the client types.
#include <string.h>

#include <string>

#include "base/upnp_log.h"
#include "base/upnp_mac.h"
#include "base/upnp_mem.h"
#include "base/upnp_thread.h"
#include "base/upnp_xml.h"
#include "clientdb/upnp_client_db_internal.h"
#include "http/http_client.h"

cdb_fetch_function g_cdb_fetch = HTTP_get;

namespace {

bool occurs(const char *document, const std::string &mark) {
  return !mark.empty() && strstr(document, mark.c_str()) != nullptr;
}

// The description's friendly name and its first icon.
struct device_identity {
  std::string friendly_name, icon_url, icon_mime_type;
};

device_identity read_identity(const char *document) {
  device_identity id;
  upnp_xml_node *root = upnp_xml_parse(document);
  if (root == nullptr) return id;
  const char *name = upnp_xml_find_tag_value(root, "friendlyName");
  if (name != nullptr) id.friendly_name = name;
  upnp_xml_node *icon = upnp_xml_find_tag(root, "icon");
  if (icon != nullptr) {
    const char *mime = upnp_xml_find_tag_value(icon, "mimetype");
    const char *url = upnp_xml_find_tag_value(icon, "url");
    if (mime != nullptr) id.icon_mime_type = mime;
    if (url != nullptr) id.icon_url = url;
  }
  upnp_xml_release(root);
  return id;
}

char *copy_or_none(const std::string &text) { return text.empty() ? nullptr : cdb_dup(text.c_str()); }

}  // namespace

extern "C" int upnp_client_db_match_description(const char *document, uint32_t *type, int *fixation,
                                                char **first_mark, char **second_mark) {
  if (first_mark != nullptr) *first_mark = nullptr;
  if (second_mark != nullptr) *second_mark = nullptr;
  if (document == nullptr) return 0;
  for (int i = 0; i < g_clientTypeCount; ++i) {
    const upnp_client_type_keys &k = g_clientKeys[i];
    if (!occurs(document, k.dd)) continue;
    if (!k.d2.empty() && !occurs(document, k.d2)) continue;
    if (!k.d3.empty() && !occurs(document, k.d3)) continue;
    upnp_log_impl(LOG_LEVEL_TRACE, LOG_CLIENT_DB, __func__, "Found matching candidate for client using the dd id=%d", i);
    if (type != nullptr) *type = (uint32_t)i;
    if (fixation != nullptr) *fixation = k.fixation;
    if (first_mark != nullptr) *first_mark = copy_or_none(k.hh);
    if (second_mark != nullptr) *second_mark = copy_or_none(k.h2);
    return 1;
  }
  return 0;
}

extern "C" int upnp_client_db_check_device_description(const char *url, char **friendly_name, char **second_mark,
                                                       char **first_mark, char **icon_url, char **icon_mime_type,
                                                       uint32_t *type, int *fixation) {
  char **outs[] = {friendly_name, second_mark, first_mark, icon_url, icon_mime_type};
  for (char **o : outs) {
    if (o != nullptr) *o = nullptr;
  }
  if (url == nullptr || g_cdb_fetch == nullptr) return 0;
  upnp_log_impl(LOG_LEVEL_TRACE, LOG_CLIENT_DB, __func__, "Trying to fetch the device description from client (%s)", url);
  char *document = g_cdb_fetch(url);
  if (document == nullptr) return 0;
  upnp_log_impl(LOG_LEVEL_TRACE, LOG_CLIENT_DB, __func__, "Got device description from client\n%s", document);
  const device_identity id = read_identity(document);
  if (friendly_name != nullptr) *friendly_name = copy_or_none(id.friendly_name);
  if (icon_url != nullptr) *icon_url = copy_or_none(id.icon_url);
  if (icon_mime_type != nullptr) *icon_mime_type = copy_or_none(id.icon_mime_type);
  upnp_client_db_match_description(document, type, fixation, first_mark, second_mark);
  upnp_free_impl(document);
  return 1;
}

// Location URL, host and UDN of an announcement; false when one is missing.
static bool parse_announcement(const std::string &text, std::string &location, std::string &host, std::string &udn) {
  const char *start = text.c_str();
  const char *http = cdb_find_nocase(start, "http://");
  if (http == nullptr) return false;
  size_t n = 0;
  while (n < 255 && (unsigned char)http[n] > 0x20) ++n;
  location.assign(http, n);
  const char *h = http + 7;
  n = 0;
  while (n < 19 && h[n] != '\0' && h[n] != ':' && h[n] != '/') ++n;
  host.assign(h, n);
  const size_t host_end = host.find_first_of(" \t\r\n");
  if (host_end != std::string::npos) host.resize(host_end);

  const char *usn = cdb_find_nocase(start, "USN:");
  if (usn == nullptr) return false;
  const char *uuid = strstr(usn, "uuid:");
  if (uuid == nullptr) return false;
  // The UDN ends at the first ':' from its tenth character on.
  const size_t length = strlen(uuid);
  size_t end = length;
  for (size_t i = 10; i < length; ++i) {
    if (uuid[i] == ':') {
      end = i;
      break;
    }
  }
  udn.assign(uuid, end);
  const size_t line_end = udn.find_first_of("\r\n");
  if (line_end != std::string::npos) udn.resize(line_end);
  return !udn.empty() && udn.find("RemoteUI-Client-Embedded-Device") == std::string::npos;
}

extern "C" void upnp_client_db_check_client(const char *announcement) {
  if (announcement == nullptr) return;
  const std::string text(announcement, strnlen(announcement, 1023));
  std::string location, host, udn;
  if (!parse_announcement(text, location, host, udn) || host.empty()) return;
  char mac[UPNP_MAC_TEXT_SIZE] = "";
  if (g_cdb_mac_lookup == nullptr || !g_cdb_mac_lookup(host.c_str(), mac)) return;

  // Each device is examined once per run.
  cdb_lock();
  for (upnp_discovered_udn *u = g_pDiscoveredUDNs; u != nullptr; u = u->next) {
    if (strcmp(u->udn, udn.c_str()) == 0) {
      cdb_unlock();
      return;
    }
  }
  upnp_discovered_udn *entry = (upnp_discovered_udn *)upnp_calloc_impl(1, sizeof(upnp_discovered_udn));
  if (entry != nullptr) entry->udn = cdb_dup(udn.c_str());
  if (entry == nullptr || entry->udn == nullptr) {
    upnp_free_impl(entry);
    cdb_unlock();
    return;
  }
  entry->next = g_pDiscoveredUDNs;
  g_pDiscoveredUDNs = entry;
  cdb_unlock();

  char *name = nullptr, *second = nullptr, *first = nullptr, *icon_url = nullptr, *icon_mime = nullptr;
  // The out type is set only on a match: start from a value no slot has.
  uint32_t type = UPNP_CLIENT_DB_MAX_TYPES;
  int fixation = 0;
  const int fetched = upnp_client_db_check_device_description(location.c_str(), &name, &second, &first, &icon_url,
                                                              &icon_mime, &type, &fixation);
  const bool matched = fetched && type < UPNP_CLIENT_DB_MAX_TYPES;
  if (matched) {
    cdb_lock();
    upnp_known_client *c = g_pClients;
    while (c != nullptr && !(c->ip != nullptr && strcmp(c->ip, host.c_str()) == 0)) c = c->next;
    const bool created = c == nullptr;
    if (created) c = cdb_client_new();
    if (c != nullptr) {
      cdb_set_text(&c->friendly_name, name);
      cdb_set_text(&c->icon_url, icon_url);
      cdb_set_text(&c->icon_mime_type, icon_mime);
      cdb_set_text(&c->first_mark, first);
      cdb_set_text(&c->second_mark, second);
      cdb_set_text(&c->mac, mac);
      cdb_set_text(&c->udn, udn.c_str());
      c->type = type;
      c->fixation = fixation;
      upnp_free_impl(c->view);
      c->view = upnp_client_db_dv(type);
      if (created) {
        cdb_set_text(&c->ip, host.c_str());
        c->active = 1;
        c->enabled = g_bClientAutoenable;
        c->next = g_pClients;
        g_pClients = c;
      } else {
        cdb_move_to_head(c);
      }
    }
    cdb_unlock();
    client_table_write();
  }
  char *texts[] = {name, second, first, icon_url, icon_mime};
  for (char *t : texts) upnp_free_impl(t);
}

static void *check_client_thread(void *argument) {
  upnp_init_thread("CDB_check_client");
  char *copy = (char *)argument;
  upnp_client_db_check_client(copy);
  upnp_free_impl(copy);
  return nullptr;
}

extern "C" void upnp_client_db_add_by_ssdp_alive(const char *announcement) {
  if (announcement == nullptr) return;
  char *copy = upnp_strdup_impl(announcement);
  if (copy == nullptr) {
    upnp_log_impl(LOG_LEVEL_WARNING, LOG_CLIENT_DB, __func__, "Out of memory");
    return;
  }
  if (!upnp_start_detached_thread(check_client_thread, copy, UPNP_THREAD_LEVEL_DEFAULT)) upnp_free_impl(copy);
}
