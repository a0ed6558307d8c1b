// Test support of the lab tests (run through tests/lab/lab.sh run): the lab's
// LAB_* settings, its peers, lab.sh commands, and starting the control point
// that the tests use against the lab's devices.
#ifndef TESTS_CP_CP_LAB_UTIL_H
#define TESTS_CP_CP_LAB_UTIL_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace cp_lab {

// The environment variable's value, "" when unset.
std::string env(const char *name);
// Whether the test runs inside a lab (LAB_ADDR set).
bool inside_lab();
// The lab's file server URL (LAB_HTTP_URL) with path appended after one '/'.
std::string http_url(const std::string &path);
// Runs "lab.sh <command>" quietly; its exit status.
int lab(const std::string &command);

// Text the library allocated, taken over (freed) into a string; "" for null.
std::string take(char *text);

struct Peer {
  std::string udn, name, desc;
  int kind;  // 1 server, 2 renderer
  int index = -1;
};
// The lab's server and its renderers (LAB_SERVER_*, LAB_RENDERERn_*).
std::vector<Peer> peers();

// Library memory and settings, once per run before the control point starts.
void init_settings();
// The library's log: with CP_LAB_LOG=FILE every source at level into FILE,
// else critical messages only.
void init_log(int level);
// Starts the control point with its network stack, our HTTP server on port.
bool start_control_point(const char *http_port);
// Starts the control point without its network stack and gives it the lab's
// server and first renderer by their description URLs; their indices (-1 when
// not usable within 15 s).
void start_with_lab_devices(int *server, int *renderer);

// Adds the device by its description URL (our side at LAB_ADDR:9000) and
// waits up to 15 s until it is usable with its services known; its index, or
// -1.
int add_and_wait_usable(const std::string &desc, const std::string &udn, int kind);
// The ids of the children of parent on the server (at most count, one
// Browse of up to 200), or of those titled title when it is not empty.
std::vector<std::string> child_ids(int server, const std::string &parent, const std::string &title, size_t count);
// Polls the renderer's transport state every 200 ms for up to seconds until
// it is want; the last state read.
std::string wait_transport_state(int renderer, const char *want, int seconds);
// Process group of a lab peer, from the lab's record of what it started (the
// latest start of that name), or 0.
int peer_group(const std::string &name);

// A TCP connection that a process of a lab peer holds, as the peers'
// namespace lists it (ss): its state and the payload bytes the peer sent on
// it.
struct PeerConnection {
  std::string state;
  unsigned long long bytes_sent = 0;
};
// The connections of the peers' process named process to port (at any
// address: a peer in the library's namespace may be given a loopback
// callback).
std::vector<PeerConnection> peer_connections(const std::string &process, int port);

// Waits up to ms for the device to be known and valid; the index last seen
// (-1 when never known).
int usable_index(const std::string &udn, int kind, int ms = 20000);

// Fixture of tests against the lab's server and first renderer, given to a
// control point without its network stack (their indices -1 when they did
// not become usable).
class LabDevices : public ::testing::Test {
 protected:
  static void SetUpTestSuite();
  static void TearDownTestSuite();
  static int server_;
  static int renderer_;
};

}  // namespace cp_lab

#endif
