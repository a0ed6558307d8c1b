#include "cp_eventing_util.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "cp_test_util.h"
#include "http_test_server.h"

namespace cp_eventing_test {

namespace {

// Reads one message (header and a Content-Length body).
bool read_message(int fd, std::string *header, std::string *body) {
  std::string data;
  char buf[4096];
  size_t end;
  while ((end = data.find("\r\n\r\n")) == std::string::npos) {
    ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n <= 0) return false;
    data.append(buf, static_cast<size_t>(n));
  }
  *header = data.substr(0, end + 4);
  *body = data.substr(end + 4);
  size_t length = 0;
  size_t at = header->find("Content-Length:");
  if (at == std::string::npos) at = header->find("CONTENT-LENGTH:");
  if (at != std::string::npos) length = std::strtoul(header->c_str() + at + 15, nullptr, 10);
  while (body->size() < length) {
    ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n <= 0) return false;
    body->append(buf, static_cast<size_t>(n));
  }
  return true;
}

std::string field(const std::string &header, const std::string &name) {
  size_t at = header.find("\r\n" + name + ":");
  if (at == std::string::npos) return "";
  at += name.size() + 3;
  while (at < header.size() && header[at] == ' ') ++at;
  return header.substr(at, header.find("\r\n", at) - at);
}

}  // namespace

GenaDevice::GenaDevice() {
  listen_fd_ = cp_test::listen_tcp("127.0.0.1", &port_);
  thread_ = std::thread([this] { run(); });
}

GenaDevice::~GenaDevice() {
  stop_ = true;
  thread_.join();
  for (std::thread &t : workers_) t.join();
  close(listen_fd_);
}

std::string GenaDevice::url(const std::string &path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

void GenaDevice::put(const std::string &path, const std::string &body) {
  std::lock_guard<std::mutex> hold(mutex_);
  files_[path] = body;
}

std::vector<Request> GenaDevice::requests(const std::string &method) {
  std::lock_guard<std::mutex> hold(mutex_);
  std::vector<Request> out;
  for (const Request &r : requests_)
    if (r.method == method) out.push_back(r);
  return out;
}

void GenaDevice::run() {
  cp_test::serve_connections(listen_fd_, stop_, mutex_, workers_, [this](int fd) { answer(fd); });
}

void GenaDevice::answer(int fd) {
  timeval tv{5, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  Request r;
  if (!read_message(fd, &r.header, &r.body)) {
    close(fd);
    return;
  }
  size_t sp = r.header.find(' ');
  r.method = r.header.substr(0, sp);
  r.path = r.header.substr(sp + 1, r.header.find(' ', sp + 1) - sp - 1);
  std::string reply;
  std::string sid;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    requests_.push_back(r);
    if (r.method == "GET") {
      auto it = files_.find(r.path);
      reply = it == files_.end() ? "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n"
                                 : "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nContent-Length: " +
                                       std::to_string(it->second.size()) + "\r\n\r\n" + it->second;
    } else if (r.method == "SUBSCRIBE" || r.method == "UNSUBSCRIBE") {
      std::string given = field(r.header, "SID");
      bool renew = r.method == "SUBSCRIBE" && !given.empty();
      if (renew && renew_status != 200) {
        reply = "HTTP/1.1 " + std::to_string(renew_status.load()) + " Precondition Failed\r\nContent-Length: 0\r\n\r\n";
      } else {
        sid = given.empty() ? "uuid:sub-" + std::to_string(port_) + "-" + std::to_string(next_sid_++) : given;
        reply = "HTTP/1.1 200 OK\r\n";
        if (r.method == "SUBSCRIBE") {
          if (!omit_sid) reply += "SID: " + sid + "\r\n";
          if (grant_seconds >= 0) reply += "TIMEOUT: Second-" + std::to_string(grant_seconds.load()) + "\r\n";
        }
        reply += "Content-Length: 0\r\n\r\n";
      }
    } else if (r.method == "POST") {
      std::string state;
      {
        std::lock_guard<std::mutex> s(state_mutex);
        state = transport_state;
      }
      std::string body =
          "<?xml version=\"1.0\"?><s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\"><s:Body>"
          "<u:GetTransportInfoResponse xmlns:u=\"urn:schemas-upnp-org:service:AVTransport:1\">"
          "<CurrentTransportState>" + state + "</CurrentTransportState><CurrentTransportStatus>OK"
          "</CurrentTransportStatus><CurrentSpeed>1</CurrentSpeed></u:GetTransportInfoResponse></s:Body></s:Envelope>";
      reply = "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nContent-Length: " + std::to_string(body.size()) +
              "\r\n\r\n" + body;
    } else {
      reply = "HTTP/1.1 405 Method Not Allowed\r\nContent-Length: 0\r\n\r\n";
    }
  }
  while (r.method == "POST" && stall_soap && !stop_) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  if (r.method == "SUBSCRIBE" && field(r.header, "SID").empty()) {
    if (before_answer) before_answer(sid);
    if (subscribe_delay_ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(subscribe_delay_ms.load()));
  }
  TestServer::send_all(fd, reply);
  close(fd);
}

int send_notify(int port, const std::string &sid, long long seq, const std::string &body, const std::string &nt,
                const std::string &from, const std::string &extra, bool chunked, size_t chunk_size) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  inet_pton(AF_INET, from.c_str(), &local.sin_addr);
  if (bind(fd, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0) {
    close(fd);
    return 0;
  }
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  timeval tv{10, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  if (connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
    close(fd);
    return 0;
  }
  std::string request = "NOTIFY / HTTP/1.1\r\nHOST: 127.0.0.1:" + std::to_string(port) +
                        "\r\nCONTENT-TYPE: text/xml; charset=\"utf-8\"\r\n";
  if (!nt.empty()) request += "NT: " + nt + "\r\nNTS: upnp:propchange\r\n";
  if (!sid.empty()) request += "SID: " + sid + "\r\n";
  if (seq >= 0) request += "SEQ: " + std::to_string(seq) + "\r\n";
  request += extra;
  if (!chunked) {
    request += "Content-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
  } else {
    request += "Transfer-Encoding: chunked\r\nConnection: close\r\n\r\n";
    for (size_t at = 0; at < body.size(); at += chunk_size) {
      std::string part = body.substr(at, chunk_size);
      char size[32];
      std::snprintf(size, sizeof size, "%zx\r\n", part.size());
      request += size + part + "\r\n";
    }
    request += "0\r\n\r\n";
  }
  int status = 0;
  if (TestServer::send_all(fd, request)) {
    std::string header, rest;
    char buf[1024];
    while (header.find("\r\n") == std::string::npos) {
      ssize_t n = recv(fd, buf, sizeof buf, 0);
      if (n <= 0) break;
      header.append(buf, static_cast<size_t>(n));
    }
    if (header.size() > 12) status = std::atoi(header.c_str() + 9);
  }
  close(fd);
  return status;
}

std::string avt_body(const std::string &state) {
  return "<?xml version=\"1.0\"?><e:propertyset xmlns:e=\"urn:schemas-upnp-org:event-1-0\"><e:property><LastChange>"
         "&lt;Event xmlns=&quot;urn:schemas-upnp-org:metadata-1-0/AVT/&quot;&gt;&lt;InstanceID val=&quot;0&quot;&gt;"
         "&lt;TransportState val=&quot;" + state +
         "&quot;/&gt;&lt;/InstanceID&gt;&lt;/Event&gt;</LastChange></e:property></e:propertyset>";
}

std::string rcs_body(int volume) {
  return "<?xml version=\"1.0\"?><e:propertyset xmlns:e=\"urn:schemas-upnp-org:event-1-0\"><e:property><LastChange>"
         "&lt;Event xmlns=&quot;urn:schemas-upnp-org:metadata-1-0/RCS/&quot;&gt;&lt;InstanceID val=&quot;0&quot;&gt;"
         "&lt;Volume channel=&quot;Master&quot; val=&quot;" + std::to_string(volume) +
         "&quot;/&gt;&lt;/InstanceID&gt;&lt;/Event&gt;</LastChange></e:property></e:propertyset>";
}

std::string cds_body(int update_id) {
  return "<?xml version=\"1.0\"?><e:propertyset xmlns:e=\"urn:schemas-upnp-org:event-1-0\"><e:property>"
         "<SystemUpdateID>" + std::to_string(update_id) + "</SystemUpdateID></e:property></e:propertyset>";
}

}  // namespace cp_eventing_test
