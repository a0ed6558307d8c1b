// One playlist of the user: its name, id and bookmarks, the type mapping, the
// playlists folder and the class-wide start and stop of the WPL store. Its
// file and its upload are in zel_media_item_playlist_save.cpp.
#include "media/zel_media_item_playlist.h"

#include <string.h>
#include <sys/stat.h>

#include <cctype>
#include <memory>
#include <mutex>
#include <new>

#include "base/upnp_log.h"
#include "media/zel_control_point.h"
#include "media/zel_media_server.h"
#include "media/zel_util.h"
#include "playlist/upnp_wpl.h"

uint32_t ZelMediaItemPlaylist::s_lastPlaylistID = 0;
bool ZelMediaItemPlaylist::s_bInitializedWplLibrary = false;

namespace {
// Guards s_lastPlaylistID and s_bInitializedWplLibrary: playlists are made
// on the main thread, but a server's playlist list may be read elsewhere.
std::mutex g_playlistClassLock;
}  // namespace

ZelMediaItemPlaylist::ZelMediaItemPlaylist(const char *name, MEDIA_ITEM_TYPE type)
    : ZelMediaItemList2(type),
      m_name(name != nullptr ? name : ""),
      m_id(0),
      m_wplHandle(ZEL_PLAYLIST_NO_HANDLE),
      m_playlistBookmark{0},
      m_bookmarkNeedsRefresh(false) {
  std::lock_guard<std::mutex> hold(g_playlistClassLock);
  m_id = ++s_lastPlaylistID;
}

ZelMediaItemPlaylist::~ZelMediaItemPlaylist() {
  // A record still held (a Save cut short) goes; the file stays.
  if (m_wplHandle != ZEL_PLAYLIST_NO_HANDLE) (void)upnp_wpl_release_playlist(m_wplHandle);
}

ZelMediaItemPlaylist *ZelMediaItemPlaylist::AllocateZelMediaItemPlaylist(const char *name, MEDIA_ITEM_TYPE type) {
  try {
    return new ZelMediaItemPlaylist(name, type);
  } catch (...) {
    return nullptr;
  }
}

ZelMediaItemList2 *ZelMediaItemPlaylist::Clone() {
  std::unique_ptr<ZelMediaItemPlaylist> copy(AllocateZelMediaItemPlaylist(m_name.c_str(), GetType()));
  if (copy == nullptr || !copy->Copy(this)) return nullptr;
  return copy.release();
}

int ZelMediaItemPlaylist::WplTypeOf(MEDIA_ITEM_TYPE type) {
  switch (type) {
    case MT_MUSIC: return UPNP_WPL_TYPE_MUSIC;
    case MT_PHOTO: return UPNP_WPL_TYPE_PICTURES;
    default: return UPNP_WPL_TYPE_VIDEO;
  }
}

MEDIA_ITEM_TYPE ZelMediaItemPlaylist::ItemTypeOf(int wplType) {
  switch (wplType) {
    case UPNP_WPL_TYPE_MUSIC: return MT_MUSIC;
    case UPNP_WPL_TYPE_PICTURES: return MT_PHOTO;
    default: return MT_VIDEO;
  }
}

bool ZelMediaItemPlaylist::Init() {
  std::lock_guard<std::mutex> hold(g_playlistClassLock);
  if (s_bInitializedWplLibrary) return false;
  upnp_wpl_init();
  s_bInitializedWplLibrary = true;
  return true;
}

bool ZelMediaItemPlaylist::EnsureWplStore() {
  (void)Init();
  return true;
}

void ZelMediaItemPlaylist::Cleanup() {
  std::lock_guard<std::mutex> hold(g_playlistClassLock);
  if (!s_bInitializedWplLibrary) return;
  s_bInitializedWplLibrary = false;
  upnp_wpl_exit();
}

bool ZelMediaItemPlaylist::GetPlaylistsPath(char *out, size_t size) {
  if (out == nullptr || size == 0) return false;
  out[0] = '\0';
  char appData[4096];
  if (!ZelUtil::GetLMAppDataPath(appData, sizeof appData)) return false;
  std::string folder = std::string(appData) + "/LumetBeamPlaylists";
  if (folder.size() >= size) return false;
  // Private to the user: the playlists name what the user listens to.
  (void)mkdir(appData, 0700);
  (void)mkdir(folder.c_str(), 0700);
  memcpy(out, folder.c_str(), folder.size() + 1);
  return true;
}

std::string ZelMediaItemPlaylist::FileKey(const char *name) {
  std::string key(name != nullptr ? name : "");
  for (char &c : key) {
    if (strchr(" /\\:*?\"<>|", c) != nullptr) {
      c = '#';
    } else {
      c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
  }
  return key;
}

void ZelMediaItemPlaylist::SetName(const char *name) {
  if (name == nullptr || m_name == name) return;
  std::string copy(name);
  DeletePlaylistOnServer();
  m_name.swap(copy);
  (void)Save(true, true);
}

const char *ZelMediaItemPlaylist::GetPlaylistBookmarkOnServer() {
  if (m_bookmarkNeedsRefresh && m_playlistBookmark[0] != '\0') {
    ZelControlPoint2 *cp = ZelControlPoint2::GetInstanceNoCreate();
    std::shared_ptr<ZelMediaServer2> server =
        cp != nullptr && !m_serverBookmark.empty() ? cp->GetServerList()->HoldFromBookmark(m_serverBookmark.c_str())
                                                   : nullptr;
    if (server != nullptr) {
      char refreshed[ZEL_PLAYLIST_BOOKMARK_SIZE];
      memcpy(refreshed, m_playlistBookmark, sizeof refreshed);
      if (server->UpdateBookmark(refreshed, sizeof refreshed)) {
        memcpy(m_playlistBookmark, refreshed, sizeof refreshed);
        m_bookmarkNeedsRefresh = false;
      }
    }
  }
  return m_playlistBookmark;
}

void ZelMediaItemPlaylist::SetPlaylistBookmarkOnServer(const char *text) {
  m_playlistBookmark[0] = '\0';
  if (text != nullptr) {
    size_t length = strnlen(text, ZEL_PLAYLIST_BOOKMARK_SIZE - 1);
    memcpy(m_playlistBookmark, text, length);
    m_playlistBookmark[length] = '\0';
  }
  m_bookmarkNeedsRefresh = false;
}

std::shared_ptr<ZelMediaServer2> ZelMediaItemPlaylist::HoldServer(bool orLocal) {
  ZelControlPoint2 *cp = ZelControlPoint2::GetInstanceNoCreate();
  if (cp == nullptr) return nullptr;
  if (!m_serverBookmark.empty()) return cp->GetServerList()->HoldFromBookmark(m_serverBookmark.c_str());
  return orLocal ? cp->HoldLocalPlaylistServer(false) : nullptr;
}

void ZelMediaItemPlaylist::DeletePlaylistOnServer() {
  if (m_playlistBookmark[0] == '\0') {
    // A playlist read from its file does not know its copy (bookmarks are
    // not kept in files): our copy under its name on the local playlist
    // server is the one, so that it does not stay behind.
    std::shared_ptr<ZelMediaServer2> local = HoldServer(true);
    std::string found;
    if (local != nullptr && local->FindOwnPlaylist(m_name.c_str(), GetType(), &found) && !local->DeletePlaylist(found.c_str()))
      upnp_log_impl(LOG_LEVEL_WARNING, LOG_SYSTEM, __func__, "the copy of \"%s\" on %s was not deleted", m_name.c_str(),
                    local->GetDeviceName());
    return;
  }
  std::shared_ptr<ZelMediaServer2> server = HoldServer(false);
  if (server == nullptr) return;  // gone from the network: the bookmark is kept
  if (!server->DeletePlaylist(m_playlistBookmark))
    upnp_log_impl(LOG_LEVEL_WARNING, LOG_SYSTEM, __func__, "the copy of \"%s\" on %s was not deleted", m_name.c_str(),
                  server->GetDeviceName());
  m_playlistBookmark[0] = '\0';
  m_bookmarkNeedsRefresh = false;
}

ZelMediaItemPlaylist *ZelMediaItemPlaylist::CreatePlaylistFromBookmarkOnServer(ZelMediaServer2 *server,
                                                                               const char *bookmark,
                                                                               MEDIA_ITEM_TYPE type) {
  if (server == nullptr) return nullptr;
  return server->GetPlaylist(bookmark, type);
}
