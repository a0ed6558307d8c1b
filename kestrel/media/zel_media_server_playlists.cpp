// A server's playlists read back, their bookmarks refreshed and deleted.
// Every operation browses in a temporary context of its own, deleted on
// every path, so the server's own context keeps its place.
#include <string.h>

#include <memory>
#include <new>
#include <string>
#include <vector>

#include "base/upnp_log.h"
#include "cp/upnp_cp.h"
#include "media/zel_device_text.h"
#include "media/zel_media_item_playlist.h"
#include "media/zel_media_server.h"
#include "nmc/lm_dmscp.h"

namespace {

// The three playlist containers in the order they are read.
const struct {
  const char *bookmark;
  MEDIA_ITEM_TYPE type;
} kContainers[] = {
    {".,music/playlists", MT_MUSIC},
    {".,picture/playlists", MT_PHOTO},
    {".,video/playlists", MT_VIDEO},
};

// A temporary DMS context, deleted when it goes.
class TempContext {
 public:
  TempContext() {
    if (lm_dmscp_create_context(&m_context) != LM_NMC_OK) m_context = 0xFFFFFFFFu;
  }
  ~TempContext() {
    if (ok()) (void)lm_dmscp_delete_context(m_context);
  }
  TempContext(const TempContext &) = delete;
  TempContext &operator=(const TempContext &) = delete;
  bool ok() const { return m_context != 0xFFFFFFFFu; }
  uint32_t id() const { return m_context; }

 private:
  uint32_t m_context = 0xFFFFFFFFu;
};

bool read_text(uint32_t context, const char *key, std::string *out) {
  return ZelReadContextText(lm_dmscp_extract_metadata, context, key, out);
}

bool read_bookmark(uint32_t context, uint32_t size, std::string *out) {
  std::vector<char> buffer(size, '\0');
  if (lm_dmscp_get_bookmark(context, size, buffer.data()) != LM_NMC_OK) return false;
  buffer[size - 1] = '\0';
  out->assign(buffer.data());
  return true;
}

bool read_level_name(uint32_t context, std::string *out) {
  char name[1000] = {0};
  if (lm_dmscp_get_levelname(context, sizeof name, name) != LM_NMC_OK) return false;
  name[sizeof name - 1] = '\0';
  out->assign(name);
  return true;
}

// Appends the playlists of one container (see GetPlaylistList).
void add_container(const std::string &serverBookmark, const char *container, MEDIA_ITEM_TYPE type, bool items,
                   ZelMediaItemPlaylistList *list) {
  TempContext context;
  uint32_t count = 0;
  if (!context.ok() || lm_dmscp_go_bookmark(context.id(), serverBookmark.c_str()) != LM_NMC_OK ||
      lm_dmscp_go_bookmark(context.id(), container) != LM_NMC_OK ||
      lm_dmscp_get_count(context.id(), &count) != LM_NMC_OK)
    return;
  for (uint32_t index = 0; index < count; ++index) {
    std::string bookmark, title;
    if (lm_dmscp_go_bookmark(context.id(), serverBookmark.c_str()) != LM_NMC_OK ||
        lm_dmscp_go_bookmark(context.id(), container) != LM_NMC_OK ||
        lm_dmscp_go_index(context.id(), index) != LM_NMC_OK || !read_bookmark(context.id(), 8192, &bookmark) ||
        !read_text(context.id(), "Title", &title))
      continue;
    std::unique_ptr<ZelMediaItemPlaylist> playlist(
        ZelMediaItemPlaylist::AllocateZelMediaItemPlaylist(title.c_str(), type));
    if (playlist == nullptr) return;
    playlist->SetPlaylistBookmarkOnServer(bookmark.c_str());
    uint32_t children = 0;
    if (items && lm_dmscp_go_directory(context.id()) == LM_NMC_OK &&
        lm_dmscp_get_count(context.id(), &children) == LM_NMC_OK) {
      for (uint32_t child = 0; child < children; ++child) {
        std::string name;
        if (lm_dmscp_go_index(context.id(), child) != LM_NMC_OK || !read_text(context.id(), "Title", &name)) continue;
        ZelUrlMediaItem2 *item = ZelUrlMediaItem2::AllocateZelUrlMediaItem2(name.c_str(), type, MO_URL, nullptr);
        if (item != nullptr && !playlist->AddItem(item, -1)) delete item;
      }
    }
    if (list->AddPlaylist(playlist.get())) (void)playlist.release();
  }
}

}  // namespace

ZelMediaItemPlaylist *ZelMediaServer2::GetPlaylist(const char *bookmark, MEDIA_ITEM_TYPE type) {
  if (bookmark == nullptr) return nullptr;
  TempContext context;
  std::string levelName;
  uint32_t count = 0;
  uint32_t directory = 0;
  if (!context.ok() || lm_dmscp_go_bookmark(context.id(), bookmark) != LM_NMC_OK) return nullptr;
  // A playlist's bookmark names the playlist in its container: its items are
  // inside it (without entering, the container's own listing would be read).
  if (lm_dmscp_is_directory(context.id(), &directory) == LM_NMC_OK && directory != 0 &&
      lm_dmscp_go_directory(context.id()) != LM_NMC_OK)
    return nullptr;
  if (!read_level_name(context.id(), &levelName) || lm_dmscp_get_count(context.id(), &count) != LM_NMC_OK)
    return nullptr;
  std::unique_ptr<ZelMediaItemPlaylist> playlist(
      ZelMediaItemPlaylist::AllocateZelMediaItemPlaylist(levelName.c_str(), type));
  if (playlist == nullptr) return nullptr;
  for (uint32_t index = 0; index < count; ++index) {
    std::string title;
    int32_t resources = 0;
    if (lm_dmscp_go_index(context.id(), index) != LM_NMC_OK || !read_text(context.id(), "Title", &title) ||
        lm_dmscp_extract_metadata_int(context.id(), "Resource.Count", 0, &resources) != LM_NMC_OK)
      continue;
    std::string uri, objectBookmark;
    bool home = false;
    for (int32_t r = 0; r < resources; ++r) {
      char buffer[1000] = {0};
      if (lm_dmscp_extract_metadata(context.id(), "Resource@URI", static_cast<uint32_t>(r), sizeof buffer, buffer) !=
          LM_NMC_OK)
        continue;
      buffer[sizeof buffer - 1] = '\0';
      uri = buffer;
      if (upnp_cp_is_home_network_http_url(buffer) && read_bookmark(context.id(), 1024, &objectBookmark)) {
        home = true;
        break;
      }
    }
    ZelUrlMediaItem2 *item = ZelUrlMediaItem2::AllocateZelUrlMediaItem2(title.c_str(), type, MO_URL, uri.c_str());
    if (item == nullptr) continue;
    if (home) (void)item->SetServerBookmark(objectBookmark.c_str());
    if (!playlist->AddItem(item, -1)) delete item;
  }
  return playlist.release();
}

ZelMediaItemPlaylistList *ZelMediaServer2::GetPlaylistList(bool items) {
  ZelMediaItemPlaylistList *list = new (std::nothrow) ZelMediaItemPlaylistList();
  if (list == nullptr) return nullptr;
  for (const auto &container : kContainers) add_container(m_bookmark, container.bookmark, container.type, items, list);
  return list;
}

bool ZelMediaServer2::UpdateBookmark(char *buffer, uint32_t size) {
  if (buffer == nullptr || size == 0) return false;
  TempContext context;
  std::string levelName, title, current;
  if (!context.ok() || lm_dmscp_go_bookmark(context.id(), buffer) != LM_NMC_OK ||
      !read_level_name(context.id(), &levelName) || !read_text(context.id(), "Title", &title) ||
      !read_bookmark(context.id(), size, &current))
    return false;
  memcpy(buffer, current.c_str(), current.size() + 1);
  return true;
}

bool ZelMediaServer2::DeletePlaylist(const char *bookmark) {
  if (bookmark == nullptr || bookmark[0] == '\0') return false;
  TempContext context;
  return context.ok() && lm_dmscp_go_bookmark(context.id(), bookmark) == LM_NMC_OK &&
         lm_dmscp_delete_object(context.id()) == LM_NMC_OK;
}

bool ZelMediaServer2::DeleteAllPlaylists() {
  for (const auto &container : kContainers) {
    TempContext context;
    uint32_t count = 0;
    if (!context.ok() || lm_dmscp_go_bookmark(context.id(), m_bookmark.c_str()) != LM_NMC_OK ||
        lm_dmscp_go_bookmark(context.id(), container.bookmark) != LM_NMC_OK ||
        lm_dmscp_get_count(context.id(), &count) != LM_NMC_OK)
      continue;
    for (uint32_t index = count; index-- > 0;) {
      std::string creator;
      if (lm_dmscp_go_bookmark(context.id(), m_bookmark.c_str()) != LM_NMC_OK ||
          lm_dmscp_go_bookmark(context.id(), container.bookmark) != LM_NMC_OK ||
          lm_dmscp_go_index(context.id(), index) != LM_NMC_OK || !read_text(context.id(), "Creator", &creator))
        continue;
      if (creator == ZEL_PLAYLIST_GENERATOR) (void)lm_dmscp_delete_object(context.id());
    }
  }
  return true;
}

bool ZelMediaServer2::FindOwnPlaylist(const char *title, MEDIA_ITEM_TYPE type, std::string *bookmark) {
  bookmark->clear();
  if (title == nullptr) return false;
  const char *container = kContainers[type == MT_MUSIC ? 0 : type == MT_PHOTO ? 1 : 2].bookmark;
  TempContext context;
  uint32_t count = 0;
  if (!context.ok() || lm_dmscp_go_bookmark(context.id(), m_bookmark.c_str()) != LM_NMC_OK ||
      lm_dmscp_go_bookmark(context.id(), container) != LM_NMC_OK ||
      lm_dmscp_get_count(context.id(), &count) != LM_NMC_OK)
    return false;
  // Nothing changes while it looks: one walk through the container's
  // listing (its pages are read once), not a new browse per entry.
  for (uint32_t index = 0; index < count; ++index) {
    std::string name, creator;
    if (lm_dmscp_go_index(context.id(), index) != LM_NMC_OK || !read_text(context.id(), "Title", &name) ||
        !read_text(context.id(), "Creator", &creator))
      continue;
    if (name == title && creator == ZEL_PLAYLIST_GENERATOR) return read_bookmark(context.id(), 8192, bookmark);
  }
  return false;
}
