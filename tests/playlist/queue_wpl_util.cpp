#include "queue_wpl_util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "cp/upnp_cp.h"
#include "nmc/lm_dmrcp.h"
#include "nmc/lm_dmscp.h"
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

bool ExportSink::wait_end(int ms) {
  std::unique_lock<std::mutex> hold(mutex);
  return changed.wait_for(hold, std::chrono::milliseconds(ms), [this] {
    return end_calls > 0 || (stop_at_chunk >= 0 && static_cast<int>(chunks.size()) > stop_at_chunk);
  });
}

int ExportSink::callback(uint32_t, void **user_data, const char *queue, const char *data, uint32_t count) {
  auto *s = static_cast<ExportSink *>(*user_data);
  std::lock_guard<std::mutex> hold(s->mutex);
  s->queue = queue != nullptr ? queue : "<null>";
  if (data == nullptr) {
    ++s->end_calls;
  } else {
    s->chunks.push_back(count);
    s->text.append(data, count);
  }
  s->changed.notify_all();
  return static_cast<int>(s->chunks.size()) - 1 == s->stop_at_chunk ? 0 : 1;
}

bool ImportFeed::wait_final(int ms) {
  std::unique_lock<std::mutex> hold(mutex);
  return changed.wait_for(hold, std::chrono::milliseconds(ms), [this] { return final_calls > 0; });
}

int ImportFeed::callback(uint32_t, void **user_data, uint32_t size, char *buffer, uint32_t *length) {
  auto *f = static_cast<ImportFeed *>(*user_data);
  if (f->delay_ms > 0 && buffer != nullptr) std::this_thread::sleep_for(std::chrono::milliseconds(f->delay_ms));
  std::lock_guard<std::mutex> hold(f->mutex);
  if (buffer == nullptr) {
    ++f->final_calls;
    f->result = size;
    f->changed.notify_all();
    return 0;
  }
  if (f->overlong > 0) {
    *length = f->overlong;
    return 0;
  }
  if (f->endless > 0) {
    const size_t n = std::min<size_t>(f->endless, size);
    std::memset(buffer, ' ', n);
    *length = static_cast<uint32_t>(n);
    return 1;
  }
  const size_t n = std::min<size_t>({f->piece, size, f->text.size() - f->position});
  std::memcpy(buffer, f->text.data() + f->position, n);
  f->position += n;
  if (!f->set_length) {
    if (n > 0) *length = static_cast<uint32_t>(n);
    return 1;
  }
  *length = static_cast<uint32_t>(n);
  return f->position < f->text.size() ? 1 : 0;
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

std::vector<Entry> QueueWplTest::entries() {
  std::vector<Entry> out;
  std::lock_guard<std::recursive_mutex> hold(queue_->lock);
  for (const nmc_queue_entry &e : queue_->entries)
    out.push_back({e.bookmark, e.server_udn, e.object_id, e.url, e.metadata});
  return out;
}

std::string QueueWplTest::export_text(uint32_t chunk, ExportSink *sink) {
  ExportSink own;
  if (sink == nullptr) sink = &own;
  EXPECT_EQ(lm_dmrcp_export_queue(context_, sink, LM_DMRCP_WPL_FORMAT, chunk, ExportSink::callback), LM_NMC_OK);
  EXPECT_TRUE(sink->wait_end(10000));
  std::lock_guard<std::mutex> hold(sink->mutex);
  return sink->text;
}

uint32_t QueueWplTest::import_text(const std::string &text, uint32_t piece, uint32_t chunk) {
  ImportFeed feed;
  feed.text = text;
  feed.piece = piece;
  EXPECT_EQ(lm_dmrcp_import_queue(context_, &feed, LM_DMRCP_WPL_FORMAT, chunk, ImportFeed::callback), LM_NMC_OK);
  EXPECT_TRUE(feed.wait_final(10000));
  std::lock_guard<std::mutex> hold(feed.mutex);
  EXPECT_EQ(feed.final_calls, 1);
  return feed.result;
}

}  // namespace queue_wpl
