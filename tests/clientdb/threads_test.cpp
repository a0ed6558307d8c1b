// Recognition and administration on several threads at once: every client
// ends up with exactly one record and the file matches the list.
#include <thread>
#include <vector>

#include <atomic>
#include <chrono>

#include "clientdb_test_util.h"
#include "http/http_client.h"

using cdbtest::take;

namespace {
const char *kDb = ">>\n>>\nNA:Fallback\n>>\nHH:DLNADOC/1.50\nNA:DLNA\n>>\nHH:Box\nNA:Box\nDB:FIX\n>>\n";
constexpr int kThreads = 4;
constexpr int kClientsPerThread = 20;
}  // namespace

TEST_F(ClientDbTest, ConcurrentRecognitionKeepsOneRecordPerClient) {
  ASSERT_EQ(load(kDb), 4);
  upnp_client_db_set_autoenable(0);
  for (int t = 0; t < kThreads; ++t) {
    for (int i = 0; i < kClientsPerThread; ++i) {
      char ip[32], mac[18];
      snprintf(ip, sizeof ip, "10.0.%d.%d", t, i + 1);
      snprintf(mac, sizeof mac, "00:00:00:00:%02X:%02X", t, i + 1);
      cdbtest::mac_table()[ip] = mac;
    }
  }
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      for (int round = 0; round < 3; ++round) {
        for (int i = 0; i < kClientsPerThread; ++i) {
          char ip[32];
          snprintf(ip, sizeof ip, "10.0.%d.%d", t, i + 1);
          const uint32_t type = upnp_client_db_add_by_ip("http://10.0.0.250/", ip, "GET / HTTP/1.1\r\nUser-Agent: Box\r\n");
          EXPECT_EQ(type, 3u);
          take(upnp_client_enable_by_ip(ip, round % 2));
          upnp_client_db_access_allowed(ip);
        }
        take(upnp_get_connected_client_list());
      }
    });
  }
  for (auto &th : threads) th.join();
  const std::string list = take(upnp_get_connected_client_list());
  size_t records = 0;
  for (size_t at = list.find("##########"); at != std::string::npos; at = list.find("##########", at + 1)) ++records;
  EXPECT_EQ(records, static_cast<size_t>(kThreads * kClientsPerThread));
  // The file holds the same list.
  upnp_client_db_exit();
  ASSERT_EQ(load(kDb), 4);
  EXPECT_EQ(take(upnp_get_connected_client_list()), list);
}

TEST_F(ClientDbTest, SsdpExaminationsOnDetachedThreadsEachFetchOnce) {
  ASSERT_EQ(load(">>\n>>\nNA:Fallback\n>>\nDD:<modelName>Frame</modelName>\nNA:Frame\n>>\n"), 3);
  static std::atomic<int> fetches{0};
  fetches = 0;
  g_cdb_fetch = [](const char *) -> char * {
    ++fetches;
    return upnp_strdup_impl("<root><friendlyName>F</friendlyName><modelName>Frame</modelName></root>");
  };
  cdbtest::mac_table()["10.0.0.30"] = "AA:BB:CC:DD:EE:01";
  const char *alive = "LOCATION: http://10.0.0.30:49152/d.xml\r\nUSN: uuid:abcdefgh-0001::upnp:rootdevice\r\n";
  for (int i = 0; i < 8; ++i) upnp_client_db_add_by_ssdp_alive(alive);
  // Wait (bounded) for the record, then a little longer for stragglers.
  for (int i = 0; i < 200; ++i) {
    char *name = upnp_client_get_friendlyname(2);
    upnp_free_impl(name);
    if (name != nullptr) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(fetches.load(), 1);
  EXPECT_EQ(take(upnp_client_get_friendlyname(2)), "F");
  g_cdb_fetch = HTTP_get;
}
