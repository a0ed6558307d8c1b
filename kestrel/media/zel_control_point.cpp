// The control point singleton: starting and stopping the controller, the
// server and renderer lists, and the events of devices coming and going.
//
// Locks and lifetimes
// - The server list, the renderer list and every handler array (of the
//   control point, of each server and renderer) carry a lock of their own,
//   held only to read or change the entries. Events go out from a snapshot of
//   the handlers, each record held by the snapshot for the delivery, with no
//   lock held: a handler may call into the control point, its lists or the
//   event's device, and may register or remove handlers, while it runs.
// - The lists own their devices through shared references. A device that a
//   notifier thread removes while the main thread uses it (the component
//   holds what it looked up for the length of one method) stays valid until
//   that use ends; the last reference destroys it and deletes its context.
//   Once removed it is no longer found by its bookmark.
// - No controller lock is held while a controller callback delivers (the
//   controller's notifier threads call us without one), so handlers may call
//   the controller.
// - Cleanup is bounded: it marks the class terminating (callbacks from then
//   on return at once, and the component stops delivering to observers),
//   sends "StopNMC" and polls "GetNMCRunState" until "Stopped" or
//   ZEL_CP_STOP_DEADLINE_MS, running the host's main-thread work between the
//   polls so that a notifier waiting in a synchronous delivery can finish.
//   When the controller read "Stopped" its notifier threads have ended and
//   the singleton and its devices are destroyed; when the deadline passed the
//   singleton is left alive (never freed under a late callback) and an error
//   is logged.
// - GetInstance answers null when the controller refused to start; the
//   component then answers NS_ERROR_NOT_AVAILABLE. The failed object is kept
//   so that the start is not tried again on every call.
// - Creation is serialised by one class lock; the singleton pointer is read
//   without it (atomic).
#include "media/zel_control_point.h"

#include <string.h>

#include <chrono>
#include <mutex>
#include <new>
#include <thread>

#include "base/upnp_log.h"
#include "media/zel_control_point_log.h"
#include "media/zel_media_item_playlist.h"
#include "media/zel_util.h"
#include "nmc/lm_nmc.h"
#include "nmc/lm_nmc_internal.h"

std::atomic<ZelControlPoint2 *> ZelControlPoint2::s_pSingleton(nullptr);
std::atomic<bool> ZelControlPoint2::s_bTerminating(false);
std::atomic<bool> ZelControlPoint2::s_bInitialised(false);
std::atomic<bool> ZelControlPoint2::s_bCleanupFinished(false);

namespace {
// Serialises creation and Cleanup (recursive: main-thread work that Cleanup
// runs while it waits may ask again).
std::recursive_mutex g_classLock;
}  // namespace

ZelControlPoint2::ZelControlPoint2()
    : m_bStartFailed(false), m_serverList(new ZelMediaServerList2()), m_rendererList(new ZelMediaRendererList2()) {}

ZelControlPoint2::~ZelControlPoint2() {
  // Devices go before the lists; each deletes its own context.
  (void)m_serverList->TakeAll();
  (void)m_rendererList->TakeAll();
  m_handlers.Clear();
}

void ZelControlPoint2::Init() { s_bInitialised = true; }

bool ZelControlPoint2::IsInitialised() { return s_bInitialised.load(); }

ZelControlPoint2 *ZelControlPoint2::GetInstanceNoCreate() {
  ZelControlPoint2 *cp = s_pSingleton.load();
  return cp != nullptr && !cp->m_bStartFailed ? cp : nullptr;
}

ZelControlPoint2 *ZelControlPoint2::GetInstance() {
  ZelControlPoint2 *cp = s_pSingleton.load();
  if (cp != nullptr) return cp->m_bStartFailed ? nullptr : cp;
  std::lock_guard<std::recursive_mutex> guard(g_classLock);
  if (s_bTerminating) return nullptr;
  cp = s_pSingleton.load();
  if (cp != nullptr) return cp->m_bStartFailed ? nullptr : cp;
  cp = new (std::nothrow) ZelControlPoint2();
  if (cp == nullptr) return nullptr;
  (void)ZelControlPointOpenLog();
  if (lm_dmscp_ioctl(0, "StartNMC", 0, nullptr) != LM_NMC_OK) {
    cp->m_bStartFailed = true;
    upnp_log_impl(LOG_LEVEL_ERROR, LOG_SYSTEM, __func__, "the controller did not start");
    s_pSingleton = cp;
    return nullptr;
  }
  // Stored before the callbacks are registered, so that a device reported
  // at once finds the lists.
  s_pSingleton = cp;
  (void)lm_dmrcp_ioctl(LM_NMC_DEFAULT_DMR_CONTEXT, "SetNMCMode Standalone", 0, nullptr);
  (void)lm_dmscp_register_callback(LM_NMC_DEFAULT_DMS_CONTEXT, ServerCallback);
  (void)lm_dmrcp_register_callback(LM_NMC_DEFAULT_DMR_CONTEXT, RendererCallback);
  return cp;
}

bool ZelControlPoint2::StopController(MainThreadPump pump) {
  (void)lm_dmscp_ioctl(0, "StopNMC", 0, nullptr);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ZEL_CP_STOP_DEADLINE_MS);
  for (;;) {
    char state[64] = {0};
    if (lm_dmscp_ioctl(0, "GetNMCRunState", sizeof state, state) == LM_NMC_OK && strcmp(state, "Stopped") == 0) {
      // "Stopped" is the terminator thread's last act: join it, so that no
      // thread of the controller outlives the clean-up.
      (void)nmc_wait_stopped(1000);
      return true;
    }
    if (std::chrono::steady_clock::now() >= deadline) return false;
    if (pump != nullptr) pump();
    std::this_thread::sleep_for(std::chrono::milliseconds(pump != nullptr ? 10 : 100));
  }
}

void ZelControlPoint2::Cleanup(MainThreadPump pump) {
  std::lock_guard<std::recursive_mutex> guard(g_classLock);
  if (s_bTerminating.exchange(true)) return;
  ZelControlPoint2 *cp = s_pSingleton.load();
  if (cp != nullptr) {
    if (!cp->m_bStartFailed) {
      (void)lm_dmscp_register_callback(LM_NMC_DEFAULT_DMS_CONTEXT, nullptr);
      (void)lm_dmrcp_register_callback(LM_NMC_DEFAULT_DMR_CONTEXT, nullptr);
    }
    bool stopped = StopController(pump);
    s_pSingleton = nullptr;
    if (stopped) {
      delete cp;
      s_bCleanupFinished = true;
    } else {
      upnp_log_impl(LOG_LEVEL_ERROR, LOG_SYSTEM, __func__,
                    "the controller did not stop within %u ms; its objects are left", ZEL_CP_STOP_DEADLINE_MS);
    }
  }
  if (cp == nullptr) s_bCleanupFinished = true;
  ZelMediaItemPlaylist::Cleanup();
  ZelMediaItemPlaylistList::Cleanup();
  ZelUtil::Cleanup();
}

void ZelControlPoint2::FireEventAndDelete(ZelControlPointEvent *event) {
  if (event == nullptr) return;
  m_handlers.Fire(event);
  delete event;
}

void ZelControlPoint2::ServerCallback(uint32_t /*context*/, uint32_t event, const char *bookmark) {
  if (IsTerminating() || bookmark == nullptr) return;
  ZelControlPoint2 *cp = GetInstanceNoCreate();
  if (cp == nullptr) return;
  ZelMediaServerList2 *list = cp->GetServerList();
  if (event == 4) {
    ZelMediaServer2 *server = list->CreateServerFromBookmark(bookmark);
    if (server == nullptr) return;
    if (!list->AddServer(server)) {  // listed meanwhile
      delete server;
      return;
    }
    std::shared_ptr<ZelMediaServer2> held = list->HoldFromBookmark(bookmark);
    if (held != nullptr) cp->FireEventAndDelete(new ZelControlPointEvent(CP_SERVER_ADDED, held.get()));
  } else if (event == 2) {
    std::shared_ptr<ZelMediaServer2> held = list->HoldFromBookmark(bookmark);
    if (held == nullptr) return;
    cp->FireEventAndDelete(new ZelControlPointEvent(CP_SERVER_REMOVED, held.get()));
    (void)list->Take(held.get());
  }
}

void ZelControlPoint2::RendererCallback(uint32_t /*context*/, uint32_t event, const char *bookmark) {
  if (IsTerminating() || bookmark == nullptr) return;
  ZelControlPoint2 *cp = GetInstanceNoCreate();
  if (cp == nullptr) return;
  ZelMediaRendererList2 *list = cp->GetRendererList();
  if (event == 0x4002) {
    ZelMediaRenderer2 *renderer = list->CreateRendererFromBookmark(bookmark);
    if (renderer == nullptr) return;
    if (!list->AddRenderer(renderer)) {
      delete renderer;
      return;
    }
    std::shared_ptr<ZelMediaRenderer2> held = list->HoldFromBookmark(bookmark);
    if (held != nullptr) cp->FireEventAndDelete(new ZelControlPointEvent(CP_RENDERER_ADDED, held.get()));
  } else if (event == 0x4001) {
    std::shared_ptr<ZelMediaRenderer2> held = list->HoldFromBookmark(bookmark);
    if (held == nullptr) return;
    cp->FireEventAndDelete(new ZelControlPointEvent(CP_RENDERER_REMOVED, held.get()));
    (void)list->Take(held.get());
  }
}

bool ZelControlPoint2::IsLocalPlaylistServer(ZelMediaServer2 *server) {
  if (server == nullptr || !server->IsLocalServer()) return false;
  int major = 0, minor = 0;
  return server->GetVersion(&major, &minor) && IsPlaylistServerVersion(major, minor);
}

ZelMediaItemPlaylistList *ZelControlPoint2::GetLocalPlaylistList() {
  return ZelMediaItemPlaylistList::LoadListFromDisk();
}

std::shared_ptr<ZelMediaServer2> ZelControlPoint2::HoldLocalPlaylistServer(bool beamOnly) {
  for (const auto &server : m_serverList->Snapshot()) {
    if (beamOnly && !server->IsBeamServer()) continue;
    if (IsLocalPlaylistServer(server.get())) return server;
  }
  return nullptr;
}
