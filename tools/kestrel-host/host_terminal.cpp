// The terminal mode's loop: typed lines, device lists, events in words,
// first-start messages and the stop signals.
#include "host_terminal.h"

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <iostream>
#include <map>
#include <deque>
#include <memory>
#include <mutex>
#include <sstream>
#include <thread>

#include "host_browse.h"
#include "host_commands.h"
#include "host_control.h"
#include "host_devices.h"
#include "host_download.h"
#include "host_first_start.h"
#include "host_nmc_api.h"
#include "host_output.h"
#include "host_publish.h"
#include "host_terminal_across.h"
#include "host_upload.h"
#include "xpcom_main_thread.h"
#include "xpcom_memory.h"

namespace host {

namespace {

using Clock = std::chrono::steady_clock;

// Stop signals received; written by the signal thread, read by the main
// thread.
std::atomic<int> g_stops{0};

sigset_t stop_signals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  return set;
}

void print(const char *kind, const std::string &text) { say(kind, text); }

bool resolve(NmcApi &api, const Library &lib) {
  std::string why;
  if (api.resolve(lib, why)) return true;
  say("info", "browsing and seeking are not available: " + why);
  return false;
}

class Terminal {
 public:
  Terminal(Session &s, const TerminalOptions &o)
      : s_(s),
        o_(o),
        have_api_(resolve(api_, s.lib)),
        browser_(api_, print),
        control_(have_api_ ? &api_ : nullptr, print),
        across_(s.lib, have_api_ ? &api_ : nullptr, print, [this] { return serve_and_stop(50); }),
        uploader_(s.lib, have_api_ ? &api_ : nullptr, print, [this] { return serve_and_stop(100); }),
        downloader_(s.lib, print, [this] { return serve_and_stop(100); }),
        servers_("s"),
        renderers_("r") {
    browser_.set_page_size(static_cast<uint32_t>(o.page_size));
    browser_.set_cancel([this] {
      NS_ProcessMainThreadEvents(0);  // events keep coming during a long listing
      int now = g_stops.load();
      if (now == handled_stops_) return false;
      handled_stops_ = now;
      return true;
    });
    control_.set_entry_source([this](uint32_t n, BrowseEntry &out, bool *found) {
      if (!across_.showing_rows()) return false;
      *found = across_.row(n, out);
      return true;
    });
    handled_stops_ = g_stops.load();
    start_ = Clock::now();
  }

  bool quit = false;

  // One pass of the loop: events, device lists when due, quiet messages.
  void tick() {
    bool devices_changed = show_events();
    auto now = Clock::now();
    if (devices_changed || now >= next_poll_) {
      poll();
      next_poll_ = now + std::chrono::milliseconds(o_.poll_ms);
    }
    auto quiet = std::chrono::duration_cast<std::chrono::milliseconds>(now - start_).count();
    if (quiet >= o_.quiet_ms && !told_quiet_) {
      told_quiet_ = true;
      if (servers_.present_count() == 0)
        say("info", "no servers found yet (still searching; media servers on this network are listed here as they "
                    "answer)");
      if (renderers_.present_count() == 0)
        say("info", "no renderers found yet (still searching; renderers on this network are listed here as they "
                    "answer)");
    }
    if (g_stops.load() != handled_stops_) {
      handled_stops_ = g_stops.load();
      say("info", "stopping");
      quit = true;
    }
  }

  void command(const std::string &raw) {
    std::istringstream in(raw);
    std::vector<std::string> w;
    std::string word;
    while (in >> word) w.push_back(word);
    if (w.empty() || w[0][0] == '#') return;
    std::string name = w[0];
    w.erase(w.begin());
    auto number = [&](size_t k, uint32_t &n) {
      if (k >= w.size() || w[k].empty() || w[k].size() > 9 || w[k].find_first_not_of("0123456789") != std::string::npos)
        return false;
      n = static_cast<uint32_t>(std::stoul(w[k]));
      return true;
    };
    uint32_t n = 0;
    // A listing of the server being browsed replaces a search's rows.
    static const char *const listings[] = {"browse", "open", "cd", "up", "ls", "next", "n", "prev", "p", "all", "page"};
    for (const char *l : listings)
      if (name == l) across_.forget_rows();
    if (name == "help") return help();
    if (name == "quit" || name == "exit") {
      quit = true;
      return;
    }
    if (name == "list" || name == "devices") {
      poll();
      return list();
    }
    if (name == "browse") {
      if (!have_api_) return say("error", "this library does not export the controller's server functions");
      poll();
      const Device *d = w.size() == 1 ? servers_.find(w[0]) : servers_.first_present();
      if (w.size() > 1) return say("error", "usage: browse [sN] (\"list\" shows the servers)");
      if (w.size() == 1 && d == nullptr) return say("error", "no server \"" + w[0] + "\" (\"list\" shows the servers)");
      if (d == nullptr) return say("error", "no servers found yet (still searching; try again in a few seconds)");
      if (!d->present) return say("error", servers_.label(*d) + " is gone (no longer on the network)");
      say("browse", "browsing " + servers_.label(*d));
      browser_.open_server(d->bookmark, d->name);
      return;
    }
    if (name == "open" || name == "cd") {
      if (!number(0, n) || w.size() != 1) return say("error", "usage: open N (a container of the listing)");
      browser_.enter(n);
      return;
    }
    if (name == "up") return void(browser_.up());
    if (name == "ls") return browser_.show();
    if (name == "next" || name == "n") return browser_.next();
    if (name == "prev" || name == "p") return browser_.previous();
    if (name == "all") return browser_.show_all();
    if (name == "page") {
      if (!number(0, n) || w.size() != 1) return say("error", "usage: page N (the page holding entry N)");
      return browser_.page_at(n);
    }
    if (name == "use") {
      poll();
      const Device *d = w.size() == 1 ? renderers_.find(w[0]) : nullptr;
      if (d == nullptr) return say("error", "usage: use rN (\"list\" shows the renderers)");
      renderer_ = d->bookmark;
      say("renderer", "using " + renderers_.label(*d) + (d->present ? "" : " (gone at the moment)"));
      return;
    }
    if (name == "handoff" && w.size() <= 1) return handoff(w);
    if (name == "upload") return upload(w);
    if (name == "download") return download(w);
    if (name == "search-all") {
      if (w.empty()) return say("error", "usage: search-all WORDS (a title to find on every server)");
      std::string words;
      for (const std::string &x : w) words += (words.empty() ? "" : " ") + x;
      return across_.search(words);
    }
    if (name == "playlist" && w.size() == 1 && w[0] == "publish") return publish();
    if (name == "music") return music(w);
    if (RendererControl::is_command(name)) {
      const Device *r = current_renderer();
      control_.run(s_.component(), name, w, r, r != nullptr ? renderers_.label(*r) : std::string(), browser_);
      return;
    }
    if (execute(s_, raw, 0) == Status::quit) quit = true;
  }

 private:
  // Serves the component's events for about ms; true once a stop (Ctrl-C)
  // arrived since the last look, which then cancels the work under way
  // instead of ending the host.
  bool serve_and_stop(int ms) {
    NS_ProcessMainThreadEvents(ms);
    int now = g_stops.load();
    if (now == handled_stops_) return false;
    handled_stops_ = now;
    return true;
  }

  // download N|URL [FILE]: entry N of the listing (or row N of a search),
  // or a URL, into FILE (a name made from its title without it).
  void download(const std::vector<std::string> &w) {
    if (w.empty() || w.size() > 2) return say("error", "usage: download N|URL [FILE]");
    BrowseEntry e;
    const std::string &what = w[0];
    if (what.compare(0, 7, "http://") == 0 || what.compare(0, 8, "https://") == 0) {
      e.url = what;
      size_t slash = what.rfind('/');
      e.title = slash + 1 < what.size() ? what.substr(slash + 1) : std::string("download");
    } else {
      if (what.empty() || what.size() > 9 || what.find_first_not_of("0123456789") != std::string::npos)
        return say("error", "usage: download N|URL [FILE] (N: an entry of the listing or a row of search-all)");
      uint32_t n = static_cast<uint32_t>(std::stoul(what));
      if (!(across_.showing_rows() ? across_.row(n, e) : browser_.entry(n, e))) return;
    }
    downloader_.download(e, e.size, w.size() == 2 ? w[1] : download_file_name(e.title, e.url));
  }

  SlowWork slow_work() {
    return SlowWork{print, [this](int ms) { return serve_and_stop(ms); }, 1000};
  }

  void publish() {
    if (s_.component() == nullptr) return say("error", "playlist publish: the component is not loaded");
    publish_playlists(s_.component(), slow_work(), [this] {
      poll();
      return servers_.present_count();
    });
  }

  // music [sN]: the music list of server sN (the first server found
  // without it).
  void music(const std::vector<std::string> &w) {
    if (w.size() > 1) return say("error", "usage: music [sN]");
    if (s_.component() == nullptr) return say("error", "music: the component is not loaded");
    poll();
    const Device *d = w.size() == 1 ? servers_.find(w[0]) : servers_.first_present();
    if (w.size() == 1 && d == nullptr) return say("error", "no server \"" + w[0] + "\" (\"list\" shows the servers)");
    if (d == nullptr) return say("error", "no servers found yet (still searching; try again in a few seconds)");
    if (!d->present) return say("error", servers_.label(*d) + " is gone (no longer on the network)");
    const std::string bookmark = d->bookmark;
    load_music(s_.component(), slow_work(), bookmark, servers_.label(*d));
  }

  // upload FILE [sN]: into server sN (the first server found without it).
  void upload(const std::vector<std::string> &w) {
    if (w.empty() || w.size() > 2) return say("error", "usage: upload FILE [sN]");
    poll();
    const Device *d = w.size() == 2 ? servers_.find(w[1]) : servers_.first_present();
    if (w.size() == 2 && d == nullptr) return say("error", "no server \"" + w[1] + "\" (\"list\" shows the servers)");
    if (d == nullptr) return say("error", "no servers found yet (still searching; try again in a few seconds)");
    if (!d->present) return say("error", servers_.label(*d) + " is gone (no longer on the network)");
    const std::string bookmark = d->bookmark;
    uploader_.upload(w[0], bookmark, servers_.label(*d));
  }

  // handoff rN: what plays on the renderer in use moves to rN, which is
  // used from then on.
  void handoff(const std::vector<std::string> &w) {
    poll();
    const Device *to = w.size() == 1 ? renderers_.find(w[0]) : nullptr;
    if (to == nullptr) return say("error", "usage: handoff rN (\"list\" shows the renderers)");
    const Device *from = current_renderer();
    if (from == nullptr) return say("error", "no renderer found yet (renderers are listed here as they answer)");
    if (from->bookmark == to->bookmark)
      return say("error", renderers_.label(*to) + " is the renderer in use; hand off to another one");
    if (!from->present) return say("error", renderers_.label(*from) + " is gone (no longer on the network)");
    if (!to->present) return say("error", renderers_.label(*to) + " is gone (no longer on the network)");
    say("handoff", "handing off from " + renderers_.label(*from) + " to " + renderers_.label(*to) + " ...");
    const std::string target = to->bookmark;
    const std::string label = renderers_.label(*to);
    if (!across_.handoff(from->bookmark, target)) return;
    renderer_ = target;
    say("renderer", "using " + label);
  }

  const Device *current_renderer() {
    const Device *r = renderer_.empty() ? nullptr : renderers_.by_bookmark(renderer_);
    if (r == nullptr) {
      r = renderers_.first_present();
      if (r != nullptr) {
        renderer_ = r->bookmark;
        say("renderer", "using " + renderers_.label(*r) + " (\"use rN\" picks another)");
      }
    }
    return r;
  }

  std::vector<std::string> read_infos(bool servers) {
    std::vector<std::string> infos;
    iZelControlPoint2XPCom *c = s_.component();
    PRInt32 count = 0;
    if (c == nullptr || NS_FAILED(servers ? c->GetNumServers(&count) : c->GetNumRenderers(&count))) return infos;
    for (PRInt32 k = 0; k < count && k < 10000; ++k) {
      char *info = nullptr;
      if (NS_SUCCEEDED(servers ? c->GetServerInfo(k, &info) : c->GetRendererInfo(k, &info)) && info != nullptr)
        infos.push_back(info);
      NS_Free(info);
    }
    return infos;
  }

  void poll() {
    // Renderers last heard playing (or paused in a track): one that leaves
    // the network now leaves in mid-play, which is said as an error.
    std::vector<std::string> in_play;
    for (const Device &d : renderers_.all()) {
      auto word = last_word_.find(d.bookmark);
      if (d.present && word != last_word_.end() && in_play_word(word->second)) in_play.push_back(d.bookmark);
    }
    for (const std::string &change : servers_.update(read_infos(true))) say("server", change);
    for (const std::string &change : renderers_.update(read_infos(false))) say("renderer", change);
    for (const std::string &bookmark : in_play) {
      const Device *d = renderers_.by_bookmark(bookmark);
      if (d == nullptr || d->present) continue;
      last_word_.erase(bookmark);
      say("error", "the renderer is gone: " + renderers_.label(*d) + " left the network in mid-play" +
                       (bookmark == renderer_ ? " (\"use rN\" picks another; \"list\" shows them)" : ""));
    }
  }

  static bool in_play_word(const std::string &word) {
    return word == "PLAYING" || word == "QUEUE_PLAYING" || word == "PAUSED_PLAYBACK" || word == "TRANSITIONING";
  }

  // Prints the events that arrived since the last pass; true when one says
  // a renderer came or went.
  bool show_events() {
    bool devices = false;
    size_t have = event_log().size();
    for (; events_seen_ < have; ++events_seen_) {
      Event e = event_log().at(events_seen_);
      size_t colon = e.text.find(':');
      std::string word = e.text.substr(0, colon);
      std::string bookmark = colon == std::string::npos ? std::string() : e.text.substr(colon + 1);
      if (word == "RendererAdded" || word == "RendererRemoved") {
        devices = true;
        continue;
      }
      // A renderer repeats its state for each variable that changed: one
      // line per change of word.
      std::string &last = last_word_[bookmark];
      if (last == word) continue;
      last = word;
      const Device *r = renderers_.by_bookmark(bookmark);
      say("event", word + (r != nullptr ? " on " + renderers_.label(*r) : bookmark.empty() ? "" : " on " + bookmark));
    }
    return devices;
  }

  void list() {
    say("info", std::to_string(servers_.present_count()) + " server(s), " +
                    std::to_string(renderers_.present_count()) + " renderer(s)");
    for (const Device &d : servers_.all())
      if (d.present) say("server", servers_.label(d));
    for (const Device &d : renderers_.all())
      if (d.present) say("renderer", renderers_.label(d) + (d.bookmark == renderer_ ? "  (in use)" : ""));
    if (servers_.present_count() == 0) say("info", "no servers found yet (still searching)");
    if (renderers_.present_count() == 0) say("info", "no renderers found yet (still searching)");
  }

  void help() {
    const char *lines[] = {
        "list                  the servers (sN) and renderers (rN) found so far; changes show as they happen",
        "browse [sN]           open a server's root (the first server without sN)",
        "ls | next | prev | page N | all   the listing: this page, the next, the previous, the one with entry N, all",
        "open N | up           into container N of the listing, back to its parent",
        "use rN                the renderer the commands below drive (the first one found by default)",
        "play N | play URL [TITLE]   play entry N of the listing (or a URL) on the renderer",
        "add N | add URL [TITLE]     add it to the renderer's queue; queue: its length and entry; next-track",
        "pause | resume | stop | seek H:MM:SS|N% | vol [0-100] | mute [on|off] | state",
        "handoff rN            what plays on the renderer in use moves to rN, at its position",
        "search-all WORDS      search every server; the merged rows are numbered for play N and add N",
        "upload FILE [sN]      a file (no blanks in its path) into server sN, with progress; Ctrl-C cancels it",
        "download N|URL [FILE] entry N of the listing (or a search row, or a URL) into FILE, with progress; Ctrl-C "
        "cancels it",
        "playlists | playlist new NAME | playlist add ID N|URL | playlist delete ID | playlist publish",
        "music [sN]            the music list of server sN, as it loads; Ctrl-C stops it",
        "call METHOD ARGS...   any slot of the component (the host's other commands work too)",
        "quit                  end (Ctrl-C too; during a listing, a transfer, a search-all, a handoff, a publish or "
        "a music list Ctrl-C stops that instead)",
    };
    for (const char *l : lines) say("help", l);
  }

  Session &s_;
  TerminalOptions o_;
  NmcApi api_;
  bool have_api_ = false;
  Browser browser_;
  RendererControl control_;
  TerminalAcross across_;
  Uploader uploader_;
  Downloader downloader_;
  DeviceList servers_;
  DeviceList renderers_;
  std::string renderer_;  // bookmark of the renderer in use
  size_t events_seen_ = 0;
  std::map<std::string, std::string> last_word_;  // renderer bookmark -> last event word
  int handled_stops_ = 0;
  bool told_quiet_ = false;
  Clock::time_point start_;
  Clock::time_point next_poll_;
};

// Typed lines, from the reader thread to the main thread's loop. Not
// dispatched to the main thread's queue: that queue is also served inside
// a long listing (observer calls must not wait), where a line must not run.
// The reader is left blocked in a read at the end: these outlive the
// process's static destructors (never freed).
std::mutex &g_lines_lock = *new std::mutex;
std::deque<std::string> &g_lines = *new std::deque<std::string>;
bool g_input_ended = false;

bool next_line(std::string &line, bool &ended) {
  std::lock_guard<std::mutex> hold(g_lines_lock);
  ended = g_input_ended && g_lines.empty();
  if (g_lines.empty()) return false;
  line = std::move(g_lines.front());
  g_lines.pop_front();
  return true;
}

}  // namespace

void take_stop_signals() {
  // A shell without job control starts background commands with SIGINT
  // ignored; an ignored signal never reaches sigwait. The terminal mode
  // ends on it, so it takes it back.
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction now {};
    if (sigaction(sig, nullptr, &now) == 0 && now.sa_handler == SIG_IGN) {
      struct sigaction dfl {};
      dfl.sa_handler = SIG_DFL;
      sigemptyset(&dfl.sa_mask);
      sigaction(sig, &dfl, nullptr);
    }
  }
  sigset_t set = stop_signals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  std::thread([] {
    sigset_t wanted = stop_signals();
    for (;;) {
      int sig = 0;
      if (sigwait(&wanted, &sig) == 0) g_stops.fetch_add(1);
    }
  }).detach();  // waits for signals as long as the process lives
}

void run_terminal(Session &s, const TerminalOptions &o) {
  set_hidden_kinds({"event"});  // shown in words
  Terminal terminal(s, o);
  for (const std::string &note : first_start_notes(loaded_file(s.lib.handle, s.lib.path))) say("info", note);
  say("info", "searching the network for media servers and renderers; they are listed here as they come and go "
              "(\"help\" lists the commands)");
  std::thread reader([] {
    std::string line;
    while (std::getline(std::cin, line)) {
      std::lock_guard<std::mutex> hold(g_lines_lock);
      g_lines.push_back(line);
    }
    std::lock_guard<std::mutex> hold(g_lines_lock);
    g_input_ended = true;
  });
  // Blocked in a read of the terminal when the person quits: left behind.
  reader.detach();
  while (!terminal.quit) {
    NS_ProcessMainThreadEvents(50);
    terminal.tick();
    std::string line;
    bool ended = false;
    while (!terminal.quit && next_line(line, ended)) {
      terminal.command(line);
      terminal.tick();
    }
    if (ended) terminal.quit = true;
  }
}

}  // namespace host
