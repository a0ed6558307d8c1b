// WPL files: reading a file into the store and writing a playlist to disk.
// Files are written whole: the text goes to a temporary file beside the
// target, which then replaces the target by a rename, so a reader never sees
// half a playlist and a failed write leaves the old file as it was.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "base/upnp_fd.h"
#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "playlist/upnp_wpl_internal.h"

namespace {

bool file_exists(const char *path) {
  struct stat st;
  return stat(path, &st) == 0;
}

// The whole file into *text (accounted, zero-terminated); false when it
// cannot be read or is too big.
bool read_whole(const char *path, char **text, size_t *length) {
  *text = nullptr;
  *length = 0;
  FILE *f = upnp_fopen(path, "rb");
  if (!f) return false;
  struct stat st;
  if (fstat(fileno(f), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0 ||
      static_cast<uint64_t>(st.st_size) > UPNP_WPL_MAX_FILE_SIZE) {
    std::fclose(f);
    return false;
  }
  size_t size = static_cast<size_t>(st.st_size);
  auto *buffer = static_cast<char *>(upnp_malloc_impl(size + 1));
  if (!buffer) {
    std::fclose(f);
    return false;
  }
  size_t got = std::fread(buffer, 1, size, f);
  std::fclose(f);
  if (got != size) {
    upnp_free_impl(buffer);
    return false;
  }
  buffer[size] = '\0';
  *text = buffer;
  *length = size;
  return true;
}

// The title made from a file name: the part after the last '/' or '\'
// without its extension, or "No Title".
std::string title_from_path(const char *path) {
  const char *base = path;
  for (const char *p = path; *p; ++p) {
    if (*p == '/' || *p == '\\') base = p + 1;
  }
  std::string name(base);
  size_t dot = name.rfind('.');
  if (dot != std::string::npos) name.erase(dot);
  return name.empty() ? "No Title" : name;
}

std::string file_name_for(const char *folder, const char *title) {
  std::string name(title);
  for (char &c : name) {
    if (std::strchr(" /\\:*?\"<>|", c)) c = '#';
  }
  return std::string(folder) + '/' + name + ".wpl";
}

}  // namespace

int wpl_write_file(const upnp_wpl_playlist *record, const char *path) {
  upnp_string *text = nullptr;
  int result = wpl_write_text(record, &text, nullptr, nullptr);
  if (result != UPNP_WPL_OK) {
    upnp_string_free(text);
    return result;
  }
  std::string temporary = std::string(path) + ".tmp";
  FILE *f = upnp_fopen(temporary.c_str(), "wb");
  bool ok = f != nullptr;
  if (ok) {
    size_t length = upnp_string_get_length(text);
    ok = std::fwrite(upnp_string_get_cstring(text), 1, length, f) == length;
    ok = std::fflush(f) == 0 && ok;
    ok = fsync(fileno(f)) == 0 && ok;
    ok = std::fclose(f) == 0 && ok;
  }
  upnp_string_free(text);
  if (ok && std::rename(temporary.c_str(), path) != 0) ok = false;
  if (!ok) {
    upnp_log_impl(LOG_LEVEL_WARNING, LOG_SYSTEM, "wpl_write_file", "cannot write %s: %s", path,
                  std::strerror(errno));
    std::remove(temporary.c_str());
    return UPNP_WPL_FAILED;
  }
  return UPNP_WPL_OK;
}

extern "C" int upnp_wpl_create_playlist_from_file(const char *path, uint32_t *handle) {
  if (!path || !handle) return UPNP_WPL_FAILED;
  wpl_guard hold;
  if (!hold.ok()) return UPNP_WPL_FAILED;
  char *text = nullptr;
  size_t length = 0;
  if (!read_whole(path, &text, &length)) return UPNP_WPL_FAILED;
  upnp_wpl_playlist *read = wpl_read_text(text, length);
  upnp_free_impl(text);
  if (!read) return UPNP_WPL_FAILED;
  if (!read->title && !wpl_set_text(&read->title, title_from_path(path).c_str())) {
    wpl_free_record(read);
    return UPNP_WPL_FAILED;
  }
  if (read->type == 0) read->type = UPNP_WPL_TYPE_MUSIC;

  if (*handle == 0) {
    if (read->source != UPNP_WPL_SOURCE_ITUNES && !wpl_set_text(&read->file_path, path)) {
      wpl_free_record(read);
      return UPNP_WPL_FAILED;
    }
    *handle = wpl_add_record(read, true);
    return *handle ? UPNP_WPL_OK : UPNP_WPL_FAILED;
  }

  upnp_wpl_playlist *existing = wpl_record(*handle);
  if (!existing) {
    wpl_free_record(read);
    return UPNP_WPL_FAILED;
  }
  wpl_take_over(existing, read, true);
  int result = UPNP_WPL_OK;
  if (existing->title && std::strcmp(existing->title, read->title) != 0 && read->source == UPNP_WPL_SOURCE_CDS) {
    upnp_log_impl(LOG_LEVEL_INFO, LOG_SYSTEM, "upnp_wpl_create_playlist_from_file",
                  "WPL title %s does not match %s, replacing %s\n", read->title, existing->title, path);
    result = wpl_write_file(existing, path);
  }
  wpl_free_record(read);
  return result;
}

extern "C" int upnp_wpl_flush(uint32_t handle, const char *folder, char **path) {
  if (path) *path = nullptr;
  wpl_guard hold;
  upnp_wpl_playlist *record = hold.ok() ? wpl_record(handle) : nullptr;
  if (!record || !record->title) return UPNP_WPL_FAILED;
  if (!record->file_path) {
    if (!folder) return UPNP_WPL_FAILED;
    if (!wpl_set_text(&record->file_path, file_name_for(folder, record->title).c_str())) return UPNP_WPL_NO_MEMORY;
  }
  if (file_exists(record->file_path)) {
    bool replace = record->source == UPNP_WPL_SOURCE_CDS &&
                   (!record->original_file_name || std::strcmp(record->original_file_name, record->file_path) != 0);
    if (!replace) return UPNP_WPL_FAILED;
  }
  int result = wpl_write_file(record, record->file_path);
  if (result == UPNP_WPL_OK && path) {
    *path = upnp_strdup_impl(record->file_path);
    if (!*path) return UPNP_WPL_NO_MEMORY;
  }
  return result;
}
