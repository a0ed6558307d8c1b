#include "http_test_server.h"

#include <sys/socket.h>
#include <algorithm>
#include <unistd.h>

#include <poll.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "support_tcp.h"

TestServer::TestServer(Handler handler) : handler_(std::move(handler)) {
  listen_fd_ = test_support::listen_tcp("127.0.0.1", &port_, 64);
  thread_ = std::thread([this] { run(); });
}

TestServer::~TestServer() {
  {
    std::lock_guard<std::mutex> hold(mutex_);
    stop_ = true;
  }
  cv_.notify_all();
  thread_.join();
  close(listen_fd_);
}

std::string TestServer::url(const std::string &path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::vector<std::string> TestServer::requests() {
  std::lock_guard<std::mutex> hold(mutex_);
  return requests_;
}

std::vector<long long> TestServer::get_ranges() {
  std::vector<long long> ranges;
  for (const std::string &r : requests()) {
    if (r.compare(0, 4, "GET ") != 0) continue;
    size_t at = r.find("Range: bytes=");
    ranges.push_back(at == std::string::npos ? 0 : std::atoll(r.c_str() + at + 13));
  }
  return ranges;
}

void TestServer::record_request(const std::string &request) {
  std::lock_guard<std::mutex> hold(mutex_);
  requests_.push_back(request);
}

bool TestServer::wait_stop(int ms) {
  std::unique_lock<std::mutex> hold(mutex_);
  return cv_.wait_for(hold, std::chrono::milliseconds(ms), [this] { return stop_.load(); });
}

bool TestServer::send_all(int fd, const std::string &text) { return test_support::send_all(fd, text); }

std::string TestServer::read_more(int fd, size_t want, std::string already) {
  while (already.size() < want) {
    char buf[4096];
    ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n <= 0) break;
    already.append(buf, static_cast<size_t>(n));
  }
  return already;
}

void TestServer::run() {
  while (!stop_) {
    int fd = test_support::accept_within(listen_fd_, 20);
    if (fd < 0) continue;
    std::string request = test_support::read_header(fd);
    {
      std::lock_guard<std::mutex> hold(mutex_);
      requests_.push_back(request);
    }
    handler_(*this, fd, request);
    close(fd);
  }
}

std::string http_response(const std::string &status, const std::string &body, const std::string &extra_headers) {
  return "HTTP/1.1 " + status + "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" + extra_headers +
         "\r\n" + body;
}

std::string patterned_body(size_t size) {
  std::string body(size, '\0');
  for (size_t i = 0; i < size; ++i) body[i] = static_cast<char>(i % 251);
  return body;
}

namespace {

// Waits until the peer closes or the server stops.
void hold_until_peer_goes(TestServer &server, int fd) {
  while (!server.wait_stop(10)) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 0) > 0) {
      char c;
      if (recv(fd, &c, 1, MSG_DONTWAIT) <= 0) return;
    }
  }
}

// Sends body bytes [from, to), honouring the close and stall points (given
// as body offsets). false when the answer ended early.
bool send_body(TestServer &server, int fd, const CraftedResource &r, size_t from, size_t to) {
  size_t cut = std::min(r.close_after, r.stall_after);
  size_t end = std::min(to, cut);
  if (from < end && !TestServer::send_all(fd, r.body.substr(from, end - from))) return false;
  if (end < to) {
    if (r.stall_after == cut) hold_until_peer_goes(server, fd);
    return false;
  }
  return true;
}

void answer_get(TestServer &server, int fd, const CraftedResource &r, const std::string &request) {
  for (int i = 0; i < r.interim; ++i) TestServer::send_all(fd, "HTTP/1.1 100 Continue\r\n\r\n");
  std::string path = request.substr(request.find(' ') + 1);
  path = path.substr(0, path.find(' '));
  if (r.redirect_loop) {
    TestServer::send_all(fd, "HTTP/1.1 302 Found\r\nLocation: " + path + "\r\nContent-Length: 0\r\n\r\n");
    return;
  }
  if (!r.redirect.empty() && path == "/") {
    TestServer::send_all(fd, "HTTP/1.1 302 Found\r\nLocation: " + r.redirect + "\r\nContent-Length: 0\r\n\r\n");
    return;
  }
  size_t from = 0;
  std::string status = "200 OK";
  std::string fields = "Content-Type: " + r.content_type + "\r\n" + r.get_fields;
  size_t range = request.find("Range: bytes=");
  if (range != std::string::npos && r.ranges) {
    from = std::strtoull(request.c_str() + range + 13, nullptr, 10);
    if (from > r.body.size()) from = r.body.size();
    status = "206 Partial Content";
    fields += "Content-Range: bytes " + std::to_string(from) + "-" + std::to_string(r.body.size() - 1) + "/" +
              std::to_string(r.body.size()) + "\r\n";
  }
  if (r.accept_ranges) fields += "Accept-Ranges: bytes\r\n";
  if (r.big_header) fields += "X-Filler: " + std::string(r.big_header, 'f') + "\r\n";
  if (r.chunked) {
    fields += "Transfer-Encoding: chunked\r\n";
  } else if (!r.no_length) {
    fields += "Content-Length: " + std::to_string(r.body.size() - from) + "\r\n";
  }
  if (!TestServer::send_all(fd, "HTTP/1.1 " + status + "\r\n" + fields + "Connection: close\r\n\r\n")) return;
  if (!r.chunked) {
    send_body(server, fd, r, from, r.body.size());
    return;
  }
  int line = 0;
  for (size_t at = from; at < r.body.size(); at += r.chunk, ++line) {
    size_t n = std::min(r.chunk, r.body.size() - at);
    char size_line[64];
    std::snprintf(size_line, sizeof size_line, "%zx;name=\"value\"\r\n", n);
    std::string head = (line == 1 && !r.bad_size_line.empty()) ? r.bad_size_line + "\r\n" : size_line;
    if (!TestServer::send_all(fd, head) || !send_body(server, fd, r, at, at + n) ||
        !TestServer::send_all(fd, "\r\n"))
      return;
  }
  TestServer::send_all(fd, "0\r\n\r\n");
}

}  // namespace

TestServer::Handler crafted_handler(const CraftedResource &resource) {
  return [resource](TestServer &server, int fd, const std::string &request) {
    if (request.compare(0, 5, "HEAD ") != 0) {
      answer_get(server, fd, resource, request);
      return;
    }
    std::string fields = "Content-Type: " + resource.content_type + "\r\nContent-Length: " +
                         std::to_string(resource.body.size()) +
                         "\r\n" + resource.head_fields;
    if (resource.accept_ranges) fields += "Accept-Ranges: bytes\r\n";
    const char *reason = resource.head_status == 200 ? " OK" : " Refused";
    std::string status = "HTTP/1.1 " + std::to_string(resource.head_status) + reason + "\r\n";
    if (!resource.keep_alive || resource.head_status != 200) {
      TestServer::send_all(fd, status + fields + "Connection: close\r\n\r\n");
      return;
    }
    if (!TestServer::send_all(fd, status + fields + "\r\n")) return;
    std::string next = test_support::read_header(fd);
    if (next.empty()) return;
    server.record_request(next);
    answer_get(server, fd, resource, next);
  };
}

std::string icy_answer(const std::string &audio, size_t metaint, const std::vector<std::string> &titles,
                       size_t chunk, const std::string &status_line) {
  std::string body;
  size_t next_title = 0;
  for (size_t at = 0; at < audio.size();) {
    size_t n = metaint ? std::min(metaint, audio.size() - at) : audio.size() - at;
    body += audio.substr(at, n);
    at += n;
    if (metaint && n == metaint) {
      std::string meta;
      if (next_title < titles.size()) {
        meta = "StreamTitle='" + titles[next_title] + "';StreamUrl='http://radio.invalid/" +
               std::to_string(next_title) + "';";
        ++next_title;
      }
      size_t blocks = (meta.size() + 15) / 16;
      meta.resize(blocks * 16, '\0');
      body += static_cast<char>(blocks);
      body += meta;
    }
  }
  std::string header = status_line + "\r\nicy-name: Test Radio\r\nicy-genre: Jazz\r\nicy-url: http://radio.invalid\r\n"
                       "icy-pub: 1\r\nicy-br: 128\r\nContent-Type: audio/mpeg\r\n";
  if (metaint) header += "icy-metaint: " + std::to_string(metaint) + "\r\n";
  if (chunk == 0) return header + "\r\n" + body;
  header += "Transfer-Encoding: chunked\r\n\r\n";
  for (size_t at = 0; at < body.size(); at += chunk) {
    size_t n = std::min(chunk, body.size() - at);
    char line[32];
    std::snprintf(line, sizeof line, "%zx\r\n", n);
    header += line + body.substr(at, n) + "\r\n";
  }
  return header + "0\r\n\r\n";
}
