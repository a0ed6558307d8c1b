// Recognition of a client from its request headers: the header marks of
// the client types, the known-clients list by address, and browse
// parameters.
#include <string.h>
#include <strings.h>

#include <string>
#include <vector>

#include "base/upnp_log.h"
#include "base/upnp_mac.h"
#include "base/upnp_mem.h"
#include "clientdb/upnp_client_db_internal.h"

cdb_mac_lookup_function g_cdb_mac_lookup = GetMACaddress;

namespace {

struct header_match {
  bool found = false;
  uint32_t type = 0;
  int fixation = 0;
  const upnp_client_type_keys *keys = nullptr;
};

// Header recognition over the prepared keys: a fixed type wins at once,
// otherwise the last unfixed match in file order; slot 0 is never a result.
header_match match_header(const char *header) {
  header_match result;
  upnp_log_impl(LOG_LEVEL_TRACE, LOG_CLIENT_DB, "upnp_client_db_check_header",
                "Checking http header to find a matching client.db entry (%s)", header);
  const std::string lower = cdb_lower(header);
  int candidate = -1;
  for (int i = 0; i < g_clientTypeCount; ++i) {
    const upnp_client_type_keys &k = g_clientKeys[i];
    bool match;
    if (!k.hh_lower.empty()) {
      match = strstr(lower.c_str(), k.hh_lower.c_str()) != nullptr;
    } else {
      match = !k.h2.empty() && strstr(header, k.h2.c_str()) != nullptr;
    }
    if (!match) continue;
    upnp_log_impl(LOG_LEVEL_TRACE, LOG_CLIENT_DB, "upnp_client_db_check_header",
                  "Found matching candidate for client using the http header (%s) id=%d",
                  !k.hh.empty() ? k.hh.c_str() : k.h2.c_str(), i);
    if (k.fixation > 0) {
      result.found = true;
      result.type = (uint32_t)i;
      result.fixation = k.fixation;
      result.keys = &k;
      return result;
    }
    candidate = i;
  }
  if (candidate > 0) {
    result.found = true;
    result.type = (uint32_t)candidate;
    result.keys = &g_clientKeys[candidate];
  }
  return result;
}

const char *first_mark_of(const upnp_client_type_keys *k) {
  if (k == nullptr) return nullptr;
  return !k->hh.empty() ? k->hh.c_str() : k->h2.c_str();
}

const char *second_mark_of(const upnp_client_type_keys *k) { return k != nullptr ? k->h2.c_str() : nullptr; }

const char *name_of(const upnp_client_type_keys *k) { return k != nullptr ? k->name.c_str() : nullptr; }

bool mark_in_header(const upnp_known_client *c, const char *header) {
  return (c->first_mark != nullptr && strstr(header, c->first_mark) != nullptr) ||
         (c->second_mark != nullptr && strstr(header, c->second_mark) != nullptr);
}

bool same_text(const char *a, const char *b) { return a != nullptr && b != nullptr && strcmp(a, b) == 0; }

}  // namespace

extern "C" int upnp_client_db_check_header(const char *header, uint32_t *type, int *fixation, char **first_mark,
                                           char **second_mark, char **name) {
  if (fixation != nullptr) *fixation = 0;
  if (first_mark != nullptr) *first_mark = nullptr;
  if (second_mark != nullptr) *second_mark = nullptr;
  if (name != nullptr) *name = nullptr;
  if (header == nullptr) return 0;
  header_match m = match_header(header);
  if (!m.found) return 0;
  if (type != nullptr) *type = m.type;
  if (fixation != nullptr) *fixation = m.fixation;
  if (first_mark != nullptr && *first_mark_of(m.keys) != '\0') *first_mark = cdb_dup(first_mark_of(m.keys));
  if (second_mark != nullptr && !m.keys->h2.empty()) *second_mark = cdb_dup(m.keys->h2.c_str());
  if (name != nullptr && !m.keys->name.empty()) *name = cdb_dup(m.keys->name.c_str());
  return 1;
}

// Requests of the host itself for its own pages are nobody's.
static bool own_request(const char *header) {
  const char *end = strstr(header, "\r\n");
  const std::string line = end != nullptr ? std::string(header, (size_t)(end - header)) : std::string(header);
  if (line.find("/rpc/") != std::string::npos || line.find("/configpage/") != std::string::npos ||
      line.find("/resources/") != std::string::npos)
    return true;
  return strstr(header, "M-SEARCH") != nullptr || strstr(header, "Aggregation, LumetMedia") != nullptr;
}

extern "C" uint32_t upnp_client_db_add_by_ip(const char *local_url, const char *ip, const char *header) {
  if (ip == nullptr || *ip == '\0' || header == nullptr || *header == '\0' || local_url == nullptr) return 0;
  if (strstr(local_url, ip) != nullptr && own_request(header)) return 0;

  // Step 1: the active records of this address.
  uint32_t address_result = 0;
  bool checked = false;
  header_match by_header;
  cdb_lock();
  for (upnp_known_client *c = g_pClients; c != nullptr; c = c->next) {
    if (!c->active || !same_text(c->ip, ip)) continue;
    if (c->fixation == UPNP_CLIENT_FIX_FIXED) {
      const uint32_t type = c->type;
      cdb_unlock();
      return type;
    }
    if (c->fixation == UPNP_CLIENT_FIX_BY_MARK && mark_in_header(c, header)) {
      const uint32_t type = c->type;
      cdb_unlock();
      return type;
    }
    if (!checked) {
      by_header = match_header(header);
      checked = true;
    }
    if (by_header.found && by_header.type != c->type && (c->fixation == UPNP_CLIENT_FIX_AUTO || by_header.fixation > 0)) {
      cdb_client_set_type(c, by_header.type, by_header.fixation, first_mark_of(by_header.keys),
                          second_mark_of(by_header.keys), name_of(by_header.keys));
      cdb_move_to_head(c);
      const uint32_t type = c->type;
      cdb_unlock();
      client_table_write();
      return type;
    }
    if (c->fixation == UPNP_CLIENT_FIX_BY_MARK || address_result == 0) address_result = c->type;
  }
  cdb_unlock();
  if (address_result > 0) return address_result;

  // Step 2: the records of the address's MAC.
  char mac[UPNP_MAC_TEXT_SIZE] = "";
  if (g_cdb_mac_lookup == nullptr || !g_cdb_mac_lookup(ip, mac)) {
    if (!checked) by_header = match_header(header);
    return by_header.found ? by_header.type : UPNP_CLIENT_DB_FALLBACK_TYPE;
  }
  bool found_by_mac = false;
  cdb_lock();
  std::vector<upnp_known_client *> same_mac;
  for (upnp_known_client *c = g_pClients; c != nullptr; c = c->next) {
    if (same_text(c->mac, mac)) same_mac.push_back(c);
  }
  for (upnp_known_client *c : same_mac) {
    found_by_mac = true;
    if (!same_text(c->ip, ip)) cdb_set_text(&c->ip, ip);
    c->active = 1;
    cdb_move_to_head(c);
    if (c->fixation == UPNP_CLIENT_FIX_FIXED ||
        (c->fixation == UPNP_CLIENT_FIX_BY_MARK && mark_in_header(c, header))) {
      const uint32_t type = c->type;
      cdb_unlock();
      client_table_write();
      return type;
    }
    if (c->fixation == UPNP_CLIENT_FIX_BY_MARK) address_result = c->type;
  }
  cdb_unlock();
  if (address_result > 0) {
    if (found_by_mac) client_table_write();
    return address_result;
  }

  // Step 3: a new client.
  header_match m = match_header(header);
  if (!m.found) m = match_header("DLNADOC/1.50");
  const uint32_t type = m.found ? m.type : UPNP_CLIENT_DB_FALLBACK_TYPE;
  upnp_log_impl(LOG_LEVEL_TRACE, LOG_CLIENT_DB, __func__,
                "no entry found in known clients list for ip=%s, mac=%s creating new entry", ip, mac);
  cdb_lock();
  bool exists = false;
  for (upnp_known_client *c = g_pClients; c != nullptr && !exists; c = c->next) {
    exists = same_text(c->mac, mac) && same_text(c->ip, ip);
  }
  if (!exists) {
    upnp_known_client *c = cdb_client_new();
    if (c != nullptr) {
      cdb_set_text(&c->mac, mac);
      cdb_set_text(&c->ip, ip);
      cdb_client_set_type(c, type, m.fixation, first_mark_of(m.keys), second_mark_of(m.keys), name_of(m.keys));
      c->active = 1;
      c->enabled = g_bClientAutoenable;
      c->next = g_pClients;
      g_pClients = c;
    }
  }
  cdb_unlock();
  if (!exists || found_by_mac) client_table_write();
  return type;
}

// Text between <tag> and </tag> in pattern (tags found ignoring case), at
// most 511 characters; empty when either tag is missing.
static std::string tag_text(const char *pattern, const char *tag) {
  const std::string open = std::string("<") + tag + ">";
  const std::string close = std::string("</") + tag + ">";
  const char *start = cdb_find_nocase(pattern, open.c_str());
  if (start == nullptr) return std::string();
  start += open.size();
  const char *end = cdb_find_nocase(start, close.c_str());
  if (end == nullptr) return std::string();
  size_t n = (size_t)(end - start);
  if (n > 511) n = 511;
  return std::string(start, n);
}

extern "C" int upnp_client_db_match_by_browse(const char *browse_flag, const char *object_id, const char *filter,
                                              const char *starting_index, const char *request_count,
                                              const char *sort_criteria, uint32_t *type, const char *ip,
                                              const char *header) {
  if (header == nullptr) return 0;
  static const char *const kTags[6] = {"BrowseFlag", "ObjectID", "Filter", "StartingIndex", "RequestCount",
                                       "SortCriteria"};
  const char *params[6] = {browse_flag, object_id, filter, starting_index, request_count, sort_criteria};
  const std::string lower = cdb_lower(header);
  int found = -1;
  for (int i = 0; i < g_clientTypeCount && found < 0; ++i) {
    const upnp_client_type_keys &k = g_clientKeys[i];
    if (k.hb_lower.empty() || k.mb.empty() || strstr(lower.c_str(), k.hb_lower.c_str()) == nullptr) continue;
    bool pass = true;
    for (int p = 0; p < 6 && pass; ++p) {
      if (params[p] == nullptr) continue;
      const std::string expected = tag_text(k.mb.c_str(), kTags[p]);
      if (!expected.empty() && strcasecmp(expected.c_str(), params[p]) != 0) pass = false;
    }
    if (pass) found = i;
  }
  if (found < 0) return 0;
  if (type != nullptr) *type = (uint32_t)found;
  if (ip == nullptr) return 1;
  bool changed = false;
  cdb_lock();
  for (upnp_known_client *c = g_pClients; c != nullptr; c = c->next) {
    if (!same_text(c->ip, ip)) continue;
    if (c->type != (uint32_t)found) {
      c->type = (uint32_t)found;
      c->fixation = UPNP_CLIENT_FIX_FIXED;
      cdb_move_to_head(c);
      upnp_log_impl(LOG_LEVEL_WARNING, LOG_CLIENT_DB, __func__, "%s (id=%d) detected at IP %s by browse parameters",
                    c->friendly_name != nullptr ? c->friendly_name : "", found, ip);
      changed = true;
    }
    break;
  }
  cdb_unlock();
  if (changed) client_table_write();
  return 1;
}
