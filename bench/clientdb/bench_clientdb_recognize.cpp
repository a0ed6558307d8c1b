// Recognition of a client from a 2 KB request header with the shipped
// "clients.db" (upnp_client_db_check_header), against a reference measured
// in the same run: a plain strcasestr scan of the same header for the same
// header marks. Prints the time per recognition, the number of client types
// loaded and the ratio; fails when a recognition costs 20 µs or more.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <chrono>
#include <string>
#include <vector>

#include "base/upnp_ini_file.h"
#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "clientdb/upnp_client_db.h"

namespace {

using clock_type = std::chrono::steady_clock;

std::string make_header() {
  std::string h =
      "GET /MediaItems/1234.mp3 HTTP/1.1\r\nHost: 192.168.1.10:9000\r\n"
      "User-Agent: Linux/3.10 UPnP/1.0 Aurora-DMP DLNADOC/1.50 AuroraTV/2015\r\n"
      "Accept: */*\r\nAccept-Language: en-US,en;q=0.8\r\nConnection: keep-alive\r\n"
      "transferMode.dlna.org: Streaming\r\ngetcontentFeatures.dlna.org: 1\r\n"
      "Range: bytes=0-\r\n";
  int n = 0;
  while (h.size() < 2000) h += "X-Extra-Field-" + std::to_string(n++) + ": some value text that fills the header\r\n";
  h.resize(2044);
  return h + "\r\n\r\n";
}

template <typename F>
double per_call_ns(double seconds, F &&work) {
  long iterations = 0;
  const auto start = clock_type::now();
  double elapsed = 0;
  do {
    for (int i = 0; i < 200; ++i) work();
    iterations += 200;
    elapsed = std::chrono::duration<double>(clock_type::now() - start).count();
  } while (elapsed < seconds);
  return elapsed * 1e9 / (double)iterations;
}

}  // namespace

int main(int argc, char **argv) {
  const double seconds = argc > 1 ? atof(argv[1]) : 0.5;
  upnp_mem_init();
  upnp_log_set_sources(0);
  upnp_ini_file_init();
  upnp_set_EXE_Name(CLIENTDB_SOURCE_DIR "/program");
  const int types = upnp_client_db_init();
  if (types <= 0) {
    fprintf(stderr, "bench_clientdb_recognize: no client types loaded\n");
    return 1;
  }
  const std::string header = make_header();

  // The reference scans for the same marks.
  std::vector<std::string> marks;
  for (uint32_t t = 0; t < (uint32_t)types; ++t) {
    char mark[128];
    if (upnp_client_db_getKeyword(t, "HH:", mark, sizeof mark)) marks.push_back(mark);
  }

  volatile uint32_t sink = 0;
  const double ours = per_call_ns(seconds, [&] {
    uint32_t type = 0;
    int fixation = 0;
    upnp_client_db_check_header(header.c_str(), &type, &fixation, nullptr, nullptr, nullptr);
    sink = sink + type;
  });
  const double reference = per_call_ns(seconds, [&] {
    uint32_t found = 0;
    for (const std::string &m : marks) found += strcasestr(header.c_str(), m.c_str()) != nullptr;
    sink = sink + found;
  });
  uint32_t type = 0;
  int fixation = 0;
  upnp_client_db_check_header(header.c_str(), &type, &fixation, nullptr, nullptr, nullptr);

  printf("client types loaded: %d (%zu header marks)\n", types, marks.size());
  printf("header size: %zu bytes, recognised type %u (fixation %d)\n", header.size(), type, fixation);
  printf("upnp_client_db_check_header: %.2f us per recognition\n", ours / 1000.0);
  printf("reference strcasestr scan of the same marks: %.2f us\n", reference / 1000.0);
  printf("ratio ours / strcasestr: %.2f\n", ours / reference);
  upnp_client_db_exit();
  upnp_ini_file_release_on_exit();
  if (ours >= 20000.0) {
    printf("FAIL: recognition costs 20 us or more\n");
    return 1;
  }
  return 0;
}
