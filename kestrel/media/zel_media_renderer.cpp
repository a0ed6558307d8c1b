// A renderer object's context, names, handlers, notifications, transport,
// volume and play state.
#include "media/zel_media_renderer.h"

#include <stdio.h>
#include <strings.h>

#include "media/zel_control_point.h"
#include "media/zel_device_text.h"
#include "nmc/lm_dmrcp.h"

ZelMediaRenderer2::ZelMediaRenderer2(const char *bookmark)
    : m_associatedPlayer(false),
      m_bookmark(bookmark != nullptr ? bookmark : ""),
      m_hasDisplayName(false),
      m_playStateKnown(false),
      m_playState(0),
      m_context(0xFFFFFFFFu),
      m_queue(nullptr) {
  (void)InitializeContext();
  m_associatedPlayer = IsAssociatedPlayerName(m_deviceName.c_str());
}

ZelMediaRenderer2::~ZelMediaRenderer2() {
  {
    std::lock_guard<std::recursive_mutex> guard(m_queueLock);
    delete m_queue;
    m_queue = nullptr;
  }
  CleanupContext();
}

bool ZelMediaRenderer2::IsAssociatedPlayerName(const char *name) {
  return name != nullptr && (strncasecmp(name, "lmm player", 10) == 0 || strncasecmp(name, "lmmplayer", 9) == 0);
}

bool ZelMediaRenderer2::InitializeContext() {
  if (m_bookmark.empty()) return false;
  uint32_t context = 0xFFFFFFFFu;
  if (lm_dmrcp_create_context(&context) != LM_NMC_OK) return false;
  m_context = context;
  if (lm_dmrcp_go_bookmark(m_context, m_bookmark.c_str()) != LM_NMC_OK) return false;
  (void)lm_dmrcp_register_callback(m_context, StaticRendererCallback);
  (void)lm_queue_register_callback(m_context, StaticQueueCallback);
  std::string text;
  if (ZelReadContextText(lm_dmrcp_extract_metadata, m_context, "friendlyName", &text)) m_deviceName = text;
  if (ZelReadContextText(lm_dmrcp_extract_metadata, m_context, "modelName", &text)) m_modelName = text;
  if (ZelReadContextText(lm_dmrcp_extract_metadata, m_context, "modelNumber", &text)) m_modelNumber = text;
  if (ZelReadContextText(lm_dmrcp_extract_metadata, m_context, "manufacturer", &text)) m_manufacturer = text;
  return true;
}

void ZelMediaRenderer2::CleanupContext() {
  if (m_context == 0xFFFFFFFFu) return;
  (void)lm_dmrcp_register_callback(m_context, nullptr);
  (void)lm_queue_register_callback(m_context, nullptr);
  (void)lm_dmrcp_delete_context(m_context);
  m_context = 0xFFFFFFFFu;
}

void ZelMediaRenderer2::SetDisplayName(const char *text) {
  m_hasDisplayName = text != nullptr;
  m_displayName = text != nullptr ? text : "";
}

void ZelMediaRenderer2::FireEventAndDelete(ZelMediaRendererEvent *event) {
  if (event == nullptr) return;
  m_handlers.Fire(event);
  delete event;
}

MEDIA_RENDERER_EVENT ZelRendererEventOfState(uint32_t state) {
  switch (state) {
    case 1: return MR_PLAYING;
    case 3: return MR_PAUSED;
    case 0: return MR_STOPPED;
    default: return -1;
  }
}

MEDIA_RENDERER_EVENT ZelRendererEventOfQueueCode(uint32_t code) {
  switch (code) {
    case 1: return MR_QUEUE_PLAYING;
    case 0: return MR_QUEUE_STOPPED;
    default: return -1;
  }
}

void ZelMediaRenderer2::RendererCallback(uint32_t code, const char * /*text*/) {
  m_playState = code;
  m_playStateKnown = true;
  MEDIA_RENDERER_EVENT type = ZelRendererEventOfState(code);
  if (type < 0 || m_handlers.Empty()) return;
  FireEventAndDelete(new ZelMediaRendererEvent(type, this));
}

void ZelMediaRenderer2::QueueCallback(uint32_t code) {
  MEDIA_RENDERER_EVENT type = ZelRendererEventOfQueueCode(code);
  if (type < 0 || m_handlers.Empty()) return;
  FireEventAndDelete(new ZelMediaRendererEvent(type, this));
}

void ZelMediaRenderer2::StaticRendererCallback(uint32_t context, uint32_t code, const char *text) {
  if (ZelControlPoint2::IsTerminating()) return;
  ZelControlPoint2 *cp = ZelControlPoint2::GetInstanceNoCreate();
  if (cp == nullptr) return;
  std::shared_ptr<ZelMediaRenderer2> renderer = cp->GetRendererList()->HoldFromContext(context);
  if (renderer == nullptr) return;
  if (code == 0x4001 || code == 0x4002) {
    (void)lm_dmrcp_go_bookmark(context, renderer->GetBookmark());
    return;
  }
  renderer->RendererCallback(code, text);
}

void ZelMediaRenderer2::StaticQueueCallback(uint32_t context, uint32_t code, uint32_t /*index*/,
                                            uint32_t /*pending*/) {
  if (ZelControlPoint2::IsTerminating()) return;
  ZelControlPoint2 *cp = ZelControlPoint2::GetInstanceNoCreate();
  if (cp == nullptr) return;
  std::shared_ptr<ZelMediaRenderer2> renderer = cp->GetRendererList()->HoldFromContext(context);
  if (renderer != nullptr) renderer->QueueCallback(code);
}

void ZelMediaRenderer2::Pause() { (void)lm_dmrcp_pause(m_context, 0); }

void ZelMediaRenderer2::Resume() { (void)lm_dmrcp_pause(m_context, 1); }

void ZelMediaRenderer2::SetVolume(uint32_t percent) { (void)lm_dmrcp_set_volume_percent(m_context, percent); }

uint32_t ZelMediaRenderer2::GetVolume() {
  uint32_t percent = 0;
  if (lm_dmrcp_get_volume_percent(m_context, &percent) != LM_NMC_OK) return 0;
  return percent;
}

void ZelMediaRenderer2::Mute(bool on) { (void)lm_dmrcp_set_mute(m_context, on ? 1 : 0); }

bool ZelMediaRenderer2::IsMuted() {
  int on = 0;
  return lm_dmrcp_get_mute(m_context, &on) == LM_NMC_OK && on == 1;
}

void ZelMediaRenderer2::GetPlayStateIfNecessary() {
  if (m_playStateKnown) return;
  uint32_t state = 0;
  if (lm_dmrcp_get_state(m_context, &state, 0, nullptr, 0, nullptr) != LM_NMC_OK) return;
  // A report of the notifier that came meanwhile is newer than this fetch.
  bool known = false;
  if (m_playStateKnown.compare_exchange_strong(known, true)) m_playState = state;
}

bool ZelMediaRenderer2::IsPlaying() {
  GetPlayStateIfNecessary();
  return m_playStateKnown && m_playState == 1;
}

bool ZelMediaRenderer2::IsPaused() {
  GetPlayStateIfNecessary();
  return m_playStateKnown && m_playState == 3;
}

bool ZelMediaRenderer2::IsStopped() {
  GetPlayStateIfNecessary();
  uint32_t state = m_playState;
  return m_playStateKnown && (state == 0 || state == 6);
}

void ZelMediaRenderer2::SetPhotoSlideshowTimeout(uint32_t seconds) {
  char command[64];
  snprintf(command, sizeof command, "%s %d", "DMRSetSlideshowDelay", static_cast<int>(seconds));
  (void)lm_dmrcp_ioctl(m_context, command, 0, nullptr);
}

int ZelMediaRenderer2::Stop() {
  if (lm_dmrcp_stop(m_context) == LM_NMC_OK) return ZEL_PLAY_OK;
  return IsStopped() ? ZEL_PLAY_OK : ZEL_PLAY_FAILED;
}
