// Request targets, header fields and bodies through the RPC dispatcher,
// with the controller replaced by a table that answers every call. The
// first input line is the request target, the following lines up to an
// empty one are header fields, the rest is the body. Every request must be
// answered with a status line; anything else aborts.
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/upnp_mem.h"
#include "http/http_server.h"
#include "webapi/webapi_controller.h"
#include "webapi/webapi_internal.h"
#include "webapi/webapi_upload_folder.h"

namespace {

lm_nmc_result_t ok_context(uint32_t *c) {
  *c = 0x10001;
  return 0;
}
lm_nmc_result_t ok(uint32_t) { return 0; }
lm_nmc_result_t ok_text(uint32_t, const char *) { return 0; }
lm_nmc_result_t ok_index(uint32_t, uint32_t) { return 0; }
lm_nmc_result_t ok_out(uint32_t, const char *, uint32_t size, char *out) {
  if (size) std::snprintf(out, size, "x");
  return 0;
}
lm_nmc_result_t ok_int(uint32_t, int *v) {
  *v = 1;
  return 0;
}
lm_nmc_result_t ok_set_int(uint32_t, int) { return 0; }
lm_nmc_result_t ok_u32(uint32_t, uint32_t *v) {
  *v = 3;
  return 0;
}
lm_nmc_result_t ok_i64(uint32_t, int64_t) { return 0; }
lm_nmc_result_t ok_state(uint32_t, uint32_t *s, uint32_t ps, char *p, uint32_t ds, char *d) {
  *s = 1;
  std::snprintf(p, ps, "0:00:01");
  std::snprintf(d, ds, "0:00:02");
  return 0;
}
lm_nmc_result_t ok_db(uint32_t, int32_t *v) {
  *v = -3;
  return 0;
}
lm_nmc_result_t ok_set_db(uint32_t, int32_t) { return 0; }
lm_nmc_result_t ok_range(uint32_t, int32_t *a, int32_t *b) {
  *a = -50;
  *b = 0;
  return 0;
}
lm_nmc_result_t ok_playindex(uint32_t, int32_t *i, uint32_t *p) {
  *i = 0;
  *p = 0;
  return 0;
}
lm_nmc_result_t ok_metadata(uint32_t, const char *, const char *) { return 0; }
lm_nmc_result_t ok_buffer(uint32_t, uint32_t size, char *b) {
  std::snprintf(b, size, "<DIDL-Lite><item id=\"1\"></item></DIDL-Lite>");
  return 0;
}
lm_nmc_result_t ok_extract(uint32_t, const char *, uint32_t, uint32_t size, char *b) {
  std::snprintf(b, size, "t<&\"");
  return 0;
}
int not_terminating(void) { return 0; }

const webapi_controller kAnswering = {
    ok_context, ok,         ok_text,     ok_index,  ok_out,        ok_int,       ok_set_int,  ok_set_int,
    ok_index,   ok,         ok_u32,      ok_index,  ok_i64,        ok_i64,       ok_state,    ok_u32,
    ok_index,   ok_db,      ok_set_db,   ok_range,  ok_out,        ok_playindex, ok_index,    ok_text,
    ok_metadata, ok,        ok_index,    ok,        ok_context,    ok,           ok_text,     ok_text,
    ok_u32,     ok_index,   ok_buffer,   ok_extract, ok_buffer,    not_terminating,
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  upnp_mem_init();
  webapi_controller_set(&kAnswering);
  webapi_event_log_reset();
  // Uploads stage their bodies in a folder of the fuzz run; the transfer
  // itself is not built in and answers a failure.
  static char folder[] = "/tmp/fuzz-webapi-XXXXXX";
  if (mkdtemp(folder)) webapi_upload_set_parent(folder);
  webapi_set_max_upload_mb(1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string input(reinterpret_cast<const char *>(data), size);
  size_t line_end = input.find('\n');
  std::string target = input.substr(0, line_end);
  std::string rest = line_end == std::string::npos ? std::string() : input.substr(line_end + 1);
  size_t blank = rest.find("\n\n");
  std::string fields = rest.substr(0, blank);
  std::string body = blank == std::string::npos ? std::string() : rest.substr(blank + 2);

  int sv[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, sv) != 0) std::abort();
  int big = 4 << 20;
  setsockopt(sv[0], SOL_SOCKET, SO_SNDBUF, &big, sizeof big);
  setsockopt(sv[1], SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
  setsockopt(sv[1], SOL_SOCKET, SO_SNDBUF, &big, sizeof big);
  setsockopt(sv[0], SOL_SOCKET, SO_RCVBUF, &big, sizeof big);

  auto *c = static_cast<HTTP_connection *>(std::calloc(1, sizeof(HTTP_connection)));
  c->socket = sv[0];
  c->request_type = body.empty() ? 1 : 4;
  c->version = 11;
  c->range_start = c->range_end = -1;
  std::snprintf(c->peer_address, sizeof c->peer_address, "127.0.0.1");
  std::snprintf(c->base_url, sizeof c->base_url, "http://127.0.0.1:9000/");
  std::snprintf(c->header, sizeof c->header, "%s %s HTTP/1.1\r\n%s\r\n\r\n", body.empty() ? "GET" : "POST",
                target.c_str(), fields.c_str());
  // The body waits on the socket as the handler reads it itself; the client
  // side is shut so every read ends.
  size_t at = 0;
  while (at < body.size()) {
    ssize_t n = send(sv[1], body.data() + at, body.size() - at, MSG_NOSIGNAL);
    if (n <= 0) break;
    at += static_cast<size_t>(n);
  }
  shutdown(sv[1], SHUT_WR);
  rpcRequestHandler(c);
  shutdown(sv[0], SHUT_WR);
  char head[16] = {0};
  ssize_t n = recv(sv[1], head, sizeof head - 1, 0);
  if (n < 12 || std::strncmp(head, "HTTP/1.", 7) != 0) std::abort();
  char drain[65536];
  while (recv(sv[1], drain, sizeof drain, 0) > 0) {
  }
  close(sv[0]);
  close(sv[1]);
  std::free(c);
  return 0;
}
