// A server object's context, names, handlers and notifications.
#include "media/zel_media_server.h"

#include <string.h>

#include "base/upnp_log.h"
#include "media/zel_control_point.h"
#include "media/zel_device_text.h"
#include "nmc/lm_dmscp.h"

ZelMediaServer2::ZelMediaServer2(const char *bookmark)
    : m_bookmark(bookmark != nullptr ? bookmark : ""),
      m_musicList(nullptr),
      m_proxyEnabled(false),
      m_context(0xFFFFFFFFu),
      m_versionFetched(false),
      m_versionRead(false) {
  (void)InitializeContext();
}

ZelMediaServer2::~ZelMediaServer2() {
  delete m_musicList;
  m_musicList = nullptr;
  if (m_proxyEnabled.exchange(false) && m_context != 0xFFFFFFFFu)
    (void)lm_dmscp_ioctl(m_context, "DisableDMSProxy", 0, nullptr);
  CleanupContext();
}

bool ZelMediaServer2::InitializeContext() {
  if (m_bookmark.empty()) return false;
  uint32_t context = 0xFFFFFFFFu;
  if (lm_dmscp_create_context(&context) != LM_NMC_OK) return false;
  m_context = context;
  if (lm_dmscp_go_bookmark(m_context, m_bookmark.c_str()) != LM_NMC_OK) return false;
  (void)lm_dmscp_register_callback(m_context, StaticServerCallback);
  std::string text;
  if (ZelReadContextText(lm_dmscp_extract_metadata, m_context, "friendlyName", &text)) m_deviceName = text;
  if (ZelReadContextText(lm_dmscp_extract_metadata, m_context, "modelName", &text)) m_modelName = text;
  if (ZelReadContextText(lm_dmscp_extract_metadata, m_context, "modelNumber", &text)) m_modelNumber = text;
  if (ZelReadContextText(lm_dmscp_extract_metadata, m_context, "manufacturer", &text)) m_manufacturer = text;
  return true;
}

void ZelMediaServer2::CleanupContext() {
  if (m_context == 0xFFFFFFFFu) return;
  (void)lm_dmscp_register_callback(m_context, nullptr);
  (void)lm_dmscp_delete_context(m_context);
  m_context = 0xFFFFFFFFu;
}

bool ZelMediaServer2::IsServer(const char *bookmark) const {
  return bookmark != nullptr && m_bookmark == bookmark;
}

bool ZelMediaServer2::IsBeamServer() const { return strstr(m_deviceName.c_str(), "LumetBeam") != nullptr; }

void ZelMediaServer2::FireEventAndDelete(ZelMediaServerEvent *event) {
  if (event == nullptr) return;
  m_handlers.Fire(event);
  delete event;
}

MEDIA_SERVER_EVENT ZelServerEventOfCode(uint32_t code) {
  switch (code) {
    case 1: return MS_CONTENT_UPDATED;
    case 3: return MS_NOTIFY_3;
    case 0: return MS_NOTIFY_0;
    default: return -1;
  }
}

void ZelMediaServer2::ServerCallback(uint32_t code) {
  MEDIA_SERVER_EVENT type = ZelServerEventOfCode(code);
  if (type < 0 || m_handlers.Empty()) return;
  FireEventAndDelete(new ZelMediaServerEvent(type, this));
}

void ZelMediaServer2::StaticServerCallback(uint32_t context, uint32_t code, const char * /*text*/) {
  if (ZelControlPoint2::IsTerminating()) return;
  ZelControlPoint2 *cp = ZelControlPoint2::GetInstanceNoCreate();
  if (cp == nullptr) return;
  std::shared_ptr<ZelMediaServer2> server = cp->GetServerList()->HoldFromContext(context);
  if (server == nullptr) return;
  if (code == 2 || code == 4) {
    // The server list changed: a context left at the server list finds its
    // server again.
    uint32_t level = 1;
    if (lm_dmscp_get_level(context, &level) == LM_NMC_OK && level == 0 &&
        lm_dmscp_go_bookmark(context, server->GetBookmark()) == LM_NMC_OK)
      (void)lm_dmscp_go_home(context);
    return;
  }
  server->ServerCallback(code);
}

bool ZelMediaServer2::EnableProxy() {
  bool on = lm_dmscp_ioctl(m_context, "EnableDMSProxy", 0, nullptr) == LM_NMC_OK;
  m_proxyEnabled = on;
  return on;
}

bool ZelMediaServer2::DisableProxy() {
  if (!m_proxyEnabled.exchange(false)) return true;
  return lm_dmscp_ioctl(m_context, "DisableDMSProxy", 0, nullptr) == LM_NMC_OK;
}
