// Playlist files: flushing into a folder, reading files into the store, the
// title from the file name, rewriting and deleting files.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "wpl_test_util.h"

namespace {

class WplFile : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/wpl_test_XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(tmpl));
    dir_ = tmpl;
  }
  void TearDown() override {
    std::string cmd = "rm -rf '" + dir_ + "'";
    ASSERT_EQ(0, std::system(cmd.c_str()));
  }
  static bool exists(const std::string &path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
  }
  static std::string read(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  void write(const std::string &path, const std::string &text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
  }
  std::string dir_;
};

TEST_F(WplFile, FlushReplacesUnsafeCharactersInTheFileName) {
  uint32_t h = 0;
  ASSERT_EQ(0, upnp_wpl_create_playlist("AC/DC: Best *of?", 1, 1, nullptr, nullptr, &h));
  upnp_wpl_add_item(h, upnp_wpl_create_item("x"));
  char *path = nullptr;
  ASSERT_EQ(0, upnp_wpl_flush(h, dir_.c_str(), &path));
  std::string expected = dir_ + "/AC#DC##Best##of#.wpl";
  EXPECT_EQ(expected, take_text(path));
  EXPECT_EQ(wpl_text(h), read(expected));
  EXPECT_FALSE(exists(expected + ".tmp"));
  // The record now has its path; an existing file of a playlist that is not
  // from a server is not replaced.
  EXPECT_EQ(14, upnp_wpl_flush(h, dir_.c_str(), nullptr));
  // File source: deleting the playlist keeps the user's file.
  ASSERT_EQ(0, upnp_wpl_delete_playlist(h));
  EXPECT_TRUE(exists(expected));
}

TEST_F(WplFile, ServerPlaylistsAreRewrittenAndTheirFilesDeleted) {
  uint32_t h = 0;
  ASSERT_EQ(0, upnp_wpl_create_playlist("From server", 1, 3, nullptr, nullptr, &h));
  char *path = nullptr;
  ASSERT_EQ(0, upnp_wpl_flush(h, dir_.c_str(), &path));
  std::string file = take_text(path);
  upnp_wpl_add_item(h, upnp_wpl_create_item("later"));
  ASSERT_EQ(0, upnp_wpl_flush(h, dir_.c_str(), nullptr));
  EXPECT_NE(std::string::npos, read(file).find("src=\"later\""));
  ASSERT_EQ(0, upnp_wpl_delete_playlist(h));
  EXPECT_FALSE(exists(file));
}

TEST_F(WplFile, FileRoundTripIsIdentical) {
  uint32_t h = 0;
  ASSERT_EQ(0, upnp_wpl_create_playlist("Disk & <round>", 3, 4, "G\"en", "orig", &h));
  upnp_wpl_item *item = upnp_wpl_create_item("file:///m/a b&c.mp4");
  upnp_wpl_set_item_title(item, "A \"quoted\" <title>");
  upnp_wpl_add_item_attribute(item, "bookmark", "dms:1&2");
  upnp_wpl_add_item(h, item);
  char *path = nullptr;
  ASSERT_EQ(0, upnp_wpl_flush(h, dir_.c_str(), &path));
  std::string file = take_text(path);
  std::string written = read(file);
  ASSERT_EQ(0, upnp_wpl_delete_playlist(h));  // original "orig" differs from the path: the file goes
  EXPECT_FALSE(exists(file));
  write(file, written);

  uint32_t back = 0;
  ASSERT_EQ(0, upnp_wpl_create_playlist_from_file(file.c_str(), &back));
  ASSERT_NE(0u, back);
  char *file_path = nullptr, *title = nullptr;
  upnp_wpl_get_playlist_properties(back, &title, nullptr, nullptr, nullptr, nullptr, &file_path, nullptr);
  EXPECT_EQ(file, take_text(file_path));
  EXPECT_EQ("Disk & <round>", take_text(title));
  EXPECT_EQ(written, wpl_text(back));
  upnp_wpl_delete_playlist(back);
}

TEST_F(WplFile, MissingTitleComesFromTheFileName) {
  write(dir_ + "/My list.v2.wpl", "<smil><head></head><body><seq><media src=\"a\"/></seq></body></smil>");
  write(dir_ + "/.wpl", "<smil><body/></smil>");
  uint32_t a = 0, b = 0;
  ASSERT_EQ(0, upnp_wpl_create_playlist_from_file((dir_ + "/My list.v2.wpl").c_str(), &a));
  ASSERT_EQ(0, upnp_wpl_create_playlist_from_file((dir_ + "/.wpl").c_str(), &b));
  char *ta = nullptr, *tb = nullptr;
  upnp_wpl_get_playlist_properties(a, &ta, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
  upnp_wpl_get_playlist_properties(b, &tb, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
  EXPECT_EQ("My list.v2", take_text(ta));
  EXPECT_EQ("No Title", take_text(tb));
  upnp_wpl_delete_playlist(a);
  upnp_wpl_delete_playlist(b);
}

TEST_F(WplFile, MissingOrBrokenFilesAreRefused) {
  uint32_t h = 0;
  EXPECT_EQ(14, upnp_wpl_create_playlist_from_file((dir_ + "/nope.wpl").c_str(), &h));
  EXPECT_EQ(14, upnp_wpl_create_playlist_from_file(dir_.c_str(), &h));  // a folder
  write(dir_ + "/broken.wpl", "just words, no markup");
  EXPECT_EQ(14, upnp_wpl_create_playlist_from_file((dir_ + "/broken.wpl").c_str(), &h));
  EXPECT_EQ(0u, h);
}

TEST_F(WplFile, ReadingIntoAnExistingServerPlaylistRewritesItsFile) {
  uint32_t h = 0;
  ASSERT_EQ(0, upnp_wpl_create_playlist("Mine", 1, 3, nullptr, nullptr, &h));
  std::string file = dir_ + "/other.wpl";
  write(file,
        "<smil><head><meta name=\"Source\" content=\"CDS\"/><title>Theirs</title></head>"
        "<body><seq><media src=\"n1\"/><media src=\"n2\"/></seq></body></smil>");
  uint32_t in = h;
  ASSERT_EQ(0, upnp_wpl_create_playlist_from_file(file.c_str(), &in));
  EXPECT_EQ(h, in);
  EXPECT_EQ((std::vector<std::string>{"n1", "n2"}), item_srcs(h));
  // The file now carries the store's title.
  EXPECT_NE(std::string::npos, read(file).find("<title>Mine</title>"));
  uint32_t bad = 999999;
  EXPECT_EQ(14, upnp_wpl_create_playlist_from_file(file.c_str(), &bad));
  upnp_wpl_delete_playlist(h);
}

TEST_F(WplFile, FlushIntoAMissingFolderFailsCleanly) {
  uint32_t h = make_playlist("No folder", 1);
  char *path = nullptr;
  EXPECT_EQ(14, upnp_wpl_flush(h, (dir_ + "/missing/sub").c_str(), &path));
  EXPECT_EQ(nullptr, path);
  upnp_wpl_delete_playlist(h);
}

}  // namespace
