// Uploads from the terminal mode, with progress and cancel.
#include "host_upload.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>

#include "host_format.h"

namespace host {

namespace {

using UploadFn = uint32_t (*)(uint32_t, void *, const char *, const char *, uint32_t,
                              int (*)(uint32_t, void **, uint32_t, char *, uint32_t *), uint32_t, char *, uint64_t);
const uint32_t kAbort = 0xFFFFFFFFu;

// What the transfer thread and the terminal share. The file is read only
// by the transfer thread once the upload started; the counters and flags
// cross threads as atomics. Freed by the terminal after the final call.
struct Transfer {
  FILE *file = nullptr;
  std::atomic<uint64_t> sent{0};
  std::atomic<bool> cancel{false};
  std::atomic<bool> finished{false};
  std::atomic<uint32_t> result{0};
  ~Transfer() {
    if (file != nullptr) std::fclose(file);
  }
};

int feed(uint32_t, void **user, uint32_t size, char *buffer, uint32_t *length) {
  Transfer *t = static_cast<Transfer *>(*user);
  if (buffer == nullptr) {  // the final call: size is the result
    t->result.store(size);
    t->finished.store(true);
    return 0;
  }
  if (t->cancel.load()) {
    *length = kAbort;
    return 0;
  }
  size_t n = std::fread(buffer, 1, size, t->file);
  *length = static_cast<uint32_t>(n);
  t->sent.fetch_add(n);
  return n == size ? 1 : 0;  // a short read is the last block
}

std::string base_name(const std::string &path) {
  size_t slash = path.rfind('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  size_t dot = name.rfind('.');
  return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

}  // namespace

std::string upload_result_words(uint32_t result) {
  switch (result) {
    case 0: return "done";
    case 20: return "cancelled";
    case 10: return "a block was larger than asked (code 10)";
    case 11: return "the controller stopped (code 11)";
    case 23: return "the connection to the server was lost (code 23)";
    case 24: return "the server gave no final answer (code 24)";
    default: break;
  }
  if (result >= 100 && result < 600) return "the server answered HTTP " + std::to_string(result);
  return nmc_result_words(result);
}

Uploader::Uploader(const Library &lib, const NmcApi *api, Print print, std::function<bool()> wait)
    : lib_(lib.handle), api_(api), print_(std::move(print)), wait_(std::move(wait)) {}

Uploader::~Uploader() {
  if (have_context_) api_->dms_delete(context_);
}

bool Uploader::upload(const std::string &path, const std::string &server, const std::string &label) {
  auto fn = lib_ != nullptr ? reinterpret_cast<UploadFn>(dlsym(lib_, "lm_dmscp_upload")) : nullptr;
  if (fn == nullptr || api_ == nullptr) {
    print_("error", "upload: this library does not offer it (no lm_dmscp_upload)");
    return false;
  }
  struct stat st {};
  if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    print_("error", "upload: \"" + path + "\" is no file that can be read");
    return false;
  }
  const std::string mime = item_mime(path, "");
  if (mime.empty()) {
    print_("error", "upload: the format of \"" + path + "\" is not known by its extension (.mp3, .jpg, .mp4, ...)");
    return false;
  }
  auto t = std::make_unique<Transfer>();
  t->file = std::fopen(path.c_str(), "rbe");
  if (t->file == nullptr) {
    print_("error", "upload: \"" + path + "\" cannot be opened");
    return false;
  }
  if (!have_context_) {
    uint32_t rc = api_->dms_create(&context_);
    if (rc != 0) {
      print_("error", "upload: no server context: " + nmc_result_words(rc));
      return false;
    }
    have_context_ = true;
  }
  uint32_t rc = api_->dms_go_bookmark(context_, server.c_str());
  if (rc != 0) {
    print_("error", "upload to " + label + " failed: the server cannot be reached: " + nmc_result_words(rc));
    return false;
  }
  const uint64_t total = static_cast<uint64_t>(st.st_size);
  const std::string title = base_name(path);
  const std::string protocol = "http-get:*:" + mime + ":*";
  char bookmark[1024] = "";
  print_("upload", "sending \"" + title + "\" (" + mime + ", " + std::to_string(total) + " bytes) to " + label +
                       " (Ctrl-C cancels)");
  auto start = std::chrono::steady_clock::now();
  rc = fn(context_, t.get(), title.c_str(), protocol.c_str(), block_size_, feed, sizeof bookmark, bookmark, total);
  if (rc != 0) {
    print_("error", "upload to " + label + " refused: " + upload_result_words(rc));
    return false;
  }
  auto next = start + std::chrono::milliseconds(progress_ms_);
  bool told_cancel = false;
  bool told_sent = false;
  while (!t->finished.load()) {
    if (wait_() && !told_cancel) {
      t->cancel.store(true);
      told_cancel = true;
      print_("upload", "cancelling (the next block ends the transfer)");
    }
    auto now = std::chrono::steady_clock::now();
    double seconds = std::chrono::duration<double>(now - start).count();
    uint64_t sent = t->sent.load();
    if (sent >= total && !told_sent && !t->finished.load()) {
      told_sent = true;
      char at[32];
      std::snprintf(at, sizeof at, "%.1f", seconds);
      print_("progress", "upload: all " + std::to_string(total) + " bytes sent in " + at +
                             " s; waiting for the server's answer");
    } else if (now >= next && sent < total && !t->finished.load()) {
      next = now + std::chrono::milliseconds(progress_ms_);
      // Counted in KiB once the bytes no longer fit the progress counters.
      const uint64_t scale = total > 0xFFFFFFFFull ? 1024 : 1;
      print_("progress", "upload " +
                             progress_words(static_cast<uint32_t>(sent / scale), static_cast<uint32_t>(total / scale),
                                            seconds, scale == 1 ? "bytes" : "KiB"));
    }
  }
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  uint32_t result = t->result.load();
  char took[32];
  std::snprintf(took, sizeof took, "%.1f", seconds);
  const std::string what = "upload of \"" + title + "\" to " + label;
  const std::string sent = std::to_string(t->sent.load()) + " of " + std::to_string(total) + " bytes";
  if (result == 20) {
    print_("upload", what + " cancelled after " + sent);
    return false;
  }
  if (result != 0) {
    print_("error", what + " failed after " + sent + ": " + upload_result_words(result));
    return false;
  }
  print_("upload", "done: \"" + title + "\", " + std::to_string(total) + " bytes in " + took + " s to " + label +
                       (bookmark[0] != '\0' ? std::string(" (bookmark ") + bookmark + ")" : ""));
  return true;
}

}  // namespace host
