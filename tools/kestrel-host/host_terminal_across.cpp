// handoff and search-all in the terminal mode, in words.
#include "host_terminal_across.h"

#include <dlfcn.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

namespace host {

namespace {

using Handoff = uint32_t (*)(const char *, const char *, uint32_t, uint32_t, char *);
using HandoffCancellable = uint32_t (*)(const char *, const char *, uint32_t, uint32_t, uint32_t, char *);
using SearchCallback = void (*)(uint32_t, const char *, const char *, uint32_t, uint32_t, uint32_t, void *);
using SearchAll = uint32_t (*)(const char *, uint32_t, SearchCallback, void *, uint32_t *);
using SearchAllCancellable = uint32_t (*)(const char *, uint32_t, uint32_t, SearchCallback, void *, uint32_t *);
using CancelCreate = uint32_t (*)(uint32_t *);
using CancelOne = uint32_t (*)(uint32_t);
using GetCount = uint32_t (*)(uint32_t, uint32_t *);
using GetPage = uint32_t (*)(uint32_t, uint32_t, uint32_t, uint32_t, char *);
using GetServers = uint32_t (*)(uint32_t, uint32_t, char *);
using Release = uint32_t (*)(uint32_t);

std::vector<std::vector<std::string>> tab_lines(const std::string &text, size_t fields) {
  std::vector<std::vector<std::string>> lines;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::vector<std::string> f;
    size_t from = at;
    for (size_t tab; f.size() + 1 < fields && (tab = text.find('\t', from)) < end; from = tab + 1)
      f.push_back(text.substr(from, tab - from));
    f.push_back(text.substr(from, end - from));  // the last field keeps any further tab
    if (f.size() == fields) lines.push_back(std::move(f));
    at = end + 1;
  }
  return lines;
}

std::string plural(uint32_t n, const char *one, const char *many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

// The library's cancel flag for one call, when it offers them (0: none).
class CancelFlag {
 public:
  explicit CancelFlag(void *lib) {
    auto create = lib != nullptr ? reinterpret_cast<CancelCreate>(dlsym(lib, "lm_nmc_cancel_create")) : nullptr;
    set_ = lib != nullptr ? reinterpret_cast<CancelOne>(dlsym(lib, "lm_nmc_cancel_set")) : nullptr;
    delete_ = lib != nullptr ? reinterpret_cast<CancelOne>(dlsym(lib, "lm_nmc_cancel_delete")) : nullptr;
    if (create != nullptr && set_ != nullptr && delete_ != nullptr && create(&id_) != 0) id_ = 0;
  }
  ~CancelFlag() {
    if (id_ != 0) delete_(id_);
  }
  CancelFlag(const CancelFlag &) = delete;
  CancelFlag &operator=(const CancelFlag &) = delete;
  uint32_t id() const { return id_; }
  void set() {
    if (id_ != 0) set_(id_);
  }

 private:
  uint32_t id_ = 0;
  CancelOne set_ = nullptr;
  CancelOne delete_ = nullptr;
};

// What a search's callback tells the terminal while it waits: written on
// the library's searching thread, read by the terminal's.
struct SearchSoFar {
  std::atomic<uint32_t> servers{0};
  std::atomic<uint32_t> rows{0};
};

void search_told(uint32_t, const char *, const char *, uint32_t status, uint32_t, uint32_t merged, void *user) {
  auto *so_far = static_cast<SearchSoFar *>(user);
  if (status != 0) so_far->servers.fetch_add(1);
  so_far->rows.store(merged);
}

}  // namespace

std::string search_criteria(const std::string &words) {
  if (words.find('=') != std::string::npos || words.find('"') != std::string::npos) return words;
  std::string escaped;
  for (char c : words) {
    if (c == '\\') escaped += '\\';
    escaped += c;
  }
  return "dc:title contains \"" + escaped + "\"";
}

std::vector<SearchServer> parse_search_servers(const std::string &text) {
  std::vector<SearchServer> servers;
  for (const auto &f : tab_lines(text, 5)) {
    SearchServer s;
    s.name = f[1];
    s.status = f[2];
    s.rows = static_cast<uint32_t>(std::strtoul(f[3].c_str(), nullptr, 10));
    s.words = f[4];
    servers.push_back(s);
  }
  return servers;
}

std::vector<SearchRow> parse_search_rows(const std::string &text) {
  std::vector<SearchRow> rows;
  for (const auto &f : tab_lines(text, 5)) rows.push_back(SearchRow{f[1], f[2], f[3], f[4]});
  return rows;
}

std::string search_server_words(const SearchServer &s) {
  std::string line = s.name + " " + s.status;
  if (s.status == "answered") line += " (" + plural(s.rows, "row", "rows") + ")";
  if (!s.words.empty()) line += ": " + s.words;
  return line;
}

TerminalAcross::TerminalAcross(const Library &lib, const NmcApi *api, Print print, std::function<bool()> wait)
    : lib_(lib.handle), api_(api), print_(std::move(print)), wait_(std::move(wait)) {}

TerminalAcross::~TerminalAcross() {
  if (have_context_) api_->dms_delete(context_);
}

void TerminalAcross::run_beside(const std::function<void()> &fn, const std::function<void()> &cancel,
                                const std::string &what, const std::function<void()> &tick) {
  // The flag is written by the worker and read by this thread.
  std::atomic<bool> done{false};
  std::thread worker([&] {
    fn();
    done.store(true);
  });
  bool cancelled = false;
  while (!done.load()) {
    if (wait_() && !cancelled && !done.load()) {
      cancelled = true;
      print_("info", what);
      cancel();
    }
    if (tick && !cancelled && !done.load()) tick();
  }
  worker.join();
}

bool TerminalAcross::handoff(const std::string &from, const std::string &to) {
  auto fn = lib_ != nullptr ? reinterpret_cast<Handoff>(dlsym(lib_, "lm_nmc_handoff")) : nullptr;
  auto cancellable =
      lib_ != nullptr ? reinterpret_cast<HandoffCancellable>(dlsym(lib_, "lm_nmc_handoff_cancellable")) : nullptr;
  if (fn == nullptr) {
    print_("error", "handoff: this library does not offer it (no lm_nmc_handoff)");
    return false;
  }
  char report[1024] = "";
  uint32_t code = 0;
  CancelFlag flag(cancellable != nullptr ? lib_ : nullptr);
  run_beside(
      [&] {
        code = flag.id() != 0 ? cancellable(from.c_str(), to.c_str(), 0, flag.id(), sizeof report, report)
                              : fn(from.c_str(), to.c_str(), 0, sizeof report, report);
      },
      [&] { flag.set(); },
      flag.id() != 0 ? "cancelling the handoff (the renderer in use keeps playing)"
                     : "this library cannot cancel a handoff; it ends within its bound of 15 s");
  std::string words = report[0] != '\0' ? report : "handoff failed: " + nmc_result_words(code);
  print_(code == 0 ? "handoff" : "error", words);
  return code == 0;
}

void TerminalAcross::search(const std::string &words) {
  auto run = lib_ != nullptr ? reinterpret_cast<SearchAll>(dlsym(lib_, "lm_nmc_search_all")) : nullptr;
  auto count = lib_ != nullptr ? reinterpret_cast<GetCount>(dlsym(lib_, "lm_nmc_search_all_get_count")) : nullptr;
  auto page = lib_ != nullptr ? reinterpret_cast<GetPage>(dlsym(lib_, "lm_nmc_search_all_get_page")) : nullptr;
  auto servers = lib_ != nullptr ? reinterpret_cast<GetServers>(dlsym(lib_, "lm_nmc_search_all_get_servers")) : nullptr;
  auto release = lib_ != nullptr ? reinterpret_cast<Release>(dlsym(lib_, "lm_nmc_search_all_release")) : nullptr;
  auto cancellable =
      lib_ != nullptr ? reinterpret_cast<SearchAllCancellable>(dlsym(lib_, "lm_nmc_search_all_cancellable")) : nullptr;
  if (!run || !count || !page || !servers || !release) {
    print_("error", "search-all: this library does not offer it (no lm_nmc_search_all)");
    return;
  }
  CancelFlag flag(cancellable != nullptr ? lib_ : nullptr);
  print_("search", "searching every server for \"" + words + "\"" + (flag.id() != 0 ? " (Ctrl-C stops waiting)" : ""));
  uint32_t search = 0;
  uint32_t code = 0;
  const std::string criteria = search_criteria(words);
  SearchSoFar so_far;
  const auto start = std::chrono::steady_clock::now();
  auto next = start + std::chrono::seconds(1);
  run_beside(
      [&] {
        code = flag.id() != 0 ? cancellable(criteria.c_str(), 0, flag.id(), search_told, &so_far, &search)
                              : run(criteria.c_str(), 0, search_told, &so_far, &search);
      },
      [&] { flag.set(); },
      flag.id() != 0 ? "search-all: cancelled; the rows that arrived follow"
                     : "this library cannot cancel a search; it ends within its bound of 5 s",
      [&] {
        auto now = std::chrono::steady_clock::now();
        if (now < next) return;
        next = now + std::chrono::seconds(1);
        print_("progress", "search-all: " + plural(so_far.servers.load(), "server", "servers") + " done, " +
                               plural(so_far.rows.load(), "row", "rows") + " so far, " +
                               std::to_string(std::chrono::duration_cast<std::chrono::seconds>(now - start).count()) +
                               " s");
      });
  if (code == 9) return print_("info", "no servers found yet (still searching; try again in a few seconds)");
  if (code != 0) {
    return print_("error", "search-all failed: " +
                               std::string(code == 22 ? "too many searches at once" : nmc_result_words(code)));
  }
  std::string text(64 * 1024, '\0');
  std::vector<SearchServer> outcome;
  if (servers(search, static_cast<uint32_t>(text.size()), &text[0]) == 0) outcome = parse_search_servers(text.c_str());
  uint32_t total = 0;
  count(search, &total);
  std::string lines(256 * 1024, '\0');
  uint32_t page_code =
      total == 0 ? 0 : page(search, 0, kMaxRows, static_cast<uint32_t>(lines.size()), &lines[0]);
  release(search);
  rows_ = page_code == 0 && total > 0 ? parse_search_rows(lines.c_str()) : std::vector<SearchRow>();
  showing_ = true;
  for (const SearchServer &s : outcome) print_("search", search_server_words(s));
  for (size_t k = 0; k < rows_.size(); ++k) {
    const SearchRow &r = rows_[k];
    print_("entry", std::to_string(k + 1) + (r.container() ? " [dir] " : "       ") + r.title + "  (" + r.server + ")");
  }
  if (page_code != 0) print_("error", "the merged rows cannot be read: " + nmc_result_words(page_code));
  if (total == 0) return print_("search", "nothing found on any server");
  std::string line = plural(total, "row", "rows") + " from " + plural(static_cast<uint32_t>(outcome.size()), "server", "servers");
  if (rows_.size() < total) line += "; the first " + std::to_string(rows_.size()) + " shown";
  print_("search", line + " (\"play N\" plays a row)");
}

bool TerminalAcross::row(uint32_t n, BrowseEntry &out) {
  if (n == 0 || n > rows_.size()) {
    print_("error", "no row " + std::to_string(n) + " in the search's rows (1-" + std::to_string(rows_.size()) + ")");
    return false;
  }
  const SearchRow &r = rows_[n - 1];
  out = BrowseEntry();
  out.title = r.title;
  out.container = r.container();
  if (out.container) return true;
  if (api_ == nullptr) {
    print_("error", "this library does not export the controller's server functions");
    return false;
  }
  if (!have_context_) {
    uint32_t rc = api_->dms_create(&context_);
    if (rc != 0) {
      print_("error", "no server context: " + nmc_result_words(rc));
      return false;
    }
    have_context_ = true;
  }
  uint32_t rc = api_->dms_go_bookmark(context_, r.bookmark.c_str());
  if (rc != 0) {
    print_("error", "row " + std::to_string(n) + " (\"" + r.title + "\" on " + r.server +
                        ") cannot be reached: " + nmc_result_words(rc));
    return false;
  }
  char url[4096] = "";
  if (api_->dms_extract(context_, "Resource", 0, sizeof url, url) == 0) out.url = url;
  if (api_->dms_extract(context_, "ProtocolInfo", 0, sizeof url, url) == 0) out.protocol = url;
  return true;
}

}  // namespace host
