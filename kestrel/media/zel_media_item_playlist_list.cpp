// Lists of playlists, and the local list read from the playlists folder.
#include <string.h>
#include <strings.h>

#include <algorithm>
#include <mutex>
#include <string>

#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "media/zel_media_item_playlist.h"
#include "media/zel_util.h"

ZelMediaItemPlaylistList *ZelMediaItemPlaylistList::s_listFromDisk = nullptr;

namespace {
// Guards s_listFromDisk's creation and destruction (the component's main
// thread and the control point's clean-up).
std::recursive_mutex g_listClassLock;

bool has_wpl_extension(const char *name) {
  const char *dot = strrchr(name, '.');
  return dot != nullptr && strcasecmp(dot + 1, "wpl") == 0;
}

// The key of a file's own name: its name without ".wpl", lower case.
std::string file_name_key(const std::string &path) {
  size_t slash = path.rfind('/');
  std::string name = path.substr(slash == std::string::npos ? 0 : slash + 1);
  if (name.size() >= 4 && strcasecmp(name.c_str() + name.size() - 4, ".wpl") == 0) name.resize(name.size() - 4);
  return ZelMediaItemPlaylist::FileKey(name.c_str());
}

}  // namespace

ZelMediaItemPlaylistList::~ZelMediaItemPlaylistList() {
  for (ZelMediaItemPlaylist *playlist : m_playlists) delete playlist;
}

ZelMediaItemPlaylist *ZelMediaItemPlaylistList::GetPlaylist(uint32_t index) const {
  return index < m_playlists.size() ? m_playlists[index] : nullptr;
}

ZelMediaItemPlaylist *ZelMediaItemPlaylistList::FindPlaylistByName(const char *name) const {
  if (name == nullptr) return nullptr;
  for (ZelMediaItemPlaylist *playlist : m_playlists)
    if (strcasecmp(playlist->GetName(), name) == 0) return playlist;
  return nullptr;
}

ZelMediaItemPlaylist *ZelMediaItemPlaylistList::FindPlaylistById(uint32_t id) const {
  for (ZelMediaItemPlaylist *playlist : m_playlists)
    if (playlist->GetID() == id) return playlist;
  return nullptr;
}

ZelMediaItemPlaylist *ZelMediaItemPlaylistList::FindPlaylistByFileKey(const char *name,
                                                                      const ZelMediaItemPlaylist *except) const {
  const std::string key = ZelMediaItemPlaylist::FileKey(name);
  for (ZelMediaItemPlaylist *playlist : m_playlists) {
    if (playlist == except) continue;
    // The file it would write, and the file it owns now (a file read from
    // disk may carry another name than its title).
    if (ZelMediaItemPlaylist::FileKey(playlist->GetName()) == key) return playlist;
    if (playlist->GetFilePath()[0] != '\0' && file_name_key(playlist->GetFilePath()) == key) return playlist;
  }
  return nullptr;
}

bool ZelMediaItemPlaylistList::AddPlaylist(ZelMediaItemPlaylist *playlist) {
  if (playlist == nullptr) return false;
  try {
    m_playlists.push_back(playlist);
  } catch (...) {
    return false;
  }
  return true;
}

bool ZelMediaItemPlaylistList::RemovePlaylist(ZelMediaItemPlaylist *playlist) {
  auto it = std::find(m_playlists.begin(), m_playlists.end(), playlist);
  if (it == m_playlists.end()) return false;
  m_playlists.erase(it);
  (void)playlist->Delete();
  delete playlist;
  return true;
}

ZelMediaItemPlaylistList *ZelMediaItemPlaylistList::GetListFromDisk() {
  std::lock_guard<std::recursive_mutex> hold(g_listClassLock);
  return s_listFromDisk;
}

ZelMediaItemPlaylistList *ZelMediaItemPlaylistList::LoadListFromDisk() {
  std::lock_guard<std::recursive_mutex> hold(g_listClassLock);
  if (s_listFromDisk != nullptr) return s_listFromDisk;
  ZelMediaItemPlaylistList *list = new (std::nothrow) ZelMediaItemPlaylistList();
  if (list == nullptr) return nullptr;
  s_listFromDisk = list;
  char folder[4096];
  if (!ZelMediaItemPlaylist::GetPlaylistsPath(folder, sizeof folder)) return list;
  char **names = ZelUtil::GetFilesFromFolder(folder);
  if (names == nullptr) return list;
  for (char **name = names; *name != nullptr; ++name) {
    if (has_wpl_extension(*name)) {
      std::string path = std::string(folder) + "/" + *name;
      ZelMediaItemPlaylist *playlist = ZelMediaItemPlaylist::CreateFromFile(path.c_str());
      if (playlist == nullptr) {
        upnp_log_impl(LOG_LEVEL_WARNING, LOG_SYSTEM, __func__, "%s is not a playlist file; skipped", path.c_str());
      } else if (list->FindPlaylistByFileKey(playlist->GetName(), nullptr) != nullptr ||
                 list->FindPlaylistByFileKey(file_name_key(path).c_str(), nullptr) != nullptr) {
        // Two files for one name: the first stays the playlist, the other
        // file is left as it is.
        upnp_log_impl(LOG_LEVEL_WARNING, LOG_SYSTEM, __func__, "%s repeats the name \"%s\"; skipped", path.c_str(),
                      playlist->GetName());
        delete playlist;
      } else if (!list->AddPlaylist(playlist)) {
        delete playlist;
      }
    }
    upnp_free_impl(*name);
  }
  upnp_free_impl(names);
  return list;
}

void ZelMediaItemPlaylistList::Cleanup() {
  std::lock_guard<std::recursive_mutex> hold(g_listClassLock);
  delete s_listFromDisk;
  s_listFromDisk = nullptr;
}
