// Requests per second of the library's HTTP server beside nginx, both on
// 127.0.0.1 and both serving a static 1 KiB reply, measured with wrk (50
// keep-alive connections, two threads, 5 s per round, best of two rounds).
// nginx runs with a private configuration and prefix in a temporary folder
// and is stopped afterwards. Prints the ratio ours / nginx (the target: at
// least as many requests as nginx). Exit 77 when wrk or nginx is missing.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "http/http_methods.h"
#include "http/http_server.h"
#include "support_nginx.h"
#include "support_tcp.h"
#include "support_wrk.h"

namespace {

constexpr size_t kReplySize = 1024;
constexpr int kRounds = 2;

std::string g_reply;

int static_handler(HTTP_connection *c) {
  c->content_type = "application/octet-stream";
  c->length = static_cast<int64_t>(g_reply.size());
  return HTTP_send(c, g_reply.data());
}

}  // namespace

int main() {
  if (!test_support::wrk_available() || !test_support::ReferenceNginx::available()) {
    std::fprintf(stderr, "bench_http_server: wrk or nginx missing (scripts/setup bench)\n");
    return 77;
  }
  upnp_mem_init();
  upnp_log_set_level(LOG_LEVEL_ERROR);
  g_reply.assign(kReplySize, 'k');
  upnp_http_register_handler(static_handler, HTTP_METHOD_GET, "/reply.bin", 0, 0);
  int server = HTTP_server_open("127.0.0.1", static_cast<unsigned int>(test_support::free_loopback_port()));
  if (server < 0) {
    std::fprintf(stderr, "bench_http_server: cannot start our server\n");
    return 1;
  }
  const std::string ours_url = "http://127.0.0.1:" + std::to_string(HTTP_server_port(server)) + "/reply.bin";
  std::printf("HTTP server, %zu-byte static reply, %s\n", kReplySize, test_support::kWrkCommand);
  double ours = test_support::wrk_requests_per_second(ours_url, "kestrel", kRounds);
  HTTP_server_close(server);

  double reference = 0;
  {
    test_support::ReferenceNginx nginx({{"reply.bin", g_reply}}, "application/octet-stream");
    if (!nginx.ready()) {
      std::fprintf(stderr, "bench_http_server: nginx did not start\n");
      return 1;
    }
    reference = test_support::wrk_requests_per_second(nginx.url("reply.bin"), "nginx", kRounds);
  }
  if (ours <= 0 || reference <= 0) return 1;
  std::printf("kestrel %.0f requests/s, nginx %.0f requests/s, ratio kestrel/nginx = %.2f (target >= 1.00)\n", ours,
              reference, ours / reference);
  return 0;
}
