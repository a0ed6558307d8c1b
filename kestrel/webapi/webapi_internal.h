#ifndef KESTREL_WEBAPI_WEBAPI_INTERNAL_H
#define KESTREL_WEBAPI_WEBAPI_INTERNAL_H

/* The web API's RPC side: one request parsed once into a call record
 * (command segment and decoded parameters), the reply functions over the
 * error table, and the command functions the dispatcher picks. */

#include <stdint.h>

#include <string>
#include <utility>
#include <vector>

#include "http/http_server.h"
#include "nmc/lm_nmc.h"

/* Codes of the error table (g_ErrorMessages). */
enum webapi_error {
  WEBAPI_INVALID_ARGS = -1,
  WEBAPI_CREATE_CONTEXT = -2,
  WEBAPI_DELETE_CONTEXT = -3,
  WEBAPI_BOOKMARK_NOT_FOUND = -4,
  WEBAPI_ACTION_FAILED = -5,
  WEBAPI_OUT_OF_MEMORY = -6,
  WEBAPI_AUTH_TOKEN = -7,
  WEBAPI_INTERNAL = -8,
  WEBAPI_SEARCH_FAILED = -9,
  WEBAPI_UPLOAD_BUSY = -10,
  /* Refusals of the request itself (foreign Host or Origin, a target that
   * cannot be read, a body above the bound, a client that may not use a
   * command). */
  WEBAPI_BAD_REQUEST = -11,
  WEBAPI_BODY_TOO_LARGE = -12,
  WEBAPI_FORBIDDEN = -13,
  WEBAPI_NOT_SUPPORTED = -14,
  WEBAPI_OK = 200,
};

struct webapi_error_entry {
  int32_t code;
  uint32_t status;
  const char *message;
};
extern const webapi_error_entry g_ErrorMessages[];
const webapi_error_entry *webapi_find_error(int code);

/* Longest request target read (so that 2,048-byte bookmarks fit escaped). */
#define WEBAPI_MAX_TARGET 8192
/* Longest body of a command other than an upload. */
#define WEBAPI_MAX_COMMAND_BODY (64 * 1024)
/* Longest JSONP callback name. */
#define WEBAPI_MAX_CALLBACK 128

/* One request: the command segment and the query, each name and value
 * decoded exactly once. */
struct webapi_call {
  HTTP_connection *connection = nullptr;
  std::string command;
  std::vector<std::pair<std::string, std::string>> params;
  bool callback_given = false;  // a callback parameter was sent
  bool callback_valid = false;  // ... and it is a plain JavaScript name
  std::string callback;
};

/* Splits a raw request target ("/nmc/rpc/get_state?renderer=..."), in
 * origin form or absolute form. false when it is malformed (bad escape, no
 * "/nmc/rpc" path, an embedded zero). */
bool webapi_parse_target(const std::string &target, webapi_call *call);
/* The raw request target from the request line kept in the header; false
 * when the line does not end within what the server kept. */
bool webapi_raw_target(const HTTP_connection *connection, std::string *target);
/* Percent and "+" decoding; false on a bad escape or a decoded zero byte. */
bool webapi_url_decode(const std::string &in, std::string *out);

/* Parameter functions: a name matches whole ("renderer" or "renderer="). */
bool get_param(const webapi_call &call, const char *name, std::string *value);
/* All-ones (-1) when missing, as the old callers expect; see the strict
 * form below for numbers that must be there. */
int32_t get_int_param(const webapi_call &call, const char *name);
int64_t get_int64_param(const webapi_call &call, const char *name);
/* Strict numbers: false when missing or not a whole decimal number. */
bool webapi_number(const webapi_call &call, const char *name, int64_t minimum, int64_t maximum, int64_t *value);

/* Whether a callback name is a plain JavaScript name. */
bool webapi_callback_name_ok(const std::string &name);
/* Escapes a text for a JavaScript string in double quotes. */
std::string webapi_js_escape(const std::string &text);

/* Replies; each returns what the send returned. */
int send_valid(webapi_call &call, const char *text);
int send_valid_upnpString(webapi_call &call, const std::string &text, bool json);
int send_error_message(webapi_call &call, int code);
/* A reply with content type and status, the hardening headers added. */
int webapi_send_body(webapi_call &call, int status, const char *content_type, const std::string &body);
/* The same for `size` bytes at `body` (a feed is sent from where it was
 * written, not copied). */
int webapi_send_body(webapi_call &call, int status, const char *content_type, const char *body, size_t size);

/* Hardening checks of a request before any command runs; 0 when it may
 * proceed, else the error code to answer. */
int webapi_check_host(const HTTP_connection *connection, const std::string &target);
bool webapi_origin_allowed(const HTTP_connection *connection);
bool webapi_client_is_loopback(const HTTP_connection *connection);
/* The field value of a request header (case-insensitive name); false when
 * absent. */
bool webapi_header_field(const HTTP_connection *connection, const char *name, std::string *value);

/* Settings. */
/* Time a command's body may take to arrive (default 10 s). */
void webapi_set_body_deadline_ms(unsigned milliseconds);
void webapi_set_admin_loopback_only(bool on);
bool webapi_admin_loopback_only(void);

/* Commands. */
int webapi_renderer_command(webapi_call &call, bool *handled);
int webapi_cmd_can_play(webapi_call &call);
int webapi_cmd_get_nmc_version(webapi_call &call);
int webapi_cmd_get_nmc_mode(webapi_call &call);
int webapi_cmd_beam(webapi_call &call);
int webapi_cmd_status(webapi_call &call);
int webapi_cmd_get_events(webapi_call &call);
int webapi_cmd_log(webapi_call &call);
int webapi_cmd_search(webapi_call &call);
int webapi_cmd_upload(webapi_call &call);
int webapi_cmd_help(webapi_call &call);
/* The upload's data callback (see webapi_upload_link.h) and its size
 * bound in MiB. */
int rpc_upload_callback(uint32_t context, void **user_data, uint32_t size, char *buffer, uint32_t *length);
void webapi_set_max_upload_mb(int megabytes);
/* Whether a command changes state (refused from a foreign Origin). */
bool webapi_command_changes_state(const std::string &command);

/* The request handler and the event-log callbacks. */
int rpcRequestHandler(HTTP_connection *connection);
void serverListEventCallback(uint32_t context, uint32_t code, const char *text);
void rendererListEventCallback(uint32_t context, uint32_t code, const char *text);
/* The newest lines after `eventid` as the get_events reply text. */
std::string webapi_events_since(int64_t eventid);
void webapi_event_log_reset(void);
void webapi_event_log_release(void);
void upnp_nmc_http_rpc_lock(void);
void upnp_nmc_http_rpc_unlock(void);

#endif
