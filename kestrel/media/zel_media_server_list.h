#ifndef KESTREL_MEDIA_ZEL_MEDIA_SERVER_LIST_H
#define KESTREL_MEDIA_ZEL_MEDIA_SERVER_LIST_H

/* The control point's servers and renderers, in the order they appeared. */

#include "media/zel_media_device_list.h"
#include "media/zel_media_renderer.h"
#include "media/zel_media_server.h"

class ZelMediaServerList2 : public ZelMediaDeviceList<ZelMediaServer2> {
 public:
  ZelMediaServer2 *GetServer(uint32_t index) { return HoldAt(index).get(); }
  ZelMediaServer2 *GetServerFromContext(uint32_t context) { return HoldFromContext(context).get(); }
  ZelMediaServer2 *GetServerFromBookmark(const char *bookmark) { return HoldFromBookmark(bookmark).get(); }
  /* A new server for the bookmark, not yet listed; null when it is listed
   * already or the bookmark is null. */
  ZelMediaServer2 *CreateServerFromBookmark(const char *bookmark);
  /* Takes ownership when it returns true. */
  bool AddServer(ZelMediaServer2 *server);
  /* Removes and releases the list's reference (the object goes when the
   * last holder lets go). */
  bool RemoveServer(ZelMediaServer2 *server) { return Take(server) != nullptr; }
};

class ZelMediaRendererList2 : public ZelMediaDeviceList<ZelMediaRenderer2> {
 public:
  ZelMediaRenderer2 *GetRenderer(uint32_t index) { return HoldAt(index).get(); }
  ZelMediaRenderer2 *GetRendererFromContext(uint32_t context) { return HoldFromContext(context).get(); }
  ZelMediaRenderer2 *GetRendererFromBookmark(const char *bookmark) { return HoldFromBookmark(bookmark).get(); }
  ZelMediaRenderer2 *CreateRendererFromBookmark(const char *bookmark);
  bool AddRenderer(ZelMediaRenderer2 *renderer);
  bool RemoveRenderer(ZelMediaRenderer2 *renderer) { return Take(renderer) != nullptr; }
};

#endif
