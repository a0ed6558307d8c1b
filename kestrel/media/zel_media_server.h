#ifndef KESTREL_MEDIA_ZEL_MEDIA_SERVER_H
#define KESTREL_MEDIA_ZEL_MEDIA_SERVER_H

/* ZelMediaServer2: one media server the controller reports, with a DMS
 * context of its own pointed at the server's bookmark, the names from its
 * description, its music list (loaded on first use, bounded), its version
 * when it is a local server (fetched once with a deadline and kept) and its
 * handlers for server events. Created and destroyed by the control point
 * (zel_control_point.h); the lists hold it by shared reference. */

#include <stdint.h>

#include <atomic>
#include <mutex>
#include <string>

#include "media/zel_callback_data.h"
#include "media/zel_media_events.h"
#include "media/zel_media_item.h"
#include "media/zel_media_item_list.h"

class ZelMediaItemPlaylist;
class ZelMediaItemPlaylistList;

/* Fields CreateMediaItemFromContext reads besides the title (0 and
 * 0x7FFFFFFF: all). */
#define ZEL_FIELD_GENRE 2u
#define ZEL_FIELD_ARTIST 4u
#define ZEL_FIELD_ALBUM 8u
#define ZEL_FIELD_ALL 0x7FFFFFFFu

/* Bounds of one music load: items and milliseconds. */
#define ZEL_MUSIC_LOAD_MAX_ITEMS 5000u
#define ZEL_MUSIC_LOAD_MAX_MS 20000u
/* Deadline of the one version fetch of a server (milliseconds). */
#define ZEL_VERSION_FETCH_MS 3000u

class ZelMediaServer2 {
 public:
  typedef CALLBACK_DATA<ZelMediaServerEvent> CALLBACK_DATA_T;
  typedef CALLBACK_DATA_T::Handler Handler;

  explicit ZelMediaServer2(const char *bookmark);
  ZelMediaServer2(const ZelMediaServer2 &) = delete;
  ZelMediaServer2 &operator=(const ZelMediaServer2 &) = delete;
  virtual ~ZelMediaServer2();

  bool InitializeContext();
  void CleanupContext();

  /* Texts are never null: a missing field is "". The setters are for the
   * main thread only. */
  const char *GetBookmark() const { return m_bookmark.c_str(); }
  const char *GetDeviceName() const { return m_deviceName.c_str(); }
  const char *GetManufacturer() const { return m_manufacturer.c_str(); }
  const char *GetModelName() const { return m_modelName.c_str(); }
  const char *GetModelNumber() const { return m_modelNumber.c_str(); }
  void SetManufacturer(const char *text) { m_manufacturer = text != nullptr ? text : ""; }
  void SetModelName(const char *text) { m_modelName = text != nullptr ? text : ""; }
  void SetModelNumber(const char *text) { m_modelNumber = text != nullptr ? text : ""; }
  uint32_t GetContext() const { return m_context; }
  bool IsServer(uint32_t context) const { return m_context == context; }
  bool IsServer(const char *bookmark) const;

  void AddEventHandler(Handler handler, void *userData) { m_handlers.Add(handler, userData); }
  void RemoveEventHandler(Handler handler) { m_handlers.Remove(handler); }
  /* Fires to every handler, then deletes the event. */
  void FireEventAndDelete(ZelMediaServerEvent *event);
  /* A controller notification code for this server (1, 3, 0 raise events). */
  void ServerCallback(uint32_t code);
  static void StaticServerCallback(uint32_t context, uint32_t code, const char *text);

  uint32_t GetNumMusicItems();
  /* Owned by the music list, which lives as long as the server. */
  ZelMediaItem2 *GetMusicItem(uint32_t index);
  void LoadMusicIfNecessary();

  bool IsLocalServer();
  bool IsBeamServer() const;
  bool GetVersionString(char *out, int size);
  bool GetVersion(int *major, int *minor);

  bool EnableProxy();
  bool DisableProxy();

  /* Playlists on this server (zel_media_server_playlists.cpp,
   * zel_media_server_upload.cpp). Each browse works in a temporary context
   * of its own. */
  ZelMediaItemPlaylist *GetPlaylist(const char *bookmark, MEDIA_ITEM_TYPE type);
  ZelMediaItemPlaylistList *GetPlaylistList(bool items);
  bool UpdateBookmark(char *buffer, uint32_t size);
  bool DeletePlaylist(const char *bookmark);
  /* Deletes the playlists whose creator is ours; always true. */
  bool DeleteAllPlaylists();
  /* Publishes the WPL playlist and waits (bounded) for the transfer's final
   * answer; out receives the new object's bookmark. True only when the
   * server took the whole text. */
  bool UploadPlaylist(uint32_t wplHandle, uint32_t size, char *out);
  bool ReplacePlaylists(ZelMediaItemPlaylistList * /*list*/) { return true; }
  /* The bookmark of our copy (creator "LumetBeam") titled title in the
   * container of type; false when there is none. */
  bool FindOwnPlaylist(const char *title, MEDIA_ITEM_TYPE type, std::string *bookmark);

  /* A new item for the object under the context's cursor; null for a
   * container or when its metadata cannot be read. */
  static ZelMediaItem2 *CreateMediaItemFromContext(uint32_t context, uint32_t fieldMask);
  static bool IsFieldTypeRequested(uint32_t mask, uint32_t field) {
    return mask == 0 || mask == ZEL_FIELD_ALL || (mask & field) != 0;
  }

 private:
  std::string m_bookmark;
  std::string m_deviceName;
  std::string m_manufacturer;
  std::string m_modelName;
  std::string m_modelNumber;
  // The music list is loaded once, on the main thread; the lock keeps a
  // second caller from reading it half-built.
  std::mutex m_musicLock;
  ZelMediaItemList2 *m_musicList;
  std::atomic<bool> m_proxyEnabled;
  uint32_t m_context;
  ZelHandlerArray<ZelMediaServerEvent> m_handlers;
  // The version text is fetched once per object (the lock makes a second
  // caller wait for the first fetch instead of starting another).
  std::mutex m_versionLock;
  bool m_versionFetched;
  bool m_versionRead;
  std::string m_version;
};

#endif
