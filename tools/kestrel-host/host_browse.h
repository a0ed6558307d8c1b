// Browsing a network media server in the terminal mode: one server context
// of the controller, walked level by level, shown a page at a time, with
// progress lines while a long listing loads.
#ifndef KESTREL_HOST_BROWSE_H
#define KESTREL_HOST_BROWSE_H

#include <cstdint>
#include <functional>
#include <string>

#include "host_nmc_api.h"

namespace host {

struct BrowseEntry {
  std::string title;
  std::string url;  // the first resource; empty for containers
  std::string protocol;  // the first resource's protocolInfo, when known
  uint64_t size = 0;     // the first resource's size in bytes; 0 when not known
  bool container = false;
};

class Browser {
 public:
  // print: one line for the person at the terminal (kind, text).
  using Print = std::function<void(const char *kind, const std::string &text)>;
  Browser(const NmcApi &api, Print print) : api_(api), print_(std::move(print)) {}
  ~Browser();

  // Opens the server's root container (the server by its bookmark) and
  // shows the first page.
  bool open_server(const std::string &bookmark, const std::string &name);
  // Into the container at number n (1-based) of the current level.
  bool enter(uint32_t n);
  bool up();
  // Pages: next, previous, the one holding number n, the current one again.
  void next();
  void previous();
  void page_at(uint32_t n);
  void show();
  // Every entry of the level, with progress lines as they load.
  void show_all();
  // The entry at number n of the current level; false (said) when there is
  // none.
  bool entry(uint32_t n, BrowseEntry &out);
  bool at_server() const { return at_server_; }
  // Asked between entries of a listing; true ends it early (said).
  void set_cancel(std::function<bool()> cancel) { cancel_ = std::move(cancel); }
  void set_page_size(uint32_t size) { page_size_ = size < 1 ? 1 : size; }

 private:
  bool ensure_context();
  bool count(uint32_t &n);
  // False when the listing was cut short (cancelled, or an entry failed).
  bool show_range(uint32_t from, uint32_t to);
  std::string text(const char *key);
  void where();

  const NmcApi &api_;
  Print print_;
  uint32_t context_ = 0;
  bool opened_ = false;     // a context exists (its number may be 0)
  bool at_server_ = false;  // a server was opened in it
  std::function<bool()> cancel_;
  uint32_t page_start_ = 0;  // 0-based index of the first entry shown
  uint32_t page_size_ = 20;
};

// A line of progress: "120 of 2000 entries, 85/s, about 22 s left"; a
// total of 0 stands for one not known ("120 entries, 85/s").
std::string progress_words(uint32_t done, uint32_t total, double seconds, const char *unit);

}  // namespace host

#endif
