// The host's own addresses (from the network runtime's interface table) and
// the MAC lookup (table parser, address checks, the kernel's neighbour table
// inside a private network namespace).
#include "base/upnp_local_addr.h"
#include "base/upnp_mac.h"
#include "base/upnp_mac_platform.h"
#include "base/upnp_mem.h"
#include "ssdp/upnp_ssdp_interfaces.h"

#include <gtest/gtest.h>

#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Fills the interface table as a stack start would.
class LocalAddrTest : public ::testing::Test {
 protected:
  void SetUp() override { upnp_mem_init(); }
  void TearDown() override { set({}); }

  static void set(const std::vector<std::pair<std::string, unsigned int>> &entries) {
    upnp_interfaces_lock();
    for (int i = 0; i < UPNP_MAX_INTERFACES; ++i) {
      std::memset(g_Interfaces[i].address, 0, sizeof g_Interfaces[i].address);
      g_Interfaces[i].http_port = 0;
      if (i < static_cast<int>(entries.size())) {
        std::strncpy(g_Interfaces[i].address, entries[i].first.c_str(), UPNP_IP_TEXT_SIZE - 1);
        g_Interfaces[i].http_port = entries[i].second;
      }
    }
    g_nInterfaceCount.store(static_cast<int>(entries.size()));
    upnp_interfaces_unlock();
  }

  static std::string take(char *copy) {
    std::string text = copy != nullptr ? copy : "<none>";
    upnp_free_impl(copy);
    return text;
  }
};

}  // namespace

TEST_F(LocalAddrTest, IsLocalIpComparesWholeAddresses) {
  set({{"192.168.1.1", 9020}, {"10.0.0.2", 9021}});
  EXPECT_EQ(is_local_ip("192.168.1.1"), 1);
  EXPECT_EQ(is_local_ip("10.0.0.2"), 1);
  EXPECT_EQ(is_local_ip("192.168.1.10"), 0);
  EXPECT_EQ(is_local_ip("192.168.1."), 0);
  EXPECT_EQ(is_local_ip(nullptr), 0);
  set({});
  EXPECT_EQ(is_local_ip("192.168.1.1"), 0) << "a stopped stack has no addresses";
}

TEST_F(LocalAddrTest, UsedLocalIpSkipsAnAddressFollowedByADigit) {
  set({{"192.168.1.1", 9020}, {"192.168.1.10", 9021}});
  EXPECT_EQ(take(upnp_get_used_local_ip("http://192.168.1.10:9021/desc.xml")), "192.168.1.10");
  EXPECT_EQ(take(upnp_get_used_local_ip("http://192.168.1.1:9020/")), "192.168.1.1");
  EXPECT_EQ(take(upnp_get_used_local_ip("192.168.1.1")), "192.168.1.1") << "at the very end";
  EXPECT_EQ(take(upnp_get_used_local_ip("http://192.168.1.100/ and 192.168.1.1/")), "192.168.1.1")
      << "a later occurrence of the same address counts";
  EXPECT_EQ(take(upnp_get_used_local_ip("http://192.168.1.123/")), "<none>");
  EXPECT_EQ(take(upnp_get_used_local_ip(nullptr)), "<none>");
}

TEST_F(LocalAddrTest, IsMyServerNeedsAddressAndPort) {
  set({{"192.168.1.3", 9020}});
  EXPECT_EQ(upnp_is_my_server("192.168.1.3", 9020), 1);
  EXPECT_EQ(upnp_is_my_server("192.168.1.3", 9021), 0);
  EXPECT_EQ(upnp_is_my_server("192.168.1.30", 9020), 0);
  EXPECT_EQ(upnp_is_my_server(nullptr, 9020), 0);
}

TEST_F(LocalAddrTest, MatchingLocalServerBySlash24Prefix) {
  set({{"10.1.2.3", 9000}, {"192.168.1.3", 9020}, {"192.168.1.77", 9030}});
  char *local = nullptr;
  unsigned int port = 1;
  int reserved = 5;
  EXPECT_EQ(upnp_get_matching_local_server("192.168.1.77", &local, &port, &reserved), 0);
  EXPECT_EQ(take(local), "192.168.1.3") << "the first entry of the network";
  EXPECT_EQ(port, 9020u);
  EXPECT_EQ(reserved, 0);

  set({{"192.168.1.3", 9020}, {"192.168.2.3", 9021}});
  EXPECT_EQ(upnp_get_matching_local_server("10.0.0.5", &local, &port, &reserved), 14);
  EXPECT_EQ(local, nullptr);
  EXPECT_EQ(port, 0u);
  EXPECT_EQ(upnp_get_matching_local_server("192168", &local, &port, nullptr), 14) << "no dot";
  EXPECT_EQ(upnp_get_matching_local_server("host.lan", &local, &port, nullptr), 2) << "no leading digit";
  EXPECT_EQ(upnp_get_matching_local_server("", &local, &port, nullptr), 2);
  EXPECT_EQ(upnp_get_matching_local_server(nullptr, &local, &port, nullptr), 2);
  EXPECT_EQ(upnp_get_matching_local_server("192.168.11.5", &local, &port, nullptr), 14)
      << "192.168.1. is no prefix of 192.168.11.";
  EXPECT_EQ(upnp_get_matching_local_server("192.168.2.200", nullptr, &port, nullptr), 0);
  EXPECT_EQ(port, 9021u);

  EXPECT_EQ(upnp_server_is_local_network("192.168.2.9"), 1);
  EXPECT_EQ(upnp_server_is_local_network("192.168.3.9"), 0);
  EXPECT_EQ(take(upnp_get_matching_local_ip("192.168.2.9")), "192.168.2.3");
  EXPECT_EQ(take(upnp_get_matching_local_ip("172.16.0.1")), "<none>");
}

TEST(MacTable, LinuxNeighbourTable) {
  const char *table =
      "IP address       HW type     Flags       HW address            Mask     Device\n"
      "192.168.1.10     0x1         0x2         aa:bb:cc:dd:ee:0f     *        eth0\n"
      "192.168.1.1      0x1         0x2         00:1b:2c:3d:4e:5f     *        eth0\n"
      "192.168.1.20     0x1         0x0         00:00:00:00:00:00     *        eth0\n";
  char mac[UPNP_MAC_TEXT_SIZE];
  EXPECT_EQ(upnp_mac_find_in_table(table, "192.168.1.1", mac), 1);
  EXPECT_STREQ(mac, "00:1B:2C:3D:4E:5F") << "192.168.1.10's line must not match 192.168.1.1";
  EXPECT_EQ(upnp_mac_find_in_table(table, "192.168.1.10", mac), 1);
  EXPECT_STREQ(mac, "AA:BB:CC:DD:EE:0F");
  EXPECT_EQ(upnp_mac_find_in_table(table, "192.168.1.20", mac), 0) << "incomplete entry";
  EXPECT_STREQ(mac, "");
  EXPECT_EQ(upnp_mac_find_in_table(table, "192.168.1.2", mac), 0);
}

TEST(MacTable, ArpListingWithShortGroups) {
  const char *table =
      "? (10.0.0.1) at 0:1b:2c:3:4e:5f on en0 ifscope [ethernet]\n"
      "? (10.0.0.2) at (incomplete) on en0 ifscope [ethernet]\n"
      "? (10.0.0.3) at ff:ff:ff:ff:ff:ff on en0 ifscope [ethernet]\n";
  char mac[UPNP_MAC_TEXT_SIZE];
  EXPECT_EQ(upnp_mac_find_in_table(table, "10.0.0.1", mac), 1);
  EXPECT_STREQ(mac, "00:1B:2C:03:4E:5F");
  EXPECT_EQ(upnp_mac_find_in_table(table, "10.0.0.2", mac), 0);
  EXPECT_EQ(upnp_mac_find_in_table(table, "10.0.0.3", mac), 1);
  EXPECT_STREQ(mac, "FF:FF:FF:FF:FF:FF");
  EXPECT_EQ(upnp_mac_find_in_table("? (10.0.0.4) at 1:2:3:4:5 on en0\n", "10.0.0.4", mac), 0) << "five groups";
  EXPECT_EQ(upnp_mac_find_in_table("? (10.0.0.4) at 123:2:3:4:5:6 on en0\n", "10.0.0.4", mac), 0);
  EXPECT_EQ(upnp_mac_find_in_table("10.0.0.5 0x1 0x2 aa:bb:cc:dd:ee:ff", "10.0.0.5", mac), 1) << "no final newline";
  EXPECT_EQ(upnp_mac_find_in_table("", "10.0.0.5", mac), 0);
}

TEST(MacAddress, OnlyDottedIpv4AddressesAreLookedUp) {
  EXPECT_EQ(upnp_mac_is_dotted_ipv4("192.168.1.1"), 1);
  EXPECT_EQ(upnp_mac_is_dotted_ipv4("0.0.0.0"), 1);
  for (const char *bad : {"", "1.2.3", "1.2.3.4.5", "256.1.1.1", "1.2.3.4 ", "-c 1", "1.2.3.4;reboot", "01234.1.1.1",
                          "a.b.c.d", "1..2.3", "$(id)"}) {
    EXPECT_EQ(upnp_mac_is_dotted_ipv4(bad), 0) << bad;
  }
  char mac[UPNP_MAC_TEXT_SIZE] = "junk";
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(GetMACaddress("127.0.0.1", mac), 0);
  EXPECT_STREQ(mac, "");
  std::strcpy(mac, "junk");
  EXPECT_EQ(GetMACaddress("", mac), 0);
  EXPECT_STREQ(mac, "");
  EXPECT_EQ(GetMACaddress("1.2.3.4;touch /tmp/x", mac), 0);
  EXPECT_EQ(GetMACaddress(nullptr, mac), 0);
  EXPECT_EQ(GetMACaddress("1.2.3.4", nullptr), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500))
      << "nothing is run for refused addresses";
}

namespace {

// In a child with a network namespace of its own: a veth pair, a permanent
// neighbour entry, and the lookup of it and of an address nobody answers.
int mac_in_private_namespace() {
  if (unshare(CLONE_NEWNET) != 0) return 77;
  const char *setup =
      "ip link set lo up && ip link add kv0 type veth peer name kv1 && ip link set kv0 up && ip link set kv1 up && "
      "ip addr add 169.254.9.1/24 dev kv0 && "
      "ip neigh add 169.254.9.9 lladdr 02:a1:b2:c3:d4:e5 dev kv0 nud permanent";
  if (std::system(setup) != 0) return 2;
  char mac[UPNP_MAC_TEXT_SIZE];
  if (GetMACaddress("169.254.9.9", mac) != 1) return 3;
  if (std::strcmp(mac, "02:A1:B2:C3:D4:E5") != 0) return 4;
  // Nobody has 169.254.9.50: the echo request goes out, the table gets an
  // incomplete (all-zero) entry or none, and the answer stays 0.
  if (GetMACaddress("169.254.9.50", mac) != 0 || mac[0] != '\0') return 5;
  return 0;
}

}  // namespace

TEST(MacAddress, KernelNeighbourTableInAPrivateNamespace) {
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) _exit(mac_in_private_namespace());
  int status = 0;
  ASSERT_EQ(child, waitpid(child, &status, 0));
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "no network namespace (needs root)";
  EXPECT_EQ(0, WEXITSTATUS(status)) << "failed at step " << WEXITSTATUS(status);
}
