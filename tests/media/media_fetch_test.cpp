// URL loading and everything resting on it, against crafted servers on
// 127.0.0.1: redirect fields in header mode, the deadline, the body cap and
// UTF-8 check, the video link's title and its one bounded resolution, the
// date from a Date header.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include <unistd.h>

#include "base/upnp_mem.h"
#include "media/zel_platform.h"
#include "media/zel_util.h"
#include "media/zel_youtube_item.h"
#include "media_test_util.h"
#include "support_tcp.h"

#include "support_mem.h"

namespace {

using MediaFetch = test_support::MemCheckedTest;

using media_test::CraftedServer;
using media_test::response;
using Clock = std::chrono::steady_clock;

std::string take(char *text) {
  std::string out = text ? text : "(none)";
  upnp_free_impl(text);
  return out;
}

double seconds_since(Clock::time_point t0) {
  return std::chrono::duration<double>(Clock::now() - t0).count();
}

TEST_F(MediaFetch, BodiesRedirectFieldsAndFailures) {
  CraftedServer server([](const std::string &request) -> std::string {
    if (request.find("GET /moved") == 0)
      return response("302 Found", {"Location: http://x/a b\"c", "X-Plain: token.1", "Bad Name: v"}, "");
    if (request.find("GET /text") == 0) return response("200 OK", {}, "h\xc3\xa9llo");
    if (request.find("GET /latin1") == 0) return response("200 OK", {}, "h\xe9llo");
    if (request.find("GET /big") == 0) return response("200 OK", {}, std::string(MU_HTTP_BODY_CAP + 1, 'b'));
    if (request.find("GET /missing") == 0) return response("404 Not Found", {}, "gone");
    if (request.find("GET /stall") == 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1500));
      return response("200 OK", {}, "late");
    }
    return std::string();
  });
  struct Case {
    const char *path;
    bool header_mode;
    std::string result;
  };
  const Case cases[] = {
      {"/text", false, "h\xc3\xa9llo"},
      {"/text", true, "h\xc3\xa9llo"},  // no redirect: the body
      {"/moved", true, "Location = \"http://x/a b\\\"c\";\nX-Plain = token.1;\nContent-Length = 0;\n"
                       "Connection = close;\n"},
      {"/moved", false, ""},
      {"/missing", false, "gone"},
      {"/latin1", false, "(none)"},
      {"/big", false, "(none)"},
      {"/closed", false, "(none)"},
  };
  for (const Case &c : cases) {
    std::string url = server.url(c.path);
    EXPECT_EQ(c.result, take(c.header_mode ? MUHttpGetHeader(url.c_str(), 0) : MUHttpGet(url.c_str(), 0)))
        << c.path;
  }
  // The deadline covers the whole exchange.
  Clock::time_point t0 = Clock::now();
  EXPECT_EQ("(none)", take(MUHttpGet(server.url("/stall").c_str(), 400)));
  EXPECT_LT(seconds_since(t0), 1.2);
  EXPECT_EQ("(none)", take(MUHttpGet("https://127.0.0.1/", 0)));
  EXPECT_EQ("(none)", take(MUHttpGet(nullptr, 0)));

  // ZelUtil's copies: truncated to the size, empty when nothing came.
  char small[4];
  EXPECT_TRUE(ZelUtil::HttpGet(server.url("/missing").c_str(), small, sizeof small));
  EXPECT_STREQ("gon", small);
  EXPECT_TRUE(ZelUtil::HttpGet(server.url("/closed").c_str(), small, sizeof small));
  EXPECT_STREQ("", small);
  EXPECT_FALSE(ZelUtil::HttpGet(server.url("/missing").c_str(), small, 0));
  char header[128];
  EXPECT_TRUE(ZelUtil::GetHttpHeader(server.url("/moved").c_str(), header, sizeof header));
  EXPECT_EQ(0, std::strncmp(header, "Location = \"", 12));
}

// The video site: information with a title and token, formats 37 and 22
// refused, 18 redirected; the data feed for ids without a title.
std::string video_site(const std::string &request, int stall_ms) {
  if (request.find("GET /get_video_info?video_id=notitle") == 0) return response("200 OK", {}, "status=ok&token=t");
  if (request.find("GET /get_video_info?video_id=") == 0)
    return response("200 OK", {}, "status=ok&title=My+Clip+%26+%C3%9Cn&token=a%2Fb");
  if (request.find("GET /feeds/api/videos/notitle") == 0)
    return response("200 OK", {}, "<entry><media:title type='plain'>Feed &amp; Title</media:title></entry>");
  if (request.find("GET /get_video?") == 0) {
    if (stall_ms) std::this_thread::sleep_for(std::chrono::milliseconds(stall_ms));
    if (request.find("&t=a%2fb&fmt=18 ") != std::string::npos)
      return response("302 Found", {"Location: http://files/clip.mp4?itag=18"}, "");
    return response("404 Not Found", {}, "no");
  }
  return response("302 Found", {"Date: Wed, 02 Jan 2030 03:04:05 GMT", "Location: http://x/"}, "");
}

TEST_F(MediaFetch, VideoTitleStreamAndDate) {
  CraftedServer server([](const std::string &request) { return video_site(request, 0); });
  media_test::SiteHosts hosts(server.host());
  const std::string link = "http://" + server.host() + "/watch?v=vid1&feature=x";

  std::unique_ptr<ZelYouTubeUrlMediaItem2> item(
      ZelYouTubeUrlMediaItem2::AllocateZelYouTubeUrlMediaItem2("temp", MT_VIDEO, MO_URL, link.c_str()));
  EXPECT_STREQ("temp", item->GetName());
  ASSERT_STREQ("http://files/clip.mp4?itag=18", item->GetPlayableUrl());
  EXPECT_STREQ("My Clip & \xc3\x9cn", item->GetName());
  std::vector<std::string> seen = server.requests();
  ASSERT_EQ(4u, seen.size());
  EXPECT_EQ("GET /get_video_info?video_id=vid1 HTTP/1.1", seen[0]);
  EXPECT_NE(std::string::npos, seen[1].find("video_id=vid1&t=a%2fb&fmt=37"));
  EXPECT_NE(std::string::npos, seen[2].find("&fmt=22"));
  EXPECT_NE(std::string::npos, seen[3].find("&fmt=18"));
  item->GetPlayableUrl();
  EXPECT_EQ(4u, server.requests().size());  // resolved once

  // No title in the information: the data feed's, unescaped.
  const std::string other = "http://" + server.host() + "/v/notitle";
  std::unique_ptr<ZelYouTubeUrlMediaItem2> probe(
      ZelYouTubeUrlMediaItem2::AllocateZelYouTubeUrlMediaItem2("temp", MT_VIDEO, MO_URL, other.c_str()));
  EXPECT_TRUE(probe->GetVideoInfo());
  EXPECT_STREQ("Feed & Title", probe->GetName());
  size_t count = server.requests().size();
  EXPECT_TRUE(probe->GetVideoInfo());
  EXPECT_EQ(count, server.requests().size());
  // Its stream: every format refused, no playable URL, and no second try.
  EXPECT_EQ(nullptr, probe->GetPlayableUrl());
  count = server.requests().size();
  EXPECT_EQ(nullptr, probe->GetPlayableUrl());
  EXPECT_EQ(count, server.requests().size());

  struct tm date = ZelUtil::GetCurrentDate();
  EXPECT_EQ(2, date.tm_mday);
  EXPECT_EQ(0, date.tm_mon);
  EXPECT_EQ(2030, date.tm_year + 1900);
}

TEST_F(MediaFetch, ResolutionSharesOneDeadline) {
  CraftedServer server([](const std::string &request) { return video_site(request, 700); });
  media_test::SiteHosts hosts(server.host());
  char url[1024];
  char title[1024];
  Clock::time_point t0 = Clock::now();
  EXPECT_FALSE(ZelYouTubeUrlMediaItem2::ResolveVideoWithin("vid2", url, sizeof url, title, sizeof title, 1000));
  // Three stalled formats would take 2.1 s; the shared deadline ends it at 1 s.
  EXPECT_LT(seconds_since(t0), 1.25);
  EXPECT_STREQ("", url);
  EXPECT_STREQ("My Clip & \xc3\x9cn", title);
}

TEST_F(MediaFetch, DateWithoutAnAnswerIsTheLocalDate) {
  int port = 0;
  int fd = test_support::listen_tcp("127.0.0.1", &port);
  close(fd);  // nothing listens there any more
  media_test::SiteHosts hosts("127.0.0.1:" + std::to_string(port));
  time_t now = time(nullptr);
  struct tm local;
  localtime_r(&now, &local);
  struct tm date = ZelUtil::GetCurrentDate();
  EXPECT_EQ(local.tm_year, date.tm_year);
  EXPECT_EQ(local.tm_yday, date.tm_yday);
}

}  // namespace
