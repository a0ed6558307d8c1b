// Sessions of the XML interface: polling, the replace and drop rules of the
// event lists, their bound, the "Added" burst, web-client sessions beside
// the API session, and events posted from several threads while a client
// drains.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "nmc/lm_nmc.h"
#include "nmc/lm_nmc_api.h"
#include "nmc/lm_nmc_devices.h"
#include "nmc/lm_nmc_events.h"
#include "nmc/lm_nmc_notify.h"
#include "nmc/lm_nmc_sessions.h"
#include "nmc_test_util.h"
#include "support_mem.h"

namespace {

const int kServer = 1;    // UPNP_CP_KIND_SERVER
const int kRenderer = 2;  // UPNP_CP_KIND_RENDERER

std::string query(const std::string &xml, int session = NMC_API_SESSION) {
  std::string response;
  if (!nmc_api_query_session(xml.c_str(), session, &response)) return "<none>";
  return response;
}

std::string ok(const char *command, const std::string &body = "") {
  return std::string("<") + command + ">" + body + "<Result code=\"0\">OK</Result></" + command + ">";
}

std::string added(int kind, int index, const char *name) {
  return nmc_event_added(kind, index, "uuid:x", name, "http://10.1.2.3:80/");
}
std::string removed(int kind, int index, const char *name) { return nmc_event_removed(kind, index, name); }

class NmcSessionTest : public nmc_test::NmcTest {
 protected:
  void SetUp() override {
    NmcTest::SetUp();
    nmc_notifiers_set_start_delay(0);
    ASSERT_EQ(start(), 1);
  }
};

TEST_F(NmcSessionTest, ReplaceAndDropRules) {
  const std::string a1 = added(kServer, 1, "A"), a1b = added(kServer, 1, "B"), r1 = removed(kServer, 1, "A");
  const std::string ra1 = added(kRenderer, 1, "R"), rr1 = removed(kRenderer, 1, "R"), rr1b = removed(kRenderer, 1, "Q");
  const struct {
    const char *what;
    std::vector<std::string> posted;
    std::string waiting;
  } cases[] = {
      {"added then removed holds neither", {a1, r1}, ""},
      {"removed then added holds neither", {rr1, ra1}, ""},
      {"added twice keeps the newer text", {a1, a1b}, a1b},
      {"removed twice keeps the newer text", {rr1, rr1b}, rr1b},
      {"same index of the other kind is another device", {a1, ra1, r1}, ra1},
      {"added, removed, added again", {a1, r1, a1b}, a1b},
      {"updates never meet device events", {a1, "<ServerUpdated><Index>1</Index></ServerUpdated>", r1}, ""},
  };
  for (const auto &c : cases) {
    ASSERT_EQ(query("<ChangePolling><Polling>1</Polling></ChangePolling>"), ok("ChangePolling")) << c.what;
    for (const std::string &text : c.posted) nmc_sessions_post(text.c_str());
    EXPECT_EQ(query("<GetNetworkEvents/>"), ok("GetNetworkEvents", c.waiting)) << c.what;
    query("<GetServerEvents/>");
    ASSERT_EQ(query("<ChangePolling><Polling>0</Polling></ChangePolling>"), ok("ChangePolling")) << c.what;
  }
}

TEST_F(NmcSessionTest, ListsBoundedAndKeptOnlyWhilePolling) {
  nmc_sessions_post("<RendererUpdated><Index>1</Index></RendererUpdated>");
  EXPECT_EQ(query("<GetRendererEvents/>"), ok("GetRendererEvents"));
  // A malformed polling value answers 2 and leaves polling off.
  for (const char *bad : {"<ChangePolling/>", "<ChangePolling><Polling>yes</Polling></ChangePolling>",
                          "<SetSessionInfo/>", "<SetSessionInfo><Name>n</Name><Polling>2</Polling></SetSessionInfo>"}) {
    EXPECT_NE(query(bad).find("<Result code=\"2\">"), std::string::npos) << bad;
  }
  EXPECT_NE(query("<GetSessionInfo/>").find("<Name></Name><Polling>0</Polling>"), std::string::npos);

  ASSERT_EQ(query("<SetSessionInfo><Polling>true</Polling></SetSessionInfo>"), ok("SetSessionInfo"));
  const unsigned total = NMC_SESSION_EVENT_BOUND + 40;
  for (unsigned i = 0; i < total; ++i) {
    nmc_sessions_post(("<RendererUpdated><Index>" + std::to_string(i) + "</Index></RendererUpdated>").c_str());
    nmc_sessions_post(("<ServerUpdated><Index>" + std::to_string(i) + "</Index></ServerUpdated>").c_str());
  }
  std::vector<std::string> kept = nmc_sessions_drain(NMC_API_SESSION, NMC_EVENTS_RENDERER);
  ASSERT_EQ(kept.size(), NMC_SESSION_EVENT_BOUND);
  EXPECT_EQ(kept.front(), "<RendererUpdated><Index>40</Index></RendererUpdated>");
  EXPECT_EQ(kept.back(), "<RendererUpdated><Index>" + std::to_string(total - 1) + "</Index></RendererUpdated>");
  EXPECT_EQ(nmc_sessions_drain(NMC_API_SESSION, NMC_EVENTS_SERVER).size(), NMC_SESSION_EVENT_BOUND);
  EXPECT_TRUE(nmc_sessions_drain(NMC_API_SESSION, NMC_EVENTS_NETWORK).empty());
}

TEST_F(NmcSessionTest, PollingStartsWithAddedBurstServersFirst) {
  ASSERT_EQ(nmc_devices_add(NMC_SIDE_RENDERER, 4, "uuid:r", "rend"), NMC_ADD_ADDED);
  ASSERT_EQ(nmc_devices_add(NMC_SIDE_SERVER, 7, "uuid:s2", "b<2>"), NMC_ADD_ADDED);
  ASSERT_EQ(nmc_devices_add(NMC_SIDE_SERVER, 3, "uuid:s1", "A1"), NMC_ADD_ADDED);
  nmc_sessions_post(added(kServer, 9, "before polling").c_str());
  ASSERT_EQ(query("<ChangePolling><Polling>1</Polling></ChangePolling>"), ok("ChangePolling"));
  // Switching on again neither repeats the burst nor empties the lists.
  ASSERT_EQ(query("<ChangePolling><Polling>1</Polling></ChangePolling>"), ok("ChangePolling"));
  EXPECT_EQ(query("<GetNetworkEvents/>"),
            ok("GetNetworkEvents", nmc_event_added(kServer, 3, "uuid:s1", "A1", "") +
                                       nmc_event_added(kServer, 7, "uuid:s2", "b<2>", "") +
                                       nmc_event_added(kRenderer, 4, "uuid:r", "rend", "")));
  EXPECT_EQ(query("<GetNetworkEvents/>"), ok("GetNetworkEvents"));
}

TEST_F(NmcSessionTest, WebClientSessionsKeepTheirOwnLists) {
  const int web = nmc_sessions_open(17, "10.0.0.9");
  ASSERT_GT(web, 0);
  EXPECT_EQ(query("<SetSessionInfo><Name>a&amp;b</Name><Polling>1</Polling></SetSessionInfo>", web),
            ok("SetSessionInfo"));
  EXPECT_NE(query("<GetSessionInfo/>", web).find("<ClientID>10.0.0.9</ClientID><Name>a&amp;b</Name><Polling>1"),
            std::string::npos);
  EXPECT_NE(query("<GetSessionInfo/>").find("<ClientID>TAG_LOCAL_API</ClientID><Name></Name><Polling>0"),
            std::string::npos);
  char clients[512] = "";
  ASSERT_EQ(lm_nmc_ioctl(0, "GetNMCClients", sizeof clients, clients), 0u);
  EXPECT_NE(std::string(clients).find("   2:\t10.0.0.9\t"), std::string::npos) << clients;

  const std::string event = removed(kRenderer, 2, "gone");
  nmc_sessions_post(event.c_str());
  EXPECT_EQ(query("<GetNetworkEvents/>"), ok("GetNetworkEvents"));
  EXPECT_EQ(query("<GetNetworkEvents/>", web), ok("GetNetworkEvents", event));
  nmc_sessions_close(web);
  EXPECT_EQ(query("<GetSessionInfo/>", web), "<none>");
  EXPECT_EQ(nmc_sessions_open(18, "x"), web + 1);
}

// Control point threads post while the client drains: nothing is lost or
// doubled below the bound.
TEST_F(NmcSessionTest, ConcurrentPostsAndDrains) {
  ASSERT_EQ(query("<ChangePolling><Polling>1</Polling></ChangePolling>"), ok("ChangePolling"));
  const int threads = 4, each = 50;
  std::vector<std::thread> posters;
  for (int t = 0; t < threads; ++t) {
    posters.emplace_back([t] {
      for (int i = 0; i < each; ++i) {
        nmc_sessions_post(("<RendererUpdated><Index>" + std::to_string(t * 1000 + i) + "</Index></RendererUpdated>")
                              .c_str());
      }
    });
  }
  size_t received = 0;
  for (int round = 0; round < 20; ++round) received += nmc_sessions_drain(NMC_API_SESSION, NMC_EVENTS_RENDERER).size();
  for (std::thread &poster : posters) poster.join();
  received += nmc_sessions_drain(NMC_API_SESSION, NMC_EVENTS_RENDERER).size();
  EXPECT_EQ(received, static_cast<size_t>(threads * each));
}

}  // namespace
