// Header parsers and the request-method table.
#include <gtest/gtest.h>

#include <string>

#include "base/upnp_mem.h"
#include "http/http_methods.h"
#include "http/http_parse.h"

TEST(HttpMethods, TableTypesAndPrefixMatch) {
  EXPECT_EQ(HTTP_get_method_type("GET / HTTP/1.1"), 1u);
  EXPECT_EQ(HTTP_get_method_type("HEAD /x HTTP/1.1"), 2u);
  EXPECT_EQ(HTTP_get_method_type("OPTIONS * HTTP/1.1"), 2u);  // shares HEAD's type
  EXPECT_EQ(HTTP_get_method_type("POST /ctl HTTP/1.1"), 4u);
  EXPECT_EQ(HTTP_get_method_type("SUBSCRIBE /ev HTTP/1.1"), 8u);
  EXPECT_EQ(HTTP_get_method_type("UNSUBSCRIBE /ev HTTP/1.1"), 16u);
  EXPECT_EQ(HTTP_get_method_type("NOTIFY / HTTP/1.1"), 32u);
  EXPECT_EQ(HTTP_get_method_type("get / HTTP/1.1"), 0u);  // case-sensitive
  EXPECT_EQ(HTTP_get_method_type("PUT / HTTP/1.1"), 0u);
  EXPECT_EQ(HTTP_get_method_type(""), 0u);
  EXPECT_EQ(HTTP_get_method_type(nullptr), 0u);
}

TEST(HttpParse, StatusCode) {
  EXPECT_EQ(HTTP_parse_header_response("HTTP/1.1 200 OK\r\n\r\n"), 200);
  EXPECT_EQ(HTTP_parse_header_response("HTTP/1.0 404 Not Found\r\n"), 404);
  EXPECT_EQ(HTTP_parse_header_response(" 302 Found"), 302);
  EXPECT_EQ(HTTP_parse_header_response("ICY 200 OK\r\n"), 200);
  EXPECT_EQ(HTTP_parse_header_response(nullptr), 500);
  EXPECT_EQ(HTTP_parse_header_response(""), 500);
  EXPECT_EQ(HTTP_parse_header_response("HTTP/1.1"), 500);
  EXPECT_EQ(HTTP_parse_header_response("HTTP/1.1 "), 500);
  EXPECT_EQ(HTTP_parse_header_response("HTTP/1.1 99999999999999999999"), 2147483647);
}

TEST(HttpParse, ContentLength) {
  EXPECT_EQ(HTTP_parse_header_size("HTTP/1.1 200 OK\r\nContent-Length: 1234\r\n\r\n"), 1234);
  EXPECT_EQ(HTTP_parse_header_size("HTTP/1.1 200 OK\r\ncontent-LENGTH:\t 77\r\n\r\n"), 77);
  EXPECT_EQ(HTTP_parse_header_size("HTTP/1.1 200 OK\r\nContent-Length: 5000000000\r\n\r\n"), 5000000000LL);
  EXPECT_EQ(HTTP_parse_header_size("HTTP/1.1 200 OK\r\nContent-Length: -5\r\n\r\n"), 0);
  EXPECT_EQ(HTTP_parse_header_size("HTTP/1.1 200 OK\r\nContent-Length: x\r\n\r\n"), 0);
  EXPECT_EQ(HTTP_parse_header_size("HTTP/1.1 200 OK\r\n\r\n"), 0);
  EXPECT_EQ(HTTP_parse_header_size(nullptr), 0);
  // Far too many digits saturate instead of wrapping to a small or negative size.
  EXPECT_EQ(HTTP_parse_header_size("Content-Length: 99999999999999999999999\r\n"), INT64_MAX);
}

TEST(HttpParse, Chunked) {
  EXPECT_TRUE(HTTP_parse_header_chunked("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"));
  EXPECT_TRUE(HTTP_parse_header_chunked("HTTP/1.1 200 OK\r\ntransfer-encoding: Chunked\r\n\r\n"));
  EXPECT_FALSE(HTTP_parse_header_chunked("HTTP/1.1 200 OK\r\nX-Mode: chunked\r\n\r\n"));
  EXPECT_FALSE(HTTP_parse_header_chunked("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunkedX\r\n\r\n"));
  EXPECT_FALSE(HTTP_parse_header_chunked(nullptr));
}

TEST(HttpParse, ContentTypeCopy) {
  int64_t before = upnp_mem_used();
  char *t = HTTP_parse_header_mime_type("HTTP/1.1 200 OK\r\nCONTENT-TYPE:   text/xml; charset=\"utf-8\"\r\n\r\n");
  ASSERT_NE(t, nullptr);
  EXPECT_STREQ(t, "text/xml; charset=\"utf-8\"");
  upnp_free_impl(t);
  EXPECT_EQ(upnp_mem_used(), before);
  EXPECT_EQ(HTTP_parse_header_mime_type("HTTP/1.1 200 OK\r\nContent-Type: text/plain"), nullptr);  // no CR LF
  EXPECT_EQ(HTTP_parse_header_mime_type("HTTP/1.1 200 OK\r\n\r\n"), nullptr);
}

TEST(HttpParse, ConnectionClose) {
  EXPECT_TRUE(upnp_http_has_connection_close("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n"));
  EXPECT_TRUE(upnp_http_has_connection_close("HTTP/1.1 200 OK\r\nconnection:\tCLOSE\r\n\r\n"));
  EXPECT_TRUE(upnp_http_has_connection_close("HTTP/1.1 200 OK\r\nConnection: TE, close\r\n\r\n"));
  EXPECT_FALSE(upnp_http_has_connection_close("HTTP/1.1 200 OK\r\nConnection: keep-alive\r\n\r\n"));
  // A later field that merely mentions the word does not count.
  EXPECT_FALSE(upnp_http_has_connection_close("HTTP/1.1 200 OK\r\nConnection: keep-alive\r\nX-Note: close\r\n\r\n"));
  EXPECT_FALSE(upnp_http_has_connection_close("HTTP/1.1 200 OK\r\n\r\n"));
}

TEST(HttpParse, HeaderParam) {
  const char *h = "NOTIFY * HTTP/1.1\r\nNT: upnp:rootdevice\r\nnts:  ssdp:alive\r\nEMPTY:\r\nLOC:\t\r\n\r\n";
  const char *v = HTTP_get_header_param(h, "\r\nNTS:");
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(std::string(v, 10), "ssdp:alive");
  EXPECT_EQ(HTTP_get_header_param(h, "\r\nEMPTY:"), nullptr);
  EXPECT_EQ(HTTP_get_header_param(h, "\r\nLOC:"), nullptr);
  EXPECT_EQ(HTTP_get_header_param(h, "\r\nUSN:"), nullptr);
  const char *text = "X: y";
  EXPECT_EQ(HTTP_get_header_param(text, "x:"), text + 3);
}

TEST(HttpParse, SearchIgnoresCaseAndBoundsNameLength) {
  EXPECT_NE(HTTP_find_nocase("abcDEFghi", "defG"), nullptr);
  EXPECT_EQ(HTTP_find_nocase("abc", "abcd"), nullptr);
  std::string haystack(3000, 'a');
  EXPECT_NE(HTTP_find_nocase(haystack.c_str(), std::string(1024, 'A').c_str()), nullptr);
  EXPECT_EQ(HTTP_find_nocase(haystack.c_str(), std::string(1025, 'a').c_str()), nullptr);
}

TEST(HttpParse, UnescapeUrlInPlace) {
  char a[] = "/a%20b+c%2Fd%41";
  EXPECT_STREQ(HTTP_unescape_url(a), "/a b c/dA");
  char b[] = "50%+%zz%4";  // incomplete escapes stay as they are
  EXPECT_STREQ(HTTP_unescape_url(b), "50% %zz%4");
  EXPECT_EQ(HTTP_unescape_url(nullptr), nullptr);
}
