// Reads the lab server's bulk container (2,000 items) entry by entry through
// a server context (lm_dmscp_go_index and the title of each entry) in pages
// of 50 and 200, beside the SOAP layer alone (upnp_control_browse of the same
// pages, as bench/cp/bench_soap_browse.cpp) and one curl process posting the
// same Browse requests chained with --next (the sum of its requests' times as
// curl reports them). Prints items per second and the ratios to curl
// (target: the context within 1.3 of curl). Best of three rounds each. Run in
// the lab: tests/lab/lab.sh run bench_nmc_browse
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "support_curl.h"
#include "base/upnp_thread.h"
#include "base/upnp_xml.h"
#include "cp/upnp_cp.h"
#include "cp/upnp_soap.h"
#include "cp/upnp_soap_internal.h"
#include "nmc/lm_dmscp.h"
#include "nmc/lm_nmc.h"

namespace {

constexpr int kRounds = 3;
using Clock = std::chrono::steady_clock;

std::string env(const char *name) {
  const char *v = std::getenv(name);
  return v ? v : "";
}

std::string title(uint32_t context) {
  char buffer[1024];
  return lm_dmscp_extract_metadata(context, "Title", 0, sizeof buffer, buffer) == 0 ? buffer : "";
}

// Goes into the entry of the current level titled name.
bool enter(uint32_t context, const std::string &name) {
  uint32_t count = 0;
  if (lm_dmscp_get_count(context, &count) != 0) return false;
  for (uint32_t i = 0; i < count; ++i) {
    if (lm_dmscp_go_index(context, i) == 0 && title(context) == name) return lm_dmscp_go_directory(context) == 0;
  }
  return false;
}

// The context inside the container at path ("a/b") from the server's root.
bool go_path(uint32_t context, const std::string &udn, const std::string &path) {
  if (lm_dmscp_go_bookmark(context, (udn + ",0").c_str()) != 0 || lm_dmscp_go_directory(context) != 0) return false;
  for (size_t from = 0;;) {
    size_t slash = path.find('/', from);
    if (!enter(context, path.substr(from, slash == std::string::npos ? std::string::npos : slash - from))) return false;
    if (slash == std::string::npos) return true;
    from = slash + 1;
  }
}

// Every entry of the context's level read through the cursor; entries read.
size_t context_read(uint32_t context, uint32_t count) {
  size_t got = 0;
  for (uint32_t i = 0; i < count; ++i) {
    if (lm_dmscp_go_index(context, i) != 0 || title(context).empty()) break;
    ++got;
  }
  return got;
}

// The same pages through the SOAP layer; items received.
size_t soap_read(int server, const std::string &id, unsigned page, unsigned total) {
  size_t got = 0;
  for (unsigned start = 0; start < total; start += page) {
    upnp_xml_node *reply = nullptr;
    if (upnp_control_browse(server, id.c_str(), "*", start, page, nullptr, &reply) != 0) break;
    const char *result = upnp_xml_find_tag_value(reply, "Result");
    upnp_xml_node *doc = result ? upnp_xml_parse(result) : nullptr;
    for (upnp_xml_node *e = doc ? doc->children : nullptr; e; e = e->next) ++got;
    upnp_xml_release(doc);
    upnp_xml_release(reply);
  }
  return got;
}

std::vector<std::string> curl_command(const std::string &url, const std::string &id, unsigned page, unsigned total,
                                      const std::string &dir) {
  std::vector<std::string> args = {"curl", "-s", "--fail"};
  for (unsigned start = 0, i = 0; start < total; start += page, ++i) {
    std::string s = std::to_string(start), c = std::to_string(page);
    upnp_soap_arg a[] = {{"ObjectID", id.c_str()},      {"BrowseFlag", "BrowseDirectChildren"},
                         {"Filter", "*"},               {"StartingIndex", s.c_str()},
                         {"RequestedCount", c.c_str()}, {"SortCriteria", ""}};
    upnp_string *body = upnp_soap_envelope(UPNP_SERVICE_CDS, "Browse", a, 6);
    std::string file = dir + "/req" + std::to_string(page) + "_" + std::to_string(i) + ".xml";
    std::ofstream(file) << upnp_string_get_cstring(body);
    upnp_string_free(body);
    if (i > 0) args.push_back("--next");
    for (const char *x : {"-s", "--fail", "-o", "/dev/null", "-w", "%{time_total}\\n", "-H",
                          "Content-Type: text/xml; charset=\"utf-8\"", "-H",
                          "SOAPACTION: \"urn:schemas-upnp-org:service:ContentDirectory:1#Browse\"", "--data-binary"})
      args.push_back(x);
    args.push_back("@" + file);
    args.push_back(url);
  }
  return args;
}


double seconds_since(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

// CPU time of the calling thread, which runs the whole page path (command,
// SOAP exchange, response, parse): on a shared machine it tells the path's
// own cost where the wall-clock figures drift with the load.
double thread_cpu() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

int run(uint32_t context, const std::string &udn, const std::string &dir) {
  const int server = upnp_control_get_device_index(udn.c_str(), UPNP_CP_KIND_SERVER);
  if (!go_path(context, udn, env("LAB_BULK_PATH"))) {
    std::fprintf(stderr, "bench_nmc_browse: no bulk container\n");
    return 1;
  }
  char mark[8192];
  if (lm_dmscp_get_temp_bookmark(context, sizeof mark, mark) != 0) return 1;
  std::string bulk = mark;
  // The container's identifier is the fourth part of the last level group.
  size_t bar = bulk.rfind(",|");
  size_t c1 = bulk.rfind(',', bar - 1), c2 = bulk.rfind(',', c1 - 1);
  const std::string id = bulk.substr(c2 + 1, c1 - c2 - 1);
  uint32_t total = 0;
  lm_dmscp_get_count(context, &total);
  upnp_soap_target target{};
  upnp_soap_resolve(server, UPNP_CP_KIND_SERVER, UPNP_SERVICE_CDS, 0, "Browse", &target);
  std::string url = target.base;
  if (target.rest[0] == '/') url = url.substr(0, url.find('/', 7)) + target.rest;
  else url += std::string("/") + target.rest;
  upnp_soap_target_free(&target);

  int rc = 0;
  for (unsigned page : {50u, 200u}) {
    lm_dmscp_ioctl(context, ("SetDMSItemCache " + std::to_string(page)).c_str(), 0, nullptr);
    const std::vector<std::string> curl = curl_command(url, id, page, total, dir);
    double best_context = 1e9, best_soap = 1e9, best_curl = 1e9, cpu_context = 1e9, cpu_soap = 1e9;
    for (int r = 0; r < kRounds; ++r) {
      lm_dmscp_go_parent(context);  // a fresh level: nothing cached
      lm_dmscp_go_bookmark(context, mark);
      auto t0 = Clock::now();
      double c0 = thread_cpu();
      size_t got = context_read(context, total);
      best_context = std::min(best_context, seconds_since(t0));
      cpu_context = std::min(cpu_context, thread_cpu() - c0);
      if (got != total) rc = 1;
      t0 = Clock::now();
      c0 = thread_cpu();
      if (soap_read(server, id, page, total) != total) rc = 1;
      best_soap = std::min(best_soap, seconds_since(t0));
      cpu_soap = std::min(cpu_soap, thread_cpu() - c0);
      double requests = test_support::run_curl_chain(curl);
      if (requests < 0) rc = 1;
      else best_curl = std::min(best_curl, requests);
    }
    // The cursor's own cost: the same calls on an entry of a cached page.
    auto t0 = Clock::now();
    for (uint32_t i = 0; i < total; ++i) {
      lm_dmscp_go_index(context, total - 1);
      title(context);
    }
    const double cursor = seconds_since(t0);
    std::printf("cursor calls (go to index, read the title) on a cached page: %.2f us per entry\n",
                cursor * 1e6 / total);
    std::printf("read %u entries in pages of %u: context %.3f s (%.0f items/s), SOAP layer %.3f s (%.0f items/s), "
                "curl %.3f s (%.0f items/s); context/curl %.2f (target <= 1.3), SOAP/curl %.2f\n",
                total, page, best_context, total / best_context, best_soap, total / best_soap, best_curl,
                total / best_curl, best_context / best_curl, best_soap / best_curl);
    std::printf("CPU time of the calling thread in pages of %u: context %.1f ms, SOAP layer %.1f ms\n", page,
                cpu_context * 1e3, cpu_soap * 1e3);
  }
  return rc;
}

}  // namespace

int main() {
  if (env("LAB_SERVER_DESC").empty()) {
    std::fprintf(stderr, "bench_nmc_browse: run it in the lab (tests/lab/lab.sh run ...)\n");
    return 77;
  }
  char dir[] = "/tmp/bench_nmc_XXXXXX";
  if (!mkdtemp(dir)) return 1;
  const std::string log = std::string(dir) + "/nmc-log.txt";
  const char *argv[] = {"bench_nmc_browse", "--logfile", log.c_str()};
  if (!lm_nmc_init(3, argv, 0)) return 1;
  const std::string udn = env("LAB_SERVER_UDN");
  uint32_t context = 0;
  int rc = 1;
  // The lab server is in the list once the controller saw it (bounded).
  for (int i = 0; i < 300 && rc != 0; ++i) {
    if (lm_dmscp_create_context(&context) == 0 && lm_dmscp_go_bookmark(context, (udn + ",0").c_str()) == 0) rc = 0;
    else Sleep(100);
  }
  if (rc == 0) rc = run(context, udn, dir);
  else std::fprintf(stderr, "bench_nmc_browse: the lab server did not come\n");
  lm_nmc_stop();
  char state[32] = "";
  for (int i = 0; i < 150 && std::strcmp(state, "Stopped") != 0; ++i) {
    lm_nmc_ioctl(0, "GetNMCRunState", sizeof state, state);
    Sleep(100);
  }
  std::string cleanup = std::string("rm -rf ") + dir;
  if (std::system(cleanup.c_str()) != 0) rc = 1;
  return rc;
}
