// The special MIME table of "clients.db" and the per-type MIME questions.
#include <string.h>

#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "clientdb/upnp_client_db_internal.h"

// Copies at most `limit` characters, then cuts at the first byte of value
// 0x20 or below or the first comma.
static void cut_copy(char *out, const char *in, size_t limit) {
  size_t n = 0;
  while (n < limit && in[n] != '\0') {
    out[n] = in[n];
    ++n;
  }
  out[n] = '\0';
  for (size_t i = 0; i < n; ++i) {
    if ((unsigned char)out[i] <= 0x20 || out[i] == ',') {
      out[i] = '\0';
      break;
    }
  }
}

extern "C" int upnp_client_db_add_mime_table(const char *extension, const char *mime_type) {
  if (extension == nullptr || mime_type == nullptr) return 0;
  char ext[10];
  char mime[64];
  cut_copy(ext, extension, 9);
  cut_copy(mime, mime_type, 63);
  if (ext[0] == '\0' || mime[0] == '\0') return 0;
  int free_slot = -1;
  for (int i = 0; i < UPNP_CLIENT_DB_MIME_SLOTS; ++i) {
    if (g_strMimeTable[i] == nullptr) {
      if (free_slot < 0) free_slot = i;
      continue;
    }
    if (strcmp(g_strMimeTable[i], mime) == 0 && g_strExtTable[i] != nullptr && strcmp(g_strExtTable[i], ext) == 0)
      return 0;
  }
  if (free_slot < 0) {
    upnp_log_impl(LOG_LEVEL_WARNING, LOG_CLIENT_DB, __func__, "MIME TYPE TABLE FULL!");
    return 0;
  }
  char *ext_copy = upnp_strdup_impl(ext);
  char *mime_copy = upnp_strdup_impl(mime);
  if (ext_copy == nullptr || mime_copy == nullptr) {
    upnp_free_impl(ext_copy);
    upnp_free_impl(mime_copy);
    upnp_log_impl(LOG_LEVEL_INFO, LOG_CLIENT_DB, __func__, "Out of memory");
    return 0;
  }
  g_strExtTable[free_slot] = ext_copy;
  g_strMimeTable[free_slot] = mime_copy;
  return 1;
}

extern "C" const char *upnp_client_db_get_from_mime_type_table(const char *text) {
  if (text == nullptr) return nullptr;
  for (int i = 0; i < UPNP_CLIENT_DB_MIME_SLOTS; ++i) {
    const char *mime = g_strMimeTable[i];
    if (mime != nullptr && strncmp(text, mime, strlen(mime)) == 0) return mime;
  }
  return nullptr;
}

extern "C" const char *upnp_client_db_needs_special_mime_type(uint32_t type, const char *extension) {
  const char *desc = cdb_description(type);
  if (desc == nullptr || extension == nullptr || *extension == '\0') return nullptr;
  const char *list = strstr(desc, "MT:");
  if (list == nullptr) return nullptr;
  const size_t ext_length = strlen(extension);
  for (const char *at = cdb_find_nocase(list + 3, extension); at != nullptr; at = cdb_find_nocase(at + 1, extension)) {
    const char before = at[-1];  // at >= list + 3
    const char after = at[ext_length];
    if ((before != ':' && before != ',') || (after != ' ' && after != ',')) continue;
    const char *space = strchr(at, ' ');
    if (space == nullptr) return nullptr;
    return upnp_client_db_get_from_mime_type_table(space + 1);
  }
  return nullptr;
}

extern "C" const char *upnp_client_db_special_mime_type_get_extension(const char *mime_type) {
  if (mime_type == nullptr) return nullptr;
  for (int i = 0; i < UPNP_CLIENT_DB_MIME_SLOTS; ++i) {
    if (g_strMimeTable[i] != nullptr && strcmp(g_strMimeTable[i], mime_type) == 0) return g_strExtTable[i];
  }
  return nullptr;
}
