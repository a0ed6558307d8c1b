// kestrel-nmc's queue playlist files and downloads:
//   queue-export FILE            the queue of the tool's renderer as a WPL file
//   queue-import FILE            a WPL file into that queue (after its cursor)
//   download KEY FILE [N]        a resource of the object under the server
//                                cursor (KEY e.g. Resource@URI, or a URL)
//   renderer-download KEY FILE [N]  of the renderer's current track (KEY res)
//   queue-download KEY FILE [N]  of the queue entry at the cursor (KEY res)
// N is the occurrence (default 0). Each waits for the transfer's end and
// prints its result and byte count; a download's file holds exactly the
// bytes delivered.
#include "transfer_commands.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <sstream>

#include "cp/upnp_soap.h"
#include "playlist/lm_dmrcp_wpl.h"
#include "playlist/lm_nmc_download.h"

namespace {

// Longest wait for a transfer's end.
constexpr auto kLongest = std::chrono::minutes(10);

struct Transfer {
  FILE *file = nullptr;
  uint64_t bytes = 0;
  bool write_failed = false;
  std::mutex mutex;
  std::condition_variable cv;
  bool done = false;
  uint32_t result = 0;

  void finish(uint32_t code) {
    std::lock_guard<std::mutex> hold(mutex);
    result = code;
    done = true;
    cv.notify_all();
  }
  bool wait() {
    std::unique_lock<std::mutex> hold(mutex);
    return cv.wait_for(hold, kLongest, [this] { return done; });
  }
  bool put(const char *data, uint32_t count) {
    if (std::fwrite(data, 1, count, file) != count) write_failed = true;
    bytes += count;
    return !write_failed;
  }

  static int exported(uint32_t, void **user, const char *, const char *data, uint32_t count) {
    Transfer &t = *static_cast<Transfer *>(*user);
    if (data == nullptr) {
      t.finish(t.write_failed ? 1 : 0);
      return 0;
    }
    return t.put(data, count) ? 1 : 0;
  }
  static int imported(uint32_t, void **user, uint32_t size, char *buffer, uint32_t *length) {
    Transfer &t = *static_cast<Transfer *>(*user);
    if (buffer == nullptr) {
      t.finish(size);
      return 0;
    }
    size_t n = std::fread(buffer, 1, size, t.file);
    *length = static_cast<uint32_t>(n);
    t.bytes += n;
    return n == size ? 1 : 0;
  }
  static int downloaded(uint32_t, void **user, const char *, const char *buffer, uint32_t count) {
    Transfer &t = *static_cast<Transfer *>(*user);
    if (buffer == nullptr) {
      t.finish(count);
      return 0;
    }
    return t.put(buffer, count) ? 1 : 0;
  }
};

std::string result_text(uint32_t rc) {
  const char *text = rc == 0 ? "OK" : upnp_get_errmsg(static_cast<int>(rc));
  return std::to_string(rc) + " " + (text != nullptr ? text : "");
}

// The next word, or the text up to the closing quote of a quoted one.
std::string next_word(std::istringstream &in) {
  std::string word;
  in >> std::ws;
  if (in.peek() == '"') {
    in.get();
    std::getline(in, word, '"');
  } else {
    in >> word;
  }
  return word;
}

// Starts the transfer (its answer printed) and waits for its end.
void run_transfer(const std::string &what, Transfer *t, lm_nmc_result_t rc, void (*print)(const std::string &)) {
  print("transfer " + what + " -> " + result_text(rc));
  if (rc != 0) return;
  if (!t->wait()) {
    // The callback may still come: the record must outlive it.
    print("transfer " + what + " did not end in time");
    std::fflush(stdout);
    std::_Exit(1);
  }
  print("transfer done: " + result_text(t->result) + ", " + std::to_string(t->bytes) + " bytes" +
        (t->write_failed ? " (the file could not be written)" : ""));
}

}  // namespace

bool transfer_command(const std::string &command, uint32_t server_context, uint32_t renderer_context,
                      void (*print)(const std::string &line)) {
  std::istringstream in(command);
  std::string verb;
  in >> verb;
  const bool is_export = verb == "queue-export", is_import = verb == "queue-import";
  const bool is_download = verb == "download" || verb == "renderer-download" || verb == "queue-download";
  if (!is_export && !is_import && !is_download) return false;
  std::string key = is_download ? next_word(in) : std::string();
  std::string path = next_word(in);
  std::string occurrence = next_word(in);
  if (path.empty() || (is_download && key.empty())) {
    print("transfer usage: " + verb + (is_download ? " KEY FILE [N]" : " FILE"));
    return true;
  }
  Transfer t;
  t.file = std::fopen(path.c_str(), is_import ? "rbe" : "wbe");
  if (t.file == nullptr) {
    print("transfer cannot open " + path);
    return true;
  }
  lm_nmc_result_t rc;
  if (is_export) {
    rc = lm_dmrcp_export_queue(renderer_context, &t, LM_DMRCP_WPL_FORMAT, 0, Transfer::exported);
  } else if (is_import) {
    rc = lm_dmrcp_import_queue(renderer_context, &t, LM_DMRCP_WPL_FORMAT, 0, Transfer::imported);
  } else {
    const uint32_t n = static_cast<uint32_t>(std::strtoul(occurrence.c_str(), nullptr, 10));
    if (verb == "download") rc = lm_dmscp_download(server_context, &t, key.c_str(), n, 65536, Transfer::downloaded);
    else if (verb == "renderer-download")
      rc = lm_dmrcp_download(renderer_context, &t, key.c_str(), n, 65536, Transfer::downloaded);
    else rc = lm_queue_download(renderer_context, &t, key.c_str(), n, 65536, Transfer::downloaded);
  }
  run_transfer(verb + " " + (key.empty() ? "" : key + " ") + path, &t, rc, print);
  std::fclose(t.file);
  return true;
}
