// Search across servers: the merged result's rules (arrival order, pages
// that stay put, bounds, final statuses) on their own, and the whole search
// against crafted servers on 127.0.0.1 (no network stack): one answers, one
// offers no Search, one never answers within the bound.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "cp/upnp_cp.h"
#include "nmc/lm_dmscp.h"
#include "nmc/lm_nmc_across.h"
#include "nmc/lm_nmc_devices.h"
#include "nmc/lm_nmc_notify.h"
#include "nmc/lm_nmc_search_merge.h"
#include "nmc_dms_server.h"
#include "nmc_test_util.h"
#include "support_wait.h"

namespace {

using nmc_test::CdsCall;
using nmc_test::CdsObject;
using nmc_test::CdsServer;
using test_support::wait_until;

std::vector<nmc_search_row> rows(const std::string &prefix, int count) {
  std::vector<nmc_search_row> out;
  for (int i = 0; i < count; ++i) out.push_back({prefix + std::to_string(i), "object.item", prefix + "," + std::to_string(i)});
  return out;
}

std::string page_of(const nmc_search_merge &merge, uint32_t start, uint32_t count) {
  std::string text;
  lm_nmc_result_t r = merge.page(start, count, &text);
  return r == LM_NMC_OK ? text : "error " + std::to_string(r);
}

TEST(NmcSearchMerge, RowsKeepArrivalOrderAndPagesStayPut) {
  nmc_search_merge merge;
  size_t a = merge.add_server("uuid:a", "Alpha");
  size_t b = merge.add_server("uuid:b", "Beta");
  merge.add_rows(b, rows("b", 2));
  const std::string first = page_of(merge, 0, 0);
  EXPECT_EQ(first, "0\tb0\tobject.item\tBeta\tb,0\n1\tb1\tobject.item\tBeta\tb,1\n");
  merge.add_rows(a, rows("a", 3));
  merge.add_rows(b, rows("c", 1));
  EXPECT_EQ(merge.count(), 6u);
  // What was read before is still the start; newer rows follow.
  EXPECT_EQ(page_of(merge, 0, 0).compare(0, first.size(), first), 0);
  const struct {
    uint32_t start, count;
    std::string want;
  } pages[] = {
      {2, 2, "2\ta0\tobject.item\tAlpha\ta,0\n3\ta1\tobject.item\tAlpha\ta,1\n"},
      {5, 10, "5\tc0\tobject.item\tBeta\tc,0\n"},
      {5, 0, "5\tc0\tobject.item\tBeta\tc,0\n"},
      {6, 1, "error 9"},
      {7, 0, "error 9"},
  };
  for (const auto &p : pages) EXPECT_EQ(page_of(merge, p.start, p.count), p.want) << p.start << "+" << p.count;
  nmc_search_merge empty;
  EXPECT_EQ(page_of(empty, 0, 5), "");
  EXPECT_EQ(page_of(empty, 1, 5), "error 9");
}

TEST(NmcSearchMerge, FinalStatusesAndBounds) {
  nmc_search_merge merge;
  size_t fast = merge.add_server("uuid:f", "Fast");
  size_t slow = merge.add_server("uuid:s", "Slow");
  size_t none = merge.add_server("uuid:n", "No Search");
  size_t big = merge.add_server("uuid:g", "Big");
  EXPECT_TRUE(merge.finish(none, LM_NMC_SEARCH_ALL_SKIPPED, "offers no Search"));
  EXPECT_FALSE(merge.finish(none, LM_NMC_SEARCH_ALL_ANSWERED, ""));  // the first final status stays
  merge.add_rows(fast, rows("f", 1));
  EXPECT_TRUE(merge.finish(fast, LM_NMC_SEARCH_ALL_ANSWERED, ""));
  EXPECT_EQ(merge.add_rows(fast, rows("late", 3)), 1u);  // nothing after the final status
  EXPECT_EQ(merge.add_rows(big, rows("g", 400)), 400u);
  EXPECT_EQ(merge.add_rows(big, rows("h", 400)), LM_NMC_SEARCH_ALL_MAX_PER_SERVER);
  EXPECT_TRUE(merge.finish(big, LM_NMC_SEARCH_ALL_ANSWERED, ""));
  EXPECT_FALSE(merge.wait_final(std::chrono::steady_clock::now() + std::chrono::milliseconds(20)));
  EXPECT_EQ(merge.expire(700), std::vector<size_t>{slow});
  EXPECT_TRUE(merge.wait_final(std::chrono::steady_clock::now()));
  EXPECT_EQ(merge.add_rows(slow, rows("s", 2)), 0u);  // a server past its bound adds nothing
  EXPECT_EQ(merge.count(), 1u + LM_NMC_SEARCH_ALL_MAX_PER_SERVER);
  EXPECT_EQ(merge.servers_text(),
            "uuid:f\tFast\tanswered\t1\t\n"
            "uuid:s\tSlow\tno answer\t0\tno answer within 700 ms\n"
            "uuid:n\tNo Search\tskipped\t0\toffers no Search\n"
            "uuid:g\tBig\tanswered\t500\t\n");
}

TEST(NmcSearchMerge, TabsAndLineEndsInTextsReadAsBlanks) {
  nmc_search_merge merge;
  size_t s = merge.add_server("uuid:x", "Two\tWords\n");
  merge.add_rows(s, {{"A\tB\r\nC", "object.item", "uuid:x,1"}});
  EXPECT_EQ(page_of(merge, 0, 1), "0\tA B  C\tobject.item\tTwo Words \tuuid:x,1\n");
}

// Search callbacks as they came, "NAME STATUS ROWS".
std::mutex g_lock;
std::vector<std::string> g_calls;
void on_server(uint32_t, const char *, const char *name, uint32_t status, uint32_t found, uint32_t, void *) {
  std::lock_guard<std::mutex> hold(g_lock);
  g_calls.push_back(std::string(name) + " " + nmc_search_status_name(status) + " " + std::to_string(found));
}
std::vector<std::string> calls() {
  std::lock_guard<std::mutex> hold(g_lock);
  return g_calls;
}

class NmcSearchAllTest : public nmc_test::NmcTest {
 protected:
  void SetUp() override {
    NmcTest::SetUp();
    nmc_notifiers_set_start_delay(0);
    ASSERT_EQ(start(), 1);
    std::lock_guard<std::mutex> hold(g_lock);
    g_calls.clear();
  }
  void TearDown() override {
    release_hang();
    // A worker left waiting for the hanging server ends once it answers.
    EXPECT_TRUE(wait_until([] { return nmc_test::thread_names().find("NMC SearchAll") == std::string::npos; }, 10000))
        << nmc_test::thread_names();
    servers_.clear();
    NmcTest::TearDown();
  }
  CdsServer &serve(const std::string &udn, const std::string &name, bool with_search) {
    servers_.push_back(std::make_unique<CdsServer>(udn, name, "", with_search));
    CdsServer &server = *servers_.back();
    upnp_control_add_device(server.description_url().c_str(), udn.c_str(), "127.0.0.1:9000", 1800, 1);
    EXPECT_TRUE(wait_until([&] { return nmc_devices_find_udn(NMC_SIDE_SERVER, udn.c_str(), nullptr); }, 5000));
    return server;
  }
  void tracks(CdsServer &s, const std::string &prefix, int count) {
    s.add({"1", "0", "Music", true, "", "", false, false, false, false});
    for (int i = 0; i < count; ++i) {
      s.add({"1$" + std::to_string(i), "1", prefix + " " + std::to_string(i), false, "object.item.audioItem.musicTrack",
             "<res protocolInfo=\"http-get:*:audio/mpeg:*\">http://127.0.0.1:1/" + std::to_string(i) + ".mp3</res>",
             false, false, false, false});
    }
  }
  // A server whose Search hangs until released (or 8 s at most).
  CdsServer &hanging(const std::string &udn) {
    CdsServer &s = serve(udn, "Hangs", true);
    tracks(s, "Never", 2);
    s.reply = [this](const CdsCall &call) {
      if (call.action != "Search") return std::string();
      std::unique_lock<std::mutex> hold(hang_lock_);
      hang_cv_.wait_for(hold, std::chrono::seconds(8), [this] { return hang_released_; });
      return std::string();
    };
    return s;
  }
  void release_hang() {
    std::lock_guard<std::mutex> hold(hang_lock_);
    hang_released_ = true;
    hang_cv_.notify_all();
  }
  std::string servers_text(uint32_t search) {
    char buffer[4096];
    lm_nmc_result_t r = lm_nmc_search_all_get_servers(search, sizeof buffer, buffer);
    return r == LM_NMC_OK ? buffer : "error " + std::to_string(r);
  }

  std::vector<std::unique_ptr<CdsServer>> servers_;
  std::mutex hang_lock_;
  std::condition_variable hang_cv_;
  bool hang_released_ = false;
};

TEST_F(NmcSearchAllTest, AnsweredSkippedAndSilentServers) {
  tracks(serve("uuid:across-1", "Answers", true), "Rock", 3);
  tracks(serve("uuid:across-2", "No Search", false), "Jazz", 2);
  hanging("uuid:across-3");
  uint32_t search = 0;
  const auto began = std::chrono::steady_clock::now();
  ASSERT_EQ(lm_nmc_search_all("title=Rock", 800, on_server, nullptr, &search), 0u);
  const auto took = std::chrono::steady_clock::now() - began;
  EXPECT_GE(took, std::chrono::milliseconds(780));
  EXPECT_LT(took, std::chrono::milliseconds(4000)) << "the silent server held the search beyond its bound";
  const std::string text = servers_text(search);
  // Servers in list order (by name): each with its status and words.
  EXPECT_EQ(text,
            "uuid:across-1\tAnswers\tanswered\t3\t\n"
            "uuid:across-3\tHangs\tno answer\t0\tno answer within 800 ms\n"
            "uuid:across-2\tNo Search\tskipped\t0\toffers no Search\n");
  uint32_t count = 0;
  ASSERT_EQ(lm_nmc_search_all_get_count(search, &count), 0u);
  EXPECT_EQ(count, 3u);
  char page[8192];
  ASSERT_EQ(lm_nmc_search_all_get_page(search, 1, 1, sizeof page, page), 0u);
  const std::string row = page;
  EXPECT_EQ(row.rfind("1\tRock 1\tobject.item.audioItem.musicTrack\tAnswers\tuuid:across-1,1$1,", 0), 0u) << row;
  // The row's bookmark brings a fresh context to the object: it plays
  // directly.
  const std::string bookmark = row.substr(row.rfind('\t') + 1, row.size() - row.rfind('\t') - 2);
  uint32_t context = 0;
  ASSERT_EQ(lm_dmscp_create_context(&context), 0u);
  ASSERT_EQ(lm_dmscp_go_bookmark(context, bookmark.c_str()), 0u) << bookmark;
  char title[256];
  ASSERT_EQ(lm_dmscp_extract_metadata(context, "Title", 0, sizeof title, title), 0u);
  EXPECT_STREQ(title, "Rock 1");
  lm_dmscp_delete_context(context);
  // One final callback per server, none after the call returned.
  std::vector<std::string> seen = calls();
  std::sort(seen.begin(), seen.end());
  EXPECT_EQ(seen, std::vector<std::string>({"Answers answered 3", "Hangs no answer 0", "No Search skipped 0"}));
  release_hang();
  EXPECT_TRUE(wait_until([] { return nmc_test::thread_names().find("NMC SearchAll") == std::string::npos; }, 10000));
  EXPECT_EQ(calls().size(), 3u);
  EXPECT_EQ(servers_text(search), text) << "a late answer changed the result";
  EXPECT_EQ(lm_nmc_search_all_release(search), 0u);
  EXPECT_EQ(lm_nmc_search_all_release(search), 1u);
  EXPECT_EQ(lm_nmc_search_all_get_page(search, 0, 1, sizeof page, page), 1u);
}

TEST_F(NmcSearchAllTest, RefusalsAndHeldBound) {
  uint32_t search = 7;
  EXPECT_EQ(lm_nmc_search_all("x", 100, nullptr, nullptr, &search), 9u) << "no server listed";
  EXPECT_EQ(search, 0u);
  EXPECT_EQ(lm_nmc_search_all("", 100, nullptr, nullptr, &search), 2u);
  EXPECT_EQ(lm_nmc_search_all(nullptr, 100, nullptr, nullptr, &search), 2u);
  tracks(serve("uuid:across-4", "Answers", true), "Rock", 1);
  std::vector<uint32_t> held;
  for (uint32_t i = 0; i < LM_NMC_SEARCH_ALL_MAX_HELD; ++i) {
    ASSERT_EQ(lm_nmc_search_all("title=Rock", 2000, nullptr, nullptr, &search), 0u) << i;
    held.push_back(search);
  }
  EXPECT_EQ(lm_nmc_search_all("title=Rock", 2000, nullptr, nullptr, &search), 22u);
  ASSERT_EQ(lm_nmc_search_all_release(held.back()), 0u);
  held.pop_back();
  ASSERT_EQ(lm_nmc_search_all("title=Rock", 2000, nullptr, nullptr, &search), 0u);
  held.push_back(search);
  char small[8];
  EXPECT_EQ(lm_nmc_search_all_get_page(search, 0, 1, sizeof small, small), 10u);
  EXPECT_EQ(lm_nmc_search_all_get_page(search, 0, 1, 0, small), 2u);
  for (uint32_t id : held) EXPECT_EQ(lm_nmc_search_all_release(id), 0u);
}

}  // namespace

namespace {

// A cancel set while a server still hangs ends the wait at once; what
// arrived stays held and the silent server is named as cancelled.
TEST_F(NmcSearchAllTest, ACancelStopsTheWaitAndKeepsWhatArrived) {
  tracks(serve("uuid:across-5", "Answers", true), "Rock", 2);
  hanging("uuid:across-6");
  uint32_t cancel = 0;
  ASSERT_EQ(lm_nmc_cancel_create(&cancel), 0u);
  ASSERT_NE(cancel, 0u);
  std::thread stopper([cancel] {
    wait_until([] { return !calls().empty(); }, 3000);  // the answering server is in
    lm_nmc_cancel_set(cancel);
  });
  uint32_t search = 0;
  const auto began = std::chrono::steady_clock::now();
  const lm_nmc_result_t result = lm_nmc_search_all_cancellable("title=Rock", 5000, cancel, on_server, nullptr, &search);
  const auto took = std::chrono::steady_clock::now() - began;
  stopper.join();
  ASSERT_EQ(result, 0u);
  EXPECT_LT(took, std::chrono::milliseconds(3500)) << "the cancel did not end the wait for the silent server";
  EXPECT_EQ(servers_text(search),
            "uuid:across-5\tAnswers\tanswered\t2\t\n"
            "uuid:across-6\tHangs\tno answer\t0\tcancelled before it answered\n");
  uint32_t count = 0;
  ASSERT_EQ(lm_nmc_search_all_get_count(search, &count), 0u);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(lm_nmc_search_all_release(search), 0u);
  EXPECT_EQ(lm_nmc_cancel_delete(cancel), 0u);
  // Flags by number: unknown ones, and a deleted one, are errors, not writes.
  EXPECT_EQ(lm_nmc_cancel_set(cancel), 1u);
  EXPECT_EQ(lm_nmc_cancel_delete(cancel), 1u);
  EXPECT_EQ(lm_nmc_cancel_set(0), 1u);
  EXPECT_EQ(lm_nmc_cancel_create(nullptr), 2u);
  std::vector<uint32_t> held(LM_NMC_CANCEL_MAX_HELD);
  for (uint32_t &flag : held) ASSERT_EQ(lm_nmc_cancel_create(&flag), 0u);
  uint32_t more = 5;
  EXPECT_EQ(lm_nmc_cancel_create(&more), 22u);
  EXPECT_EQ(more, 0u);
  for (uint32_t flag : held) EXPECT_EQ(lm_nmc_cancel_delete(flag), 0u);
}

}  // namespace
