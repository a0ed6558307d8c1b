// URL split and the shared bits of the request senders.
#include "http/http_url.h"

#include <cstdio>
#include <cstring>

#include "base/upnp_socket.h"
#include "http/http_parse.h"
#include "http/http_settings.h"

bool http_split_request_url(const char *url, http_request_target *out) {
  if (!url || std::strncmp(url, "http://", 7) != 0 || std::strlen(url) < 9) return false;
  const char *host = url + 7;
  const char *host_end = std::strchr(host, '/');
  size_t n = host_end ? static_cast<size_t>(host_end - host) : std::strlen(host);
  if (n > HTTP_URL_HOST_MAX) n = HTTP_URL_HOST_MAX;
  std::memcpy(out->host, host, n);
  out->host[n] = '\0';
  const char *slash = std::strchr(url + 8, '/');
  out->has_path = slash != nullptr;
  out->path = slash ? slash + 1 : "";
  return true;
}

const char *http_user_agent_line(const char *extra_headers, char *buffer, size_t size) {
  buffer[0] = '\0';
  if (extra_headers && HTTP_find_nocase(extra_headers, "User-Agent")) return buffer;
  char agent[HTTP_USER_AGENT_MAX + 1];
  HTTP_get_default_user_agent(agent, sizeof agent);
  std::snprintf(buffer, size, "User-Agent: %s\r\n", agent);
  return buffer;
}

bool http_send_all(int socket, const char *text, size_t length) {
  if (socket < 0) return false;
  if (length == 0) return true;
  size_t done = 0;
  while (done < length) {
    ssize_t sent = upnp_send(socket, text + done, length - done, 0);
    if (sent <= 0) return false;
    done += static_cast<size_t>(sent);
  }
  return true;
}
