// Crafted GENA devices on 127.0.0.1 (tests/cp support) through the control
// point and our HTTP server to the contexts: server update identifiers sent
// as real NOTIFYs reach a context only when they grew; names that sort by
// case, accents and equality; the remote-UI server list; GetTransportInfo
// of the XML interface; a request that ends with its session; a
// callback that sleeps holds up only the contexts after it on its side; a
// stop while SOAP calls hang ends within the bound and delivers nothing
// afterwards.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/upnp_mem.h"
#include "base/upnp_thread.h"
#include "cp/upnp_cp.h"
#include "cp/upnp_cp_eventing.h"
#include "cp_eventing_util.h"
#include "cp_test_util.h"
#include "http/http_server.h"
#include "nmc/lm_nmc.h"
#include "nmc/lm_nmc_devices.h"
#include "nmc/lm_nmc_internal.h"
#include "nmc/lm_nmc_api.h"
#include "nmc/lm_nmc_notify.h"
#include "nmc/lm_nmc_ruis.h"
#include "nmc/lm_nmc_sessions.h"
#include "nmc_test_util.h"
#include "support_wait.h"

namespace {

using cp_eventing_test::cds_body;
using cp_eventing_test::GenaDevice;
using cp_eventing_test::rcs_body;
using cp_eventing_test::send_notify;
using test_support::wait_until;
using Clock = std::chrono::steady_clock;

struct Call {
  uint32_t context;
  uint32_t code;
  std::string text;
  Clock::time_point at;
};
std::mutex g_mutex;
std::vector<Call> g_calls;
// A context whose callback sleeps this long (ms) on its first call.
std::atomic<uint32_t> g_sleeper{0xFFFFFFFFu};
std::atomic<int> g_sleep_ms{0};

void record(uint32_t context, uint32_t code, const char *text) {
  {
    std::lock_guard<std::mutex> hold(g_mutex);
    g_calls.push_back(Call{context, code, text != nullptr ? text : "", Clock::now()});
  }
  if (context == g_sleeper.load()) Sleep(static_cast<unsigned int>(g_sleep_ms.exchange(0)));
}

std::vector<Call> calls_of(uint32_t context) {
  std::lock_guard<std::mutex> hold(g_mutex);
  std::vector<Call> out;
  for (const Call &call : g_calls) {
    if (call.context == context) out.push_back(call);
  }
  return out;
}
size_t all_calls() {
  std::lock_guard<std::mutex> hold(g_mutex);
  return g_calls.size();
}

std::string take(char *text) {
  std::string out = text != nullptr ? text : "";
  upnp_free_impl(text);
  return out;
}

class NmcGenaTest : public nmc_test::NmcTest {
 protected:
  void SetUp() override {
    NmcTest::SetUp();
    {
      std::lock_guard<std::mutex> hold(g_mutex);
      g_calls.clear();
    }
    g_sleeper = 0xFFFFFFFFu;
    nmc_notifiers_set_start_delay(0);
    ASSERT_EQ(start(), 1);
    server_socket_ = HTTP_server_open("127.0.0.1", 30000 + static_cast<unsigned int>(getpid()) % 20000);
    ASSERT_GE(server_socket_, 0);
    port_ = static_cast<int>(HTTP_server_port(server_socket_));
    interface_ = "127.0.0.1:" + std::to_string(port_);
  }
  void TearDown() override {
    device_.stall_soap = false;
    NmcTest::TearDown();
    if (server_socket_ >= 0) HTTP_server_close(server_socket_);
  }
  // A device of kind (1 server, 2 renderer, 3 remote-UI server) on the GENA
  // device, added to the
  // control point with our HTTP server as its event callback; its index
  // once ready (-1 when it did not come).
  int add(const std::string &udn, int kind, const std::string &name) {
    std::string tail = udn.substr(udn.size() - 6);
    std::vector<std::string> services = kind == 1   ? std::vector<std::string>{"CM", "CDS"}
                                        : kind == 2 ? std::vector<std::string>{"CM", "RC", "AVT"}
                                                    : std::vector<std::string>{"RUIS"};
    for (const std::string &s : services) {
      device_.put("/" + tail + "/" + s + ".xml", cp_test::scpd({s == "AVT" ? "GetTransportInfo" : "Get"}));
    }
    std::string type = kind == 1   ? "urn:schemas-upnp-org:device:MediaServer:1"
                       : kind == 2 ? "urn:schemas-upnp-org:device:MediaRenderer:1"
                                   : "urn:schemas-upnp-org:device:RemoteUIServerDevice:1";
    device_.put("/" + tail + "/desc.xml", cp_test::description(udn, type, name, services));
    upnp_control_add_device(device_.url("/" + tail + "/desc.xml").c_str(), udn.c_str(), interface_.c_str(), 1800,
                            kind);
    int index = -1;
    wait_until(
        [&] {
          index = upnp_control_get_device_index(udn.c_str(), kind);
          return index >= 0 && upnp_control_get_device_state(index, kind) == UPNP_CP_STATE_READY;
        },
        5000);
    return index;
  }
  // The SID of the device's subscription to service, once the controller's
  // automatic subscription has it.
  std::string sid(int index, int kind, unsigned int service) {
    std::string out;
    wait_until([&] { return !(out = take(upnp_cp_get_service_sid(index, kind, service))).empty(); }, 5000);
    return out;
  }
  static void point_at(uint32_t context, int index) {
    nmc_context *record = nmc_context_find(context);
    ASSERT_NE(record, nullptr);
    record->renderer_index = index;
    nmc_context_release(record);
  }

  GenaDevice device_;
  int server_socket_ = -1;
  int port_ = 0;
  std::string interface_;
};

TEST_F(NmcGenaTest, ServerUpdateIdentifiersReachAContextOnlyWhenTheyGrew) {
  uint32_t mine = 0;
  ASSERT_EQ(lm_dmscp_create_context(&mine), LM_NMC_OK);
  for (uint32_t context : {0u, mine}) ASSERT_EQ(lm_dmscp_register_callback(context, record), LM_NMC_OK);
  const std::string udn = "uuid:nmc-gena-srv-000001";
  int index = add(udn, 1, "Gena Server");
  ASSERT_GE(index, 0);
  const std::string cds = sid(index, 1, UPNP_CP_SERVICE_CDS);
  ASSERT_FALSE(cds.empty());
  for (uint32_t context : {0u, mine}) ASSERT_TRUE(wait_until([&] { return calls_of(context).size() == 1; }, 5000));

  // Sequence numbers in order; identifiers 5, 5, 4, 6, 6, 17 (17 grows
  // beyond 6 as a number, not as a text).
  const int ids[] = {5, 5, 4, 6, 6, 17};
  for (int seq = 0; seq < 6; ++seq) EXPECT_EQ(send_notify(port_, cds, seq, cds_body(ids[seq])), 200) << seq;
  for (uint32_t context : {0u, mine}) ASSERT_TRUE(wait_until([&] { return calls_of(context).size() >= 4; }, 5000));
  ASSERT_TRUE(wait_until([] { return upnp_cp_eventing_queued() == 0 && nmc_notify_pending(NMC_SIDE_SERVER) == 0; },
                         3000));
  Sleep(300);  // time for a delivery that should not come
  for (uint32_t context : {0u, mine}) {
    std::vector<uint32_t> codes;
    for (const Call &call : calls_of(context)) {
      codes.push_back(call.code);
      EXPECT_EQ(call.text, udn + ",0");
    }
    EXPECT_EQ(codes, (std::vector<uint32_t>{4, 1, 1, 1})) << context;
  }
}

TEST_F(NmcGenaTest, NamesSortByCaseAccentsAndEquality) {
  // Arrival order; equal names (case aside) keep it, accented letters do
  // not fold to plain ones and sort after them.
  const struct {
    const char *udn;
    const char *name;
  } servers[] = {
      {"uuid:nmc-sort-srv-000001", "beta"},   {"uuid:nmc-sort-srv-000002", "Alpha"},
      {"uuid:nmc-sort-srv-000003", "\xC3\x89mile"},  // Émile
      {"uuid:nmc-sort-srv-000004", "alpha"},  {"uuid:nmc-sort-srv-000005", "zed"},
      {"uuid:nmc-sort-srv-000006", "ALPHA"},  {"uuid:nmc-sort-srv-000007", "\xC3\xA9mile"},  // émile
  };
  for (const auto &server : servers) ASSERT_GE(add(server.udn, 1, server.name), 0) << server.name;
  const std::vector<std::string> expected = {"uuid:nmc-sort-srv-000002", "uuid:nmc-sort-srv-000004",
                                             "uuid:nmc-sort-srv-000006", "uuid:nmc-sort-srv-000001",
                                             "uuid:nmc-sort-srv-000005", "uuid:nmc-sort-srv-000003",
                                             "uuid:nmc-sort-srv-000007"};
  std::vector<std::string> listed;
  ASSERT_TRUE(wait_until(
      [&] {
        listed.clear();
        for (const nmc_device_view &device : nmc_devices_list(NMC_SIDE_SERVER)) listed.push_back(device.udn);
        return listed.size() == expected.size();
      },
      5000));
  EXPECT_EQ(listed, expected);
  // The XML interface answers in the same order.
  std::string response = nmc_test::api_query("<GetServerList/>");
  size_t at = 0;
  for (const std::string &udn : expected) {
    size_t found = response.find("<UDN>" + udn + "</UDN>", at);
    ASSERT_NE(found, std::string::npos) << udn << " in order in " << response;
    at = found;
  }
}

TEST_F(NmcGenaTest, RemoteUiServersAreListedUntilRemovedOrStopped) {
  const std::string udn = "uuid:nmc-gena-rui-000001";
  auto listed = [] {
    std::vector<std::string> out;
    for (const nmc_ruis_entry &entry : nmc_ruis_list()) out.push_back(entry.udn + "=" + entry.name);
    return out;
  };
  ASSERT_GE(add(udn, 3, "Panel"), 0);
  ASSERT_TRUE(wait_until([&] { return !listed().empty(); }, 5000));
  EXPECT_EQ(listed(), (std::vector<std::string>{udn + "=Panel"}));
  EXPECT_TRUE(nmc_devices_list(NMC_SIDE_SERVER).empty());
  EXPECT_TRUE(nmc_devices_list(NMC_SIDE_RENDERER).empty());
  Sleep(1100);  // a byebye within a second of the alive is ignored
  ASSERT_EQ(upnp_control_delete_device(udn.c_str(), 3), 1);
  EXPECT_TRUE(wait_until([&] { return listed().empty(); }, 5000));

  ASSERT_GE(add("uuid:nmc-gena-rui-000002", 3, "Other"), 0);
  ASSERT_TRUE(wait_until([&] { return listed().size() == 1; }, 5000));
  ASSERT_TRUE(stop_and_wait());
  EXPECT_TRUE(listed().empty());
}

TEST_F(NmcGenaTest, GetTransportInfoAnswersWhatTheRendererSays) {
  int index = add("uuid:nmc-gena-ren-000001", 2, "Gena Renderer");
  ASSERT_GE(index, 0);
  {
    std::lock_guard<std::mutex> hold(device_.state_mutex);
    device_.transport_state = "PAUSED_PLAYBACK";
  }
  const std::string i = std::to_string(index);
  const struct {
    std::string request;
    std::string response;
  } cases[] = {
      {"<GetTransportInfo><RendererIndex>" + i + "</RendererIndex></GetTransportInfo>",
       "<GetTransportInfo><CurrentTransportState>PAUSED_PLAYBACK</CurrentTransportState><CurrentTransportStatus>OK"
       "</CurrentTransportStatus><CurrentSpeed>1</CurrentSpeed><Result code=\"0\">OK</Result><Index>" + i +
           "</Index></GetTransportInfo>"},
      {"<GetTransportInfo cmdseq=\"7\"/>",
       "<GetTransportInfo cmdseq=\"7\"><Result code=\"1\">No index specified and no default set</Result>"
       "</GetTransportInfo>"},
      {"<GetTransportInfo><RendererIndex>x1</RendererIndex></GetTransportInfo>",
       "<GetTransportInfo><Result code=\"1\">No index specified and no default set</Result></GetTransportInfo>"},
  };
  for (const auto &c : cases) EXPECT_EQ(nmc_test::api_query(c.request), c.response) << c.request;
  std::string unknown = nmc_test::api_query("<GetTransportInfo><RendererIndex>77</RendererIndex></GetTransportInfo>");
  EXPECT_EQ(unknown.find("<Result code=\"0\">"), std::string::npos) << unknown;
  EXPECT_NE(unknown.find("<Index>77</Index>"), std::string::npos) << unknown;
}

// A request of several commands ends when its session is closed while one
// of them waits for a device.
TEST_F(NmcGenaTest, ClosedSessionEndsItsRequest) {
  int index = add("uuid:nmc-gena-ren-000004", 2, "Slow to answer");
  ASSERT_GE(index, 0);
  const int session = nmc_sessions_open(7, "127.0.0.9");
  ASSERT_GT(session, 0);
  const std::string request =
      "<GetTransportInfo><RendererIndex>" + std::to_string(index) + "</RendererIndex></GetTransportInfo><GetVersion/>";
  std::string open_answer;
  ASSERT_TRUE(nmc_api_query_session(request.c_str(), session, &open_answer));
  EXPECT_NE(open_answer.find("</GetTransportInfo><GetVersion>"), std::string::npos) << open_answer;

  device_.stall_soap = true;
  std::string closed_answer;
  std::thread client([&] { nmc_api_query_session(request.c_str(), session, &closed_answer); });
  ASSERT_TRUE(wait_until([&] { return device_.requests("POST").size() >= 2; }, 5000));
  nmc_sessions_close(session);
  device_.stall_soap = false;
  client.join();
  EXPECT_NE(closed_answer.find("<GetTransportInfo>"), std::string::npos) << closed_answer;
  EXPECT_EQ(closed_answer.find("<GetVersion>"), std::string::npos) << closed_answer;
}

// A callback that sleeps holds up the contexts after it on its own side by
// its sleep and no more; the other side's notifier is not held up at all.
TEST_F(NmcGenaTest, SleepingCallbackDelaysOthersByNoMoreThanItself) {
  uint32_t sleeper = 0, other = 0;
  ASSERT_EQ(lm_dmrcp_create_context(&sleeper), LM_NMC_OK);
  ASSERT_EQ(lm_dmrcp_create_context(&other), LM_NMC_OK);
  for (uint32_t context : {sleeper, other}) ASSERT_EQ(lm_dmrcp_register_callback(context, record), LM_NMC_OK);
  ASSERT_EQ(lm_dmscp_register_callback(0, record), LM_NMC_OK);
  g_sleep_ms = 1500;
  g_sleeper = sleeper;
  ASSERT_GE(add("uuid:nmc-gena-ren-000002", 2, "Slow"), 0);
  ASSERT_TRUE(wait_until([&] { return !calls_of(sleeper).empty(); }, 5000));
  ASSERT_GE(add("uuid:nmc-gena-srv-000002", 1, "Quick"), 0);
  ASSERT_TRUE(wait_until([&] { return !calls_of(other).empty() && !calls_of(0).empty(); }, 5000));
  const Clock::time_point slept_from = calls_of(sleeper)[0].at;
  const auto after = [&](uint32_t context) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(calls_of(context)[0].at - slept_from).count();
  };
  EXPECT_GE(after(other), 1500);
  EXPECT_LT(after(other), 1500 + 500);
  EXPECT_LT(after(0), 1500) << "the server side waited for a renderer callback";
}

// The stop while the renderer notifier and an application thread both wait
// for a renderer that does not answer SOAP, and the server notifier sits in
// a callback that sleeps: it ends within the controller's thread bound (once
// for both notifiers), leaves no controller thread running once the calls
// return, and the notifier left behind delivers nothing after the stop.
TEST_F(NmcGenaTest, StopWhileSoapCallsHangEndsWithinTheBound) {
  uint32_t context = 0;
  ASSERT_EQ(lm_dmrcp_create_context(&context), LM_NMC_OK);
  ASSERT_EQ(lm_dmrcp_register_callback(context, record), LM_NMC_OK);
  int index = add("uuid:nmc-gena-ren-000003", 2, "Hung");
  ASSERT_GE(index, 0);
  point_at(context, index);
  const std::string rc = sid(index, 2, UPNP_CP_SERVICE_RC);
  ASSERT_FALSE(rc.empty());
  ASSERT_TRUE(wait_until([&] { return !calls_of(context).empty(); }, 5000));

  // The server notifier is held up as well, by a callback that sleeps; the
  // context after it is not to hear of the server once the stop began.
  uint32_t later = 0;
  ASSERT_EQ(lm_dmscp_create_context(&later), LM_NMC_OK);
  ASSERT_EQ(lm_dmscp_register_callback(later, record), LM_NMC_OK);
  ASSERT_EQ(lm_dmscp_register_callback(0, record), LM_NMC_OK);
  g_sleep_ms = NMC_THREAD_JOIN_BOUND_MS + 1000;
  g_sleeper = 0;
  ASSERT_GE(add("uuid:nmc-gena-srv-000003", 1, "Asleep"), 0);
  ASSERT_TRUE(wait_until([&] { return !calls_of(0).empty(); }, 5000));

  device_.stall_soap = true;
  const std::string query =
      "<GetTransportInfo><RendererIndex>" + std::to_string(index) + "</RendererIndex></GetTransportInfo>";
  std::thread application([&] { nmc_test::api_query(query); });
  // A volume event carries no transport state: the notifier asks for it.
  EXPECT_EQ(send_notify(port_, rc, 0, rcs_body(40)), 200);
  ASSERT_TRUE(wait_until([&] { return device_.requests("POST").size() >= 2; }, 5000));

  const size_t delivered = all_calls();
  const Clock::time_point before = Clock::now();
  lm_nmc_stop();
  const bool stopped = nmc_wait_stopped(NMC_THREAD_JOIN_BOUND_MS + 5000);
  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - before).count();
  device_.stall_soap = false;
  application.join();
  EXPECT_TRUE(stopped);
  std::printf("stop with two SOAP calls hanging took %lld ms\n", static_cast<long long>(took));
  // The notifiers' bound (once for the two), the terminator's 1 s pause and
  // some slack.
  EXPECT_LT(took, NMC_THREAD_JOIN_BOUND_MS + 1000 + 1500);
  Sleep(500);  // the released notifier has its answer now
  EXPECT_EQ(all_calls(), delivered) << "a callback after the stop";
  // The test's own threads (its HTTP server, the GENA device) stay.
  EXPECT_TRUE(wait_until(
      [] {
        std::string names = " " + nmc_test::thread_names();
        return names.find(" NMC") == std::string::npos && names.find(" CP_") == std::string::npos;
      },
      3000))
      << nmc_test::thread_names();
}

}  // namespace
