// Media items and item lists: clones and copies of each class, the list
// operations with their edge cases, the XML form with escaped values.
#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "media/zel_media_item_list.h"
#include "media/zel_youtube_item.h"

#include "support_mem.h"

namespace {

using MediaItem = test_support::MemCheckedTest;
using MediaItemList = test_support::MemCheckedTest;

std::string names(const ZelMediaItemList2 &list) {
  std::string out;
  for (uint32_t i = 0; i < list.Count(); ++i) out += std::string(out.empty() ? "" : ",") + list.GetItem(static_cast<int>(i))->GetName();
  return out;
}

ZelMediaItemList2 *three() {
  ZelMediaItemList2 *list = ZelMediaItemList2::AllocateZelMediaItemList2(MT_MUSIC);
  for (const char *n : {"first", "second", "third"}) {
    list->AddItem(ZelUrlMediaItem2::AllocateZelUrlMediaItem2(n, MT_MUSIC, MO_URL, "http://h/x.mp3"), -1);
  }
  list->SetModified(false);
  return list;
}

TEST_F(MediaItemList, MovesAddsAndDeletes) {
  struct Case {
    const char *what;
    int from, to;
    bool result;
    const char *order;
    bool modified;
  };
  const Case cases[] = {
      {"forward", 0, 2, true, "second,third,first", true},
      {"backward", 2, 0, true, "third,first,second", true},
      {"same place", 1, 1, true, "first,second,third", false},
      {"beyond the end appends", 0, 7, true, "second,third,first", true},
      {"from out of range", 3, 0, false, "first,second,third", false},
      {"negative from", -1, 0, false, "first,second,third", false},
  };
  for (const Case &c : cases) {
    std::unique_ptr<ZelMediaItemList2> list(three());
    EXPECT_EQ(c.result, list->MoveItem(c.from, c.to)) << c.what;
    EXPECT_EQ(c.order, names(*list)) << c.what;
    EXPECT_EQ(c.modified, list->IsModified()) << c.what;
  }

  std::unique_ptr<ZelMediaItemList2> list(three());
  EXPECT_TRUE(list->AddItem(ZelUrlMediaItem2::AllocateZelUrlMediaItem2("x", MT_MUSIC, MO_URL, "u"), 5));
  EXPECT_TRUE(list->AddItem(ZelUrlMediaItem2::AllocateZelUrlMediaItem2("y", MT_MUSIC, MO_URL, "u"), 0));
  EXPECT_EQ("y,first,second,third,x", names(*list));
  EXPECT_EQ(nullptr, list->GetItem(5));
  EXPECT_EQ(nullptr, list->GetItem(-1));
  ZelMediaItem2 *second = list->GetItem(2);
  EXPECT_EQ(2u, list->GetItemIndex(second));
  EXPECT_TRUE(list->DeleteItem(second));
  EXPECT_FALSE(list->DeleteItem(second));  // gone (and destroyed) already
  EXPECT_EQ(0xFFFFFFFFu, list->GetItemIndex(second));
  EXPECT_FALSE(list->DeleteItem(4));
  EXPECT_TRUE(list->DeleteItem(3));
  EXPECT_EQ("y,first,third", names(*list));
}

TEST_F(MediaItemList, CopyAndCloneKeepFlagTypeAndItems) {
  std::unique_ptr<ZelMediaItemList2> source(three());
  source->SetModified(true);
  std::unique_ptr<ZelMediaItemList2> clone(source->Clone());
  ASSERT_TRUE(clone);
  EXPECT_EQ("first,second,third", names(*clone));
  EXPECT_TRUE(clone->IsModified());
  EXPECT_NE(source->GetItem(0), clone->GetItem(0));

  std::unique_ptr<ZelMediaItemList2> target(ZelMediaItemList2::AllocateZelMediaItemList2(MT_PHOTO));
  target->AddItem(ZelUrlMediaItem2::AllocateZelUrlMediaItem2("kept", MT_PHOTO, MO_URL, "u"), -1);
  source->SetModified(false);
  EXPECT_TRUE(target->Copy(source.get()));
  EXPECT_EQ("kept,first,second,third", names(*target));
  EXPECT_FALSE(target->IsModified());
  EXPECT_EQ(MT_MUSIC, target->GetType());
}

TEST_F(MediaItem, ClonesAndCopiesOfEachClass) {
  std::unique_ptr<ZelServerMediaItem2> server(
      ZelServerMediaItem2::AllocateZelServerMediaItem2("Song", MT_MUSIC, MO_SERVER, "bm|server|obj"));
  server->SetArtist("Artist");
  server->SetAlbum("Album");
  server->SetGenre("Genre");
  std::unique_ptr<ZelServerMediaItem2> server_clone(static_cast<ZelServerMediaItem2 *>(server->Clone()));
  EXPECT_STREQ("Song", server_clone->GetName());
  EXPECT_EQ(MT_MUSIC, server_clone->GetType());
  EXPECT_EQ(MO_SERVER, server_clone->GetOrigin());
  EXPECT_STREQ("bm|server|obj", server_clone->GetServerBookmark());
  EXPECT_EQ(nullptr, server_clone->GetArtist());
  EXPECT_EQ(nullptr, server_clone->GetAlbum());
  EXPECT_EQ(nullptr, server_clone->GetGenre());

  std::unique_ptr<ZelUrlMediaItem2> url(
      ZelUrlMediaItem2::AllocateZelUrlMediaItem2("Clip", MT_VIDEO, MO_URL, "http://h/clip.mp4"));
  url->SetServerBookmark("not copied");
  EXPECT_STREQ("http://h/clip.mp4", url->GetPlayableUrl());
  std::unique_ptr<ZelUrlMediaItem2> url_clone(static_cast<ZelUrlMediaItem2 *>(url->Clone()));
  EXPECT_EQ(nullptr, url_clone->GetServerBookmark());
  EXPECT_STREQ("http://h/clip.mp4", url_clone->GetUrl());
  url->SetUrl("http://h/other.mp4");
  EXPECT_STREQ("http://h/clip.mp4", url->GetPlayableUrl());  // stored on the first call

  // Copy takes name, type and origin, not the server bookmark.
  std::unique_ptr<ZelServerMediaItem2> target(
      ZelServerMediaItem2::AllocateZelServerMediaItem2("old", MT_PHOTO, MO_SERVER, "own"));
  target->Copy(url.get());
  EXPECT_STREQ("Clip", target->GetName());
  EXPECT_EQ(MT_VIDEO, target->GetType());
  EXPECT_EQ(MO_URL, target->GetOrigin());
  EXPECT_STREQ("own", target->GetServerBookmark());
  target->SetName(nullptr);
  EXPECT_EQ(nullptr, target->GetName());

  std::unique_ptr<ZelYouTubeUrlMediaItem2> video(ZelYouTubeUrlMediaItem2::AllocateZelYouTubeUrlMediaItem2(
      "temp", MT_VIDEO, MO_URL, "http://www.youtube.com/watch?v=abc"));
  std::unique_ptr<ZelMediaItem2> video_clone(video->Clone());
  EXPECT_NE(nullptr, dynamic_cast<ZelYouTubeUrlMediaItem2 *>(video_clone.get()));
  EXPECT_STREQ("temp", video_clone->GetName());
}

TEST_F(MediaItem, XmlFormEscapesEveryValue) {
  std::unique_ptr<ZelServerMediaItem2> server(
      ZelServerMediaItem2::AllocateZelServerMediaItem2("Rock & Roll <Live>", MT_ANY, MO_SERVER, nullptr));
  server->SetGenre("a\"b");
  std::ostringstream out;
  server->SerializeToXMLStream(out);
  EXPECT_EQ(
      "  <Item>\n"
      "    <Type>VIDEO</Type>\n"
      "    <Name>Rock &amp; Roll &lt;Live&gt;</Name>\n"
      "    <ServerBookmark></ServerBookmark>\n"
      "    <ARTIST></ARTIST>\n"
      "    <ALBUM></ALBUM>\n"
      "    <GENRE>a&quot;b</GENRE>\n"
      "  </Item>\n",
      out.str());

  std::unique_ptr<ZelUrlMediaItem2> url(
      ZelUrlMediaItem2::AllocateZelUrlMediaItem2("p", MT_PHOTO, MO_URL, "http://h/a.jpg?x=1&y=</URL>"));
  std::ostringstream out2;
  url->SerializeAttributesToXMLStream(out2);
  EXPECT_EQ(
      "    <Type>PHOTO</Type>\n    <Name>p</Name>\n    <ServerBookmark></ServerBookmark>\n"
      "    <URL>http://h/a.jpg?x=1&amp;y=&lt;/URL&gt;</URL>\n",
      out2.str());
}

}  // namespace
