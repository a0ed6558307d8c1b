// The log commands: fetch, clear, switch off and on, set level and sources.
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "base/upnp_fd.h"
#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "base/upnp_socket.h"
#include "webapi/webapi_internal.h"

namespace {

// The log file remembered by "log_disable mode=1" for "mode=0"; requests
// come on several threads.
std::mutex g_remembered_mutex;
std::string g_remembered;

int log_getfile(webapi_call &call) {
  char *name = upnp_log_get_filename();
  if (!name) return HTTP_send_file_not_found(call.connection);
  upnp_log_flush();
  FILE *file = upnp_fopen(name, "rb");
  upnp_free_impl(name);
  struct stat st;
  if (!file || fstat(fileno(file), &st) != 0) {
    if (file) std::fclose(file);
    return HTTP_send_file_not_found(call.connection);
  }
  // The log grows while it is read: the size it has now is sent, in blocks.
  HTTP_connection *c = call.connection;
  HTTP_add_header(c, "X-Content-Type-Options: nosniff\r\n");
  c->content_type = "text/plain";
  c->length = static_cast<int64_t>(st.st_size);
  int result = HTTP_send_header(c, 200);
  char block[8192];
  int64_t left = st.st_size;
  while (result == 0 && left > 0) {
    size_t n = std::fread(block, 1, static_cast<size_t>(std::min<int64_t>(left, sizeof block)), file);
    if (n == 0) std::memset(block, ' ', n = static_cast<size_t>(std::min<int64_t>(left, sizeof block)));
    size_t at = 0;
    while (at < n) {
      ssize_t sent = upnp_send(c->socket, block + at, n - at, 0);
      if (sent < 0 && errno == EINTR) continue;
      if (sent <= 0) {
        result = 1;
        break;
      }
      at += static_cast<size_t>(sent);
    }
    left -= static_cast<int64_t>(n);
  }
  std::fclose(file);
  return result;
}

int log_set(webapi_call &call) {
  int64_t sources = 0;
  int64_t level = 0;
  if (!webapi_number(call, "sources", 0, UINT32_MAX, &sources) || !webapi_number(call, "level", 0, 5, &level)) {
    return send_error_message(call, WEBAPI_INVALID_ARGS);
  }
  upnp_log_set_sources(static_cast<unsigned int>(sources));
  upnp_log_set_level(static_cast<int>(level));
  char text[64];
  std::snprintf(text, sizeof text, "sources: %d / level: %d\n", static_cast<int>(sources), static_cast<int>(level));
  return webapi_send_body(call, 200, HTTP_HTML_CONTENT_TYPE, text);
}

int log_clear(webapi_call &call) {
  upnp_log_clear();
  return webapi_send_body(call, 200, HTTP_HTML_CONTENT_TYPE, "logfile cleared!\n");
}

int log_disable(webapi_call &call) {
  int64_t mode = -1;
  if (!webapi_number(call, "mode", 0, 1, &mode)) return HTTP_send_file_not_found(call.connection);
  std::lock_guard<std::mutex> hold(g_remembered_mutex);
  if (mode == 1) {
    char *name = upnp_log_get_filename();
    if (!name || std::strlen(name) > 1023) {
      upnp_free_impl(name);
      return HTTP_send_file_not_found(call.connection);
    }
    g_remembered = name;
    upnp_free_impl(name);
    upnp_log_enable(0);
    return webapi_send_body(call, 200, HTTP_HTML_CONTENT_TYPE, "logfile disabled!\n");
  }
  if (g_remembered.empty()) return HTTP_send_file_not_found(call.connection);
  g_remembered.clear();
  upnp_log_enable(1);
  return webapi_send_body(call, 200, HTTP_HTML_CONTENT_TYPE, "logfile enabled!\n");
}

}  // namespace

int webapi_cmd_log(webapi_call &call) {
  if (call.command == "log_getfile") return log_getfile(call);
  if (call.command == "log_clear") return log_clear(call);
  if (call.command == "log_set") return log_set(call);
  return log_disable(call);
}
