// The RPC commands "handoff" and "search_all" on the library's HTTP server
// at 127.0.0.1 with the controller's functions replaced: arguments passed
// on, answers and failures in words (also wrapped for JSONP), the Origin
// rule (handoff acts, search_all reads), and no controller reached while the
// dispatcher runs on a replaced controller table.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "support_tcp.h"
#include "base/upnp_mem.h"
#include "http/http_server.h"
#include "webapi/webapi_across.h"
#include "webapi/webapi_across_progress.h"
#include "webapi/webapi_internal.h"
#include "webapi_fake.h"
#include "webapi_test_server.h"

namespace {

int g_socket = -1;
unsigned g_port = 0;

using Reply = test_support::http_reply;

Reply get(const std::string &target, const std::string &extra = "") {
  return test_support::split_http_reply(test_support::exchange_loopback(
      g_port, "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(g_port) + "\r\n" + extra +
                  "Connection: close\r\n\r\n"));
}

// The replaced functions: what they were given, and what they answer.
std::mutex g_lock;
std::vector<std::string> g_calls;
// Set by the test between requests, read by the server's threads.
std::atomic<lm_nmc_result_t> g_answer{0};
std::atomic<int> g_held{0};
void note(const std::string &call) {
  std::lock_guard<std::mutex> hold(g_lock);
  g_calls.push_back(call);
}
bool seen(const std::string &call) {
  std::lock_guard<std::mutex> hold(g_lock);
  for (const std::string &c : g_calls) {
    if (c == call) return true;
  }
  return false;
}
lm_nmc_result_t out(const std::string &text, uint32_t size, char *buffer) {
  if (text.size() + 1 > size) return LM_NMC_BUFFER_TOO_SMALL;
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  return 0;
}

lm_nmc_result_t fake_handoff(const char *from, const char *to, uint32_t wait, uint32_t size, char *report) {
  note(std::string("handoff ") + from + " " + to + " " + std::to_string(wait));
  out(g_answer == 0 ? "handed off from \"A\" to \"B\": entry 1 of 1 at 0:00:07"
                    : "handoff failed: \"B\" left during the handoff; \"A\" keeps playing",
      size, report);
  return g_answer.load();
}
// What a page following the search would read while it runs.
std::string g_progress_seen;
lm_nmc_result_t fake_search(const char *query, uint32_t bound, lm_nmc_search_all_callback callback, void *user,
                            uint32_t *id) {
  note(std::string("search ") + query + " " + std::to_string(bound));
  if (g_answer != 0) return g_answer;
  ++g_held;
  *id = 5;
  if (callback != nullptr) {
    callback(5, "uuid:s", "S", LM_NMC_SEARCH_ALL_ANSWERED, 2, 2, user);
    std::lock_guard<std::mutex> hold(g_lock);
    if (g_progress_seen.empty()) g_progress_seen = webapi_progress_text("t1");  // the first search's
  }
  return 0;
}
size_t searches() {
  std::lock_guard<std::mutex> hold(g_lock);
  size_t n = 0;
  for (const std::string &c : g_calls) n += c.rfind("search ", 0) == 0 ? 1 : 0;
  return n;
}
lm_nmc_result_t fake_count(uint32_t, uint32_t *count) {
  *count = 2;
  return 0;
}
lm_nmc_result_t fake_page(uint32_t, uint32_t start, uint32_t count, uint32_t size, char *buffer) {
  note("page " + std::to_string(start) + " " + std::to_string(count));
  if (start > 1) return LM_NMC_NOT_FOUND;
  return out(start == 0 ? "0\tOne\tobject.item\tS\tuuid:s,1\n1\tTwo\tobject.item\tS\tuuid:s,2\n"
                        : "1\tTwo\tobject.item\tS\tuuid:s,2\n",
             size, buffer);
}
lm_nmc_result_t fake_servers(uint32_t, uint32_t size, char *buffer) {
  return out("uuid:s\tS\tanswered\t2\t\nuuid:n\tN\tskipped\t0\toffers no Search\n", size, buffer);
}
lm_nmc_result_t fake_release(uint32_t) {
  --g_held;
  return 0;
}
const webapi_across_calls kFake = {fake_handoff, fake_search, fake_count, fake_page, fake_servers, fake_release};

class WebApiAcross : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_NO_FATAL_FAILURE(webapi_test::open_server(&g_socket, &g_port, true)); }
  static void TearDownTestSuite() { webapi_test::close_server(g_socket); }
  void SetUp() override {
    webapi_fake::install();
    webapi_across_set(&kFake);
    std::lock_guard<std::mutex> hold(g_lock);
    g_calls.clear();
    g_answer = 0;
  }
  void TearDown() override {
    webapi_progress_clear();
    EXPECT_EQ(g_held, 0) << "a search was not released";
    webapi_across_set(nullptr);
    webapi_fake::remove();
  }
};

TEST_F(WebApiAcross, AnswersAndFailuresInWords) {
  const struct {
    const char *target;
    lm_nmc_result_t answer;
    int status;
    const char *body;
    const char *call;
  } cases[] = {
      {"/nmc/rpc/handoff?from=uuid:a&to=1", 0, 200, "handed off from \"A\" to \"B\": entry 1 of 1 at 0:00:07",
       "handoff uuid:a 1 0"},
      {"/nmc/rpc/handoff?from=uuid:a&to=1&wait=3000", 3, 412,
       "handoff failed: \"B\" left during the handoff; \"A\" keeps playing", "handoff uuid:a 1 3000"},
      {"/nmc/rpc/handoff?from=uuid:a&to=1", 6, 501,
       "handoff failed: \"B\" left during the handoff; \"A\" keeps playing", ""},
      {"/nmc/rpc/handoff?from=uuid:a", 0, 402, "invalid args given for this nmc rpc call", ""},
      {"/nmc/rpc/handoff?from=uuid:a&to=1&wait=x", 0, 402, "invalid args given for this nmc rpc call", ""},
      {"/nmc/rpc/search_all?query=title%3DRock&timeout=900", 0, 200,
       "2\nserver\tuuid:s\tS\tanswered\t2\t\nserver\tuuid:n\tN\tskipped\t0\toffers no Search\n"
       "item\t0\tOne\tobject.item\tS\tuuid:s,1\nitem\t1\tTwo\tobject.item\tS\tuuid:s,2\n",
       "search title=Rock 900"},
      {"/nmc/rpc/search_all?query=x&start=1&count=1", 0, 200,
       "2\nserver\tuuid:s\tS\tanswered\t2\t\nserver\tuuid:n\tN\tskipped\t0\toffers no Search\n"
       "item\t1\tTwo\tobject.item\tS\tuuid:s,2\n",
       "page 1 1"},
      {"/nmc/rpc/search_all?query=x&start=9", 0, 200,
       "2\nserver\tuuid:s\tS\tanswered\t2\t\nserver\tuuid:n\tN\tskipped\t0\toffers no Search\n", "page 9 50"},
      {"/nmc/rpc/search_all?query=x", 9, 501, "search failed: no servers found yet", ""},
      {"/nmc/rpc/search_all?query=x", 22, 501, "search failed: too many searches at once", ""},
      {"/nmc/rpc/search_all?query=x&count=201", 0, 402, "invalid args given for this nmc rpc call", ""},
      {"/nmc/rpc/search_all", 0, 402, "invalid args given for this nmc rpc call", ""},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.target);
    g_answer = c.answer;
    Reply r = get(c.target);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.body, c.body);
    if (*c.call) {
      EXPECT_TRUE(seen(c.call));
    }
  }
}

TEST_F(WebApiAcross, JsonpOriginAndReplacedController) {
  g_answer = 3;
  Reply r = get("/nmc/rpc/handoff?from=a&to=b&callback=cb");
  EXPECT_EQ(r.status, 412);
  EXPECT_EQ(r.body, "cb(\"handoff failed: \\\"B\\\" left during the handoff; \\\"A\\\" keeps playing\");");
  EXPECT_NE(r.header.find("application/javascript"), std::string::npos);
  g_answer = 0;
  {
    std::lock_guard<std::mutex> hold(g_lock);
    g_calls.clear();
  }
  // A handoff acts: refused from another page; the search only reads.
  EXPECT_EQ(get("/nmc/rpc/handoff?from=a&to=b", "Origin: http://evil.example\r\n").status, 401);
  EXPECT_FALSE(seen("handoff a b 0"));
  EXPECT_EQ(get("/nmc/rpc/search_all?query=x", "Origin: http://evil.example\r\n").status, 200);
  // On a replaced controller table without calls of their own, the
  // commands never reach a controller.
  webapi_across_set(nullptr);
  for (const char *target : {"/nmc/rpc/handoff?from=a&to=b", "/nmc/rpc/search_all?query=x"}) {
    r = get(target);
    EXPECT_EQ(r.status, 501) << target;
    EXPECT_EQ(r.body, "not supported") << target;
  }
}

// A page's token: progress while the search runs, later pages from the held
// result without searching again, a new query or token searching anew, and
// no more than WEBAPI_PROGRESS_HELD searches held.
TEST_F(WebApiAcross, ProgressTokenHoldsTheSearchForLaterPages) {
  const struct {
    const char *target;
    int status;
    const char *body;  // the reply's first line, or the whole reply when it has one
    size_t searches;   // searches run so far
    int held;
  } steps[] = {
      {"/nmc/rpc/search_all_progress?progress=t1", 412, "no search runs under this progress token", 0, 0},
      {"/nmc/rpc/search_all?query=x&progress=t1", 200, "2", 1, 1},
      {"/nmc/rpc/search_all_progress?progress=t1", 200, "done\t2\t2\t2", 1, 1},
      {"/nmc/rpc/search_all?query=x&progress=t1&start=1&count=1", 200, "2", 1, 1},
      {"/nmc/rpc/search_all?query=y&progress=t1", 200, "2", 2, 1},
      {"/nmc/rpc/search_all?query=y&progress=t2", 200, "2", 3, 2},
      {"/nmc/rpc/search_all?query=y&progress=t3", 200, "2", 4, 3},
      {"/nmc/rpc/search_all?query=y&progress=t4", 200, "2", 5, 4},
      {"/nmc/rpc/search_all?query=y&progress=t5", 200, "2", 6, 4},
      {"/nmc/rpc/search_all_progress?progress=t1", 412, "no search runs under this progress token", 6, 4},
      {"/nmc/rpc/search_all?query=y", 200, "2", 7, 4},
      {"/nmc/rpc/search_all?query=y&progress=a%20b", 402, "invalid args given for this nmc rpc call", 7, 4},
      {"/nmc/rpc/search_all_progress?progress=", 402, "invalid args given for this nmc rpc call", 7, 4},
  };
  for (const auto &step : steps) {
    SCOPED_TRACE(step.target);
    Reply r = get(step.target);
    EXPECT_EQ(r.status, step.status);
    EXPECT_EQ(r.body.substr(0, r.body.find('\n')), step.body);
    EXPECT_EQ(searches(), step.searches);
    EXPECT_EQ(g_held, step.held);
  }
  // The second page of the held search is its row 1.
  Reply page = get("/nmc/rpc/search_all?query=y&progress=t5&start=1&count=1");
  EXPECT_NE(page.body.find("item\t1\tTwo\t"), std::string::npos) << page.body;
  EXPECT_EQ(page.body.find("item\t0\t"), std::string::npos) << page.body;
  std::lock_guard<std::mutex> hold(g_lock);
  EXPECT_EQ(g_progress_seen, "searching\t2\t2\t2");
}

}  // namespace
