// Benchmark: delivery of observer calls through the synchronous main-thread
// proxy (a firing thread calls OnEvent, the main thread runs it, the firing
// thread waits), beside the lower bound of any such hand-over: a bare
// two-thread round trip through one mutex and two condition variables.
// Both in the same run, alternating rounds; per kind the round with the
// lowest median. Prints events per second, median and 99th-percentile
// latency from the call to the observer running on the main thread, and
// the ratio of the medians (target: at most 2).
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

#include "iZelControlPoint2XPCom.h"
#include "xpcom_interfaces.h"
#include "xpcom_main_thread.h"

namespace {

using Clock = std::chrono::steady_clock;
const int kEvents = 20000;
const int kRounds = 3;

struct Figures {
  double per_second;
  double median_us;
  double p99_us;
};

Figures figures(std::vector<double> &latency_us, double seconds) {
  std::sort(latency_us.begin(), latency_us.end());
  return Figures{latency_us.size() / seconds, latency_us[latency_us.size() / 2],
                 latency_us[latency_us.size() * 99 / 100]};
}

// The observer: stamps when it runs.
class Stamp final : public iZelControlPoint2XPComObserver {
 public:
  NS_IMETHOD QueryInterface(const nsIID &iid, void **out) override {
    *out = nullptr;
    if (iid != NS_GET_IID(iZelControlPoint2XPComObserver) && iid != NS_GET_IID(nsISupports)) return NS_NOINTERFACE;
    AddRef();
    *out = this;
    return NS_OK;
  }
  NS_IMETHOD_(nsrefcnt) AddRef() override { return ++refs; }
  NS_IMETHOD_(nsrefcnt) Release() override { return --refs; }
  NS_IMETHOD OnEvent(const char *) override {
    ran = Clock::now();
    return NS_OK;
  }
  std::atomic<nsrefcnt> refs{1};
  Clock::time_point ran;  // written on the main thread before the waiting caller resumes
};

Figures proxied() {
  Stamp stamp;
  nsIServiceManager *services = nullptr;
  NS_GetServiceManager(&services);
  nsIProxyObjectManager *proxies = nullptr;
  services->GetServiceByContractID(NS_PROXYOBJECTMANAGER_CONTRACTID, NS_GET_IID(nsIProxyObjectManager),
                                   reinterpret_cast<void **>(&proxies));
  std::vector<double> latency(kEvents);
  std::atomic<bool> done{false};
  Clock::time_point start = Clock::now();
  std::thread firing([&] {
    // The component asks for a proxy per delivery; so does the benchmark.
    for (int k = 0; k < kEvents; ++k) {
      iZelControlPoint2XPComObserver *proxy = nullptr;
      proxies->GetProxyForObject(NS_UI_THREAD_EVENTQ, NS_GET_IID(iZelControlPoint2XPComObserver), &stamp,
                                 PROXY_SYNC | PROXY_ALWAYS, reinterpret_cast<void **>(&proxy));
      Clock::time_point sent = Clock::now();
      proxy->OnEvent("RendererAdded:uuid:bench");
      latency[k] = std::chrono::duration<double, std::micro>(stamp.ran - sent).count();
      proxy->Release();
    }
    done = true;
  });
  while (!done) NS_ProcessMainThreadEvents(10);
  firing.join();
  double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  proxies->Release();
  services->Release();
  return figures(latency, seconds);
}

Figures bare() {
  std::mutex lock;
  std::condition_variable posted, finished;
  bool pending = false, ran = false, stop = false;
  Clock::time_point stamp;
  std::vector<double> latency(kEvents);
  Clock::time_point start = Clock::now();
  std::thread firing([&] {
    for (int k = 0; k < kEvents; ++k) {
      std::unique_lock<std::mutex> lk(lock);
      Clock::time_point sent = Clock::now();
      pending = true;
      ran = false;
      posted.notify_one();
      finished.wait(lk, [&] { return ran; });
      latency[k] = std::chrono::duration<double, std::micro>(stamp - sent).count();
    }
    std::lock_guard<std::mutex> guard(lock);
    stop = true;
    posted.notify_one();
  });
  std::unique_lock<std::mutex> lk(lock);
  for (;;) {
    posted.wait(lk, [&] { return pending || stop; });
    if (stop && !pending) break;
    pending = false;
    stamp = Clock::now();
    ran = true;
    finished.notify_one();
  }
  lk.unlock();
  firing.join();
  double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  return figures(latency, seconds);
}

}  // namespace

int main() {
  NS_InitXPCOM();
  Figures best_proxy{0, 1e30, 0}, best_bare{0, 1e30, 0};
  for (int r = 0; r < kRounds; ++r) {
    Figures p = proxied();
    Figures b = bare();
    if (p.median_us < best_proxy.median_us) best_proxy = p;
    if (b.median_us < best_bare.median_us) best_bare = b;
  }
  NS_ShutdownXPCOM();
  std::printf("%d synchronous calls from one thread to the main thread, best of %d rounds\n", kEvents, kRounds);
  std::printf("proxied OnEvent: %.0f events/s, latency median %.1f us, p99 %.1f us\n", best_proxy.per_second,
              best_proxy.median_us, best_proxy.p99_us);
  std::printf("bare mutex + condition variable round trip: %.0f/s, latency median %.1f us, p99 %.1f us\n",
              best_bare.per_second, best_bare.median_us, best_bare.p99_us);
  std::printf("ratio of medians proxied/bare: %.2f (target: <= 2.00)\n", best_proxy.median_us / best_bare.median_us);
  return 0;
}
