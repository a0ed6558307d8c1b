// kestrel-nmc's uploads into the server the tool's server context stands on
// (at the server list: the server under the cursor):
//   upload FILE PROTOCOLINFO [TITLE]          the file with its length
//   upload-chunked FILE PROTOCOLINFO [TITLE]  the file without a length
//   upload-playlist FILE TYPE [TITLE]         a WPL file (TYPE 1 music,
//                                             2 picture, 4 video, 8 any)
// Each waits for the transfer's end, printing its progress (every tenth of
// the file), the result and the new object's bookmark. TITLE defaults to
// the file's name without its folder; a FILE with blanks is written in
// double quotes.
#include "upload_commands.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <sstream>

#include "cp/upnp_soap.h"
#include "playlist/lm_dmscp_upload.h"

namespace {

struct Transfer {
  FILE *file = nullptr;
  uint64_t size = 0;
  uint64_t sent = 0;
  uint64_t next_report = 0;
  void (*print)(const std::string &) = nullptr;
  std::mutex mutex;
  std::condition_variable cv;
  bool done = false;
  uint32_t result = 0;

  static int callback(uint32_t, void **user, uint32_t size, char *buffer, uint32_t *length) {
    Transfer &t = *static_cast<Transfer *>(*user);
    if (buffer == nullptr) {
      std::lock_guard<std::mutex> hold(t.mutex);
      t.result = size;
      t.done = true;
      t.cv.notify_all();
      return 0;
    }
    size_t n = std::fread(buffer, 1, size, t.file);
    *length = static_cast<uint32_t>(n);
    t.sent += n;
    if (t.sent >= t.next_report) {
      t.print("upload   " + std::to_string(t.sent) + " of " + std::to_string(t.size) + " bytes");
      t.next_report += t.size / 10 + 1;
    }
    return t.sent < t.size ? 1 : 0;
  }
};

std::string result_text(lm_nmc_result_t rc) {
  const char *text = rc == 0 ? "OK" : upnp_get_errmsg(static_cast<int>(rc));
  return std::to_string(rc) + " " + (text != nullptr ? text : "");
}

std::string base_name(const std::string &path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
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

}  // namespace

bool upload_command(const std::string &command, uint32_t context, void (*print)(const std::string &line)) {
  std::istringstream in(command);
  std::string verb, path, second, title;
  in >> verb;
  if (verb != "upload" && verb != "upload-chunked" && verb != "upload-playlist") return false;
  path = next_word(in);
  second = next_word(in);
  std::getline(in >> std::ws, title);
  if (path.empty() || second.empty()) {
    print("upload   usage: " + verb + " FILE " + (verb == "upload-playlist" ? "TYPE" : "PROTOCOLINFO") + " [TITLE]");
    return true;
  }
  if (title.empty()) title = base_name(path);
  Transfer t;
  t.print = print;
  t.file = std::fopen(path.c_str(), "rbe");
  if (t.file == nullptr) {
    print("upload   cannot open " + path);
    return true;
  }
  std::fseek(t.file, 0, SEEK_END);
  t.size = static_cast<uint64_t>(std::ftell(t.file));
  std::fseek(t.file, 0, SEEK_SET);
  char bookmark[4096] = "";
  lm_nmc_result_t rc;
  if (verb == "upload-playlist") {
    // One block for the whole text when it is small.
    uint32_t block = t.size < (1u << 20) ? static_cast<uint32_t>(t.size) + 1 : 0;
    rc = lm_dmscp_upload_playlist(context, &t, title.c_str(), static_cast<uint32_t>(std::strtoul(second.c_str(), nullptr, 0)),
                                  0, block, Transfer::callback, sizeof bookmark, bookmark);
  } else {
    rc = lm_dmscp_upload(context, &t, title.c_str(), second.c_str(), 65536, Transfer::callback, sizeof bookmark,
                         bookmark, verb == "upload" ? t.size : 0);
  }
  print("upload   " + path + " as \"" + title + "\" -> " + result_text(rc));
  if (rc == 0) {
    auto begin = std::chrono::steady_clock::now();
    std::unique_lock<std::mutex> hold(t.mutex);
    t.cv.wait(hold, [&t] { return t.done; });
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f",
                  std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count());
    print("upload   done: " + result_text(t.result) + ", " + std::to_string(t.sent) + " bytes in " + seconds + " s");
    print(std::string("upload   bookmark ") + bookmark);
  }
  std::fclose(t.file);
  return true;
}
