// The renderer control point's round trips on a lab renderer: 500 state
// reads with position and duration (lm_dmrcp_get_state: GetTransportInfo and
// GetPositionInfo) and 500 volume sets with a read back
// (lm_dmrcp_set_volume_percent and lm_dmrcp_get_volume_percent: SetVolume and
// GetVolume), beside one curl process posting the same SOAP requests
// (chained with --next), the lower bound the renderer sets. curl's time is
// the sum of its requests' times as curl reports them (its process start is
// not in it); ours is the wall time of the calls, through the controller's
// XML interpreter. Prints both, requests per second and the ratio ours /
// curl (target: at most 1.2). Best of three rounds. Run in the lab:
// tests/lab/lab.sh run bench_dmr_control
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "bench_nmc_util.h"
#include "support_curl.h"
#include "base/upnp_string.h"
#include "base/upnp_thread.h"
#include "cp/upnp_cp.h"
#include "cp/upnp_soap.h"
#include "cp/upnp_soap_internal.h"
#include "nmc/lm_dmrcp.h"
#include "nmc/lm_nmc.h"
#include "nmc/lm_nmc_devices.h"
#include "nmc/lm_nmc_internal.h"

namespace {

using bench_nmc::env;

constexpr int kCalls = 500;
constexpr int kRounds = 3;
using Clock = std::chrono::steady_clock;

struct Request {
  unsigned service;
  const char *action;
  std::vector<upnp_soap_arg> args;
};

// The control URL of a service of the renderer.
std::string control_url(int index, unsigned service, const char *action) {
  upnp_soap_target target{};
  if (upnp_soap_resolve(index, UPNP_KIND_RENDERER, service, 0, action, &target) != 0) return "";
  std::string url = target.base;
  if (target.rest[0] == '/') url = url.substr(0, url.find('/', 7)) + target.rest;
  else url += std::string("/") + target.rest;
  upnp_soap_target_free(&target);
  return url;
}

// One curl command line posting the pair of requests kCalls times.
std::vector<std::string> curl_command(int index, const std::vector<Request> &pair, const std::string &dir) {
  std::vector<std::string> args = {"curl"};
  std::vector<std::string> files;
  std::vector<std::string> urls;
  for (size_t i = 0; i < pair.size(); ++i) {
    upnp_string *envelope = upnp_soap_envelope(pair[i].service, pair[i].action, pair[i].args.data(), pair[i].args.size());
    files.push_back(dir + "/" + pair[i].action + ".xml");
    std::ofstream(files.back()) << upnp_string_get_cstring(envelope);
    upnp_string_free(envelope);
    urls.push_back(control_url(index, pair[i].service, pair[i].action));
  }
  for (int call = 0; call < kCalls; ++call) {
    for (size_t i = 0; i < pair.size(); ++i) {
      if (args.size() > 1) args.push_back("--next");
      const std::string type = pair[i].service == UPNP_SERVICE_AVT ? "AVTransport" : "RenderingControl";
      for (const std::string &x :
           {std::string("-s"), std::string("--fail"), std::string("-o"), std::string("/dev/null"), std::string("-w"),
            std::string("%{time_total}\\n"), std::string("-H"), std::string("Content-Type: text/xml; charset=\"utf-8\""),
            std::string("-H"), "SOAPACTION: \"urn:schemas-upnp-org:service:" + type + ":1#" + pair[i].action + "\"",
            std::string("--data-binary"), "@" + files[i], urls[i]}) {
        args.push_back(x);
      }
    }
  }
  return args;
}


bool state_calls(uint32_t context) {
  for (int i = 0; i < kCalls; ++i) {
    uint32_t state = 0;
    char position[32];
    char duration[32];
    if (lm_dmrcp_get_state(context, &state, sizeof position, position, sizeof duration, duration) != 0) return false;
  }
  return true;
}

bool volume_calls(uint32_t context) {
  for (int i = 0; i < kCalls; ++i) {
    uint32_t percent = 0;
    if (lm_dmrcp_set_volume_percent(context, 20 + i % 10) != 0) return false;
    if (lm_dmrcp_get_volume_percent(context, &percent) != 0 || percent != 20u + i % 10) return false;
  }
  return true;
}

}  // namespace

int main() {
  const std::string desc = env("LAB_RENDERER_DESC");
  const std::string udn = env("LAB_RENDERER_UDN");
  if (desc.empty() || udn.empty()) {
    std::fprintf(stderr, "bench_dmr_control: run it in the lab (tests/lab/lab.sh run ...)\n");
    return 77;
  }
  // The controller without SSDP: the lab's first renderer is added by hand.
  bench_nmc::Controller controller("bench_dmr_control", "/tmp/bench_dmr_XXXXXX", 0);
  if (!controller.started()) return 1;
  const std::string dir = controller.dir();
  upnp_control_add_device(desc.c_str(), udn.c_str(), (env("LAB_ADDR") + ":9000").c_str(), 1800, UPNP_KIND_RENDERER);
  uint32_t context = 0;
  bool ready = lm_dmrcp_create_context(&context) == 0;
  for (int i = 0; ready && i < 300 && lm_dmrcp_go_bookmark(context, udn.c_str()) != 0; ++i) Sleep(50);
  nmc_device_view renderer;
  ready = ready && nmc_devices_find_udn(NMC_SIDE_RENDERER, udn.c_str(), &renderer);
  int rc = ready ? 0 : 1;
  if (ready) {
    const std::vector<Request> state_pair = {
        {UPNP_SERVICE_AVT, "GetTransportInfo", {{"InstanceID", "0"}}},
        {UPNP_SERVICE_AVT, "GetPositionInfo", {{"InstanceID", "0"}}}};
    const std::vector<Request> volume_pair = {
        {UPNP_SERVICE_RCS, "SetVolume", {{"InstanceID", "0"}, {"Channel", "Master"}, {"DesiredVolume", "25"}}},
        {UPNP_SERVICE_RCS, "GetVolume", {{"InstanceID", "0"}, {"Channel", "Master"}}}};
    struct Case {
      const char *what;
      bool (*ours)(uint32_t);
      std::vector<std::string> curl;
    } cases[] = {{"state with position and duration", state_calls, curl_command(renderer.index, state_pair, dir)},
                 {"volume set and read", volume_calls, curl_command(renderer.index, volume_pair, dir)}};
    for (Case &c : cases) {
      double best_ours = 1e9;
      double best_curl = 1e9;
      for (int r = 0; r < kRounds; ++r) {
        auto t0 = Clock::now();
        if (!c.ours(context)) rc = 1;
        best_ours = std::min(best_ours, std::chrono::duration<double>(Clock::now() - t0).count());
        const double requests = test_support::run_curl_chain(c.curl);
        if (requests < 0) rc = 1;
        else best_curl = std::min(best_curl, requests);
      }
      std::printf("%s, %d times (%d requests): ours %.3f s (%.0f requests/s), curl %.3f s (%.0f requests/s), "
                  "ratio ours/curl %.2f (target <= 1.2)\n",
                  c.what, kCalls, 2 * kCalls, best_ours, 2 * kCalls / best_ours, best_curl,
                  2 * kCalls / best_curl, best_ours / best_curl);
    }
  }
  if (!controller.stop()) rc = 1;
  return rc;
}
