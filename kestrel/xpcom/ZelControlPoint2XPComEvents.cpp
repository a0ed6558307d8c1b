// The component's handlers of control point and renderer events: renderers
// get the renderer handler as they come and lose it as they go, and each
// event becomes a text for the observers ("RendererAdded:<bookmark>",
// "PLAYING:<bookmark>", ...), delivered on the host's main thread. Once the
// control point is being cleaned up nothing is delivered, so no notifier
// waits for a main thread that is busy with the clean-up.
#include <string>

#include "xpcom/ZelControlPoint2XPCom.h"
#include "xpcom/ZelControlPoint2XPComLookup.h"

namespace {

const char *state_word(MEDIA_RENDERER_EVENT type) {
  switch (type) {
    case MR_PLAYING: return "PLAYING";
    case MR_PAUSED: return "PAUSED";
    case MR_STOPPED: return "STOPPED";
    case MR_QUEUE_PLAYING: return "QUEUE_PLAYING";
    case MR_QUEUE_STOPPED: return "QUEUE_STOPPED";
    default: return "STOPPED";
  }
}

bool RendererEventCallback(ZelMediaRendererEvent *event, void * /*userData*/) {
  if (event == nullptr || event->GetRendererForEvent() == nullptr || ZelControlPoint2::IsTerminating()) return true;
  try {
    std::string text = std::string(state_word(event->GetEventType())) + ":" + event->GetRendererForEvent()->GetBookmark();
    (void)ZelControlPoint2XPCom::s_RendererEventObserverArray.Deliver(text.c_str());
  } catch (...) {
    // Out of memory: this event is lost; the notifier goes on.
  }
  return true;
}

bool ControlPointEventCallback(ZelControlPointEvent *event, void * /*userData*/) {
  if (event == nullptr || event->GetEventType() < 0) return true;
  ZelMediaRenderer2 *renderer = event->GetRendererForEvent();
  const char *word = nullptr;
  switch (event->GetEventType()) {
    case CP_RENDERER_ADDED:
      if (renderer != nullptr) renderer->AddEventHandler(RendererEventCallback, nullptr);
      word = "RendererAdded";
      break;
    case CP_RENDERER_REMOVED:
      if (renderer != nullptr) renderer->RemoveEventHandler(RendererEventCallback);
      word = "RendererRemoved";
      break;
    case CP_SERVER_ADDED: {
      // A local playlist server is handed the local playlists; no observer
      // is told.
      ZelMediaServer2 *server = event->GetServerForEvent();
      ZelControlPoint2 *cp = ZelControlPoint2::GetInstanceNoCreate();
      if (server != nullptr && cp != nullptr && !ZelControlPoint2::IsTerminating() &&
          cp->IsLocalPlaylistServer(server))
        (void)server->ReplacePlaylists(cp->GetLocalPlaylistList());
      return true;
    }
    default:
      return true;
  }
  if (renderer == nullptr || ZelControlPoint2::IsTerminating()) return true;
  try {
    std::string text = std::string(word) + ":" + renderer->GetBookmark();
    (void)ZelControlPoint2XPCom::s_ControlPointEventObserverArray.Deliver(text.c_str());
  } catch (...) {
  }
  return true;
}

}  // namespace

void zel_xpcom_register_control_point_handler(ZelControlPoint2 *cp) {
  if (cp == nullptr) return;
  // Registering again moves the one record: several instances, one handler.
  cp->AddEventHandler(ControlPointEventCallback, nullptr);
  // Renderers that came before the first component get the renderer handler
  // too.
  for (const auto &renderer : cp->GetRendererList()->Snapshot())
    renderer->AddEventHandler(RendererEventCallback, nullptr);
}
