// The RPC handler on the library's HTTP server at 127.0.0.1, driven by a
// raw-socket client, with the controller replaced by the fake table: the
// dispatch, the replies and their error forms, the hardening and the
// contexts deleted on every path.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <regex>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "support_tcp.h"
#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "http/http_server.h"
#include "support_files.h"
#include "webapi/webapi_internal.h"
#include "webapi/webapi_rss.h"
#include "webapi_fake.h"
#include "webapi_test_server.h"

namespace {

int g_socket = -1;
unsigned g_port = 0;

using Reply = test_support::http_reply;

std::string exchange(const std::string &request) { return test_support::exchange_loopback(g_port, request); }
Reply parse(const std::string &text) { return test_support::split_http_reply(text); }

std::string field_of(const std::string &header, const std::string &name) {
  size_t at = header.find("\r\n" + name + ": ");
  if (at == std::string::npos) return "";
  at += name.size() + 4;
  return header.substr(at, header.find("\r\n", at) - at);
}

std::string host() { return "127.0.0.1:" + std::to_string(g_port); }

Reply get(const std::string &target, const std::string &extra = "", const std::string &host_line = "") {
  std::string h = host_line.empty() ? "Host: " + host() + "\r\n" : host_line;
  return parse(exchange("GET " + target + " HTTP/1.1\r\n" + h + extra + "Connection: close\r\n\r\n"));
}

class WebApiServer : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_NO_FATAL_FAILURE(webapi_test::open_server(&g_socket, &g_port, true)); }
  static void TearDownTestSuite() { webapi_test::close_server(g_socket); }
  void SetUp() override { webapi_fake::install(); }
  void TearDown() override {
    EXPECT_EQ(webapi_fake::open_contexts(), 0);
    webapi_fake::remove();
    webapi_set_admin_loopback_only(false);
  }
};

bool called(const std::string &call) {
  for (const std::string &c : webapi_fake::calls()) {
    if (c == call) return true;
  }
  return false;
}

struct CommandCase {
  const char *target;
  int status;
  const char *body;
  const char *call;  // a call the controller must have seen, or ""
};

TEST_F(WebApiServer, CommandsAnswerTheirValuesAndErrors) {
  const CommandCase cases[] = {
      {"/nmc/rpc/get_playindex?renderer=r", 200, "3|5", "get_playindex"},
      {"/nmc/rpc/set_mute?renderer=r&mute=1", 200, "ok", "set_mute 1"},
      {"/nmc/rpc/get_mute?renderer=r", 200, "1", "get_mute"},
      {"/nmc/rpc/play?renderer=r", 200, "ok", "play 0"},
      {"/nmc/rpc/play?renderer=r&mode=3", 200, "ok", "play 3"},
      {"/nmc/rpc/play?renderer=r&mode=x", 402, "invalid args given for this nmc rpc call", ""},
      {"/nmc/rpc/get_state?renderer=r", 200, "1|0:00:10|0:03:00", "get_state"},
      {"/nmc/rpc/get_volume_db_range?renderer=r", 200, "-60/0", "get_volume_db_range"},
      {"/nmc/rpc/get_volume_db?renderer=r", 200, "-12", "get_volume_db"},
      {"/nmc/rpc/set_volume_percent?renderer=r", 402, "invalid args given for this nmc rpc call", ""},
      {"/nmc/rpc/set_volume_percent?renderer=r&volume=", 402, "invalid args given for this nmc rpc call", ""},
      {"/nmc/rpc/set_volume_percent?renderer=r&volume=30", 200, "ok", "set_volume_percent 30"},
      {"/nmc/rpc/seek_time?renderer=r&seek=abc", 402, "invalid args given for this nmc rpc call", ""},
      {"/nmc/rpc/seek_bytes?renderer=r&seek=5000000000", 200, "ok", "seek_bytes 5000000000"},
      {"/nmc/rpc/pause?renderer=r", 402, "invalid args given for this nmc rpc call", ""},
      {"/nmc/rpc/stop", 402, "invalid args given for this nmc rpc call", ""},
      {"/nmc/rpc/can_play?renderer=r&item=playable", 200, "1", "ioctl DMRCanPlay playable"},
      {"/nmc/rpc/can_play?renderer=r&item=other", 200, "0", ""},
      {"/nmc/rpc/get_nmc_version", 200, "1.2.3", "ioctl GetNMCVersion"},
      {"/nmc/rpc/get_sink_formats?renderer=r", 200,
       "http-get:*:audio/mpeg:*\nhttp-get:*:audio/L16;rate=44100;channels=2:*\nhttp-get:*:audio/mpeg:DLNA.ORG_PN=MP3\n",
       "ioctl DMRGetSinkProtocolInfo"},
      {"/nmc/rpc/get_sink_formats", 402, "invalid args given for this nmc rpc call", ""},
      {"/nmc/rpc/get_status", 200, "true", ""},
      {"/nmc/rpc/status", 200, "true", ""},
      {"/nmc/rpc/dtcp_get_capabilities", 501, "not supported", ""},
      {"/nmc/rpc/upload?operation=getstatus", 200, "0/0", ""},
      {"/nmc/rpc/upload", 402, "invalid args given for this nmc rpc call", ""},
      {"/nmc/rpc/move_to?renderer=r&index=1&toindex=4", 200, "ok", "move_to 4"},
      {"/nmc/rpc/beam?renderer=uuid:x&url=http%3A%2F%2Fa%2Fb%253F", 200, "Done", "add_metadata http://a/b%3F <none>"},
  };
  for (const CommandCase &c : cases) {
    SCOPED_TRACE(c.target);
    webapi_fake::install();
    Reply r = get(c.target);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.body, c.body);
    if (*c.call) {
      EXPECT_TRUE(called(c.call));
    }
    EXPECT_EQ(webapi_fake::open_contexts(), 0);
  }
}

TEST_F(WebApiServer, DispatchIsByWholeSegment) {
  // "log_clear" clears the log, not a queue; "clear" inside the query or a
  // longer segment selects nothing.
  Reply r = get("/nmc/rpc/log_clear?renderer=clear");
  EXPECT_EQ(r.body, "logfile cleared!\n");
  EXPECT_FALSE(called("clear"));
  r = get("/nmc/rpc/xplay?renderer=r");
  EXPECT_NE(r.body.find("Queue Management"), std::string::npos);
  EXPECT_TRUE(webapi_fake::calls().empty());
}

TEST_F(WebApiServer, FailuresAnswerThroughTheTableAndDeleteTheContext) {
  const std::pair<const char *, int> fails[] = {{"go_bookmark", 500}, {"set_mute", 501}, {"create", 500},
                                                {"delete", 500}};
  for (const auto &f : fails) {
    SCOPED_TRACE(f.first);
    webapi_fake::install();
    webapi_fake::fail(f.first);
    Reply r = get("/nmc/rpc/set_mute?renderer=r&mute=0");
    EXPECT_EQ(r.status, f.second);
    EXPECT_EQ(webapi_fake::open_contexts(), 0);
  }
  webapi_fake::install();
  webapi_fake::fail("go_bookmark");
  EXPECT_EQ(get("/nmc/rpc/can_play?renderer=r&item=playable").body, "0");  // never an error
}

// A device's refusal keeps the table's body and is named in X-NMC-Error
// with its code and the meaning for the side that refused (the fake
// answers 701 for a failed operation); no header without one.
TEST_F(WebApiServer, RefusalsAreNamedInAHeader) {
  const struct {
    const char *fail;
    const char *target;
    int status;
    const char *body;
    const char *refusal;
  } cases[] = {
      {"set_mute", "/nmc/rpc/set_mute?renderer=r&mute=0", 501, "execution of the action failed",
       "701 Transition not available"},
      {"ioctl", "/nmc/rpc/get_sink_formats?renderer=r", 501, "execution of the action failed",
       "701 Transition not available"},
      {"search", "/nmc/rpc/search?server=s&search=6162", 501, "search failed", "701 No such object"},
      {"play", "/nmc/rpc/beam?renderer=uuid:x&url=http%3A%2F%2Fa%2Fb", 501, "execution of the action failed",
       "701 Transition not available"},
      {"go_bookmark", "/nmc/rpc/get_sink_formats?renderer=gone", 500, "error on creating a context", ""},
      {"", "/nmc/rpc/set_mute?renderer=r&mute=0", 200, "ok", ""},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.target);
    webapi_fake::install();
    if (*c.fail) webapi_fake::fail(c.fail);
    Reply r = get(c.target);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.body, c.body);
    EXPECT_EQ(field_of(r.header, "X-NMC-Error"), c.refusal);
    EXPECT_EQ(webapi_fake::open_contexts(), 0);
  }
}

TEST_F(WebApiServer, JsonpWrapsWithCheckedNamesAndEscapedTexts) {
  Reply r = get("/nmc/rpc/stop?callback=cb");
  EXPECT_EQ(r.status, 402);
  EXPECT_EQ(r.body, "cb(\"invalid args given for this nmc rpc call\");");
  EXPECT_NE(r.header.find("application/javascript"), std::string::npos);
  r = get("/nmc/rpc/get_state?renderer=r&callback=a.b");
  EXPECT_EQ(r.body, "a.b(\"1|0:00:10|0:03:00\");");
  r = get("/nmc/rpc/get_status?callback=cb");
  EXPECT_EQ(r.body, "cb({\"status\": \"true\"});\n");
  // A name that is no plain name is answered without echoing it.
  r = get("/nmc/rpc/get_status?callback=alert(1)%3B");
  EXPECT_EQ(r.status, 402);
  EXPECT_EQ(r.body.find("alert"), std::string::npos);
  EXPECT_NE(r.header.find("X-Content-Type-Options: nosniff"), std::string::npos);
  EXPECT_NE(r.header.find("Content-Security-Policy: sandbox"), std::string::npos);
}

TEST_F(WebApiServer, ValuesReachTheControllerUnchanged) {
  Reply r = get("/nmc/rpc/add_bookmark?renderer=r&index=0&item=a%26b%3Cc%22d%27%C3%A9%2B+x");
  EXPECT_EQ(r.status, 200);
  EXPECT_TRUE(called("add_bookmark a&b<c\"d'\xC3\xA9+ x"));
}

TEST_F(WebApiServer, HostOriginAndTargetChecks) {
  struct HostCase {
    std::string request;
    int status;
  } cases[] = {
      {"GET /nmc/rpc/get_status HTTP/1.1\r\nConnection: close\r\n\r\n", 400},
      {"GET /nmc/rpc/get_status HTTP/1.1\r\nHost: evil.example:" + std::to_string(g_port) + "\r\n\r\n", 400},
      {"GET /nmc/rpc/get_status HTTP/1.1\r\nHost: 127.0.0.1:1\r\n\r\n", 400},
      {"GET /nmc/rpc/get_status HTTP/1.1\r\nHost: localhost:" + std::to_string(g_port) + "\r\n\r\n", 200},
      {"GET http://evil.example/nmc/rpc/get_status HTTP/1.1\r\nHost: " + host() + "\r\n\r\n", 400},
      {"GET http://" + host() + "/nmc/rpc/get_status HTTP/1.1\r\nHost: " + host() + "\r\n\r\n", 200},
      {"GET /nmc/rpc/get_status?x=%G1 HTTP/1.1\r\nHost: " + host() + "\r\n\r\n", 400},
      {"GET /nmc/rpc/get_status?x=" + std::string(9000, 'a') + " HTTP/1.1\r\nHost: " + host() + "\r\n\r\n", 400},
  };
  for (const HostCase &c : cases) {
    SCOPED_TRACE(c.request.substr(0, 80));
    std::string request = c.request;
    if (request.find("Connection:") == std::string::npos) request.insert(request.size() - 2, "Connection: close\r\n");
    Reply r = parse(exchange(request));
    EXPECT_EQ(r.status, c.status);
  }
  // A 2,048-byte bookmark escaped fits.
  std::string bookmark;
  for (int i = 0; i < 2048; ++i) bookmark += "%41";
  EXPECT_EQ(get("/nmc/rpc/get_mute?renderer=" + bookmark).status, 200);
  EXPECT_TRUE(called("go_bookmark " + std::string(2048, 'A')));

  // State changes refuse another origin; reads and same-origin pass.
  webapi_fake::install();
  EXPECT_EQ(get("/nmc/rpc/stop?renderer=r", "Origin: http://evil.example\r\n").status, 401);
  EXPECT_FALSE(called("stop"));
  EXPECT_EQ(get("/nmc/rpc/stop?renderer=r", "Origin: http://" + host() + "\r\n").status, 200);
  EXPECT_EQ(get("/nmc/rpc/get_mute?renderer=r", "Origin: http://evil.example\r\n").status, 200);
  EXPECT_EQ(get("/nmc/rpc/log_clear", "Origin: null\r\n").status, 401);
}

TEST_F(WebApiServer, BodiesAreBounded) {
  std::string body(WEBAPI_MAX_COMMAND_BODY + 1, 'x');
  Reply r = parse(exchange("POST /nmc/rpc/stop?renderer=r HTTP/1.1\r\nHost: " + host() +
                           "\r\nConnection: close\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
                           body));
  EXPECT_EQ(r.status, 413);
  EXPECT_FALSE(called("stop"));
  r = parse(exchange("POST /nmc/rpc/stop?renderer=r HTTP/1.1\r\nHost: " + host() +
                     "\r\nConnection: close\r\nContent-Length: 3\r\n\r\nabc"));
  EXPECT_EQ(r.status, 200);
  // A body that stops coming is answered once its time is up.
  webapi_set_body_deadline_ms(300);
  auto started = std::chrono::steady_clock::now();
  r = parse(exchange("POST /nmc/rpc/stop?renderer=r HTTP/1.1\r\nHost: " + host() +
                     "\r\nContent-Length: 10\r\n\r\nab"));
  EXPECT_EQ(r.status, 400);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(3));
  webapi_set_body_deadline_ms(10000);
  r = parse(exchange("POST /nmc/rpc/stop?renderer=r HTTP/1.1\r\nHost: " + host() +
                     "\r\nConnection: close\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n"));
  EXPECT_EQ(r.status, 400);
}

TEST_F(WebApiServer, SearchPagesItsFeed) {
  webapi_fake::set_search_results(12);
  // "title" hex-encoded.
  Reply r = get("/nmc/rpc/search?server=s1&search=7469746c65&start=5&count=10");
  EXPECT_EQ(r.status, 200);
  EXPECT_NE(r.body.find("<returneditems>7 objects returned"), std::string::npos);
  EXPECT_TRUE(called("search title"));
  EXPECT_TRUE(called("go_index 11"));
  EXPECT_FALSE(called("go_index 12"));
  EXPECT_NE(r.body.find("<title>Song &amp; &quot;Title&quot; &lt;1&gt;</title>"), std::string::npos);
  EXPECT_NE(r.body.find("nmc/rss/server/RBs1/IBitem%2F1%20a%26b"), std::string::npos);
  EXPECT_NE(r.body.find("<meta id=\"1\">"), std::string::npos);
  webapi_fake::install();
  webapi_fake::set_search_results(12);
  r = get("/nmc/rpc/search?server=s1&search=7469746c65&start=20");
  EXPECT_NE(r.body.find("<returneditems>0 objects returned"), std::string::npos);
  EXPECT_EQ(r.body.find("<item>"), std::string::npos);
  r = get("/nmc/rpc/search?server=s1&search=746&fmt=json&callback=f");
  EXPECT_EQ(r.status, 501);
  r = get("/nmc/rpc/search?server=s1&search=7469746c65&count=1&fmt=json&callback=f");
  EXPECT_EQ(r.body.rfind("f({\n\"description\":\"12 objects", 0), 0u);
}

// Each search result's enclosure reads back, through the feeds' own request
// parser, as the server and object it came from, whatever bytes their
// bookmarks hold.
TEST_F(WebApiServer, SearchEnclosuresLeadBackToTheirObjects) {
  const struct {
    const char *server;
    const char *object;
  } cases[] = {
      {"s1", "item/1 a&b"},
      {"uuid:1+2", "a+b c"},
      {"s\"q'", "x\"y'<z>"},
      {"s1", "100%~!*()"},
      {"s1", "caf\xC3\xA9\t/IBx"},
  };
  const std::regex enclosure("<enclosure url=\"[^\"]*(/nmc/rss/[^\"]*)\"");
  for (const auto &c : cases) {
    SCOPED_TRACE(c.object);
    webapi_fake::install();
    webapi_fake::set_search_results(1);
    webapi_fake::set_bookmark(c.object);
    std::string server = c.server;
    std::string query;
    for (unsigned char ch : server) {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", ch);
      query += hex;
    }
    Reply r = get("/nmc/rpc/search?server=" + query + "&search=7469746c65");
    ASSERT_EQ(r.status, 200);
    std::smatch m;
    ASSERT_TRUE(std::regex_search(r.body, m, enclosure)) << r.body;
    webapi_feed_request request;
    ASSERT_TRUE(webapi_feed_parse(m[1].str(), "/nmc/rss", &request)) << m[1].str();
    EXPECT_EQ(request.kind, WEBAPI_FEED_SERVER);
    EXPECT_EQ(request.device, c.server);
    EXPECT_EQ(request.item, c.object);
    EXPECT_NE(r.body.find("<bookmark>" + webapi_feed_escape(c.object) + "</bookmark>"), std::string::npos);
  }
}

TEST_F(WebApiServer, LogCommands) {
  auto dir = test_support::make_temp_dir("webapi-log");
  ASSERT_EQ(upnp_log_init((dir / "log.txt").c_str()), 1);
  upnp_log_set_level(LOG_LEVEL_DEBUG);
  upnp_log_set_sources(0xFFFFFFFFu);
  upnp_log_impl(LOG_LEVEL_ERROR, LOG_SYSTEM, "test", "marker line %d", 42);
  Reply r = get("/nmc/rpc/log_getfile");
  EXPECT_EQ(r.status, 200);
  EXPECT_NE(r.body.find("marker line 42"), std::string::npos);
  EXPECT_EQ(std::to_string(r.body.size()), field_of(r.header, "Content-Length"));
  const std::pair<const char *, std::pair<int, const char *>> cases[] = {
      {"/nmc/rpc/log_set?sources=8&level=2", {200, "sources: 8 / level: 2\n"}},
      {"/nmc/rpc/log_set?sources=8&level=9", {402, "invalid args given for this nmc rpc call"}},
      {"/nmc/rpc/log_disable?mode=0", {404, nullptr}},  // nothing remembered yet
      {"/nmc/rpc/log_disable?mode=1", {200, "logfile disabled!\n"}},
      {"/nmc/rpc/log_disable?mode=0", {200, "logfile enabled!\n"}},
      {"/nmc/rpc/log_disable?mode=2", {404, nullptr}},
      {"/nmc/rpc/log_clear", {200, "logfile cleared!\n"}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.first);
    r = get(c.first);
    EXPECT_EQ(r.status, c.second.first);
    if (c.second.second) {
      EXPECT_EQ(r.body, c.second.second);
    }
  }
  EXPECT_EQ(get("/nmc/rpc/log_getfile").body.find("marker line 42"), std::string::npos);
  upnp_log_exit();
  EXPECT_EQ(get("/nmc/rpc/log_getfile").status, 404);
  test_support::remove_tree(dir);
}

TEST_F(WebApiServer, AdminCommandsCanBeLimitedToLoopback) {
  webapi_set_admin_loopback_only(true);
  // The test client is a loopback client; another peer is not.
  EXPECT_EQ(get("/nmc/rpc/log_clear").status, 200);
  HTTP_connection other{};
  std::snprintf(other.peer_address, sizeof other.peer_address, "%s", "10.0.0.2");
  EXPECT_FALSE(webapi_client_is_loopback(&other));
}

TEST_F(WebApiServer, ConcurrentCommandsAndEvents) {
  webapi_event_log_reset();
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&failures, t] {
      for (int i = 0; i < 20; ++i) {
        Reply r = t % 2 ? get("/nmc/rpc/get_volume_percent?renderer=r") : get("/nmc/rpc/get_events?eventid=0");
        if (r.status != 200) ++failures;
      }
    });
  }
  threads.emplace_back([] {
    for (int i = 0; i < 300; ++i) rendererListEventCallback(0, i % 2 ? 0x4001 : 0x4002, "uuid:r");
  });
  for (std::thread &t : threads) t.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(get("/nmc/rpc/get_events?eventid=299").body, "300 renderer 16385 uuid:r\n\r\n");
  webapi_event_log_release();
}

}  // namespace
