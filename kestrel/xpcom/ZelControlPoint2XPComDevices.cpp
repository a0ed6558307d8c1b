// The component's device information: counts and info strings of servers
// and renderers, the local server's version, and the lookups of the control
// point and its devices that every device method uses.
#include <stdio.h>

#include <string>

#include "media/zel_util.h"
#include "xpcom/ZelControlPoint2XPCom.h"
#include "xpcom/ZelControlPoint2XPComLookup.h"
#include "xpcom/zel_xpcom_foundation.h"
#include "xpcom/zel_xpcom_out.h"

ZelControlPoint2 *zel_xpcom_control_point(nsresult *rv) {
  ZelControlPoint2 *cp = ZelControlPoint2::GetInstanceNoCreate();
  *rv = cp != nullptr ? NS_OK : NS_ERROR_NOT_AVAILABLE;
  return cp;
}

std::shared_ptr<ZelMediaRenderer2> zel_xpcom_renderer(const char *bookmark, nsresult *rv) {
  ZelControlPoint2 *cp = zel_xpcom_control_point(rv);
  if (cp == nullptr) return nullptr;
  std::shared_ptr<ZelMediaRenderer2> renderer = cp->GetRendererList()->HoldFromBookmark(bookmark);
  *rv = renderer != nullptr ? NS_OK : NS_ERROR_INVALID_ARG;
  return renderer;
}

std::shared_ptr<ZelMediaServer2> zel_xpcom_server(const char *bookmark, nsresult *rv) {
  ZelControlPoint2 *cp = zel_xpcom_control_point(rv);
  if (cp == nullptr) return nullptr;
  std::shared_ptr<ZelMediaServer2> server = cp->GetServerList()->HoldFromBookmark(bookmark);
  *rv = server != nullptr ? NS_OK : NS_ERROR_INVALID_ARG;
  return server;
}

namespace {

std::string device_info(const char *name, const char *bookmark, const char *friendly, int icon) {
  std::string text = std::string(name) + "^" + bookmark + "^" + friendly + "^";
  return text + std::to_string(icon);
}

const char *or_empty(const char *text) { return text != nullptr ? text : ""; }

}  // namespace

std::string zel_xpcom_server_info(ZelMediaServer2 *server) {
  ZELUTIL_DEVICE_IDENTITY identity;
  identity.modelName = server->GetModelName();
  identity.modelNumber = server->GetModelNumber();
  identity.manufacturer = server->GetManufacturer();
  int icon = -1;
  char name[100] = {0};
  if (!ZelUtil::GetServerInfo(identity, &icon, name, sizeof name, nullptr, 0)) icon = 0;
  return device_info(server->GetDeviceName(), server->GetBookmark(), name, icon);
}

std::string zel_xpcom_renderer_info(ZelMediaRenderer2 *renderer) {
  ZELUTIL_DEVICE_IDENTITY identity;
  identity.modelName = renderer->GetModelName();
  identity.modelNumber = renderer->GetModelNumber();
  identity.manufacturer = renderer->GetManufacturer();
  int icon = -1;
  char name[100] = {0};
  if (!ZelUtil::GetRendererInfo(identity, &icon, name, sizeof name, nullptr, 0)) icon = 2;
  char userName[100] = {0};
  if (ZelUtil::GetUserSetRendererName(renderer->GetBookmark(), userName, sizeof userName))
    snprintf(name, sizeof name, "%s", userName);
  int userIcon = ZelUtil::GetUserSetRendererIcon(renderer->GetBookmark());
  if (userIcon != -1) icon = userIcon;
  return device_info(renderer->GetDisplayName(), renderer->GetBookmark(), name, icon);
}

std::string zel_xpcom_item_info(ZelMediaItem2 *item) {
  auto *serverItem = dynamic_cast<ZelServerMediaItem2 *>(item);
  std::string text = or_empty(item->GetName());
  text += "^";
  text += or_empty(item->GetServerBookmark());
  text += "^";
  text += serverItem != nullptr ? or_empty(serverItem->GetArtist()) : "";
  text += "^";
  text += serverItem != nullptr ? or_empty(serverItem->GetAlbum()) : "";
  text += "^";
  text += serverItem != nullptr ? or_empty(serverItem->GetGenre()) : "";
  return text;
}

NS_IMETHODIMP ZelControlPoint2XPCom::GetNumRenderers(PRInt32 *count) {
  if (count == nullptr) return NS_ERROR_NULL_POINTER;
  *count = 0;
  nsresult rv = NS_OK;
  ZelControlPoint2 *cp = zel_xpcom_control_point(&rv);
  if (cp != nullptr) *count = static_cast<PRInt32>(cp->GetRendererList()->Count());
  return rv;
}

NS_IMETHODIMP ZelControlPoint2XPCom::GetNumServers(PRInt32 *count) {
  if (count == nullptr) return NS_ERROR_NULL_POINTER;
  *count = 0;
  nsresult rv = NS_OK;
  ZelControlPoint2 *cp = zel_xpcom_control_point(&rv);
  if (cp != nullptr) *count = static_cast<PRInt32>(cp->GetServerList()->Count());
  return rv;
}

NS_IMETHODIMP ZelControlPoint2XPCom::GetRendererInfo(PRInt32 index, char **info) {
  if (info == nullptr) return NS_ERROR_NULL_POINTER;
  *info = nullptr;
  return zel_xpcom_guard([&] {
    zel_xpcom_foundation_ready();
    nsresult rv = NS_OK;
    ZelControlPoint2 *cp = zel_xpcom_control_point(&rv);
    if (cp == nullptr) return rv;
    if (index < 0) return NS_ERROR_INVALID_ARG;
    std::shared_ptr<ZelMediaRenderer2> renderer = cp->GetRendererList()->HoldAt(static_cast<uint32_t>(index));
    if (renderer == nullptr) return NS_ERROR_INVALID_ARG;
    return zel_xpcom_clone_out(zel_xpcom_renderer_info(renderer.get()).c_str(), info);
  });
}

NS_IMETHODIMP ZelControlPoint2XPCom::GetRendererInfoFromBookmark(const char *bookmark, char **info) {
  if (info == nullptr) return NS_ERROR_NULL_POINTER;
  *info = nullptr;
  return zel_xpcom_guard([&] {
    zel_xpcom_foundation_ready();
    nsresult rv = NS_OK;
    std::shared_ptr<ZelMediaRenderer2> renderer = zel_xpcom_renderer(bookmark, &rv);
    if (renderer == nullptr) return rv;
    return zel_xpcom_clone_out(zel_xpcom_renderer_info(renderer.get()).c_str(), info);
  });
}

NS_IMETHODIMP ZelControlPoint2XPCom::GetServerInfo(PRInt32 index, char **info) {
  if (info == nullptr) return NS_ERROR_NULL_POINTER;
  *info = nullptr;
  return zel_xpcom_guard([&] {
    zel_xpcom_foundation_ready();
    nsresult rv = NS_OK;
    ZelControlPoint2 *cp = zel_xpcom_control_point(&rv);
    if (cp == nullptr) return rv;
    if (index < 0) return NS_ERROR_INVALID_ARG;
    std::shared_ptr<ZelMediaServer2> server = cp->GetServerList()->HoldAt(static_cast<uint32_t>(index));
    if (server == nullptr) return NS_ERROR_INVALID_ARG;
    return zel_xpcom_clone_out(zel_xpcom_server_info(server.get()).c_str(), info);
  });
}

NS_IMETHODIMP ZelControlPoint2XPCom::GetServerInfoFromBookmark(const char *bookmark, char **info) {
  if (info == nullptr) return NS_ERROR_NULL_POINTER;
  *info = nullptr;
  return zel_xpcom_guard([&] {
    zel_xpcom_foundation_ready();
    nsresult rv = NS_OK;
    std::shared_ptr<ZelMediaServer2> server = zel_xpcom_server(bookmark, &rv);
    if (server == nullptr) return rv;
    return zel_xpcom_clone_out(zel_xpcom_server_info(server.get()).c_str(), info);
  });
}

NS_IMETHODIMP ZelControlPoint2XPCom::GetLocalServerVersion(char **version) {
  if (version == nullptr) return NS_ERROR_NULL_POINTER;
  *version = nullptr;
  return zel_xpcom_guard([&] {
    nsresult rv = NS_OK;
    ZelControlPoint2 *cp = zel_xpcom_control_point(&rv);
    std::shared_ptr<ZelMediaServer2> server = cp != nullptr ? cp->HoldLocalPlaylistServer(false) : nullptr;
    int major = 0, minor = 0;
    if (server == nullptr || !server->GetVersion(&major, &minor)) return zel_xpcom_clone_out("Unknown", version);
    char text[32];
    snprintf(text, sizeof text, "%d.%d", major, minor);
    return zel_xpcom_clone_out(text, version);
  });
}

NS_IMETHODIMP ZelControlPoint2XPCom::GetLocalServerFullVersionString(char **version) {
  if (version == nullptr) return NS_ERROR_NULL_POINTER;
  *version = nullptr;
  return zel_xpcom_guard([&] {
    nsresult rv = NS_OK;
    ZelControlPoint2 *cp = zel_xpcom_control_point(&rv);
    std::shared_ptr<ZelMediaServer2> server = cp != nullptr ? cp->HoldLocalPlaylistServer(false) : nullptr;
    char text[100] = {0};
    if (server == nullptr || !server->GetVersionString(text, sizeof text)) return zel_xpcom_clone_out("Unknown", version);
    return zel_xpcom_clone_out(text, version);
  });
}
