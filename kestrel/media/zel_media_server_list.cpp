// Creating and adding servers and renderers to their lists.
#include "media/zel_media_server_list.h"

#include <new>

ZelMediaServer2 *ZelMediaServerList2::CreateServerFromBookmark(const char *bookmark) {
  if (bookmark == nullptr || HoldFromBookmark(bookmark) != nullptr) return nullptr;
  return new (std::nothrow) ZelMediaServer2(bookmark);
}

bool ZelMediaServerList2::AddServer(ZelMediaServer2 *server) {
  return AppendNew(server);
}

ZelMediaRenderer2 *ZelMediaRendererList2::CreateRendererFromBookmark(const char *bookmark) {
  if (bookmark == nullptr || HoldFromBookmark(bookmark) != nullptr) return nullptr;
  return new (std::nothrow) ZelMediaRenderer2(bookmark);
}

bool ZelMediaRendererList2::AddRenderer(ZelMediaRenderer2 *renderer) {
  return AppendNew(renderer);
}
