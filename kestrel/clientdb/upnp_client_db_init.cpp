// Start and stop of the client database: the module lock, loading
// "clients.db" and "clients.data", and releasing everything.
#include <stdio.h>
#include <string.h>

#include <atomic>
#include <string>

#include "base/upnp_critsec.h"
#include "base/upnp_ini_file.h"
#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "base/upnp_resource.h"
#include "clientdb/upnp_client_db_internal.h"

char *g_clientDescription[UPNP_CLIENT_DB_MAX_TYPES];
upnp_client_type_keys g_clientKeys[UPNP_CLIENT_DB_MAX_TYPES];
int g_clientTypeCount;
char *g_strMimeTable[UPNP_CLIENT_DB_MIME_SLOTS];
char *g_strExtTable[UPNP_CLIENT_DB_MIME_SLOTS];

static CRITICAL_SECTION g_cdb_Section;
static std::atomic<bool> g_cdb_section_exists{false};

void cdb_lock(void) {
  if (g_cdb_section_exists.load()) EnterCriticalSection(&g_cdb_Section);
}

void cdb_unlock(void) {
  if (g_cdb_section_exists.load()) LeaveCriticalSection(&g_cdb_Section);
}

static void free_lists(void) {
  cdb_lock();
  cdb_clients_free_all();
  cdb_udns_free_all();
  cdb_unlock();
}

extern "C" void clear_clients(void) {
  free_lists();
  const std::string path = cdb_data_path();
  if (!path.empty()) remove(path.c_str());
}

extern "C" void reset_clients(void) { clear_clients(); }

static void read_client_types(void) {
  uint32_t size = 0;
  char *data = nullptr;
  if (!upnp_resource_get("clients.db", &size, &data) || data == nullptr) return;
  // The file ends with a line feed; its last byte becomes the terminator.
  if (size > 0) data[size - 1] = '\0';
  cdb_load_types(data, size > 0 ? size - 1 : 0);
  upnp_free_impl(data);
}

extern "C" int upnp_client_db_init(void) {
  if (!g_cdb_section_exists.load()) {
    InitializeCriticalSection(&g_cdb_Section);
    g_cdb_section_exists.store(true);
  }
  if (upnp_ini_file_getBoolean(INI_CLEARCLIENTSONRESTART)) reset_clients();
  cdb_lock();
  cdb_free_types();
  upnp_free_impl(g_allViewNames);
  g_allViewNames = nullptr;
  read_client_types();
  cdb_unlock();
  free_lists();
  client_table_read();
  return g_clientTypeCount;
}

extern "C" void upnp_client_db_exit(void) {
  cdb_lock();
  cdb_clients_free_all();
  cdb_udns_free_all();
  cdb_free_types();
  upnp_free_impl(g_allViewNames);
  g_allViewNames = nullptr;
  cdb_unlock();
  if (g_cdb_section_exists.exchange(false)) DeleteCriticalSection(&g_cdb_Section);
}
