// ZelUtil: the device-information reader and matching, the site file, the
// settings file (format, refusals, safe replacement), the date header, paths,
// folder listing and the launcher. Files live in a private app-data folder.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <functional>
#include <set>
#include <string>

#include "base/upnp_mem.h"
#include "media/zel_file_write.h"
#include "media/zel_platform.h"
#include "media/zel_util.h"
#include "media_test_util.h"

#include "support_mem.h"

namespace {

using MediaUtil = test_support::MemCheckedTest;

namespace fs = std::filesystem;
using test_support::read_file;
using test_support::write_file;

// The exit status of a child process that runs body; 77 when the child
// could not set itself up.
int status_in_child(const std::function<int()> &body) {
  pid_t child = fork();
  if (child == 0) _exit(body());
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

const char kDevices[] =
    "<DeviceInfo>\n"
    "<Device>\n<Match>\n<ModelName>Outside</ModelName>\n</Match>\n</Device>\n"  // outside both sections
    "<Renderers>\n"
    "<Device>\n<Match>\n<Manufacturer StartsWith=\"true\">Acme</Manufacturer>\n</Match>\n"
    "<Info>\n<FriendlyName>Acme Player</FriendlyName>\n<LumetIconName>roku</LumetIconName>\n</Info>\n</Device>\n"
    "<Device>\n<Match>\n<DeviceName Includes=\"true\">Box</DeviceName>\n<ModelNumber>7</ModelNumber>\n</Match>\n"
    "<Info>\n<FriendlyName>Seven Box</FriendlyName>\n<LumetIconName>NoSuchIcon</LumetIconName>\n</Info>\n</Device>\n"
    "<Device>\n<Match>\n<SerialNumber>1</SerialNumber>\n</Match>\n<Info>\n<FriendlyName>Never</FriendlyName>\n"
    "</Info>\n</Device>\n"
    "<Device>\n<Info>\n<FriendlyName>Any Renderer</FriendlyName>\n<Empty></Empty>\n</Info>\n</Device>\n"
    "</Renderers>\n"
    "<Servers>\n"
    "<Device>\n<Match>\n<ModelName>Media Server</ModelName>\n</Match>\n<Info>\n<FriendlyName>Known Server</FriendlyName>"
    "\n</Info>\n</Device>\n"
    "<Device>\n<Match>\n<SerialNumber>1</SerialNumber>\n</Match>\n<Info>\n<FriendlyName>Any Server</FriendlyName>\n"
    "</Info>\n</Device>\n"
    "</Servers>\n</DeviceInfo>\n";

TEST_F(MediaUtil, DeviceInfoMatching) {
  std::vector<ZELUTIL_DEVICE_INFO> renderers, servers;
  ZelUtil::ParseDeviceInfo(kDevices, &renderers, &servers);
  ASSERT_EQ(4u, renderers.size());
  ASSERT_EQ(2u, servers.size());
  EXPECT_TRUE(renderers[0].GetMatchField("manufacturer")->startsWith);
  EXPECT_TRUE(renderers[1].GetMatchField("DeviceName")->includes);
  EXPECT_EQ(nullptr, renderers[3].GetInfoField("Empty"));  // an empty value adds nothing

  struct Case {
    const char *what;
    const char *model, *number, *maker;
    bool renderer;
    const char *friendly;  // none: no match
  };
  const Case cases[] = {
      {"starts-with manufacturer", "X", nullptr, "Acme Corp", true, "Acme Player"},
      {"manufacturer only contains it: next entries", "X", nullptr, "The Acme", true, "Any Renderer"},
      {"DeviceName against the model name, number", "Big Box 2", "7", nullptr, true, "Seven Box"},
      {"number differs", "Big Box 2", "8", nullptr, true, "Any Renderer"},
      {"no model name fails the name check", nullptr, "7", nullptr, true, "Any Renderer"},
      {"server by model name, any case", "MEDIA SERVER", nullptr, nullptr, false, "Known Server"},
      {"server entry of other fields matches any server", "Other", nullptr, nullptr, false, "Any Server"},
  };
  for (const Case &c : cases) {
    ZELUTIL_DEVICE_IDENTITY device;
    device.modelName = c.model;
    device.modelNumber = c.number;
    device.manufacturer = c.maker;
    const ZELUTIL_DEVICE_INFO *entry = ZelUtil::MatchDevice(c.renderer ? renderers : servers, device, c.renderer);
    ASSERT_NE(nullptr, entry) << c.what;
    EXPECT_EQ(c.friendly, entry->GetInfoField("FriendlyName")->value) << c.what;
  }
  // Only an entry of other match fields: no renderer matches it.
  std::vector<ZELUTIL_DEVICE_INFO> only_other(renderers.begin() + 2, renderers.begin() + 3);
  ZELUTIL_DEVICE_IDENTITY any;
  any.modelName = "x";
  EXPECT_EQ(nullptr, ZelUtil::MatchDevice(only_other, any, true));

  // An over-long line ends the reading; what came before stays.
  std::string cut = std::string("<Renderers>\n<Device>\n<Info>\n<FriendlyName>A</FriendlyName>\n</Info>\n</Device>\n") +
                    std::string(300, 'x') + "\n<Device>\n</Device>\n";
  std::vector<ZELUTIL_DEVICE_INFO> r2, s2;
  ZelUtil::ParseDeviceInfo(cut, &r2, &s2);
  EXPECT_EQ(1u, r2.size());
}

TEST_F(MediaUtil, RendererInfoFromTheFileBesideTheProgram) {
  // The build copies our deviceinfo.xml beside the test program.
  media_test::AppData app;
  ZELUTIL_DEVICE_IDENTITY renderer;
  renderer.modelName = "GMediaRender";
  int icon = 99;
  char name[100];
  char icon_name[100];
  ASSERT_TRUE(ZelUtil::GetRendererInfo(renderer, &icon, name, sizeof name, icon_name, sizeof icon_name));
  EXPECT_STREQ("GMediaRender Network Player", name);
  EXPECT_STREQ("DMP", icon_name);
  EXPECT_EQ(8, icon);
  renderer.modelName = "Unknown Thing";
  EXPECT_FALSE(ZelUtil::GetRendererInfo(renderer, &icon, name, sizeof name, nullptr, 0));
  EXPECT_EQ(-1, icon);
  EXPECT_STREQ("", name);
  EXPECT_EQ(0, ZelUtil::GetIconIndex("zyxel"));
  EXPECT_EQ(38, ZelUtil::GetIconIndex("XBOX360"));
  EXPECT_EQ(-1, ZelUtil::GetIconIndex("Toaster"));

  EXPECT_EQ(MT_VIDEO, ZelUtil::GetMediaTypeForSite("http://www.youtube.com/watch?v=1"));
  EXPECT_EQ(MT_MUSIC, ZelUtil::GetMediaTypeForSite("http://169.254.77.1:8080/media/music/a.mp3"));
  EXPECT_EQ(MT_ANY, ZelUtil::GetMediaTypeForSite("HTTP://www.youtube.com/"));  // prefixes are case-sensitive
  EXPECT_EQ(MT_ANY, ZelUtil::GetMediaTypeForSite(nullptr));
}

TEST_F(MediaUtil, SiteFileRecords) {
  std::vector<ZELUTIL_SITE_INFO> sites;
  ZelUtil::ParseSiteInfo(
      "<URL>http://outside/</URL>\n"
      "<Site>\n<URL>http://a/</URL>\n<MediaType>photo</MediaType>\n</Site>\n"
      "<Site>\n<MediaType>Music</MediaType>\n</Site>\n"  // no URL: dropped
      "<Site>\n<URL>http://b/</URL>\n<MediaType>Podcast</MediaType>\n</Site>\n",
      &sites);
  ASSERT_EQ(2u, sites.size());
  EXPECT_EQ("http://a/", sites[0].urlPrefix);
  EXPECT_EQ(MT_PHOTO, sites[0].mediaType);
  EXPECT_EQ(MT_ANY, sites[1].mediaType);
}

TEST_F(MediaUtil, SettingsFileRoundTrip) {
  media_test::AppData app;
  fs::create_directories(app.settings_path().parent_path());
  write_file(app.settings_path(),
             "Volume=12abc\r\nnoequals\nNeg=-3\nFlag=true\nuserAssignedRendererInfo=bm1|Kitchen|5\n"
             "userAssignedRendererInfo=nobar\nuserAssignedRendererInfo=bm2|Hall\nEmpty=\n");
  int n = 0;
  bool b = false;
  EXPECT_TRUE(ZelUtil::GetSettingValueAsInt("volume", &n));
  EXPECT_EQ(12, n);
  EXPECT_FALSE(ZelUtil::GetSettingValueAsInt("Neg", &n));
  EXPECT_FALSE(ZelUtil::GetSettingValueAsInt("Missing", &n));
  EXPECT_TRUE(ZelUtil::GetSettingValueAsBool("FLAG", &b));
  EXPECT_TRUE(b);
  EXPECT_TRUE(ZelUtil::GetSettingValueAsBool("Volume", &b));
  EXPECT_FALSE(b);
  EXPECT_STREQ("", ZelUtil::GetSettingValue("Empty"));
  EXPECT_EQ(nullptr, ZelUtil::GetSettingValue("noequals"));
  char name[100];
  EXPECT_TRUE(ZelUtil::GetUserSetRendererName("bm1", name, sizeof name));
  EXPECT_STREQ("Kitchen", name);
  EXPECT_FALSE(ZelUtil::GetUserSetRendererName("bm1", name, 7));  // must be shorter than the size
  EXPECT_EQ(5, ZelUtil::GetUserSetRendererIcon("bm1"));
  EXPECT_EQ(-1, ZelUtil::GetUserSetRendererIcon("bm2"));
  EXPECT_EQ(-1, ZelUtil::GetUserSetRendererIcon("BM1"));  // bookmarks compare exactly

  // The same value does not rewrite the file.
  struct stat before;
  ASSERT_EQ(0, stat(app.settings_path().c_str(), &before));
  EXPECT_EQ(ZU_UPDATE_STORED, ZelUtil::UpdateSettingValue("FLAG", true));
  struct stat after;
  ASSERT_EQ(0, stat(app.settings_path().c_str(), &after));
  EXPECT_EQ(before.st_ino, after.st_ino);

  EXPECT_EQ(ZU_UPDATE_STORED, ZelUtil::UpdateSettingValue("volume", 40));
  EXPECT_EQ(ZU_UPDATE_STORED, ZelUtil::UpdateSettingValue("New", "x y"));
  EXPECT_EQ(ZU_UPDATE_STORED, ZelUtil::UpdateRendererProperties("bm1", "Den", -1));  // icon kept
  EXPECT_EQ(ZU_UPDATE_STORED, ZelUtil::UpdateRendererProperties("bm3", "Attic", 2));
  EXPECT_EQ(
      "Volume=40\nNeg=-3\nFlag=true\nEmpty=\nNew=x y\n"
      "userAssignedRendererInfo=bm1|Den|5\nuserAssignedRendererInfo=bm2|Hall|-1\n"
      "userAssignedRendererInfo=bm3|Attic|2\n",
      read_file(app.settings_path()));

  // Read again after a "restart".
  ZelUtil::ResetForTesting();
  EXPECT_STREQ("40", ZelUtil::GetSettingValue("VOLUME"));
  EXPECT_EQ(2, ZelUtil::GetUserSetRendererIcon("bm3"));
}

TEST_F(MediaUtil, SettingsRefusalsAndFailedWrites) {
  media_test::AppData app;
  EXPECT_FALSE(ZelUtil::LoadUserSettings());  // no file yet
  ASSERT_EQ(ZU_UPDATE_STORED, ZelUtil::UpdateSettingValue("Good", "1"));
  const std::string good = read_file(app.settings_path());
  ASSERT_EQ("Good=1\n", good);
  EXPECT_EQ(fs::perms::owner_all, fs::status(app.settings_path().parent_path()).permissions() & fs::perms::all);

  const std::string long_value(199 - 5, 'v');  // "Name=" + value: exactly 199
  struct Case {
    const char *what;
    const char *name;
    std::string value;
  };
  const Case refused[] = {
      {"LF in value", "A", "1\nEvil=2"},
      {"CR in value", "A", "1\r"},
      {"LF in name", "A\nB", "1"},
      {"= in name", "A=B", "1"},
      {"empty name", "", "1"},
      {"the renderer records' key", "userassignedrendererinfo", "x|y|1"},
      {"line of 200", "Name", long_value + "w"},
  };
  for (const Case &c : refused) {
    EXPECT_EQ(ZU_UPDATE_REFUSED, ZelUtil::UpdateSettingValue(c.name, c.value.c_str())) << c.what;
    EXPECT_EQ(nullptr, ZelUtil::GetSettingValue(c.name)) << c.what;
  }
  EXPECT_EQ(ZU_UPDATE_REFUSED, ZelUtil::UpdateSettingValue("A", static_cast<const char *>(nullptr)));
  EXPECT_EQ(ZU_UPDATE_STORED, ZelUtil::UpdateSettingValue("Name", long_value.c_str()));
  EXPECT_EQ(ZU_UPDATE_REFUSED, ZelUtil::UpdateRendererProperties("b|m", "n", 1));
  EXPECT_EQ(ZU_UPDATE_REFUSED, ZelUtil::UpdateRendererProperties("bm", "n|3", 1));
  EXPECT_EQ(ZU_UPDATE_REFUSED, ZelUtil::UpdateRendererProperties("bm", "n\n", 1));
  EXPECT_EQ(ZU_UPDATE_REFUSED, ZelUtil::UpdateRendererProperties("bm", std::string(180, 'n').c_str(), 1));
  EXPECT_EQ(-1, ZelUtil::GetUserSetRendererIcon("bm"));
  const std::string stored = read_file(app.settings_path());
  EXPECT_EQ("Good=1\nName=" + long_value + "\n", stored);

  // A read-only folder: the change is not saved and the old file stays whole.
  // Root passes permission bits, so there the folder is made read-only by a
  // read-only bind mount in a mount namespace of a child process.
  const fs::path folder = app.settings_path().parent_path();
  int status = status_in_child([&] {
    if (geteuid() == 0) {
      if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
          mount(folder.c_str(), folder.c_str(), nullptr, MS_BIND, nullptr) != 0 ||
          mount(nullptr, folder.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0) {
        return 77;
      }
    } else {
      chmod(folder.c_str(), 0500);
    }
    return static_cast<int>(ZelUtil::UpdateSettingValue("Good", "2"));
  });
  chmod(folder.c_str(), 0700);
  ASSERT_GE(status, 0);
  if (status != 77) {
    EXPECT_EQ(ZU_UPDATE_NOT_SAVED, status);
  }
  EXPECT_EQ(stored, read_file(app.settings_path()));
  EXPECT_EQ(1, std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
  // A failed write (a file size limit of one byte: the write fails after the
  // temporary file was made): not saved, the old file whole, nothing left.
  EXPECT_EQ(ZU_UPDATE_NOT_SAVED, status_in_child([] {
              struct rlimit limit = {1, 1};
              signal(SIGXFSZ, SIG_IGN);
              setrlimit(RLIMIT_FSIZE, &limit);
              return static_cast<int>(ZelUtil::UpdateSettingValue("Good", "3"));
            }));
  EXPECT_EQ(stored, read_file(app.settings_path()));
  EXPECT_EQ(1, std::distance(fs::directory_iterator(folder), fs::directory_iterator()));

  // A failed rename (the file's place taken by a folder the rename cannot
  // replace): false, the folder untouched, no temporary file left.
  const fs::path blocked = app.root() / "blocked";
  fs::create_directories(blocked / "inside");
  EXPECT_FALSE(zel_replace_file(blocked.string(), "x"));
  EXPECT_TRUE(fs::is_directory(blocked / "inside"));
  int entries = 0;
  for (const auto &e : fs::directory_iterator(app.root())) entries += e.path().filename().string().rfind("blocked.", 0) == 0;
  EXPECT_EQ(0, entries);
  // A symbolic link in the folder's place is not followed.
  const fs::path target = app.root() / "elsewhere";
  fs::create_directories(target);
  fs::create_symlink(target, app.root() / "linked");
  EXPECT_FALSE(zel_make_private_folder((app.root() / "linked").string()));
}

TEST_F(MediaUtil, OverLongSettingsLineIsKeptAcrossSaves) {
  media_test::AppData app;
  fs::create_directories(app.settings_path().parent_path());
  const std::string tail = std::string(250, 'x') + "\nLater=1\n";
  write_file(app.settings_path(), "First=a\n" + tail);
  EXPECT_STREQ("a", ZelUtil::GetSettingValue("First"));
  EXPECT_EQ(nullptr, ZelUtil::GetSettingValue("Later"));
  ASSERT_EQ(ZU_UPDATE_STORED, ZelUtil::UpdateSettingValue("First", "b"));
  ASSERT_EQ(ZU_UPDATE_STORED, ZelUtil::UpdateSettingValue("Second", "c"));
  EXPECT_EQ("First=b\nSecond=c\n" + tail, read_file(app.settings_path()));
}

TEST_F(MediaUtil, DateFromHeaderText) {
  struct Case {
    const char *text;
    bool applied;
    int day, month, year;  // month 0-based; when not applied: the start values
  };
  const Case cases[] = {
      {"Server = fakesite;\nDate = \"Tue, 08 Dec 2026 10:00:00 GMT\";\n", true, 8, 11, 2026},
      {"Date = \"14 mar 2026 09:26:53 GMT\";\n", true, 14, 2, 2026},
      {"Date = \"Tue, 08 Foo 2031 GMT\";\n", true, 8, 5, 2031},  // unknown month: the local one stays
      {"Date = \"Tue, 8\";\n", false, 1, 5, 2000},
      {"Date = \"Tue, xx Dec 2026\";\n", false, 1, 5, 2000},
      {"Date = \"Tue, 99 Dec 2026\";\n", false, 1, 5, 2000},
      {"Last-Date = \"Tue, 08 Dec 2026\";\n", false, 1, 5, 2000},
      {"Date = ", false, 1, 5, 2000},
      {"", false, 1, 5, 2000},
  };
  for (const Case &c : cases) {
    struct tm date;
    std::memset(&date, 0, sizeof date);
    date.tm_mday = 1;
    date.tm_mon = 5;
    date.tm_year = 100;
    EXPECT_EQ(c.applied, ZelUtil::ApplyHeaderDate(c.text, &date)) << c.text;
    EXPECT_EQ(c.day, date.tm_mday) << c.text;
    EXPECT_EQ(c.month, date.tm_mon) << c.text;
    EXPECT_EQ(c.year, date.tm_year + 1900) << c.text;
  }
  EXPECT_FALSE(ZelUtil::ApplyHeaderDate(nullptr, nullptr));
}

TEST_F(MediaUtil, PathsListingAndLauncher) {
  media_test::AppData app;
  char path[4096];
  ASSERT_TRUE(ZelUtil::GetLMAppDataPath(path, sizeof path));
  EXPECT_EQ((app.root() / "LumetMedia").string(), path);
  ASSERT_TRUE(ZelUtil::CreatePathToLMAppDataFile("x.ini", path, sizeof path));
  EXPECT_EQ((app.root() / "LumetMedia" / "x.ini").string(), path);
  EXPECT_FALSE(ZelUtil::CreatePathToLMAppDataFile("../x", path, sizeof path));
  EXPECT_FALSE(ZelUtil::GetLMAppDataPath(path, 5));
  ASSERT_TRUE(ZelUtil::CreatePathToLocalFile("deviceinfo.xml", path, sizeof path));
  EXPECT_TRUE(fs::exists(path));

  write_file(app.root() / "one", "1");
  write_file(app.root() / "two", "2");
  char **names = ZelUtil::GetFilesFromFolder(app.root().c_str());
  ASSERT_NE(nullptr, names);
  std::set<std::string> seen;
  for (char **p = names; *p; ++p) {
    seen.insert(*p);
    upnp_free_impl(*p);
  }
  upnp_free_impl(names);
  EXPECT_EQ((std::set<std::string>{"one", "two"}), seen);
  EXPECT_EQ(nullptr, ZelUtil::GetFilesFromFolder((app.root() / "none").c_str()));

  EXPECT_TRUE(ZelUtil::LaunchLmsLite());
  char *last = MULastLaunchRequest();
  ASSERT_NE(nullptr, last);
  EXPECT_STREQ("/Applications/lms-beam", last);
  upnp_free_impl(last);
}

}  // namespace
