// Fuzz target: the input is "clients.db" text, optionally followed by a
// line "@@DATA@@" and "clients.data" bytes. Both are read the way the
// database reads its files, then every lookup runs over every type, the
// known clients are written out, read back and written again (which must
// give the same bytes), and everything is released (memory must balance).
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "base/upnp_server_state.h"
#include "clientdb/upnp_client_db.h"
#include "clientdb/upnp_client_db_internal.h"

namespace {

void release(char *text) { upnp_free_impl(text); }

void exercise_types() {
  char buffer[32];
  static const char *const kKeys[] = {"HH:", "H2:", "NA:", "DD:", "MB:", "DV:"};
  // Every loaded type, the first empty slots and the edges of the table.
  for (uint32_t type = 0; type <= UPNP_CLIENT_DB_MAX_TYPES; ++type) {
    if (type > (uint32_t)g_clientTypeCount + 1 && type < UPNP_CLIENT_DB_MAX_TYPES - 1) continue;
    for (const char *key : kKeys) upnp_client_db_getKeyword(type, key, buffer, sizeof buffer);
    upnp_client_db_DLNA_version(type);
    upnp_client_db_get_value(type, "XM:MAX=");
    release(upnp_client_db_get_extra_params(type, "maxitems"));
    release(upnp_client_db_get_description_file(type));
    release(upnp_client_db_get_webbrowse(type));
    release(upnp_client_db_get_supported_transcoding_profiles(type));
    release(upnp_client_db_get_fake_res_profiles(type));
    release(upnp_client_db_albumart_scaling(type));
    release(upnp_client_db_get_default_view(type));
    release(upnp_client_db_dv(type));
    upnp_client_db_needs_special_mime_type(type, "mp4");
    upnp_client_db_needs_special_mime_type(type, "m");
    upnp_client_db_is_psp(type);
  }
  release(upnp_client_db_get_table());
}

void exercise_recognition(const std::string &text) {
  // The input's own text as a request header and a description.
  uint32_t type = 0;
  int fixation = 0;
  char *a = nullptr, *b = nullptr, *c = nullptr;
  upnp_client_db_check_header(text.c_str(), &type, &fixation, &a, &b, &c);
  release(a);
  release(b);
  release(c);
  upnp_client_db_match_description(text.c_str(), &type, &fixation, &a, &b);
  release(a);
  release(b);
  upnp_client_db_match_by_browse("BrowseDirectChildren", "0", "*", "0", "50", "", &type, nullptr, text.c_str());
  upnp_client_db_add_by_ip("http://10.0.0.1/", "10.0.0.2", text.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static bool once = [] {
    upnp_mem_init();
    upnp_server_set_state(UPNP_SERVER_RUNNING);
    upnp_log_set_sources(0);
    // No neighbour lookups from a fuzzer.
    g_cdb_mac_lookup = [](const char *, char *mac) {
      strcpy(mac, "00:11:22:33:44:55");
      return 1;
    };
    return true;
  }();
  (void)once;
  const int64_t before = upnp_mem_used();
  const std::string input(reinterpret_cast<const char *>(data), size);
  const size_t split = input.find("@@DATA@@\n");
  const std::string db = input.substr(0, split);
  const std::string file = split == std::string::npos ? std::string() : input.substr(split + 9);

  cdb_load_types(db.c_str(), db.size());
  upnp_client_db_add_view("Music");
  exercise_types();
  cdb_parse_clients(file.data(), file.size());
  exercise_recognition(db);
  release(upnp_get_connected_client_list());
  upnp_client_db_set_autoenable(0);
  const std::string written = cdb_serialize_clients();
  cdb_clients_free_all();
  cdb_parse_clients(written.data(), written.size());
  if (cdb_serialize_clients() != written) abort();

  cdb_clients_free_all();
  cdb_udns_free_all();
  cdb_free_types();
  upnp_free_impl(g_allViewNames);
  g_allViewNames = nullptr;
  upnp_client_db_set_autoenable(1);
  if (upnp_mem_used() != before) abort();
  return 0;
}
