#ifndef TESTS_CLIENTDB_CLIENTDB_TEST_UTIL_H
#define TESTS_CLIENTDB_CLIENTDB_TEST_UTIL_H

// Fixture of the client database tests: a configuration store whose data
// directory is a temporary folder, "clients.db" served either from the
// source tree's resources/ or from a text the test gives, and a MAC lookup
// from a table (no neighbour table, no echo requests).
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <map>
#include <string>

#include "base/upnp_ini_file.h"
#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "base/upnp_resource.h"
#include "base/upnp_server_state.h"
#include "clientdb/upnp_client_db.h"
#include "clientdb/upnp_client_db_internal.h"
#include "support_files.h"
#include "support_mem.h"

namespace cdbtest {

inline std::string &db_text() {
  static std::string text;
  return text;
}
inline std::map<std::string, std::string> &mac_table() {
  static std::map<std::string, std::string> table;
  return table;
}

inline int serve_db(const char *name, uint32_t *size, char **data) {
  *size = 0;
  *data = nullptr;
  if (std::string(name) != "clients.db") return 0;
  const std::string &t = db_text();
  char *copy = static_cast<char *>(upnp_malloc_impl(t.size() + 2));
  memcpy(copy, t.data(), t.size());
  copy[t.size()] = copy[t.size() + 1] = '\0';
  *size = static_cast<uint32_t>(t.size());
  *data = copy;
  return 1;
}

inline int fake_mac(const char *ip, char *mac) {
  mac[0] = '\0';
  auto it = mac_table().find(ip);
  if (it == mac_table().end()) return 0;
  snprintf(mac, 18, "%s", it->second.c_str());
  return 1;
}

using test_support::read_file;
using test_support::write_file;

// Takes a copy returned by the database and frees it.
inline std::string take(char *text) { return test_support::take_text(text); }

}  // namespace cdbtest

class ClientDbTest : public ::testing::Test {
 protected:
  void SetUp() override {
    upnp_mem_init();
    upnp_log_set_sources(0);
    upnp_log_set_level(5);
    dir_ = test_support::make_temp_dir("kestrel-cdb");
    upnp_ini_file_init();
    upnp_ini_file_setPropertyByKey(INI_APPDATA, dir_.c_str());
    upnp_server_set_state(UPNP_SERVER_RUNNING);
    cdbtest::mac_table().clear();
    g_cdb_mac_lookup = cdbtest::fake_mac;
    upnp_client_db_set_autoenable(1);
    upnp_client_db_set_defaultview("");
  }
  void TearDown() override {
    upnp_client_db_exit();
    register_upnp_resource_get_function(nullptr);
    upnp_server_set_state(UPNP_SERVER_RUNNING);
    upnp_ini_file_release_on_exit();
    test_support::remove_tree(dir_);
  }

  // Loads the shipped "clients.db" from the source tree.
  int load_shipped() {
    register_upnp_resource_get_function(nullptr);
    upnp_set_EXE_Name(CLIENTDB_SOURCE_DIR "/program");
    return upnp_client_db_init();
  }
  // Loads `text` as "clients.db".
  int load(const std::string &text) {
    cdbtest::db_text() = text;
    register_upnp_resource_get_function(cdbtest::serve_db);
    return upnp_client_db_init();
  }
  std::filesystem::path data_path() const { return dir_ / "clients.data"; }

  std::filesystem::path dir_;
};

#endif
