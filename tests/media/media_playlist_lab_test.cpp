// The server side of playlists in the lab, against the crafted local playlist
// server (started here through lab.sh, stopped again when it was not
// running): a saved playlist read back from the server with its items and
// awkward texts, the server's playlist list with and without items, a
// bookmark refreshed, a copy deleted, and deleting all removing only ours.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/upnp_mem.h"
#include "media/zel_control_point.h"
#include "media/zel_media_item_playlist.h"
#include "media_test_util.h"

namespace {

int lab(const std::string &command) {
  return std::system((std::string(MEDIA_SOURCE_DIR) + "/tests/lab/lab.sh " + command + " >/dev/null 2>&1").c_str());
}

std::vector<std::string> titles(ZelMediaItemPlaylistList *list) {
  std::vector<std::string> out;
  for (uint32_t i = 0; i < list->Count(); ++i) out.push_back(list->GetPlaylist(i)->GetName());
  return out;
}

TEST(MediaPlaylistLab, SavedPlaylistsReadBackFromTheServerAndOnlyOursAreDeleted) {
  const char *was = std::getenv("LAB_PLAYLIST_SERVER");
  const bool running = was != nullptr && std::string(was) == "1";
  (void)lab("stop playlistserver");  // a fresh one: only the seeded playlist
  ASSERT_EQ(lab("start playlistserver"), 0);
  {
    media_test::AppData app;
    ZelControlPoint2::Init();
    ZelControlPoint2 *cp = ZelControlPoint2::GetInstance();
    ASSERT_NE(cp, nullptr);
    std::shared_ptr<ZelMediaServer2> server;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while ((server = cp->HoldLocalPlaylistServer(false)) == nullptr && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_NE(server, nullptr);
    EXPECT_STREQ(server->GetDeviceName(), "Lab Playlist Server");

    ZelMediaItemPlaylistList *local = cp->GetLocalPlaylistList();
    auto *mine = ZelMediaItemPlaylist::AllocateZelMediaItemPlaylist("Lab & <Mine> \"Café\"", MT_PHOTO);
    ASSERT_TRUE(local->AddPlaylist(mine));
    const std::string url = std::string(std::getenv("LAB_HTTP_URL")) + "media/pictures/photo1.jpg?a=1&b=2";
    mine->AddItem(ZelUrlMediaItem2::AllocateZelUrlMediaItem2("Photo \"1\" & <one>", MT_PHOTO, MO_URL, url.c_str()), -1);
    ASSERT_TRUE(mine->Save(false, true));
    std::string bookmark = mine->GetPlaylistBookmarkOnServer();  // refreshed through the server
    ASSERT_FALSE(bookmark.empty());

    // Read back: the name, the item's title and URL, the object's bookmark for
    // a home-network URL.
    std::unique_ptr<ZelMediaItemPlaylist> back(
        ZelMediaItemPlaylist::CreatePlaylistFromBookmarkOnServer(server.get(), bookmark.c_str(), MT_PHOTO));
    ASSERT_NE(back, nullptr);
    EXPECT_STREQ(back->GetName(), mine->GetName());
    ASSERT_EQ(back->Count(), 1u);
    auto *item = dynamic_cast<ZelUrlMediaItem2 *>(back->GetItem(0));
    ASSERT_NE(item, nullptr);
    EXPECT_STREQ(item->GetName(), "Photo \"1\" & <one>");
    EXPECT_EQ(std::string(item->GetUrl()), url);
    EXPECT_NE(item->GetServerBookmark(), nullptr);
    EXPECT_EQ(ZelMediaItemPlaylist::CreatePlaylistFromBookmarkOnServer(nullptr, bookmark.c_str(), MT_PHOTO), nullptr);
    EXPECT_EQ(server->GetPlaylist("uuid:no-such-server,nothing", MT_MUSIC), nullptr);

    // The server's list: ours in the picture container, the seeded one in music.
    std::unique_ptr<ZelMediaItemPlaylistList> all(server->GetPlaylistList(true));
    ASSERT_NE(all, nullptr);
    EXPECT_EQ(titles(all.get()), (std::vector<std::string>{"Not Ours", mine->GetName()}));
    EXPECT_EQ(all->GetPlaylist(1)->GetType(), MT_PHOTO);
    EXPECT_EQ(all->GetPlaylist(1)->Count(), 1u);
    std::unique_ptr<ZelMediaItemPlaylistList> bare(server->GetPlaylistList(false));
    EXPECT_EQ(bare->GetPlaylist(1)->Count(), 0u);

    char refreshed[ZEL_PLAYLIST_BOOKMARK_SIZE];
    snprintf(refreshed, sizeof refreshed, "%s", bookmark.c_str());
    EXPECT_TRUE(server->UpdateBookmark(refreshed, sizeof refreshed));
    char unknown[ZEL_PLAYLIST_BOOKMARK_SIZE] = "uuid:4c756d65-7450-4c53-8000-00000000a001,pl999";
    EXPECT_FALSE(server->UpdateBookmark(unknown, sizeof unknown));

    // A second copy of ours, then all of ours deleted: the seeded one stays.
    auto *other = ZelMediaItemPlaylist::AllocateZelMediaItemPlaylist("Second", MT_VIDEO);
    ASSERT_TRUE(local->AddPlaylist(other));
    other->AddItem(ZelUrlMediaItem2::AllocateZelUrlMediaItem2("Clip", MT_VIDEO, MO_URL, "http://h/c.avi"), -1);
    ASSERT_TRUE(other->Save(false, true));
    EXPECT_TRUE(server->DeleteAllPlaylists());
    std::unique_ptr<ZelMediaItemPlaylistList> left(server->GetPlaylistList(false));
    EXPECT_EQ(titles(left.get()), (std::vector<std::string>{"Not Ours"}));
    EXPECT_FALSE(server->DeletePlaylist(bookmark.c_str()));  // gone already
    server.reset();
    ZelControlPoint2::Cleanup();
  }
  (void)lab("stop playlistserver");
  if (running) (void)lab("start playlistserver");
}

}  // namespace

int main(int argc, char **argv) {
  ::testing::InitGoogleTest(&argc, argv);
  upnp_mem_init();
  return RUN_ALL_TESTS();
}
