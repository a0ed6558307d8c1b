// Renderer queues written out as WPL text and read back, against a crafted
// renderer and a crafted ContentDirectory on 127.0.0.1: round trips of
// server objects and URLs, paging, chunking, playlist types, the import's
// length and size checks, private playlist records, argument checks and the
// controller's stop.
#include <gtest/gtest.h>

#include <thread>

#include "nmc/lm_dmrcp.h"
#include "nmc/lm_nmc_internal.h"
#include "nmc/lm_queue.h"
#include "playlist/lm_dmrcp_wpl.h"
#include "playlist/lm_dmrcp_wpl_internal.h"
#include "playlist/upnp_wpl.h"
#include "queue_wpl_util.h"
#include "support_wait.h"

namespace queue_wpl {
namespace {

const char *const kAudio = "object.item.audioItem.musicTrack";
const char *const kImage = "object.item.imageItem.photo";
const char *const kVideo = "object.item.videoItem";

std::string url_of(int n) { return "http://127.0.0.1:9/u" + std::to_string(n) + ".mp3?a=1&b=" + std::to_string(n); }

class QueueWpl : public QueueWplTest {
 protected:
  // A server object with one res, queued by its bookmark.
  void queue_object(const std::string &id, const char *upnp_class) {
    nmc_test::CdsObject object;
    object.id = id;
    object.parent = "0";
    object.title = "Object " + id + " & co";
    object.upnp_class = upnp_class;
    object.extra = "<res protocolInfo=\"http-get:*:audio/mpeg:*\">http://127.0.0.1:9/obj/" + id + "</res>";
    server_->add(object);
    ASSERT_EQ(lm_queue_add_bookmark(context_, (std::string(kServerUdn) + "," + id).c_str()), LM_NMC_OK);
  }
  void queue_url(int n, const char *upnp_class = kAudio) {
    ASSERT_EQ(lm_queue_add_metadata(context_, url_of(n).c_str(), didl("Song <" + std::to_string(n) + "> & more",
                                                                      upnp_class, url_of(n)).c_str()),
              LM_NMC_OK);
  }
};

TEST_F(QueueWpl, MixedQueueRoundTripKeepsEveryEntryInOrder) {
  for (int i = 0; i < 13; ++i) {
    if (i % 3 == 0)
      queue_object("obj" + std::to_string(i), kAudio);
    else
      queue_url(i);
  }
  const std::vector<Entry> before = entries();
  ASSERT_EQ(before.size(), 13u);
  const std::string text = export_text();
  EXPECT_NE(text.find("<meta name=\"ItemCount\" content=\"13\""), std::string::npos) << text;
  EXPECT_NE(text.find("<title>" + std::string(kRendererUdn) + "</title>"), std::string::npos);
  EXPECT_NE(text.find("http://127.0.0.1:9/obj/obj0"), std::string::npos) << "a server object's location";
  EXPECT_NE(text.find("udn=\"" + std::string(kServerUdn) + "\""), std::string::npos);

  ASSERT_EQ(lm_queue_clear(context_), LM_NMC_OK);
  EXPECT_EQ(import_text(text), LM_NMC_OK);
  EXPECT_EQ(entries(), before);
}

TEST_F(QueueWpl, PagingChunkingAndTheEndCall) {
  for (int i = 0; i < 25; ++i) queue_url(i);
  const std::string whole = export_text();
  for (int i = 0; i < 25; ++i)
    EXPECT_NE(whole.find(nmc_test::xml_escape(url_of(i))), std::string::npos) << "entry " << i << " of 3 pages";
  const struct {
    uint32_t chunk;
    int stop_at;
  } cases[] = {{100, -1}, {1, -1}, {static_cast<uint32_t>(whole.size()), -1}, {100, 2}};
  for (const auto &c : cases) {
    SCOPED_TRACE("chunk " + std::to_string(c.chunk) + " stop " + std::to_string(c.stop_at));
    ExportSink sink;
    sink.stop_at_chunk = c.stop_at;
    export_text(c.chunk, &sink);
    std::this_thread::sleep_for(std::chrono::milliseconds(c.stop_at >= 0 ? 200 : 0));
    std::lock_guard<std::mutex> hold(sink.mutex);
    EXPECT_EQ(sink.queue, "<QueueID>" + std::string(kRendererUdn) + "</QueueID>");
    if (c.stop_at >= 0) {
      EXPECT_EQ(sink.end_calls, 0) << "no end call after the callback stopped";
      EXPECT_EQ(sink.chunks.size(), static_cast<size_t>(c.stop_at + 1));
      EXPECT_EQ(sink.text, whole.substr(0, sink.text.size()));
      continue;
    }
    EXPECT_EQ(sink.end_calls, 1);
    EXPECT_EQ(sink.text, whole);
    for (size_t i = 0; i + 1 < sink.chunks.size(); ++i) EXPECT_EQ(sink.chunks[i], c.chunk) << "full chunks first";
    ASSERT_FALSE(sink.chunks.empty());
    EXPECT_LE(sink.chunks.back(), c.chunk);
  }
}

TEST_F(QueueWpl, PlaylistTypeFollowsTheKindsOfTheEntries) {
  const struct {
    int audio, image, video;
    const char *type;
  } cases[] = {{2, 2, 0, "M"}, {0, 1, 2, "V"}, {0, 2, 1, "P"}, {0, 0, 0, "M"}, {1, 1, 1, "M"}, {0, 1, 1, "P"}};
  for (const auto &c : cases) {
    SCOPED_TRACE(std::to_string(c.audio) + " audio " + std::to_string(c.image) + " image " +
                 std::to_string(c.video) + " video");
    ASSERT_EQ(lm_queue_clear(context_), LM_NMC_OK);
    int n = 0;
    for (int i = 0; i < c.audio; ++i) queue_url(n++, kAudio);
    for (int i = 0; i < c.image; ++i) queue_url(n++, kImage);
    for (int i = 0; i < c.video; ++i) queue_url(n++, kVideo);
    const std::string text = export_text();
    if (n == 0) {
      EXPECT_EQ(text, "") << "an empty queue: only the end call";
      continue;
    }
    EXPECT_NE(text.find("<meta name=\"Type\" content=\"" + std::string(c.type) + "\""), std::string::npos) << text;
  }
}

// The import's own checks, one feed per row; entries are counted after each.
TEST_F(QueueWpl, ImportChecksLengthsSizesAndItemKinds) {
  auto wpl = [](const std::string &items) {
    return "<?wpl version=\"1.0\"?><smil><head><title>t</title></head><body><seq>" + items + "</seq></body></smil>";
  };
  const std::string meta = nmc_test::xml_escape(didl("M & M", kAudio, "http://127.0.0.1:9/m"));
  const std::string http_item = "<media src=\"http://127.0.0.1:9/m?x=1&amp;y=2\" metadata=\"" + meta + "\"/>";
  const std::string ftp_item = "<media src=\"ftp://127.0.0.1/x\"/>";
  const struct {
    const char *name;
    std::string text;
    bool set_length;
    uint32_t overlong;
    size_t endless;
    uint32_t result;
    size_t added;
  } cases[] = {
      {"nothing delivered", "", true, 0, 0, LM_NMC_OK, 0},
      {"length left alone once the text is out", wpl(http_item), false, 0, 0, LM_NMC_OK, 1},
      {"a count above the chunk size", wpl(http_item), true, 1025, 0, LM_NMC_BUFFER_TOO_SMALL, 0},
      {"a text above the bound", "", true, 0, 1024, LM_NMC_BUFFER_TOO_SMALL, 0},
      {"not XML", "not xml at all", true, 0, 0, UPNP_WPL_FAILED, 0},
      {"no title", "<smil><body><seq><media src=\"http://127.0.0.1:9/m\"/></seq></body></smil>", true, 0, 0,
       UPNP_WPL_FAILED, 0},
      {"a playlist without items", wpl(""), true, 0, 0, LM_NMC_OK, 0},
      {"URL then neither kind: the last result", wpl(http_item + ftp_item), true, 0, 0, LM_NMC_INVALID_PARAMETER, 1},
      {"neither kind then URL", wpl(ftp_item + http_item), true, 0, 0, LM_NMC_OK, 1},
      {"an unknown server", wpl("<media src=\"x\" bookmark=\"uuid:gone,7\"/>"), true, 0, 0, LM_NMC_OK, 1},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(lm_queue_clear(context_), LM_NMC_OK);
    ImportFeed feed;
    feed.text = c.text;
    feed.piece = 300;
    feed.set_length = c.set_length;
    feed.overlong = c.overlong;
    feed.endless = c.endless;
    ASSERT_EQ(lm_dmrcp_import_queue(context_, &feed, 0, 1024, ImportFeed::callback), LM_NMC_OK);
    ASSERT_TRUE(feed.wait_final(20000));
    std::lock_guard<std::mutex> hold(feed.mutex);
    EXPECT_EQ(feed.final_calls, 1);
    EXPECT_EQ(feed.result, c.result);
    EXPECT_EQ(entries().size(), c.added);
  }
  ASSERT_EQ(lm_queue_clear(context_), LM_NMC_OK);
  EXPECT_EQ(import_text(wpl(http_item)), LM_NMC_OK);
  ASSERT_EQ(entries().size(), 1u);
  EXPECT_EQ(entries()[0].url, "http://127.0.0.1:9/m?x=1&y=2");
  EXPECT_EQ(entries()[0].metadata, didl("M & M", kAudio, "http://127.0.0.1:9/m")) << "the metadata attribute";
}

// An application playlist titled like the queue (and of the export's type)
// is neither filled nor deleted, and concurrent exports each get the whole
// queue.
TEST_F(QueueWpl, TransfersUsePrivatePlaylistsAndConcurrentExportsNeverMeet) {
  std::vector<uint32_t> mine;
  for (int type : {UPNP_WPL_TYPE_MIXED, UPNP_WPL_TYPE_MUSIC}) {
    uint32_t handle = 0;
    ASSERT_EQ(upnp_wpl_create_playlist(kRendererUdn, type, UPNP_WPL_SOURCE_FILE, "app", nullptr, &handle), 0);
    upnp_wpl_item *item = upnp_wpl_create_item("keep.mp3");
    ASSERT_EQ(upnp_wpl_add_item(handle, item), 0);
    mine.push_back(handle);
  }
  for (int i = 0; i < 12; ++i) queue_url(i);
  const std::string single = export_text();
  constexpr int kExports = 4;
  ExportSink sinks[kExports];
  for (ExportSink &sink : sinks)
    ASSERT_EQ(lm_dmrcp_export_queue(context_, &sink, 0, 512, ExportSink::callback), LM_NMC_OK);
  for (ExportSink &sink : sinks) {
    ASSERT_TRUE(sink.wait_end(10000));
    std::lock_guard<std::mutex> hold(sink.mutex);
    EXPECT_TRUE(sink.text == single) << sink.text.size() << " bytes instead of " << single.size();
  }
  ASSERT_EQ(lm_queue_clear(context_), LM_NMC_OK);
  EXPECT_EQ(import_text(single), LM_NMC_OK);
  EXPECT_EQ(entries().size(), 12u);
  EXPECT_EQ(single.find("keep.mp3"), std::string::npos);
  for (uint32_t handle : mine) {
    uint32_t count = 0;
    ASSERT_EQ(upnp_wpl_get_playlist_properties(handle, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count),
              0);
    EXPECT_EQ(count, 1u) << "the application's playlist keeps its one item";
    upnp_wpl_item *kept = upnp_wpl_get_item_by_track(handle, 0);
    ASSERT_NE(kept, nullptr);
    EXPECT_STREQ(kept->src, "keep.mp3");
    upnp_wpl_free_item(kept);
  }
}

TEST_F(QueueWpl, BadArgumentsAreAnsweredWithoutAThread) {
  ImportFeed feed;
  ExportSink sink;
  const struct {
    const char *name;
    uint32_t context, format;
    bool callback;
    uint32_t result;
  } cases[] = {
      {"no callback", context_, 0, false, LM_NMC_INVALID_PARAMETER},
      {"format 1", context_, 1, true, LM_NMC_INVALID_PARAMETER},
      {"no such context", 0x1FFF0, 0, true, LM_NMC_INVALID_INDEX},
      {"a server context", server_context_, 0, true, LM_NMC_INVALID_INDEX},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(lm_dmrcp_import_queue(c.context, &feed, c.format, 0, c.callback ? ImportFeed::callback : nullptr),
              c.result);
    EXPECT_EQ(lm_dmrcp_export_queue(c.context, &sink, c.format, 0, c.callback ? ExportSink::callback : nullptr),
              c.result);
  }
  EXPECT_FALSE(feed.wait_final(200));
  EXPECT_FALSE(sink.wait_end(10));
  EXPECT_EQ(nmc_wpl_transfers_running(), 0u);
}

// Imports that never end fill the slots; one more is refused; the stop ends
// them all with 11, each with its final call.
TEST_F(QueueWpl, RunningTransfersAreCappedAndEndWithTheStop) {
  std::vector<std::unique_ptr<ImportFeed>> feeds;
  for (unsigned i = 0; i < LM_DMRCP_WPL_MAX_ACTIVE; ++i) {
    feeds.push_back(std::make_unique<ImportFeed>());
    feeds.back()->endless = 10;
    feeds.back()->delay_ms = 20;
    ASSERT_EQ(lm_dmrcp_import_queue(context_, feeds.back().get(), 0, 0, ImportFeed::callback), LM_NMC_OK);
  }
  ImportFeed refused;
  EXPECT_EQ(lm_dmrcp_import_queue(context_, &refused, 0, 0, ImportFeed::callback), LM_NMC_NO_FREE_CONTEXT);
  ASSERT_TRUE(stop_and_wait());
  for (auto &feed : feeds) {
    std::lock_guard<std::mutex> hold(feed->mutex);
    EXPECT_EQ(feed->final_calls, 1);
    EXPECT_EQ(feed->result, LM_NMC_GOING_DOWN);
  }
  EXPECT_EQ(refused.final_calls, 0);
  EXPECT_EQ(nmc_wpl_transfers_running(), 0u);
}

}  // namespace
}  // namespace queue_wpl
