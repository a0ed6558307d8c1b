// "clients.data": the known-clients list in the data directory. Each record
// is 13 fields, each field three decimal digits of length, the text and a
// line feed.
#include <stdio.h>
#include <string.h>

#include <string>

#include "base/upnp_fd.h"
#include "base/upnp_ini_file.h"
#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "clientdb/upnp_client_db_internal.h"

static const int kFieldsPerRecord = 13;
// The three-digit length limits a field's text.
static const size_t kMaxFieldLength = 999;
// A larger file is not a client table.
static const long kMaxFileSize = 16L * 1024 * 1024;

std::string cdb_data_path(void) {
  const char *dir = upnp_ini_file_getString(INI_APPDATA);
  if (dir == nullptr || *dir == '\0') return std::string();
  return std::string(dir) + "/clients.data";
}

static void put_field(std::string &out, const char *text) {
  size_t n = text != nullptr ? strlen(text) : 0;
  if (n > kMaxFieldLength) n = kMaxFieldLength;
  char length[8];
  snprintf(length, sizeof length, "%03u", (unsigned)n);
  out += length;
  if (n > 0) out.append(text, n);
  out += '\n';
}

static void put_number(std::string &out, const char *format, int value) {
  char text[16];
  snprintf(text, sizeof text, format, value);
  put_field(out, text);
}

static bool is_default_view(const char *view) {
  return view == nullptr || strcmp(view, g_strTreeDefaultView) == 0;
}

std::string cdb_serialize_clients(void) {
  std::string out;
  int written = 0;
  for (upnp_known_client *c = g_pClients; c != nullptr && written < UPNP_CLIENT_DB_MAX_SAVED; c = c->next) {
    // With auto-enable on, an automatically recognised client with nothing
    // of its own is found again anyway.
    if (g_bClientAutoenable && c->fixation == UPNP_CLIENT_FIX_AUTO && is_default_view(c->view)) continue;
    put_field(out, c->friendly_name);
    put_field(out, c->mac);
    put_field(out, c->ip);
    put_field(out, c->udn);
    put_field(out, c->first_mark);
    put_field(out, c->second_mark);
    put_field(out, c->icon_url);
    put_field(out, c->icon_mime_type);
    put_number(out, "%03d", (int)c->type);
    put_number(out, "%01d", c->enabled);
    put_number(out, "%03d", c->fixation);
    put_field(out, c->view);
    char *dv = upnp_client_db_get_default_view(c->type);
    put_number(out, "%d", dv != nullptr ? 1 : 0);
    upnp_free_impl(dv);
    ++written;
  }
  return out;
}

// Reads one field at *pos; false on a short read or a bad length.
static bool get_field(const char *data, size_t length, size_t *pos, std::string &field) {
  if (length - *pos < 3) return false;
  int n = 0;
  for (int i = 0; i < 3; ++i) {
    const char c = data[*pos + i];
    if (c < '0' || c > '9') return false;
    n = n * 10 + (c - '0');
  }
  *pos += 3;
  if (length - *pos < (size_t)n + 1) return false;
  field.assign(data + *pos, (size_t)n);
  *pos += (size_t)n;
  if (data[*pos] != '\n') return false;
  *pos += 1;
  return true;
}

static int to_number(const std::string &text) {
  long value = 0;
  bool negative = false;
  size_t i = 0;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > 1000000000L) break;
  }
  return (int)(negative ? -value : value);
}

int cdb_parse_clients(const char *data, size_t length) {
  if (data == nullptr) return 0;
  int records = 0;
  size_t pos = 0;
  // Records keep the file's order (the file is written from the head of the
  // list), so that a list read back and written again is the same file.
  upnp_known_client **tail = &g_pClients;
  while (*tail != nullptr) tail = &(*tail)->next;
  std::string f[kFieldsPerRecord];
  for (;;) {
    int got = 0;
    while (got < kFieldsPerRecord && get_field(data, length, &pos, f[got])) ++got;
    if (got < kFieldsPerRecord) break;
    upnp_known_client *c = cdb_client_new();
    if (c == nullptr) break;
    cdb_set_text(&c->friendly_name, f[0].c_str());
    cdb_set_text(&c->mac, f[1].c_str());
    cdb_set_text(&c->ip, f[2].c_str());
    cdb_set_text(&c->udn, f[3].c_str());
    cdb_set_text(&c->first_mark, f[4].c_str());
    cdb_set_text(&c->second_mark, f[5].c_str());
    cdb_set_text(&c->icon_url, f[6].c_str());
    cdb_set_text(&c->icon_mime_type, f[7].c_str());
    c->type = (uint32_t)to_number(f[8]);
    c->enabled = to_number(f[9]);
    c->fixation = to_number(f[10]);
    cdb_set_text(&c->view, f[11].c_str());
    c->active = 0;
    *tail = c;
    tail = &c->next;
    ++records;
  }
  return records;
}

void client_table_write(void) {
  const std::string path = cdb_data_path();
  if (path.empty()) return;  // no data directory: nothing is persisted
  cdb_lock();
  const std::string content = cdb_serialize_clients();
  remove(path.c_str());
  FILE *file = upnp_fopen(path.c_str(), "wb");
  if (file != nullptr) {
    if (!content.empty() && fwrite(content.data(), 1, content.size(), file) != content.size()) {
      upnp_log_impl(LOG_LEVEL_ERROR, LOG_CLIENT_DB, __func__, "cannot write %s", path.c_str());
    }
    fclose(file);
  }
  cdb_unlock();
}

void client_table_read(void) {
  cdb_lock();
  cdb_clients_free_all();
  const std::string path = cdb_data_path();
  FILE *file = path.empty() ? nullptr : upnp_fopen(path.c_str(), "rb");
  if (file != nullptr) {
    std::string content;
    char block[4096];
    size_t n;
    while ((n = fread(block, 1, sizeof block, file)) > 0 && (long)content.size() < kMaxFileSize) {
      content.append(block, n);
    }
    fclose(file);
    if (cdb_parse_clients(content.data(), content.size()) == 0 && !content.empty()) {
      upnp_log_impl(LOG_LEVEL_INFO, LOG_CLIENT_DB, __func__, "invalid client table, some records ignored");
    }
  }
  cdb_unlock();
}
