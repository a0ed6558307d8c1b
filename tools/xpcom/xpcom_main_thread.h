// The host's main thread and its queue: set-up and shutdown of the layer,
// work posted to the main thread, the loop that runs it, and how synchronous
// proxied calls that wait too long are reported.
#ifndef XPCOM_MAIN_THREAD_H
#define XPCOM_MAIN_THREAD_H

#include "xpcom_base.h"

extern "C" {
// Starts the layer; the calling thread becomes the main thread. Again after
// NS_ShutdownXPCOM starts it afresh.
XPCOM_API nsresult NS_InitXPCOM(void);
// From now on a proxied call fails at once (NS_ERROR_ILLEGAL_DURING_SHUTDOWN),
// and every call still queued fails, its caller released.
XPCOM_API void NS_BeginShutdown(void);
// Begins the shutdown if not yet begun and ends the layer: the managers are
// no longer handed out.
XPCOM_API nsresult NS_ShutdownXPCOM(void);
XPCOM_API PRBool NS_IsMainThread(void);

typedef void (*NS_MainThreadTask)(void *arg);
// Queues run(arg) for the main thread. When the queue is dropped at shutdown
// cancel(arg) (may be null) runs instead, on the thread that shuts down.
// NS_ERROR_ILLEGAL_DURING_SHUTDOWN (nothing queued) once shutdown began.
XPCOM_API nsresult NS_DispatchToMainThread(NS_MainThreadTask run, NS_MainThreadTask cancel, void *arg);
// On the main thread: waits up to wait_ms (0: not at all) for work, then runs
// the tasks that were queued at that moment, one at a time and in order.
// Answers how many ran; 0 (and nothing run) on any other thread.
XPCOM_API PRUint32 NS_ProcessMainThreadEvents(PRInt32 wait_ms);

// A synchronous proxied call that has waited stall_ms for the main thread is
// reported once to handler(waited_ms, what) on the waiting thread, and
// counted; it goes on waiting. Default 5000 ms and no handler.
typedef void (*NS_StallHandler)(PRUint32 waited_ms, const char *what);
XPCOM_API void NS_SetProxyStallHandler(PRUint32 stall_ms, NS_StallHandler handler);
XPCOM_API PRUint32 NS_ProxyStallCount(void);
}

// Inside the layer: runs fn(arg) on the main thread and waits until it ran
// (at once when called on the main thread). NS_OK once it ran; the shutdown
// code when it was refused or dropped. what names the call in a stall report.
nsresult xpcomlite_call_on_main(void (*fn)(void *), void *arg, const char *what);
// True between NS_InitXPCOM and NS_ShutdownXPCOM.
bool xpcomlite_is_initialised();

#endif
