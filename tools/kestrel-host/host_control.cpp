// Renderer commands of the terminal mode.
#include "host_control.h"

#include <cstdlib>

#include "host_format.h"
#include "host_slots.h"
#include "xpcom_memory.h"

namespace host {

namespace {

std::string take(char *text) {
  std::string s = text != nullptr ? text : "";
  NS_Free(text);
  return s;
}

bool is_url(const std::string &w) { return w.find("://") != std::string::npos; }

bool parse_number(const std::string &w, long lo, long hi, long &out) {
  if (w.empty() || w.size() > 9 || w.find_first_not_of("0123456789") != std::string::npos) return false;
  out = std::strtol(w.c_str(), nullptr, 10);
  return out >= lo && out <= hi;
}

}  // namespace

int64_t parse_position(const std::string &text) {
  if (text.empty() || text.size() > 16) return -1;
  int64_t total = 0;
  int64_t part = 0;
  int parts = 1;
  bool digits = false;
  for (char c : text) {
    if (c >= '0' && c <= '9') {
      part = part * 10 + (c - '0');
      digits = true;
    } else if (c == ':' && digits && parts < 3) {
      if (parts > 1 && part > 59) return -1;
      total = total * 60 + part;
      part = 0;
      digits = false;
      ++parts;
    } else {
      return -1;
    }
  }
  if (!digits || (parts > 1 && part > 59)) return -1;
  return (total * 60 + part) * 1000;
}

std::string slot_failure_words(nsresult rv) {
  std::string name = result_name(rv);
  if (rv == NS_ERROR_INVALID_ARG) return "the renderer is gone or unknown (" + name + ")";
  if (rv == NS_ERROR_NOT_IMPLEMENTED) return "this library does not offer it yet (" + name + ")";
  if (rv == NS_ERROR_NOT_AVAILABLE) return "the renderer is not reachable now (" + name + ")";
  if (rv == NS_ERROR_OUT_OF_MEMORY) return "out of memory (" + name + ")";
  return "the component failed (" + name + ")";
}

RendererControl::~RendererControl() {
  if (have_context_ && api_ != nullptr) api_->dmr_delete(context_);
}

bool RendererControl::is_command(const std::string &n) {
  static const char *names[] = {"play", "add", "pause", "resume", "stop", "seek", "vol", "volume", "mute", "state",
                                "queue", "next-track", "playlists", "playlist"};
  for (const char *k : names)
    if (n == k) return true;
  return false;
}

void RendererControl::said(nsresult rv, const std::string &what, const std::string &label) {
  if (NS_FAILED(rv))
    print_("error", what + " on " + label + " failed: " + slot_failure_words(rv));
  else
    print_("renderer", label + ": " + what);
}

bool RendererControl::renderer_context(const Device &r) {
  if (api_ == nullptr) {
    print_("error", "this library does not export the controller's renderer functions");
    return false;
  }
  if (!have_context_) {
    uint32_t rc = api_->dmr_create(&context_);
    if (rc != 0) {
      print_("error", "no renderer context: " + nmc_result_words(rc));
      return false;
    }
    have_context_ = true;
  }
  uint32_t rc = api_->dmr_go_bookmark(context_, r.bookmark.c_str());
  if (rc != 0) print_("error", "renderer " + r.name + " cannot be reached: " + nmc_result_words(rc));
  return rc == 0;
}

bool RendererControl::item(const std::vector<std::string> &w, Browser &browser, std::string &title,
                           std::string &url, std::string *protocol) {
  long n = 0;
  if (!w.empty() && is_url(w[0])) {
    url = w[0];
    for (size_t k = 1; k < w.size(); ++k) title += (k > 1 ? " " : "") + w[k];
    if (title.empty()) title = url.substr(url.rfind('/') + 1);
    return true;
  }
  if (w.size() != 1 || !parse_number(w[0], 1, 100000000, n)) {
    print_("error", "an entry number of the listing or a URL [TITLE] expected");
    return false;
  }
  BrowseEntry e;
  bool found = false;
  const uint32_t number = static_cast<uint32_t>(n);
  if (!(entry_source_ && entry_source_(number, e, &found))) found = browser.entry(number, e);
  if (!found) return false;
  if (e.container) {
    print_("error", "entry " + w[0] + " is a container (\"open " + w[0] + "\" goes into it)");
    return false;
  }
  if (e.url.empty()) {
    print_("error", "entry " + w[0] + " (\"" + e.title + "\") has no resource to play");
    return false;
  }
  title = e.title;
  url = e.url;
  if (protocol != nullptr) *protocol = e.protocol;
  return true;
}

bool RendererControl::refuses_format(const Device &r, const std::string &label, const std::string &title,
                                     const std::string &url, const std::string &protocol) {
  const std::string mime = item_mime(url, protocol);
  std::string sink;
  if (api_ != nullptr && api_->dmr_ioctl != nullptr && renderer_context(r)) {
    std::string list(256 * 1024, '\0');
    if (api_->dmr_ioctl(context_, "DMRGetSinkProtocolInfo", static_cast<uint32_t>(list.size()), &list[0]) == 0)
      sink = list.c_str();
  }
  if (sink.empty() || mime.empty() || sink_takes(sink, mime)) {
    print_("info", label + " may not take this format" + (mime.empty() ? "" : " (" + mime + ")") + "; trying anyway");
    return false;
  }
  print_("error", "play on " + label + " refused: \"" + title + "\" is " + mime + ", a format the renderer does not take; " +
                      formats_taken_words(sink, mime));
  return true;
}

void RendererControl::play(iZelControlPoint2XPCom *c, const std::vector<std::string> &w, const Device &r,
                           const std::string &label, Browser &browser, bool to_queue) {
  const char *usage = to_queue ? "usage: add N (an entry of the listing) | add URL [TITLE]"
                               : "usage: play N (an entry of the listing) | play URL [TITLE]";
  if (w.empty()) return print_("error", usage);
  std::string title, url, protocol;
  if (!is_url(w[0]) && !(w.size() == 1 && w[0].find_first_not_of("0123456789") == std::string::npos))
    return print_("error", usage);
  if (!item(w, browser, title, url, &protocol)) return;
  if (to_queue) {
    const char *names[] = {title.c_str()};
    const char *urls[] = {url.c_str()};
    nsresult rv = c->AddToQueue(r.bookmark.c_str(), 0, 1, names, urls);
    PRInt32 count = 0;
    if (NS_SUCCEEDED(rv)) c->GetNumItemsInQueue(r.bookmark.c_str(), &count);
    return said(rv, "added \"" + title + "\" to the queue (" + std::to_string(count) + " in it)", label);
  }
  PRInt32 can = 1;
  if (NS_SUCCEEDED(c->CanRendererPlayItem(r.bookmark.c_str(), url.c_str(), &can)) && can == 0 &&
      refuses_format(r, label, title, url, protocol))
    return;
  PRInt32 ok = 0;
  nsresult rv = c->PlayItem(r.bookmark.c_str(), 0, title.c_str(), url.c_str(), &ok);
  if (NS_SUCCEEDED(rv) && ok == 0)
    return print_("error", "play on " + label + " failed: the renderer is gone (no longer on the network)");
  said(rv, "play \"" + title + "\" asked (PLAYING follows when it starts)", label);
}

void RendererControl::seek(const std::string &where, const Device &r, const std::string &label) {
  long percent = 0;
  int64_t ms = -1;
  bool by_percent = !where.empty() && where.back() == '%' &&
                    parse_number(where.substr(0, where.size() - 1), 0, 100, percent);
  if (!by_percent) ms = parse_position(where);
  if (!by_percent && ms < 0) return print_("error", "usage: seek H:MM:SS | M:SS | SECONDS | N%");
  if (!renderer_context(r)) return;
  uint32_t rc = by_percent ? api_->dmr_seek_percent(context_, static_cast<uint32_t>(percent))
                           : api_->dmr_seek_time(context_, ms);
  if (rc != 0) return print_("error", "seek on " + label + " failed: " + nmc_result_words(rc));
  print_("renderer", label + ": seek to " + where + " done");
}

void RendererControl::state(iZelControlPoint2XPCom *c, const Device &r, const std::string &label) {
  char *word = nullptr;
  nsresult rv = c->GetRendererPlayState(r.bookmark.c_str(), &word);
  if (NS_FAILED(rv)) return said(rv, "state", label);
  std::string line = label + ": " + take(word);
  if (api_ != nullptr && renderer_context(r)) {
    uint32_t st = 0;
    char position[32] = "", duration[32] = "";
    if (api_->dmr_get_state(context_, &st, sizeof position, position, sizeof duration, duration) == 0 &&
        position[0] != '\0')
      line += std::string(" at ") + position + (duration[0] != '\0' ? std::string(" of ") + duration : "");
  }
  print_("renderer", line);
}

void RendererControl::playlists(iZelControlPoint2XPCom *c, const std::vector<std::string> &w, Browser &browser) {
  const char *usage = "usage: playlists | playlist new NAME | playlist add ID N|URL [TITLE] | playlist delete ID | "
                      "playlist publish";
  long id = 0;
  nsresult rv = NS_OK;
  if (w.empty()) {
    PRUint32 count = 0;
    char **list = nullptr;
    rv = c->GetPlaylistList(&count, &list);
    if (NS_FAILED(rv)) return print_("error", "playlists: " + slot_failure_words(rv));
    if (count == 0) print_("playlist", "no playlists yet (\"playlist new NAME\" makes one)");
    for (PRUint32 k = 0; k < count; ++k) print_("playlist", take(list[k]));
    NS_Free(list);
    return;
  }
  if (w[0] == "new" && w.size() >= 2) {
    std::string name;
    for (size_t k = 1; k < w.size(); ++k) name += (k > 1 ? " " : "") + w[k];
    PRUint32 made = 0;
    rv = c->CreatePlaylist(name.c_str(), 0, &made);
    if (NS_FAILED(rv)) return print_("error", "playlist new: " + slot_failure_words(rv));
    return print_("playlist", "made \"" + name + "\" (id " + std::to_string(made) + ")");
  }
  if (w[0] == "delete" && w.size() == 2 && parse_number(w[1], 0, 0x7FFFFFFF, id)) {
    rv = c->DeletePlaylist(static_cast<PRUint32>(id));
    if (NS_FAILED(rv)) return print_("error", "playlist delete " + w[1] + ": " + slot_failure_words(rv));
    return print_("playlist", "deleted " + w[1]);
  }
  if (w[0] == "add" && w.size() >= 3 && parse_number(w[1], 0, 0x7FFFFFFF, id)) {
    std::string title, url;
    if (!item(std::vector<std::string>(w.begin() + 2, w.end()), browser, title, url)) return;
    const char *names[] = {title.c_str()};
    const char *urls[] = {url.c_str()};
    rv = c->AddItemsToPlaylist(static_cast<PRUint32>(id), 1, names, urls);
    if (NS_FAILED(rv)) return print_("error", "playlist add: " + slot_failure_words(rv));
    return print_("playlist", "added \"" + title + "\" to playlist " + w[1]);
  }
  if (w[0] == "publish" && w.size() == 1) {
    rv = c->StartPlaylistServer();
    if (NS_FAILED(rv)) return print_("error", "playlist publish: " + slot_failure_words(rv));
    return print_("playlist", "the playlist server is starting (it appears in the server list when it answers)");
  }
  print_("error", usage);
}

bool RendererControl::run(iZelControlPoint2XPCom *c, const std::string &name, const std::vector<std::string> &w,
                          const Device *r, const std::string &label, Browser &browser) {
  if (!is_command(name)) return false;
  if (name == "playlists" || name == "playlist") {
    if (name == "playlists" && !w.empty()) print_("error", "usage: playlists");
    else playlists(c, w, browser);
    return true;
  }
  if (r == nullptr) {
    print_("error", "no renderer found yet (renderers are listed here as they answer; \"use rN\" picks one)");
    return true;
  }
  if (!r->present) {
    print_("error", label + " is gone (no longer on the network); \"use rN\" picks another");
    return true;
  }
  const char *bm = r->bookmark.c_str();
  if (name == "play" || name == "add") {
    play(c, w, *r, label, browser, name == "add");
  } else if (name == "pause") {
    said(c->Pause(bm), "pause asked", label);
  } else if (name == "resume") {
    said(c->Resume(bm), "resume asked", label);
  } else if (name == "stop") {
    said(c->StopRenderer(bm), "stop asked", label);
  } else if (name == "seek") {
    if (w.size() != 1) print_("error", "usage: seek H:MM:SS | M:SS | SECONDS | N%");
    else seek(w[0], *r, label);
  } else if (name == "vol" || name == "volume") {
    long v = 0;
    if (w.size() > 1 || (w.size() == 1 && !parse_number(w[0], 0, 100, v))) {
      print_("error", "usage: vol [0-100]");
    } else if (w.size() == 1) {
      nsresult rv = c->SetVolume(bm, static_cast<PRUint32>(v));
      said(rv, "volume set to " + w[0], label);
    } else {
      PRInt32 now = 0;
      nsresult rv = c->GetVolume(bm, &now);
      said(rv, "volume " + std::to_string(now), label);
    }
  } else if (name == "mute") {
    if (w.size() > 1 || (w.size() == 1 && w[0] != "on" && w[0] != "off" && w[0] != "1" && w[0] != "0")) {
      print_("error", "usage: mute [on|off]");
    } else if (w.size() == 1) {
      bool on = w[0] == "on" || w[0] == "1";
      said(c->SetMute(bm, on ? 1 : 0), on ? "muted" : "unmuted", label);
    } else {
      PRInt32 m = 0;
      nsresult rv = c->GetMute(bm, &m);
      said(rv, m ? "muted" : "not muted", label);
    }
  } else if (name == "state") {
    state(c, *r, label);
  } else if (name == "queue") {
    PRInt32 count = 0, index = -1;
    nsresult rv = c->GetNumItemsInQueue(bm, &count);
    if (NS_SUCCEEDED(rv)) rv = c->GetCurrentQueueIndex(bm, &index);
    said(rv, "queue of " + std::to_string(count) + (index >= 0 ? ", at entry " + std::to_string(index + 1) : ""),
         label);
  } else if (name == "next-track") {
    PRInt32 index = -1, ok = 0;
    nsresult rv = c->GetCurrentQueueIndex(bm, &index);
    if (NS_SUCCEEDED(rv)) rv = c->PlayIndex(bm, static_cast<PRUint32>(index + 1), &ok);
    if (NS_SUCCEEDED(rv) && ok == 0) print_("error", label + ": the queue has no entry after this one");
    else said(rv, "next entry of the queue asked", label);
  }
  return true;
}

}  // namespace host
