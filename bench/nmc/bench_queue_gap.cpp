// The queue's track-change gap on a lab renderer: 21 of the lab server's
// 2 s bulk tracks in a queue (URL entries with their metadata) play in real
// time, and the gap from the renderer's STOPPED at the end of a track to its
// PLAYING of the next one is taken from the renderer's own events, over 20
// changes. Beside it a bare loop answers the same events with
// upnp_cp_play_AVTransportURI of the next track (on a thread of its own, as
// the queue's worker does). Prints both medians and the ratio queue / bare
// (target: at most 1.2). Run in the lab: tests/lab/lab.sh run
// bench_queue_gap
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench_nmc_util.h"
#include "base/upnp_mem.h"
#include "base/upnp_thread.h"
#include "base/upnp_xml.h"
#include "cp/upnp_cp.h"
#include "cp/upnp_cp_avt_uri.h"
#include "cp/upnp_cp_eventing.h"
#include "cp/upnp_soap.h"
#include "nmc/lm_nmc.h"
#include "nmc/lm_nmc_devices.h"
#include "nmc/lm_nmc_events.h"
#include "nmc/lm_nmc_internal.h"
#include "nmc/lm_nmc_queue.h"

namespace {

using bench_nmc::env;

constexpr size_t kTracks = 21;
using Clock = std::chrono::steady_clock;

struct Track {
  std::string url;
  std::string didl;
};

// The renderer's state events with their times; the bare loop's work.
std::mutex g_lock;
std::condition_variable g_signal;
std::vector<std::pair<Clock::time_point, std::string>> g_states;
int g_renderer = -1;
bool g_bare = false;
int g_bare_requests = 0;

std::string state_of(const char *body) {
  const char *at = body != nullptr ? std::strstr(body, "TransportState val=") : nullptr;
  if (at == nullptr) return "";
  at += std::strlen("TransportState val=");
  if (std::strncmp(at, "&quot;", 6) == 0) at += 6;
  else if (*at == '"') at += 1;
  std::string state;
  while ((*at >= 'A' && *at <= 'Z') || *at == '_') state += *at++;
  return state;
}

void observe(int kind, int index, unsigned int service, uint32_t sequence, const char *body) {
  if (kind == UPNP_CP_KIND_RENDERER && index == g_renderer) {
    std::string state = state_of(body);
    if (!state.empty()) {
      std::lock_guard<std::mutex> hold(g_lock);
      const bool ended = state == "STOPPED" && !g_states.empty() && g_states.back().second == "PLAYING";
      g_states.emplace_back(Clock::now(), state);
      if (g_bare && ended) {
        ++g_bare_requests;
        g_signal.notify_all();
      }
    }
  }
  nmc_subscription_callback(kind, index, service, sequence, body);
}

// STOPPED after PLAYING to the next PLAYING, in ms.
std::vector<double> gaps(void) {
  std::lock_guard<std::mutex> hold(g_lock);
  std::vector<double> out;
  bool stopped = false;
  Clock::time_point at;
  std::string last;
  for (const auto &event : g_states) {
    if (event.second == "STOPPED" && last == "PLAYING") {
      stopped = true;
      at = event.first;
    } else if (event.second == "PLAYING" && stopped) {
      out.push_back(std::chrono::duration<double, std::milli>(event.first - at).count());
      stopped = false;
    }
    last = event.second;
  }
  return out;
}

double median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

std::string query(const std::string &xml) {
  char *response = lm_nmc_api_query(xml.c_str(), 1);
  std::string text = response != nullptr ? response : "";
  upnp_free_impl(response);
  return text;
}

std::string escape(const std::string &text) {
  std::string out;
  for (char c : text) out += c == '<' ? "&lt;" : c == '>' ? "&gt;" : c == '"' ? "&quot;" : c == '&' ? "&amp;" : std::string(1, c);
  return out;
}

std::vector<Track> bulk_tracks(int server) {
  std::vector<Track> tracks;
  std::string id = "0";
  std::string path = env("LAB_BULK_PATH");
  size_t from = 0;
  while (!id.empty()) {
    size_t slash = path.find('/', from);
    std::string title = path.substr(from, slash == std::string::npos ? std::string::npos : slash - from);
    upnp_xml_node *reply = nullptr;
    std::string found;
    if (upnp_control_browse(server, id.c_str(), "*", 0, 200, nullptr, &reply) == 0) {
      const char *result = upnp_xml_find_tag_value(reply, "Result");
      upnp_xml_node *doc = result != nullptr ? upnp_xml_parse(result) : nullptr;
      for (upnp_xml_node *e = doc != nullptr ? doc->children : nullptr; e != nullptr && found.empty(); e = e->next) {
        const char *t = upnp_xml_find_tag_value(e->children, "dc:title");
        if (t != nullptr && title == t) found = upnp_xml_find_attribute_value(e, "id");
      }
      upnp_xml_release(doc);
    }
    upnp_xml_release(reply);
    id = found;
    if (slash == std::string::npos) break;
    from = slash + 1;
  }
  if (id.empty()) return tracks;
  upnp_xml_node *reply = nullptr;
  if (upnp_control_browse(server, id.c_str(), "*", 0, kTracks, nullptr, &reply) != 0) return tracks;
  const char *result = upnp_xml_find_tag_value(reply, "Result");
  upnp_xml_node *doc = result != nullptr ? upnp_xml_parse(result) : nullptr;
  for (upnp_xml_node *e = doc != nullptr ? doc->children : nullptr; e != nullptr; e = e->next) {
    const char *object = upnp_xml_find_attribute_value(e, "id");
    upnp_xml_node *meta = nullptr;
    if (object == nullptr || upnp_control_browse_metadata(server, object, "*", "", &meta) != 0) continue;
    const char *didl = upnp_xml_find_tag_value(meta, "Result");
    upnp_xml_node *res = upnp_xml_find_tag(e->children, "res");
    if (didl != nullptr && res != nullptr && res->value != nullptr) tracks.push_back({res->value, didl});
    upnp_xml_release(meta);
  }
  upnp_xml_release(doc);
  upnp_xml_release(reply);
  return tracks;
}

bool wait_for(const std::function<bool()> &done, int seconds) {
  for (int i = 0; i < seconds * 10; ++i) {
    if (done()) return true;
    Sleep(100);
  }
  return false;
}

}  // namespace

int main() {
  const std::string renderer_udn = env("LAB_RENDERER1_UDN");
  const std::string server_udn = env("LAB_SERVER_UDN");
  if (renderer_udn.empty() || server_udn.empty() || env("LAB_BULK_PATH").empty()) {
    std::fprintf(stderr, "bench_queue_gap: run it in the lab (tests/lab/lab.sh run ...)\n");
    return 77;
  }
  bench_nmc::Controller controller("bench_queue_gap", "/tmp/bench_queue_XXXXXX", 1);
  if (!controller.started()) return 1;
  nmc_device_view renderer;
  nmc_device_view server;
  bool ready = wait_for([&] { return nmc_devices_find_udn(NMC_SIDE_RENDERER, renderer_udn.c_str(), &renderer); }, 30) &&
               wait_for([&] { return nmc_devices_find_udn(NMC_SIDE_SERVER, server_udn.c_str(), &server); }, 30) &&
               wait_for([&] { return nmc_queue_find(renderer_udn) != nullptr; }, 5);
  std::vector<Track> tracks = ready ? bulk_tracks(server.index) : std::vector<Track>();
  // A small lab has fewer bulk tracks: as many changes as it has.
  const size_t count = tracks.size();
  int rc = count >= 2 ? 0 : 1;
  if (rc != 0) std::fprintf(stderr, "bench_queue_gap: %s\n", ready ? "no bulk tracks" : "the lab's devices not found");
  if (rc == 0) {
    g_renderer = renderer.index;
    upnp_cp_register_subscription_callback(observe);
    const std::string q = "<QueueID>" + renderer_udn + "</QueueID>";
    // The queue.
    query("<ClearQueue>" + q + "</ClearQueue>");
    for (const Track &t : tracks) {
      query("<AddToQueue>" + q + "<URL>" + escape(t.url) + "</URL><MetaData>" + escape(t.didl) + "</MetaData></AddToQueue>");
    }
    query("<PlayQueue>" + q + "<StartIndex>0</StartIndex><PlayMode>NORMAL</PlayMode></PlayQueue>");
    // The queue's end is the sign when it passed a track over.
    const auto queue_ended = [&] {
      return query("<GetQueueInfo>" + q + "</GetQueueInfo>").find("<Active>false") != std::string::npos;
    };
    wait_for([&] { return gaps().size() >= count - 1 || queue_ended(); }, 120);
    wait_for(queue_ended, 10);
    const std::vector<double> queue_gaps = gaps();
    // The bare loop on the same events.
    {
      std::lock_guard<std::mutex> hold(g_lock);
      g_states.clear();
      g_bare = true;
      g_bare_requests = 0;
    }
    // gmediarender now and then refuses a Play right after a track's end
    // (704): like the queue, the loop then goes on with the next track, and
    // that change is one fewer.
    int refused = 0;
    std::thread bare([&] {
      int played = 0;
      int ended = 0;
      upnp_cp_play_AVTransportURI(renderer.index, tracks[0].url.c_str(), tracks[0].didl.c_str());
      while (played + 1 < static_cast<int>(count)) {
        std::unique_lock<std::mutex> hold(g_lock);
        if (!g_signal.wait_for(hold, std::chrono::seconds(20), [&] { return g_bare_requests > ended; })) return;
        ended = g_bare_requests;
        hold.unlock();
        while (++played < static_cast<int>(count) &&
               upnp_cp_play_AVTransportURI(renderer.index, tracks[static_cast<size_t>(played)].url.c_str(),
                                           tracks[static_cast<size_t>(played)].didl.c_str()) != 0) {
          ++refused;
        }
      }
    });
    bare.join();
    wait_for([&] { return gaps().size() + static_cast<size_t>(refused) >= count - 1; }, 10);
    const std::vector<double> bare_gaps = gaps();
    if (!env("BENCH_QUEUE_TRACE").empty()) {
      std::lock_guard<std::mutex> hold(g_lock);
      for (const auto &event : g_states) std::printf("  %s\n", event.second.c_str());
    }
    upnp_stop(renderer.index);
    const double ours = median(queue_gaps);
    const double theirs = median(bare_gaps);
    std::printf("track-change gap (renderer STOPPED to next PLAYING), %zu and %zu changes: queue median %.0f ms, "
                "bare loop median %.0f ms, ratio queue/bare %.2f (target <= 1.2)\n",
                queue_gaps.size(), bare_gaps.size(), ours, theirs, theirs > 0 ? ours / theirs : 0.0);
    if (refused > 0) std::printf("the renderer refused %d of the bare loop's Play requests\n", refused);
    // A refused Play passes a track over on either side; a median of half
    // the changes still measures the gap, fewer means events were lost.
    if (queue_gaps.size() < count / 2 || bare_gaps.size() < count / 2) rc = 1;
    upnp_cp_register_subscription_callback(nmc_subscription_callback);
  }
  if (!controller.stop()) rc = 1;
  return rc;
}
