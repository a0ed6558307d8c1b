// Playlists without a controller (no server to publish to): files written and
// read back in a private application-data folder, awkward names and URLs
// unchanged through the file, collisions of names and files, loading the
// folder, ids, and the WPL store's counted starts and stops.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "base/upnp_mem.h"
#include "media/zel_media_item_playlist.h"
#include "media_test_util.h"
#include "playlist/upnp_wpl.h"
#include "support_files.h"

namespace fs = std::filesystem;

namespace {

class Playlists : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(ZelMediaItemPlaylist::GetPlaylistsPath(folder_, sizeof folder_));
  }
  void TearDown() override { ZelMediaItemPlaylistList::Cleanup(); }

  static void add(ZelMediaItemPlaylist *p, const char *name, const char *url) {
    ASSERT_TRUE(p->AddItem(ZelUrlMediaItem2::AllocateZelUrlMediaItem2(name, p->GetType(), MO_URL, url), -1));
  }
  // The names of the files in the playlists folder.
  std::set<std::string> files() const {
    std::set<std::string> names;
    for (const auto &entry : fs::directory_iterator(folder_)) names.insert(entry.path().filename().string());
    return names;
  }
  static std::vector<std::pair<std::string, std::string>> items(ZelMediaItemPlaylist *p) {
    std::vector<std::pair<std::string, std::string>> out;
    for (uint32_t i = 0; i < p->Count(); ++i) {
      auto *item = dynamic_cast<ZelUrlMediaItem2 *>(p->GetItem(static_cast<int>(i)));
      out.emplace_back(item->GetName(), item->GetUrl());
    }
    return out;
  }

  media_test::AppData app_;
  char folder_[4096];
};

TEST_F(Playlists, AwkwardNamesAndUrlsComeBackUnchangedThroughTheFile) {
  struct Case {
    const char *name;
    MEDIA_ITEM_TYPE type;
    const char *item;
    const char *url;
    const char *file;
  };
  const Case cases[] = {
      {"Rock & <Roll>", MT_MUSIC, "Tom \"&\" Jerry's <b>", "http://h/a.mp3?x=1&y=\"2\"", "Rock#&##Roll#.wpl"},
      {"Café Ünïcode ☕", MT_PHOTO, "Straße", "http://h/ö.jpg", "Café#Ünïcode#☕.wpl"},
      {"a/b:c*d?e|f", MT_VIDEO, "x", "http://h/v.avi", "a#b#c#d#e#f.wpl"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    std::unique_ptr<ZelMediaItemPlaylist> p(ZelMediaItemPlaylist::AllocateZelMediaItemPlaylist(c.name, c.type));
    add(p.get(), c.item, c.url);
    add(p.get(), "second", "http://h/2");
    EXPECT_FALSE(p->Save(false, true));  // no server to publish to: false, file written all the same
    const fs::path path = fs::path(folder_) / c.file;
    ASSERT_TRUE(fs::exists(path));
    EXPECT_EQ(p->GetFilePath(), path.string());
    std::unique_ptr<ZelMediaItemPlaylist> back(ZelMediaItemPlaylist::CreateFromFile(path.c_str()));
    ASSERT_NE(back, nullptr);
    EXPECT_STREQ(back->GetName(), c.name);
    EXPECT_EQ(back->GetType(), c.type);
    EXPECT_EQ(items(back.get()), items(p.get()));
    EXPECT_TRUE(back->IsModified());  // loaded playlists start modified
  }
  // Private folders; no temporary file left behind.
  struct stat st;
  ASSERT_EQ(stat(folder_, &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  ASSERT_EQ(stat(fs::path(folder_).parent_path().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  for (const std::string &name : files()) EXPECT_EQ(name.substr(name.size() - 4), ".wpl") << name;
}

TEST_F(Playlists, SavingRenamingAndDeletingOneNeverTouchesAnother) {
  ZelMediaItemPlaylistList *list = ZelMediaItemPlaylistList::LoadListFromDisk();
  ASSERT_NE(list, nullptr);
  auto *mix = ZelMediaItemPlaylist::AllocateZelMediaItemPlaylist("Mix", MT_MUSIC);
  auto *other = ZelMediaItemPlaylist::AllocateZelMediaItemPlaylist("Other", MT_MUSIC);
  ASSERT_TRUE(list->AddPlaylist(mix));
  ASSERT_TRUE(list->AddPlaylist(other));
  add(mix, "m", "http://h/m");
  add(other, "o", "http://h/o");
  (void)mix->Save(false, true);
  (void)other->Save(false, true);
  const std::string otherBytes = test_support::read_file(other->GetFilePath());
  ASSERT_FALSE(otherBytes.empty());

  // Names that would share a file with "Mix" or "Other", whatever the type.
  for (const char *name : {"mix", "MIX", "Other", "oThEr"}) {
    EXPECT_NE(list->FindPlaylistByFileKey(name, nullptr), nullptr) << name;
    std::unique_ptr<ZelMediaItemPlaylist> clash(ZelMediaItemPlaylist::AllocateZelMediaItemPlaylist(name, MT_VIDEO));
    ASSERT_TRUE(list->AddPlaylist(clash.get()));
    add(clash.get(), "c", "http://h/c");
    EXPECT_FALSE(clash->Save(true, true)) << name;
    EXPECT_STREQ(clash->GetFilePath(), "") << name;
    ASSERT_TRUE(list->RemovePlaylist(clash.release()));
  }
  EXPECT_EQ(list->FindPlaylistByFileKey("M:x", nullptr), nullptr);
  auto *colon = ZelMediaItemPlaylist::AllocateZelMediaItemPlaylist("M:x", MT_MUSIC);
  ASSERT_TRUE(list->AddPlaylist(colon));
  EXPECT_NE(list->FindPlaylistByFileKey("M x", nullptr), nullptr);  // both name the file "M#x.wpl"
  EXPECT_EQ(list->FindPlaylistByFileKey("Mix", mix), nullptr);      // a playlist does not clash with itself

  // A rename writes the new file and removes only the old one.
  mix->SetName("Mix 2");
  EXPECT_EQ(files(), (std::set<std::string>{"Mix#2.wpl", "Other.wpl"}));
  EXPECT_EQ(test_support::read_file(other->GetFilePath()), otherBytes);
  // A delete removes its own file.
  ASSERT_TRUE(list->RemovePlaylist(mix));
  EXPECT_EQ(files(), (std::set<std::string>{"Other.wpl"}));
  EXPECT_EQ(test_support::read_file(other->GetFilePath()), otherBytes);
}

TEST_F(Playlists, LoadingTheFolderTakesWplFilesInAnyCaseOnceEach) {
  auto write = [&](const char *file, const char *title, const char *type, const std::string &media) {
    test_support::write_file(fs::path(folder_) / file,
                             std::string("<?wpl version=\"1.0\"?>\n<smil><head><meta name=\"Type\" content=\"") + type +
                                 "\"/><title>" + title + "</title></head><body><seq>" + media +
                                 "</seq></body></smil>\n");
  };
  write("Lower.wpl", "Lower", "P", "<media src=\"http://h/1\" title=\"One\"/><media src=\"http://h/2\"/>");
  write("UPPER.WPL", "Upper", "V", "<media src=\"\" title=\"No place\"/><media src=\"http://h/3\" title=\"Three\"/>");
  write("copy.wpl", "LOWER", "M", "<media src=\"http://h/x\" title=\"X\"/>");  // the file key of "Lower" again
  test_support::write_file(fs::path(folder_) / "notes.txt", "not a playlist");
  test_support::write_file(fs::path(folder_) / "broken.wpl", "no markup at all");

  ZelMediaItemPlaylistList *list = ZelMediaItemPlaylistList::LoadListFromDisk();
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(ZelMediaItemPlaylistList::LoadListFromDisk(), list);  // later calls: the same list
  ASSERT_EQ(list->Count(), 2u);
  ZelMediaItemPlaylist *lower = list->FindPlaylistByName("lower");
  ZelMediaItemPlaylist *upper = list->FindPlaylistByName("UPPER");
  ASSERT_NE(lower, nullptr);
  ASSERT_NE(upper, nullptr);
  // Which of the two files of "lower" is met first is the folder's order;
  // the other is skipped and stays as it was.
  const bool first = fs::path(lower->GetFilePath()).filename() == "Lower.wpl";
  EXPECT_EQ(lower->GetType(), first ? MT_PHOTO : MT_MUSIC);
  EXPECT_EQ(upper->GetType(), MT_VIDEO);
  // Items need both a title and a place.
  EXPECT_EQ(items(lower), (std::vector<std::pair<std::string, std::string>>{
                              first ? std::make_pair("One", "http://h/1") : std::make_pair("X", "http://h/x")}));
  EXPECT_EQ(items(upper), (std::vector<std::pair<std::string, std::string>>{{"Three", "http://h/3"}}));
  EXPECT_EQ(list->FindPlaylistById(upper->GetID()), upper);
  EXPECT_EQ(list->GetPlaylist(2), nullptr);
  EXPECT_TRUE(fs::exists(fs::path(folder_) / "copy.wpl"));
  EXPECT_TRUE(fs::exists(fs::path(folder_) / "Lower.wpl"));
}

TEST_F(Playlists, IdsTypesClonesAndUnchangedSaves) {
  std::unique_ptr<ZelMediaItemPlaylist> a(ZelMediaItemPlaylist::AllocateZelMediaItemPlaylist("A", MT_MUSIC));
  std::unique_ptr<ZelMediaItemPlaylist> b(ZelMediaItemPlaylist::AllocateZelMediaItemPlaylist("B", MT_MUSIC));
  EXPECT_EQ(b->GetID(), a->GetID() + 1);
  add(a.get(), "x", "http://h/x");
  std::unique_ptr<ZelMediaItemPlaylist> copy(static_cast<ZelMediaItemPlaylist *>(a->Clone()));
  EXPECT_STREQ(copy->GetName(), "A");
  EXPECT_EQ(copy->GetID(), b->GetID() + 1);
  EXPECT_EQ(items(copy.get()), items(a.get()));

  const struct {
    MEDIA_ITEM_TYPE item;
    int wpl;
  } types[] = {{MT_MUSIC, 1}, {MT_PHOTO, 2}, {MT_VIDEO, 3}};
  for (const auto &t : types) {
    EXPECT_EQ(ZelMediaItemPlaylist::WplTypeOf(t.item), t.wpl);
    EXPECT_EQ(ZelMediaItemPlaylist::ItemTypeOf(t.wpl), t.item);
  }
  EXPECT_EQ(ZelMediaItemPlaylist::ItemTypeOf(4), MT_VIDEO);

  // Unchanged and not forced: nothing written, true.
  b->SetModified(false);
  EXPECT_TRUE(b->Save(false, true));
  EXPECT_TRUE(files().empty());
  // A bookmark longer than its buffer is cut, not overrun.
  const std::string longBookmark(3000, 'b');
  b->SetPlaylistBookmarkOnServer(longBookmark.c_str());
  EXPECT_EQ(std::string(b->GetPlaylistBookmarkOnServer()), longBookmark.substr(0, ZEL_PLAYLIST_BOOKMARK_SIZE - 1));
}

TEST(WplStoreStarts, EveryStartNeedsItsStopAndExtraStopsDoNothing) {
  upnp_wpl_init();  // a second user beside the test program's own start
  upnp_wpl_exit();
  uint32_t h = 0;
  EXPECT_EQ(upnp_wpl_create_playlist("still there", 1, 1, nullptr, nullptr, &h), UPNP_WPL_OK);
  EXPECT_EQ(upnp_wpl_release_playlist(h), UPNP_WPL_OK);
  EXPECT_EQ(upnp_wpl_release_playlist(h), UPNP_WPL_FAILED);
  upnp_wpl_exit();  // the last stop
  EXPECT_EQ(upnp_wpl_create_playlist("gone", 1, 1, nullptr, nullptr, &h), UPNP_WPL_FAILED);
  upnp_wpl_exit();  // beyond the starts: nothing
  upnp_wpl_init();
  EXPECT_EQ(upnp_wpl_create_playlist("back", 1, 1, nullptr, nullptr, &h), UPNP_WPL_OK);
}

}  // namespace

int main(int argc, char **argv) {
  ::testing::InitGoogleTest(&argc, argv);
  upnp_mem_init();
  ZelMediaItemPlaylist::Init();  // the store's one start in this program
  int rc = RUN_ALL_TESTS();
  ZelMediaItemPlaylist::Cleanup();
  return rc;
}
