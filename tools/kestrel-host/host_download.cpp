// Downloads from the terminal mode, with progress and cancel.
#include "host_download.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>

#include "host_nmc_api.h"

namespace host {

namespace {

using Callback = int (*)(uint32_t, void **, const char *, const char *, uint32_t);
using DownloadUri = uint32_t (*)(uint32_t, void *, const char *, const char *, uint32_t, Callback);

const uint32_t kDone = 0;
const uint32_t kStopped = 20;
// Our own result for a piece the disk did not take.
const uint32_t kWriteFailed = 0xFFFFFFFEu;

// What the receiver's thread and the terminal share. The lock guards the
// file and `closed`: the terminal closes the file on a cancel without
// waiting for the next piece (a stalled server may never send one); the
// receiver's next call then sees `closed` and stops the download. Counters
// and flags read by the terminal while pieces arrive are atomics. Both
// sides hold the record (the receiver through a heap holder it deletes
// with its last call).
struct Transfer {
  std::mutex lock;
  FILE *file = nullptr;
  bool closed = false;
  std::atomic<uint64_t> received{0};
  std::atomic<bool> finished{false};
  std::atomic<uint32_t> result{0};
  ~Transfer() {
    if (file != nullptr) std::fclose(file);
  }
  // Closes the file once; false when its last bytes did not reach the disk.
  bool close() {
    std::lock_guard<std::mutex> hold(lock);
    bool ok = true;
    if (file != nullptr) ok = std::fclose(file) == 0;
    file = nullptr;
    closed = true;
    return ok;
  }
};

using Holder = std::shared_ptr<Transfer>;

int arrived(uint32_t, void **user, const char *, const char *buffer, uint32_t count) {
  auto *holder = static_cast<Holder *>(*user);
  Transfer &t = **holder;
  uint32_t ended = kDone;
  bool last = buffer == nullptr;  // the final call: count is the result
  if (last) {
    ended = count;
  } else {
    std::lock_guard<std::mutex> hold(t.lock);
    if (t.closed) {
      ended = kStopped;
      last = true;
    } else if (std::fwrite(buffer, 1, count, t.file) != count) {
      ended = kWriteFailed;
      last = true;
    } else {
      t.received.fetch_add(count);
    }
  }
  if (!last) return 1;
  t.result.store(ended);
  t.finished.store(true);
  delete holder;  // no call follows a final call or a 0 answer
  return 0;
}

std::string result_words(uint32_t result) {
  switch (result) {
    case kStopped: return "the stream was stopped";
    case 14: return "the server's stream failed or was cut off (code 14)";
    case kWriteFailed: return "the file could not be written (disk full?)";
    default: return nmc_result_words(result);
  }
}

std::string seconds_text(double seconds) {
  char at[32];
  std::snprintf(at, sizeof at, "%.1f", seconds);
  return at;
}

}  // namespace

std::string download_file_name(const std::string &title, const std::string &url) {
  std::string name;
  for (char c : title) name += c == '/' || static_cast<unsigned char>(c) < 0x20 ? '_' : c;
  if (name.empty() || name == "." || name == "..") name = "download";
  std::string path = url.substr(0, url.find_first_of("?#"));
  size_t slash = path.rfind('/');
  size_t dot = path.rfind('.');
  bool has_ext = name.rfind('.') != std::string::npos && name.rfind('.') > 0;
  if (!has_ext && dot != std::string::npos && (slash == std::string::npos || dot > slash + 1) &&
      path.size() - dot <= 6)
    name += path.substr(dot);
  return name;
}

Downloader::Downloader(const Library &lib, Print print, std::function<bool()> wait)
    : lib_(lib.handle), print_(std::move(print)), wait_(std::move(wait)) {}

bool Downloader::download(const BrowseEntry &entry, uint64_t size, const std::string &path) {
  auto fn = lib_ != nullptr ? reinterpret_cast<DownloadUri>(dlsym(lib_, "lm_nmc_download_uri")) : nullptr;
  if (fn == nullptr) {
    print_("error", "download: this library does not offer it (no lm_nmc_download_uri)");
    return false;
  }
  if (entry.container) {
    print_("error", "download: \"" + entry.title + "\" is a container; only items can be downloaded");
    return false;
  }
  if (entry.url.empty()) {
    print_("error", "download: \"" + entry.title + "\" names no resource to download");
    return false;
  }
  struct stat st {};
  if (stat(path.c_str(), &st) == 0) {
    print_("error", "download: \"" + path + "\" exists already; give another file name");
    return false;
  }
  const std::string part = path + ".part";
  auto t = std::make_shared<Transfer>();
  t->file = std::fopen(part.c_str(), "wbe");
  if (t->file == nullptr) {
    print_("error", "download: \"" + part + "\" cannot be written (no such folder, or no permission)");
    return false;
  }
  print_("download", "fetching \"" + entry.title + "\"" + (size > 0 ? " (" + std::to_string(size) + " bytes)" : "") +
                         " into " + path + " (Ctrl-C cancels)");
  auto *holder = new Holder(t);
  const auto start = std::chrono::steady_clock::now();
  uint32_t rc = fn(0, holder, entry.url.c_str(), entry.protocol.empty() ? nullptr : entry.protocol.c_str(), 65536,
                   arrived);
  if (rc != 0) {
    delete holder;  // never called back
    t->close();
    std::remove(part.c_str());
    print_("error", "download of \"" + entry.title + "\" refused: " +
                        (rc == 2 ? "its resource is no HTTP URL (" + entry.url + ")" : nmc_result_words(rc)));
    return false;
  }
  auto next = start + std::chrono::milliseconds(progress_ms_);
  while (!t->finished.load()) {
    if (wait_()) {
      uint64_t got = t->received.load();
      t->close();  // the receiver stops at its next piece
      std::remove(part.c_str());
      print_("download", "download of \"" + entry.title + "\" cancelled after " + std::to_string(got) +
                             " bytes; the part file was removed");
      return false;
    }
    auto now = std::chrono::steady_clock::now();
    if (now < next || t->finished.load()) continue;
    next = now + std::chrono::milliseconds(progress_ms_);
    // Counted in KiB once the bytes no longer fit the progress counters.
    uint64_t got = t->received.load();
    const uint64_t scale = (size > 0xFFFFFFFFull || got > 0xFFFFFFFFull) ? 1024 : 1;
    print_("progress", "download " + progress_words(static_cast<uint32_t>(got / scale), static_cast<uint32_t>(size / scale),
                                                    std::chrono::duration<double>(now - start).count(),
                                                    scale == 1 ? "bytes" : "KiB"));
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const uint32_t result = t->result.load();
  const uint64_t got = t->received.load();
  const bool flushed = t->close();
  const std::string what = "download of \"" + entry.title + "\"";
  if (result != kDone || !flushed) {
    std::remove(part.c_str());
    print_("error", what + " failed after " + std::to_string(got) + " bytes: " +
                        (result != kDone ? result_words(result) : result_words(kWriteFailed)) +
                        "; nothing was kept");
    return false;
  }
  if (std::rename(part.c_str(), path.c_str()) != 0) {
    std::remove(part.c_str());
    print_("error", what + ": \"" + part + "\" could not be renamed to \"" + path + "\"; nothing was kept");
    return false;
  }
  std::string note;
  if (size > 0 && got != size) note = " (the server had announced " + std::to_string(size) + ")";
  print_("download", "done: \"" + entry.title + "\", " + std::to_string(got) + " bytes in " + seconds_text(seconds) +
                         " s into " + path + note);
  return true;
}

}  // namespace host
