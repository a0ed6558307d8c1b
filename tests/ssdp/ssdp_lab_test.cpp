// The stack against the lab's real peers (run through tests/lab/lab.sh run,
// inside the library's network namespace): every server and renderer of the
// lab reaches the device table with the right location, UDN, interface and
// validity; a peer that stops is deleted on its byebye; the M-SEARCH packets
// of a start, heard in the namespace, have the exact texts and order.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sched.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/upnp_ini_file.h"
#include "base/upnp_mac.h"
#include "base/upnp_mem.h"
#include "base/upnp_server_state.h"
#include "base/upnp_socket.h"
#include "ssdp/upnp_control_record.h"
#include "ssdp/upnp_ssdp.h"
#include "ssdp/upnp_ssdp_internal.h"
#include "ssdp_test_util.h"
#include "support_wait.h"

using Clock = std::chrono::steady_clock;

namespace {

std::string env(const char *name) {
  const char *value = std::getenv(name);
  return value != nullptr ? value : "";
}

bool wait_until(const std::function<bool()> &done, int milliseconds) {
  return test_support::wait_until(done, milliseconds, 20);
}

using Heard = ssdp_test::Datagram;

// Listens to the group on the library's side of the lab.
class GroupListener {
 public:
  explicit GroupListener(const std::string &interface_address)
      : socket_(SSDP_MULTICAST_ADDRESS, interface_address, [this](const Heard &h, const sockaddr_in &) {
          std::lock_guard<std::mutex> hold(mutex_);
          heard_.push_back(h);
        }) {}
  bool ok() const { return socket_.ok(); }
  std::vector<Heard> heard() {
    std::lock_guard<std::mutex> hold(mutex_);
    return heard_;
  }

 private:
  std::mutex mutex_;
  std::vector<Heard> heard_;
  ssdp_test::GroupSocket socket_;  // last: its thread stops before the rest goes
};

struct Peer {
  std::string udn, desc;
  int kind;
};

std::vector<Peer> lab_peers() {
  std::vector<Peer> peers = {{env("LAB_SERVER_UDN"), env("LAB_SERVER_DESC"), UPNP_KIND_MEDIA_SERVER}};
  int renderers = std::atoi(env("LAB_RENDERERS").c_str());
  for (int i = 1; i <= renderers; ++i) {
    std::string n = std::to_string(i);
    peers.push_back({env(("LAB_RENDERER" + n + "_UDN").c_str()), env(("LAB_RENDERER" + n + "_DESC").c_str()),
                     UPNP_KIND_MEDIA_RENDERER});
  }
  return peers;
}

// max-age announced in the NOTIFYs of `udn`, or -1.
int announced_max_age(const std::vector<Heard> &heard, const std::string &udn) {
  for (const Heard &h : heard) {
    if (h.text.find("USN: " + udn) == std::string::npos) continue;
    size_t at = h.text.find("max-age=");
    if (at != std::string::npos) return std::atoi(h.text.c_str() + at + 8);
  }
  return -1;
}

class LabTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (env("LAB_NS_PID").empty()) GTEST_SKIP() << "runs only inside the lab (tests/lab/lab.sh run ...)";
    upnp_mem_init();
    upnp_ini_file_init();
    upnp_ini_file_dmc_init();
    upnp_ini_file_setPropertyByKey(INI_HTTPPORT, "9020");
    upnp_cp_ssdp_init(0);
    upnp_control_record_reset();
  }
  void TearDown() override {
    upnp_server_stop(UPNP_SERVER_RUNNING);
    upnp_ini_file_release_on_exit();
  }
};

}  // namespace

TEST_F(LabTest, EveryPeerIsAddedWithItsLocationUdnInterfaceAndValidity) {
  GroupListener listener(env("LAB_ADDR"));
  ASSERT_TRUE(listener.ok());
  const std::vector<Peer> peers = lab_peers();
  ASSERT_GE(peers.size(), 2u);
  upnp_server_start(UPNP_SERVER_RUNNING);
  auto found = [&](const Peer &peer) {
    for (const upnp_control_call &call : ssdp_test::calls()) {
      if (call.added && call.kind == peer.kind && peer.udn == call.udn) return true;
    }
    return false;
  };
  ASSERT_TRUE(wait_until(
      [&] {
        for (const Peer &peer : peers) {
          if (!found(peer)) return false;
        }
        return true;
      },
      20000));
  const std::string interface = env("LAB_ADDR") + ":9020";
  std::vector<Heard> heard = listener.heard();
  for (const Peer &peer : peers) {
    for (const upnp_control_call &call : ssdp_test::calls()) {
      if (!call.added || peer.udn != call.udn) continue;
      EXPECT_EQ(call.kind, peer.kind) << peer.udn;
      EXPECT_EQ(peer.desc, call.location) << peer.udn;
      EXPECT_EQ(interface, call.interface) << peer.udn;
      int max_age = announced_max_age(heard, peer.udn);
      EXPECT_GE(call.validity_seconds, 60u);
      if (max_age >= 60) {
        EXPECT_EQ(call.validity_seconds, static_cast<unsigned int>(max_age)) << peer.udn;
      }
    }
  }
  // Nothing but the lab's peers, and nothing of another kind.
  for (const upnp_control_call &call : ssdp_test::calls()) {
    bool known = false;
    for (const Peer &peer : peers) known = known || (peer.udn == call.udn && peer.kind == call.kind);
    EXPECT_TRUE(known) << call.udn << " kind " << call.kind;
  }

  // Our own M-SEARCH packets, heard in the namespace: exact texts in burst
  // order, from the search socket on the lab address.
  std::vector<Heard> searches;
  wait_until(
      [&] {
        searches.clear();
        for (const Heard &h : listener.heard()) {
          if (h.text.rfind("M-SEARCH", 0) == 0 && h.from == env("LAB_ADDR")) searches.push_back(h);
        }
        return searches.size() >= 8;
      },
      10000);
  ASSERT_GE(searches.size(), 8u);
  for (size_t i = 0; i < 8; ++i) {
    EXPECT_EQ(searches[i].text, ssdp_request_text(static_cast<int>(SSDP_REQ_RENDERER_SHORT + i % 4))) << i;
    EXPECT_GE(searches[i].port, SSDP_SEARCH_PORT_FIRST);
    EXPECT_LE(searches[i].port, SSDP_SEARCH_PORT_LAST);
  }
}

TEST_F(LabTest, StoppedPeerIsDeletedOnItsByebye) {
  // An extra renderer of our own in the peers' namespace, ended after it
  // has been seen.
  const std::string udn = "uuid:0ab0c0d0-0000-4000-8000-00000000ab99";
  const std::string ns = "/proc/" + env("LAB_PEERS_NS_PID") + "/ns/net";
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    int null = open("/dev/null", O_RDWR);
    dup2(null, 1);
    dup2(null, 2);
    int fd = open(ns.c_str(), O_RDONLY);
    if (fd < 0 || setns(fd, CLONE_NEWNET) != 0) _exit(126);
    execlp("gmediarender", "gmediarender", "-I", env("LAB_PEER_IFACE").c_str(), "-p", "49599", "-f", "SSDP Test Renderer",
           "-u", udn.substr(5).c_str(), "--gstout-audiopipe=fakesink", "--gstout-videopipe=fakesink",
           static_cast<char *>(nullptr));
    _exit(127);
  }
  ssdp_test::LogFile log;
  upnp_server_start(UPNP_SERVER_RUNNING);
  auto seen = [&](int added) {
    for (const upnp_control_call &call : ssdp_test::calls()) {
      if (call.added == added && udn == call.udn && call.kind == UPNP_KIND_MEDIA_RENDERER &&
          (added || call.found)) {
        return true;
      }
    }
    return false;
  };
  // Its alive announcements (or the answers to our searches, repeated here).
  bool added = wait_until(
      [&] {
        if (seen(1)) return true;
        M_Search(0);
        return false;
      },
      20000);
  // gmediarender says byebye on an interrupt once it is fully up (it
  // answers searches a little before its signal handling is in place).
  std::this_thread::sleep_for(std::chrono::seconds(3));
  kill(child, SIGINT);
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(added) << "the extra renderer was not reported";
  EXPECT_TRUE(wait_until([&] { return seen(0); }, 10000)) << "no byebye handled for " << udn << "\n"
                                                         << log.text().substr(log.text().size() > 6000 ? log.text().size() - 6000 : 0);
  EXPECT_EQ(upnp_control_record_device_count(UPNP_KIND_MEDIA_RENDERER), std::atoi(env("LAB_RENDERERS").c_str()));
}

TEST_F(LabTest, MacOfAPeerFromTheNeighbourTable) {
  char mac[UPNP_MAC_TEXT_SIZE];
  ASSERT_EQ(GetMACaddress(env("LAB_PEER_ADDR").c_str(), mac), 1) << "ping or neighbour table";
  // The peers' side of the veth pair, as the kernel of that namespace says.
  std::string command = "nsenter -t " + env("LAB_PEERS_NS_PID") + " -n ip -o link show " + env("LAB_PEER_IFACE");
  FILE *pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  char line[512] = "";
  ASSERT_NE(fgets(line, sizeof line, pipe), nullptr);
  pclose(pipe);
  const char *ether = std::strstr(line, "link/ether ");
  ASSERT_NE(ether, nullptr) << line;
  std::string expected(ether + 11, 17);
  for (char &c : expected) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  EXPECT_EQ(expected, mac);
}
