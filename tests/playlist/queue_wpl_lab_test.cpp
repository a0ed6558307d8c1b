// Queue playlist files and downloads against the lab's peers: a queue of 30
// mixed entries on the first gmediarender (minidlna objects by bookmark, file
// server URLs with "&" and DIDL-Lite metadata) is exported as WPL text and
// imported into the second gmediarender's queue, which then holds the same
// entries and plays them; resources are downloaded by key from server,
// renderer and queue contexts, byte for byte as curl fetches them, with the
// final call 0. Run through tests/lab/lab.sh.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "cp/upnp_cp.h"
#include "cp/upnp_soap.h"
#include "cp_lab_util.h"
#include "nmc/lm_dmrcp.h"
#include "nmc/lm_dmscp.h"
#include "nmc/lm_nmc.h"
#include "nmc/lm_nmc_devices.h"
#include "nmc/lm_nmc_internal.h"
#include "nmc/lm_nmc_queue.h"
#include "nmc/lm_queue.h"
#include "nmc_test_util.h"
#include "playlist/lm_dmrcp_wpl.h"
#include "playlist/lm_nmc_download.h"
#include "queue_wpl_util.h"
#include "support_wait.h"

namespace {

using queue_wpl::Entry;
using queue_wpl::Recorder;
using queue_wpl::entries;
using test_support::wait_until;

constexpr int kObjects = 20;
constexpr int kUrls = 10;
const char *const kAudio = "object.item.audioItem.musicTrack";

// The bytes curl fetches from url (a peer of the lab), "" when it fails.
std::string curl(const std::string &url, const std::string &file) {
  const std::string command = "curl -s -f -o '" + file + "' '" + url + "'";
  if (std::system(command.c_str()) != 0) return "";
  std::ifstream in(file, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

class QueueWplLabTest : public nmc_test::NmcTest {
 protected:
  void SetUp() override {
    if (!cp_lab::inside_lab()) GTEST_SKIP() << "not inside the lab";
    if (std::atoi(cp_lab::env("LAB_RENDERERS").c_str()) < 2) GTEST_SKIP() << "needs two renderers";
    NmcTest::SetUp();
    set_up_ = true;
    nmc_set_network(1);
    ASSERT_EQ(start(), 1);
    server_udn_ = cp_lab::env("LAB_SERVER_UDN");
    nmc_device_view server;
    ASSERT_TRUE(wait_until([&] { return nmc_devices_find_udn(NMC_SIDE_SERVER, server_udn_.c_str(), &server); }, 30000));
    server_ = server.index;
    for (int i = 0; i < 2; ++i) {
      udn_[i] = cp_lab::env(i == 0 ? "LAB_RENDERER1_UDN" : "LAB_RENDERER2_UDN");
      nmc_device_view renderer;
      ASSERT_TRUE(wait_until([&] { return nmc_devices_find_udn(NMC_SIDE_RENDERER, udn_[i].c_str(), &renderer); },
                             30000));
      renderer_[i] = renderer.index;
      ASSERT_TRUE(wait_until([&] { return (queue_[i] = nmc_queue_find(udn_[i])) != nullptr; }, 5000));
      ASSERT_EQ(lm_dmrcp_create_context(&context_[i]), LM_NMC_OK);
      ASSERT_EQ(lm_dmrcp_go_bookmark(context_[i], udn_[i].c_str()), LM_NMC_OK);
      ASSERT_EQ(lm_queue_clear(context_[i]), LM_NMC_OK);
    }
  }
  void TearDown() override {
    if (!set_up_) return;
    for (int i = 0; i < 2; ++i) {
      if (renderer_[i] >= 0) upnp_stop(renderer_[i]);  // the shared lab's renderers stay stopped
      if (context_[i] != 0) lm_queue_clear(context_[i]);
      queue_[i].reset();
    }
    NmcTest::TearDown();
  }
  std::string bulk_id() {
    std::string id = "0";
    std::string path = cp_lab::env("LAB_BULK_PATH");
    for (size_t from = 0; !id.empty();) {
      size_t slash = path.find('/', from);
      std::vector<std::string> found =
          cp_lab::child_ids(server_, id, path.substr(from, slash == std::string::npos ? slash : slash - from), 1);
      id = found.empty() ? "" : found[0];
      if (slash == std::string::npos) break;
      from = slash + 1;
    }
    return id;
  }
  bool plays(int which, uint32_t index) {
    const std::string response = cp_lab::take(lm_nmc_api_query(
        ("<PlayQueue><QueueID>" + udn_[which] + "</QueueID><StartIndex>" + std::to_string(index) +
         "</StartIndex></PlayQueue>").c_str(), 1));
    EXPECT_NE(response.find("<Result code=\"0\">"), std::string::npos) << response;
    return cp_lab::wait_transport_state(renderer_[which], "PLAYING", 15) == "PLAYING";
  }

  bool set_up_ = false;
  std::string server_udn_, udn_[2];
  int server_ = -1, renderer_[2] = {-1, -1};
  uint32_t context_[2] = {0, 0};
  nmc_queue_ref queue_[2];
};

TEST_F(QueueWplLabTest, MixedQueueMovesToTheOtherRendererAndResourcesDownloadWhole) {
  const std::string bulk = bulk_id();
  ASSERT_FALSE(bulk.empty());
  const std::vector<std::string> tracks = cp_lab::child_ids(server_, bulk, "", kObjects);
  ASSERT_EQ(tracks.size(), static_cast<size_t>(kObjects));
  const std::string wav = cp_lab::http_url("media/music/tone-3s.wav");
  // Objects and URLs interleaved: two objects, then a URL.
  for (int i = 0, o = 0, u = 0; i < kObjects + kUrls; ++i) {
    if (i % 3 == 2 && u < kUrls) {
      const std::string url = wav + "?n=" + std::to_string(u) + "&x=y";
      const std::string meta = queue_wpl::didl("Tone " + std::to_string(u++) + " & <more>", kAudio, url, "audio/wav");
      ASSERT_EQ(lm_queue_add_metadata(context_[0], url.c_str(), meta.c_str()), LM_NMC_OK);
    } else {
      ASSERT_LT(o, kObjects);
      ASSERT_EQ(lm_queue_add_bookmark(context_[0], (server_udn_ + "," + tracks[o++]).c_str()), LM_NMC_OK);
    }
  }
  const std::vector<Entry> first = entries(queue_[0]);
  ASSERT_EQ(first.size(), static_cast<size_t>(kObjects + kUrls));

  Recorder exported;
  ASSERT_EQ(lm_dmrcp_export_queue(context_[0], &exported, 0, 4096, Recorder::exported), LM_NMC_OK);
  ASSERT_TRUE(exported.wait(60000));
  EXPECT_NE(exported.data.find("<meta name=\"ItemCount\" content=\"30\""), std::string::npos) << exported.data;
  EXPECT_NE(exported.data.find("<meta name=\"Type\" content=\"M\""), std::string::npos);

  Recorder imported;
  imported.data = exported.data;
  ASSERT_EQ(lm_dmrcp_import_queue(context_[1], &imported, 0, 1000, Recorder::imported), LM_NMC_OK);
  ASSERT_TRUE(imported.wait(60000));
  EXPECT_EQ(imported.result, LM_NMC_OK);
  EXPECT_EQ(entries(queue_[1]), first);

  // The moved entries play: a server object and a URL.
  EXPECT_TRUE(plays(1, 0)) << "a minidlna object";
  EXPECT_TRUE(plays(1, 2)) << "a file server URL";

  // Downloads by key: the renderer's current track, the queue entry at the
  // cursor (a minidlna object), the server object under the server cursor.
  const std::string scratch = (dir_->path() / "curl.out").string();
  ASSERT_EQ(lm_queue_go_index(context_[1], 0), LM_NMC_OK);
  uint32_t server_context = 0;
  ASSERT_EQ(lm_dmscp_create_context(&server_context), LM_NMC_OK);
  ASSERT_EQ(lm_dmscp_go_bookmark(server_context, (server_udn_ + "," + tracks[0]).c_str()), LM_NMC_OK);
  const struct {
    const char *name;
    lm_nmc_result_t (*fn)(uint32_t, void *, const char *, uint32_t, uint32_t, lm_nmc_download_callback);
    lm_nmc_metadata_query query;
    uint32_t context;
    const char *key;
  } cases[] = {{"renderer", lm_dmrcp_download, lm_dmrcp_extract_metadata, context_[1], "res"},
               {"queue", lm_queue_download, lm_queue_extract_metadata, context_[1], "res"},
               {"server", lm_dmscp_download, lm_dmscp_extract_metadata, server_context, "Resource@URI"}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    char url[2048] = "";
    ASSERT_EQ(c.query(c.context, c.key, 0, sizeof url, url), LM_NMC_OK);
    const std::string want = curl(url, scratch);
    ASSERT_FALSE(want.empty()) << url;
    Recorder done;
    ASSERT_EQ(c.fn(c.context, &done, c.key, 0, 0, Recorder::downloaded), LM_NMC_OK);
    ASSERT_TRUE(done.wait(30000));
    std::lock_guard<std::mutex> hold(done.mutex);
    EXPECT_EQ(done.ends, 1);
    EXPECT_EQ(done.result, LM_NMC_DOWNLOAD_DONE);
    EXPECT_TRUE(done.data == want) << done.data.size() << " bytes, curl " << want.size() << " from " << url;
  }
  lm_dmscp_delete_context(server_context);
}

}  // namespace
