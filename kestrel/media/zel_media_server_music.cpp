// A server's music list, loaded once from its "music/all" container with a
// bound on items and time, and the media items made from server objects.
#include <string.h>

#include <chrono>
#include <string>

#include "base/upnp_log.h"
#include "media/zel_device_text.h"
#include "media/zel_media_server.h"
#include "nmc/lm_dmscp.h"

namespace {

struct CreateItemRecord {
  ZelServerMediaItem2 *item;
  uint32_t fieldMask;
  bool artistSet;
};

int CreateMediaItemCallback(uint32_t /*context*/, const char *name, const char *value, uint32_t /*occurrence*/,
                            void *user) {
  auto *record = static_cast<CreateItemRecord *>(user);
  if (record == nullptr || name == nullptr || value == nullptr) return 1;
  if (strcmp(name, "Title") == 0) {
    (void)record->item->SetName(value);
  } else if (strcmp(name, "Genre") == 0) {
    if (ZelMediaServer2::IsFieldTypeRequested(record->fieldMask, ZEL_FIELD_GENRE)) (void)record->item->SetGenre(value);
  } else if (strcmp(name, "Artist") == 0) {
    // The first artist wins.
    if (ZelMediaServer2::IsFieldTypeRequested(record->fieldMask, ZEL_FIELD_ARTIST) && !record->artistSet)
      record->artistSet = record->item->SetArtist(value);
  } else if (strcmp(name, "Album") == 0) {
    if (ZelMediaServer2::IsFieldTypeRequested(record->fieldMask, ZEL_FIELD_ALBUM)) (void)record->item->SetAlbum(value);
  }
  return 1;
}

}  // namespace

ZelMediaItem2 *ZelMediaServer2::CreateMediaItemFromContext(uint32_t context, uint32_t fieldMask) {
  std::string title;
  std::string kind;
  if (!ZelReadContextText(lm_dmscp_extract_metadata, context, "Title", &title)) return nullptr;
  if (!ZelReadContextText(lm_dmscp_extract_metadata, context, "ObjectType", &kind)) return nullptr;
  if (kind == "Directory") return nullptr;
  MEDIA_ITEM_TYPE type = kind == "Audio" ? MT_MUSIC : kind == "Image" ? MT_PHOTO : kind == "Video" ? MT_VIDEO : MT_ANY;
  ZelServerMediaItem2 *item = ZelServerMediaItem2::AllocateZelServerMediaItem2(title.c_str(), type, MO_SERVER, nullptr);
  if (item == nullptr) return nullptr;
  CreateItemRecord record{item, fieldMask, false};
  if (lm_dmscp_load_metadata(context, CreateMediaItemCallback, LM_DMSCP_METADATA_OBJECT, &record) != LM_NMC_OK) {
    delete item;
    return nullptr;
  }
  std::string bookmark(ZEL_DEVICE_TEXT_MAX, '\0');
  if (lm_dmscp_get_bookmark(context, ZEL_DEVICE_TEXT_MAX, &bookmark[0]) == LM_NMC_OK) {
    bookmark.resize(strnlen(bookmark.c_str(), ZEL_DEVICE_TEXT_MAX - 1));
    (void)item->SetServerBookmark(bookmark.c_str());
  }
  return item;
}

void ZelMediaServer2::LoadMusicIfNecessary() {
  std::lock_guard<std::mutex> guard(m_musicLock);
  if (m_musicList != nullptr) return;
  // The list first, so that a failed load is not tried again.
  m_musicList = ZelMediaItemList2::AllocateZelMediaItemList2(MT_MUSIC);
  if (m_musicList == nullptr) return;
  uint32_t context = 0xFFFFFFFFu;
  if (lm_dmscp_create_context(&context) != LM_NMC_OK) return;
  uint32_t count = 0;
  if (lm_dmscp_go_bookmark(context, m_bookmark.c_str()) == LM_NMC_OK &&
      lm_dmscp_go_bookmark(context, ".,music/all") == LM_NMC_OK && lm_dmscp_get_count(context, &count) == LM_NMC_OK) {
    auto start = std::chrono::steady_clock::now();
    uint32_t index = 0;
    for (; index < count; ++index) {
      auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
      if (index >= ZEL_MUSIC_LOAD_MAX_ITEMS || spent.count() >= ZEL_MUSIC_LOAD_MAX_MS) {
        upnp_log_impl(LOG_LEVEL_WARNING, LOG_SYSTEM, __func__,
                      "music of %s cut at %u of %u items after %lld ms", m_deviceName.c_str(), index, count,
                      static_cast<long long>(spent.count()));
        break;
      }
      if (lm_dmscp_go_index(context, index) != LM_NMC_OK) continue;
      ZelMediaItem2 *item = CreateMediaItemFromContext(context, ZEL_FIELD_ALL);
      if (item != nullptr && !m_musicList->AddItem(item, -1)) delete item;
    }
  }
  (void)lm_dmscp_delete_context(context);
}

uint32_t ZelMediaServer2::GetNumMusicItems() {
  LoadMusicIfNecessary();
  std::lock_guard<std::mutex> guard(m_musicLock);
  return m_musicList != nullptr ? m_musicList->Count() : 0;
}

ZelMediaItem2 *ZelMediaServer2::GetMusicItem(uint32_t index) {
  LoadMusicIfNecessary();
  std::lock_guard<std::mutex> guard(m_musicLock);
  if (m_musicList == nullptr || index >= m_musicList->Count()) return nullptr;
  return m_musicList->GetItem(static_cast<int>(index));
}
