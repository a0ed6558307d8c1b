#include "upload_sink.h"

#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>

#include "support_tcp.h"

namespace upload_test {

namespace {

// Reads more bytes into buffer; false when the peer closed or 10 s passed.
bool read_some(int fd, std::string *buffer, size_t max = 65536) {
  struct pollfd ready = {fd, POLLIN, 0};
  if (poll(&ready, 1, 10000) <= 0) return false;
  char piece[65536];
  ssize_t n = recv(fd, piece, max < sizeof piece ? max : sizeof piece, 0);
  if (n <= 0) return false;
  buffer->append(piece, static_cast<size_t>(n));
  return true;
}

std::string field(const std::string &header, const char *name) {
  size_t at = 0;
  const size_t length = std::strlen(name);
  while ((at = header.find("\r\n", at)) != std::string::npos) {
    at += 2;
    if (strncasecmp(header.c_str() + at, name, length) == 0 && header[at + length] == ':') {
      size_t start = header.find_first_not_of(' ', at + length + 1);
      return header.substr(start, header.find("\r\n", start) - start);
    }
  }
  return std::string();
}

}  // namespace

SinkRequest read_request_body(int fd, const std::string &header, std::string already, int pause_ms,
                              size_t stop_after) {
  SinkRequest request;
  request.header = header;
  std::string &raw = request.raw_body;
  raw = std::move(already);
  const size_t step = pause_ms > 0 ? 4096 : 65536;
  auto more = [&] {
    if (pause_ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(pause_ms));
    return raw.size() < stop_after && read_some(fd, &raw, step);
  };
  std::string length = field(header, "Content-Length");
  if (strcasecmp(field(header, "Transfer-Encoding").c_str(), "chunked") == 0) {
    size_t at = 0;
    for (;;) {
      size_t line_end;
      while ((line_end = raw.find("\r\n", at)) == std::string::npos)
        if (!more()) return request;
      size_t size = std::strtoul(raw.c_str() + at, nullptr, 16);
      at = line_end + 2;
      while (raw.size() < at + size + 2)
        if (!more()) return request;
      request.body.append(raw, at, size);
      at += size + 2;
      if (size == 0) break;
    }
    request.complete = true;
    return request;
  }
  size_t want = length.empty() ? 0 : std::strtoull(length.c_str(), nullptr, 10);
  while (raw.size() < want)
    if (!more()) break;
  request.body = raw.substr(0, want);
  request.complete = raw.size() >= want;
  return request;
}

Sink::Sink(SinkMode mode) : mode_(mode) {
  listen_fd_ = test_support::listen_tcp("127.0.0.1", &port_);
  acceptor_ = std::thread([this] {
    for (;;) {
      {
        std::lock_guard<std::mutex> hold(mutex_);
        if (stopping_) return;
      }
      int fd = test_support::accept_within(listen_fd_, 50);
      if (fd < 0) continue;
      std::lock_guard<std::mutex> hold(mutex_);
      threads_.emplace_back([this, fd] { serve(fd); });
    }
  });
}

Sink::~Sink() {
  {
    std::lock_guard<std::mutex> hold(mutex_);
    stopping_ = true;
  }
  released_.notify_all();
  acceptor_.join();
  for (std::thread &t : threads_) t.join();
  close(listen_fd_);
}

std::string Sink::url(const std::string &path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::vector<SinkRequest> Sink::requests() {
  std::lock_guard<std::mutex> hold(mutex_);
  return requests_;
}

void Sink::release() {
  std::lock_guard<std::mutex> hold(mutex_);
  stopping_ = true;
  released_.notify_all();
}

void Sink::serve(int fd) {
  std::string all = test_support::read_header(fd);
  size_t end = all.find("\r\n\r\n");
  if (end == std::string::npos) {
    close(fd);
    return;
  }
  std::string header = all.substr(0, end + 4);
  std::string rest = all.substr(end + 4);
  const std::string interim = "HTTP/1.1 100 Continue\r\n\r\n";
  const std::string created = "HTTP/1.1 201 Created\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
  SinkRequest request;
  request.header = header;
  switch (mode_) {
    case SinkMode::refuse_417:
      test_support::send_all(fd, "HTTP/1.1 417 Expectation Failed\r\nContent-Length: 0\r\n\r\n");
      break;
    case SinkMode::stall: {
      test_support::send_all(fd, interim);
      std::unique_lock<std::mutex> hold(mutex_);
      released_.wait(hold, [this] { return stopping_; });
      break;
    }
    case SinkMode::silent_200:
      request = read_request_body(fd, header, rest);
      test_support::send_all(fd, "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
      break;
    case SinkMode::close_early:
      test_support::send_all(fd, interim);
      request = read_request_body(fd, header, rest, 0, 1000);
      break;
    default:
      test_support::send_all(fd, interim);
      request = read_request_body(fd, header, rest, mode_ == SinkMode::slow_reader ? 2 : 0);
      if (mode_ == SinkMode::continue_201 || mode_ == SinkMode::slow_reader) test_support::send_all(fd, created);
      if (mode_ == SinkMode::continue_final_100) test_support::send_all(fd, interim);
      if (mode_ == SinkMode::continue_100_201) test_support::send_all(fd, interim + created);
      if (mode_ == SinkMode::refuse_body_403)
        test_support::send_all(fd, "HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\n\r\n");
      break;
  }
  // The client's close ends the exchange (its final answer is read first).
  const bool answered = mode_ != SinkMode::close_early && mode_ != SinkMode::continue_then_close &&
                        mode_ != SinkMode::continue_final_100;
  std::string tail;
  if (answered) read_some(fd, &tail);
  {
    std::lock_guard<std::mutex> hold(mutex_);
    requests_.push_back(request);
  }
  close(fd);
}

}  // namespace upload_test
