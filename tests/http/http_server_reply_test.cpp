// Replies: byte ranges and their error statuses, the header templates,
// pages, extra headers, and the handler list's order and refusals.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "http/http_methods.h"
#include "http_server_test_util.h"

namespace {

Response get_with(const std::string &path, const std::string &headers) {
  return parse_response(round_trip("GET " + path + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n" + headers + "\r\n"));
}

TEST(HttpServerRanges, OpenEndedRangeGivesTheRest) {
  Response r = get_with("/data", "Range: bytes=10-\r\n");
  EXPECT_EQ(206, r.status);
  EXPECT_EQ("90", field(r.header, "Content-Length"));
  EXPECT_EQ("bytes 10-99/100", field(r.header, "Content-Range"));
  EXPECT_EQ(data_100().substr(10), r.body);
  int status = 0;
  std::string out = run_command("curl -s -r 5-14 " + test_url("/data"), &status);
  EXPECT_EQ(data_100().substr(5, 10), out);
}

TEST(HttpServerRanges, ErrorStatuses) {
  EXPECT_EQ(416, get_with("/data", "Range: bytes=50-10\r\n").status);
  EXPECT_EQ(416, get_with("/data", "Range: bytes=100-\r\n").status);
  EXPECT_EQ(416, get_with("/data", "Range: bytes=0-200\r\n").status);
  EXPECT_EQ(400, get_with("/data", "Range: 10-20\r\n").status);
  EXPECT_EQ(400, get_with("/data", "Range: bytes 10-20\r\n").status);
  EXPECT_EQ(400, get_with("/data", "Range: bytes=x-20\r\n").status);
  EXPECT_EQ(400, get_with("/data", "Range: bytes=99999999999999999999999-\r\n").status);
  EXPECT_EQ(400, get_with("/data", "TimeSeekRange.dlna.org: npt=10-\r\n").status);
  Response r = get_with("/data", "Range: bytes=50-10\r\n");
  EXPECT_EQ("0", field(r.header, "Content-Length"));
  EXPECT_EQ("", r.body);
}

TEST(HttpServerRanges, ClosedRangesAndTheWholeBuffer) {
  Response r = get_with("/data", "Range: bytes=0-0\r\n");
  EXPECT_EQ(206, r.status);
  EXPECT_EQ("0", r.body);
  r = get_with("/data", "Range: bytes=90-100\r\n");
  EXPECT_EQ(206, r.status);
  EXPECT_EQ(data_100().substr(90), r.body);
  r = get_with("/data", "");
  EXPECT_EQ(200, r.status);
  EXPECT_EQ(data_100(), r.body);
  EXPECT_EQ("bytes", field(r.header, "Accept-Ranges"));
}

TEST(HttpServerHeader, KnownLengthTemplate) {
  Response r = get_with("/small", "");
  ASSERT_EQ(200, r.status);
  const std::string &h = r.header;
  EXPECT_EQ(0u, h.find("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 5\r\nDate: "));
  EXPECT_NE(std::string::npos,
            h.find(" GMT\r\nPragma: no-cache\r\nCache-control: no-cache\r\nAccept-Ranges: bytes\r\nConnection: close\r\n"
                   "EXT:\r\nServer: UPnP/1.0, zelConnect UPnP SDK/1.0,  LumetMedia UPnP SDK/1.1\r\n\r\n"));
  EXPECT_EQ("", field(h, "Content-Language"));
  r = get_with("/small", "Accept-Language: de\r\n");
  EXPECT_EQ("*", field(r.header, "Content-Language"));  // no language configured
}

TEST(HttpServerHeader, UnknownLengthTemplateCloses) {
  std::string all = round_trip("GET /unknown HTTP/1.1\r\nHost: x\r\n\r\n");
  EXPECT_EQ("HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\nConnection: close\r\nX-Test: unknown\r\n\r\nstreamed", all);
}

TEST(HttpServerHeader, PagesAndContentTypes) {
  Response r = get_with("/pages/401", "");
  EXPECT_EQ(401, r.status);
  EXPECT_EQ(0u, r.header.find("HTTP/1.1 401 Unauthorised\r\n"));
  EXPECT_EQ(
      "<HTML><HEAD><TITLE>401 Unauthorized</TITLE></HEAD><BODY><H1>Unauthorized</H1>"
      "Access to this page is restricted.</BODY></HTML>",
      r.body);
  r = get_with("/pages/503/<b>", "");
  EXPECT_EQ(503, r.status);
  EXPECT_EQ(
      "<HTML><HEAD><TITLE>503 Service Unavailable</TITLE></HEAD><BODY><H1>Service Unavailable</H1>"
      "Server can't provide /pages/503/&lt;b&gt; resource now.<br>busy <now></HTML>",
      r.body);
  r = get_with("/pages/msg", "");
  EXPECT_EQ(409, r.status);
  EXPECT_EQ("conflicting", r.body);
  EXPECT_EQ("text/html; charset=utf-8", field(r.header, "Content-Type"));
  r = get_with("/pages/nocache", "");
  EXPECT_NE(std::string::npos, r.header.find("Expires: 0\r\nPragma: no-cache\r\nCache-Control: no-cache\r\n"));
  EXPECT_EQ(r.header.find("Expires: 0"), r.header.rfind("Expires: 0"));
  r = get_with("/pages/L16?rate44100&channels2", "");
  EXPECT_EQ("audio/L16;rate=44100;channels=2", field(r.header, "Content-Type"));
  r = get_with("/pages/L16?rate=8000", "");
  EXPECT_EQ("audio/L16;rate=0;channels=0", field(r.header, "Content-Type"));
  r = get_with("/pages/notype", "");
  EXPECT_EQ("application/octet-stream", field(r.header, "Content-Type"));
}

TEST(HttpServerHeader, NotFoundTextsCanBeChanged) {
  HTTP_set_file_not_found_message("Gone", "Nothing here.");
  Response r = get_with("/pages/other", "");
  HTTP_set_file_not_found_message("Not Found", "The requested URL was not found on this server.");
  EXPECT_EQ("<HTML><HEAD><TITLE>404 Gone</TITLE></HEAD><BODY><H1>Gone</H1>Nothing here.</BODY></HTML>", r.body);
}

TEST(HttpServerHeader, StatusTextsAndLanguageMap) {
  EXPECT_STREQ("416 Requested Range Not Satisfiable", HTTP_status_text(416));
  EXPECT_STREQ("402 Invalid Args", HTTP_status_text(402));
  EXPECT_STREQ("200 OK", HTTP_status_text(302));
  EXPECT_STREQ("zh", HTTP_content_language("cht"));
  EXPECT_STREQ("ja", HTTP_content_language("jp"));
  EXPECT_STREQ("ja", HTTP_content_language("ja"));
  EXPECT_STREQ("*", HTTP_content_language("klingon"));
  EXPECT_STREQ("*", HTTP_content_language(nullptr));
}

TEST(HttpServerHeader, ExtraHeadersAreBounded) {
  HTTP_connection *c = new HTTP_connection();
  EXPECT_EQ(0, HTTP_add_header(c, "A: 1\r\n"));
  std::string big(8185, 'x');
  EXPECT_EQ(0, HTTP_add_header(c, big.c_str()));  // 6 + 8185 = 8191
  EXPECT_EQ(1, HTTP_add_header(c, "B"));
  EXPECT_EQ(8191u, std::string(c->extra_headers).size());
  delete c;
}

int handler_a(HTTP_connection *) { return 0; }
int handler_b(HTTP_connection *) { return 0; }
int handler_c(HTTP_connection *) { return 0; }

int order_long(HTTP_connection *c) {
  c->content_type = "text/plain";
  c->length = 4;
  return HTTP_send(c, "long");
}
int order_short_old(HTTP_connection *c) {
  c->content_type = "text/plain";
  c->length = 3;
  return HTTP_send(c, "old");
}
int order_short_new(HTTP_connection *c) {
  c->content_type = "text/plain";
  c->length = 3;
  return HTTP_send(c, "new");
}

TEST(HttpServerHandlers, RegistrationRefusals) {
  EXPECT_EQ(1, upnp_http_register_handler(nullptr, HTTP_METHOD_GET, "/r", 0, 0));
  EXPECT_EQ(1, upnp_http_register_handler(handler_a, HTTP_METHOD_GET, nullptr, 0, 0));
  EXPECT_EQ(1, upnp_http_register_handler(handler_a, HTTP_METHOD_GET, std::string(1024, 'p').c_str(), 0, 0));
  EXPECT_EQ(0, upnp_http_register_handler(handler_a, HTTP_METHOD_GET, std::string(1023, 'p').c_str(), 0, 0));
  EXPECT_EQ(0, upnp_http_register_handler(handler_b, HTTP_METHOD_GET | HTTP_METHOD_POST, "/refuse", 0, 0));
  EXPECT_EQ(1, upnp_http_register_handler(handler_c, HTTP_METHOD_POST, "/refuse", 0, 0));
  EXPECT_EQ(0, upnp_http_register_handler(handler_c, HTTP_METHOD_NOTIFY, "/refuse", 0, 0));
  EXPECT_EQ(1, upnp_http_handler_is_registered(handler_b));
  EXPECT_EQ(1, upnp_http_handler_is_registered(handler_c));
}

TEST(HttpServerHandlers, LongestPrefixFirstAndNewerAmongEqualLengths) {
  ASSERT_EQ(0, upnp_http_register_handler(order_short_old, HTTP_METHOD_GET, "/ord", 0, 0));
  ASSERT_EQ(0, upnp_http_register_handler(order_long, HTTP_METHOD_GET, "/ord/deeper", 0, 0));
  EXPECT_EQ("old", get_with("/ord/x", "").body);
  ASSERT_EQ(0, upnp_http_register_handler(order_short_new, HTTP_METHOD_HEAD | HTTP_METHOD_GET | 64, "/orx", 0, 0));
  EXPECT_EQ("long", get_with("/ord/deeper/x", "").body);
  EXPECT_EQ("old", get_with("/ord/x", "").body);
  EXPECT_EQ("new", get_with("/orx", "").body);
  // Same length, different prefix: each still gets its own.
  EXPECT_EQ("long", get_with("/ord/deeper", "").body);
}

}  // namespace
