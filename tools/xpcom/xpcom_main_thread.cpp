// The main thread's queue. One lock guards the queue, the shutdown flag and
// the done flags of waiting calls: posting threads, the main thread and the
// shutting-down thread all meet there.
#include "xpcom_internal.h"
#include "xpcom_main_thread.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace {

struct Task {
  NS_MainThreadTask run;
  NS_MainThreadTask cancel;
  void *arg;
};

struct MainQueue {
  std::mutex lock;
  std::condition_variable wake;  // the main thread waits here for work
  std::deque<Task> tasks;
  std::thread::id main_id;
  bool initialised = false;
  bool shutting_down = false;
  PRUint32 stall_ms = 5000;
  NS_StallHandler stall_handler = nullptr;
  PRUint32 stalls = 0;
};

MainQueue &queue() {
  static MainQueue q;
  return q;
}

// A synchronous call in flight; lives on the waiting thread's stack until
// done is set under the queue's lock.
struct SyncCall {
  void (*fn)(void *) = nullptr;
  void *arg = nullptr;
  bool done = false;
  bool dropped = false;
  std::condition_variable finished;
};

void run_sync(void *p) {
  auto *call = static_cast<SyncCall *>(p);
  call->fn(call->arg);
  std::lock_guard<std::mutex> guard(queue().lock);
  call->done = true;
  call->finished.notify_one();
}

void drop_sync(void *p) {
  auto *call = static_cast<SyncCall *>(p);
  std::lock_guard<std::mutex> guard(queue().lock);
  call->done = true;
  call->dropped = true;
  call->finished.notify_one();
}

}  // namespace

bool xpcomlite_is_initialised() {
  std::lock_guard<std::mutex> guard(queue().lock);
  return queue().initialised;
}

extern "C" nsresult NS_InitXPCOM(void) {
  MainQueue &q = queue();
  std::lock_guard<std::mutex> guard(q.lock);
  if (q.initialised) return NS_ERROR_ALREADY_INITIALIZED;
  q.initialised = true;
  q.shutting_down = false;
  q.main_id = std::this_thread::get_id();
  q.stalls = 0;
  return NS_OK;
}

extern "C" void NS_BeginShutdown(void) {
  MainQueue &q = queue();
  std::deque<Task> dropped;
  {
    std::lock_guard<std::mutex> guard(q.lock);
    q.shutting_down = true;
    dropped.swap(q.tasks);
  }
  for (const Task &t : dropped)
    if (t.cancel != nullptr) t.cancel(t.arg);
}

extern "C" nsresult NS_ShutdownXPCOM(void) {
  NS_BeginShutdown();
  {
    std::lock_guard<std::mutex> guard(queue().lock);
    if (!queue().initialised) return NS_ERROR_NOT_INITIALIZED;
    queue().initialised = false;
  }
  // The factories belong to component libraries the host may unload next.
  xpcomlite_clear_components();
  return NS_OK;
}

extern "C" PRBool NS_IsMainThread(void) {
  MainQueue &q = queue();
  std::lock_guard<std::mutex> guard(q.lock);
  return q.initialised && q.main_id == std::this_thread::get_id() ? PR_TRUE : PR_FALSE;
}

extern "C" nsresult NS_DispatchToMainThread(NS_MainThreadTask run, NS_MainThreadTask cancel, void *arg) {
  if (run == nullptr) return NS_ERROR_INVALID_ARG;
  MainQueue &q = queue();
  std::lock_guard<std::mutex> guard(q.lock);
  if (!q.initialised || q.shutting_down) return NS_ERROR_ILLEGAL_DURING_SHUTDOWN;
  q.tasks.push_back(Task{run, cancel, arg});
  q.wake.notify_one();
  return NS_OK;
}

extern "C" PRUint32 NS_ProcessMainThreadEvents(PRInt32 wait_ms) {
  MainQueue &q = queue();
  std::unique_lock<std::mutex> lk(q.lock);
  // Work posted for the main thread runs there and nowhere else.
  if (!q.initialised || q.main_id != std::this_thread::get_id()) return 0;
  if (q.tasks.empty() && wait_ms > 0)
    q.wake.wait_for(lk, std::chrono::milliseconds(wait_ms), [&q] { return !q.tasks.empty(); });
  // Only what is queued now: a steady stream of new work must not keep the
  // caller from its own timers and input.
  size_t pending = q.tasks.size();
  PRUint32 ran = 0;
  while (pending-- > 0 && !q.tasks.empty()) {
    Task t = q.tasks.front();
    q.tasks.pop_front();
    lk.unlock();
    t.run(t.arg);
    ++ran;
    lk.lock();
  }
  return ran;
}

extern "C" void NS_SetProxyStallHandler(PRUint32 stall_ms, NS_StallHandler handler) {
  std::lock_guard<std::mutex> guard(queue().lock);
  queue().stall_ms = stall_ms == 0 ? 1 : stall_ms;
  queue().stall_handler = handler;
}

extern "C" PRUint32 NS_ProxyStallCount(void) {
  std::lock_guard<std::mutex> guard(queue().lock);
  return queue().stalls;
}

nsresult xpcomlite_call_on_main(void (*fn)(void *), void *arg, const char *what) {
  MainQueue &q = queue();
  SyncCall call;
  call.fn = fn;
  call.arg = arg;
  std::unique_lock<std::mutex> lk(q.lock);
  if (!q.initialised || q.shutting_down) return NS_ERROR_ILLEGAL_DURING_SHUTDOWN;
  if (q.main_id == std::this_thread::get_id()) {
    lk.unlock();
    fn(arg);
    return NS_OK;
  }
  q.tasks.push_back(Task{run_sync, drop_sync, &call});
  q.wake.notify_one();
  auto start = std::chrono::steady_clock::now();
  bool reported = false;
  while (!call.done) {
    if (reported) {
      call.finished.wait(lk);
      continue;
    }
    auto limit = start + std::chrono::milliseconds(q.stall_ms);
    if (call.finished.wait_until(lk, limit) == std::cv_status::timeout && !call.done) {
      reported = true;
      ++q.stalls;
      NS_StallHandler handler = q.stall_handler;
      auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
      lk.unlock();
      if (handler != nullptr) handler(static_cast<PRUint32>(waited.count()), what);
      lk.lock();
    }
  }
  return call.dropped ? NS_ERROR_ILLEGAL_DURING_SHUTDOWN : NS_OK;
}
