// Sessions of the XML interface: the replace and drop rules and the bound
// of the polling lists, the "Added" burst, web-client sessions beside the
// API session, and posts from several threads while a client drains.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "nmc/lm_nmc_api.h"
#include "nmc/lm_nmc_devices.h"
#include "nmc/lm_nmc_events.h"
#include "nmc/lm_nmc_notify.h"
#include "nmc/lm_nmc_sessions.h"
#include "nmc_test_util.h"

namespace {

const int kServer = 1, kRenderer = 2;  // control point device kinds

std::string query(const std::string &xml, int session = NMC_API_SESSION) {
  std::string response;
  return nmc_api_query_session(xml.c_str(), session, &response) ? response : "<none>";
}
std::string ok(const char *command, const std::string &body = "") {
  return std::string("<") + command + ">" + body + "<Result code=\"0\">OK</Result></" + command + ">";
}
std::string polling(int on) {
  return query("<ChangePolling><Polling>" + std::to_string(on) + "</Polling></ChangePolling>");
}
std::string added(int kind, int index, const char *name) {
  return nmc_event_added(kind, index, "uuid:x", name, "http://10.1.2.3:80/");
}
std::string updated(const char *root, unsigned i) {
  return std::string("<") + root + "><Index>" + std::to_string(i) + "</Index></" + root + ">";
}

class NmcSessionTest : public nmc_test::NmcTest {
 protected:
  void SetUp() override {
    NmcTest::SetUp();
    nmc_notifiers_set_start_delay(0);
    ASSERT_EQ(start(), 1);
  }
};

TEST_F(NmcSessionTest, ReplaceAndDropRules) {
  const std::string a1 = added(kServer, 1, "A"), a1b = added(kServer, 1, "B"), r1 = nmc_event_removed(kServer, 1, "A");
  const std::string ra1 = added(kRenderer, 1, "R"), rr1 = nmc_event_removed(kRenderer, 1, "R"),
                    rr1b = nmc_event_removed(kRenderer, 1, "Q");
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
      {"updates never meet device events", {a1, updated("ServerUpdated", 1), r1}, ""},
  };
  for (const auto &c : cases) {
    ASSERT_EQ(polling(1), ok("ChangePolling")) << c.what;
    for (const std::string &text : c.posted) nmc_sessions_post(text.c_str());
    EXPECT_EQ(query("<GetNetworkEvents/>"), ok("GetNetworkEvents", c.waiting)) << c.what;
    ASSERT_EQ(polling(0), ok("ChangePolling")) << c.what;
  }
}

TEST_F(NmcSessionTest, ListsKeptOnlyWhilePollingAndBounded) {
  nmc_sessions_post(updated("RendererUpdated", 1).c_str());
  for (const char *bad : {"<ChangePolling/>", "<ChangePolling><Polling>yes</Polling></ChangePolling>",
                          "<SetSessionInfo/>", "<SetSessionInfo><Name>n</Name><Polling>2</Polling></SetSessionInfo>"}) {
    EXPECT_NE(query(bad).find("<Result code=\"2\">"), std::string::npos) << bad;
  }
  EXPECT_NE(query("<GetSessionInfo/>").find("<Name></Name><Polling>0</Polling>"), std::string::npos);
  ASSERT_EQ(query("<SetSessionInfo><Polling>true</Polling></SetSessionInfo>"), ok("SetSessionInfo"));
  EXPECT_EQ(query("<GetRendererEvents/>"), ok("GetRendererEvents"));
  const unsigned total = NMC_SESSION_EVENT_BOUND + 40;
  for (unsigned i = 0; i < total; ++i) nmc_sessions_post(updated("RendererUpdated", i).c_str());
  nmc_sessions_post(updated("ServerUpdated", 1).c_str());
  std::vector<std::string> kept = nmc_sessions_drain(NMC_API_SESSION, NMC_EVENTS_RENDERER);
  ASSERT_EQ(kept.size(), NMC_SESSION_EVENT_BOUND);
  EXPECT_EQ(kept.front(), updated("RendererUpdated", 40));
  EXPECT_EQ(kept.back(), updated("RendererUpdated", total - 1));
  EXPECT_EQ(query("<GetServerEvents/>"), ok("GetServerEvents", updated("ServerUpdated", 1)));
}

TEST_F(NmcSessionTest, PollingStartsWithAddedBurstServersFirst) {
  ASSERT_EQ(nmc_devices_add(NMC_SIDE_RENDERER, 4, "uuid:r", "rend"), NMC_ADD_ADDED);
  ASSERT_EQ(nmc_devices_add(NMC_SIDE_SERVER, 7, "uuid:s2", "b<2>"), NMC_ADD_ADDED);
  ASSERT_EQ(nmc_devices_add(NMC_SIDE_SERVER, 3, "uuid:s1", "A1"), NMC_ADD_ADDED);
  ASSERT_EQ(polling(1), ok("ChangePolling"));
  ASSERT_EQ(polling(1), ok("ChangePolling"));  // no second burst
  EXPECT_EQ(query("<GetNetworkEvents/>"),
            ok("GetNetworkEvents", nmc_event_added(kServer, 3, "uuid:s1", "A1", "") +
                                       nmc_event_added(kServer, 7, "uuid:s2", "b<2>", "") +
                                       nmc_event_added(kRenderer, 4, "uuid:r", "rend", "")));
}

TEST_F(NmcSessionTest, WebClientSessionsKeepTheirOwnLists) {
  const int web = nmc_sessions_open(17, "10.0.0.9");
  ASSERT_GT(web, 0);
  EXPECT_EQ(query("<SetSessionInfo><Name>a&amp;b</Name><Polling>1</Polling></SetSessionInfo>", web),
            ok("SetSessionInfo"));
  EXPECT_NE(query("<GetSessionInfo/>", web).find("<ClientID>10.0.0.9</ClientID><Name>a&amp;b</Name><Polling>1"),
            std::string::npos);
  const std::string event = nmc_event_removed(kRenderer, 2, "gone");
  nmc_sessions_post(event.c_str());
  EXPECT_EQ(query("<GetNetworkEvents/>"), ok("GetNetworkEvents"));
  EXPECT_EQ(query("<GetNetworkEvents/>", web), ok("GetNetworkEvents", event));
  nmc_sessions_close(web);
  EXPECT_EQ(query("<GetSessionInfo/>", web), "<none>");
}

// Control point threads post while the client drains: nothing is lost or
// doubled below the bound.
TEST_F(NmcSessionTest, ConcurrentPostsAndDrains) {
  ASSERT_EQ(polling(1), ok("ChangePolling"));
  std::vector<std::thread> posters;
  for (unsigned t = 0; t < 4; ++t) {
    posters.emplace_back([t] {
      for (unsigned i = 0; i < 50; ++i) nmc_sessions_post(updated("RendererUpdated", t * 1000 + i).c_str());
    });
  }
  size_t received = 0;
  for (int round = 0; round < 20; ++round) received += nmc_sessions_drain(NMC_API_SESSION, NMC_EVENTS_RENDERER).size();
  for (std::thread &poster : posters) poster.join();
  received += nmc_sessions_drain(NMC_API_SESSION, NMC_EVENTS_RENDERER).size();
  EXPECT_EQ(received, 200u);
}

}  // namespace
