// The media object model in the lab (run through tests/lab/lab.sh): our
// device file against what the lab's server and renderers report, user names
// and icons and program options kept across a restart, media types from our
// site file, stream URLs of the server's thumbnail forms, a video link's title
// and stream resolved through the fake site (the stream fetched from the
// lab's file server), the date from the fake's Date header and, with the fake
// stopped, the local date. Every host is a lab address.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "base/upnp_mem.h"
#include "http/http_client.h"
#include "media/zel_platform.h"
#include "media/zel_util.h"
#include "media/zel_youtube_item.h"
#include "media_test_util.h"
#include "support_files.h"
#include "support_mem.h"
#include "support_tcp.h"

namespace {

using MediaLab = test_support::MemCheckedTest;

std::string env(const char *name) {
  const char *value = std::getenv(name);
  return value ? value : "";
}

int lab(const std::string &command) {
  return std::system((std::string(MEDIA_SOURCE_DIR) + "/tests/lab/lab.sh " + command + " >/dev/null 2>&1").c_str());
}

std::string take(char *text) {
  std::string out = text ? text : "";
  upnp_free_impl(text);
  return out;
}

std::string field(const std::string &xml, const std::string &name) {
  size_t open = xml.find("<" + name + ">");
  size_t close = xml.find("</" + name + ">");
  if (open == std::string::npos || close == std::string::npos) return "";
  open += name.size() + 2;
  return close > open ? xml.substr(open, close - open) : "";
}

// What a device's description says of its model.
struct Described {
  std::string udn, model, number, maker;
  ZELUTIL_DEVICE_IDENTITY identity() const {
    ZELUTIL_DEVICE_IDENTITY id;
    id.modelName = model.empty() ? nullptr : model.c_str();
    id.modelNumber = number.empty() ? nullptr : number.c_str();
    id.manufacturer = maker.empty() ? nullptr : maker.c_str();
    return id;
  }
};

Described describe(const std::string &desc_url) {
  std::string xml = take(HTTP_get(desc_url.c_str()));
  return Described{field(xml, "UDN"), field(xml, "modelName"), field(xml, "modelNumber"), field(xml, "manufacturer")};
}

std::vector<std::string> lines_of(const std::string &command) {
  std::vector<std::string> out;
  FILE *p = popen(command.c_str(), "r");
  if (!p) return out;
  char line[2048];
  while (std::fgets(line, sizeof line, p)) {
    std::string s = line;
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
    if (!s.empty()) out.push_back(s);
  }
  pclose(p);
  return out;
}

TEST_F(MediaLab, DeviceFileUserNamesAndOptions) {
  ASSERT_FALSE(env("LAB_SERVER_DESC").empty()) << "run through tests/lab/lab.sh";
  media_test::AppData app;

  Described server = describe(env("LAB_SERVER_DESC"));
  ASSERT_FALSE(server.model.empty());
  int icon = 0;
  char name[100];
  ASSERT_TRUE(ZelUtil::GetServerInfo(server.identity(), &icon, name, sizeof name, nullptr, 0)) << server.model;
  EXPECT_STREQ("MiniDLNA Media Server", name);
  EXPECT_EQ(ZelUtil::GetIconIndex("Desktop"), icon);

  int renderers = std::atoi(env("LAB_RENDERERS").c_str());
  ASSERT_GE(renderers, 1);
  std::vector<Described> described;
  for (int i = 1; i <= renderers; ++i) {
    described.push_back(describe(env(("LAB_RENDERER" + std::to_string(i) + "_DESC").c_str())));
    const Described &r = described.back();
    ASSERT_TRUE(ZelUtil::GetRendererInfo(r.identity(), &icon, name, sizeof name, nullptr, 0)) << r.model;
    EXPECT_STREQ("GMediaRender Network Player", name);
    EXPECT_EQ(ZelUtil::GetIconIndex("DMP"), icon);
    // A renderer is no server of our file.
    EXPECT_FALSE(ZelUtil::GetServerInfo(r.identity(), &icon, name, sizeof name, nullptr, 0));
  }

  // User-assigned names and icons (the renderers' UDNs stand for their
  // bookmarks here) and program options, kept across a restart.
  ASSERT_EQ(ZU_UPDATE_STORED, ZelUtil::UpdateRendererProperties(described[0].udn.c_str(), "Kitchen", 27));
  ASSERT_EQ(ZU_UPDATE_STORED, ZelUtil::UpdateRendererProperties(described[0].udn.c_str(), "Kitchen Left", -1));
  ASSERT_EQ(ZU_UPDATE_STORED, ZelUtil::UpdateSettingValue("SlideShowSeconds", 7));
  ASSERT_EQ(ZU_UPDATE_STORED, ZelUtil::UpdateSettingValue("ShowVideos", true));
  ASSERT_EQ(ZU_UPDATE_REFUSED, ZelUtil::UpdateSettingValue("Evil", "1\nuserAssignedRendererInfo=x|y|1"));
  const std::string saved = test_support::read_file(app.settings_path());
  ZelUtil::ResetForTesting();
  EXPECT_TRUE(ZelUtil::GetUserSetRendererName(described[0].udn.c_str(), name, sizeof name));
  EXPECT_STREQ("Kitchen Left", name);
  EXPECT_EQ(27, ZelUtil::GetUserSetRendererIcon(described[0].udn.c_str()));
  int seconds = 0;
  EXPECT_TRUE(ZelUtil::GetSettingValueAsInt("slideshowseconds", &seconds));
  EXPECT_EQ(7, seconds);
  EXPECT_STREQ("true", ZelUtil::GetSettingValue("SHOWVIDEOS"));
  EXPECT_EQ(nullptr, ZelUtil::GetSettingValue("Evil"));
  EXPECT_EQ(saved, test_support::read_file(app.settings_path()));
}

TEST_F(MediaLab, SiteTypesAndThumbnailStreams) {
  ASSERT_FALSE(env("LAB_HTTP_URL").empty()) << "run through tests/lab/lab.sh";
  media_test::AppData app;
  const std::string files = env("LAB_HTTP_URL");
  EXPECT_EQ(MT_MUSIC, ZelUtil::GetMediaTypeForSite((files + "media/music/tone-3s.wav").c_str()));
  EXPECT_EQ(MT_PHOTO, ZelUtil::GetMediaTypeForSite((files + "media/pictures/photo1.jpg").c_str()));
  EXPECT_EQ(MT_VIDEO, ZelUtil::GetMediaTypeForSite((files + "media/video/clip.mp4").c_str()));
  EXPECT_EQ(MT_ANY, ZelUtil::GetMediaTypeForSite((files + "desc/x").c_str()));

  // The server's thumbnail forms, made streamable as the component does it
  // (cut to the extension, then translated), still give the picture.
  std::vector<std::string> thumbs =
      lines_of("python3 " + std::string(MEDIA_SOURCE_DIR) + "/tests/lab/labtool.py thumbs '" + env("LAB_SERVER_DESC") + "'");
  ASSERT_FALSE(thumbs.empty());
  thumbs.push_back(files + "media/pictures/photo1.jpg?size=large&v=2");
  for (const std::string &thumb : thumbs) {
    std::vector<char> first(thumb.size() * 2 + 1), second(thumb.size() * 2 + 1);
    ZelUrlMediaItem2::TruncateURL(thumb.c_str(), first.data(), first.size(), false);
    ZelUrlMediaItem2::TranslateURL(first.data(), second.data(), second.size());
    char *h = nullptr;
    std::string body = take(HTTP_get_advanced(second.data(), 5000, &h));
    std::string header = take(h);
    EXPECT_NE(std::string::npos, header.find(" 200 ")) << thumb << " -> " << second.data();
    EXPECT_EQ(0, std::strncmp(body.c_str(), "\xff\xd8", 2)) << second.data();
  }
}

TEST_F(MediaLab, VideoLinksThroughTheFakeSite) {
  ASSERT_FALSE(env("LAB_FAKESITE_HOST").empty()) << "run through tests/lab/lab.sh";
  media_test::AppData app;
  media_test::SiteHosts hosts(env("LAB_FAKESITE_HOST"));
  const std::string web = "http://" + env("LAB_FAKESITE_HOST");

  // Formats 37 and 22 refused: the stream comes from the third try and plays
  // (the file server's track, byte for byte).
  std::unique_ptr<ZelYouTubeUrlMediaItem2> item(ZelYouTubeUrlMediaItem2::AllocateZelYouTubeUrlMediaItem2(
      "temp", MT_VIDEO, MO_URL, (web + "/watch?v=labvid_x37_x22&feature=lab").c_str()));
  ASSERT_TRUE(ZelYouTubeUrlMediaItem2::IsUrlYouTubeLink(item->GetUrl()));
  const char *stream = item->GetPlayableUrl();
  ASSERT_NE(nullptr, stream);
  EXPECT_EQ(env("LAB_HTTP_URL") + "media/music/tone-3s.wav?fmt=18&id=labvid_x37_x22", stream);
  EXPECT_STREQ("Lab Video labvid_x37_x22 & \xc3\x9cn\xc3\xaf" "code", item->GetName());
  uint64_t length = 0;
  int s = HTTP_open(stream);
  ASSERT_GE(s, 0);
  ASSERT_EQ(0, HTTP_get_request(s, stream, nullptr));
  char head[HTTP_HEADER_BUFFER_SIZE];
  ASSERT_GT(HTTP_get_header(s, head, sizeof head), 0);
  char *bytes = HTTP_receive_body_with_length(s, head, &length);
  close(s);
  const std::string original = test_support::read_file(env("LAB_MEDIA") + "/music/tone-3s.wav");
  EXPECT_EQ(original.size(), length);
  EXPECT_EQ(0, std::memcmp(original.data(), bytes, original.size() < length ? original.size() : length));
  upnp_free_impl(bytes);

  struct Case {
    const char *link;
    bool titled;
    const char *name;
  };
  const Case cases[] = {
      {"/v/plain1", true, "Lab Video plain1 & \xc3\x9cn\xc3\xaf" "code"},
      {"/watch_videos?video_ids=notitle2%2Cother", true, "Feed Title notitle2"},  // from the data feed
      {"/view_play_list?p=PL&v=fail3", true, "Feed Title fail3"},
  };
  for (const Case &c : cases) {
    std::unique_ptr<ZelYouTubeUrlMediaItem2> probe(
        ZelYouTubeUrlMediaItem2::AllocateZelYouTubeUrlMediaItem2("temp", MT_VIDEO, MO_URL, (web + c.link).c_str()));
    EXPECT_EQ(c.titled, probe->GetVideoInfo()) << c.link;
    EXPECT_STREQ(c.name, probe->GetName()) << c.link;
  }
  // No token: no stream, and the item keeps its own name.
  std::unique_ptr<ZelYouTubeUrlMediaItem2> failing(ZelYouTubeUrlMediaItem2::AllocateZelYouTubeUrlMediaItem2(
      "own", MT_VIDEO, MO_URL, (web + "/watch?v=fail4").c_str()));
  EXPECT_EQ(nullptr, failing->GetPlayableUrl());
  EXPECT_STREQ("own", failing->GetName());
}

TEST_F(MediaLab, DateFromTheFakeSiteElseLocal) {
  ASSERT_FALSE(env("LAB_FAKESITE_HOST").empty()) << "run through tests/lab/lab.sh";
  media_test::SiteHosts hosts(env("LAB_FAKESITE_HOST"));
  struct tm date = ZelUtil::GetCurrentDate();
  EXPECT_EQ(14, date.tm_mday);
  EXPECT_EQ(2, date.tm_mon);
  EXPECT_EQ(2026, date.tm_year + 1900);

  ASSERT_EQ(0, lab("stop fakesite"));
  time_t now = time(nullptr);
  struct tm local;
  localtime_r(&now, &local);
  date = ZelUtil::GetCurrentDate();
  EXPECT_EQ(0, lab("start fakesite"));
  EXPECT_EQ(local.tm_yday, date.tm_yday);
  EXPECT_EQ(local.tm_year, date.tm_year);
}

TEST_F(MediaLab, UnresolvedHostIsAFailedFetch) {
  // Inside the lab no resolver answers: the name fails, and the client's
  // fallback to 127.0.0.1 is never taken (the local server sees nothing).
  media_test::CraftedServer local([](const std::string &) { return media_test::response("200 OK", {}, "local"); });
  const std::string url = "http://no-such-host.invalid:" + local.host().substr(local.host().find(':') + 1) + "/";
  EXPECT_EQ(nullptr, MUHttpGet(url.c_str(), 2000));
  char out[64];
  EXPECT_TRUE(ZelUtil::HttpGet(url.c_str(), out, sizeof out));
  EXPECT_STREQ("", out);
  EXPECT_TRUE(local.requests().empty());
}

}  // namespace
