// The host's way to end the library cleanly: the control point is cleaned up
// (the controller stopped and waited for, bounded, with the host's main
// thread events run meanwhile so that a notifier waiting for the main thread
// can finish), then the playlists and the WPL store's start of them, then
// the settings. After it the component's methods answer
// NS_ERROR_NOT_AVAILABLE; there is no way back short of loading the library
// again. The library does not do this by itself at unload: a host that
// unloads without calling it leaves the controller's threads running.
#include "export.h"
#include "media/zel_control_point.h"
#include "xpcom_main_thread.h"
#include "xpcom_supports.h"

namespace {

void run_main_thread_events() { (void)NS_ProcessMainThreadEvents(0); }

}  // namespace

extern "C" {
// Called by the host on its main thread before it unloads the library.
// NS_OK once everything was stopped (also when nothing was started, and on
// a second call); NS_ERROR_FAILURE when the controller did not stop in time
// (its objects are then left alive and the library must stay loaded).
KESTREL_API nsresult ZelControlPoint2XPComShutdown(void);
nsresult ZelControlPoint2XPComShutdown(void) {
  if (ZelControlPoint2::IsTerminating()) return NS_OK;
  ZelControlPoint2::Cleanup(run_main_thread_events);
  return ZelControlPoint2::GetInstanceNoCreate() == nullptr && ZelControlPoint2::CleanupFinished() ? NS_OK
                                                                                                  : NS_ERROR_FAILURE;
}
}
