#ifndef KESTREL_MEDIA_ZEL_MEDIA_EVENTS_H
#define KESTREL_MEDIA_ZEL_MEDIA_EVENTS_H

/* Event objects of the media object model: the control point's device
 * comings and goings, a server's content notifications and a renderer's
 * transport and queue states. An event names its device without owning it;
 * the device stays valid for the whole delivery. */

#include <stdint.h>

class ZelMediaServer2;
class ZelMediaRenderer2;

typedef int32_t CONTROL_POINT_EVENT;
enum : int32_t { CP_RENDERER_ADDED = 0, CP_RENDERER_REMOVED = 1, CP_SERVER_ADDED = 2, CP_SERVER_REMOVED = 3 };

typedef int32_t MEDIA_RENDERER_EVENT;
enum : int32_t { MR_PLAYING = 0, MR_PAUSED = 1, MR_STOPPED = 2, MR_QUEUE_PLAYING = 3, MR_QUEUE_STOPPED = 4 };

/* 0: the content changed (controller code 1); 1 and 2: the controller's codes
 * 3 and 0, passed on. */
typedef int32_t MEDIA_SERVER_EVENT;
enum : int32_t { MS_CONTENT_UPDATED = 0, MS_NOTIFY_3 = 1, MS_NOTIFY_0 = 2 };

class ZelControlPointEvent {
 public:
  ZelControlPointEvent(CONTROL_POINT_EVENT type, ZelMediaRenderer2 *renderer)
      : m_type(type), m_renderer(renderer), m_server(nullptr) {}
  ZelControlPointEvent(CONTROL_POINT_EVENT type, ZelMediaServer2 *server)
      : m_type(type), m_renderer(nullptr), m_server(server) {}
  virtual ~ZelControlPointEvent() {}
  CONTROL_POINT_EVENT GetEventType() const { return m_type; }
  ZelMediaRenderer2 *GetRendererForEvent() const { return m_renderer; }
  ZelMediaServer2 *GetServerForEvent() const { return m_server; }

 private:
  CONTROL_POINT_EVENT m_type;
  ZelMediaRenderer2 *m_renderer;
  ZelMediaServer2 *m_server;
};

class ZelMediaServerEvent {
 public:
  ZelMediaServerEvent(MEDIA_SERVER_EVENT type, ZelMediaServer2 *server) : m_type(type), m_server(server) {}
  virtual ~ZelMediaServerEvent() {}
  MEDIA_SERVER_EVENT GetEventType() const { return m_type; }
  ZelMediaServer2 *GetServerForEvent() const { return m_server; }

 private:
  MEDIA_SERVER_EVENT m_type;
  ZelMediaServer2 *m_server;
};

class ZelMediaRendererEvent {
 public:
  ZelMediaRendererEvent(MEDIA_RENDERER_EVENT type, ZelMediaRenderer2 *renderer) : m_type(type), m_renderer(renderer) {}
  virtual ~ZelMediaRendererEvent() {}
  MEDIA_RENDERER_EVENT GetEventType() const { return m_type; }
  ZelMediaRenderer2 *GetRendererForEvent() const { return m_renderer; }

 private:
  MEDIA_RENDERER_EVENT m_type;
  ZelMediaRenderer2 *m_renderer;
};

/* The renderer event of a controller transport state (1, 3, 0), or -1 for a
 * state that raises none; the same for the queue callback's codes (1, 0). */
MEDIA_RENDERER_EVENT ZelRendererEventOfState(uint32_t state);
MEDIA_RENDERER_EVENT ZelRendererEventOfQueueCode(uint32_t code);
/* The server event of a controller notification code (1, 3, 0), or -1. */
MEDIA_SERVER_EVENT ZelServerEventOfCode(uint32_t code);

#endif
