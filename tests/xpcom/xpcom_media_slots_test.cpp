// The component's methods on the media object model, called as the host calls
// them: program options and renderer names in the user settings (refusals
// leave the file whole; a save that fails is an error, not success), media
// types from our site file, streamable forms of thumbnail URLs, a video
// link's title and the date from crafted servers on 127.0.0.1. No method here
// names a host outside 127.0.0.1.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "media/zel_util.h"
#include "media_test_util.h"
#include "support_files.h"
#include "xpcom/ZelControlPoint2XPCom.h"
#include "xpcom_main_thread.h"
#include "xpcom_memory.h"

namespace fs = std::filesystem;

namespace {

class MediaSlots : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(NS_InitXPCOM(), NS_OK);
    blocks_ = NS_LiveBlocks();
    void *out = nullptr;
    ASSERT_EQ(ZelControlPoint2XPComConstructor(nullptr, NS_GET_IID(iZelControlPoint2XPCom), &out), NS_OK);
    c_ = static_cast<iZelControlPoint2XPCom *>(out);
  }
  void TearDown() override {
    c_->Release();
    NS_ShutdownXPCOM();
    EXPECT_EQ(NS_LiveBlocks(), blocks_);  // every out string was a block the host frees
  }
  // An out string taken over and freed, as a host does.
  static std::string take(char *text) {
    std::string out = text ? text : "(null)";
    NS_Free(text);
    return out;
  }
  std::string option(const char *name) {
    char *value = nullptr;
    EXPECT_EQ(c_->GetProgramOption(name, &value), NS_OK);
    return take(value);
  }
  // The settings as the next run of the host reads them.
  static void restart() { ZelUtil::ResetForTesting(); }

  iZelControlPoint2XPCom *c_ = nullptr;
  int64_t blocks_ = 0;
};

TEST_F(MediaSlots, InjectedSettingsAndRendererNamesAreRefusedAndTheFileStaysWhole) {
  media_test::AppData app;
  EXPECT_EQ(option("Good"), "");  // none yet: "" and NS_OK
  ASSERT_EQ(c_->SetProgramOption("Good", "1"), NS_OK);
  ASSERT_EQ(c_->SetRendererInfo("uuid:r1", "Kitchen", 27), NS_OK);
  EXPECT_EQ(c_->GetProgramOption("Good", nullptr), NS_ERROR_NULL_POINTER);
  const std::string saved = test_support::read_file(app.settings_path());
  ASSERT_EQ(saved, "Good=1\nuserAssignedRendererInfo=uuid:r1|Kitchen|27\n");

  const std::string long_value(199 - 4, 'v');  // "Long=" and this: one character too many
  struct Option {
    const char *name;
    const char *value;
  };
  const Option options[] = {
      {"Evil", "1\nuserAssignedRendererInfo=uuid:r1|Owned|0"},
      {"Evil", "1\r"},
      {"Ev\nil", "1"},
      {"A=B", "1"},
      {"userAssignedRendererInfo", "uuid:r1|Owned|0"},
      {"USERASSIGNEDRENDERERINFO", "x|y|1"},
      {"", "1"},
      {nullptr, "1"},
      {"Null", nullptr},
      {"Long", long_value.c_str()},
  };
  for (const Option &o : options) {
    EXPECT_EQ(c_->SetProgramOption(o.name, o.value), NS_ERROR_INVALID_ARG) << (o.name ? o.name : "(null)");
  }
  EXPECT_EQ(c_->SetProgramOption("Long", long_value.substr(1).c_str()), NS_OK);  // the longest line that fits
  EXPECT_EQ(c_->SetProgramOption("Long", "short"), NS_OK);

  struct Renderer {
    const char *bookmark;
    const char *name;
    int icon;
  };
  const std::string long_name(200, 'n');
  const Renderer renderers[] = {
      {"uuid:r1|x", "Den", 1},        {"uuid:r1\n", "Den", 1}, {"uuid:r1", "Den|9", 1},
      {"uuid:r1", "Den\nGood=2", 1}, {"uuid:r1", nullptr, 1}, {nullptr, "Den", 1},
      {"", "Den", 1},                 {"uuid:r1", "Den", -2},  {"uuid:r1", long_name.c_str(), 1},
  };
  for (const Renderer &r : renderers) {
    EXPECT_EQ(c_->SetRendererInfo(r.bookmark, r.name, r.icon), NS_ERROR_INVALID_ARG)
        << (r.bookmark ? r.bookmark : "(null)") << " " << (r.name ? r.name : "(null)") << " " << r.icon;
  }
  restart();
  EXPECT_EQ(test_support::read_file(app.settings_path()), "Good=1\nLong=short\nuserAssignedRendererInfo=uuid:r1|Kitchen|27\n");
  EXPECT_EQ(option("GOOD"), "1");
  EXPECT_EQ(option("Evil"), "");
  char name[100];
  ASSERT_TRUE(ZelUtil::GetUserSetRendererName("uuid:r1", name, sizeof name));
  EXPECT_STREQ(name, "Kitchen");
  EXPECT_EQ(ZelUtil::GetUserSetRendererIcon("uuid:r1"), 27);

  // -1 keeps the icon given before; the name changes.
  EXPECT_EQ(c_->SetRendererInfo("uuid:r1", "Kitchen Left", -1), NS_OK);
  restart();
  ASSERT_TRUE(ZelUtil::GetUserSetRendererName("uuid:r1", name, sizeof name));
  EXPECT_STREQ(name, "Kitchen Left");
  EXPECT_EQ(ZelUtil::GetUserSetRendererIcon("uuid:r1"), 27);
}

TEST_F(MediaSlots, ASaveThatFailsIsAnErrorAndLeavesTheOldFile) {
  media_test::AppData app;
  // The settings folder's place holds a symbolic link to a folder with a
  // settings file: it is read, but never written through.
  const fs::path real = app.root() / "elsewhere";
  fs::create_directories(real);
  test_support::write_file(real / "LumetPluginSettings.ini", "Old=1\n");
  fs::create_directory_symlink(real, app.settings_path().parent_path());
  EXPECT_EQ(option("Old"), "1");
  EXPECT_EQ(c_->SetProgramOption("New", "2"), NS_ERROR_FAILURE);
  EXPECT_EQ(c_->SetRendererInfo("uuid:r1", "Den", 3), NS_ERROR_FAILURE);
  EXPECT_EQ(option("New"), "2");  // the change holds for this run
  EXPECT_EQ(test_support::read_file(real / "LumetPluginSettings.ini"), "Old=1\n");
  EXPECT_EQ(std::distance(fs::directory_iterator(real), fs::directory_iterator()), 1);
}

TEST_F(MediaSlots, StreamableUrlsOfThumbnailForms) {
  media_test::AppData app;
  media_test::SiteHosts hosts("127.0.0.1:9");  // video links of our own; nothing is fetched
  struct Case {
    const char *url;
    const char *streamable;
  };
  const Case cases[] = {
      {"http://169.254.77.1:8200/Resized/189.jpg?width=160,height=120", "http://169.254.77.1:8200/Resized/189.jpg"},
      {"http://169.254.77.1:8200/AlbumArt/1-24.jpg", "http://169.254.77.1:8200/AlbumArt/1-24.jpg"},
      {"http://10.0.0.2:9000/albumart/O0$1$8I1.jpg", "http://10.0.0.2:9000/disk/photo/O0$1$8I1.jpg"},
      {"http://10.0.0.2:9000/cgi-bin/W160/H120/Xjpeg-scale.desc/O0$1$8I2.jpg?x=1",
       "http://10.0.0.2:9000/disk/photo/O0$1$8I2.jpg"},
      {"albumart/O0$", "disk/photo/O0$"},  // the most a URL grows: two characters
      {"http://127.0.0.1:9/watch?v=abc.def&x=1", "http://127.0.0.1:9/watch?v=abc.def&x=1"},  // a video link stays
      {"a", "a"},
      {"", ""},
  };
  for (const Case &k : cases) {
    char *out = nullptr;
    EXPECT_EQ(c_->GetStreamableURL(k.url, &out), NS_OK) << k.url;
    EXPECT_EQ(take(out), k.streamable);
  }
  char *out = reinterpret_cast<char *>(1);
  EXPECT_EQ(c_->GetStreamableURL(nullptr, &out), NS_ERROR_INVALID_ARG);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(c_->GetStreamableURL("http://x/a.jpg", nullptr), NS_ERROR_NULL_POINTER);
}

TEST_F(MediaSlots, MediaTypesFromOurSiteFile) {
  media_test::AppData app;
  struct Case {
    const char *url;
    PRUint32 type;
  };
  const Case cases[] = {
      {"http://www.youtube.com/watch?v=x", 2},
      {"http://www.flickr.com/photos/x", 1},
      {"http://soundcloud.com/a/b", 0},
      {"HTTP://WWW.FLICKR.COM/photos/x", 3},  // prefixes are compared with case
      {"", 3},
      {nullptr, 3},
  };
  for (const Case &k : cases) {
    PRUint32 type = 99;
    EXPECT_EQ(c_->GetMediaTypeForSite(k.url, &type), NS_OK);
    EXPECT_EQ(type, k.type) << (k.url ? k.url : "(null)");
  }
  EXPECT_EQ(c_->GetMediaTypeForSite("http://x/", nullptr), NS_ERROR_NULL_POINTER);
}

TEST_F(MediaSlots, VideoTitleAndDateFromCraftedServers) {
  media_test::AppData app;
  media_test::CraftedServer site([](const std::string &request) {
    if (request.find("GET /get_video_info?video_id=abc") == 0) {
      return media_test::response("200 OK", {}, "status=ok&title=Lab+Title+%26+more&token=t");
    }
    if (request.find("GET /get_video_info") == 0) return media_test::response("200 OK", {}, "status=fail");
    if (request.find("GET /feeds/") == 0) return media_test::response("404 Not Found", {}, "");
    return media_test::response("302 Found", {"Date: Tue, 8 Dec 2026 10:11:12 GMT", "Location: http://127.0.0.1:9/"},
                                "");
  });
  media_test::SiteHosts hosts(site.host());

  char *out = nullptr;
  EXPECT_EQ(c_->GetYouTubeItemName(site.url("/watch?v=abc&feature=x").c_str(), &out), NS_OK);
  EXPECT_EQ(take(out), "Lab Title & more");
  out = nullptr;
  EXPECT_EQ(c_->GetYouTubeItemName(site.url("/v/gone").c_str(), &out), NS_OK);  // no title anywhere
  EXPECT_EQ(take(out), "");
  for (const char *not_a_link : {"http://127.0.0.2/watch?v=abc", "", "ftp://x/"}) {
    out = reinterpret_cast<char *>(1);
    EXPECT_EQ(c_->GetYouTubeItemName(not_a_link, &out), NS_ERROR_INVALID_ARG) << not_a_link;
    EXPECT_EQ(out, nullptr);
  }
  EXPECT_EQ(c_->GetYouTubeItemName(nullptr, &out), NS_ERROR_INVALID_ARG);

  // Day and month zero-padded, the month from its name.
  out = nullptr;
  EXPECT_EQ(c_->GetCurrentDate(&out), NS_OK);
  EXPECT_EQ(take(out), "12/08/2026");
  EXPECT_EQ(c_->GetCurrentDate(nullptr), NS_ERROR_NULL_POINTER);
}

}  // namespace
