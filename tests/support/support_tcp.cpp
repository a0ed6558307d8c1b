#include "support_tcp.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

namespace test_support {

int listen_tcp(const char *address, int *port, int backlog) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  if (inet_pton(AF_INET, address, &a.sin_addr) != 1) throw std::runtime_error(std::string("no IPv4 address: ") + address);
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw std::runtime_error("socket");
  int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  socklen_t len = sizeof a;
  if (bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || listen(fd, backlog) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len) != 0) {
    close(fd);
    throw std::runtime_error(std::string("bind/listen on ") + address);
  }
  *port = ntohs(a.sin_port);
  return fd;
}

int accept_within(int listen_fd, int wait_ms) {
  pollfd p{listen_fd, POLLIN, 0};
  if (poll(&p, 1, wait_ms) <= 0) return -1;
  return accept(listen_fd, nullptr, nullptr);
}

int connect_loopback(int port, int receive_timeout_ms) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  timeval tv{receive_timeout_ms / 1000, (receive_timeout_ms % 1000) * 1000};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

std::string read_header(int fd, int receive_timeout_ms) {
  timeval tv{receive_timeout_ms / 1000, (receive_timeout_ms % 1000) * 1000};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  std::string request;
  char buf[4096];
  while (request.find("\r\n\r\n") == std::string::npos) {
    ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n <= 0) break;
    request.append(buf, static_cast<size_t>(n));
  }
  return request;
}

bool send_all(int fd, const std::string &text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

std::string read_to_close(int fd) {
  std::string out;
  char buffer[4096];
  ssize_t n;
  while ((n = recv(fd, buffer, sizeof buffer, 0)) > 0) out.append(buffer, static_cast<size_t>(n));
  return out;
}

std::string exchange_loopback(int port, const std::string &request, int receive_timeout_ms) {
  int fd = connect_loopback(port, receive_timeout_ms);
  if (fd < 0) return "";
  send_all(fd, request);
  std::string out = read_to_close(fd);
  close(fd);
  return out;
}

http_reply split_http_reply(const std::string &text) {
  http_reply r;
  size_t end = text.find("\r\n\r\n");
  if (text.size() < 12 || end == std::string::npos || text.compare(0, 5, "HTTP/") != 0) return r;
  r.status = std::atoi(text.substr(9, 3).c_str());
  r.header = text.substr(0, end);
  r.body = text.substr(end + 4);
  return r;
}

int free_loopback_port() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
  socklen_t len = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len);
  close(fd);
  return ntohs(a.sin_port);
}

std::string header_value(const std::string &head, const std::string &name) {
  size_t p = 0;
  while ((p = head.find("\r\n", p)) != std::string::npos) {
    p += 2;
    if (strncasecmp(head.c_str() + p, name.c_str(), name.size()) == 0 && head[p + name.size()] == ':') {
      size_t v = p + name.size() + 1;
      while (head[v] == ' ') ++v;
      return head.substr(v, head.find("\r\n", v) - v);
    }
  }
  return "";
}

}  // namespace test_support
