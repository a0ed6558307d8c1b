// The controller's cost on a lab renderer (run through tests/lab/lab.sh):
//
// 1. GetTransportInfo 1,000 times through the XML interface
//    (lm_nmc_api_query: request parsed, command run, response built and
//    handed out) beside 1,000 direct upnp_get_TransportInfo calls, in ten
//    rounds of 100 each that alternate which way goes first; prints both
//    times and their ratio, and the ratio of the per-call medians, which
//    a busy machine disturbs less (target: at most 1.1).
// 2. The time from our NOTIFY handler (the notification callback, called
//    once the NOTIFY was accepted and answered) to the renderer context's
//    callback, for 200 volume changes of the renderer, one at a time, in XML
//    notification mode (one callback per event), each after a pause of 0 to
//    49 ms so that events do not keep step with the control point's 50 ms
//    event tick; prints the median and the 99th percentile, and the same
//    for the controller's own share (from the control point's subscription
//    callback to the context callback). The volume events carry no
//    transport state, so each includes the notifier's GetTransportInfo to
//    the renderer.
//
// Exit status: 0, 1 when a measurement could not be made, 77 outside the lab.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "base/upnp_mem.h"
#include "base/upnp_thread.h"
#include "cp/upnp_cp.h"
#include "cp/upnp_cp_eventing.h"
#include "cp/upnp_soap.h"
#include "nmc/lm_nmc.h"
#include "nmc/lm_nmc_devices.h"
#include "nmc/lm_nmc_events.h"
#include "nmc/lm_nmc_internal.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRounds = 10;
constexpr int kPerRound = 100;
constexpr int kEvents = 200;

std::string env(const char *name) {
  const char *v = std::getenv(name);
  return v != nullptr ? v : "";
}

bool wait_for(bool (*done)(void *), void *arg, int ms) {
  for (int waited = 0; waited < ms; waited += 10) {
    if (done(arg)) return true;
    Sleep(10);
  }
  return done(arg);
}

// ---- Event latency: the times of accepted NOTIFYs of the renderer and of
// the context's callbacks, paired in order afterwards.
std::mutex g_mutex;
// Nanoseconds of the steady clock, at most kMarks of each.
constexpr size_t kMarks = 4 * kEvents;
struct Marks {
  int64_t at[kMarks];
  size_t size = 0;
  void add(int64_t mark) {
    if (size < kMarks) at[size++] = mark;
  }
};
Marks g_notified;
Marks g_handed;  // the control point hands the event to the controller
Marks g_delivered;
std::vector<std::string> g_sids;  // the renderer's subscriptions (set before events)
std::atomic<uint32_t> g_context{0};

int on_notify(HTTP_connection *connection, int status) {
  const int64_t now = Clock::now().time_since_epoch().count();
  if (connection == nullptr || status != 200) return 1;
  std::lock_guard<std::mutex> hold(g_mutex);
  for (const std::string &sid : g_sids) {
    if (!sid.empty() && std::strstr(connection->header, sid.c_str()) != nullptr) g_notified.add(now);
  }
  return 1;
}

void on_subscription_event(int kind, int index, unsigned int service, uint32_t sequence, const char *body) {
  {
    std::lock_guard<std::mutex> hold(g_mutex);
    g_handed.add(Clock::now().time_since_epoch().count());
  }
  nmc_subscription_callback(kind, index, service, sequence, body);
}

void on_renderer(uint32_t context, uint32_t code, const char *) {
  const int64_t now = Clock::now().time_since_epoch().count();
  if (context != g_context.load() || code > 6) return;  // list changes are not events
  std::lock_guard<std::mutex> hold(g_mutex);
  g_delivered.add(now);
}

size_t delivered() {
  std::lock_guard<std::mutex> hold(g_mutex);
  return g_delivered.size;
}

std::string take(char *text) {
  std::string out = text != nullptr ? text : "";
  upnp_free_impl(text);
  return out;
}

double percentile(std::vector<double> values, double p) {
  std::sort(values.begin(), values.end());
  size_t at = static_cast<size_t>(p * static_cast<double>(values.size() - 1) + 0.5);
  return values[at];
}

// ---- 1. GetTransportInfo both ways.
bool compare_queries(int index) {
  const std::string query = "<GetTransportInfo><RendererIndex>" + std::to_string(index) +
                            "</RendererIndex></GetTransportInfo>";
  auto direct = [&] {
    char *state = nullptr, *status = nullptr, *speed = nullptr;
    int rc = upnp_get_TransportInfo(index, &state, &status, &speed);
    upnp_free_impl(state);
    upnp_free_impl(status);
    upnp_free_impl(speed);
    return rc == 0;
  };
  auto through_api = [&] {
    std::string response = take(lm_nmc_api_query(query.c_str(), 1));
    return response.find("<Result code=\"0\">") != std::string::npos &&
           response.find("<CurrentTransportState>") != std::string::npos;
  };
  for (int i = 0; i < 20; ++i) {
    if (!direct() || !through_api()) {
      std::fprintf(stderr, "bench_nmc_query: GetTransportInfo failed: %s\n",
                   take(lm_nmc_api_query(query.c_str(), 1)).c_str());
      return false;
    }
  }
  double direct_s = 0, api_s = 0;
  std::vector<double> direct_us, api_us;
  // Rounds alternate which way goes first.
  for (int round = 0; round < kRounds; ++round) {
    for (int half = 0; half < 2; ++half) {
      const bool api = (half == 0) == (round % 2 == 1);
      for (int i = 0; i < kPerRound; ++i) {
        auto t0 = Clock::now();
        if (!(api ? through_api() : direct())) return false;
        double us = std::chrono::duration<double, std::micro>(Clock::now() - t0).count();
        (api ? api_s : direct_s) += us / 1e6;
        (api ? api_us : direct_us).push_back(us);
      }
    }
  }
  const int n = kRounds * kPerRound;
  const double direct_median = percentile(direct_us, 0.5), api_median = percentile(api_us, 0.5);
  std::printf("GetTransportInfo x%d: upnp_get_TransportInfo %.3f s, lm_nmc_api_query %.3f s, ratio %.3f; "
              "per call median %.1f us and %.1f us, ratio %.3f (target <= 1.1)\n",
              n, direct_s, api_s, api_s / direct_s, direct_median, api_median, api_median / direct_median);
  return true;
}

// ---- 2. NOTIFY handler to context callback.
struct Counts {
  size_t notified, handed, delivered;
};
Counts counts() {
  std::lock_guard<std::mutex> hold(g_mutex);
  return Counts{g_notified.size, g_handed.size, g_delivered.size};
}

double ms_between(int64_t from, int64_t to) {
  return std::chrono::duration<double, std::milli>(Clock::duration(to - from)).count();
}

bool event_latency(int index) {
  unsigned volume = 0;
  if (upnp_cp_getVolume(index, &volume) != 0) volume = 50;
  const unsigned base = volume > 90 ? 80 : volume;
  {
    std::lock_guard<std::mutex> hold(g_mutex);
    g_sids = {take(upnp_cp_get_service_sid(index, UPNP_CP_KIND_RENDERER, UPNP_CP_SERVICE_AVT)),
              take(upnp_cp_get_service_sid(index, UPNP_CP_KIND_RENDERER, UPNP_CP_SERVICE_RC))};
  }
  upnp_cp_register_notification_callback(on_notify);
  upnp_cp_register_subscription_callback(on_subscription_event);
  // What the subscription sent first has arrived once nothing came for a
  // second (at most 10 s).
  for (int quiet = 0, waited = 0; quiet < 4 && waited < 40; ++waited) {
    size_t seen = delivered();
    Sleep(250);
    quiet = delivered() == seen ? quiet + 1 : 0;
  }
  // One volume change at a time; a sample counts only when exactly one
  // NOTIFY, one hand-over and one callback belong to it.
  std::vector<double> ms, own;
  int missed = 0, discarded = 0;
  size_t late_notify = 0;
  for (int i = 0; i < kEvents; ++i) {
    Sleep(static_cast<unsigned>((i * 37) % 50));
    const Counts before = counts();
    if (upnp_set_Volume(index, base + 1 + static_cast<unsigned>(i % 2)) != 0) {
      ++missed;
      continue;
    }
    struct Arg {
      Counts before;
    } arg{before};
    if (!wait_for([](void *a) { return counts().delivered > static_cast<Arg *>(a)->before.delivered; }, &arg,
                  2000)) {
      ++missed;
      continue;
    }
    // The handler marks its NOTIFY after answering it: it may come last.
    wait_for([](void *a) { return counts().notified > static_cast<Arg *>(a)->before.notified; }, &arg, 100);
    Sleep(5);
    const Counts after = counts();
    if (after.notified != before.notified + 1 || after.handed != before.handed + 1 ||
        after.delivered != before.delivered + 1) {
      ++discarded;
      continue;
    }
    std::lock_guard<std::mutex> hold(g_mutex);
    double d = ms_between(g_notified.at[before.notified], g_delivered.at[before.delivered]);
    if (d < 0) ++late_notify;
    ms.push_back(std::max(d, 0.0));
    own.push_back(ms_between(g_handed.at[before.handed], g_delivered.at[before.delivered]));
  }
  upnp_cp_register_notification_callback(nullptr);
  upnp_cp_register_subscription_callback(nmc_subscription_callback);
  upnp_set_Volume(index, volume);
  std::printf("events: %d volume changes, %zu samples, %d without an event in 2 s, %d with other events beside\n",
              kEvents, ms.size(), missed, discarded);
  if (ms.size() < kEvents / 2) {
    std::fprintf(stderr, "bench_nmc_query: too few events to measure\n");
    return false;
  }
  std::printf("NOTIFY handler to context callback: median %.2f ms, 99th percentile %.2f ms (%zu callbacks ahead of "
              "the handler's mark)\n",
              percentile(ms, 0.5), percentile(ms, 0.99), late_notify);
  std::printf("of which in the controller (control point's event callback to context callback): median %.2f ms, "
              "99th percentile %.2f ms\n",
              percentile(own, 0.5), percentile(own, 0.99));
  return true;
}

bool listed_and_subscribed(void *udn) {
  nmc_device_view view;
  return nmc_devices_find_udn(NMC_SIDE_RENDERER, static_cast<const char *>(udn), &view) &&
         upnp_cp_is_subscribed(view.index, UPNP_CP_KIND_RENDERER) == 1;
}

bool stopped(void *) {
  char state[32];
  return lm_nmc_ioctl(0, "GetNMCRunState", sizeof state, state) == 0 && std::strcmp(state, "Stopped") == 0;
}

}  // namespace

int main() {
  const std::string udn = env("LAB_RENDERER1_UDN");
  if (udn.empty()) {
    std::fprintf(stderr, "bench_nmc_query: run it in the lab (tests/lab/lab.sh run ...)\n");
    return 77;
  }
  char dir[] = "/tmp/bench_nmc_XXXXXX";
  if (mkdtemp(dir) == nullptr) return 1;
  const std::string log = std::string(dir) + "/log.txt";
  lm_nmc_set_appdata_path(dir);
  const char *argv[] = {"bench_nmc_query", "--logfile", log.c_str()};
  int rc = 1;
  if (lm_nmc_init(3, argv, 0) != 0 &&
      wait_for(listed_and_subscribed, const_cast<char *>(udn.c_str()), 30000)) {
    nmc_device_view renderer;
    nmc_devices_find_udn(NMC_SIDE_RENDERER, udn.c_str(), &renderer);
    uint32_t context = 0;
    char out[64];
    if (lm_dmrcp_create_context(&context) == 0 && lm_dmrcp_register_callback(context, on_renderer) == 0 &&
        lm_dmrcp_ioctl(context, "DMRSetUpdateNotification DMRXmlNotification", sizeof out, out) == 0) {
      g_context = context;
      // Until the renderer commands point contexts at renderers, the
      // benchmark does.
      nmc_context *record = nmc_context_find(context);
      if (record != nullptr) record->renderer_index = renderer.index;
      nmc_context_release(record);
      rc = compare_queries(renderer.index) && event_latency(renderer.index) ? 0 : 1;
    }
  } else {
    std::fprintf(stderr, "bench_nmc_query: the controller did not list the lab renderer %s\n", udn.c_str());
  }
  lm_nmc_stop();
  if (!wait_for(stopped, nullptr, 20000)) rc = 1;
  std::string cleanup = std::string("rm -rf ") + dir;
  if (std::system(cleanup.c_str()) != 0) rc = 1;
  return rc;
}
