// The web API's text functions without a server: target splitting and the
// one decoding, numbers, callback names, JavaScript and JSON escaping, URL
// escaping at its bound, the item tag change, the JSON form of a feed, the
// event ring and the error table.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "base/upnp_mem.h"
#include "support_mem.h"
#include "webapi/webapi_feed.h"
#include "webapi/webapi_internal.h"
#include "webapi/webapi_refusal.h"

namespace {

using test_support::take_text;

struct TargetCase {
  const char *target;
  bool ok;
  const char *command;
  const char *renderer;  // value of renderer, "-" when absent
};

TEST(WebApiText, TargetsSplitIntoCommandAndOnceDecodedParameters) {
  const TargetCase cases[] = {
      {"/nmc/rpc/get_playindex?renderer=uuid%3Aa", true, "get_playindex", "uuid:a"},
      // The query never selects a command.
      {"/nmc/rpc/stop?x=play&renderer=r", true, "stop", "r"},
      {"/nmc/rpc/log_clear", true, "log_clear", "-"},
      {"/nmc/rpc/clear?renderer=a+b", true, "clear", "a b"},
      // Decoded once: %2541 stays %41.
      {"/nmc/rpc/play?renderer=%2541", true, "play", "%41"},
      // A name matches whole.
      {"/nmc/rpc/play?xrenderer=1", true, "play", "-"},
      {"http://127.0.0.1:9000/nmc/rpc/stop?renderer=z", true, "stop", "z"},
      {"/nmc/rpc/get_state/extra?renderer=q", true, "get_state/extra", "q"},
      {"/nmc/rpcplay?renderer=q", false, "", "-"},
      {"/nmc/rpc/play?renderer=%4", false, "", "-"},
      {"/nmc/rpc/play?renderer=%zz", false, "", "-"},
      {"/nmc/rpc/play?renderer=%00", false, "", "-"},
      {"/other/nmc/rpc/play", false, "", "-"},
  };
  for (const TargetCase &c : cases) {
    SCOPED_TRACE(c.target);
    webapi_call call;
    ASSERT_EQ(webapi_parse_target(c.target, &call), c.ok);
    if (!c.ok) continue;
    EXPECT_EQ(call.command, c.command);
    std::string value;
    bool found = get_param(call, "renderer", &value);
    EXPECT_EQ(found ? value : std::string("-"), c.renderer);
  }
}

TEST(WebApiText, NumbersAreStrictWhereACommandNeedsThem) {
  webapi_call call;
  ASSERT_TRUE(webapi_parse_target("/nmc/rpc/x?a=12&b=-3&c=&d=4x&e=99999999999&f=%2B7", &call));
  struct {
    const char *name;
    bool ok;
    int64_t value;
  } cases[] = {{"a", true, 12}, {"b", true, -3}, {"c", false, 0}, {"d", false, 0},
               {"e", false, 0}, {"f", true, 7},  {"g", false, 0}};
  for (const auto &c : cases) {
    int64_t v = 0;
    EXPECT_EQ(webapi_number(call, c.name, -100, 1000000, &v), c.ok) << c.name;
    if (c.ok) {
      EXPECT_EQ(v, c.value) << c.name;
    }
  }
  EXPECT_EQ(get_int_param(call, "g"), -1);  // the old missing value
  EXPECT_EQ(get_int64_param(call, "g"), 0);
}

TEST(WebApiText, CallbackNamesArePlainJavaScriptNames) {
  const std::pair<const char *, bool> cases[] = {
      {"cb", true},        {"jQuery_123.done", true}, {"$x", true},      {"", false},
      {"1cb", false},      {"a(b)", false},           {"a;alert", false}, {"a b", false},
      {".a", false},       {"a..b", false},           {"a.", false},      {"</script>", false},
  };
  for (const auto &c : cases) EXPECT_EQ(webapi_callback_name_ok(c.first), c.second) << c.first;
  EXPECT_FALSE(webapi_callback_name_ok(std::string(WEBAPI_MAX_CALLBACK + 1, 'a')));
  EXPECT_TRUE(webapi_callback_name_ok(std::string(WEBAPI_MAX_CALLBACK, 'a')));
}

TEST(WebApiText, JavaScriptStringEscaping) {
  const std::pair<std::string, std::string> cases[] = {
      {"a\"b", "a\\\"b"},
      {"a\\b", "a\\\\b"},
      {"x\ny\r\t", "x\\ny\\r\\t"},
      {std::string("\x01", 1), "\\u0001"},
      {"</script>", "<\\/script>"},
      {"\xE2\x80\xA8|\xE2\x80\xA9", "\\u2028|\\u2029"},
      {"caf\xC3\xA9", "caf\xC3\xA9"},
  };
  for (const auto &c : cases) EXPECT_EQ(webapi_js_escape(c.first), c.second);
}

class WebApiFeed : public test_support::MemCheckedTest {};

TEST_F(WebApiFeed, UrlEscapeWritesTwoDigitsAndNeverCutsAnEscape) {
  EXPECT_EQ(take_text(urlEscape("a b/c?d=\t")), "a%20b%2Fc%3Fd%3D\t");
  EXPECT_EQ(take_text(urlEscape("\xB4")), "%B4");
  // 2046 plain bytes and then a reserved one: the escape does not fit.
  std::string text(2046, 'x');
  text += "/";
  std::string out = take_text(urlEscape(text.c_str()));
  EXPECT_EQ(out, std::string(2046, 'x'));
  std::string slashes(1000, '/');
  out = take_text(urlEscape(slashes.c_str()));
  EXPECT_LE(out.size(), 2047u);
  EXPECT_EQ(out.size() % 3, 0u);
}

TEST_F(WebApiFeed, JsonEscapeIsComplete) {
  EXPECT_EQ(take_text(jsonEscape("a\"b\\c\n\x1f\xE2\x80\xA8")), "a\\\"b\\\\c\\u000a\\u001f\\u2028");
}

TEST_F(WebApiFeed, ItemTagBecomesMetaOnceAndFeedConvertsToJson) {
  char didl[] = "<DIDL-Lite><item id=\"1\"><dc:title>A</dc:title></item><item></item></DIDL-Lite>";
  rssChangeItemTag(didl);
  EXPECT_STREQ(didl, "<DIDL-Lite><meta id=\"1\"><dc:title>A</dc:title></meta><item></item></DIDL-Lite>");

  upnp_string *feed = rssCreateHeader("T & \"x\"", 2, 1);
  ASSERT_NE(feed, nullptr);
  EXPECT_NE(std::strstr(upnp_string_get_cstring(feed), "<title>T &amp; "), nullptr);
  feed = upnp_string_concat(feed,
                            "<item>\n<title>A \"q\"</title>\n<enclosure url=\"u\" type=\"t\"></enclosure>\n"
                            "</item>\n<item>\n<title>B</title>\n</item>\n</channel>\n</rss>\n");
  upnp_string *json = rssToJSON(upnp_string_get_cstring(feed));
  ASSERT_NE(json, nullptr);
  EXPECT_EQ(std::string(upnp_string_get_cstring(json)),
            "{\n\"description\":\"2 objects available in container\"\n"
            ",\"returneditems\":\"1 objects returned from container\"\n"
            ",\"item\": [\n{\n\"title\":\"A \\\"q\\\"\"\n,\"enclosure\": {\n \"value\":\"\"\n"
            ",\"type\":\"t\"\n,\"url\":\"u\"\n}\n}\n,{\n\"title\":\"B\"\n}\n]\n}\n");
  upnp_string_free(json);
  upnp_string_free(feed);
}

TEST(WebApiEvents, RingKeepsTheNewestHundredInOrder) {
  webapi_event_log_reset();
  EXPECT_EQ(webapi_events_since(0), "0\n");
  for (int i = 1; i <= 250; ++i) rendererListEventCallback(0, 0x4002, ("r" + std::to_string(i)).c_str());
  std::string all = webapi_events_since(0);
  EXPECT_EQ(all.rfind("151 renderer 16386 r151\n\r\n", 0), 0u);
  EXPECT_NE(all.find("250 renderer 16386 r250\n\r\n"), std::string::npos);
  size_t lines = 0;
  for (size_t at = 0; (at = all.find("\r\n", at)) != std::string::npos; at += 2) ++lines;
  EXPECT_EQ(lines, 100u);
  EXPECT_EQ(webapi_events_since(250), "");
  EXPECT_EQ(webapi_events_since(248), "249 renderer 16386 r249\n\r\n250 renderer 16386 r250\n\r\n");
  EXPECT_EQ(webapi_events_since(-5), all);
  serverListEventCallback(0, 4, "s");
  EXPECT_EQ(webapi_events_since(250), "251 server 4 s\n\r\n");
  webapi_event_log_release();
  // A callback still on its way after the release finds the lock and logs
  // nothing.
  rendererListEventCallback(0, 0x4001, "late");
  EXPECT_EQ(webapi_events_since(0), "0\n");
}

TEST(WebApiErrors, UnknownCodesGetTheLastEntry) {
  EXPECT_EQ(webapi_find_error(-1)->status, 402u);
  EXPECT_STREQ(webapi_find_error(-10)->message, "upload already in progress, cannot start another");
  EXPECT_EQ(webapi_find_error(200)->status, 200u);
  EXPECT_STREQ(webapi_find_error(12345)->message, "unknown error");
  EXPECT_EQ(webapi_find_error(12345)->status, 500u);
}

}  // namespace

// A device's UPnP error in words for the side that refused; the
// controller's own codes are no device refusal.
TEST(WebApiErrors, RefusalWordsNameCodeAndMeaning) {
  const struct {
    lm_nmc_result_t code;
    webapi_side side;
    const char *words;
  } cases[] = {
      {701, WEBAPI_SIDE_RENDERER, "701 Transition not available"},
      {701, WEBAPI_SIDE_SERVER, "701 No such object"},
      {708, WEBAPI_SIDE_SERVER, "708 Invalid search criteria"},
      {714, WEBAPI_SIDE_RENDERER, "714 Illegal MIME-type"},
      {400, WEBAPI_SIDE_SERVER, "400 Bad request"},
      {720, WEBAPI_SIDE_RENDERER, "720 UPnP error"},
      {9, WEBAPI_SIDE_RENDERER, ""},
      {0, WEBAPI_SIDE_SERVER, ""},
  };
  for (const auto &c : cases) EXPECT_EQ(webapi_refusal_words(c.code, c.side), c.words) << c.code;
  // Only a refusal is noted, and taking the note clears it.
  webapi_refusal_clear();
  webapi_refusal_note(3, WEBAPI_SIDE_RENDERER);
  EXPECT_EQ(webapi_refusal_take(), "");
  webapi_refusal_note(714, WEBAPI_SIDE_RENDERER);
  EXPECT_EQ(webapi_refusal_take(), "714 Illegal MIME-type");
  EXPECT_EQ(webapi_refusal_take(), "");
}
