// The terminal mode's "upload FILE [sN]": a local file into a media server
// through the controller's exported lm_dmscp_upload, with progress lines
// (bytes, rate, time left) about once a second while the body goes, and
// Ctrl-C cancelling it (the next block aborts the transfer).
#ifndef KESTREL_HOST_UPLOAD_H
#define KESTREL_HOST_UPLOAD_H

#include <cstdint>
#include <functional>
#include <string>

#include "host_browse.h"
#include "host_load.h"
#include "host_nmc_api.h"

namespace host {

// Words for an upload's final result: "done", "cancelled", the HTTP status
// or the controller's code.
std::string upload_result_words(uint32_t result);

class Uploader {
 public:
  using Print = Browser::Print;
  // wait: called on the main thread while the transfer runs, for about
  // 100 ms each (serves the component's events); answers true once a stop
  // (Ctrl-C) arrived since the last call.
  Uploader(const Library &lib, const NmcApi *api, Print print, std::function<bool()> wait);
  ~Uploader();
  Uploader(const Uploader &) = delete;
  Uploader &operator=(const Uploader &) = delete;

  // Uploads path into the server named by its bookmark (label for the
  // words); returns once the transfer ended. True when the server took it.
  bool upload(const std::string &path, const std::string &server, const std::string &label);
  void set_block_size(uint32_t size) { block_size_ = size; }
  void set_progress_ms(int ms) { progress_ms_ = ms; }

 private:
  void *lib_;
  const NmcApi *api_;
  Print print_;
  std::function<bool()> wait_;
  uint32_t context_ = 0;
  bool have_context_ = false;
  uint32_t block_size_ = 16 * 1024;
  int progress_ms_ = 1000;
};

}  // namespace host

#endif
