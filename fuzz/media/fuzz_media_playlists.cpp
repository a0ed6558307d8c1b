// Playlist files through the playlist objects: the first byte picks one.
//   0: the rest is one file read with CreateFromFile; a playlist that
//      results is saved (its file written again) and read back, and must
//      come back with the same name, type and items.
//   1: the rest is up to four files (split at NUL bytes) in the playlists
//      folder, loaded with LoadListFromDisk: never more playlists than files,
//      and no two of them share a file key.
// Files live in a private application-data folder made at start.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <set>
#include <string>

#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "media/zel_media_item_playlist.h"
#include "media/zel_util.h"

namespace {

char g_folder[4096];
char g_root[64];

void remove_root() { std::filesystem::remove_all(g_root); }

void clear_folder() {
  char **names = ZelUtil::GetFilesFromFolder(g_folder);
  if (names == nullptr) return;
  for (char **n = names; *n != nullptr; ++n) {
    (void)unlink((std::string(g_folder) + "/" + *n).c_str());
    upnp_free_impl(*n);
  }
  upnp_free_impl(names);
}

void write(const std::string &path, const std::string &bytes) {
  FILE *f = fopen(path.c_str(), "wb");
  if (f == nullptr) abort();
  if (!bytes.empty() && fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) abort();
  fclose(f);
}

bool printable(const char *text) {
  for (const unsigned char *p = reinterpret_cast<const unsigned char *>(text); *p; ++p)
    if (*p < 0x20 || *p == 0x7F) return false;
  return true;
}

std::string items_of(ZelMediaItemPlaylist *p) {
  std::string out;
  for (uint32_t i = 0; i < p->Count(); ++i) {
    auto *item = dynamic_cast<ZelUrlMediaItem2 *>(p->GetItem(static_cast<int>(i)));
    if (item == nullptr) abort();
    out += std::string(item->GetName()) + '\n' + item->GetUrl() + '\n';
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  upnp_mem_init();
  upnp_log_set_level(LOG_LEVEL_CRITICAL);
  snprintf(g_root, sizeof g_root, "/tmp/fuzz-playlists-XXXXXX");
  if (mkdtemp(g_root) == nullptr) abort();
  atexit(remove_root);
  setenv("KESTREL_APP_SUPPORT_DIR", g_root, 1);
  ZelMediaItemPlaylist::Init();
  if (!ZelMediaItemPlaylist::GetPlaylistsPath(g_folder, sizeof g_folder)) abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0) return 0;
  clear_folder();
  const std::string text(reinterpret_cast<const char *>(data) + 1, size - 1);
  if (data[0] % 2 == 0) {
    const std::string path = std::string(g_folder) + "/input.wpl";
    write(path, text);
    std::unique_ptr<ZelMediaItemPlaylist> p(ZelMediaItemPlaylist::CreateFromFile(path.c_str()));
    if (p == nullptr) return 0;
    (void)unlink(path.c_str());
    (void)p->Save(true, true);  // no server: false, the file written when the name allows one
    if (p->GetFilePath()[0] == '\0') return 0;
    std::unique_ptr<ZelMediaItemPlaylist> back(ZelMediaItemPlaylist::CreateFromFile(p->GetFilePath()));
    // Texts the XML form cannot carry (control characters) may not come back.
    bool plain = printable(p->GetName());
    for (uint32_t i = 0; i < p->Count(); ++i) {
      auto *item = dynamic_cast<ZelUrlMediaItem2 *>(p->GetItem(static_cast<int>(i)));
      plain = plain && printable(item->GetName()) && printable(item->GetUrl());
    }
    if (!plain) return 0;
    if (back == nullptr || strcmp(back->GetName(), p->GetName()) != 0 || back->GetType() != p->GetType() ||
        items_of(back.get()) != items_of(p.get()))
      abort();
    return 0;
  }
  size_t files = 0, start = 0;
  const char *names[] = {"a.wpl", "B.WPL", "c.Wpl", "d.wpl"};
  while (files < 4 && start <= text.size()) {
    size_t end = text.find('\0', start);
    if (end == std::string::npos) end = text.size();
    write(std::string(g_folder) + "/" + names[files++], text.substr(start, end - start));
    start = end + 1;
  }
  ZelMediaItemPlaylistList *list = ZelMediaItemPlaylistList::LoadListFromDisk();
  if (list == nullptr || list->Count() > files) abort();
  std::set<std::string> keys;
  for (uint32_t i = 0; i < list->Count(); ++i)
    if (!keys.insert(ZelMediaItemPlaylist::FileKey(list->GetPlaylist(i)->GetName())).second) abort();
  ZelMediaItemPlaylistList::Cleanup();
  return 0;
}
