// The web API in the lab's namespace: requests per second of get_status and
// get_events (wrk, 50 keep-alive connections, two threads, 5 s per round,
// best of two) beside nginx serving a static file of the same size, both on
// 127.0.0.1 (nginx with a private configuration in a temporary folder,
// stopped afterwards); target ratio at least 0.5. Then get_volume_percent of
// a lab renderer through the API beside the same GetVolume SOAP request
// sent to the renderer, each 200 times by one curl process (requests
// chained with --next, times as curl reports them); target at most 1.5
// times curl's time. Exit 77 outside the lab or without wrk or nginx.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "base/upnp_log.h"
#include "http/http_server.h"
#include "nmc/lm_nmc.h"
#include "nmc/lm_nmc_devices.h"
#include "nmc/lm_nmc_internal.h"
#include "webapi/lm_nmc_webapi.h"
#include "support_curl.h"
#include "support_nginx.h"
#include "support_tcp.h"
#include "support_wrk.h"

namespace {

constexpr int kRounds = 2;
constexpr int kCalls = 200;

// The body of a GET (curl).
std::string body_of(const std::string &url) { return test_support::command_output("curl -s -m 10 '" + url + "'"); }

// Sum of curl's reported request times for one curl process running the
// request kCalls times; 0 on failure.
double curl_chain(const std::string &one) {
  std::string command = "curl";
  for (int i = 0; i < kCalls; ++i) command += (i ? " --next " : " ") + one;
  std::string out = test_support::command_output(command + " 2>/dev/null");
  double total = 0;
  int count = 0;
  std::regex line("T=([0-9.]+) C=([0-9]+)");
  for (auto it = std::sregex_iterator(out.begin(), out.end(), line); it != std::sregex_iterator(); ++it) {
    if ((*it)[2] != "200") return 0;
    total += std::stod((*it)[1]);
    ++count;
  }
  return count == kCalls ? total : 0;
}

std::string control_url(const std::string &desc) {
  std::string xml = body_of(desc);
  std::smatch m;
  if (!std::regex_search(xml, m, std::regex("RenderingControl:1</serviceType>[\\s\\S]*?<controlURL>([^<]*)<"))) {
    return "";
  }
  std::smatch host;
  if (!std::regex_search(desc, host, std::regex("^(http://[^/]+)"))) return "";
  std::string path = m[1];
  return host[1].str() + (path.empty() || path[0] != '/' ? "/" : "") + path;
}

}  // namespace

int main() {
  const char *desc = std::getenv("LAB_RENDERER1_DESC");
  const char *udn = std::getenv("LAB_RENDERER1_UDN");
  if (!std::getenv("LAB_ADDR") || !desc || !udn) {
    std::fprintf(stderr, "bench_webapi: run it in the lab (tests/lab/lab.sh run)\n");
    return 77;
  }
  if (!test_support::wrk_available() || !test_support::ReferenceNginx::available()) {
    std::fprintf(stderr, "bench_webapi: wrk or nginx missing (scripts/setup bench)\n");
    return 77;
  }
  char dir[] = "/tmp/bench_webapi_XXXXXX";
  if (!mkdtemp(dir)) return 1;
  lm_nmc_set_appdata_path(dir);
  const std::string log = std::string(dir) + "/log.txt";
  lm_nmc_enable_web_api(1);
  const char *argv[] = {"bench_webapi", "--logfile", log.c_str()};
  if (!lm_nmc_init(3, argv, 0)) {
    std::fprintf(stderr, "bench_webapi: the controller did not start\n");
    return 1;
  }
  upnp_log_set_level(LOG_LEVEL_ERROR);
  for (int i = 0; i < 300 && !nmc_devices_find_udn(NMC_SIDE_RENDERER, udn, nullptr); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  // A server of our own on 127.0.0.1 beside the interface's: the handlers
  // are the same for every server.
  int local = HTTP_server_open("127.0.0.1", static_cast<unsigned int>(test_support::free_loopback_port()));
  if (local < 0) return 1;
  const std::string api = "http://127.0.0.1:" + std::to_string(HTTP_server_port(local)) + "/nmc/rpc/";
  std::string status_body = body_of(api + "get_status");
  // The devices already listed reach the event log when the notifier starts.
  std::string events_body;
  for (int i = 0; i < 100; ++i) {
    events_body = body_of(api + "get_events?eventid=0");
    if (events_body.find(udn) != std::string::npos) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  if (status_body != "true" || events_body.empty()) {
    std::fprintf(stderr, "bench_webapi: the API does not answer (%s)\n", status_body.c_str());
    return 1;
  }
  int rc = 0;
  {
    test_support::ReferenceNginx nginx({{"status.txt", status_body}, {"events.txt", events_body}}, "text/plain");
    if (!nginx.ready()) {
      std::fprintf(stderr, "bench_webapi: nginx did not start\n");
      return 1;
    }
    struct {
      const char *name;
      std::string ours;
      std::string reference;
      size_t size;
    } cases[] = {{"get_status", api + "get_status", nginx.url("status.txt"), status_body.size()},
                 {"get_events", api + "get_events?eventid=0", nginx.url("events.txt"), events_body.size()}};
    for (const auto &c : cases) {
      std::printf("%s (%zu-byte reply), %s\n", c.name, c.size, test_support::kWrkCommand);
      double ours = test_support::wrk_requests_per_second(c.ours, "kestrel", kRounds, 22);
      double reference = test_support::wrk_requests_per_second(c.reference, "nginx", kRounds, 22);
      if (ours <= 0 || reference <= 0) {
        rc = 1;
        continue;
      }
      std::printf("%s: kestrel %.0f requests/s, nginx %.0f requests/s, ratio kestrel/nginx = %.2f (target >= 0.50)\n",
                  c.name, ours, reference, ours / reference);
    }
  }
  const std::string control = control_url(desc);
  if (control.empty()) {
    std::fprintf(stderr, "bench_webapi: no RenderingControl in %s\n", desc);
    return 1;
  }
  const std::string soap =
      "<?xml version=\"1.0\"?><s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\" "
      "s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\"><s:Body><u:GetVolume "
      "xmlns:u=\"urn:schemas-upnp-org:service:RenderingControl:1\"><InstanceID>0</InstanceID>"
      "<Channel>Master</Channel></u:GetVolume></s:Body></s:Envelope>";
  const std::string out = "-s -o /dev/null -w 'T=%{time_total} C=%{http_code}\\n' ";
  double best_api = 1e9;
  double best_soap = 1e9;
  for (int round = 0; round < 3; ++round) {
    double a = curl_chain(out + "'" + api + "get_volume_percent?renderer=" + test_support::url_escape(udn) + "'");
    double s = curl_chain(out + "-H 'Content-Type: text/xml; charset=\"utf-8\"' -H 'SOAPACTION: "
                          "\"urn:schemas-upnp-org:service:RenderingControl:1#GetVolume\"' --data '" + soap + "' '" +
                          control + "'");
    if (a > 0) best_api = std::min(best_api, a);
    if (s > 0) best_soap = std::min(best_soap, s);
  }
  if (best_api >= 1e9 || best_soap >= 1e9) {
    std::fprintf(stderr, "bench_webapi: the volume requests failed\n");
    rc = 1;
  } else {
    std::printf("get_volume_percent %d times: API %.3f s, curl SOAP GetVolume %.3f s, ratio API/curl = %.2f "
                "(target <= 1.50)\n",
                kCalls, best_api, best_soap, best_api / best_soap);
  }
  HTTP_server_close(local);
  lm_nmc_stop();
  for (int i = 0; i < 100 && nmc_run_state() != LM_NMC_STATE_STOPPED; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  std::system((std::string("rm -rf '") + dir + "'").c_str());
  return rc;
}
