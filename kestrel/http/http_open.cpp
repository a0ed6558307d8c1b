// HTTP_open / HTTP_open_ttl: URL forms, user info, ports, the resolver
// fallback and the watchdog around connect.
#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstdlib>
#include <cstring>

#include "base/upnp_log.h"
#include "base/upnp_socket.h"
#include "http/http_client.h"
#include "http/upnp_socket_watchdog.h"

namespace {

constexpr size_t kHostMax = 255;

// Host and port of an "http://" or "ftp://" URL; false when malformed.
bool parse_host_port(const char *url, char *host, size_t host_size, int *port) {
  const char *rest;
  if (std::strncmp(url, "http://", 7) == 0) {
    rest = url + 7;
    *port = 80;
  } else if (std::strncmp(url, "ftp://", 6) == 0) {
    rest = url + 6;
    *port = 21;
  } else {
    return false;
  }
  const char *slash = std::strchr(rest, '/');
  const char *at = std::strchr(rest, '@');
  if (at && (!slash || at < slash)) rest = at + 1;
  size_t n = std::strcspn(rest, ":/");
  if (n >= host_size) n = host_size - 1;
  std::memcpy(host, rest, n);
  host[n] = '\0';
  if (rest[std::strcspn(rest, ":/")] == ':') {
    const char *p = rest + std::strcspn(rest, ":/") + 1;
    long v = std::strtol(p, nullptr, 10);
    if (v < 0 || v > 65535) v = 0;
    *port = static_cast<int>(v);
  }
  return true;
}

}  // namespace

extern "C" int HTTP_open(const char *url) { return HTTP_open_ttl(url, 0); }

extern "C" int HTTP_open_ttl(const char *url, int ttl) {
  if (!url) {
    upnp_log_impl(LOG_LEVEL_ERROR, LOG_HTTP, __func__, "No url specified");
    return -1;
  }
  char host[kHostMax + 1];
  int port = 0;
  if (!parse_host_port(url, host, sizeof host, &port)) {
    upnp_log_impl(LOG_LEVEL_ERROR, LOG_HTTP, __func__, "Malformed url: %s", url);
    return -1;
  }

  struct sockaddr_in address;
  std::memset(&address, 0, sizeof address);
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  if (upnp_gethostbyname(host, &address.sin_addr) != 0) {
    upnp_log_impl(LOG_LEVEL_WARNING, LOG_HTTP, __func__, "cannot get IP of %s, return local IP ", host);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  }

  int s = upnp_socket_create_tcp();
  if (s < 0) {
    upnp_log_impl(LOG_LEVEL_ERROR, LOG_HTTP, __func__, "Failed to open tcp socket");
    return -1;
  }
  if (ttl != 0) setSockOptTTL(s, ttl);

  upnp_socket_timeout *watch = nullptr;
  unsigned int timeout_s = HTTP_get_connection_timeout();
  if (timeout_s != 0) {
    unsigned int ms = timeout_s > 4000000u ? 4000000000u : timeout_s * 1000u;
    setSockOptSendTimeout(s, ms);
    setSockOptReceiveTimeout(s, ms);
    watch = upnp_enforce_socket_timeout(ms, s);
  }

  bool failed = upnp_socket_connect(s, &address) != 0;
  // A connect that only succeeded after the watchdog fired counts as failed.
  if (watch && upnp_release_socket_timeout(watch, failed ? 1 : 0)) {
    if (!failed) upnp_socket_close(s);
    failed = true;
  } else if (failed) {
    upnp_socket_close(s);
  }
  if (failed) {
    char ip[INET_ADDRSTRLEN];
    upnp_inet_ntoa(address.sin_addr, ip, sizeof ip);
    upnp_log_impl(LOG_LEVEL_WARNING, LOG_HTTP, __func__, "Failed to connect to ip=%s on port=%d", ip, port);
    return -1;
  }
  return s;
}
