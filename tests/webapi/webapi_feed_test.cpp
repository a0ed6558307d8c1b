// The feed and page handlers on the library's HTTP server at 127.0.0.1,
// with the controller replaced by a small fake network: one server whose
// top container holds an object with a bookmark of awkward bytes.
// Enclosures are followed back to their objects; paging, output forms,
// escaping, the Host check and the page's one file.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "base/upnp_mem.h"
#include "base/upnp_string.h"
#include "base/upnp_xml.h"
#include "http/http_server.h"
#include "support_files.h"
#include "support_tcp.h"
#include "webapi/webapi_rss.h"
#include "webapi_test_server.h"

namespace {

// ---- the fake network ------------------------------------------------------

const std::string kServer = "uuid:srv,0";
// Holds "%", "&", "?", "/", "|", "+", a space, non-ASCII and even "/IB".
const std::string kAwkward = "uuid:srv,a%25&?/|\xC3\xA9+ b/IB,3";
const char kAwkwardIndex = 3;

struct Cursor {
  std::string level;  // "home", "srv", "top", "awk"
  long index = -1;
};

std::mutex g_lock;  // request threads and the test thread share the fake's state
std::map<uint32_t, Cursor> g_cursors;
uint32_t g_next = 1;
std::vector<std::string> g_bookmarks_seen;

lm_nmc_result_t create(uint32_t *c) {
  std::lock_guard<std::mutex> hold(g_lock);
  *c = g_next++;
  g_cursors[*c] = Cursor{"home", -1};
  return LM_NMC_OK;
}
lm_nmc_result_t remove_context(uint32_t c) {
  std::lock_guard<std::mutex> hold(g_lock);
  return g_cursors.erase(c) ? LM_NMC_OK : 1;
}
lm_nmc_result_t go_home(uint32_t c) {
  std::lock_guard<std::mutex> hold(g_lock);
  g_cursors[c] = Cursor{"home", -1};
  return LM_NMC_OK;
}
lm_nmc_result_t go_bookmark(uint32_t c, const char *bm) {
  std::lock_guard<std::mutex> hold(g_lock);
  g_bookmarks_seen.push_back(bm);
  if (kServer == bm) {
    g_cursors[c] = Cursor{"srv", -1};
  } else if (kAwkward == bm) {
    g_cursors[c] = Cursor{"top", kAwkwardIndex};
  } else if (std::string(bm) == "uuid:refusing") {
    g_cursors[c] = Cursor{"ref", -1};
  } else if (std::string(bm).rfind("top,", 0) == 0) {
    g_cursors[c] = Cursor{"top", std::atol(bm + 4)};
  } else {
    return 9;
  }
  return LM_NMC_OK;
}
lm_nmc_result_t go_directory(uint32_t c) {
  std::lock_guard<std::mutex> hold(g_lock);
  Cursor &k = g_cursors[c];
  if (k.level == "srv") {
    k = Cursor{"top", -1};
  } else if (k.level == "top" && k.index == kAwkwardIndex) {
    k = Cursor{"awk", -1};
  } else if (k.level == "ref") {
    return 701;  // the server refuses the Browse: "No such object"
  } else {
    return 9;
  }
  return LM_NMC_OK;
}
uint32_t count_of(const std::string &level) {
  if (level == "home") return 1;
  if (level == "top") return 12;
  if (level == "awk") return 3;
  return 0;
}
lm_nmc_result_t get_count(uint32_t c, uint32_t *n) {
  std::lock_guard<std::mutex> hold(g_lock);
  *n = count_of(g_cursors[c].level);
  return LM_NMC_OK;
}
lm_nmc_result_t go_index(uint32_t c, uint32_t i) {
  std::lock_guard<std::mutex> hold(g_lock);
  if (i >= count_of(g_cursors[c].level)) return 9;
  g_cursors[c].index = i;
  return LM_NMC_OK;
}
// Object 7 of the top container has a title and metadata longer than the
// feed's first buffers.
const char kLongIndex = 7;
const std::string kLongTitle = std::string(3000, 'T') + " & <long>";
const std::string kLongPadding(40000, 'p');
bool is_long(const Cursor &k) { return k.level == "top" && k.index == kLongIndex; }
std::string title_at(const Cursor &k) {
  if (k.level == "home") return "Srv & <Co> \"q\"";
  if (is_long(k)) return kLongTitle;
  return k.level + " " + std::to_string(k.index) + " & <x>";
}
// As the controller hands texts out: whole, or refused when they do not fit.
lm_nmc_result_t fill(const std::string &text, uint32_t size, char *out) {
  if (text.size() + 1 > size) return LM_NMC_BUFFER_TOO_SMALL;
  std::memcpy(out, text.c_str(), text.size() + 1);
  return LM_NMC_OK;
}
lm_nmc_result_t get_metadata(uint32_t c, uint32_t size, char *out) {
  std::lock_guard<std::mutex> hold(g_lock);
  const Cursor &k = g_cursors[c];
  return fill("<?xml version=\"1.0\"?>\n<DIDL-Lite><item id=\"" + std::to_string(k.index) +
                  "\"><dc:title>t &amp; &lt;</dc:title>" + (is_long(k) ? "<x>" + kLongPadding + "</x>" : "") +
                  "</item></DIDL-Lite>",
              size, out);
}
lm_nmc_result_t extract(uint32_t c, const char *, uint32_t, uint32_t size, char *out) {
  std::lock_guard<std::mutex> hold(g_lock);
  return fill(title_at(g_cursors[c]), size, out);
}
lm_nmc_result_t get_bookmark(uint32_t c, uint32_t size, char *out) {
  std::lock_guard<std::mutex> hold(g_lock);
  const Cursor &k = g_cursors[c];
  std::string bm = k.level == "home" ? kServer
                   : k.level == "top" && k.index == kAwkwardIndex ? kAwkward
                                                                  : k.level + "," + std::to_string(k.index);
  return fill(bm, size, out);
}
lm_nmc_result_t is_directory(uint32_t c, uint32_t *flag) {
  std::lock_guard<std::mutex> hold(g_lock);
  *flag = g_cursors[c].level == "top" && g_cursors[c].index == kAwkwardIndex;
  return LM_NMC_OK;
}
int not_terminating(void) { return 0; }
lm_nmc_result_t s_ioctl(uint32_t, const char *, uint32_t, char *) { return LM_NMC_OK; }

// The renderer side is left out (the lab test walks real renderers and
// queues); a renderer feed here finds no context and answers the error text.
lm_nmc_result_t no_context(uint32_t *) { return 1; }

webapi_feed_source fake() {
  webapi_feed_source f{};
  f.dmscp_create_context = create;
  f.dmscp_delete_context = remove_context;
  f.dmscp_go_home = go_home;
  f.dmscp_go_bookmark = go_bookmark;
  f.dmscp_go_directory = go_directory;
  f.dmscp_get_count = get_count;
  f.dmscp_go_index = go_index;
  f.dmscp_get_metadata = get_metadata;
  f.dmscp_extract_metadata = extract;
  f.dmscp_get_bookmark = get_bookmark;
  f.dmscp_is_directory = is_directory;
  f.dmrcp_create_context = no_context;
  f.is_terminating = not_terminating;
  f.dmscp_ioctl = s_ioctl;
  return f;
}
const webapi_feed_source kFake = fake();

// ---- the client -------------------------------------------------------------

int g_socket = -1;
unsigned g_port = 0;

using Reply = test_support::http_reply;

Reply get(const std::string &target, const std::string &host = "") {
  std::string h = host.empty() ? "127.0.0.1:" + std::to_string(g_port) : host;
  return test_support::split_http_reply(test_support::exchange_loopback(
      g_port, "GET " + target + " HTTP/1.1\r\nHost: " + h + "\r\nConnection: close\r\n\r\n"));
}

struct Item {
  std::string title, url, bookmark;
};

// The items of a feed, read with the library's own parser (so the feed must
// be well-formed); false when it does not parse.
bool items_of(const std::string &feed, std::vector<Item> *items, std::string *title = nullptr) {
  items->clear();
  upnp_xml_node *root = upnp_xml_parse(feed.c_str());
  if (!root) return false;
  if (title) {
    upnp_xml_node *t = upnp_xml_find_tag(root, "title");
    *title = t && t->value ? t->value : "";
  }
  for (upnp_xml_node *n = upnp_xml_find_tag(root, "item"); n; n = upnp_xml_find_next_tag(n, "item")) {
    Item it;
    for (upnp_xml_node *c = n->children; c; c = c->next) {
      if (!c->name) continue;
      std::string name = c->name;
      if (name == "title") it.title = c->value ? c->value : "";
      if (name == "bookmark") it.bookmark = c->value ? c->value : "";
      if (name == "enclosure") it.url = upnp_xml_find_attribute_value(c, "url") ? upnp_xml_find_attribute_value(c, "url") : "";
    }
    items->push_back(it);
  }
  upnp_xml_release(root);
  return true;
}

std::string path_of(const std::string &url) {
  size_t at = url.find("/nmc/");
  return at == std::string::npos ? url : url.substr(at);
}

class WebApiFeedServer : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_NO_FATAL_FAILURE(webapi_test::open_server(&g_socket, &g_port, false));
    lm_nmc_http_rss_init();
  }
  static void TearDownTestSuite() { webapi_test::close_server(g_socket); }
  void SetUp() override {
    webapi_feed_source_set(&kFake);
    std::lock_guard<std::mutex> hold(g_lock);
    g_bookmarks_seen.clear();
  }
  void TearDown() override {
    {
      std::lock_guard<std::mutex> hold(g_lock);
      EXPECT_LE(g_cursors.size(), 8u) << "more contexts kept than the bound";
    }
    // The contexts kept for next pages go with the feeds' release.
    webapi_feed_servers_forget();
    webapi_feed_source_set(nullptr);
    std::lock_guard<std::mutex> hold(g_lock);
    EXPECT_TRUE(g_cursors.empty()) << "a context was left open";
  }
};

TEST(WebApiFeedPaging, StartAndCountAreBoundedAndNeverWrap) {
  struct Case {
    const char *query;
    uint32_t total;
    uint32_t start;
    uint32_t returned;
  } cases[] = {
      {"start=5&count=10", 12, 5, 7},
      {"start=20", 12, 12, 0},
      {"start=12", 12, 12, 0},
      {"start=-3&count=2", 12, 0, 2},
      {"", 100000, 0, 500},
      {"count=0", 100000, 0, 500},
      {"count=501&start=10", 100000, 10, 500},
      {"start=4294967297&count=1", 12, 12, 0},  // not start 1 after a 32-bit cut
      {"start=2&count=9223372036854775807", 12, 2, 10},
      {"count=-5", 3, 0, 3},
      {"startx=4&count=2", 12, 0, 2},  // parameters match by whole name
  };
  for (const Case &c : cases) {
    webapi_feed_request request;
    ASSERT_TRUE(webapi_feed_parse(std::string("/nmc/rss/server?") + c.query, "/nmc/rss", &request)) << c.query;
    webapi_feed_page page = webapi_feed_paging(request.call, c.total);
    EXPECT_EQ(page.returned, c.returned) << c.query;
    if (page.returned) {
      EXPECT_EQ(page.start, c.start) << c.query;
    }
  }
}

TEST(WebApiFeedPaging, TargetsSplitBeforeDecoding) {
  struct Case {
    const char *target;
    webapi_feed_kind kind;
    bool ok;
    const char *device;
    const char *item;
  } cases[] = {
      {"/nmc/rss", WEBAPI_FEED_ROOT, true, "", ""},
      {"/nmc/rss/server", WEBAPI_FEED_SERVER, true, "", ""},
      {"/nmc/rss/x?y=/server", WEBAPI_FEED_ROOT, true, "", ""},  // the query names no feed
      {"/nmc/rss/renderer/RBa%2Fb/IBc%2FIBd", WEBAPI_FEED_RENDERER, true, "a/b", "c/IBd"},
      {"/nmc/rss/server/RBa%2FIBb%3Fc/IBd", WEBAPI_FEED_SERVER, true, "a/IBb?c", "d"},
      {"/nmc/rss/server/RBa+b%25?start=1", WEBAPI_FEED_SERVER, true, "a+b%", ""},
      {"http://127.0.0.1:1/nmc/rss/server/RBx", WEBAPI_FEED_SERVER, true, "x", ""},
      {"/nmc/rss/server/RBa%2", WEBAPI_FEED_SERVER, false, "", ""},
      {"/nmc/rss/server/RBa%00b", WEBAPI_FEED_SERVER, false, "", ""},
      {"/nmc/rpc/server", WEBAPI_FEED_ROOT, false, "", ""},
  };
  for (const Case &c : cases) {
    webapi_feed_request r;
    bool ok = webapi_feed_parse(c.target, "/nmc/rss", &r);
    EXPECT_EQ(ok, c.ok) << c.target;
    if (!ok || !c.ok) continue;
    EXPECT_EQ(r.kind, c.kind) << c.target;
    EXPECT_EQ(r.device, c.device) << c.target;
    EXPECT_EQ(r.item, c.item) << c.target;
  }
}

TEST_F(WebApiFeedServer, EveryEnclosureLeadsBackToItsObject) {
  std::vector<Item> servers;
  Reply list = get("/nmc/rss/server");
  ASSERT_EQ(list.status, 200);
  ASSERT_TRUE(items_of(list.body, &servers)) << list.body;
  ASSERT_EQ(servers.size(), 1u);
  EXPECT_EQ(servers[0].title, "Srv & <Co> \"q\"");
  EXPECT_EQ(list.body.find("<?xml", 10), std::string::npos) << "a second XML declaration";

  std::vector<Item> top;
  std::string title;
  Reply page = get(path_of(servers[0].url) + "?start=2&count=3");
  ASSERT_TRUE(items_of(page.body, &top, &title)) << page.body;
  EXPECT_EQ(title, kServer);
  ASSERT_EQ(top.size(), 3u);
  EXPECT_EQ(top[0].title, "top 2 & <x>");
  EXPECT_NE(page.body.find("<returneditems>3 objects returned"), std::string::npos);
  EXPECT_NE(page.body.find("<description>12 objects available"), std::string::npos);

  // An item's enclosure gives the item itself.
  std::vector<Item> itself;
  Reply item = get(path_of(top[0].url));
  ASSERT_TRUE(items_of(item.body, &itself, &title)) << item.body;
  EXPECT_EQ(title, "top,2");
  ASSERT_EQ(itself.size(), 1u);
  EXPECT_EQ(itself[0].title, "top 2 & <x>");
  EXPECT_EQ(itself[0].url, top[0].url);

  // The awkward bookmark's enclosure reaches the very same bytes.
  std::vector<Item> inner;
  Reply awk = get(path_of(top[1].url));
  ASSERT_EQ(awk.status, 200);
  ASSERT_TRUE(items_of(awk.body, &inner, &title)) << awk.body;
  EXPECT_EQ(title, kAwkward);
  EXPECT_EQ(inner.size(), 3u);
  {
    std::lock_guard<std::mutex> hold(g_lock);
    EXPECT_EQ(g_bookmarks_seen.back(), kAwkward);
  }

  // The next page of a container walks no more to it: its context was kept.
  uint32_t before = 0;
  {
    std::lock_guard<std::mutex> hold(g_lock);
    before = g_next;
  }
  std::vector<Item> next;
  Reply more = get(path_of(servers[0].url) + "?start=5&count=3");
  ASSERT_TRUE(items_of(more.body, &next, &title)) << more.body;
  ASSERT_EQ(next.size(), 3u);
  EXPECT_EQ(next[0].title, "top 5 & <x>");
  std::lock_guard<std::mutex> hold(g_lock);
  EXPECT_EQ(g_next, before) << "a new context for the next page";
}

TEST_F(WebApiFeedServer, LongTitlesAndMetadataAreListedWhole) {
  std::vector<Item> servers, page, itself;
  ASSERT_TRUE(items_of(get("/nmc/rss/server").body, &servers));
  ASSERT_EQ(servers.size(), 1u);
  Reply reply = get(path_of(servers[0].url) + "?start=6&count=3");
  ASSERT_TRUE(items_of(reply.body, &page)) << reply.body.substr(0, 300);
  ASSERT_EQ(page.size(), 3u) << "the page ended at the long object";
  EXPECT_EQ(page[1].title, kLongTitle);
  EXPECT_NE(reply.body.find(kLongPadding), std::string::npos);
  EXPECT_EQ(page[2].title, "top 8 & <x>");
  Reply item = get(path_of(page[1].url));
  ASSERT_TRUE(items_of(item.body, &itself)) << item.body.substr(0, 300);
  ASSERT_EQ(itself.size(), 1u);
  EXPECT_EQ(itself[0].title, kLongTitle);
}

TEST_F(WebApiFeedServer, FailuresAndOutputForms) {
  struct Case {
    const char *target;
    int status;
    const char *type;
    const char *starts;
    const char *absent;  // a text the body must not hold, or ""
    const char *refusal = "";  // the X-NMC-Error header's value, or "" when absent
  } cases[] = {
      {"/nmc/rss", 200, "text/xml", "<?xml", ""},
      {"/nmc/rss/server/RB%3Cscript%3E", 200, "text/plain", "ERROR ON PROCESSING: /nmc/rss/server/RB%3Cscript",
       ""},
      {"/nmc/rss/renderer/RB<b>x", 200, "text/plain", "ERROR ON PROCESSING: /nmc/rss/renderer/RB&lt;b&gt;x",
       "<b>"},
      {"/nmc/rss/server/RBuuid%3Asrv%2C0/IBnone", 200, "text/plain", "ERROR ON PROCESSING", ""},
      {"/nmc/rss/server/RBuuid%3Arefusing", 200, "text/plain", "ERROR ON PROCESSING", "", "701 No such object"},
      {"/nmc/rss/server?fmt=json", 200, "application/json", "{\n\"description\"", "},\n]"},
      {"/nmc/rss/server?fmt=json&callback=f", 200, "application/javascript", "f({", ""},
      {"/nmc/rss/server?callback=cb.x", 200, "application/javascript", "cb.x(\"PD94", "<"},
      {"/nmc/rss/server?callback=a(b)", 402, "text/plain", "invalid args", ""},
      {"/nmc/rss/server/RB%zz", 400, "text/plain", "", ""},
  };
  for (const Case &c : cases) {
    Reply r = get(c.target);
    EXPECT_EQ(r.status, c.status) << c.target;
    EXPECT_NE(r.header.find("Content-Type: " + std::string(c.type)), std::string::npos) << c.target << r.header;
    EXPECT_EQ(r.body.rfind(c.starts, 0), 0u) << c.target << ": " << r.body.substr(0, 120);
    if (*c.absent) {
      EXPECT_EQ(r.body.find(c.absent), std::string::npos) << c.target;
    }
    EXPECT_NE(r.header.find("X-Content-Type-Options: nosniff"), std::string::npos) << c.target;
    size_t at = r.header.find("\r\nX-NMC-Error: ");
    std::string refusal =
        at == std::string::npos ? "" : r.header.substr(at + 15, r.header.find("\r\n", at + 2) - at - 15);
    EXPECT_EQ(refusal, c.refusal) << c.target;
  }
  // The Base64 text is the feed itself.
  Reply plain = get("/nmc/rss/server");
  Reply wrapped = get("/nmc/rss/server?callback=f");
  size_t open = wrapped.body.find("(\"");
  size_t close = wrapped.body.rfind("\");\n");
  ASSERT_TRUE(open != std::string::npos && close != std::string::npos);
  upnp_string *decoded = upnp_string_from_base64(wrapped.body.c_str() + open + 2, close - open - 2);
  ASSERT_NE(decoded, nullptr);
  std::string text(decoded->buffer, decoded->length);
  upnp_string_free(decoded);
  // pubDate may tick between the two requests.
  EXPECT_EQ(text.substr(text.find("</pubDate>")), plain.body.substr(plain.body.find("</pubDate>")));
}

TEST_F(WebApiFeedServer, HostCheckAndThePageOneFile) {
  test_support::TempDir dir("webapi-page");
  webapi_web_set_folder(dir.path().c_str());
  EXPECT_EQ(get("/nmc/web/").status, 404);  // nothing there yet
  test_support::write_file(dir.path() / "nmc.html", "<p>beside</p>");
  EXPECT_EQ(get("/nmc/web/").body, "<p>beside</p>");
  std::filesystem::create_directories(dir.path() / "resources");
  test_support::write_file(dir.path() / "resources" / "nmc.html", "<p>page</p>");
  test_support::write_file(dir.path() / "secret.txt", "secret");
  for (const char *target : {"/nmc/web", "/nmc/web/", "/nmc/web/../secret.txt", "/nmc/web/%2e%2e/secret.txt",
                             "/nmc/web?file=secret.txt", "/nmc/web/resources/../../etc/passwd"}) {
    Reply r = get(target);
    EXPECT_EQ(r.status, 200) << target;
    EXPECT_EQ(r.body, "<p>page</p>") << target;
  }
  Reply page = get("/nmc/web/");
  EXPECT_NE(page.header.find("Content-Type: text/html; charset=utf-8"), std::string::npos);
  EXPECT_NE(page.header.find("connect-src 'self'"), std::string::npos);
  for (const char *target : {"/nmc/web/", "/nmc/rss", "/nmc/rss/server"}) {
    EXPECT_EQ(get(target, "evil.example:" + std::to_string(g_port)).status, 400) << target;
    EXPECT_EQ(get(target, "127.0.0.1:1").status, 400) << target;
  }
  webapi_web_set_folder(nullptr);
}

}  // namespace
