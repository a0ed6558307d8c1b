// Renderer queues written out as WPL text and read back, against a crafted
// renderer and a crafted ContentDirectory on 127.0.0.1: round trips,
// paging, chunking, playlist types, the import's checks, private playlist
// records, argument checks, the cap and the controller's stop; downloads by
// key from a server context (whole, or refused before any request).
#include <gtest/gtest.h>

#include <thread>

#include "http_test_server.h"
#include "nmc/lm_dmscp.h"
#include "nmc/lm_queue.h"
#include "playlist/lm_dmrcp_wpl.h"
#include "playlist/lm_dmrcp_wpl_internal.h"
#include "playlist/lm_nmc_download.h"
#include "playlist/upnp_wpl.h"
#include "queue_wpl_util.h"

namespace queue_wpl {
namespace {

const char *const kAudio = "object.item.audioItem.musicTrack";
std::string url_of(int n) { return "http://127.0.0.1:9/u" + std::to_string(n) + ".mp3?a=1&b=" + std::to_string(n); }
std::string wpl(const std::string &items) {
  return "<?wpl version=\"1.0\"?><smil><head><title>t</title></head><body><seq>" + items + "</seq></body></smil>";
}

class QueueWpl : public QueueWplTest {
 protected:
  void queue_object(const std::string &id) {
    server_->add({id, "0", id + " & co", false, kAudio,
                  "<res protocolInfo=\"http-get:*:audio/mpeg:*\">http://127.0.0.1:9/obj/" + id + "</res>"});
    ASSERT_EQ(lm_queue_add_bookmark(context_, (std::string(kServerUdn) + "," + id).c_str()), LM_NMC_OK);
  }
  void queue_url(int n, const char *upnp_class = kAudio) {
    const std::string meta = didl("Song <" + std::to_string(n) + "> & more", upnp_class, url_of(n));
    ASSERT_EQ(lm_queue_add_metadata(context_, url_of(n).c_str(), meta.c_str()), LM_NMC_OK);
  }
};

TEST_F(QueueWpl, MixedQueueRoundTripKeepsEveryEntryInOrder) {
  for (int i = 0; i < 13; ++i) i % 3 == 0 ? queue_object("obj" + std::to_string(i)) : queue_url(i);
  const std::vector<Entry> before = entries(queue_);
  const std::string text = export_text();
  EXPECT_NE(text.find("<meta name=\"ItemCount\" content=\"13\""), std::string::npos) << text;
  EXPECT_NE(text.find("<title>" + std::string(kRendererUdn) + "</title>"), std::string::npos);
  EXPECT_NE(text.find("src=\"http://127.0.0.1:9/obj/obj0\""), std::string::npos) << "a server object's location";
  ASSERT_EQ(lm_queue_clear(context_), LM_NMC_OK);
  EXPECT_EQ(import_text(text), LM_NMC_OK);
  EXPECT_EQ(entries(queue_), before);
}

TEST_F(QueueWpl, PagingChunkingAndTheEndCall) {
  for (int i = 0; i < 25; ++i) queue_url(i);
  const std::string whole = export_text();
  for (int i = 0; i < 25; ++i) EXPECT_NE(whole.find(nmc_test::xml_escape(url_of(i))), std::string::npos) << i;
  const struct {
    uint32_t chunk;
    int stop_at;
  } cases[] = {{100, -1}, {1, -1}, {static_cast<uint32_t>(whole.size()), -1}, {100, 2}};
  for (const auto &c : cases) {
    SCOPED_TRACE("chunk " + std::to_string(c.chunk) + " stop " + std::to_string(c.stop_at));
    Recorder sink;
    sink.stop_at = c.stop_at;
    export_text(c.chunk, &sink);
    if (c.stop_at >= 0) std::this_thread::sleep_for(std::chrono::milliseconds(200));
    std::lock_guard<std::mutex> hold(sink.mutex);
    EXPECT_EQ(sink.queue, "<QueueID>" + std::string(kRendererUdn) + "</QueueID>");
    EXPECT_EQ(sink.ends, c.stop_at >= 0 ? 0 : 1) << "no end call after the callback stopped";
    EXPECT_EQ(sink.data, whole.substr(0, c.stop_at >= 0 ? 300 : whole.size()));
    for (size_t i = 0; i + 1 < sink.chunks.size(); ++i) EXPECT_EQ(sink.chunks[i], c.chunk) << "full chunks first";
  }
}

TEST_F(QueueWpl, PlaylistTypeFollowsTheKindsOfTheEntries) {
  const struct {
    int audio, image, video;
    const char *type;
  } cases[] = {{2, 2, 0, "M"}, {0, 1, 2, "V"}, {0, 2, 1, "P"}, {1, 1, 1, "M"}, {0, 1, 1, "P"}, {0, 0, 0, ""}};
  for (const auto &c : cases) {
    SCOPED_TRACE(std::to_string(c.audio) + std::to_string(c.image) + std::to_string(c.video));
    ASSERT_EQ(lm_queue_clear(context_), LM_NMC_OK);
    int n = 0;
    for (int i = 0; i < c.audio; ++i) queue_url(n++, kAudio);
    for (int i = 0; i < c.image; ++i) queue_url(n++, "object.item.imageItem.photo");
    for (int i = 0; i < c.video; ++i) queue_url(n++, "object.item.videoItem");
    const std::string text = export_text();
    const std::string type = "name=\"Type\" content=\"" + std::string(c.type) + "\"";
    EXPECT_TRUE(n == 0 ? text.empty() : text.find(type) != std::string::npos) << text;
  }
}

TEST_F(QueueWpl, ImportChecksLengthsSizesAndItemKinds) {
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
      {"no title", "<smil><body><seq>" + http_item + "</seq></body></smil>", true, 0, 0, UPNP_WPL_FAILED, 0},
      {"a playlist without items", wpl(""), true, 0, 0, LM_NMC_OK, 0},
      {"URL then neither kind: the last result", wpl(http_item + ftp_item), true, 0, 0, LM_NMC_INVALID_PARAMETER, 1},
      {"neither kind then URL", wpl(ftp_item + http_item), true, 0, 0, LM_NMC_OK, 1},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(lm_queue_clear(context_), LM_NMC_OK);
    Recorder feed;
    feed.data = c.text;
    feed.piece = 300;
    feed.set_length = c.set_length;
    feed.overlong = c.overlong;
    feed.endless = c.endless;
    ASSERT_EQ(lm_dmrcp_import_queue(context_, &feed, 0, 1024, Recorder::imported), LM_NMC_OK);
    ASSERT_TRUE(feed.wait(20000));
    std::lock_guard<std::mutex> hold(feed.mutex);
    EXPECT_EQ(feed.ends, 1);
    EXPECT_EQ(feed.result, c.result);
    ASSERT_EQ(entries(queue_).size(), c.added);
    const Entry url_entry{"", "", "", "http://127.0.0.1:9/m?x=1&y=2", didl("M & M", kAudio, "http://127.0.0.1:9/m")};
    if (c.added > 0) {
      EXPECT_TRUE(entries(queue_)[0] == url_entry) << "the URL with its metadata attribute";
    }
  }
}

// Application playlists titled like the queue are neither filled, replaced
// nor deleted, and concurrent exports each get the whole queue.
TEST_F(QueueWpl, TransfersUsePrivatePlaylistsAndConcurrentExportsNeverMeet) {
  std::vector<uint32_t> mine(2);
  for (int type : {UPNP_WPL_TYPE_MIXED, UPNP_WPL_TYPE_MUSIC}) {
    ASSERT_EQ(upnp_wpl_create_playlist(kRendererUdn, type, 1, "app", nullptr, &mine[type % 2]), 0);
    ASSERT_EQ(upnp_wpl_add_item(mine[type % 2], upnp_wpl_create_item("keep.mp3")), 0);
  }
  for (int i = 0; i < 12; ++i) queue_url(i);
  const std::string single = export_text();
  Recorder sinks[4];
  for (Recorder &sink : sinks) ASSERT_EQ(lm_dmrcp_export_queue(context_, &sink, 0, 512, Recorder::exported), 0u);
  for (Recorder &sink : sinks) {
    ASSERT_TRUE(sink.wait(10000));
    std::lock_guard<std::mutex> hold(sink.mutex);
    EXPECT_TRUE(sink.data == single) << sink.data.size() << " bytes instead of " << single.size();
  }
  ASSERT_EQ(lm_queue_clear(context_), LM_NMC_OK);
  EXPECT_EQ(import_text(single), LM_NMC_OK);
  EXPECT_EQ(entries(queue_).size(), 12u);
  EXPECT_EQ(single.find("keep.mp3"), std::string::npos);
  for (uint32_t handle : mine) {
    uint32_t count = 0;
    ASSERT_EQ(upnp_wpl_get_playlist_properties(handle, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count),
              0);
    EXPECT_EQ(count, 1u) << "the application's playlist keeps its one item";
  }
}

TEST_F(QueueWpl, BadArgumentsAreAnsweredWithoutAThread) {
  Recorder feed, sink;
  const struct {
    uint32_t context, format;
    bool callback;
    uint32_t result;
  } cases[] = {{context_, 0, false, LM_NMC_INVALID_PARAMETER}, {context_, 1, true, LM_NMC_INVALID_PARAMETER},
               {0x1FFF0, 0, true, LM_NMC_INVALID_INDEX},         {server_context_, 0, true, LM_NMC_INVALID_INDEX}};
  for (const auto &c : cases) {
    EXPECT_EQ(lm_dmrcp_import_queue(c.context, &feed, c.format, 0, c.callback ? Recorder::imported : nullptr), c.result);
    EXPECT_EQ(lm_dmrcp_export_queue(c.context, &sink, c.format, 0, c.callback ? Recorder::exported : nullptr), c.result);
  }
  EXPECT_FALSE(feed.wait(200));
  EXPECT_FALSE(sink.wait(10));
  EXPECT_EQ(nmc_wpl_transfers_running(), 0u);
}

// Imports that never end fill the slots; one more is refused; the stop ends
// them all with 11, each with its one final call.
TEST_F(QueueWpl, RunningTransfersAreCappedAndEndWithTheStop) {
  std::vector<std::unique_ptr<Recorder>> feeds;
  for (unsigned i = 0; i < LM_DMRCP_WPL_MAX_ACTIVE; ++i) {
    feeds.push_back(std::make_unique<Recorder>());
    feeds.back()->endless = 10;
    feeds.back()->delay_ms = 20;
    ASSERT_EQ(lm_dmrcp_import_queue(context_, feeds.back().get(), 0, 0, Recorder::imported), LM_NMC_OK);
  }
  Recorder refused;
  EXPECT_EQ(lm_dmrcp_import_queue(context_, &refused, 0, 0, Recorder::imported), LM_NMC_NO_FREE_CONTEXT);
  ASSERT_TRUE(stop_and_wait());
  for (auto &feed : feeds) {
    std::lock_guard<std::mutex> hold(feed->mutex);
    EXPECT_EQ(feed->ends, 1);
    EXPECT_EQ(feed->result, LM_NMC_GOING_DOWN);
  }
  EXPECT_EQ(refused.ends, 0);
  EXPECT_EQ(nmc_wpl_transfers_running(), 0u);
}

// The server object's resource arrives whole (also when the key is the URL
// written "HtTp://"); an RTSP resource and other bad keys are refused
// before any request.
TEST_F(QueueWpl, DownloadsByKeyFromAServerContext) {
  CraftedResource resource;
  resource.body = patterned_body(70000);
  TestServer file(crafted_handler(resource));
  const std::string url = file.url("/");
  for (const std::string &res : {url, std::string("rtsp://127.0.0.1:1/live")}) {
    server_->add({res.substr(0, 4), "0", "t", false, kAudio,
                  "<res protocolInfo=\"http-get:*:audio/mpeg:*\">" + nmc_test::CdsServer::escape(res) + "</res>"});
  }
  const uint32_t c = server_context_;
  ASSERT_EQ(lm_dmscp_go_index(c, 0), LM_NMC_OK);
  ASSERT_EQ(lm_dmscp_go_directory(c), LM_NMC_OK);
  ASSERT_EQ(lm_dmscp_go_index(c, 1), LM_NMC_OK);
  const auto cb = Recorder::downloaded;
  Recorder refused;
  const struct {
    const char *name;
    lm_nmc_result_t result, want;
  } refusals[] = {
      {"an RTSP resource", lm_dmscp_download(c, &refused, "Resource@URI", 0, 0, cb), LM_NMC_INVALID_PARAMETER},
      {"no such occurrence", lm_dmscp_download(c, &refused, "Resource@URI", 3, 0, cb), LM_NMC_NOT_FOUND},
      {"a value that is no URL", lm_dmscp_download(c, &refused, "dc:title", 0, 0, cb), LM_NMC_INVALID_PARAMETER},
      {"no key", lm_dmscp_download(c, &refused, nullptr, 0, 0, cb), LM_NMC_INVALID_PARAMETER},
      {"no callback", lm_dmscp_download(c, &refused, "Resource@URI", 0, 0, nullptr), LM_NMC_INVALID_PARAMETER},
      {"no query", lm_nmc_download(c, &refused, nullptr, "Resource@URI", 0, 0, cb), LM_NMC_INVALID_PARAMETER},
  };
  for (const auto &k : refusals) EXPECT_EQ(k.result, k.want) << k.name;
  EXPECT_FALSE(refused.wait(200));
  EXPECT_TRUE(file.requests().empty());

  ASSERT_EQ(lm_dmscp_go_index(c, 0), LM_NMC_OK);
  const std::string capital = "HtTp" + url.substr(4);
  for (const char *key : {"Resource@URI", capital.c_str()}) {
    SCOPED_TRACE(key);
    Recorder received;
    ASSERT_EQ(lm_dmscp_download(c, &received, key, 0, 4096, cb), LM_NMC_OK);
    ASSERT_TRUE(received.wait(10000));
    std::lock_guard<std::mutex> hold(received.mutex);
    EXPECT_EQ(received.ends, 1);
    EXPECT_EQ(received.result, LM_NMC_DOWNLOAD_DONE);
    EXPECT_TRUE(received.data == resource.body) << received.data.size() << " bytes";
    EXPECT_EQ(received.url, url) << "the scheme in lower case";
  }
}

}  // namespace
}  // namespace queue_wpl
