// Arbitrary bytes to the header reader and the body readers (over a socket
// pair) and to every header parser. The first byte picks how the rest is
// framed; the checks below abort on any broken invariant.
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/upnp_mem.h"
#include "http/http_client.h"
#include "http/http_methods.h"

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

// Writes `wire` into a socket pair and returns the reading end; the writing
// end is shut so that every read ends.
int feed(const std::string &wire) {
  int sv[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, sv) != 0) std::abort();
  int big = 1 << 20;
  setsockopt(sv[1], SOL_SOCKET, SO_SNDBUF, &big, sizeof big);
  size_t done = 0;
  while (done < wire.size()) {
    ssize_t n = send(sv[1], wire.data() + done, wire.size() - done, MSG_DONTWAIT);
    if (n <= 0) break;  // more than the pair holds: the rest is dropped
    done += static_cast<size_t>(n);
  }
  close(sv[1]);
  return sv[0];
}

void parsers(const std::string &text) {
  const char *t = text.c_str();
  int status = HTTP_parse_header_response(t);
  (void)status;
  check(HTTP_parse_header_size(t) >= 0);
  (void)HTTP_parse_header_chunked(t);
  char *type = HTTP_parse_header_mime_type(t);
  if (type) check(std::strlen(type) <= text.size());
  upnp_free_impl(type);
  (void)upnp_http_has_connection_close(t);
  for (const char *name : {"\r\nNTS:", "\r\nUSN:", "\r\nLOCATION:", "content-length:", "SID:"}) {
    const char *v = HTTP_get_header_param(t, name);
    if (v) check(v >= t && v < t + text.size());
  }
  const char *v = HTTP_get_header_param(t, t);  // the text as a field name
  if (v) check(v >= t && v <= t + text.size());
  (void)HTTP_get_method_type(t);
  std::string copy = text;
  HTTP_unescape_url(&copy[0]);
  check(std::strlen(copy.c_str()) <= std::strlen(t));
  (void)HTTP_get_mime_type(nullptr, t);
  const char *ext = HTTP_get_extension(t);
  if (ext) check(ext > t && ext <= t + text.size());
  (void)HTTP_is_known_mime_type(t);
  (void)HTTP_get_extension_by_mime_type(t);
}

void reader(const std::string &wire, const char *given_header) {
  int fd = feed(wire);
  char header[HTTP_HEADER_BUFFER_SIZE];
  const char *h = given_header;
  if (!h) {
    int n = HTTP_get_header(fd, header, sizeof header);
    check(n >= 0 && n < static_cast<int>(sizeof header));
    if (n == 0) {
      close(fd);
      return;
    }
    check(std::strlen(header) <= static_cast<size_t>(n));
    check(std::memcmp(header + n - 4, "\r\n\r\n", 4) == 0);
    h = header;
  }
  uint64_t length = 0;
  char *body = HTTP_receive_body_with_length(fd, h, &length);
  if (body) {
    check(length <= HTTP_MAX_BODY_SIZE);
    check(length <= wire.size());
    check(body[length] == '\0');
  }
  upnp_free_impl(body);
  close(fd);
}

void to_file(const std::string &wire, const char *header) {
  int fd = feed(wire);
  int64_t received = -1;
  (void)HTTP_receive_file(fd, header, "/dev/null", 1, 0, &received);
  check(received <= static_cast<int64_t>(wire.size()));
  close(fd);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  upnp_mem_init();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0 || size > 65536) return 0;
  int64_t before = upnp_mem_used();
  std::string rest(reinterpret_cast<const char *>(data) + 1, size - 1);
  switch (data[0] & 3) {
    case 0:  // a whole message: header then body as the header frames it
      reader(rest, nullptr);
      break;
    case 1:  // a chunked body
      reader(rest, "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n");
      to_file(rest, "POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n");
      break;
    case 2:  // a body with a length, and one read until close
      reader(rest, "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n");
      reader(rest, "HTTP/1.0 200 OK\r\n\r\n");
      to_file(rest, "POST / HTTP/1.1\r\nContent-Length: 100\r\n\r\n");
      break;
    default:  // header parsers over the text
      parsers(rest);
      break;
  }
  check(upnp_mem_used() == before);
  return 0;
}
