// Request senders: GET, HEAD, HTTP/1.0 GET, the SOAP POST header and the
// general POST header. They write one request and never read.
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "base/upnp_socket.h"
#include "base/upnp_string.h"
#include "http/http_client.h"
#include "http/http_url.h"

namespace {

// Requests built in a fixed buffer hold at most 1023 characters; a longer one
// is not sent at all (a cut request would leave the peer waiting for its end).
constexpr size_t kRequestBuffer = 1024;
constexpr size_t kAgentLine = HTTP_USER_AGENT_MAX + 16;

int send_get_like(int socket, const char *method, const char *url, const char *extra_headers) {
  http_request_target t;
  if (!http_split_request_url(url, &t)) return 1;
  char agent[kAgentLine];
  http_user_agent_line(extra_headers, agent, sizeof agent);
  upnp_string *req = upnp_string_sprintf(nullptr, "%s /%s HTTP/1.1\r\nAccept: */*\r\nHost: %s\r\n%s%s\r\n",
                                         method, t.path, t.host, agent, extra_headers ? extra_headers : "");
  if (!req) return 1;
  upnp_log_impl(LOG_LEVEL_TRACE, LOG_HTTP, __func__, "Sending request:\n%s", upnp_string_get_cstring(req));
  bool ok = http_send_all(socket, upnp_string_get_cstring(req), upnp_string_get_length(req));
  if (!ok) upnp_log_impl(LOG_LEVEL_WARNING, LOG_HTTP, __func__, "socket error %s", getLastSocketError());
  upnp_string_free(req);
  return ok ? 0 : 1;
}

}  // namespace

extern "C" int HTTP_get_request(int socket, const char *url, const char *extra_headers) {
  return send_get_like(socket, "GET", url, extra_headers);
}

extern "C" int HTTP_head_request(int socket, const char *url, const char *extra_headers) {
  return send_get_like(socket, "HEAD", url, extra_headers);
}

extern "C" int HTTP_get_request_1_0(int socket, const char *url, const char *extra_headers) {
  http_request_target t;
  if (!http_split_request_url(url, &t)) return 1;
  char agent[kAgentLine];
  http_user_agent_line(extra_headers, agent, sizeof agent);
  char req[kRequestBuffer];
  int n = std::snprintf(req, sizeof req, "GET /%s HTTP/1.0\r\nAccept: */*\r\nHost: %s\r\n%s%s\r\n", t.path, t.host,
                        agent, extra_headers ? extra_headers : "");
  if (n < 0 || static_cast<size_t>(n) >= sizeof req) {
    upnp_log_impl(LOG_LEVEL_ERROR, LOG_HTTP, __func__, "Buffer too small for request:\n%s", req);
    return 1;
  }
  upnp_log_impl(LOG_LEVEL_TRACE, LOG_HTTP, __func__, "Sending request:\n%s", req);
  if (!http_send_all(socket, req, static_cast<size_t>(n))) {
    upnp_log_impl(LOG_LEVEL_WARNING, LOG_HTTP, __func__, "socket error %s", getLastSocketError());
    return 1;
  }
  return 0;
}

extern "C" int HTTP_post_request(int socket, const char *url, const char *soap_action, const char *body) {
  http_request_target t;
  if (!http_split_request_url(url, &t) || !t.has_path) return 1;
  char agent[HTTP_USER_AGENT_MAX + 1];
  HTTP_get_default_user_agent(agent, sizeof agent);
  size_t body_len = body ? std::strlen(body) : 0;
  if (body_len > INT32_MAX) return 1;
  char req[kRequestBuffer];
  int n = std::snprintf(req, sizeof req,
                        "POST /%s HTTP/1.1\r\nAccept: */*\r\nUser-Agent: %s\r\nHost: %s\r\nSOAPACTION: %s\r\n"
                        "CONTENT-TYPE: %s\r\nContent-Length: %d\r\n\r\n",
                        t.path, agent, t.host, soap_action ? soap_action : "", "text/xml; charset=\"utf-8\"",
                        static_cast<int>(body_len));
  if (n < 0 || static_cast<size_t>(n) >= sizeof req) {
    upnp_log_impl(LOG_LEVEL_ERROR, LOG_HTTP, __func__, "Buffer too small for request:\n%s", req);
    return 1;
  }
  upnp_log_impl(LOG_LEVEL_TRACE, LOG_HTTP, __func__, "Sending request:\n%s", req);
  if (!http_send_all(socket, req, static_cast<size_t>(n))) {
    upnp_log_impl(LOG_LEVEL_WARNING, LOG_HTTP, __func__, "socket error %s", getLastSocketError());
    return 1;
  }
  // The device may take long to act; the watchdog of the exchange still
  // bounds the whole exchange when one was asked for.
  setSockOptSendTimeout(socket, 300000);
  setSockOptReceiveTimeout(socket, 300000);
  return 0;
}

extern "C" int HTTP_post_header(int socket, const char *url, const char *content_type, int64_t content_length,
                                int expect_continue, const char *extra_headers) {
  if (!url || !content_type || content_length < 0) return 1;
  http_request_target t;
  if (!http_split_request_url(url, &t)) {
    upnp_log_impl(LOG_LEVEL_ERROR, LOG_HTTP, __func__, "Could not create request for %s", url);
    return 1;
  }
  char length_line[48] = "";
  if (content_length > 0)
    std::snprintf(length_line, sizeof length_line, "Content-Length: %" PRId64 "\r\n", content_length);
  char agent[kAgentLine];
  http_user_agent_line(extra_headers, agent, sizeof agent);
  char req[kRequestBuffer];
  int n = std::snprintf(req, sizeof req,
                        "POST /%s HTTP/1.1\r\nAccept: */*\r\nHost: %s\r\nConnection: %s\r\nContent-Type: %s\r\n"
                        "%s%s%s%s\r\n",
                        t.path, t.host, content_length > 0 ? "Keep-Alive" : "Close", content_type, length_line,
                        expect_continue ? "Expect: 100-continue\r\n" : "", agent, extra_headers ? extra_headers : "");
  if (n < 0 || static_cast<size_t>(n) >= sizeof req) {
    upnp_log_impl(LOG_LEVEL_ERROR, LOG_HTTP, __func__, "Buffer too small for request:\n%s", req);
    return 1;
  }
  upnp_log_impl(LOG_LEVEL_TRACE, LOG_HTTP, __func__, "Sending request:\n%s", req);
  if (!http_send_all(socket, req, static_cast<size_t>(n))) {
    upnp_log_impl(LOG_LEVEL_ERROR, LOG_HTTP, __func__, "Failed to send request to %s", url);
    return 1;
  }
  return 0;
}
