// Shared pieces of the SSDP tests: crafted datagrams, a log file to read
// back, the interface entry the handler is given, and a socket on the group
// that records what it hears.
#ifndef TESTS_SSDP_SSDP_TEST_UTIL_H
#define TESTS_SSDP_SSDP_TEST_UTIL_H

#include <netinet/in.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "base/upnp_socket.h"
#include "ssdp/upnp_control_record.h"
#include "support_log_file.h"

namespace ssdp_test {

// A NOTIFY for `nt` with `nts`; `extra` lines (each ending in CR LF) go
// before the final empty line. Fields named in `omit` are left out.
std::string notify(const std::string &nt, const std::string &nts, const std::string &usn,
                   const std::string &location = "http://192.168.1.20:8200/rootDesc.xml",
                   const std::string &cache_control = "max-age=1800", const std::vector<std::string> &omit = {},
                   const std::string &extra = "");
// A search response for `st`.
std::string response(const std::string &st, const std::string &usn,
                     const std::string &location = "http://192.168.1.21:49494/desc.xml",
                     const std::string &cache_control = "max-age=1800", const std::vector<std::string> &omit = {});

// Every call recorded since the last reset (with a sequence above `after`).
std::vector<upnp_control_call> calls(unsigned long long after = 0);

// Logging to a temporary file at every level and source.
using test_support::LogFile;

// A datagram heard on the group: when, its text, and its sender.
struct Datagram {
  std::chrono::steady_clock::time_point at;
  std::string text;
  std::string from;
  int port;
};

// A UDP socket on the SSDP port, bound to bind_address ("0.0.0.0" for any),
// a member of the group on interface_address, that hands every datagram it
// receives to receiver on a thread of its own (with the sender's address, to
// answer it). With multicast_ttl above 0 its sends to the group leave from
// interface_address with that TTL. An owner whose receiver uses the owner's
// members declares the GroupSocket after them, so that the thread stops
// first.
class GroupSocket {
 public:
  using Receiver = std::function<void(const Datagram &datagram, const sockaddr_in &from)>;
  GroupSocket(const std::string &bind_address, const std::string &interface_address, Receiver receiver,
              int multicast_ttl = 0);
  ~GroupSocket();
  GroupSocket(const GroupSocket &) = delete;
  GroupSocket &operator=(const GroupSocket &) = delete;

  // true when the socket is bound, in the group and receiving.
  bool ok() const { return ok_; }
  void send_to(const std::string &text, const sockaddr_in &to);
  void send_to_group(const std::string &text);

 private:
  void run();

  Receiver receiver_;
  upnp_socket_t socket_;
  bool ok_ = false;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace ssdp_test

#endif
