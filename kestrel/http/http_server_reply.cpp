// Replies of the server's handlers: the response header in its templates,
// the reply pages, and the buffer sender with byte ranges.
#include <sys/socket.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>

#include "base/upnp_ini_file.h"
#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "base/upnp_socket.h"
#include "base/upnp_xml_escape.h"
#include "http/http_methods.h"
#include "http/http_parse.h"
#include "http/http_server_internal.h"

namespace {

struct StatusText {
  int code;
  const char *text;
};

constexpr StatusText kStatus[] = {
    {200, "200 OK"},
    {201, "201 Created"},
    {204, "204 No Content"},
    {206, "206 Partial Content"},
    {207, "207 Multi-Status"},
    {400, "400 Bad Request"},
    {401, "401 Unauthorised"},
    {402, "402 Invalid Args"},
    {404, "404 Not Found"},
    {406, "406 Not Acceptable"},
    {409, "409 Conflict"},
    {412, "412 Precondition Failed"},
    // Refusal of request bodies above the server's limit.
    {413, "413 Request Entity Too Large"},
    {416, "416 Requested Range Not Satisfiable"},
    {500, "500 Internal Server Error"},
    {501, "501 Action Failed"},
    {503, "503 Service Unavailable"},
};

struct LanguagePair {
  const char *code;
  const char *name;
};

constexpr LanguagePair kLanguages[] = {{"en", "en"}, {"de", "de"}, {"zh", "chs"}, {"zh", "cht"},
                                       {"es", "es"}, {"fi", "fi"}, {"fr", "fr"},  {"it", "it"},
                                       {"ja", "jp"}, {"ko", "ko"}, {"nl", "nl"}};

constexpr int64_t kCoalesceLimit = 64 * 1024;

const char *const kPageTemplate = "<HTML><HEAD><TITLE>%s %s</TITLE></HEAD><BODY><H1>%s</H1>%s</BODY></HTML>";

std::mutex g_pages_mutex;
char g_not_found_title[64] = "Not Found";
char g_not_found_text[128] = "The requested URL was not found on this server.";
char g_unauthorized_title[64] = "Unauthorized";
char g_unauthorized_text[128] = "Access to this page is restricted.";

void set_text(char *field, size_t size, const char *text) {
  if (!text) return;
  std::snprintf(field, size, "%s", text);
}

std::string gmt_time(time_t t) {
  struct tm tm_utc;
  gmtime_r(&t, &tm_utc);
  char buffer[64];
  std::strftime(buffer, sizeof buffer, "%a, %d %b %Y %H:%M:%S GMT", &tm_utc);
  return buffer;
}

// The decimal number right after `word` in the path, 0 when none.
long number_after(const char *path, const char *word) {
  const char *at = std::strstr(path, word);
  if (!at) return 0;
  at += std::strlen(word);
  if (*at < '0' || *at > '9') return 0;
  return std::strtol(at, nullptr, 10);
}

// Reads the request's byte range into the record.
void parse_range(HTTP_connection *c) {
  c->range_start = c->range_end = HTTP_RANGE_NONE;
  c->time_range = HTTP_find_nocase(c->header, "TimeSeekRange.dlna.org:") != nullptr ||
                  HTTP_find_nocase(c->header, "X-Seek-Range:") != nullptr;
  const char *field = HTTP_find_nocase(c->header, "\nRange:");
  if (!field) field = HTTP_find_nocase(c->header, "\nRange.dtcp.com:");
  if (!field) return;
  field = std::strchr(field, ':') + 1;
  const char *eol = std::strpbrk(field, "\r\n");
  std::string value(field, eol ? static_cast<size_t>(eol - field) : std::strlen(field));
  size_t bytes = value.find("bytes");
  if (bytes == std::string::npos) {
    c->range_start = c->range_end = HTTP_RANGE_MALFORMED;
    return;
  }
  const char *p = value.c_str() + bytes + 5;
  while (*p == ' ') ++p;
  if (*p != '=') {
    c->range_start = c->range_end = HTTP_RANGE_MALFORMED;
    return;
  }
  ++p;
  while (*p == ' ') ++p;
  if (*p < '0' || *p > '9') {
    c->range_start = c->range_end = HTTP_RANGE_MALFORMED;
    return;
  }
  char *end = nullptr;
  errno = 0;
  long long start = std::strtoll(p, &end, 10);
  p = end;
  while (*p == ' ') ++p;
  if (*p != '-' || errno == ERANGE) {
    c->range_start = c->range_end = HTTP_RANGE_MALFORMED;
    return;
  }
  ++p;
  while (*p == ' ') ++p;
  long long last = -1;
  if (*p >= '0' && *p <= '9') {
    last = std::strtoll(p, &end, 10);
    if (errno == ERANGE) {
      c->range_start = c->range_end = HTTP_RANGE_MALFORMED;
      return;
    }
  }
  c->range_start = start;
  c->range_end = last;
}

bool build_header(HTTP_connection *c, int status, std::string &out);

int send_text_page(HTTP_connection *c, int status, const std::string &page) {
  c->content_type = HTTP_HTML_CONTENT_TYPE;
  c->length = static_cast<int64_t>(page.size());
  std::string out;
  if (!build_header(c, status, out)) return 1;
  if (c->request_type != HTTP_METHOD_HEAD) out += page;
  return http_server_send_all(c->socket, out.data(), out.size()) ? 0 : 1;
}

std::string page(const char *code, const char *title, const char *text) {
  char buffer[1024];
  std::snprintf(buffer, sizeof buffer, kPageTemplate, code, title, title, text);
  return buffer;
}

}  // namespace

bool http_server_send_all(int socket, const char *data, size_t length) {
  while (length > 0) {
    ssize_t n = upnp_send(socket, data, length, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      upnp_log_impl(LOG_LEVEL_WARNING, LOG_HTTP, "HTTP_send", "socket error %s", getLastSocketError());
      return false;
    }
    data += n;
    length -= static_cast<size_t>(n);
  }
  return true;
}

extern "C" const char *HTTP_status_text(int status) {
  for (const StatusText &s : kStatus) {
    if (s.code == status) return s.text;
  }
  return "200 OK";
}

extern "C" const char *HTTP_content_language(const char *language) {
  if (!language) return "*";
  for (const LanguagePair &p : kLanguages) {
    if (std::strcmp(language, p.code) == 0 || std::strcmp(language, p.name) == 0) return p.code;
  }
  return "*";
}

namespace {

// The response header for status into out; false when there is no
// connection.
bool build_header(HTTP_connection *c, int status, std::string &out) {
  if (!c || c->socket < 0) return false;
  const bool old_client = c->version == 10 && http_client_needs_1_0_response(c->client);
  if (old_client && status == 416) {
    status = 404;
    c->close = 1;
  }
  std::string status_line = std::string(old_client ? "HTTP/1.0 " : "HTTP/1.1 ") + HTTP_status_text(status);
  if (status >= 400 && !c->content_type) c->content_type = HTTP_HTML_CONTENT_TYPE;
  std::string type;
  if (!c->content_type) {
    upnp_log_impl(LOG_LEVEL_WARNING, LOG_HTTP, __func__, "NO MIME TYPE given!\n    %s", c->header);
    type = "application/octet-stream";
  } else {
    type = c->content_type;
  }
  if (type == "audio/L16") {
    char rate[64];
    std::snprintf(rate, sizeof rate, ";rate=%ld;channels=%ld", number_after(c->path, "rate"),
                  number_after(c->path, "channels"));
    type += rate;
  }
  std::string language;
  if (HTTP_find_nocase(c->header, "Accept-Language:")) {
    language = std::string("Content-Language: ") + HTTP_content_language(upnp_ini_file_getString(INI_LANGUAGE)) +
               "\r\n";
  }
  const char *chunked = c->chunked ? "Transfer-Encoding: chunked\r\n" : "";
  out.reserve(512 + std::strlen(c->extra_headers));
  if (c->length < 0) {
    if (!c->chunked) status_line.replace(0, 8, "HTTP/1.0");
    c->close = 1;
    out = status_line + "\r\nContent-Type: " + type + "\r\n" + language + "Connection: close\r\n" + chunked +
          c->extra_headers + "\r\n";
  } else {
    std::string length;
    if (!c->chunked) length = "Content-Length: " + std::to_string(c->length) + "\r\n";
    if (http_client_keeps_1_0_connections(c->client) && HTTP_find_nocase(c->header, "redsonic")) {
      status_line.replace(0, 8, "HTTP/1.0");
      out = status_line + "\r\nContent-Type: " + type + "\r\n" + length + language +
            "Accept-Range: 0 bytes\r\nUser-Agent: redsonic\r\n\r\n";
    } else {
      std::string modified;
      if (c->file_cache && c->file_cache->modified) {
        modified = "Last-Modified: " + gmt_time(c->file_cache->modified) + "\r\n";
      }
      std::string range;
      if (status == 206) {
        char line[128];
        std::snprintf(line, sizeof line, "Content-Range: bytes %" PRId64 "-%" PRId64 "/%" PRId64 "\r\n",
                      c->range_start, c->range_end, c->total_length);
        range = line;
      }
      out = status_line + "\r\nContent-Type: " + type + "\r\n" + chunked + language + length +
            "Date: " + gmt_time(std::time(nullptr)) + "\r\nPragma: no-cache\r\nCache-control: no-cache\r\n" +
            modified + "Accept-Ranges: bytes\r\nConnection: " + (c->close ? "close" : "keep-alive") + "\r\n" +
            range + c->extra_headers + "EXT:\r\nServer: " HTTP_SERVER_TEXT "\r\n\r\n";
    }
  }
  upnp_log_impl(LOG_LEVEL_DEBUG, LOG_HTTP, "HTTP_send_header", "sending %s", out.c_str());
  return true;
}

}  // namespace

extern "C" int HTTP_send_header(HTTP_connection *c, int status) {
  std::string out;
  if (!build_header(c, status, out)) return 1;
  return http_server_send_all(c->socket, out.data(), out.size()) ? 0 : 1;
}

extern "C" int HTTP_send(HTTP_connection *c, const char *buffer) {
  if (!c || c->socket < 0 || (!buffer && c->length > 0)) return 1;
  parse_range(c);
  const int64_t length = c->length < 0 ? 0 : c->length;
  c->total_length = length;
  int status = 0;
  if (c->range_start == HTTP_RANGE_MALFORMED) {
    status = 400;
  } else if (c->range_start == HTTP_RANGE_NOT_ACCEPTABLE) {
    status = 406;
  } else if (c->time_range) {
    status = 400;
  } else if (c->range_start >= 0 &&
             ((c->range_end >= 0 && c->range_start > c->range_end) || c->range_start >= length ||
              c->range_end > length)) {
    status = 416;
  }
  if (status) {
    c->range_start = c->range_end = HTTP_RANGE_NONE;
    return HTTP_send_error_code(c, status);
  }
  const char *from = buffer;
  if (c->range_start >= 0) {
    if (c->range_end < 0 || c->range_end >= length) c->range_end = length - 1;
    c->length = c->range_end - c->range_start + 1;
    from = buffer + c->range_start;
    status = 206;
  } else {
    status = 200;
  }
  std::string out;
  if (!build_header(c, status, out)) return 1;
  if (c->request_type == HTTP_METHOD_HEAD || c->length <= 0) {
    return http_server_send_all(c->socket, out.data(), out.size()) ? 0 : 1;
  }
  // Small replies go out in one piece with their header.
  if (c->length <= kCoalesceLimit) {
    out.append(from, static_cast<size_t>(c->length));
    return http_server_send_all(c->socket, out.data(), out.size()) ? 0 : 1;
  }
  if (!http_server_send_all(c->socket, out.data(), out.size())) return 1;
  return http_server_send_all(c->socket, from, static_cast<size_t>(c->length)) ? 0 : 1;
}

extern "C" int HTTP_send_error_code(HTTP_connection *c, int status) {
  if (!c) return 1;
  c->length = 0;
  return HTTP_send_header(c, status);
}

extern "C" int HTTP_send_error_message(HTTP_connection *c, int status, const char *text) {
  if (!c) return 1;
  return send_text_page(c, status, text ? text : "");
}

extern "C" int HTTP_send_file_not_found(HTTP_connection *c) {
  if (!c) return 1;
  std::string p;
  {
    std::lock_guard<std::mutex> hold(g_pages_mutex);
    p = page("404", g_not_found_title, g_not_found_text);
  }
  return send_text_page(c, 404, p);
}

extern "C" int HTTP_send_unauthorized(HTTP_connection *c) {
  if (!c) return 1;
  std::string p;
  {
    std::lock_guard<std::mutex> hold(g_pages_mutex);
    p = page("401", g_unauthorized_title, g_unauthorized_text);
  }
  return send_text_page(c, 401, p);
}

extern "C" int HTTP_send_service_unavailable(HTTP_connection *c, const char *explanation) {
  if (!c) return 1;
  // The path comes from the peer: escaped, so it cannot add markup.
  char *path = upnp_xml_escape_cond(c->path, 0);
  char buffer[1024];
  std::snprintf(buffer, sizeof buffer,
                "<HTML><HEAD><TITLE>503 Service Unavailable</TITLE></HEAD><BODY><H1>Service Unavailable</H1>"
                "Server can't provide %s resource now.<br>%s</HTML>",
                path ? path : "", explanation ? explanation : "");
  upnp_free_impl(path);
  return send_text_page(c, 503, buffer);
}

extern "C" int HTTP_add_header(HTTP_connection *c, const char *lines) {
  if (!c || !lines) return 1;
  size_t have = std::strlen(c->extra_headers);
  size_t add = std::strlen(lines);
  if (have + add > HTTP_SERVER_EXTRA_HEADERS_SIZE - 1) {
    upnp_log_impl(LOG_LEVEL_WARNING, LOG_HTTP, __func__, "extra reply headers too long, dropped: %s", lines);
    return 1;
  }
  std::memcpy(c->extra_headers + have, lines, add + 1);
  return 0;
}

extern "C" void HTTP_set_no_cache(HTTP_connection *c) {
  if (!c || c->no_cache) return;
  c->no_cache = 1;
  HTTP_add_header(c, "Expires: 0\r\nPragma: no-cache\r\nCache-Control: no-cache\r\n");
}

extern "C" void HTTP_set_file_not_found_message(const char *title, const char *text) {
  std::lock_guard<std::mutex> hold(g_pages_mutex);
  set_text(g_not_found_title, sizeof g_not_found_title, title);
  set_text(g_not_found_text, sizeof g_not_found_text, text);
}

extern "C" void HTTP_set_access_restriced_message(const char *title, const char *text) {
  std::lock_guard<std::mutex> hold(g_pages_mutex);
  set_text(g_unauthorized_title, sizeof g_unauthorized_title, title);
  set_text(g_unauthorized_text, sizeof g_unauthorized_text, text);
}
