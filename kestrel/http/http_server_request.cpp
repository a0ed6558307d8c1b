// One request of a connection: read and parse the header, decide keep-alive,
// register the client, find the handler, read the body it needs, call it.
#include <strings.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "base/upnp_socket.h"
#include "http/http_client.h"
#include "http/http_io.h"
#include "http/http_methods.h"
#include "http/http_parse.h"
#include "http/http_server_internal.h"

namespace {

const char kContinue[] = "HTTP/1.1 100 Continue\r\nContent-Length: 0\r\n\r\n";
const char kDefaultUrl[] = "";
const char kPostDefaultUrl[] = "/ContentDirectory/Control";

// The request target (second blank-separated word) into path, cut to its
// path for absolute-form targets, percent-decoded; the version from what
// follows it.
void parse_request_line(HTTP_connection *c) {
  const char *line_end = std::strpbrk(c->header, "\r\n");
  size_t line_length = line_end ? static_cast<size_t>(line_end - c->header) : std::strlen(c->header);
  std::string line(c->header, line_length);
  size_t start = line.find(' ');
  std::string target;
  std::string rest;
  if (start != std::string::npos) {
    while (start < line.size() && line[start] == ' ') ++start;
    size_t end = line.find(' ', start);
    target = line.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (end != std::string::npos) rest = line.substr(end);
  }
  if (target.size() > HTTP_SERVER_PATH_SIZE - 1) target.resize(HTTP_SERVER_PATH_SIZE - 1);
  c->version = rest.find("HTTP/1.1") != std::string::npos ? 11 : 10;
  if (strncasecmp(target.c_str(), "http://", 7) == 0) {
    size_t slash = target.find('/', 7);
    target = slash == std::string::npos ? std::string() : target.substr(slash);
  }
  std::snprintf(c->path, sizeof c->path, "%s", target.c_str());
  HTTP_unescape_url(c->path);
  if (c->path[0] == '\0' || std::strcmp(c->path, "/") == 0) {
    std::snprintf(c->path, sizeof c->path, "%s",
                  c->request_type == HTTP_METHOD_POST ? kPostDefaultUrl : kDefaultUrl);
  } else if (std::strcmp(c->path, "/favicon.ico") == 0) {
    std::snprintf(c->path, sizeof c->path, "/images/favicon.ico");
  }
}

// Keep-alive from the version and the Connection field.
int decide_close(const HTTP_connection *c) {
  int close = c->version == 10;
  const char *field = HTTP_find_nocase(c->header, "\nConnection:");
  if (field) {
    const char *value = std::strchr(field + 1, ' ');
    const char *eol = std::strpbrk(field + 1, "\r\n");
    if (value && (!eol || value < eol)) {
      ++value;
      std::string v(value, eol ? static_cast<size_t>(eol - value) : std::strlen(value));
      bool has_close = HTTP_find_nocase(v.c_str(), "close") != nullptr;
      bool has_keep = HTTP_find_nocase(v.c_str(), "Keep-Alive") != nullptr;
      if (has_close && has_keep) {
        // both words: the default stays
      } else if (strncasecmp(v.c_str(), "close", 5) == 0) {
        close = 1;
      } else if (strncasecmp(v.c_str(), "Keep-Alive", 10) == 0) {
        close = 0;
      } else {
        close = 1;
      }
    }
  }
  if (c->version == 10 && !http_client_keeps_1_0_connections(c->client)) close = 1;
  return close;
}

bool announces_body(const char *header) {
  return HTTP_parse_header_chunked(header) || HTTP_parse_header_size(header) > 0;
}

// Reads a chunked body of at most `limit` bytes and its trailer; none when
// it is larger, malformed or the peer stops.
char *read_chunked(int socket, uint64_t limit, uint64_t *length_out) {
  char *out = nullptr;
  if (http_read_chunked_body(socket, limit, &out, length_out) != HTTP_CHUNKED_OK) return nullptr;
  // The trailer: lines up to an empty one.
  http_byte_reader in(socket);
  int state = 0;  // bytes of the current line
  for (int guard = 0; guard < HTTP_SERVER_HEADER_SIZE; ++guard) {
    char ch;
    if (in.next(&ch) != HTTP_READ_OK) break;
    if (ch == '\n') {
      if (state == 0) break;
      state = 0;
    } else if (ch != '\r') {
      ++state;
    }
  }
  return out;
}

}  // namespace

int http_handle_request(int socket, const char *peer, const char *base_url, http_file_cache *cache,
                        const char *peeked, size_t peeked_length) {
  auto *c = static_cast<HTTP_connection *>(upnp_calloc_impl(1, sizeof(HTTP_connection)));
  if (!c) return 1;
  c->socket = socket;
  c->length = 0;
  c->range_start = c->range_end = HTTP_RANGE_NONE;
  std::snprintf(c->peer_address, sizeof c->peer_address, "%s", peer);
  std::snprintf(c->base_url, sizeof c->base_url, "%s", base_url);
  c->file_cache = cache;
  if (http_get_header_peeked(socket, c->header, sizeof c->header, peeked, peeked_length) <= 0) {
    upnp_free_impl(c);
    return 1;
  }
  c->request_type = HTTP_get_method_type(c->header);
  bool body_pending = announces_body(c->header);

  // Bodies above the limit are refused before anything of them is read.
  const uint64_t limit = http_server_max_body();
  const int64_t announced = HTTP_parse_header_size(c->header);
  if (announced > 0 && static_cast<uint64_t>(announced) > limit) {
    parse_request_line(c);
    c->close = 1;
    upnp_log_impl(LOG_LEVEL_WARNING, LOG_HTTP, __func__, "request body of %lld bytes refused",
                  static_cast<long long>(announced));
    HTTP_send_error_code(c, 413);
    upnp_free_impl(c);
    return 1;
  }

  if (c->request_type == HTTP_METHOD_POST && HTTP_find_nocase(c->header, "createobject") &&
      !HTTP_find_nocase(c->header, "100-continue")) {
    parse_request_line(c);
    c->close = body_pending || decide_close(c);
    HTTP_send_error_code(c, 400);
    int result = c->close;
    upnp_free_impl(c);
    return result;
  }
  if (HTTP_find_nocase(c->header, "100-continue") && !HTTP_find_nocase(c->header, "application/x-dtcp1")) {
    http_server_send_all(socket, kContinue, sizeof kContinue - 1);
  }

  parse_request_line(c);
  if (std::strstr(c->header, "DLNADOC/1.50")) {
    c->dlna_version = 15;
  } else if (std::strstr(c->header, "DLNADOC/1.00")) {
    c->dlna_version = 10;
  }
  c->client = http_client_register(c->base_url, c->peer_address, c->header);
  c->close = decide_close(c);

  const char *method = "UNDEFINED";
  for (const HTTP_method_entry *m = HTTP_method_table; m->name; ++m) {
    if (m->type == c->request_type && c->request_type != 0) {
      method = m->name;
      break;
    }
  }
  upnp_log_impl(LOG_LEVEL_DEBUG, LOG_HTTP, __func__, "header = %s", c->header);
  upnp_log_impl(LOG_LEVEL_DEBUG, LOG_HTTP, __func__, "next locate handler for the request (type %d=%s)",
                static_cast<int>(c->request_type), method);

  http_handler_match handler = http_find_handler(c->request_type, c->path);
  const uint32_t t = c->request_type;
  const bool chunked = HTTP_parse_header_chunked(c->header) != 0;
  const bool read_body =
      handler.function && handler.needs_body &&
      (t == HTTP_METHOD_POST || t == HTTP_METHOD_NOTIFY ||
       ((t == HTTP_METHOD_SUBSCRIBE || t == HTTP_METHOD_UNSUBSCRIBE) && chunked));
  // A body nobody reads would be taken for the next request: the reply
  // already says the connection closes.
  if (body_pending && !read_body) c->close = 1;
  int result;
  if (!handler.function) {
    upnp_log_impl(LOG_LEVEL_INFO, LOG_HTTP, __func__, "no handler for this type of request found");
    HTTP_send_file_not_found(c);
    result = 0;
  } else {
    if (read_body) {
      uint64_t length = 0;
      if (chunked) {
        c->body = read_chunked(socket, limit, &length);
        if (!c->body) c->close = 1;  // too large or broken: the rest cannot be framed
      } else if (announced > 0) {
        c->body = HTTP_receive_body_with_length(socket, c->header, &length);
        if (!c->body) c->close = 1;
      }
      c->length = static_cast<int64_t>(length);
      upnp_log_impl(LOG_LEVEL_DEBUG, LOG_HTTP, __func__, "received doc = %s",
                    c->body ? c->body : "- NO BODY RECEIVED -");
    }
    result = handler.function(c);
  }
  if (c->close) result = 1;
  c->socket = -1;
  upnp_free_impl(c->body);
  upnp_free_impl(c);
  return result;
}
