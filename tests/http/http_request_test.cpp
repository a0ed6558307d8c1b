// Request senders (exact templates, URL split, User-Agent rule) and the
// client settings. Requests are captured through a socket pair.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "http/http_client.h"

namespace {

struct Pair {
  int a = -1, b = -1;
  Pair() { EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, &a), 0); }
  ~Pair() {
    close(a);
    close(b);
  }
  // Everything written to `a` so far.
  std::string drain() {
    shutdown(a, SHUT_WR);
    std::string out;
    char buf[4096];
    ssize_t n;
    while ((n = recv(b, buf, sizeof buf, 0)) > 0) out.append(buf, static_cast<size_t>(n));
    return out;
  }
};

// Each case runs in a process of its own: set the user agent it expects.
void use_agent(const char *agent) {
  HTTP_make_user_agent_settable();
  HTTP_set_default_user_agent(agent);
}

}  // namespace

// Must run first in this program: nobody has set a user agent yet.
TEST(HttpSettings, FallbackUserAgentIsSetByFirstRequestAndLocks) {
  Pair p;
  ASSERT_EQ(HTTP_get_request(p.a, "http://10.0.0.1:80/x", nullptr), 0);
  EXPECT_NE(p.drain().find("\r\nUser-Agent: zelConnect Lumet/6.0 DLNADOC/1.50\r\n"), std::string::npos);
  HTTP_set_default_user_agent("ignored while locked");
  char agent[128];
  HTTP_get_default_user_agent(agent, sizeof agent);
  EXPECT_STREQ(agent, HTTP_FALLBACK_USER_AGENT);
}

TEST(HttpSettings, UserAgentLockAndLength) {
  HTTP_make_user_agent_settable();
  HTTP_set_default_user_agent("LumetMedia-NMC DLNADOC/1.50");
  HTTP_set_default_user_agent("second");  // locked by the first set
  char agent[200];
  HTTP_get_default_user_agent(agent, sizeof agent);
  EXPECT_STREQ(agent, "LumetMedia-NMC DLNADOC/1.50");

  HTTP_make_user_agent_settable();
  HTTP_set_default_user_agent(std::string(300, 'u').c_str());
  HTTP_get_default_user_agent(agent, sizeof agent);
  EXPECT_EQ(std::string(agent), std::string(127, 'u'));

  HTTP_make_user_agent_settable();
  HTTP_set_default_user_agent(nullptr);
  HTTP_get_default_user_agent(agent, sizeof agent);
  EXPECT_STREQ(agent, "");
}

TEST(HttpSettings, TimeoutsReturnPreviousValue) {
  EXPECT_EQ(HTTP_get_connection_timeout(), 30u);
  EXPECT_EQ(HTTP_get_soap_timeout(), 40u);
  EXPECT_EQ(HTTP_set_connection_timeout(5), 30u);
  EXPECT_EQ(HTTP_set_connection_timeout(30), 5u);
  EXPECT_EQ(HTTP_set_soap_timeout(7), 40u);
  EXPECT_EQ(HTTP_get_soap_timeout(), 7u);
  HTTP_set_soap_timeout(40);
}

TEST(HttpRequest, GetAndHeadTemplates) {
  use_agent("UA/1.0");
  {
    Pair p;
    ASSERT_EQ(HTTP_get_request(p.a, "http://192.168.1.5:8200/desc/root.xml?a=b", "X-A: 1\r\n"), 0);
    EXPECT_EQ(p.drain(),
              "GET /desc/root.xml?a=b HTTP/1.1\r\nAccept: */*\r\nHost: 192.168.1.5:8200\r\n"
              "User-Agent: UA/1.0\r\nX-A: 1\r\n\r\n");
  }
  {
    Pair p;
    ASSERT_EQ(HTTP_head_request(p.a, "http://host.example", nullptr), 0);
    EXPECT_EQ(p.drain(), "HEAD / HTTP/1.1\r\nAccept: */*\r\nHost: host.example\r\nUser-Agent: UA/1.0\r\n\r\n");
  }
  {
    Pair p;
    ASSERT_EQ(HTTP_get_request_1_0(p.a, "http://h:1/a b", nullptr), 0);
    EXPECT_EQ(p.drain(), "GET /a b HTTP/1.0\r\nAccept: */*\r\nHost: h:1\r\nUser-Agent: UA/1.0\r\n\r\n");
  }
}

TEST(HttpRequest, ExtraUserAgentSuppressesDefault) {
  use_agent("UA/1.0");
  Pair p;
  ASSERT_EQ(HTTP_get_request(p.a, "http://h/x", "User-Agent: WinampMPEG/5.11\r\nIcy-MetaData:1\r\n"), 0);
  std::string req = p.drain();
  EXPECT_EQ(req, "GET /x HTTP/1.1\r\nAccept: */*\r\nHost: h\r\nUser-Agent: WinampMPEG/5.11\r\nIcy-MetaData:1\r\n\r\n");
}

TEST(HttpRequest, BadUrlsAreRefusedWithoutSending) {
  for (const char *url : {"http://a", "https://host/x", "HTTP://host/x", "ftp://host/x", ""}) {
    Pair p;
    EXPECT_EQ(HTTP_get_request(p.a, url, nullptr), 1) << url;
    EXPECT_EQ(HTTP_head_request(p.a, url, nullptr), 1) << url;
    EXPECT_EQ(HTTP_get_request_1_0(p.a, url, nullptr), 1) << url;
    EXPECT_EQ(HTTP_post_request(p.a, url, "\"a\"", "body"), 1) << url;
    EXPECT_EQ(HTTP_post_header(p.a, url, "text/plain", 5, 0, nullptr), 1) << url;
    EXPECT_EQ(p.drain(), "") << url;
  }
  Pair p;
  EXPECT_EQ(HTTP_get_request(p.a, nullptr, nullptr), 1);
}

TEST(HttpRequest, HostIsCutAt255Characters) {
  Pair p;
  std::string host(300, 'h');
  ASSERT_EQ(HTTP_get_request(p.a, ("http://" + host + "/p").c_str(), nullptr), 0);
  std::string req = p.drain();
  EXPECT_NE(req.find("\r\nHost: " + std::string(255, 'h') + "\r\n"), std::string::npos);
}

TEST(HttpRequest, SoapPostHeader) {
  use_agent("UA/1.0");
  Pair p;
  ASSERT_EQ(HTTP_post_request(p.a, "http://10.1.2.3:49152/upnp/control/AVTransport1",
                              "\"urn:schemas-upnp-org:service:AVTransport:1#Play\"", "<s:Envelope>12345</s:Envelope>"),
            0);
  EXPECT_EQ(p.drain(),
            "POST /upnp/control/AVTransport1 HTTP/1.1\r\nAccept: */*\r\nUser-Agent: UA/1.0\r\nHost: 10.1.2.3:49152\r\n"
            "SOAPACTION: \"urn:schemas-upnp-org:service:AVTransport:1#Play\"\r\n"
            "CONTENT-TYPE: text/xml; charset=\"utf-8\"\r\nContent-Length: 30\r\n\r\n");
  Pair q;
  EXPECT_EQ(HTTP_post_request(q.a, "http://10.1.2.3:49152", "\"x\"", "b"), 1);  // no path
}

TEST(HttpRequest, GeneralPostHeader) {
  use_agent("UA/1.0");
  {
    Pair p;
    ASSERT_EQ(HTTP_post_header(p.a, "http://h:9/import?id=1", "audio/mpeg", 5000000000LL, 1, "X-B: 2\r\n"), 0);
    EXPECT_EQ(p.drain(),
              "POST /import?id=1 HTTP/1.1\r\nAccept: */*\r\nHost: h:9\r\nConnection: Keep-Alive\r\n"
              "Content-Type: audio/mpeg\r\nContent-Length: 5000000000\r\nExpect: 100-continue\r\n"
              "User-Agent: UA/1.0\r\nX-B: 2\r\n\r\n");
  }
  {
    Pair p;
    ASSERT_EQ(HTTP_post_header(p.a, "http://h:9/lmmcp", "text/xml", 0, 0, nullptr), 0);
    EXPECT_EQ(p.drain(),
              "POST /lmmcp HTTP/1.1\r\nAccept: */*\r\nHost: h:9\r\nConnection: Close\r\n"
              "Content-Type: text/xml\r\nUser-Agent: UA/1.0\r\n\r\n");
  }
  Pair p;
  EXPECT_EQ(HTTP_post_header(p.a, "http://h/x", nullptr, 1, 0, nullptr), 1);
  EXPECT_EQ(HTTP_post_header(p.a, "http://h/x", "text/plain", -1, 0, nullptr), 1);
  EXPECT_EQ(HTTP_post_header(p.a, nullptr, "text/plain", 1, 0, nullptr), 1);
  EXPECT_EQ(p.drain(), "");
}

TEST(HttpRequest, FixedBufferRequestsThatDoNotFitAreNotSent) {
  std::string extra = "X-Long: " + std::string(1100, 'x') + "\r\n";
  Pair p;
  EXPECT_EQ(HTTP_post_header(p.a, "http://h/x", "text/plain", 3, 0, extra.c_str()), 1);
  EXPECT_EQ(HTTP_get_request_1_0(p.a, "http://h/x", extra.c_str()), 1);
  EXPECT_EQ(HTTP_post_request(p.a, ("http://h/" + std::string(1100, 'p')).c_str(), "\"a\"", "b"), 1);
  EXPECT_EQ(p.drain(), "");
  // The dynamic senders have no such limit.
  Pair q;
  EXPECT_EQ(HTTP_get_request(q.a, "http://h/x", extra.c_str()), 0);
  EXPECT_NE(q.drain().find(extra), std::string::npos);
}

TEST(HttpRequest, SendToClosedPeerFails) {
  int sv[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
  close(sv[1]);
  EXPECT_EQ(HTTP_get_request(sv[0], "http://h/x", nullptr), 1);
  EXPECT_EQ(HTTP_post_header(sv[0], "http://h/x", "a/b", 1, 0, nullptr), 1);
  close(sv[0]);
  EXPECT_EQ(HTTP_get_request(-1, "http://h/x", nullptr), 1);
}
