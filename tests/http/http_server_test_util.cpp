#include "http_server_test_util.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "http/http_methods.h"
#include "support_tcp.h"

namespace {

std::mutex g_seen_mutex;
std::vector<std::string> g_seen;

void record(HTTP_connection *c) {
  const char *method = "?";
  for (const HTTP_method_entry *m = HTTP_method_table; m->name; ++m) {
    if (m->type == c->request_type) {
      method = m->name;
      break;
    }
  }
  std::lock_guard<std::mutex> hold(g_seen_mutex);
  g_seen.push_back(std::string(method) + " " + c->path + "|" + (c->body ? c->body : ""));
}

int64_t now_ms() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

std::vector<std::string> seen_requests() {
  std::lock_guard<std::mutex> hold(g_seen_mutex);
  return g_seen;
}

void clear_seen_requests() {
  std::lock_guard<std::mutex> hold(g_seen_mutex);
  g_seen.clear();
}

std::string data_100() {
  std::string d;
  for (int i = 0; i < 100; ++i) d += static_cast<char>('0' + i % 10);
  return d;
}

std::string test_url(const std::string &path) {
  return "http://127.0.0.1:" + std::to_string(test_server_port()) + path;
}

int connect_server(int timeout_ms) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return -1;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(test_server_port()));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
    close(fd);
    return -1;
  }
  timeval tv{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  return fd;
}

bool send_text(int fd, const std::string &text) { return test_support::send_all(fd, text); }

std::string read_until_close(int fd, int timeout_ms) {
  std::string out;
  const int64_t deadline = now_ms() + timeout_ms;
  char buffer[4096];
  for (;;) {
    int64_t left = deadline - now_ms();
    if (left <= 0) break;
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left)) <= 0) break;
    ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    out.append(buffer, static_cast<size_t>(n));
  }
  return out;
}

std::string read_response(int fd, int timeout_ms) {
  std::string out;
  const int64_t deadline = now_ms() + timeout_ms;
  size_t want = std::string::npos;
  char c;
  while (want == std::string::npos || out.size() < want) {
    int64_t left = deadline - now_ms();
    if (left <= 0) return "";
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left)) <= 0) return "";
    if (recv(fd, &c, 1, 0) != 1) return out;
    out += c;
    if (want == std::string::npos && out.size() >= 4 && out.compare(out.size() - 4, 4, "\r\n\r\n") == 0) {
      if (out.rfind("HTTP/1.1 100", 0) == 0) {  // interim reply: a whole response of its own
        return out;
      }
      std::string length = field(out, "Content-Length");
      want = out.size() + (length.empty() ? 0 : std::stoul(length));
    }
  }
  return out;
}

std::string round_trip(const std::string &request, int timeout_ms) {
  int fd = connect_server(timeout_ms);
  if (fd < 0) return "";
  send_text(fd, request);
  std::string out = read_until_close(fd, timeout_ms);
  close(fd);
  return out;
}

bool closed_by_server(int fd, int timeout_ms) {
  pollfd p{fd, POLLIN, 0};
  if (poll(&p, 1, timeout_ms) <= 0) return false;
  char c;
  return recv(fd, &c, 1, MSG_PEEK) == 0;
}

Response parse_response(const std::string &text) {
  Response r;
  size_t end = text.find("\r\n\r\n");
  if (end == std::string::npos || text.compare(0, 5, "HTTP/") != 0) return r;
  r.header = text.substr(0, end + 4);
  r.body = text.substr(end + 4);
  r.status = std::atoi(text.c_str() + 9);
  return r;
}

std::string field(const std::string &header, const std::string &name) {
  size_t at = 0;
  while ((at = header.find("\r\n", at)) != std::string::npos) {
    at += 2;
    if (strncasecmp(header.c_str() + at, (name + ":").c_str(), name.size() + 1) == 0) {
      size_t v = at + name.size() + 1;
      while (v < header.size() && header[v] == ' ') ++v;
      size_t e = header.find("\r\n", v);
      return header.substr(v, e - v);
    }
  }
  return "";
}

std::string run_command(const std::string &command, int *status) {
  std::string out;
  FILE *p = popen(command.c_str(), "r");
  if (!p) {
    if (status) *status = -1;
    return out;
  }
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
  int rc = pclose(p);
  if (status) *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  return out;
}

// ---- Handlers and the server ----------------------------------------------

namespace {

int g_port = 0;
int g_socket = -1;

int notify_handler(HTTP_connection *c) {
  record(c);
  std::string reply = std::string("notified ") + c->path;
  c->content_type = "text/plain";
  c->length = static_cast<int64_t>(reply.size());
  return HTTP_send(c, reply.c_str());
}

int echo_handler(HTTP_connection *c) {
  record(c);
  std::string reply = std::string("echo ") + c->path + "|" + (c->body ? c->body : "");
  c->content_type = "text/plain";
  c->length = static_cast<int64_t>(reply.size());
  return HTTP_send(c, reply.c_str());
}

int data_handler(HTTP_connection *c) {
  record(c);
  static const std::string data = data_100();
  c->content_type = "application/octet-stream";
  c->length = 100;
  return HTTP_send(c, data.c_str());
}

int small_handler(HTTP_connection *c) {
  c->content_type = "text/plain";
  c->length = 5;
  return HTTP_send(c, "hello");
}

int unknown_length_handler(HTTP_connection *c) {
  record(c);
  c->content_type = "text/plain";
  c->length = -1;
  HTTP_add_header(c, "X-Test: unknown\r\n");
  if (HTTP_send_header(c, 200) != 0) return 1;
  send(c->socket, "streamed", 8, MSG_NOSIGNAL);
  return 0;
}

int close_handler(HTTP_connection *c) {
  record(c);
  HTTP_send_error_code(c, 204);
  return 1;
}

int pages_handler(HTTP_connection *c) {
  record(c);
  if (std::strstr(c->path, "/401")) return HTTP_send_unauthorized(c);
  if (std::strstr(c->path, "/503")) return HTTP_send_service_unavailable(c, "busy <now>");
  if (std::strstr(c->path, "/msg")) return HTTP_send_error_message(c, 409, "conflicting");
  if (std::strstr(c->path, "/nocache")) {
    HTTP_set_no_cache(c);
    HTTP_set_no_cache(c);
    c->length = 2;
    c->content_type = "text/plain";
    return HTTP_send(c, "nc");
  }
  if (std::strstr(c->path, "/L16")) {
    c->content_type = "audio/L16";
    c->length = 0;
    return HTTP_send_header(c, 200);
  }
  if (std::strstr(c->path, "/notype")) {
    c->length = 0;
    return HTTP_send_header(c, 200);
  }
  return HTTP_send_file_not_found(c);
}

}  // namespace

int test_server_port() { return g_port; }
int test_server_socket() { return g_socket; }

void start_test_server() {
  upnp_http_register_handler(notify_handler, HTTP_METHOD_NOTIFY, "", 1, 0);
  upnp_http_register_handler(echo_handler, HTTP_METHOD_GET | HTTP_METHOD_HEAD | HTTP_METHOD_POST, "/echo", 1, 0);
  upnp_http_register_handler(data_handler, HTTP_METHOD_GET | HTTP_METHOD_HEAD, "/data", 0, 0);
  upnp_http_register_handler(small_handler, HTTP_METHOD_GET, "/small", 0, 0);
  upnp_http_register_handler(unknown_length_handler, HTTP_METHOD_GET, "/unknown", 0, 0);
  upnp_http_register_handler(close_handler, HTTP_METHOD_GET, "/close", 0, 0);
  upnp_http_register_handler(pages_handler, HTTP_METHOD_GET | HTTP_METHOD_HEAD, "/pages", 0, 0);
  unsigned int first = 20000 + static_cast<unsigned int>(getpid()) % 20000;
  g_socket = HTTP_server_open("127.0.0.1", first);
  g_port = static_cast<int>(HTTP_server_port(g_socket));
}

void stop_test_server() {
  if (g_socket >= 0) HTTP_server_close(g_socket);
  g_socket = -1;
}
