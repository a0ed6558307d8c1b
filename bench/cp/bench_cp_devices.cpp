// Device table benchmark (see CMakeLists.txt). No network stack is started:
// the devices are announced through the table's SSDP entry points and served
// from 127.0.0.1.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "base/upnp_ini_file.h"
#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "cp/upnp_cp.h"
#include "cp_test_util.h"
#include "http/http_client.h"

namespace {

using Clock = std::chrono::steady_clock;

int threads_now() { return static_cast<int>(cp_test::process_status_value("Threads")); }

int usable(int kind) { return cp_test::usable_count(kind); }

}  // namespace

int main() {
  upnp_mem_init();
  upnp_log_set_level(LOG_LEVEL_CRITICAL);
  upnp_ini_file_init();
  upnp_ini_file_dmc_init();
  cp_test::FileServer server;
  std::vector<std::pair<std::string, std::string>> devices;  // (udn, location)
  std::vector<std::string> urls;
  const char *rtype = "urn:schemas-upnp-org:device:MediaRenderer:1";
  const char *stype = "urn:schemas-upnp-org:device:MediaServer:1";
  for (int i = 0; i < 60; ++i) {
    bool renderer = i < 30;
    char udn[40];
    std::snprintf(udn, sizeof udn, "uuid:bench-%06d", i);
    std::string tail = std::string(udn).substr(std::strlen(udn) - 6);
    std::vector<std::string> services = renderer ? std::vector<std::string>{"CM", "RC", "AVT"}
                                                 : std::vector<std::string>{"CM", "CDS"};
    server.put("/" + tail + "/desc.xml", cp_test::description(udn, renderer ? rtype : stype, "Bench " + tail, services));
    urls.push_back(server.url("/" + tail + "/desc.xml"));
    for (const std::string &s : services) {
      if (s == "CM") continue;
      server.put("/" + tail + "/" + s + ".xml", cp_test::scpd({"Browse", "Play", "Stop", "CreateObject", "UpdateObject"}));
      urls.push_back(server.url("/" + tail + "/" + s + ".xml"));
    }
    devices.push_back({udn, server.url("/" + tail + "/desc.xml")});
  }

  // Reference: the same texts fetched one by one and parsed.
  Clock::time_point t0 = Clock::now();
  for (const std::string &url : urls) {
    char *body = HTTP_get(url.c_str());
    upnp_xml_node *tree = body ? upnp_xml_parse(body) : nullptr;
    upnp_xml_release(tree);
    upnp_free_impl(body);
  }
  double reference = std::chrono::duration<double>(Clock::now() - t0).count();

  int threads_before = threads_now();
  int64_t memory_before = upnp_mem_used();
  if (upnp_cp_start(0, 0) != 0) return 1;
  Clock::time_point t1 = Clock::now();
  for (auto &d : devices)
    upnp_control_add_device(d.second.c_str(), d.first.c_str(), "127.0.0.1:9000", 1800, d.first < "uuid:bench-000030" ? 2 : 1);
  int peak_threads = 0;
  while ((usable(1) < 30 || usable(2) < 30) && Clock::now() - t1 < std::chrono::seconds(10)) {
    int t = threads_now();
    if (t > peak_threads) peak_threads = t;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  double table = std::chrono::duration<double>(Clock::now() - t1).count();
  int servers = usable(1), renderers = usable(2);
  int64_t memory_table = upnp_mem_used() - memory_before;

  // Flood: 1,000 unknown renderers whose descriptions do not exist.
  Clock::time_point t2 = Clock::now();
  std::string nowhere = server.url("/nowhere.xml");
  for (int i = 0; i < 1000; ++i) {
    char udn[40];
    std::snprintf(udn, sizeof udn, "uuid:flood-%06d", i);
    upnp_control_add_device(nowhere.c_str(), udn, "127.0.0.1:9000", 1800, 2);
  }
  double flood = std::chrono::duration<double>(Clock::now() - t2).count();
  int flood_threads = threads_now();
  int64_t flood_memory = upnp_mem_used() - memory_before;
  bool known_intact = usable(2) == 30 && usable(1) == 30;
  upnp_control_exit();

  std::printf("device table: %d servers and %d renderers usable in %.3f s (limit 10 s)\n", servers, renderers, table);
  std::printf("reference (one-by-one fetch and parse of the same %zu texts): %.3f s\n", urls.size(), reference);
  std::printf("ratio table/reference: %.2f\n", table / reference);
  std::printf("threads: %d before start, peak %d while loading; library memory for 60 devices: %.1f KiB\n",
              threads_before, peak_threads, memory_table / 1024.0);
  std::printf("flood of 1000 unknown renderers: %.3f s to hand over, threads right after %d, memory %.1f KiB, "
              "known devices intact: %s\n",
              flood, flood_threads, flood_memory / 1024.0, known_intact ? "yes" : "no");
  return servers == 30 && renderers == 30 && table < 10.0 && known_intact ? 0 : 1;
}
