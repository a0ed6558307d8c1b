// Test support of the queue import and export and the downloads by key: a
// controller with a crafted renderer (its queue) and a crafted
// ContentDirectory on 127.0.0.1, and recorders of the callbacks.
#ifndef TESTS_PLAYLIST_QUEUE_WPL_UTIL_H
#define TESTS_PLAYLIST_QUEUE_WPL_UTIL_H

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "nmc/lm_nmc_queue.h"
#include "nmc_dmr_crafted.h"
#include "nmc_dms_server.h"
#include "nmc_test_util.h"

namespace queue_wpl {

constexpr const char *kRendererUdn = "uuid:wpl-renderer-0001";
constexpr const char *kServerUdn = "uuid:wpl-server-0001";

// DIDL-Lite of one item with one res.
std::string didl(const std::string &title, const std::string &upnp_class, const std::string &url,
                 const std::string &mime = "audio/mpeg");

// What an export handed out.
struct ExportSink {
  std::mutex mutex;
  std::condition_variable changed;
  std::string text, queue;
  std::vector<uint32_t> chunks;
  int end_calls = 0;
  int stop_at_chunk = -1;  // answers 0 at this chunk
  bool wait_end(int ms);
  static int callback(uint32_t context, void **user_data, const char *queue, const char *data, uint32_t count);
};

// The text an import pulls, piece by piece.
struct ImportFeed {
  std::mutex mutex;
  std::condition_variable changed;
  std::string text;
  size_t position = 0;
  uint32_t piece = 1000;       // bytes per call (at most the chunk size asked for)
  uint32_t overlong = 0;       // a count above the chunk size, as the last piece
  bool set_length = true;      // false: writes the length only for bytes, and always says more follows
  size_t endless = 0;          // > 0: delivers this many filler bytes per call forever
  int delay_ms = 0;            // sleep per data call
  int final_calls = 0;
  uint32_t result = 999;
  bool wait_final(int ms);
  static int callback(uint32_t context, void **user_data, uint32_t size, char *buffer, uint32_t *length);
};

// One queue entry, as compared after a round trip.
struct Entry {
  std::string bookmark, udn, object_id, url, metadata;
  bool operator==(const Entry &o) const {
    return bookmark == o.bookmark && udn == o.udn && object_id == o.object_id && url == o.url &&
           metadata == o.metadata;
  }
};

class QueueWplTest : public nmc_test::NmcTest {
 protected:
  void SetUp() override;
  void TearDown() override;
  std::vector<Entry> entries();
  // Exports the queue (chunk size as given) and waits for the end call.
  std::string export_text(uint32_t chunk = 0, ExportSink *sink = nullptr);
  // Imports the text in pieces and waits for the final call: its result.
  uint32_t import_text(const std::string &text, uint32_t piece = 700, uint32_t chunk = 1024);

  std::unique_ptr<nmc_test::CraftedRenderer> renderer_;
  std::unique_ptr<nmc_test::CdsServer> server_;
  nmc_queue_ref queue_;
  uint32_t context_ = 0;  // a renderer context on the crafted renderer
  uint32_t server_context_ = 0;
};

}  // namespace queue_wpl

#endif
