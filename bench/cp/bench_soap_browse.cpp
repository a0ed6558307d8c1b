// Browses the lab server's bulk container (2,000 items) page by page with
// upnp_control_browse, in pages of 50 (the controller's default) and of 200,
// and compares the wall time with one curl process posting the same SOAP
// requests for the same pages (chained with --next), which is the lower
// bound the server sets. curl's time is the sum of its requests' times as
// curl reports them; the request bodies are written beforehand, and neither
// that nor curl's process start is in it. Prints items per second and the
// ratio ours / curl (target: at most 1.2). Best of three rounds each. Run in
// the lab:
// tests/lab/lab.sh run bench_soap_browse
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "support_curl.h"
#include "base/upnp_ini_file.h"
#include "base/upnp_mem.h"
#include "base/upnp_thread.h"
#include "base/upnp_xml.h"
#include "cp/upnp_cp.h"
#include "cp/upnp_cp_internal.h"
#include "cp/upnp_soap.h"
#include "cp/upnp_soap_internal.h"

namespace {

constexpr int kRounds = 3;
using Clock = std::chrono::steady_clock;

std::string env(const char *name) {
  const char *v = std::getenv(name);
  return v ? v : "";
}

int server_index() {
  std::string desc = env("LAB_SERVER_DESC"), udn = env("LAB_SERVER_UDN");
  cp_add_device(desc.c_str(), udn.c_str(), (env("LAB_ADDR") + ":9000").c_str(), 1800, UPNP_KIND_SERVER);
  for (int i = 0; i < 300; ++i) {
    int index = upnp_control_get_device_index(udn.c_str(), UPNP_KIND_SERVER);
    if (index >= 0 && upnp_cp_isValidIndex(index, UPNP_KIND_SERVER) == 1 &&
        upnp_control_get_device_services(index, UPNP_KIND_SERVER) != 0)
      return index;
    Sleep(50);
  }
  return -1;
}

// Children of a container: (kind, id, title), all pages of 200.
struct Entry {
  std::string kind, id, title;
};

// One page: the entries, TotalMatches into total; -1 on failure.
int browse_page(int server, const std::string &id, unsigned start, unsigned count, std::vector<Entry> *out,
                unsigned *total) {
  upnp_xml_node *reply = nullptr;
  if (upnp_control_browse(server, id.c_str(), "*", start, count, nullptr, &reply) != 0) return -1;
  *total = upnp_xml_find_tag_value_uint(reply, "TotalMatches", 0);
  const char *result = upnp_xml_find_tag_value(reply, "Result");
  upnp_xml_node *doc = result ? upnp_xml_parse(result) : nullptr;
  int n = 0;
  for (upnp_xml_node *e = doc ? doc->children : nullptr; e; e = e->next, ++n) {
    if (!out) continue;
    const char *eid = upnp_xml_find_attribute_value(e, "id");
    const char *title = upnp_xml_find_tag_value(e->children, "dc:title");
    out->push_back({e->name ? e->name : "", eid ? eid : "", title ? title : ""});
  }
  upnp_xml_release(doc);
  upnp_xml_release(reply);
  return n;
}

std::string find_container(int server, const std::string &path) {
  std::string id = "0";
  size_t from = 0;
  while (true) {
    size_t slash = path.find('/', from);
    std::string title = path.substr(from, slash == std::string::npos ? std::string::npos : slash - from);
    std::vector<Entry> all;
    unsigned total = 0;
    int n;
    do {
      n = browse_page(server, id, static_cast<unsigned>(all.size()), 200, &all, &total);
    } while (n > 0 && all.size() < total);
    std::string next;
    for (const Entry &e : all)
      if (e.kind == "container" && e.title == title) next = e.id;
    if (next.empty()) return "";
    id = next;
    if (slash == std::string::npos) return id;
    from = slash + 1;
  }
}

// Our browse of the whole container; items received.
size_t ours(int server, const std::string &id, unsigned page, unsigned total) {
  size_t got = 0;
  unsigned t = 0;
  for (unsigned start = 0; start < total; start += page) {
    int n = browse_page(server, id, start, page, nullptr, &t);
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  return got;
}

// The command line of one curl process that posts the same requests as our
// browse, chained with --next; the request bodies are written to files in
// dir here, before any timing, so that curl's timed run holds only its
// requests.
std::vector<std::string> curl_command(const std::string &url, const std::string &id, unsigned page, unsigned total,
                                      const std::string &dir) {
  std::vector<std::string> args = {"curl", "-s", "--fail"};
  for (unsigned start = 0, i = 0; start < total; start += page, ++i) {
    std::string s = std::to_string(start), c = std::to_string(page);
    upnp_soap_arg a[] = {{"ObjectID", id.c_str()},   {"BrowseFlag", "BrowseDirectChildren"},
                         {"Filter", "*"},            {"StartingIndex", s.c_str()},
                         {"RequestedCount", c.c_str()}, {"SortCriteria", ""}};
    upnp_string *env = upnp_soap_envelope(UPNP_SERVICE_CDS, "Browse", a, 6);
    std::string file = dir + "/req" + std::to_string(page) + "_" + std::to_string(i) + ".xml";
    std::ofstream(file) << upnp_string_get_cstring(env);
    upnp_string_free(env);
    if (i > 0) args.push_back("--next");
    for (const char *x : {"-s", "--fail", "-o", "/dev/null", "-w", "%{time_total}\\n", "-H", "Content-Type: text/xml; charset=\"utf-8\"", "-H",
                          "SOAPACTION: \"urn:schemas-upnp-org:service:ContentDirectory:1#Browse\"", "--data-binary"})
      args.push_back(x);
    args.push_back("@" + file);
    args.push_back(url);
  }
  return args;
}

// Runs the prepared curl command; the sum of the times curl took for its
// requests (each from its start to its last byte, as curl itself reports it:
// the process's start and end are not in it), or -1 when curl failed.

}  // namespace

int main() {
  if (env("LAB_SERVER_DESC").empty()) {
    std::fprintf(stderr, "bench_soap_browse: run it in the lab (tests/lab/lab.sh run ...)\n");
    return 77;
  }
  upnp_mem_init();
  upnp_ini_file_init();
  upnp_ini_file_dmc_init();
  upnp_set_errmsgs(upnp_cp_errmsgs());
  upnp_cp_start(0, 0);
  int server = server_index();
  std::string bulk = server >= 0 ? find_container(server, env("LAB_BULK_PATH")) : "";
  if (bulk.empty()) {
    std::fprintf(stderr, "bench_soap_browse: no server or bulk container\n");
    upnp_control_exit();
    return 1;
  }
  unsigned total = 0;
  browse_page(server, bulk, 0, 1, nullptr, &total);
  upnp_soap_target target{};
  upnp_soap_resolve(server, UPNP_KIND_SERVER, UPNP_SERVICE_CDS, 0, "Browse", &target);
  std::string url = target.base;
  if (target.rest[0] == '/') url = url.substr(0, url.find('/', 7)) + target.rest;
  else url += std::string("/") + target.rest;
  upnp_soap_target_free(&target);
  char dir[] = "/tmp/bench_soap_XXXXXX";
  if (!mkdtemp(dir)) return 1;

  int rc = 0;
  for (unsigned page : {50u, 200u}) {
    double best_ours = 1e9, best_curl = 1e9;
    size_t items = 0;
    const std::vector<std::string> curl = curl_command(url, bulk, page, total, dir);
    for (int r = 0; r < kRounds; ++r) {
      auto t0 = Clock::now();
      items = ours(server, bulk, page, total);
      best_ours = std::min(best_ours, std::chrono::duration<double>(Clock::now() - t0).count());
      const double requests = test_support::run_curl_chain(curl);
      if (requests < 0) rc = 1;
      else best_curl = std::min(best_curl, requests);
    }
    if (items != total) rc = 1;
    std::printf("browse %u items in pages of %u: ours %.3f s (%.0f items/s), curl %.3f s (%.0f items/s), "
                "ratio ours/curl %.2f (target <= 1.2)\n",
                total, page, best_ours, total / best_ours, best_curl, total / best_curl, best_ours / best_curl);
  }
  std::string cleanup = std::string("rm -rf ") + dir;
  if (std::system(cleanup.c_str()) != 0) rc = 1;
  upnp_control_exit();
  upnp_ini_file_release();
  return rc;
}
