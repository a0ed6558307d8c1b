// Serving the local files the queue shared, by token, with byte ranges.
#include "webapi/webapi_local_files.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <random>
#include <string>

#include "base/upnp_log.h"
#include "base/upnp_socket.h"
#include "http/http_mime.h"
#include "http/http_server.h"
#include "webapi/webapi_internal.h"

namespace {

// Token to path; shared by the queue's threads and the server's.
std::mutex g_shares_mutex;
std::map<std::string, std::string> g_shares;

bool new_token(std::string *token) {
  try {
    std::random_device random;  // the system's random source
    char text[WEBAPI_SHARE_TOKEN_SIZE];
    for (int i = 0; i < 4; ++i) std::snprintf(text + 8 * i, 9, "%08x", static_cast<unsigned>(random()));
    *token = text;
    return true;
  } catch (...) {
    return false;
  }
}

std::string path_of(const char *path) {
  std::string p = path;
  if (p.compare(0, 7, "file://") == 0) {
    std::string decoded;
    if (!webapi_url_decode(p.substr(7), &decoded)) return "";
    p = decoded;
    if (p.compare(0, 9, "localhost") == 0) p.erase(0, 9);
  }
  return !p.empty() && p[0] == '/' ? p : "";
}

bool send_all(int socket, const char *data, size_t size) {
  while (size > 0) {
    ssize_t n = upnp_send(socket, data, size, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// "bytes=A-B", "bytes=A-" or "bytes=-N" against the size: false when the
// field is there but cannot be satisfied.
bool byte_range(const HTTP_connection *c, int64_t size, int64_t *first, int64_t *last, bool *partial) {
  *partial = false;
  *first = 0;
  *last = size - 1;
  std::string value;
  if (!webapi_header_field(c, "Range", &value)) return true;
  if (value.compare(0, 6, "bytes=") != 0 || value.find(',') != std::string::npos) return false;
  std::string spec = value.substr(6);
  size_t dash = spec.find('-');
  if (dash == std::string::npos) return false;
  std::string a = spec.substr(0, dash);
  std::string b = spec.substr(dash + 1);
  auto digits = [](const std::string &t) {
    return !t.empty() && t.size() < 19 && t.find_first_not_of("0123456789") == std::string::npos;
  };
  if (a.empty()) {
    if (!digits(b)) return false;
    int64_t n = std::strtoll(b.c_str(), nullptr, 10);
    if (n <= 0 || size == 0) return false;
    *first = n >= size ? 0 : size - n;
  } else {
    if (!digits(a) || (!b.empty() && !digits(b))) return false;
    *first = std::strtoll(a.c_str(), nullptr, 10);
    if (!b.empty()) *last = std::min<int64_t>(std::strtoll(b.c_str(), nullptr, 10), size - 1);
    if (*first >= size || *first > *last) return false;
  }
  *partial = true;
  return true;
}

int localFileRequestHandler(HTTP_connection *c) {
  std::string target;
  if (!webapi_raw_target(c, &target)) return HTTP_send_file_not_found(c);
  size_t question = target.find('?');
  std::string token = question == std::string::npos ? "" : target.substr(question + 1);
  std::string path;
  {
    std::lock_guard<std::mutex> hold(g_shares_mutex);
    auto found = g_shares.find(token);
    if (found != g_shares.end()) path = found->second;
  }
  if (path.empty()) return HTTP_send_file_not_found(c);
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    if (fd >= 0) close(fd);
    return HTTP_send_file_not_found(c);
  }
  const int64_t size = st.st_size;
  int64_t first = 0;
  int64_t last = 0;
  bool partial = false;
  if (!byte_range(c, size, &first, &last, &partial)) {
    close(fd);
    return HTTP_send_error_code(c, 416);
  }
  c->content_type = HTTP_get_mime_type(c, HTTP_get_extension(path.c_str()));
  c->length = size == 0 ? 0 : last - first + 1;
  c->range_start = first;
  c->range_end = last;
  c->total_length = size;
  HTTP_add_header(c, "X-Content-Type-Options: nosniff\r\n");
  int result = HTTP_send_header(c, partial ? 206 : 200);
  if (result == 0 && c->request_type != 2) {
    char block[65536];
    int64_t at = first;
    while (at <= last && size > 0) {
      size_t want = static_cast<size_t>(std::min<int64_t>(sizeof block, last - at + 1));
      ssize_t n = pread(fd, block, want, at);
      if (n <= 0 || !send_all(c->socket, block, static_cast<size_t>(n))) {
        c->close = 1;  // the length was promised: the connection cannot go on
        result = 1;
        break;
      }
      at += n;
    }
  }
  close(fd);
  return result;
}

}  // namespace

int webapi_local_file_share(const char *path, char *token, size_t token_size) {
  if (!path || !token || token_size < WEBAPI_SHARE_TOKEN_SIZE) return 1;
  token[0] = '\0';
  std::string file = path_of(path);
  std::string t;
  if (file.empty() || !new_token(&t)) return 1;
  if (!upnp_http_handler_is_registered(localFileRequestHandler)) {
    upnp_http_register_handler(localFileRequestHandler, 1u | 2u, WEBAPI_SHARE_PREFIX, 0, 1);
  }
  {
    std::lock_guard<std::mutex> hold(g_shares_mutex);
    g_shares[t] = file;
  }
  std::snprintf(token, token_size, "%s", t.c_str());
  return 0;
}

void webapi_local_file_unshare(const char *token) {
  if (!token) return;
  std::lock_guard<std::mutex> hold(g_shares_mutex);
  g_shares.erase(token);
}

size_t webapi_local_file_count(void) {
  std::lock_guard<std::mutex> hold(g_shares_mutex);
  return g_shares.size();
}
