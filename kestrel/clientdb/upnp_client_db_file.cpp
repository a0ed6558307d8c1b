// Reading "clients.db": first the special MIME types of every "MT:" list,
// then the client-type descriptions between ">>" markers.
#include <string.h>

#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "clientdb/upnp_client_db_internal.h"

// First pass: "MT:<ext>[,<ext>...] <mime type>" anywhere in the text.
static void read_mime_lists(const char *text, const char *end) {
  const char *p = text;
  while (p < end) {
    const char *mark = strstr(p, "MT:");
    if (mark == nullptr) return;
    const char *list = mark + 3;
    const char *space = strchr(list, ' ');
    if (space == nullptr) return;
    const char *mime = space + 1;
    const char *ext = list;
    for (;;) {
      upnp_client_db_add_mime_table(ext, mime);
      const char *comma = strchr(ext, ',');
      // No comma in the rest of the text: nothing more to read.
      if (comma == nullptr) return;
      // A comma beyond the list's space belongs to something else.
      if (comma > space) break;
      ext = comma + 1;
    }
    p = mime;
  }
}

static void take_keys(int slot) {
  const char *desc = g_clientDescription[slot];
  upnp_client_type_keys &k = g_clientKeys[slot];
  k = upnp_client_type_keys();
  k.hh = cdb_keyword_string(desc, "HH:");
  k.hh_lower = cdb_lower(k.hh.c_str());
  k.h2 = cdb_keyword_string(desc, "H2:");
  k.name = cdb_keyword_string(desc, "NA:");
  k.dd = cdb_keyword_string(desc, "DD:");
  k.d2 = cdb_keyword_string(desc, "D2:");
  k.d3 = cdb_keyword_string(desc, "D3:");
  k.hb_lower = cdb_lower(cdb_keyword_string(desc, "HB:").c_str());
  k.mb = cdb_keyword_string(desc, "MB:");
  if (strstr(desc, "DB:FIXPC") != nullptr) {
    k.fixation = UPNP_CLIENT_FIX_BY_MARK;
  } else if (strstr(desc, "DB:FIX") != nullptr) {
    k.fixation = UPNP_CLIENT_FIX_FIXED;
  }
}

// Second pass: ">>" starts an entry that runs up to the next ">>"; its last
// character (the line feed) is dropped. The text after the last ">>" is not
// an entry.
static int read_descriptions(const char *text, const char *end) {
  int count = 0;
  const char *cur = strstr(text, ">>");
  while (cur != nullptr && cur + 3 <= end) {
    const char *next = strstr(cur + 3, ">>");
    if (next == nullptr) break;
    if (count >= UPNP_CLIENT_DB_MAX_TYPES - 1) {
      // A full table ends reading, not the process: keep what was read.
      upnp_log_impl(LOG_LEVEL_ERROR, LOG_CLIENT_DB, __func__, "Too much clients in clients.db");
      break;
    }
    size_t length = (size_t)(next - cur) - 1;
    char *desc = (char *)upnp_malloc_impl(length + 1);
    if (desc == nullptr) break;
    memcpy(desc, cur, length);
    desc[length] = '\0';
    g_clientDescription[count] = desc;
    take_keys(count);
    ++count;
    cur = next;
  }
  return count;
}

int cdb_load_types(const char *text, size_t length) {
  if (text == nullptr) return 0;
  // The text handed in is terminated at `length`; never look beyond it.
  const char *end = text + strnlen(text, length);
  read_mime_lists(text, end);
  g_clientTypeCount = read_descriptions(text, end);
  return g_clientTypeCount;
}

void cdb_free_types(void) {
  for (int i = 0; i < UPNP_CLIENT_DB_MAX_TYPES; ++i) {
    upnp_free_impl(g_clientDescription[i]);
    g_clientDescription[i] = nullptr;
    g_clientKeys[i] = upnp_client_type_keys();
  }
  for (int i = 0; i < UPNP_CLIENT_DB_MIME_SLOTS; ++i) {
    upnp_free_impl(g_strMimeTable[i]);
    upnp_free_impl(g_strExtTable[i]);
    g_strMimeTable[i] = nullptr;
    g_strExtTable[i] = nullptr;
  }
  g_clientTypeCount = 0;
}
