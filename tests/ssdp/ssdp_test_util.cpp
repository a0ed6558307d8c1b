#include "ssdp_test_util.h"

#include <arpa/inet.h>

#include "ssdp/upnp_ssdp.h"

namespace ssdp_test {

namespace {

bool omitted(const std::vector<std::string> &omit, const std::string &name) {
  for (const std::string &o : omit) {
    if (o == name) return true;
  }
  return false;
}

std::string line(const std::vector<std::string> &omit, const std::string &name, const std::string &value) {
  return omitted(omit, name) ? std::string() : name + ": " + value + "\r\n";
}

}  // namespace

std::string notify(const std::string &nt, const std::string &nts, const std::string &usn, const std::string &location,
                   const std::string &cache_control, const std::vector<std::string> &omit, const std::string &extra) {
  return "NOTIFY * HTTP/1.1\r\n" + line(omit, "HOST", "239.255.255.250:1900") +
         line(omit, "CACHE-CONTROL", cache_control) + line(omit, "LOCATION", location) +
         line(omit, "SERVER", "Linux/6.1 DLNADOC/1.50 UPnP/1.0 Lab/1.0") + line(omit, "NT", nt) +
         line(omit, "USN", usn) + line(omit, "NTS", nts) + extra + "\r\n";
}

std::string response(const std::string &st, const std::string &usn, const std::string &location,
                     const std::string &cache_control, const std::vector<std::string> &omit) {
  return "HTTP/1.1 200 OK\r\n" + line(omit, "CACHE-CONTROL", cache_control) +
         line(omit, "DATE", "Tue, 08 Dec 2026 18:00:00 GMT") + "EXT:\r\n" + line(omit, "LOCATION", location) +
         line(omit, "SERVER", "Linux/6.1, UPnP/1.0, Portable SDK for UPnP devices/1.14") + line(omit, "ST", st) +
         line(omit, "USN", usn) + "\r\n";
}

std::vector<upnp_control_call> calls(unsigned long long after) {
  std::vector<upnp_control_call> all;
  std::vector<upnp_control_call> chunk(UPNP_RECORD_MAX_CALLS);
  for (;;) {
    int got = upnp_control_record_calls(after, chunk.data(), static_cast<int>(chunk.size()));
    if (got <= 0) break;
    all.insert(all.end(), chunk.begin(), chunk.begin() + got);
    after = chunk[static_cast<size_t>(got) - 1].sequence;
  }
  return all;
}

GroupSocket::GroupSocket(const std::string &bind_address, const std::string &interface_address, Receiver receiver,
                         int multicast_ttl)
    : receiver_(std::move(receiver)) {
  socket_ = upnp_socket_create_udp();
  setSockOptReuseAddr(socket_);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(SSDP_PORT);
  ok_ = inet_pton(AF_INET, bind_address.c_str(), &local.sin_addr) == 1 && upnp_socket_bind(socket_, &local) == 0 &&
        upnp_socket_setSockOptAddMembership(socket_, SSDP_MULTICAST_ADDRESS, interface_address.c_str()) == 0 &&
        setSockOptReceiveTimeout(socket_, 50) == 0 &&
        (multicast_ttl <= 0 || setSockOptMulticast(socket_, multicast_ttl, interface_address.c_str()) == 0);
  if (ok_) thread_ = std::thread([this] { run(); });
}

GroupSocket::~GroupSocket() {
  stop_.store(true);
  if (thread_.joinable()) thread_.join();
  upnp_socket_close(socket_);
}

void GroupSocket::send_to(const std::string &text, const sockaddr_in &to) {
  upnp_sendto(socket_, text.data(), text.size(), 0, &to);
}

void GroupSocket::send_to_group(const std::string &text) {
  sockaddr_in group{};
  group.sin_family = AF_INET;
  group.sin_port = htons(SSDP_PORT);
  inet_pton(AF_INET, SSDP_MULTICAST_ADDRESS, &group.sin_addr);
  send_to(text, group);
}

void GroupSocket::run() {
  char buffer[4096];
  while (!stop_.load()) {
    sockaddr_in from{};
    ssize_t got = upnp_recvfrom(socket_, buffer, sizeof buffer, 0, &from);
    if (got <= 0) continue;
    char address[INET_ADDRSTRLEN];
    Datagram d{std::chrono::steady_clock::now(), std::string(buffer, static_cast<size_t>(got)),
               inet_ntop(AF_INET, &from.sin_addr, address, sizeof address), ntohs(from.sin_port)};
    receiver_(d, from);
  }
}

}  // namespace ssdp_test
