// The control point singleton, servers and renderers as objects, with the
// controller running without network: devices come and go through the
// controller's callbacks as its notifier threads would call them.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <stdlib.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/upnp_mem.h"
#include "cp/upnp_cp_metadata_url.h"
#include "media/zel_control_point.h"
#include "media_test_util.h"
#include "nmc/lm_nmc.h"
#include "nmc/lm_nmc_internal.h"

namespace {

// One controller for the whole program: Cleanup ends it for good, so the
// environment's tear-down checks what happens after it.
class ControllerEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    dir_ = std::make_unique<test_support::TempDir>("media_cp_test");
    setenv("KESTREL_APP_SUPPORT_DIR", dir_->path().c_str(), 1);  // the controller's log goes there
    nmc_set_network(0);
    lm_nmc_set_appdata_path(dir_->path().c_str());
    ZelControlPoint2::Init();
    ASSERT_NE(ZelControlPoint2::GetInstance(), nullptr);
  }
  void TearDown() override {
    ZelControlPoint2::Cleanup();
    EXPECT_EQ(ZelControlPoint2::GetInstance(), nullptr);
    EXPECT_EQ(ZelControlPoint2::GetInstanceNoCreate(), nullptr);
    ZelControlPoint2::Cleanup();  // a second one does nothing
    EXPECT_TRUE(ZelControlPoint2::IsTerminating());
    lm_nmc_set_appdata_path(nullptr);
  }

 private:
  std::unique_ptr<test_support::TempDir> dir_;
};

::testing::Environment *const g_env = ::testing::AddGlobalTestEnvironment(new ControllerEnvironment);

struct Seen {
  std::vector<std::pair<int, std::string>> events;
  int calls = 0;
};

bool record_cp_event(ZelControlPointEvent *event, void *user) {
  auto *seen = static_cast<Seen *>(user);
  ++seen->calls;
  const char *bookmark = event->GetServerForEvent() != nullptr ? event->GetServerForEvent()->GetBookmark()
                                                               : event->GetRendererForEvent()->GetBookmark();
  seen->events.emplace_back(event->GetEventType(), bookmark);
  return false;  // the result is ignored
}

bool record_renderer_event(ZelMediaRendererEvent *event, void *user) {
  static_cast<Seen *>(user)->events.emplace_back(event->GetEventType(), event->GetRendererForEvent()->GetBookmark());
  return true;
}

TEST(MediaControlPoint, MimeTypesOfUrls) {
  struct Row {
    const char *url;
    const char *mime;  // null: none
  } rows[] = {
      {"http://h/pic.JPEG", "image/jpeg"},
      {"http://h/song.mp3?session=1", "audio/mpeg"},  // prefix of the extension
      {"http://h/nodot", nullptr},
      {nullptr, nullptr},
      {"http://h/a.tiff", "image/tiff"},
      {"http://h/a.flac", "audio/x-flac"},
      {"http://h/a.3gp", "video/3gpp"},
      {"http://h/a.xyz", nullptr},
      {"http://www.youtube.com/watch?v=abc", "video/mp4"},  // any extension on the video site
      {"http://www.youtube.com/a.mp3", "audio/mpeg"},      // mp3 stands before the site's row
  };
  for (const Row &row : rows) {
    char out[40] = "x";
    bool found = ZelMediaRenderer2::GetMimeForURL(row.url, out, sizeof out);
    EXPECT_EQ(found, row.mime != nullptr) << (row.url ? row.url : "(none)");
    EXPECT_STREQ(out, row.mime != nullptr ? row.mime : "") << (row.url ? row.url : "(none)");
  }
  char small[6];
  EXPECT_TRUE(ZelMediaRenderer2::GetMimeForURL("http://h/a.mp3", small, sizeof small));
  EXPECT_STREQ(small, "audio");  // cut to the buffer
}

TEST(MediaControlPoint, VersionAndNameRules) {
  struct Version {
    int major, minor;
    bool playlistServer;
  } versions[] = {{5, 1, false}, {5, 2, true}, {6, 0, true}, {4, 9, false}, {5, 0, false}};
  for (const Version &v : versions)
    EXPECT_EQ(ZelControlPoint2::IsPlaylistServerVersion(v.major, v.minor), v.playlistServer) << v.major << "." << v.minor;
  struct Name {
    const char *name;
    bool associated;
  } names[] = {{"LMM Player kitchen", true}, {"lmmplayer", true}, {"LmmPlayerX", true},
               {"lmm playe", false},         {"my lmm player", false}, {nullptr, false}};
  for (const Name &n : names) EXPECT_EQ(ZelMediaRenderer2::IsAssociatedPlayerName(n.name), n.associated);
  // Only a beam server resolves video links itself.
  EXPECT_TRUE(ZelMediaRenderer2::QueueStoredVideoUrl(true));
  EXPECT_FALSE(ZelMediaRenderer2::QueueStoredVideoUrl(false));
}

TEST(MediaControlPoint, MetadataForABareUrl) {
  char *text = upnp_cp_create_metadata_from_url("http://h/a&b.mp3?x=<1>", "Rock & <Roll>");
  ASSERT_NE(text, nullptr);
  std::string didl(text);
  upnp_free_impl(text);
  EXPECT_NE(didl.find("<dc:title>Rock &amp; &lt;Roll&gt;</dc:title>"), std::string::npos) << didl;
  EXPECT_NE(didl.find(">http://h/a&amp;b.mp3?x=&lt;1&gt;</res>"), std::string::npos) << didl;
  EXPECT_NE(didl.find("http-get:*:audio/mpeg:*"), std::string::npos) << didl;
  EXPECT_NE(didl.find("object.item.audioItem.musicTrack"), std::string::npos) << didl;
  text = upnp_cp_create_metadata_from_url("http://h/clip", nullptr);
  ASSERT_NE(text, nullptr);
  EXPECT_NE(std::string(text).find("http-get:*:*:*"), std::string::npos);
  upnp_free_impl(text);
  EXPECT_EQ(upnp_cp_create_metadata_from_url(nullptr, "t"), nullptr);
  EXPECT_EQ(upnp_cp_create_metadata_from_url("", "t"), nullptr);
}

TEST(MediaControlPoint, HandlersRegisterOnceAndFireInOrder) {
  ZelControlPoint2 *cp = ZelControlPoint2::GetInstance();
  ASSERT_NE(cp, nullptr);
  Seen first, second;
  cp->AddEventHandler(record_cp_event, &first);
  cp->AddEventHandler(record_cp_event, &second);  // moves the one record, with the new data
  cp->AddEventHandler(nullptr, &first);            // ignored
  ZelControlPoint2::ServerCallback(0, 4, "uuid:cp-test-server-1");
  ZelControlPoint2::ServerCallback(0, 4, "uuid:cp-test-server-1");  // listed already: nothing
  ZelControlPoint2::ServerCallback(0, 99, "uuid:cp-test-server-1");  // other codes: nothing
  ZelControlPoint2::ServerCallback(0, 2, "uuid:cp-test-unknown");    // not listed: nothing
  EXPECT_EQ(first.calls, 0);
  ASSERT_EQ(second.events.size(), 1u);
  EXPECT_EQ(second.events[0], std::make_pair(static_cast<int>(CP_SERVER_ADDED), std::string("uuid:cp-test-server-1")));
  EXPECT_EQ(cp->GetServerList()->Count(), 1u);
  ZelMediaServer2 *server = cp->GetServerList()->GetServerFromBookmark("uuid:cp-test-server-1");
  ASSERT_NE(server, nullptr);
  EXPECT_STREQ(server->GetDeviceName(), "");  // no such device: empty names, never null
  EXPECT_FALSE(cp->IsLocalPlaylistServer(server));
  EXPECT_EQ(cp->GetLocalPlaylistServer(), nullptr);

  // A held server outlives its removal; the bookmark is unknown afterwards.
  std::shared_ptr<ZelMediaServer2> held = cp->GetServerList()->HoldFromBookmark("uuid:cp-test-server-1");
  ZelControlPoint2::ServerCallback(0, 2, "uuid:cp-test-server-1");
  ASSERT_EQ(second.events.size(), 2u);
  EXPECT_EQ(second.events[1].first, CP_SERVER_REMOVED);
  EXPECT_EQ(cp->GetServerList()->Count(), 0u);
  EXPECT_EQ(cp->GetServerList()->GetServerFromBookmark("uuid:cp-test-server-1"), nullptr);
  EXPECT_STREQ(held->GetBookmark(), "uuid:cp-test-server-1");
  held.reset();

  cp->RemoveEventHandler(record_cp_event);
  ZelControlPoint2::RendererCallback(0x10000, 0x4002, "uuid:cp-test-renderer-0");
  EXPECT_EQ(second.events.size(), 2u);
  ZelControlPoint2::RendererCallback(0x10000, 0x4001, "uuid:cp-test-renderer-0");
  EXPECT_EQ(cp->GetRendererList()->Count(), 0u);
}

TEST(MediaControlPoint, ListsRefuseDuplicatesAndNull) {
  ZelMediaServerList2 list;
  ZelMediaServer2 *a = list.CreateServerFromBookmark("uuid:list-a");
  ASSERT_NE(a, nullptr);
  EXPECT_TRUE(list.AddServer(a));
  EXPECT_EQ(list.CreateServerFromBookmark("uuid:list-a"), nullptr);
  auto *twin = new ZelMediaServer2("uuid:list-a");
  EXPECT_FALSE(list.AddServer(twin));  // the caller keeps it
  delete twin;
  EXPECT_FALSE(list.AddServer(nullptr));
  EXPECT_EQ(list.CreateServerFromBookmark(nullptr), nullptr);
  EXPECT_EQ(list.GetServer(1), nullptr);
  EXPECT_EQ(list.GetServerFromContext(a->GetContext()), a);
  EXPECT_TRUE(list.RemoveServer(a));
  EXPECT_FALSE(list.RemoveServer(a));
  EXPECT_EQ(list.Count(), 0u);
}

TEST(MediaControlPoint, RendererStateQueueAndPlayResults) {
  ZelControlPoint2 *cp = ZelControlPoint2::GetInstance();
  ASSERT_NE(cp, nullptr);
  ZelControlPoint2::RendererCallback(0x10000, 0x4002, "uuid:cp-test-renderer-1");
  std::shared_ptr<ZelMediaRenderer2> r = cp->GetRendererList()->HoldFromBookmark("uuid:cp-test-renderer-1");
  ASSERT_NE(r, nullptr);
  Seen seen;
  r->AddEventHandler(record_renderer_event, &seen);

  // Reported states are kept and raise their events; no controller call.
  struct Report {
    uint32_t code;
    bool playing, paused, stopped;
    int event;  // -1: none
  } reports[] = {{3, false, true, false, MR_PAUSED},
                 {1, true, false, false, MR_PLAYING},
                 {6, false, false, true, -1},
                 {0, false, false, true, MR_STOPPED}};
  for (const Report &rep : reports) {
    size_t before = seen.events.size();
    ZelMediaRenderer2::StaticRendererCallback(r->GetContext(), rep.code, "");
    EXPECT_EQ(r->IsPlaying(), rep.playing) << rep.code;
    EXPECT_EQ(r->IsPaused(), rep.paused) << rep.code;
    EXPECT_EQ(r->IsStopped(), rep.stopped) << rep.code;
    if (rep.event < 0) {
      EXPECT_EQ(seen.events.size(), before);
    } else {
      ASSERT_EQ(seen.events.size(), before + 1);
      EXPECT_EQ(seen.events.back().first, rep.event);
    }
  }
  ZelMediaRenderer2::StaticQueueCallback(r->GetContext(), 1, 0, 2);
  EXPECT_EQ(seen.events.back().first, MR_QUEUE_PLAYING);
  ZelMediaRenderer2::StaticQueueCallback(r->GetContext(), 0, 0, 0);
  EXPECT_EQ(seen.events.back().first, MR_QUEUE_STOPPED);

  // Stopped by report (NO_MEDIA_PRESENT): a failed stop request still counts.
  ZelMediaRenderer2::StaticRendererCallback(r->GetContext(), 6, "");
  EXPECT_EQ(r->Stop(), ZEL_PLAY_OK);
  ZelMediaRenderer2::StaticRendererCallback(r->GetContext(), 1, "");
  EXPECT_EQ(r->Stop(), ZEL_PLAY_FAILED);  // playing and the request failed

  // The internal queue holds copies; indexes at or past its end play nothing.
  EXPECT_EQ(r->Play(0), ZEL_PLAY_OUT_OF_RANGE);
  EXPECT_FALSE(r->HasQueue());
  std::unique_ptr<ZelUrlMediaItem2> a(ZelUrlMediaItem2::AllocateZelUrlMediaItem2("a", MT_MUSIC, MO_URL, "http://h/a.mp3"));
  std::unique_ptr<ZelUrlMediaItem2> b(ZelUrlMediaItem2::AllocateZelUrlMediaItem2("b", MT_MUSIC, MO_URL, "http://h/b.mp3"));
  EXPECT_TRUE(r->AddItemToQueue(a.get()));
  EXPECT_TRUE(r->AddItemToQueue(b.get()));
  EXPECT_FALSE(r->AddItemToQueue(nullptr));
  a.reset();  // the renderer kept its own copy
  EXPECT_TRUE(r->HasQueue());
  EXPECT_EQ(r->Play(2), ZEL_PLAY_OUT_OF_RANGE);
  EXPECT_EQ(r->Play(-1), ZEL_PLAY_OUT_OF_RANGE);
  EXPECT_TRUE(r->MoveItemInQueue(0, 1));
  EXPECT_FALSE(r->MoveItemInQueue(5, 0));
  EXPECT_TRUE(r->DeleteItemFromQueue(1));
  EXPECT_FALSE(r->DeleteItemFromQueue(1));
  EXPECT_EQ(r->SetQueue(nullptr, true), ZEL_PLAY_FAILED);
  EXPECT_FALSE(r->HasQueue());
  EXPECT_FALSE(r->CreateNMCQueueFromInternalQueue());  // nothing queued
  EXPECT_EQ(r->SkipToPreviousItem(), ZEL_PLAY_FAILED);
  EXPECT_EQ(r->CurrentlyPlayingIndexInQueue(), 0xFFFFFFFFu);  // the controller cannot tell
  EXPECT_EQ(r->GetVolume(), 0u);
  EXPECT_FALSE(r->IsMuted());
  char out[8] = "x";
  EXPECT_FALSE(r->GetAssociatedRendererName(out, sizeof out));  // not an associated player
  EXPECT_STREQ(out, "");
  std::unique_ptr<ZelServerMediaItem2> onServer(
      ZelServerMediaItem2::AllocateZelServerMediaItem2("s", MT_MUSIC, MO_SERVER, "uuid:x,0/1"));
  EXPECT_TRUE(r->CanPlayItem(onServer.get()));  // only URL items are asked about
  std::unique_ptr<ZelUrlMediaItem2> odd(ZelUrlMediaItem2::AllocateZelUrlMediaItem2("o", MT_ANY, MO_URL, "http://h/o.xyz"));
  EXPECT_TRUE(r->CanPlayItem(odd.get()));  // no MIME type: no question
  EXPECT_FALSE(r->CanPlayItem(nullptr));

  r->RemoveEventHandler(record_renderer_event);
  ZelControlPoint2::RendererCallback(0x10000, 0x4001, "uuid:cp-test-renderer-1");
  EXPECT_EQ(cp->GetRendererList()->GetRendererFromBookmark("uuid:cp-test-renderer-1"), nullptr);
  EXPECT_STREQ(r->GetBookmark(), "uuid:cp-test-renderer-1");  // still held here
}

// Notifier-like threads add and remove renderers and report states while
// this thread looks them up, reads them and drives them.
TEST(MediaControlPointThreaded, AddsAndRemovalsWhileInUse) {
  ZelControlPoint2 *cp = ZelControlPoint2::GetInstance();
  ASSERT_NE(cp, nullptr);
  std::atomic<bool> stop{false};
  std::vector<std::thread> storm;
  for (int t = 0; t < 2; ++t) {
    storm.emplace_back([t, &stop, cp] {
      for (int round = 0; round < 200 && !stop; ++round) {
        std::string bookmark = "uuid:storm-" + std::to_string(round % 4);
        ZelControlPoint2::RendererCallback(0x10000, 0x4002, bookmark.c_str());
        std::shared_ptr<ZelMediaRenderer2> r = cp->GetRendererList()->HoldFromBookmark(bookmark.c_str());
        if (r != nullptr) ZelMediaRenderer2::StaticRendererCallback(r->GetContext(), (round + t) % 2 ? 1 : 3, "");
        ZelControlPoint2::RendererCallback(0x10000, 0x4001, bookmark.c_str());
      }
    });
  }
  int used = 0;
  for (int i = 0; i < 400; ++i) {
    std::string bookmark = "uuid:storm-" + std::to_string(i % 4);
    std::shared_ptr<ZelMediaRenderer2> r = cp->GetRendererList()->HoldFromBookmark(bookmark.c_str());
    if (r == nullptr) continue;
    ++used;
    EXPECT_EQ(std::string(r->GetBookmark()), bookmark);
    (void)r->IsPlaying();
    std::unique_ptr<ZelUrlMediaItem2> item(ZelUrlMediaItem2::AllocateZelUrlMediaItem2("s", MT_MUSIC, MO_URL, "http://h/s.mp3"));
    (void)r->AddItemToQueue(item.get());
    (void)r->ClearQueue();
  }
  stop = true;
  for (std::thread &th : storm) th.join();
  for (int i = 0; i < 4; ++i) {
    std::string bookmark = "uuid:storm-" + std::to_string(i);
    ZelControlPoint2::RendererCallback(0x10000, 0x4001, bookmark.c_str());
  }
  EXPECT_EQ(cp->GetRendererList()->Count(), 0u);
  RecordProperty("renderers_used", used);
}

}  // namespace
