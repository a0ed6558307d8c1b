// The RPC request handler: reads the raw target once, checks Host, Origin,
// body size and client, and runs the command named by the path segment
// after "/nmc/rpc/" (matched whole; the query never selects a command).
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>

#include "base/upnp_log.h"
#include "http/http_parse.h"
#include "webapi/webapi_across.h"
#include "webapi/webapi_internal.h"
#include "webapi/webapi_refusal.h"

namespace {

struct command_entry {
  const char *name;
  int (*run)(webapi_call &call);
  bool changes_state;
  bool admin;  // log and upload: may be limited to loopback clients
};

int dtcp(webapi_call &call) { return send_error_message(call, WEBAPI_NOT_SUPPORTED); }

const command_entry kCommands[] = {
    {"dtcp_content_upload", dtcp, true, false},
    {"dtcp_get_capabilities", dtcp, false, false},
    {"log_getfile", webapi_cmd_log, false, true},
    {"log_clear", webapi_cmd_log, true, true},
    {"log_set", webapi_cmd_log, true, true},
    {"log_disable", webapi_cmd_log, true, true},
    {"can_play", webapi_cmd_can_play, false, false},
    {"get_nmc_version", webapi_cmd_get_nmc_version, false, false},
    {"get_nmc_mode", webapi_cmd_get_nmc_mode, false, false},
    {"get_events", webapi_cmd_get_events, false, false},
    {"beam", webapi_cmd_beam, true, false},
    {"get_status", webapi_cmd_status, false, false},
    {"status", webapi_cmd_status, false, false},
    {"search", webapi_cmd_search, false, false},
    {"upload", webapi_cmd_upload, true, true},
    {"help", webapi_cmd_help, false, false},
};

// Renderer commands that only read.
const char *const kRendererReads[] = {"get_playindex", "get_state", "get_mute", "get_volume_percent",
                                      "get_volume_db_range", "get_volume_db", "get_seek_capabilities",
                                      "get_sink_formats"};

// Time a command's whole body may take to arrive (a slow sender cannot
// hold the thread); set by tests, read by request threads.
std::atomic<unsigned> g_body_deadline_ms{10000};

// Reads (and drops) a command's body, which the server left unread (the
// handler is registered without one). 0 when read whole or none came; else
// the error: above the bound (413), chunked or too slow (400).
int read_command_body(HTTP_connection *connection) {
  if (connection->body) return connection->length <= WEBAPI_MAX_COMMAND_BODY ? 0 : WEBAPI_BODY_TOO_LARGE;
  if (HTTP_parse_header_chunked(connection->header)) return WEBAPI_BAD_REQUEST;
  const int64_t announced = HTTP_parse_header_size(connection->header);
  if (announced <= 0) return 0;
  if (announced > WEBAPI_MAX_COMMAND_BODY) return WEBAPI_BODY_TOO_LARGE;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(g_body_deadline_ms.load());
  char buffer[4096];
  int64_t left = announced;
  while (left > 0) {
    auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return WEBAPI_BAD_REQUEST;
    pollfd p{connection->socket, POLLIN, 0};
    int wait = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count());
    if (poll(&p, 1, wait < 1 ? 1 : wait) <= 0) continue;
    ssize_t n = recv(connection->socket, buffer, static_cast<size_t>(std::min<int64_t>(left, sizeof buffer)), 0);
    if (n <= 0) return WEBAPI_BAD_REQUEST;
    left -= n;
  }
  connection->length = announced;
  return 0;
}

}  // namespace

void webapi_set_body_deadline_ms(unsigned milliseconds) { g_body_deadline_ms.store(milliseconds); }

bool webapi_command_changes_state(const std::string &command) {
  for (const command_entry &c : kCommands) {
    if (command == c.name) return c.changes_state;
  }
  for (const char *read : kRendererReads) {
    if (command == read) return false;
  }
  if (webapi_across_is_read(command)) return false;
  return true;  // the renderer and queue commands that act
}

int rpcRequestHandler(HTTP_connection *connection) {
  if (!connection) return 1;
  HTTP_set_no_cache(connection);
  webapi_refusal_clear();
  webapi_call call;
  call.connection = connection;
  std::string target;
  if (!webapi_raw_target(connection, &target) || webapi_check_host(connection, target) != 0) {
    upnp_log_impl(LOG_LEVEL_WARNING, LOG_HTTP, __func__, "rpc request refused (target or Host) from %s",
                  connection->peer_address);
    return send_error_message(call, WEBAPI_BAD_REQUEST);
  }
  if (!webapi_parse_target(target, &call)) return send_error_message(call, WEBAPI_BAD_REQUEST);
  if (call.callback_given && !call.callback_valid) return send_error_message(call, WEBAPI_INVALID_ARGS);
  // The handler reads bodies itself: an upload streams its body to disk,
  // any other command's body is read (and dropped) up to its bound.
  if (call.command != "upload") {
    int refused = read_command_body(connection);
    if (refused != 0) {
      connection->close = 1;
      return send_error_message(call, refused);
    }
  }
  if (webapi_command_changes_state(call.command) && !webapi_origin_allowed(connection)) {
    upnp_log_impl(LOG_LEVEL_WARNING, LOG_HTTP, __func__, "rpc %s refused: foreign origin", call.command.c_str());
    return send_error_message(call, WEBAPI_FORBIDDEN);
  }
  for (const command_entry &c : kCommands) {
    if (call.command != c.name) continue;
    if (c.admin && webapi_admin_loopback_only() && !webapi_client_is_loopback(connection)) {
      return send_error_message(call, WEBAPI_FORBIDDEN);
    }
    return c.run(call);
  }
  bool across = false;
  int across_result = webapi_across_command(call, &across);
  if (across) return across_result;
  bool handled = false;
  int result = webapi_renderer_command(call, &handled);
  if (handled) return result;
  return webapi_cmd_help(call);
}
