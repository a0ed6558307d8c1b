#ifndef KESTREL_MEDIA_ZEL_MEDIA_RENDERER_H
#define KESTREL_MEDIA_ZEL_MEDIA_RENDERER_H

/* ZelMediaRenderer2: one media renderer the controller reports, with a DMR
 * context of its own pointed at the renderer's bookmark, its names, its play
 * state as last fetched or reported, an internal queue of media items that
 * mirrors the controller's queue, and handlers for renderer events. Transport,
 * volume and queue work goes through the controller; the private messages of
 * associated players go over HTTP to "/lmmcp". */

#include <stdint.h>

#include <atomic>
#include <mutex>
#include <string>

#include "media/zel_callback_data.h"
#include "media/zel_media_events.h"
#include "media/zel_media_item.h"
#include "media/zel_media_item_list.h"

/* Results of play, stop and skip. */
#define ZEL_PLAY_OK 0
#define ZEL_PLAY_FAILED 1
#define ZEL_PLAY_OUT_OF_RANGE 4

class ZelMediaRenderer2 {
 public:
  typedef CALLBACK_DATA<ZelMediaRendererEvent> CALLBACK_DATA_T;
  typedef CALLBACK_DATA_T::Handler Handler;

  explicit ZelMediaRenderer2(const char *bookmark);
  ZelMediaRenderer2(const ZelMediaRenderer2 &) = delete;
  ZelMediaRenderer2 &operator=(const ZelMediaRenderer2 &) = delete;
  virtual ~ZelMediaRenderer2();

  bool InitializeContext();
  void CleanupContext();

  /* Texts are never null ("" when missing); setters for the main thread. */
  const char *GetBookmark() const { return m_bookmark.c_str(); }
  const char *GetDeviceName() const { return m_deviceName.c_str(); }
  const char *GetDisplayName() const { return m_hasDisplayName ? m_displayName.c_str() : m_deviceName.c_str(); }
  void SetDisplayName(const char *text);
  const char *GetManufacturer() const { return m_manufacturer.c_str(); }
  const char *GetModelName() const { return m_modelName.c_str(); }
  const char *GetModelNumber() const { return m_modelNumber.c_str(); }
  void SetManufacturer(const char *text) { m_manufacturer = text != nullptr ? text : ""; }
  void SetModelName(const char *text) { m_modelName = text != nullptr ? text : ""; }
  void SetModelNumber(const char *text) { m_modelNumber = text != nullptr ? text : ""; }
  uint32_t GetContext() const { return m_context; }
  bool IsRenderer(uint32_t context) const { return m_context == context; }
  bool IsRenderer(const char *bookmark) const { return bookmark != nullptr && m_bookmark == bookmark; }
  bool IsAssociatedPlayer() const { return m_associatedPlayer; }
  static bool IsAssociatedPlayerName(const char *deviceName);

  void AddEventHandler(Handler handler, void *userData) { m_handlers.Add(handler, userData); }
  void RemoveEventHandler(Handler handler) { m_handlers.Remove(handler); }
  void FireEventAndDelete(ZelMediaRendererEvent *event);
  /* A transport state from the controller: kept, and its event fired. */
  void RendererCallback(uint32_t code, const char *text);
  void QueueCallback(uint32_t code);
  static void StaticRendererCallback(uint32_t context, uint32_t code, const char *text);
  static void StaticQueueCallback(uint32_t context, uint32_t code, uint32_t index, uint32_t pending);

  /* Queue. */
  bool HasQueue();
  bool AddItemToQueue(ZelMediaItem2 *item);
  bool AddItemToNMCQueue(ZelMediaItem2 *item);
  bool CreateNMCQueueFromInternalQueue();
  int SetQueue(ZelMediaItemList2 *list, bool play);
  bool ClearQueue();
  bool MoveItemInQueue(int from, int to);
  bool DeleteItemFromQueue(int index);
  uint32_t NumItemsInQueue();
  uint32_t CurrentlyPlayingIndexInQueue();
  uint32_t NumItemsStillToBePlayedInQueue();
  /* Whether a video link goes to the queue as stored (for a local server
   * to resolve) rather than resolved here: only a beam server resolves
   * them. */
  static bool QueueStoredVideoUrl(bool localBeamServerKnown) { return localBeamServerKnown; }

  /* Transport. */
  int Play(int index);
  int Play(ZelMediaItem2 *item, bool flag);
  int Stop();
  int SkipToNextItem();
  int SkipToPreviousItem() { return ZEL_PLAY_FAILED; }
  void Pause();
  void Resume();
  void SetVolume(uint32_t percent);
  uint32_t GetVolume();
  void Mute(bool on);
  bool IsMuted();
  bool IsPlaying();
  bool IsPaused();
  bool IsStopped();
  void GetPlayStateIfNecessary();
  void SetPhotoSlideshowTimeout(uint32_t seconds);

  bool CanPlayItem(ZelMediaItem2 *item);
  static bool GetMimeForURL(const char *url, char *out, size_t size);

  /* Private messages of associated players. */
  bool SendControlPointMessage(const char *message, const char *argument, char *out, size_t size);
  bool GetAssociatedRendererName(char *out, size_t size);
  bool GetAssociatedRendererIcon(char *out, size_t size);
  bool GetAssociatedRendererNameAndIcon(char *name, size_t nameSize, char *icon, size_t iconSize);

 private:
  bool m_associatedPlayer;
  std::string m_bookmark;
  std::string m_deviceName;
  bool m_hasDisplayName;
  std::string m_displayName;
  std::string m_manufacturer;
  std::string m_modelName;
  std::string m_modelNumber;
  // Written by the notifier thread's state reports and the main thread's
  // fetch alike.
  std::atomic<bool> m_playStateKnown;
  std::atomic<uint32_t> m_playState;
  uint32_t m_context;
  // The internal queue is changed by the main thread; the lock keeps a
  // second caller (a test's thread, the web API) from seeing it half-changed.
  std::recursive_mutex m_queueLock;
  ZelMediaItemList2 *m_queue;
  ZelHandlerArray<ZelMediaRendererEvent> m_handlers;
};

#endif
