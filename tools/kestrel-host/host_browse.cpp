// Server browsing over the controller's server context.
#include "host_browse.h"

#include <chrono>
#include <cstdio>

namespace host {

namespace {
using Clock = std::chrono::steady_clock;
// A listing that runs longer than this reports its progress.
const double kProgressEvery = 1.0;
}  // namespace

std::string progress_words(uint32_t done, uint32_t total, double seconds, const char *unit) {
  std::string words = std::to_string(done) + (total > 0 ? " of " + std::to_string(total) : std::string()) + " " + unit;
  if (seconds <= 0 || done == 0) return words;
  double rate = done / seconds;
  char buf[96];
  std::snprintf(buf, sizeof buf, ", %.0f/s", rate);
  words += buf;
  if (total > 0 && done < total && rate > 0) {
    std::snprintf(buf, sizeof buf, ", about %.0f s left", (total - done) / rate);
    words += buf;
  }
  return words;
}

Browser::~Browser() {
  if (opened_) api_.dms_delete(context_);
}

bool Browser::ensure_context() {
  if (opened_) return true;
  uint32_t rc = api_.dms_create(&context_);
  if (rc != 0) {
    print_("error", "cannot browse: no server context: " + nmc_result_words(rc));
    return false;
  }
  opened_ = true;
  return true;
}

std::string Browser::text(const char *key) {
  char buf[4096];
  return api_.dms_extract(context_, key, 0, sizeof buf, buf) == 0 ? std::string(buf) : std::string();
}

bool Browser::count(uint32_t &n) {
  n = 0;
  uint32_t rc = api_.dms_get_count(context_, &n);
  if (rc != 0) print_("error", "cannot list this level: " + nmc_result_words(rc));
  return rc == 0;
}

void Browser::where() {
  char name[1024] = "";
  api_.dms_get_levelname(context_, sizeof name, name);
  uint32_t depth = 0;
  api_.dms_get_level(context_, &depth);
  print_("browse", std::string("in \"") + name + "\" (level " + std::to_string(depth) + ")");
}

bool Browser::open_server(const std::string &bookmark, const std::string &name) {
  if (!ensure_context()) return false;
  uint32_t rc = api_.dms_go_bookmark(context_, bookmark.c_str());
  if (rc == 0) rc = api_.dms_go_directory(context_);
  if (rc != 0) {
    at_server_ = false;
    print_("error", "cannot open the server \"" + name + "\": " + nmc_result_words(rc));
    return false;
  }
  at_server_ = true;
  page_start_ = 0;
  where();
  show();
  return true;
}

bool Browser::enter(uint32_t n) {
  if (!at_server_) {
    print_("error", "no server open (\"browse N\" opens one)");
    return false;
  }
  uint32_t rc = n == 0 ? 1 : api_.dms_go_index(context_, n - 1);
  uint32_t directory = 0;
  if (rc == 0) api_.dms_is_directory(context_, &directory);
  if (rc == 0 && directory == 0) {
    print_("error", "entry " + std::to_string(n) + " is an item, not a container (\"play " + std::to_string(n) +
                        "\" plays it)");
    return false;
  }
  if (rc == 0) rc = api_.dms_go_directory(context_);
  if (rc != 0) {
    print_("error", "cannot open entry " + std::to_string(n) + ": " + nmc_result_words(rc));
    return false;
  }
  page_start_ = 0;
  where();
  show();
  return true;
}

bool Browser::up() {
  if (!at_server_) {
    print_("error", "no server open (\"browse N\" opens one)");
    return false;
  }
  uint32_t depth = 0;
  api_.dms_get_level(context_, &depth);
  uint32_t rc = depth <= 1 ? 9 : api_.dms_go_parent(context_);
  if (rc != 0) {
    print_("error", depth <= 1 ? "already at the server's root" : "cannot go up: " + nmc_result_words(rc));
    return false;
  }
  page_start_ = 0;
  where();
  show();
  return true;
}

bool Browser::show_range(uint32_t from, uint32_t to) {
  const auto start = Clock::now();
  auto last = start;
  for (uint32_t i = from; i < to; ++i) {
    if (cancel_ && cancel_()) {
      print_("browse", "listing cancelled after " + std::to_string(i - from) + " of " + std::to_string(to - from) +
                           " entries");
      return false;
    }
    uint32_t rc = api_.dms_go_index(context_, i);
    if (rc != 0) {
      print_("error", "entry " + std::to_string(i + 1) + " could not be read: " + nmc_result_words(rc));
      return false;
    }
    uint32_t directory = 0;
    api_.dms_is_directory(context_, &directory);
    print_("entry", std::to_string(i + 1) + (directory ? " [dir] " : "       ") + text("Title"));
    auto now = Clock::now();
    if (std::chrono::duration<double>(now - last).count() >= kProgressEvery) {
      last = now;
      print_("progress", "loading " + progress_words(i + 1 - from, to - from, std::chrono::duration<double>(now - start).count(),
                                                     "entries"));
    }
  }
  return true;
}

void Browser::show() {
  if (!at_server_) {
    print_("error", "no server open (\"browse N\" opens one)");
    return;
  }
  uint32_t total = 0;
  if (!count(total)) return;
  if (total == 0) {
    print_("browse", "this container is empty");
    return;
  }
  if (page_start_ >= total) page_start_ = (total - 1) / page_size_ * page_size_;
  uint32_t to = page_start_ + page_size_ < total ? page_start_ + page_size_ : total;
  show_range(page_start_, to);
  uint32_t pages = (total + page_size_ - 1) / page_size_;
  print_("browse", "entries " + std::to_string(page_start_ + 1) + "-" + std::to_string(to) + " of " +
                       std::to_string(total) + " (page " + std::to_string(page_start_ / page_size_ + 1) + " of " +
                       std::to_string(pages) + (to < total ? "; \"next\" for more)" : ")"));
}

void Browser::next() {
  uint32_t total = 0;
  if (!at_server_ || !count(total)) return show();
  if (page_start_ + page_size_ >= total) {
    print_("browse", "this is the last page");
    return;
  }
  page_start_ += page_size_;
  show();
}

void Browser::previous() {
  if (page_start_ == 0) {
    print_("browse", "this is the first page");
    return;
  }
  page_start_ = page_start_ >= page_size_ ? page_start_ - page_size_ : 0;
  show();
}

void Browser::page_at(uint32_t n) {
  page_start_ = n == 0 ? 0 : (n - 1) / page_size_ * page_size_;
  show();
}

void Browser::show_all() {
  uint32_t total = 0;
  if (!at_server_) return show();
  if (!count(total)) return;
  const auto start = Clock::now();
  if (!show_range(0, total)) return;
  double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  print_("browse", "all " + std::to_string(total) + " entries listed in " + std::to_string(static_cast<int>(seconds * 1000)) +
                       " ms");
}

bool Browser::entry(uint32_t n, BrowseEntry &out) {
  if (!at_server_) {
    print_("error", "no server open (\"browse N\" opens one)");
    return false;
  }
  uint32_t rc = n == 0 ? 1 : api_.dms_go_index(context_, n - 1);
  if (rc != 0) {
    print_("error", "no entry " + std::to_string(n) + " here: " + nmc_result_words(rc));
    return false;
  }
  uint32_t directory = 0;
  api_.dms_is_directory(context_, &directory);
  out.container = directory != 0;
  out.title = text("Title");
  out.url = out.container ? std::string() : text("Resource");
  out.protocol = out.container ? std::string() : text("ProtocolInfo");
  const std::string size = out.container ? std::string() : text("Resource@Size");
  out.size = !size.empty() && size.size() < 20 && size.find_first_not_of("0123456789") == std::string::npos
                 ? std::stoull(size)
                 : 0;
  return true;
}

}  // namespace host
