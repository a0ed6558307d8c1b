#ifndef KESTREL_MEDIA_ZEL_CONTROL_POINT_H
#define KESTREL_MEDIA_ZEL_CONTROL_POINT_H

/* ZelControlPoint2: the one object through which the media object model owns
 * the NMC controller. Its first GetInstance starts the controller and
 * registers for the server and renderer list callbacks; it keeps the servers
 * and renderers as objects and tells its handlers when one comes or goes.
 * Cleanup stops the controller, once. Locks and lifetimes: see the top of
 * zel_control_point.cpp. */

#include <stdint.h>

#include <atomic>
#include <memory>

#include "media/zel_callback_data.h"
#include "media/zel_media_events.h"
#include "media/zel_media_server_list.h"

class ZelMediaItemPlaylistList;

/* How long Cleanup waits for the controller to read "Stopped". */
#define ZEL_CP_STOP_DEADLINE_MS 20000u

class ZelControlPoint2 {
 public:
  typedef CALLBACK_DATA<ZelControlPointEvent> CALLBACK_DATA_T;
  typedef CALLBACK_DATA_T::Handler Handler;
  /* Runs the host's main-thread work while Cleanup waits (may be none). */
  typedef void (*MainThreadPump)();

  /* The singleton, made and started on first call. Null after Cleanup, and
   * null while the controller refused to start (the failed object is kept,
   * so the start is not tried again on every call). */
  static ZelControlPoint2 *GetInstance();
  static ZelControlPoint2 *GetInstanceNoCreate();
  static void Init();
  static bool IsInitialised();
  /* Stops the controller and destroys the singleton, once. The wait for
   * "Stopped" is bounded by ZEL_CP_STOP_DEADLINE_MS; pump (when given) runs
   * between the polls so that deliveries waiting for the main thread end. */
  static void Cleanup(MainThreadPump pump = nullptr);
  static bool IsTerminating() { return s_bTerminating.load(); }
  /* True once a Cleanup saw the controller stop (or there was none to stop). */
  static bool CleanupFinished() { return s_bCleanupFinished.load(); }

  static void ServerCallback(uint32_t context, uint32_t event, const char *bookmark);
  static void RendererCallback(uint32_t context, uint32_t event, const char *bookmark);

  virtual ~ZelControlPoint2();

  bool StartFailed() const { return m_bStartFailed; }
  ZelMediaServerList2 *GetServerList() { return m_serverList.get(); }
  ZelMediaRendererList2 *GetRendererList() { return m_rendererList.get(); }

  void AddEventHandler(Handler handler, void *userData) { m_handlers.Add(handler, userData); }
  void RemoveEventHandler(Handler handler) { m_handlers.Remove(handler); }
  /* Calls the handlers in order, then deletes the event. */
  void FireEventAndDelete(ZelControlPointEvent *event);

  /* A server on this machine whose version is at least 5.2. */
  bool IsLocalPlaylistServer(ZelMediaServer2 *server);
  static bool IsPlaylistServerVersion(int major, int minor) { return major > 5 || (major == 5 && minor > 1); }
  ZelMediaServer2 *GetLocalPlaylistServer() { return HoldLocalPlaylistServer(false).get(); }
  ZelMediaServer2 *GetLocalBeamServer() { return HoldLocalPlaylistServer(true).get(); }
  /* As the two above, the server held for the caller's use. */
  std::shared_ptr<ZelMediaServer2> HoldLocalPlaylistServer(bool beamOnly);
  /* The local playlist list, loaded from the playlists folder on first use. */
  ZelMediaItemPlaylistList *GetLocalPlaylistList();

 private:
  ZelControlPoint2();
  /* Stops the controller; false when it did not read "Stopped" in time. */
  static bool StopController(MainThreadPump pump);

  bool m_bStartFailed;
  std::unique_ptr<ZelMediaServerList2> m_serverList;
  std::unique_ptr<ZelMediaRendererList2> m_rendererList;
  ZelHandlerArray<ZelControlPointEvent> m_handlers;

  static std::atomic<ZelControlPoint2 *> s_pSingleton;
  static std::atomic<bool> s_bTerminating;
  static std::atomic<bool> s_bInitialised;
  static std::atomic<bool> s_bCleanupFinished;
};

#endif
