// The known-clients list: records, their listing format and the
// administration calls (access flags, manual entries, deletion).
#include <ctype.h>
#include <stddef.h>
#include <stdio.h>
#include <string.h>
#include <strings.h>

#include <string>

#include "base/upnp_local_addr.h"
#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "clientdb/upnp_client_db_internal.h"

upnp_known_client *g_pClients;
upnp_discovered_udn *g_pDiscoveredUDNs;
int32_t g_bClientAutoenable = 1;

upnp_known_client *cdb_client_new(void) {
  return (upnp_known_client *)upnp_calloc_impl(1, sizeof(upnp_known_client));
}

void cdb_client_free(upnp_known_client *c) {
  if (c == nullptr) return;
  char **texts[] = {&c->ip,       &c->first_mark,     &c->second_mark, &c->friendly_name, &c->mac,
                    &c->icon_url, &c->icon_mime_type, &c->udn,         &c->view};
  for (char **t : texts) upnp_free_impl(*t);
  upnp_free_impl(c);
}

void cdb_clients_free_all(void) {
  upnp_known_client *c = g_pClients;
  g_pClients = nullptr;
  while (c != nullptr) {
    upnp_known_client *next = c->next;
    cdb_client_free(c);
    c = next;
  }
}

void cdb_udns_free_all(void) {
  upnp_discovered_udn *u = g_pDiscoveredUDNs;
  g_pDiscoveredUDNs = nullptr;
  while (u != nullptr) {
    upnp_discovered_udn *next = u->next;
    upnp_free_impl(u->udn);
    upnp_free_impl(u);
    u = next;
  }
}

void cdb_move_to_head(upnp_known_client *client) {
  if (client == nullptr || g_pClients == client) return;
  for (upnp_known_client **link = &g_pClients; *link != nullptr; link = &(*link)->next) {
    if (*link == client) {
      *link = client->next;
      client->next = g_pClients;
      g_pClients = client;
      return;
    }
  }
}

void cdb_client_set_type(upnp_known_client *client, uint32_t type, int fixation, const char *first_mark,
                         const char *second_mark, const char *name) {
  client->type = type;
  client->fixation = fixation;
  cdb_set_text(&client->first_mark, first_mark);
  cdb_set_text(&client->second_mark, second_mark);
  cdb_set_text(&client->friendly_name, name);
  upnp_free_impl(client->view);
  client->view = upnp_client_db_dv(type);
}

static void add_line(std::string &out, const char *text) {
  if (text != nullptr) out += text;
  out += '\n';
}

void upnp_print_client(std::string &out, const upnp_known_client *c) {
  char number[16];
  snprintf(number, sizeof number, "%d", (int)c->type);
  add_line(out, number);
  add_line(out, c->mac);
  add_line(out, c->ip);
  add_line(out, c->udn);
  snprintf(number, sizeof number, "%d", c->enabled);
  add_line(out, number);
  add_line(out, c->friendly_name);
  add_line(out, c->icon_url);
  add_line(out, c->icon_mime_type);
  add_line(out, c->view != nullptr ? c->view : g_strTreeDefaultView);
  char *dv = upnp_client_db_get_default_view(c->type);
  add_line(out, dv != nullptr ? "1" : "0");
  upnp_free_impl(dv);
  out += "##########\n";
}

static char *copy_or_none(const std::string &text) {
  return text.empty() ? nullptr : upnp_strdup_impl(text.c_str());
}

extern "C" int upnp_client_db_access_allowed(const char *ip) {
  if (ip == nullptr) return upnp_client_db_get_autoenable();
  if (is_local_ip(ip)) return 1;
  cdb_lock();
  int allowed = g_bClientAutoenable;
  for (upnp_known_client *c = g_pClients; c != nullptr; c = c->next) {
    if (c->ip != nullptr && strcmp(c->ip, ip) == 0) {
      allowed = c->enabled;
      break;
    }
  }
  cdb_unlock();
  return allowed;
}

extern "C" void upnp_client_db_set_autoenable(int flag) {
  cdb_lock();
  g_bClientAutoenable = flag;
  cdb_unlock();
}

extern "C" int upnp_client_db_get_autoenable(void) {
  cdb_lock();
  const int flag = g_bClientAutoenable;
  cdb_unlock();
  return flag;
}

static char *enable_by(size_t field_offset, const char *text, int flag) {
  if (text == nullptr) return nullptr;
  std::string out;
  cdb_lock();
  for (upnp_known_client *c = g_pClients; c != nullptr; c = c->next) {
    const char *field = *(char *const *)((const char *)c + field_offset);
    if (field == nullptr || strcmp(field, text) != 0 || c->enabled == flag) continue;
    c->enabled = flag;
    upnp_print_client(out, c);
  }
  cdb_unlock();
  if (!out.empty()) client_table_write();
  return copy_or_none(out);
}

extern "C" char *upnp_client_enable_by_ip(const char *text, int flag) {
  return enable_by(offsetof(upnp_known_client, ip), text, flag);
}
extern "C" char *upnp_client_enable_by_mac(const char *text, int flag) {
  return enable_by(offsetof(upnp_known_client, mac), text, flag);
}
extern "C" char *upnp_client_enable_by_udn(const char *text, int flag) {
  return enable_by(offsetof(upnp_known_client, udn), text, flag);
}
extern "C" char *upnp_client_enable_by_friendlyname(const char *text, int flag) {
  return enable_by(offsetof(upnp_known_client, friendly_name), text, flag);
}

// "AA:BB:CC:DD:EE:FF": 17 characters, colons every third, hex digits else.
static bool valid_mac(const char *mac) {
  if (mac == nullptr || strlen(mac) != 17) return false;
  for (int i = 0; i < 17; ++i) {
    if (i % 3 == 2) {
      if (mac[i] != ':') return false;
    } else if (!isxdigit((unsigned char)mac[i])) {
      return false;
    }
  }
  return true;
}

extern "C" char *upnp_client_add(const char *mac_text, uint32_t type, int enabled, const char *view) {
  if (!valid_mac(mac_text)) {
    upnp_log_impl(LOG_LEVEL_INFO, LOG_CLIENT_DB, __func__, "\"%s\" is not a valid MAC adddress",
                  mac_text != nullptr ? mac_text : "");
    return upnp_strdup_impl("invalid MAC address");
  }
  char mac[18];
  for (int i = 0; i < 18; ++i) mac[i] = (char)toupper((unsigned char)mac_text[i]);
  const upnp_client_type_keys *keys = type < UPNP_CLIENT_DB_MAX_TYPES ? &g_clientKeys[type] : nullptr;
  const char *hh = keys != nullptr ? keys->hh.c_str() : nullptr;
  const char *h2 = keys != nullptr ? keys->h2.c_str() : nullptr;
  const char *name = keys != nullptr ? keys->name.c_str() : nullptr;
  bool changed = false;
  std::string out;
  cdb_lock();
  upnp_known_client *c = g_pClients;
  while (c != nullptr && (c->mac == nullptr || strcmp(c->mac, mac) != 0)) c = c->next;
  if (c != nullptr) {
    if (c->enabled != enabled) {
      c->enabled = enabled;
      changed = true;
    }
    if (c->type != type) {
      cdb_client_set_type(c, type, UPNP_CLIENT_FIX_FIXED, hh, h2, name);
      changed = true;
    } else if (view != nullptr && (c->view == nullptr || strcmp(c->view, view) != 0)) {
      // The default view is kept as "no view of its own".
      const char *stored = strcmp(view, g_strTreeDefaultView) == 0 ? nullptr : view;
      if (!(stored == nullptr && c->view == nullptr)) {
        cdb_set_text(&c->view, stored);
        changed = true;
      }
    }
  } else {
    c = cdb_client_new();
    if (c != nullptr) {
      cdb_set_text(&c->mac, mac);
      c->type = type;
      c->enabled = enabled;
      c->fixation = UPNP_CLIENT_FIX_FIXED;
      cdb_set_text(&c->first_mark, hh);
      cdb_set_text(&c->second_mark, h2);
      cdb_set_text(&c->friendly_name, name);
      c->next = g_pClients;
      g_pClients = c;
      changed = true;
    }
  }
  if (c != nullptr) upnp_print_client(out, c);
  cdb_unlock();
  if (changed) client_table_write();
  return copy_or_none(out);
}

extern "C" char *upnp_client_delete(const char *mac) {
  bool found = false;
  cdb_lock();
  for (upnp_known_client **link = &g_pClients; mac != nullptr && *link != nullptr; link = &(*link)->next) {
    upnp_known_client *c = *link;
    if (c->mac != nullptr && strcasecmp(c->mac, mac) == 0) {
      *link = c->next;
      cdb_client_free(c);
      found = true;
      break;
    }
  }
  cdb_unlock();
  if (found) client_table_write();
  return upnp_strdup_impl(found ? "deleted!" : "not found!");
}

extern "C" char *upnp_get_connected_client_list(void) {
  std::string out;
  cdb_lock();
  for (upnp_known_client *c = g_pClients; c != nullptr; c = c->next) upnp_print_client(out, c);
  cdb_unlock();
  return copy_or_none(out);
}

extern "C" char *upnp_client_get_friendlyname(uint32_t type) {
  char *name = nullptr;
  cdb_lock();
  for (upnp_known_client *c = g_pClients; c != nullptr; c = c->next) {
    if (c->type == type && c->friendly_name != nullptr) {
      name = upnp_strdup_impl(c->friendly_name);
      break;
    }
  }
  cdb_unlock();
  return name;
}

extern "C" char *upnp_client_db_get_table(void) {
  std::string out;
  for (int i = 0; i < UPNP_CLIENT_DB_MAX_TYPES; ++i) {
    if (g_clientDescription[i] == nullptr || g_clientKeys[i].name.empty()) continue;
    char number[8];
    snprintf(number, sizeof number, "%03d,", i);
    if (!out.empty()) out += ',';
    out += number;
    out += g_clientKeys[i].name;
  }
  return copy_or_none(out);
}

extern "C" int upnp_client_db_have_netgear_rtp_client(void) {
  int found = 0;
  cdb_lock();
  for (upnp_known_client *c = g_pClients; c != nullptr; c = c->next) {
    if (c->type == UPNP_CLIENT_DB_RTP_CLIENT_TYPE) {
      found = 1;
      break;
    }
  }
  cdb_unlock();
  return found;
}

extern "C" int upnp_client_db_type_count(void) { return g_clientTypeCount; }
