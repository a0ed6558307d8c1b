// Content views: the default view, the configured view names and the view
// of each client type and known client.
#include <string.h>

#include <string>

#include "base/upnp_mem.h"
#include "clientdb/upnp_client_db_internal.h"

char g_strTreeDefaultView[128];
char *g_allViewNames;

extern "C" void upnp_client_db_set_defaultview(const char *name) {
  if (name == nullptr) return;
  cdb_lock();
  if (strcmp(g_strTreeDefaultView, name) != 0) {
    strncpy(g_strTreeDefaultView, name, sizeof g_strTreeDefaultView - 1);
    g_strTreeDefaultView[sizeof g_strTreeDefaultView - 1] = '\0';
  }
  cdb_unlock();
}

extern "C" void upnp_client_db_add_view(const char *name) {
  if (name == nullptr) return;
  cdb_lock();
  std::string all = g_allViewNames != nullptr ? g_allViewNames : "";
  all += name;
  all += '#';
  char *copy = upnp_strdup_impl(all.c_str());
  if (copy != nullptr) {
    upnp_free_impl(g_allViewNames);
    g_allViewNames = copy;
  }
  cdb_unlock();
}

// Whether `view` is one of the '#'-terminated names (whole names only, so
// "Music" is not taken for "MusicVideo").
static bool view_known(const char *view) {
  if (g_allViewNames == nullptr || view == nullptr || *view == '\0') return false;
  const size_t length = strlen(view);
  for (const char *p = g_allViewNames; *p != '\0';) {
    const char *hash = strchr(p, '#');
    if (hash == nullptr) return false;
    if ((size_t)(hash - p) == length && strncmp(p, view, length) == 0) return true;
    p = hash + 1;
  }
  return false;
}

extern "C" char *upnp_client_db_dv(uint32_t type) {
  char *view = upnp_client_db_get_default_view(type);
  if (view == nullptr) return nullptr;
  cdb_lock();
  const bool known = view_known(view);
  cdb_unlock();
  if (!known) {
    upnp_free_impl(view);
    return nullptr;
  }
  return view;
}

extern "C" char *upnp_client_db_get_updated_view(uint32_t type) {
  char *view = nullptr;
  cdb_lock();
  for (upnp_known_client *c = g_pClients; c != nullptr; c = c->next) {
    if (c->type == type) {
      view = cdb_dup(c->view);
      break;
    }
  }
  cdb_unlock();
  return view;
}
