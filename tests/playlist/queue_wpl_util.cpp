#include "queue_wpl_util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "cp/upnp_cp.h"
#include "nmc/lm_dmrcp.h"
#include "nmc/lm_nmc.h"
#include "nmc/lm_nmc_devices.h"
#include "nmc/lm_nmc_notify.h"
#include "playlist/lm_dmrcp_wpl.h"
#include "support_wait.h"

namespace queue_wpl {

std::string didl(const std::string &title, const std::string &upnp_class, const std::string &url,
                 const std::string &mime) {
  return "<DIDL-Lite xmlns=\"urn:schemas-upnp-org:metadata-1-0/DIDL-Lite/\" "
         "xmlns:dc=\"http://purl.org/dc/elements/1.1/\" xmlns:upnp=\"urn:schemas-upnp-org:metadata-1-0/upnp/\">"
         "<item id=\"1\" parentID=\"0\" restricted=\"1\"><dc:title>" +
         nmc_test::xml_escape(title) + "</dc:title><upnp:class>" + upnp_class +
         "</upnp:class><res protocolInfo=\"http-get:*:" + mime + ":*\">" + nmc_test::xml_escape(url) +
         "</res></item></DIDL-Lite>";
}

bool Recorder::wait(int ms) {
  std::unique_lock<std::mutex> hold(mutex);
  return changed.wait_for(hold, std::chrono::milliseconds(ms), [this] {
    return ends > 0 || (stop_at >= 0 && static_cast<int>(chunks.size()) > stop_at);
  });
}

int Recorder::exported(uint32_t, void **user, const char *queue, const char *data, uint32_t count) {
  auto *r = static_cast<Recorder *>(*user);
  std::lock_guard<std::mutex> hold(r->mutex);
  r->queue = queue != nullptr ? queue : "<null>";
  if (data == nullptr) {
    ++r->ends;
  } else {
    r->chunks.push_back(count);
    r->data.append(data, count);
  }
  r->changed.notify_all();
  return static_cast<int>(r->chunks.size()) - 1 == r->stop_at ? 0 : 1;
}

int Recorder::imported(uint32_t, void **user, uint32_t size, char *buffer, uint32_t *length) {
  auto *r = static_cast<Recorder *>(*user);
  if (r->delay_ms > 0 && buffer != nullptr) std::this_thread::sleep_for(std::chrono::milliseconds(r->delay_ms));
  std::lock_guard<std::mutex> hold(r->mutex);
  if (buffer == nullptr) {
    ++r->ends;
    r->result = size;
    r->changed.notify_all();
    return 0;
  }
  if (r->overlong > 0 || r->endless > 0) {
    *length = r->overlong > 0 ? r->overlong : static_cast<uint32_t>(std::min<size_t>(r->endless, size));
    std::memset(buffer, ' ', std::min<size_t>(*length, size));
    return r->overlong > 0 ? 0 : 1;
  }
  const size_t n = std::min<size_t>({r->piece, size, r->data.size() - r->position});
  r->data.copy(buffer, n, r->position);
  r->position += n;
  if (r->set_length || n > 0) *length = static_cast<uint32_t>(n);
  return !r->set_length || r->position < r->data.size() ? 1 : 0;
}

int Recorder::downloaded(uint32_t, void **user, const char *url, const char *buffer, uint32_t count) {
  auto *r = static_cast<Recorder *>(*user);
  std::lock_guard<std::mutex> hold(r->mutex);
  r->url = url;
  if (buffer == nullptr) {
    ++r->ends;
    r->result = count;
  } else {
    r->data.append(buffer, count);
  }
  r->changed.notify_all();
  return 1;
}

std::vector<Entry> entries(const nmc_queue_ref &queue) {
  std::vector<Entry> out;
  std::lock_guard<std::recursive_mutex> hold(queue->lock);
  for (const nmc_queue_entry &e : queue->entries)
    out.push_back({e.bookmark, e.server_udn, e.object_id, e.url, e.metadata});
  return out;
}

void QueueWplTest::SetUp() {
  NmcTest::SetUp();
  nmc_notifiers_set_start_delay(0);
  ASSERT_EQ(start(), 1);
  server_ = std::make_unique<nmc_test::CdsServer>(kServerUdn, "WPL Server");
  nmc_test::CraftedRendererSetup setup;
  setup.udn = kRendererUdn;
  setup.name = "WPL Renderer";
  renderer_ = std::make_unique<nmc_test::CraftedRenderer>(setup);
  renderer_->answer("GetTransportInfo", nmc_test::transport_info("STOPPED"));
  upnp_control_add_device(server_->description_url().c_str(), kServerUdn, "127.0.0.1:9000", 1800, 1);
  upnp_control_add_device(renderer_->location().c_str(), kRendererUdn, "127.0.0.1:9000", 1800, 2);
  ASSERT_TRUE(test_support::wait_until(
      [&] { return nmc_devices_find_udn(NMC_SIDE_SERVER, kServerUdn, nullptr); }, 5000));
  ASSERT_TRUE(test_support::wait_until([&] { return (queue_ = nmc_queue_find(kRendererUdn)) != nullptr; }, 5000));
  ASSERT_EQ(lm_dmrcp_create_context(&context_), LM_NMC_OK);
  ASSERT_EQ(lm_dmrcp_go_bookmark(context_, kRendererUdn), LM_NMC_OK);
  ASSERT_EQ(lm_dmscp_create_context(&server_context_), LM_NMC_OK);
}

void QueueWplTest::TearDown() {
  queue_.reset();
  NmcTest::TearDown();
  renderer_.reset();
  server_.reset();
}

std::string QueueWplTest::export_text(uint32_t chunk, Recorder *sink) {
  Recorder own;
  if (sink == nullptr) sink = &own;
  EXPECT_EQ(lm_dmrcp_export_queue(context_, sink, LM_DMRCP_WPL_FORMAT, chunk, Recorder::exported), LM_NMC_OK);
  EXPECT_TRUE(sink->wait(10000));
  std::lock_guard<std::mutex> hold(sink->mutex);
  return sink->data;
}

uint32_t QueueWplTest::import_text(const std::string &text) {
  Recorder feed;
  feed.data = text;
  feed.piece = 700;
  EXPECT_EQ(lm_dmrcp_import_queue(context_, &feed, LM_DMRCP_WPL_FORMAT, 1024, Recorder::imported), LM_NMC_OK);
  EXPECT_TRUE(feed.wait(10000));
  std::lock_guard<std::mutex> hold(feed.mutex);
  EXPECT_EQ(feed.ends, 1);
  return feed.result;
}

}  // namespace queue_wpl
