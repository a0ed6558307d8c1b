// Test support of the device table: a file server on 127.0.0.1 that serves
// crafted descriptions (with optional delays), a log capture, canned
// descriptions, and a fixture that starts the table without the network
// stack and records the callback's events.
#ifndef TESTS_CP_CP_TEST_UTIL_H
#define TESTS_CP_CP_TEST_UTIL_H

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support_log_file.h"
#include "support_mem.h"
#include "support_tcp.h"
#include "support_wait.h"

namespace cp_test {

// A listening TCP socket at a free port of address (an IPv4 text); throws
// when it cannot listen.
using test_support::listen_tcp;
// Accepts connections on listen_fd until stop, each answered by answer(fd)
// on a thread of its own, kept in workers (under mutex) for the owner to join.
void serve_connections(int listen_fd, const std::atomic<bool> &stop, std::mutex &mutex,
                       std::vector<std::thread> &workers, const std::function<void(int fd)> &answer);

class FileServer {
 public:
  // Listens on address (an IPv4 text) at a free port.
  explicit FileServer(const char *address = "127.0.0.1");
  ~FileServer();
  // Serves body at path (replacing any earlier one); delay_ms before the
  // answer. Unknown paths get 404.
  void put(const std::string &path, const std::string &body, int delay_ms = 0);
  void remove(const std::string &path);
  std::string url(const std::string &path) const;
  std::string address_ = "127.0.0.1";
  int port() const { return port_; }
  int hits(const std::string &path);

 private:
  void run();
  void answer(int fd);

  int listen_fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::map<std::string, std::pair<std::string, int>> files_;
  std::map<std::string, int> hits_;
  std::vector<std::thread> workers_;
  std::thread thread_;
};

// The library's log in a temporary file, read back by the tests.
using test_support::LogFile;

// A device description. services: any of "CM", "RC", "AVT", "CDS", "MRR",
// "RUIS"; scpd paths are "/<udn-tail>/<service>.xml".
std::string description(const std::string &udn, const std::string &device_type, const std::string &name,
                        const std::vector<std::string> &services, const std::string &extra = "",
                        const std::string &url_base = "");
// An SCPD with the given action names.
std::string scpd(const std::vector<std::string> &actions);

struct Event {
  int type;
  int kind;
  int index;
  std::string name;
};

// Waits up to ms for pred; true when it held.
using test_support::wait_until;

// What the subscription callback was given.
struct Received {
  int kind;
  int index;
  unsigned int service;
  uint32_t sequence;
  std::string body;
};
// A subscription callback that records every event; what it recorded so far;
// forgetting that.
void record_event(int kind, int index, unsigned int service, uint32_t sequence, const char *body);
std::vector<Received> recorded_events();
void clear_recorded_events();

class CpTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Serves a complete device of kind (1 server, 2 renderer) under /dN/ and
  // returns its location.
  std::string serve_device(const std::string &udn, int kind, const std::string &name,
                           std::vector<std::string> services = {}, int delay_ms = 0, const std::string &extra = "");
  // Adds the device at location to the table (interface 127.0.0.1:9000,
  // 1800 s) and waits up to 5 s for it to be ready; its index then (-1 when
  // the table does not list it).
  int add_ready(const std::string &udn, int kind, const std::string &location);
  std::vector<Event> events();
  int count_events(int type, int kind, int index);
  int index_of(const std::string &udn, int kind);

  FileServer server_;
  static std::mutex s_mutex;
  static std::vector<Event> s_events;
  static void callback(int type, int kind, int index, const char *name);
};

// A numeric field of /proc/self/status ("Threads", "VmRSS", "VmHWM"), or -1.
long process_status_value(const char *field);
// How many devices of kind (1 servers, 2 renderers) the table lists as usable.
int usable_count(int kind);

}  // namespace cp_test

#endif
