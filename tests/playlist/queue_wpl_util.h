// Test support of the queue import and export and the downloads by key: a
// recorder of the transfer callbacks, queue entries as compared after a
// round trip, and a controller with a crafted renderer (its queue) and a
// crafted ContentDirectory on 127.0.0.1.
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

// DIDL-Lite of one item with one res.
std::string didl(const std::string &title, const std::string &upnp_class, const std::string &url,
                 const std::string &mime = "audio/mpeg");

// What the callbacks of an export, an import or a download saw (an import
// feeds `data`).
struct Recorder {
  std::mutex mutex;
  std::condition_variable changed;
  std::string data, queue, url;
  std::vector<uint32_t> chunks;
  int ends = 0;          // end, final calls
  uint32_t result = 999;
  int stop_at = -1;      // export: answers 0 at this chunk
  // Import feeding: pieces of `piece` bytes; an `overlong` count as the last
  // piece; without set_length the length is written only for bytes and
  // more always follows; `endless` filler bytes per call for ever.
  size_t position = 0;
  uint32_t piece = 1000, overlong = 0;
  bool set_length = true;
  size_t endless = 0;
  int delay_ms = 0;
  // Until the end call (or the stopping chunk); false after ms.
  bool wait(int ms);
  static int exported(uint32_t, void **user, const char *queue, const char *data, uint32_t count);
  static int imported(uint32_t, void **user, uint32_t size, char *buffer, uint32_t *length);
  static int downloaded(uint32_t, void **user, const char *url, const char *buffer, uint32_t count);
};

struct Entry {
  std::string bookmark, udn, object_id, url, metadata;
  bool operator==(const Entry &o) const {
    return bookmark == o.bookmark && udn == o.udn && object_id == o.object_id && url == o.url &&
           metadata == o.metadata;
  }
};
std::vector<Entry> entries(const nmc_queue_ref &queue);

class QueueWplTest : public nmc_test::NmcTest {
 protected:
  static constexpr const char *kRendererUdn = "uuid:wpl-renderer-0001";
  static constexpr const char *kServerUdn = "uuid:wpl-server-0001";
  void SetUp() override;
  void TearDown() override;
  // Exports the queue and waits for the end call: the text.
  std::string export_text(uint32_t chunk = 0, Recorder *sink = nullptr);
  // Imports the text and waits for the one final call: its result.
  uint32_t import_text(const std::string &text);

  std::unique_ptr<nmc_test::CraftedRenderer> renderer_;
  std::unique_ptr<nmc_test::CdsServer> server_;
  nmc_queue_ref queue_;
  uint32_t context_ = 0;  // a renderer context on the crafted renderer
  uint32_t server_context_ = 0;
};

}  // namespace queue_wpl

#endif
