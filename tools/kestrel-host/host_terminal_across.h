// The terminal mode's commands across devices: "handoff rN" moves what
// plays on the renderer in use to renderer rN; "search-all WORDS" runs one
// search on every server and lists the merged rows, numbered, so that
// "play N" and "add N" take a row as they take an entry of a listing.
// Both go through the controller's exported functions (lm_nmc_handoff,
// lm_nmc_search_all*), called on a worker thread while the terminal's main
// thread keeps serving the component's events.
#ifndef KESTREL_HOST_TERMINAL_ACROSS_H
#define KESTREL_HOST_TERMINAL_ACROSS_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "host_browse.h"
#include "host_load.h"
#include "host_nmc_api.h"

namespace host {

// One merged row of a search across servers.
struct SearchRow {
  std::string title;
  std::string cls;     // upnp:class
  std::string server;  // the server's name
  std::string bookmark;
  bool container() const { return cls.rfind("object.container", 0) == 0; }
};

// A server's outcome of a search across servers.
struct SearchServer {
  std::string name;
  std::string status;  // "answered", "skipped", "no answer", "failed", ...
  uint32_t rows = 0;
  std::string words;  // why, for a server skipped, silent or failing
};

// The criteria sent for what a person typed: a simple query ("title=x")
// or a criteria text (anything with "=" or a quote) as it stands, else the
// words as a title search with quotes and backslashes escaped.
std::string search_criteria(const std::string &words);
// The server lines "UDN\tNAME\tSTATUS\tROWS\tWORDS" and the row lines
// "INDEX\tTITLE\tCLASS\tSERVER\tBOOKMARK" the controller answers.
std::vector<SearchServer> parse_search_servers(const std::string &text);
std::vector<SearchRow> parse_search_rows(const std::string &text);
// One server's outcome in words: "Lab Media Server answered (3 rows)",
// "Other skipped: offers no Search".
std::string search_server_words(const SearchServer &s);

class TerminalAcross {
 public:
  using Print = Browser::Print;
  // wait: called on the main thread while a worker runs the call (serves
  // the component's events for about 50 ms); answers true once a stop
  // (Ctrl-C) arrived since the last call, which cancels the call. api may
  // be null (no rows can be played).
  TerminalAcross(const Library &lib, const NmcApi *api, Print print, std::function<bool()> wait);
  ~TerminalAcross();

  // Moves what plays on renderer `from` to renderer `to` (bookmarks); the
  // report is printed; true when the handoff was done. A cancel leaves the
  // old renderer playing.
  bool handoff(const std::string &from, const std::string &to);
  // Searches every server and lists the outcome and the merged rows; a
  // cancel stops the waiting and lists what arrived.
  void search(const std::string &words);

  // Rows of the last search stand for "play N" until the next listing.
  bool showing_rows() const { return showing_; }
  void forget_rows() { showing_ = false; }
  // Row n (1-based) as an entry: its title and first resource, read through
  // a server context brought to the row's object by its bookmark; false
  // (said) when there is none.
  bool row(uint32_t n, BrowseEntry &out);

  static const uint32_t kMaxRows = 100;

 private:
  // Runs fn on a worker thread, calling wait_ (then tick, when given)
  // until it is done; the first stop calls cancel (on this thread) and is
  // said with `what`.
  void run_beside(const std::function<void()> &fn, const std::function<void()> &cancel, const std::string &what,
                  const std::function<void()> &tick = nullptr);

  void *lib_;
  const NmcApi *api_;
  Print print_;
  std::function<bool()> wait_;
  std::vector<SearchRow> rows_;
  bool showing_ = false;
  uint32_t context_ = 0;
  bool have_context_ = false;
};

}  // namespace host

#endif
