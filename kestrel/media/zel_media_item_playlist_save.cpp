// A playlist's file and its upload: Save, Delete and CreateFromFile.
//
// The WPL store merges records of the same title and type, and deleting a
// record deletes its file. So a playlist never keeps a record between calls:
// Save builds one, writes the file through it, publishes it and lets it go;
// the playlist remembers the file it owns instead. A new file replaces the
// old one (the store writes a temporary file and renames it), and the old
// file is removed only after the new one is in place and only when its name
// differs, so no playlist is ever left without its file and no playlist's
// save or delete touches a file that another playlist of the local list
// owns (see FileKey).
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include <memory>

#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "media/zel_control_point.h"
#include "media/zel_media_item_playlist.h"
#include "media/zel_media_server.h"
#include "playlist/upnp_wpl.h"

namespace {

// Frees a text of the WPL store when it goes.
struct StoreText {
  char *text = nullptr;
  ~StoreText() { upnp_free_impl(text); }
};

}  // namespace

void ZelMediaItemPlaylist::ReleaseWplHandle() {
  if (m_wplHandle == ZEL_PLAYLIST_NO_HANDLE) return;
  (void)upnp_wpl_release_playlist(m_wplHandle);
  m_wplHandle = ZEL_PLAYLIST_NO_HANDLE;
}

bool ZelMediaItemPlaylist::WriteFile() {
  char folder[4096];
  if (!GetPlaylistsPath(folder, sizeof folder)) {
    upnp_log_impl(LOG_LEVEL_WARNING, LOG_SYSTEM, __func__, "no playlists folder; \"%s\" is not written", m_name.c_str());
    return false;
  }
  StoreText path;
  if (upnp_wpl_flush(m_wplHandle, folder, &path.text) != UPNP_WPL_OK || path.text == nullptr) {
    upnp_log_impl(LOG_LEVEL_ERROR, LOG_SYSTEM, __func__, "cannot write the file of \"%s\"", m_name.c_str());
    return false;
  }
  // The old file goes when it is another file (a rename that only changes
  // case names the same file on a case-blind disk).
  struct stat before, now;
  if (!m_filePath.empty() && m_filePath != path.text &&
      !(stat(m_filePath.c_str(), &before) == 0 && stat(path.text, &now) == 0 && before.st_dev == now.st_dev &&
        before.st_ino == now.st_ino))
    (void)remove(m_filePath.c_str());
  m_filePath = path.text;
  return true;
}

bool ZelMediaItemPlaylist::Save(bool force, bool keep) {
  if (!EnsureWplStore()) return false;
  if (!force && !IsModified()) return true;
  SetModified(false);
  ZelMediaItemPlaylistList *local = ZelMediaItemPlaylistList::GetListFromDisk();
  if (local != nullptr && local->FindPlaylistByFileKey(m_name.c_str(), this) != nullptr) {
    upnp_log_impl(LOG_LEVEL_ERROR, LOG_SYSTEM, __func__, "another playlist owns the file of \"%s\"; not saved",
                  m_name.c_str());
    SetModified(true);
    return false;
  }
  const bool hadFile = !m_filePath.empty();
  ReleaseWplHandle();
  uint32_t handle = 0;
  if (m_name.empty() || upnp_wpl_create_playlist(m_name.c_str(), WplTypeOf(GetType()), UPNP_WPL_SOURCE_CDS,
                                                 ZEL_PLAYLIST_GENERATOR, nullptr, &handle) != UPNP_WPL_OK) {
    upnp_log_impl(LOG_LEVEL_ERROR, LOG_SYSTEM, __func__, "cannot make the WPL record of \"%s\"", m_name.c_str());
    return false;
  }
  m_wplHandle = handle;
  while (upnp_wpl_remove_item_by_track(handle, 0) == UPNP_WPL_OK) {
  }
  for (uint32_t i = 0; i < Count(); ++i) {
    auto *item = dynamic_cast<ZelUrlMediaItem2 *>(GetItem(static_cast<int>(i)));
    if (item == nullptr) continue;
    upnp_wpl_item *entry = upnp_wpl_create_item(item->GetUrl() != nullptr ? item->GetUrl() : "");
    if (entry == nullptr || upnp_wpl_set_item_title(entry, item->GetName()) != UPNP_WPL_OK ||
        upnp_wpl_add_item(handle, entry) != UPNP_WPL_OK) {
      upnp_wpl_free_item(entry);
      upnp_log_impl(LOG_LEVEL_ERROR, LOG_SYSTEM, __func__, "out of memory saving \"%s\"", m_name.c_str());
      ReleaseWplHandle();
      SetModified(true);
      return false;
    }
  }
  if (keep || hadFile) (void)WriteFile();

  std::shared_ptr<ZelMediaServer2> server = HoldServer(true);
  if (server != nullptr) m_serverBookmark = server->GetBookmark();
  if (server == nullptr) {
    upnp_log_impl(LOG_LEVEL_INFO, LOG_SYSTEM, __func__, "no server to publish \"%s\" to", m_name.c_str());
    ReleaseWplHandle();
    return false;
  }
  // The new copy first; the previous one goes once the new one is there
  // (found under its name when the playlist was read from its file).
  std::string previous = m_playlistBookmark;
  if (previous.empty()) (void)server->FindOwnPlaylist(m_name.c_str(), GetType(), &previous);
  char published[ZEL_PLAYLIST_BOOKMARK_SIZE] = {0};
  bool ok = server->UploadPlaylist(handle, sizeof published, published);
  ReleaseWplHandle();
  if (!ok) {
    upnp_log_impl(LOG_LEVEL_ERROR, LOG_SYSTEM, __func__, "publishing \"%s\" to %s failed", m_name.c_str(),
                  server->GetDeviceName());
    return false;
  }
  if (!previous.empty() && previous != published) (void)server->DeletePlaylist(previous.c_str());
  SetPlaylistBookmarkOnServer(published);
  m_bookmarkNeedsRefresh = true;
  return true;
}

bool ZelMediaItemPlaylist::Delete() {
  (void)EnsureWplStore();
  ReleaseWplHandle();
  if (!m_filePath.empty()) {
    (void)remove(m_filePath.c_str());
    m_filePath.clear();
  }
  DeletePlaylistOnServer();
  return true;
}

ZelMediaItemPlaylist *ZelMediaItemPlaylist::CreateFromFile(const char *path) {
  if (path == nullptr || !EnsureWplStore()) return nullptr;
  uint32_t handle = 0;
  if (upnp_wpl_create_playlist_from_file(path, &handle) != UPNP_WPL_OK || handle == 0) return nullptr;
  StoreText title;
  int wplType = 0;
  std::unique_ptr<ZelMediaItemPlaylist> playlist;
  if (upnp_wpl_get_playlist_properties(handle, &title.text, &wplType, nullptr, nullptr, nullptr, nullptr, nullptr) ==
          UPNP_WPL_OK &&
      title.text != nullptr) {
    playlist.reset(AllocateZelMediaItemPlaylist(title.text, ItemTypeOf(wplType)));
  }
  if (playlist != nullptr) {
    upnp_wpl_item_iterator *it = nullptr;
    for (upnp_wpl_item *entry = upnp_wpl_find_first_playlist_item(handle, &it); entry != nullptr;
         entry = upnp_wpl_find_next_playlist_item(it)) {
      StoreText name;
      name.text = upnp_wpl_get_item_title(entry);
      if (name.text != nullptr && name.text[0] != '\0' && entry->src != nullptr && entry->src[0] != '\0') {
        ZelUrlMediaItem2 *item =
            ZelUrlMediaItem2::AllocateZelUrlMediaItem2(name.text, playlist->GetType(), MO_URL, entry->src);
        if (item == nullptr || !playlist->AddItem(item, -1)) {
          delete item;
          playlist.reset();
        }
      }
      upnp_wpl_free_item(entry);
      if (playlist == nullptr) break;
    }
    upnp_wpl_find_playlist_item_release(it);
  }
  // The record goes (the file stays): the playlist owns the file from now on.
  (void)upnp_wpl_release_playlist(handle);
  if (playlist != nullptr) playlist->m_filePath = path;
  return playlist.release();
}
