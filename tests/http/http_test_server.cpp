#include "http_test_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

TestServer::TestServer(Handler handler) : handler_(std::move(handler)) {
  listen_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listen_fd_ < 0) throw std::runtime_error("socket");
  int one = 1;
  setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = 0;
  if (bind(listen_fd_, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || listen(listen_fd_, 64) != 0)
    throw std::runtime_error("bind/listen");
  socklen_t len = sizeof a;
  getsockname(listen_fd_, reinterpret_cast<sockaddr *>(&a), &len);
  port_ = ntohs(a.sin_port);
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

bool TestServer::send_all(int fd, const std::string &text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

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
    pollfd p{listen_fd_, POLLIN, 0};
    if (poll(&p, 1, 20) <= 0) continue;
    int fd = accept(listen_fd_, nullptr, nullptr);
    if (fd < 0) continue;
    timeval tv{5, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    std::string request;
    char buf[4096];
    while (request.find("\r\n\r\n") == std::string::npos) {
      ssize_t n = recv(fd, buf, sizeof buf, 0);
      if (n <= 0) break;
      request.append(buf, static_cast<size_t>(n));
    }
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
