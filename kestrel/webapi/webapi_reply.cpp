// Replies of the RPC commands: plain values, JSONP wrapping with a checked
// callback name and JavaScript string escaping, and the error table's
// answers. Every reply carries the hardening headers.
#include <sys/socket.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "base/upnp_log.h"
#include "base/upnp_socket.h"
#include "webapi/webapi_internal.h"
#include "webapi/webapi_refusal.h"

namespace {

const char kTextType[] = "text/plain; charset=utf-8";
// A JSONP reply is a script: with nosniff a browser runs it only under a
// JavaScript type.
const char kScriptType[] = "application/javascript; charset=utf-8";
const char kHardening[] =
    "X-Content-Type-Options: nosniff\r\n"
    "Content-Security-Policy: sandbox; default-src 'none'; frame-ancestors 'none'\r\n";

bool send_all(int socket, const char *data, size_t size) {
  size_t at = 0;
  while (at < size) {
    ssize_t n = upnp_send(socket, data + at, size - at, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    at += static_cast<size_t>(n);
  }
  return true;
}

std::string wrap(const webapi_call &call, const std::string &text) {
  return call.callback + "(\"" + webapi_js_escape(text) + "\");";
}

}  // namespace

bool webapi_callback_name_ok(const std::string &name) {
  if (name.empty() || name.size() > WEBAPI_MAX_CALLBACK) return false;
  unsigned char first = static_cast<unsigned char>(name[0]);
  if (first >= '0' && first <= '9') return false;
  if (first == '.' || name.back() == '.') return false;
  for (size_t i = 0; i < name.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(name[i]);
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '$' ||
              c == '.';
    if (!ok) return false;
    if (c == '.' && name[i + 1] == '.') return false;
  }
  return true;
}

std::string webapi_js_escape(const std::string &text) {
  std::string out;
  out.reserve(text.size() + 16);
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '\\' || c == '"' || c == '\'') {
      out.push_back('\\');
      out.push_back(static_cast<char>(c));
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c < 0x20 || c == 0x7f) {
      char buffer[8];
      std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
      out += buffer;
    } else if (c == 0xE2 && i + 2 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0x80 &&
               (static_cast<unsigned char>(text[i + 2]) == 0xA8 || static_cast<unsigned char>(text[i + 2]) == 0xA9)) {
      out += static_cast<unsigned char>(text[i + 2]) == 0xA8 ? "\\u2028" : "\\u2029";
      i += 2;
    } else if (c == '<' && i + 1 < text.size() && text[i + 1] == '/') {
      out += "<\\/";
      ++i;
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
  return out;
}

int webapi_send_body(webapi_call &call, int status, const char *content_type, const std::string &body) {
  return webapi_send_body(call, status, content_type, body.data(), body.size());
}

int webapi_send_body(webapi_call &call, int status, const char *content_type, const char *body, size_t size) {
  HTTP_connection *c = call.connection;
  if (!c) return 1;
  HTTP_add_header(c, kHardening);
  // A device's refusal the request met is named beside the fixed body.
  const std::string refusal = webapi_refusal_take();
  if (!refusal.empty()) HTTP_add_header(c, ("X-NMC-Error: " + refusal + "\r\n").c_str());
  c->content_type = content_type;
  c->length = static_cast<int64_t>(size);
  if (status == 200) return HTTP_send(c, body);
  if (HTTP_send_header(c, status) != 0) return 1;
  if (c->request_type == 2) return 0;  // HEAD
  return send_all(c->socket, body, size) ? 0 : 1;
}

int send_error_message(webapi_call &call, int code) {
  const webapi_error_entry *entry = webapi_find_error(code);
  if (call.callback_valid) {
    // The message is a fixed text of the table; the bound keeps the old
    // 128-byte form.
    std::string body = wrap(call, entry->message);
    if (body.size() > 128) body = call.callback + "(\"\");";
    return webapi_send_body(call, static_cast<int>(entry->status), kScriptType, body);
  }
  return webapi_send_body(call, static_cast<int>(entry->status), kTextType, entry->message);
}

int send_valid(webapi_call &call, const char *text) {
  if (!text) return send_error_message(call, WEBAPI_INVALID_ARGS);
  if (call.callback_valid) return webapi_send_body(call, 200, kScriptType, wrap(call, text));
  return webapi_send_body(call, 200, kTextType, text);
}

int send_valid_upnpString(webapi_call &call, const std::string &text, bool json) {
  bool is_json = json || (!text.empty() && text.front() == '{' && text.back() == '}');
  if (!call.callback_valid) return webapi_send_body(call, 200, kTextType, text);
  std::string body;
  if (is_json) {
    // JSON is already a JavaScript expression; only the line separators
    // and "</" need escaping inside its strings.
    std::string safe;
    safe.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
      unsigned char c = static_cast<unsigned char>(text[i]);
      if (c == 0xE2 && i + 2 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0x80 &&
          (static_cast<unsigned char>(text[i + 2]) == 0xA8 || static_cast<unsigned char>(text[i + 2]) == 0xA9)) {
        safe += static_cast<unsigned char>(text[i + 2]) == 0xA8 ? "\\u2028" : "\\u2029";
        i += 2;
      } else if (c == '<' && i + 1 < text.size() && text[i + 1] == '/') {
        safe += "<\\/";
        ++i;
      } else {
        safe.push_back(static_cast<char>(c));
      }
    }
    body = call.callback + "(" + safe + ");";
  } else {
    body = wrap(call, text);
  }
  return webapi_send_body(call, 200, kScriptType, body);
}
