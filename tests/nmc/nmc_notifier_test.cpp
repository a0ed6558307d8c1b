// Devices reach the contexts' callbacks: crafted servers and renderers on
// 127.0.0.1 added to the control point (no network stack), their removal
// and return, server update identifiers, renderer updates in keyword and
// XML mode, queue events, callbacks that call in, and a stop while a
// callback is busy.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "base/upnp_thread.h"
#include "cp/upnp_cp.h"
#include "cp_test_util.h"
#include "nmc/lm_nmc.h"
#include "nmc/lm_nmc_devices.h"
#include "nmc/lm_nmc_events.h"
#include "nmc/lm_nmc_internal.h"
#include "nmc/lm_nmc_notify.h"
#include "nmc_test_util.h"
#include "support_wait.h"

namespace {

using test_support::wait_until;

struct Call {
  uint32_t context;
  uint32_t code;
  std::string text;
  uint32_t current = 0;
  uint32_t pending = 0;
  bool operator==(const Call &o) const {
    return context == o.context && code == o.code && text == o.text && current == o.current && pending == o.pending;
  }
};
std::ostream &operator<<(std::ostream &out, const Call &c) {
  return out << "{" << std::hex << c.context << "," << c.code << std::dec << ",\"" << c.text << "\"," << c.current
             << "," << c.pending << "}";
}

std::mutex g_mutex;
std::vector<Call> g_calls;
std::atomic<int> g_sleep_on_code{-1};
std::atomic<int> g_sleep_ms{0};

void record(uint32_t context, uint32_t code, const char *text, uint32_t current = 0, uint32_t pending = 0) {
  {
    std::lock_guard<std::mutex> hold(g_mutex);
    g_calls.push_back(Call{context, code, text != nullptr ? text : "<null>", current, pending});
  }
  if (g_sleep_on_code.load() == static_cast<int>(code)) Sleep(static_cast<unsigned int>(g_sleep_ms.load()));
}
void server_cb(uint32_t context, uint32_t code, const char *text) { record(context, code, text); }
void renderer_cb(uint32_t context, uint32_t code, const char *text) { record(context, code, text); }
void queue_cb(uint32_t context, uint32_t event, uint32_t current, uint32_t pending) {
  record(context, event, "queue", current, pending);
}

std::vector<Call> calls_of(uint32_t context) {
  std::lock_guard<std::mutex> hold(g_mutex);
  std::vector<Call> result;
  for (const Call &call : g_calls) {
    if (call.context == context) result.push_back(call);
  }
  return result;
}

class NmcNotifierTest : public nmc_test::NmcTest {
 protected:
  void SetUp() override {
    NmcTest::SetUp();
    {
      std::lock_guard<std::mutex> hold(g_mutex);
      g_calls.clear();
    }
    g_sleep_on_code = -1;
    nmc_notifiers_set_start_delay(0);
    nmc_set_update_mode(NMC_MODE_KEYWORD);
    nmc_set_list_mode(NMC_MODE_KEYWORD);
    ASSERT_EQ(start(), 1);
  }
  void TearDown() override {
    NmcTest::TearDown();
    nmc_set_update_mode(NMC_MODE_KEYWORD);
    nmc_set_list_mode(NMC_MODE_KEYWORD);
  }
  // Serves a crafted device of kind (1 server, 2 renderer) and adds it to
  // the control point; its index once ready (-1 when it did not come).
  int add_device(const std::string &udn, int kind, const std::string &name) {
    std::string tail = udn.substr(udn.size() - 6);
    std::vector<std::string> services = kind == 1 ? std::vector<std::string>{"CM", "CDS"}
                                                  : std::vector<std::string>{"CM", "RC", "AVT"};
    for (const std::string &s : services) files_.put("/" + tail + "/" + s + ".xml", cp_test::scpd({"Browse", "Get"}));
    std::string type = kind == 1 ? "urn:schemas-upnp-org:device:MediaServer:1"
                                 : "urn:schemas-upnp-org:device:MediaRenderer:1";
    files_.put("/" + tail + "/desc.xml", cp_test::description(udn, type, name, services));
    upnp_control_add_device(files_.url("/" + tail + "/desc.xml").c_str(), udn.c_str(), "127.0.0.1:9000", 1800, kind);
    int index = -1;
    wait_until(
        [&] {
          index = upnp_control_get_device_index(udn.c_str(), kind);
          return index >= 0 && upnp_control_get_device_state(index, kind) == UPNP_CP_STATE_READY;
        },
        5000);
    return index;
  }
  // A byebye that follows the alive within a second is ignored by the
  // control point: the removal waits for that second to pass.
  static void remove_device(const std::string &udn, int kind) {
    Sleep(1100);
    ASSERT_EQ(upnp_control_delete_device(udn.c_str(), kind), 1);
  }
  static bool wait_calls(uint32_t context, size_t count, int ms = 5000) {
    return wait_until([&] { return calls_of(context).size() >= count; }, ms);
  }

  cp_test::FileServer files_;
};

TEST_F(NmcNotifierTest, ServersAddedUpdatedRemoved) {
  uint32_t mine = 0;
  ASSERT_EQ(lm_dmscp_create_context(&mine), LM_NMC_OK);
  ASSERT_EQ(lm_dmscp_register_callback(0, server_cb), LM_NMC_OK);
  ASSERT_EQ(lm_dmscp_register_callback(mine, server_cb), LM_NMC_OK);
  const std::string udn = "uuid:nmc-server-000001";
  int index = add_device(udn, 1, "Server One");
  ASSERT_GE(index, 0);
  const std::string bookmark = udn + ",0";
  for (uint32_t context : {0u, mine}) {
    ASSERT_TRUE(wait_calls(context, 1)) << context;
    EXPECT_EQ(calls_of(context)[0], (Call{context, 4, bookmark})) << context;
  }

  // Update identifiers reach a context only when they grew.
  const uint64_t ids[] = {5, 5, 4, 6, 6};
  for (uint64_t id : ids) {
    std::string text = "<ServerUpdated><Index>" + std::to_string(index) + "</Index><Sequence>1</Sequence>"
                       "<SystemUpdateID>" + std::to_string(id) + "</SystemUpdateID></ServerUpdated>";
    nmc_events_to_sessions(text.c_str());
  }
  for (uint32_t context : {0u, mine}) ASSERT_TRUE(wait_calls(context, 3)) << context;
  ASSERT_TRUE(wait_until([] { return nmc_notify_pending(NMC_SIDE_SERVER) == 0; }, 2000));
  Sleep(200);
  for (uint32_t context : {0u, mine}) {
    EXPECT_EQ(calls_of(context).size(), 3u) << context;
    EXPECT_EQ(calls_of(context)[1], (Call{context, 1, bookmark})) << context;
  }

  remove_device(udn, 1);
  for (uint32_t context : {0u, mine}) {
    ASSERT_TRUE(wait_calls(context, 4)) << context;
    EXPECT_EQ(calls_of(context)[3], (Call{context, 2, bookmark})) << context;
  }
  EXPECT_TRUE(nmc_devices_list(NMC_SIDE_SERVER).empty());
  EXPECT_FALSE(nmc_devices_find(NMC_SIDE_SERVER, NMC_REMOVED_DEVICE_INDEX, nullptr));
}

std::string last_change(const std::string &inner) {
  std::string escaped;
  for (char c : "<Event><InstanceID val=\"0\">" + inner + "</InstanceID></Event>") {
    escaped += c == '<' ? "&lt;" : c == '>' ? "&gt;" : c == '"' ? "&quot;" : std::string(1, c);
  }
  return "<LastChange>" + escaped + "</LastChange>";
}

TEST_F(NmcNotifierTest, RenderersSortedUpdatesAndQueueEvents) {
  uint32_t mine = 0;
  ASSERT_EQ(lm_dmrcp_create_context(&mine), LM_NMC_OK);
  for (uint32_t context : {0x10000u, mine}) ASSERT_EQ(lm_dmrcp_register_callback(context, renderer_cb), LM_NMC_OK);
  ASSERT_EQ(lm_queue_register_callback(mine, queue_cb), LM_NMC_OK);
  const std::string bravo = "uuid:nmc-render-00000b";
  const std::string alpha = "uuid:nmc-render-00000a";
  ASSERT_GE(add_device(bravo, 2, "bravo"), 0);
  int index = add_device(alpha, 2, "Alpha");
  ASSERT_GE(index, 0);
  for (uint32_t context : {0x10000u, mine}) {
    ASSERT_TRUE(wait_calls(context, 2)) << context;
    EXPECT_EQ(calls_of(context)[0], (Call{context, 0x4002, bravo}));
    EXPECT_EQ(calls_of(context)[1], (Call{context, 0x4002, alpha}));
  }
  std::vector<std::string> order;
  for (const nmc_device_view &device : nmc_devices_list(NMC_SIDE_RENDERER)) order.push_back(device.name);
  EXPECT_EQ(order, (std::vector<std::string>{"Alpha", "bravo"}));

  // The context that points at Alpha gets its updates; the default context
  // (pointing nowhere) does not.
  nmc_context *context = nmc_context_find(mine);
  ASSERT_NE(context, nullptr);
  context->renderer_index = index;
  nmc_context_release(context);
  const std::string inner = "<TransportState val=\"PLAYING\"/><Volume val=\"30\"/>";
  std::string update = "<RendererUpdated><Index>" + std::to_string(index) + "</Index><Sequence>2</Sequence>" +
                       last_change(inner) + "</RendererUpdated>";
  nmc_events_to_sessions(update.c_str());
  ASSERT_TRUE(wait_calls(mine, 4));
  EXPECT_EQ(calls_of(mine)[2], (Call{mine, 1, "DmrChangedState"}));
  EXPECT_EQ(calls_of(mine)[3], (Call{mine, 1, "DmrChangedVolume"}));

  nmc_set_update_mode(NMC_MODE_XML);
  nmc_events_to_sessions(update.c_str());
  ASSERT_TRUE(wait_calls(mine, 5));
  EXPECT_EQ(calls_of(mine)[4], (Call{mine, 1, "<RendererUpdated>" + inner + "</RendererUpdated>"}));

  std::string queue = "<QueueEvent><QueueID>" + alpha + "</QueueID><RendererIndex>" + std::to_string(index) +
                      "</RendererIndex><EventType>item_added</EventType><CurrentIndex>2</CurrentIndex>"
                      "<Pending>3</Pending></QueueEvent>";
  nmc_events_to_sessions(queue.c_str());
  nmc_events_to_sessions("<QueueEvent><QueueID>uuid:unknown</QueueID><EventType>cleared</EventType></QueueEvent>");
  ASSERT_TRUE(wait_calls(mine, 6));
  EXPECT_EQ(calls_of(mine)[5], (Call{mine, 1004, "queue", 2, 3}));

  // List changes in XML mode carry the name.
  nmc_set_list_mode(NMC_MODE_XML);
  remove_device(bravo, 2);
  ASSERT_TRUE(wait_calls(mine, 7));
  EXPECT_EQ(calls_of(mine)[6], (Call{mine, 0x4001, "<renderer><name>bravo</name></renderer>"}));
  ASSERT_TRUE(wait_calls(0x10000, 3));
  EXPECT_EQ(calls_of(0x10000).size(), 3u) << "updates and queue events only reach the renderer's contexts";
}

// A renderer that goes and comes straight back, while the notifier is still
// busy, is delivered as removed to every context and then, only after that,
// as added (the return waits for the removal instead of being taken for a
// duplicate of the entry under removal).
TEST_F(NmcNotifierTest, ReturnWaitsForTheRemovalDelivered) {
  ASSERT_EQ(lm_dmrcp_register_callback(0x10000, renderer_cb), LM_NMC_OK);
  const std::string charlie = "uuid:nmc-render-00000c";
  ASSERT_GE(add_device(charlie, 2, "Charlie"), 0);
  ASSERT_TRUE(wait_calls(0x10000, 1));
  Sleep(1100);
  // The delivery of another renderer's addition holds the notifier.
  g_sleep_ms = 1500;
  g_sleep_on_code = 0x4002;
  ASSERT_GE(add_device("uuid:nmc-render-00000f", 2, "Other"), 0);
  ASSERT_TRUE(wait_calls(0x10000, 2));
  g_sleep_on_code = -1;
  ASSERT_EQ(upnp_control_delete_device(charlie.c_str(), 2), 1);
  ASSERT_GE(add_device(charlie, 2, "Charlie"), 0);
  ASSERT_TRUE(wait_until(
      [&] {
        int count = 0;
        for (const Call &call : calls_of(0x10000)) count += call.text == charlie ? 1 : 0;
        return count >= 3;
      },
      8000));
  std::vector<uint32_t> codes;
  for (const Call &call : calls_of(0x10000)) {
    if (call.text == charlie) codes.push_back(call.code);
  }
  EXPECT_EQ(codes, (std::vector<uint32_t>{0x4002, 0x4001, 0x4002}));
  EXPECT_EQ(nmc_devices_list(NMC_SIDE_RENDERER).size(), 2u);
}

// A callback that calls the controller on its own context deadlocks nothing.
std::atomic<int> g_reentered{0};
void reentering_cb(uint32_t context, uint32_t, const char *) {
  uint32_t other = 0;
  bool ok = lm_dmrcp_register_callback(context, reentering_cb) == LM_NMC_OK &&
            lm_dmrcp_create_context(&other) == LM_NMC_OK && lm_dmrcp_delete_context(other) == LM_NMC_OK;
  nmc_context *self = nmc_context_find(context);
  ok = ok && self != nullptr;
  nmc_context_release(self);
  if (ok) ++g_reentered;
}

TEST_F(NmcNotifierTest, CallbackMayCallIntoItsContext) {
  g_reentered = 0;
  ASSERT_EQ(lm_dmrcp_register_callback(0x10000, reentering_cb), LM_NMC_OK);
  ASSERT_GE(add_device("uuid:nmc-render-00000d", 2, "Delta"), 0);
  EXPECT_TRUE(wait_until([] { return g_reentered.load() == 1; }, 5000));
}

// A stop while a callback sleeps returns once the callback is done, within
// the bound; no controller thread is left.
TEST_F(NmcNotifierTest, StopWhileACallbackIsBusy) {
  ASSERT_TRUE(stop_and_wait());
  long baseline = nmc_test::thread_count();
  ASSERT_EQ(start(), 1);
  ASSERT_EQ(lm_dmscp_register_callback(0, server_cb), LM_NMC_OK);
  g_sleep_ms = 2000;
  g_sleep_on_code = 4;
  ASSERT_GE(add_device("uuid:nmc-server-00000e", 1, "Echo"), 0);
  ASSERT_TRUE(wait_calls(0, 1));
  auto before = std::chrono::steady_clock::now();
  ASSERT_TRUE(stop_and_wait());
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(NMC_THREAD_JOIN_BOUND_MS + 3000));
  EXPECT_EQ(nmc_test::thread_count(), baseline) << nmc_test::thread_names();
}

}  // namespace
