// One GENA exchange with a device: SUBSCRIBE, renewal (SUBSCRIBE with SID)
// or UNSUBSCRIBE, and the reading of the granted SID and TIMEOUT.
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>

#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "base/upnp_thread.h"
#include "cp/upnp_cp_eventing.h"
#include "http/http_client.h"
#include "http/http_url.h"

namespace {

enum Exchange { kSubscribe, kRenew, kCancel };

const char *const kPrefix[] = {"", "re", "un"};
const char *const kFunction[] = {"upnp_cp_subscribe", "upnp_cp_resubscribe", "upnp_cp_unsubscribe"};

// Host and path of the request from the event URL and the base URL.
void request_target(const char *event_url, const char *base_url, std::string *host, std::string *path) {
  if (std::strncmp(event_url, "http://", 7) == 0) {
    const char *slash = std::strchr(event_url + 7, '/');
    host->assign(event_url + 7, slash ? static_cast<size_t>(slash - event_url - 7) : std::strlen(event_url + 7));
    *path = slash ? slash : "/";
    return;
  }
  const char *after_scheme = std::strstr(base_url, "://");
  after_scheme = after_scheme ? after_scheme + 3 : base_url;
  const char *slash = std::strchr(after_scheme, '/');
  host->assign(after_scheme, slash ? static_cast<size_t>(slash - after_scheme) : std::strlen(after_scheme));
  if (event_url[0] == '/') {
    *path = event_url;
    return;
  }
  *path = slash ? slash : "";
  if (path->empty() || path->back() != '/') *path += '/';
  *path += event_url;
}

void bound_socket_time(int socket) {
  timeval tv{UPNP_CP_GENA_IO_TIMEOUT_MS / 1000, (UPNP_CP_GENA_IO_TIMEOUT_MS % 1000) * 1000};
  setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  setsockopt(socket, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

int handle_connection(Exchange type, const char *event_url, const char *base_url, const char *callback_interface,
                      const char *sid, char **sid_out, int64_t *timeout_inout) {
  const char *re = kPrefix[type];
  const char *function = kFunction[type];
  int64_t requested = (timeout_inout != nullptr && *timeout_inout >= 1) ? *timeout_inout
                                                                        : UPNP_CP_DEFAULT_SUBSCRIPTION_TIMEOUT;
  auto *header = static_cast<char *>(upnp_malloc_impl(HTTP_HEADER_BUFFER_SIZE));
  if (header == nullptr) {
    upnp_log_impl(LOG_LEVEL_ERROR, LOG_EVENTING, function, "upnp_cp_%ssubscribe out of memory", re);
    return 8;
  }
  std::string host, path;
  request_target(event_url, base_url, &host, &path);
  std::string request;
  char line[64];
  if (type == kCancel) {
    request = "UNSUBSCRIBE " + path + " HTTP/1.1\r\nHOST: " + host + "\r\nSID: " + sid + "\r\nConnection: close\r\n\r\n";
  } else {
    std::snprintf(line, sizeof line, "TIMEOUT: Second-%lu\r\n", static_cast<unsigned long>(requested));
    request = "SUBSCRIBE " + path + " HTTP/1.1\r\nHOST: " + host + "\r\n";
    if (type == kSubscribe) {
      request += std::string("CALLBACK: <http://") + callback_interface + "/>\r\nNT: upnp:event\r\n";
    } else {
      request += std::string("SID: ") + sid + "\r\n";
    }
    request += line;
    request += "Connection: close\r\n\r\n";
  }
  int socket = HTTP_open(base_url);
  if (socket < 0) {
    upnp_log_impl(LOG_LEVEL_WARNING, LOG_EVENTING, function, "upnp_cp_%ssubscribe: cannot create connection to %s",
                  re, base_url);
    upnp_free_impl(header);
    return 3;
  }
  bound_socket_time(socket);
  upnp_log_impl(LOG_LEVEL_DEBUG, LOG_EVENTING, function, "upnp_cp_%ssubscribe Sending %ssubscribe:\n%s", re, re,
                request.c_str());
  if (!http_send_all(socket, request.data(), request.size())) {
    upnp_log_impl(LOG_LEVEL_WARNING, LOG_EVENTING, function, "upnp_cp_%ssubscribe CP cannot send %ssubscribe to %s",
                  re, re, base_url);
    close(socket);
    upnp_free_impl(header);
    return 3;
  }
  Sleep(10);
  int status = 0;
  int got = 0;
  for (int round = 0; round < 8; ++round) {
    got = HTTP_get_header(socket, header, HTTP_HEADER_BUFFER_SIZE);
    if (got <= 0) break;
    if (HTTP_parse_header_size(header) > 0) upnp_free_impl(HTTP_receive_body(socket, header));
    status = HTTP_parse_header_response(header);
    if (status != 100) break;
  }
  close(socket);
  if (got <= 0) {
    upnp_log_impl(LOG_LEVEL_WARNING, LOG_EVENTING, function,
                  "upnp_cp_%ssubscribe CP cannot get %ssubscribe response from %s", re, re, base_url);
    upnp_free_impl(header);
    return 7;
  }
  upnp_log_impl(LOG_LEVEL_DEBUG, LOG_EVENTING, function, "upnp_cp_%ssubscribe Received %ssubscribe response from %s:\n%s",
                re, re, base_url, header);
  if (status < 200 || status > 299) {
    upnp_log_impl(LOG_LEVEL_WARNING, LOG_EVENTING, function,
                  "upnp_cp_%ssubscribe CP received error in %ssubscribe response %d from %s", re, re, status, base_url);
    upnp_free_impl(header);
    return status > 0 ? status : 7;
  }
  if (timeout_inout != nullptr && type != kCancel) *timeout_inout = upnp_cp_get_timeout(header, requested);
  if (sid_out != nullptr) {
    *sid_out = upnp_cp_get_SID(header);
    if (*sid_out == nullptr) upnp_log_impl(LOG_LEVEL_WARNING, LOG_EVENTING, function, "Event with empty SID:\n%s", header);
  }
  upnp_free_impl(header);
  return 0;
}

bool empty(const char *text) { return text == nullptr || text[0] == '\0'; }

int missing(const char *function) {
  upnp_log_impl(LOG_LEVEL_WARNING, LOG_EVENTING, function, "NULL or empty parameter");
  return 2;
}

}  // namespace

extern "C" int upnp_cp_subscribe(const char *event_url, const char *base_url, const char *callback_interface,
                                 char **sid_out, int64_t *timeout_inout) {
  if (sid_out != nullptr) *sid_out = nullptr;
  if (empty(event_url) || empty(base_url) || empty(callback_interface) || sid_out == nullptr) return missing(__func__);
  return handle_connection(kSubscribe, event_url, base_url, callback_interface, nullptr, sid_out, timeout_inout);
}

extern "C" int upnp_cp_resubscribe(const char *event_url, const char *base_url, const char *sid,
                                   int64_t *timeout_inout) {
  if (empty(event_url) || empty(base_url) || empty(sid)) return missing(__func__);
  return handle_connection(kRenew, event_url, base_url, nullptr, sid, nullptr, timeout_inout);
}

extern "C" int upnp_cp_unsubscribe(const char *event_url, const char *base_url, const char *sid) {
  if (empty(event_url) || empty(base_url) || empty(sid)) return missing(__func__);
  return handle_connection(kCancel, event_url, base_url, nullptr, sid, nullptr, nullptr);
}
