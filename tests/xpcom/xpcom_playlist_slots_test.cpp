// The component's playlist slots as the host calls them, with the controller
// up and no network (so no server to publish to): playlists made, filled,
// edited, renamed and deleted; their files in a private application-data
// folder read back after the local list is loaded again (as at the host's
// next start); refusals of unknown ids, bad indices, null and empty
// arguments, zero counts and names that would share a file.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "media/zel_control_point.h"
#include "base/upnp_exit.h"
#include "base/upnp_mem.h"
#include "media/zel_media_item_playlist.h"
#include "media/zel_platform.h"
#include "media_test_util.h"
#include "playlist/upnp_wpl.h"
#include "xpcom/ZelControlPoint2XPCom.h"
#include "xpcom_main_thread.h"
#include "xpcom_memory.h"

namespace fs = std::filesystem;

extern "C" nsresult ZelControlPoint2XPComShutdown(void);

#if defined(__SANITIZE_THREAD__)
constexpr int kSanitizerThreads = 1;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
constexpr int kSanitizerThreads = 1;
#else
constexpr int kSanitizerThreads = 0;
#endif
#else
constexpr int kSanitizerThreads = 0;
#endif

namespace {

class PlaylistSlots : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(NS_InitXPCOM(), NS_OK);
    blocks_ = NS_LiveBlocks();
    void *out = nullptr;
    ASSERT_EQ(ZelControlPoint2XPComConstructor(nullptr, NS_GET_IID(iZelControlPoint2XPCom), &out), NS_OK);
    c_ = static_cast<iZelControlPoint2XPCom *>(out);
    ZelMediaItemPlaylistList::Cleanup();  // the list of this test's folder
  }
  void TearDown() override {
    ZelMediaItemPlaylistList::Cleanup();
    c_->Release();
    NS_ShutdownXPCOM();
    EXPECT_EQ(NS_LiveBlocks(), blocks_);  // every out array and string was freed by the host
  }
  // GetPlaylistList's entries, taken over and freed as a host does.
  std::vector<std::string> entries() {
    PRUint32 count = 99;
    char **list = nullptr;
    EXPECT_EQ(c_->GetPlaylistList(&count, &list), NS_OK);
    std::vector<std::string> out;
    for (PRUint32 i = 0; i < count; ++i) {
      out.push_back(list[i]);
      NS_Free(list[i]);
    }
    NS_Free(list);
    return out;
  }
  PRUint32 create(const char *name, PRUint32 type) {
    PRUint32 id = 0;
    EXPECT_EQ(c_->CreatePlaylist(name, type, &id), NS_OK) << name;
    return id;
  }
  std::set<std::string> files() const {
    std::set<std::string> names;
    const fs::path folder = app_.root() / "LumetMedia" / "LumetBeamPlaylists";
    if (fs::exists(folder))
      for (const auto &entry : fs::directory_iterator(folder)) names.insert(entry.path().filename().string());
    return names;
  }

  media_test::AppData app_;
  iZelControlPoint2XPCom *c_ = nullptr;
  int64_t blocks_ = 0;
};

TEST_F(PlaylistSlots, EditsAreWrittenAndReadBackAfterARestart) {
  EXPECT_TRUE(entries().empty());
  const PRUint32 photos = create("Holiday", 1);
  const PRUint32 music = create("Mix & <Match>", 0);
  EXPECT_EQ(music, photos + 1);
  EXPECT_TRUE(files().empty());  // nothing written before the first change

  const char *names[] = {"Beach", nullptr, "Hill"};
  const char *urls[] = {"http://h/beach.jpg", "http://h/x.jpg", nullptr};
  ASSERT_EQ(c_->AddItemsToPlaylist(photos, 3, names, urls), NS_OK);  // null entries are empty strings
  EXPECT_EQ(entries(), (std::vector<std::string>{
                           "Holiday|PHOTO|" + std::to_string(photos) + "|Beach~http://h/beach.jpg|~http://h/x.jpg|Hill~",
                           "Mix & <Match>|MUSIC|" + std::to_string(music)}));
  ASSERT_EQ(c_->MoveItemInPlaylist(photos, 0, 1), NS_OK);
  ASSERT_EQ(c_->RenameItemInPlaylist(photos, 1, "Beach \"at\" dusk"), NS_OK);
  ASSERT_EQ(c_->DeleteItemFromPlaylist(photos, 2), NS_OK);
  const char *song[] = {"Song"};
  const char *songUrl[] = {"http://h/s.mp3?a=1&b=2"};
  ASSERT_EQ(c_->AddItemsToPlaylist(music, 1, song, songUrl), NS_OK);
  ASSERT_EQ(c_->RenamePlaylist(photos, "Holiday 2026"), NS_OK);
  EXPECT_EQ(files(), (std::set<std::string>{"Holiday#2026.wpl", "Mix#&##Match#.wpl"}));
  const std::vector<std::string> before = entries();

  // The host's next start: the list is read from the folder again.
  ZelMediaItemPlaylistList::Cleanup();
  std::vector<std::string> after = entries();
  ASSERT_EQ(after.size(), 2u);
  // Ids are new; everything else is what was saved, except the item whose
  // name was null: a WPL item without a title is not read back.
  auto strip_id = [](const std::string &entry) {
    size_t first = entry.find('|'), second = entry.find('|', first + 1), third = entry.find('|', second + 1);
    return entry.substr(0, second) + (third == std::string::npos ? "" : entry.substr(third));
  };
  std::set<std::string> got, want{"Holiday 2026|PHOTO|Beach \"at\" dusk~http://h/beach.jpg",
                                  "Mix & <Match>|MUSIC|Song~http://h/s.mp3?a=1&b=2"};
  for (const std::string &e : after) got.insert(strip_id(e));
  EXPECT_EQ(got, want);
  EXPECT_NE(before, after);

  // Deleting removes the file; an unknown id is NS_OK.
  ZelMediaItemPlaylist *holiday =
      ZelControlPoint2::GetInstance()->GetLocalPlaylistList()->FindPlaylistByName("holiday 2026");
  ASSERT_NE(holiday, nullptr);
  EXPECT_EQ(c_->DeletePlaylist(holiday->GetID()), NS_OK);
  EXPECT_EQ(c_->DeletePlaylist(424242), NS_OK);
  EXPECT_EQ(files(), (std::set<std::string>{"Mix#&##Match#.wpl"}));
}

TEST_F(PlaylistSlots, RefusalsLeaveEverythingAsItWas) {
  const PRUint32 id = create("Mine", 2);
  const char *one[] = {"a"};
  const char *url[] = {"http://h/a"};
  ASSERT_EQ(c_->AddItemsToPlaylist(id, 1, one, url), NS_OK);
  const PRUint32 unknown = id + 1000;
  PRUint32 out = 7;
  const struct {
    const char *what;
    nsresult got;
  } cases[] = {
      {"create null name", c_->CreatePlaylist(nullptr, 0, &out)},
      {"create empty name", c_->CreatePlaylist("", 0, &out)},
      {"create same name other case", c_->CreatePlaylist("MINE", 0, &out)},
      {"create same file name", c_->CreatePlaylist("Mi:e", 0, &out) == NS_OK ? c_->CreatePlaylist("Mi e", 0, &out)
                                                                             : NS_ERROR_FAILURE},
      {"create null out", c_->CreatePlaylist("x", 0, nullptr)},
      {"add unknown id", c_->AddItemsToPlaylist(unknown, 1, one, url)},
      {"add zero count", c_->AddItemsToPlaylist(id, 0, one, url)},
      {"add null names", c_->AddItemsToPlaylist(id, 1, nullptr, url)},
      {"add null urls", c_->AddItemsToPlaylist(id, 1, one, nullptr)},
      {"delete item unknown id", c_->DeleteItemFromPlaylist(unknown, 0)},
      {"delete item out of range", c_->DeleteItemFromPlaylist(id, 1)},
      {"delete item huge index", c_->DeleteItemFromPlaylist(id, 0xFFFFFFFFu)},
      {"move unknown id", c_->MoveItemInPlaylist(unknown, 0, 0)},
      {"move out of range", c_->MoveItemInPlaylist(id, 1, 0)},
      {"rename unknown id", c_->RenamePlaylist(unknown, "x")},
      {"rename null", c_->RenamePlaylist(id, nullptr)},
      {"rename empty", c_->RenamePlaylist(id, "")},
      {"rename onto another's file", c_->RenamePlaylist(id, "mi#e")},
      {"rename item unknown id", c_->RenameItemInPlaylist(unknown, 0, "x")},
      {"rename item out of range", c_->RenameItemInPlaylist(id, 1, "x")},
      {"rename item null", c_->RenameItemInPlaylist(id, 0, nullptr)},
      {"list null outs", c_->GetPlaylistList(nullptr, nullptr)},
  };
  for (const auto &c : cases) {
    const bool nullOut = std::string(c.what).find("null out") != std::string::npos;
    EXPECT_EQ(c.got, nullOut ? NS_ERROR_NULL_POINTER : NS_ERROR_INVALID_ARG) << c.what;
  }
  const std::vector<std::string> now = entries();
  ASSERT_EQ(now.size(), 2u);
  EXPECT_EQ(now[0], "Mine|VIDEO|" + std::to_string(id) + "|a~http://h/a");
  EXPECT_EQ(files(), (std::set<std::string>{"Mine.wpl"}));
  // No local playlist server is listed: the launcher is asked for one.
  EXPECT_EQ(c_->StartPlaylistServer(), NS_OK);
  char *launched = MULastLaunchRequest();
  EXPECT_STREQ(launched, "/Applications/lms-beam");
  upnp_free_impl(launched);
  // Renaming to the same name, or only its case, is no clash with itself.
  EXPECT_EQ(c_->RenamePlaylist(id, "Mine"), NS_OK);
  EXPECT_EQ(c_->RenamePlaylist(id, "MINE"), NS_OK);
  EXPECT_EQ(files(), (std::set<std::string>{"MINE.wpl"}));
}

// The host's clean end: the controller's threads are gone, the component
// answers NS_ERROR_NOT_AVAILABLE from then on, and the WPL store (stopped by
// both of its users) answers its error code instead of ending the process.
TEST_F(PlaylistSlots, TheCleanEndStopsEveryThreadAndLateUsesAnswerErrors) {
  const PRUint32 id = create("Before the end", 0);
  ASSERT_NE(id, 0u);
  static std::atomic<int> exits{0};
  register_upnp_exit_function([](int) { ++exits; });
  EXPECT_EQ(ZelControlPoint2XPComShutdown(), NS_OK);
  EXPECT_EQ(ZelControlPoint2XPComShutdown(), NS_OK);  // a second call: nothing more to do
  // The test's own thread (and ThreadSanitizer's, when it runs under it).
  EXPECT_EQ(std::distance(fs::directory_iterator("/proc/self/task"), fs::directory_iterator()),
            1 + kSanitizerThreads);
  PRUint32 out = 9;
  PRUint32 count = 9;
  char **list = nullptr;
  EXPECT_EQ(c_->CreatePlaylist("After", 0, &out), NS_ERROR_NOT_AVAILABLE);
  EXPECT_EQ(c_->GetPlaylistList(&count, &list), NS_ERROR_NOT_AVAILABLE);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(c_->DeletePlaylist(id), NS_ERROR_NOT_AVAILABLE);
  uint32_t handle = 0;
  EXPECT_EQ(upnp_wpl_create_playlist("late", 1, 1, nullptr, nullptr, &handle), UPNP_WPL_FAILED);
  EXPECT_EQ(exits.load(), 0);
  register_upnp_exit_function(nullptr);
}

}  // namespace
