// A renderer's internal queue and its mirror in the controller's queue:
// adding, replacing, clearing, moving, deleting, playing and skipping.
#include <string.h>

#include "base/upnp_mem.h"
#include "cp/upnp_cp_metadata_url.h"
#include "media/zel_control_point.h"
#include "media/zel_media_renderer.h"
#include "media/zel_renderer_queue_link.h"
#include "media/zel_youtube_item.h"
#include "nmc/lm_dmrcp.h"

bool ZelMediaRenderer2::HasQueue() {
  std::lock_guard<std::recursive_mutex> guard(m_queueLock);
  return m_queue != nullptr;
}

bool ZelMediaRenderer2::AddItemToQueue(ZelMediaItem2 *item) {
  if (item == nullptr) return false;
  {
    std::lock_guard<std::recursive_mutex> guard(m_queueLock);
    if (m_queue == nullptr) m_queue = ZelMediaItemList2::AllocateZelMediaItemList2(item->GetType());
    if (m_queue == nullptr) return false;
    ZelMediaItem2 *copy = item->Clone();
    if (copy == nullptr) return false;
    if (!m_queue->AddItem(copy, -1)) {
      delete copy;
      return false;
    }
  }
  (void)AddItemToNMCQueue(item);
  return true;
}

bool ZelMediaRenderer2::AddItemToNMCQueue(ZelMediaItem2 *item) {
  if (item == nullptr) return false;
  // The controller inserts after its queue cursor, which a play leaves on
  // the playing entry: both kinds go to the end first, so the controller's
  // queue keeps the order of the internal one (an index names the same item
  // in both).
  const char *serverBookmark = item->GetServerBookmark();
  if (serverBookmark != nullptr && serverBookmark[0] != '\0')
    return ZelQueueGoIndex(m_context, 0x7FFFFFFFu) == LM_NMC_OK &&
           ZelQueueAddBookmark(m_context, serverBookmark) == LM_NMC_OK;
  auto *urlItem = dynamic_cast<ZelUrlMediaItem2 *>(item);
  if (urlItem == nullptr) return false;
  ZelControlPoint2 *cp = ZelControlPoint2::GetInstanceNoCreate();
  bool stored = cp != nullptr && QueueStoredVideoUrl(cp->GetLocalBeamServer() != nullptr);
  const char *url = stored ? urlItem->GetUrl() : urlItem->GetPlayableUrl();
  if (url == nullptr || url[0] == '\0') return false;
  char *metadata = upnp_cp_create_metadata_from_url(url, item->GetName());
  if (metadata == nullptr) return false;
  bool added = ZelQueueGoIndex(m_context, 0x7FFFFFFFu) == LM_NMC_OK &&
               ZelQueueAddMetadata(m_context, url, metadata) == LM_NMC_OK;
  upnp_free_impl(metadata);
  return added;
}

bool ZelMediaRenderer2::CreateNMCQueueFromInternalQueue() {
  std::lock_guard<std::recursive_mutex> guard(m_queueLock);
  if (m_queue == nullptr || m_queue->Count() == 0) return false;
  for (uint32_t i = 0; i < m_queue->Count(); ++i)
    if (!AddItemToNMCQueue(m_queue->GetItem(static_cast<int>(i)))) return false;
  return true;
}

int ZelMediaRenderer2::SetQueue(ZelMediaItemList2 *list, bool play) {
  (void)Stop();
  (void)ZelQueueClear(m_context);
  {
    std::lock_guard<std::recursive_mutex> guard(m_queueLock);
    delete m_queue;
    m_queue = nullptr;
    if (list == nullptr) return ZEL_PLAY_FAILED;
    m_queue = list->Clone();
    if (!CreateNMCQueueFromInternalQueue() || !play) return ZEL_PLAY_FAILED;
  }
  return Play(0);
}

bool ZelMediaRenderer2::ClearQueue() {
  bool cleared = ZelQueueClear(m_context) == LM_NMC_OK;
  std::lock_guard<std::recursive_mutex> guard(m_queueLock);
  delete m_queue;
  m_queue = nullptr;
  return cleared;
}

bool ZelMediaRenderer2::MoveItemInQueue(int from, int to) {
  {
    std::lock_guard<std::recursive_mutex> guard(m_queueLock);
    if (m_queue == nullptr || !m_queue->MoveItem(from, to)) return false;
  }
  if (ZelQueueGoIndex(m_context, static_cast<uint32_t>(from)) == LM_NMC_OK)
    (void)ZelQueueMoveTo(m_context, static_cast<uint32_t>(to));
  return true;
}

bool ZelMediaRenderer2::DeleteItemFromQueue(int index) {
  {
    std::lock_guard<std::recursive_mutex> guard(m_queueLock);
    if (m_queue == nullptr || !m_queue->DeleteItem(index)) return false;
  }
  if (ZelQueueGoIndex(m_context, static_cast<uint32_t>(index)) == LM_NMC_OK) (void)ZelQueueDeleteItem(m_context);
  return true;
}

uint32_t ZelMediaRenderer2::NumItemsInQueue() {
  uint32_t count = 0;
  return ZelQueueGetCount(m_context, &count) == LM_NMC_OK ? count : 0;
}

uint32_t ZelMediaRenderer2::CurrentlyPlayingIndexInQueue() {
  int32_t index = -1;
  uint32_t pending = 0;
  if (ZelQueueGetPlayIndex(m_context, &index, &pending) != LM_NMC_OK) return 0xFFFFFFFFu;
  return static_cast<uint32_t>(index);
}

uint32_t ZelMediaRenderer2::NumItemsStillToBePlayedInQueue() {
  int32_t index = -1;
  uint32_t pending = 0;
  return ZelQueueGetPlayIndex(m_context, &index, &pending) == LM_NMC_OK ? pending : 0;
}

int ZelMediaRenderer2::Play(int index) {
  {
    std::lock_guard<std::recursive_mutex> guard(m_queueLock);
    if (index < 0 || m_queue == nullptr || static_cast<uint32_t>(index) >= m_queue->Count())
      return ZEL_PLAY_OUT_OF_RANGE;
  }
  if (Stop() != ZEL_PLAY_OK) return ZEL_PLAY_FAILED;
  if (ZelQueueGoIndex(m_context, static_cast<uint32_t>(index)) != LM_NMC_OK) return ZEL_PLAY_FAILED;
  return lm_dmrcp_play(m_context, 0) == LM_NMC_OK ? ZEL_PLAY_OK : ZEL_PLAY_FAILED;
}

int ZelMediaRenderer2::Play(ZelMediaItem2 *item, bool /*flag*/) {
  if (Stop() != ZEL_PLAY_OK || ZelQueueClear(m_context) != LM_NMC_OK) return ZEL_PLAY_FAILED;
  {
    std::lock_guard<std::recursive_mutex> guard(m_queueLock);
    delete m_queue;
    m_queue = nullptr;
  }
  if (!AddItemToQueue(item)) return ZEL_PLAY_FAILED;
  return Play(0);
}

int ZelMediaRenderer2::SkipToNextItem() {
  int32_t index = -1;
  uint32_t pending = 0;
  lm_nmc_result_t rc = ZelQueueGetPlayIndex(m_context, &index, &pending);
  if (rc != LM_NMC_OK) return ZEL_PLAY_FAILED;
  if (pending == 0) return ZEL_PLAY_OUT_OF_RANGE;
  if (Stop() != ZEL_PLAY_OK) return ZEL_PLAY_FAILED;
  if (ZelQueueGoIndex(m_context, static_cast<uint32_t>(index + 1)) != LM_NMC_OK) return ZEL_PLAY_FAILED;
  return lm_dmrcp_play(m_context, 0) == LM_NMC_OK ? ZEL_PLAY_OK : ZEL_PLAY_FAILED;
}
