// Recognition of a client from a 2 KB request header with the shipped
// "clients.db" (upnp_client_db_check_header): the time per header for three
// headers that take the three paths of the walk over the client types: one
// that no mark matches (every mark looked for: the longest walk), one that
// matches types whose result is not fixed (also every mark, the last match
// wins), and one whose mark fixes the type (the walk ends there). Prints the
// number of client types, the type each header is recognised as, and the
// time per header; fails when a header costs 20 µs or more.
#include <stdio.h>
#include <stdlib.h>

#include <chrono>
#include <string>

#include "base/upnp_ini_file.h"
#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "clientdb/upnp_client_db.h"

namespace {

using clock_type = std::chrono::steady_clock;

// A 2 KB request header with the given User-Agent line, padded with fields
// that match no mark.
std::string make_header(const std::string &agent) {
  std::string h =
      "GET /MediaItems/1234.mp3 HTTP/1.1\r\nHost: 192.168.1.10:9000\r\n"
      "User-Agent: " + agent + "\r\n"
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
  struct Case {
    const char *what;
    std::string header;
  };
  const Case cases[] = {
      {"no mark matches", make_header("Mozilla/5.0 (X11; Linux x86_64) Gecko/20100101 Firefox/115.0")},
      {"unfixed marks match", make_header("Linux/3.10 UPnP/1.0 Aurora-DMP DLNADOC/1.50 AuroraTV/2015")},
      {"a fixing mark matches", make_header("DLNADOC/1.50 SEC_HHP_[TV] Living Room/1.0")},
  };

  printf("client types loaded: %d\n", types);
  bool too_slow = false;
  volatile uint32_t sink = 0;
  for (const Case &c : cases) {
    uint32_t type = 0;
    int fixation = 0;
    const int found = upnp_client_db_check_header(c.header.c_str(), &type, &fixation, nullptr, nullptr, nullptr);
    const double ns = per_call_ns(seconds, [&] {
      uint32_t t = 0;
      int f = 0;
      upnp_client_db_check_header(c.header.c_str(), &t, &f, nullptr, nullptr, nullptr);
      sink = sink + t;
    });
    printf("%-22s %zu-byte header: type %u (%s, fixation %d): %.2f us per header\n", c.what, c.header.size(),
           found ? type : 0u, found ? "recognised" : "not recognised", fixation, ns / 1000.0);
    if (ns >= 20000.0) too_slow = true;
  }
  upnp_client_db_exit();
  upnp_ini_file_release_on_exit();
  if (too_slow) {
    printf("FAIL: a header costs 20 us or more\n");
    return 1;
  }
  return 0;
}
