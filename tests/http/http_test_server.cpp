#include "http_test_server.h"

#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

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
