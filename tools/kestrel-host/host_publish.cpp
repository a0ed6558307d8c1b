// Publishing playlists and loading a music list, shown as they go.
#include "host_publish.h"

#include <chrono>
#include <cstdio>

#include "host_control.h"
#include "xpcom_memory.h"

namespace host {

namespace {

using Clock = std::chrono::steady_clock;

double since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

std::string seconds_text(double seconds) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1f s", seconds);
  return buf;
}

// "Title^bookmark^artist^album^genre": the title, and " - artist" when known.
std::string music_words(const std::string &info) {
  size_t a = info.find('^');
  std::string title = info.substr(0, a);
  size_t b = a == std::string::npos ? a : info.find('^', a + 1);
  size_t c = b == std::string::npos ? b : info.find('^', b + 1);
  std::string artist = b == std::string::npos ? std::string() : info.substr(b + 1, c == std::string::npos ? c : c - b - 1);
  return artist.empty() ? title : title + " - " + artist;
}

}  // namespace

uint32_t playlist_entry_count(const std::string &line) {
  uint32_t fields = 1;
  for (char ch : line) fields += ch == '|';
  return fields > 3 ? fields - 3 : 0;
}

void publish_playlists(iZelControlPoint2XPCom *c, const SlowWork &work, const std::function<size_t()> &servers,
                       int wait_ms) {
  PRUint32 count = 0;
  char **list = nullptr;
  nsresult rv = c->GetPlaylistList(&count, &list);
  if (NS_FAILED(rv)) return work.print("error", "playlist publish: the playlists cannot be read: " + slot_failure_words(rv));
  uint32_t entries = 0;
  for (PRUint32 k = 0; k < count; ++k) {
    entries += playlist_entry_count(list[k] != nullptr ? list[k] : "");
    NS_Free(list[k]);
  }
  NS_Free(list);
  const std::string what = std::to_string(count) + " playlist(s), " + std::to_string(entries) +
                           (entries == 1 ? " entry" : " entries");
  const size_t before = servers();
  const auto start = Clock::now();
  work.print("playlist", "publishing " + what + " to the local playlist server (Ctrl-C stops waiting)");
  rv = c->StartPlaylistServer();
  if (NS_FAILED(rv)) return work.print("error", "playlist publish: the playlist server cannot be started: " +
                                                    slot_failure_words(rv));
  auto next = start + std::chrono::milliseconds(work.progress_ms);
  for (;;) {
    if (servers() > before) {
      return work.print("playlist", "published " + what + ": a new server answered after " + seconds_text(since(start)) +
                                        " (\"list\" shows it)");
    }
    if (since(start) * 1000 >= wait_ms) {
      return work.print("playlist", "no new server within " + seconds_text(since(start)) +
                                        ": a local playlist server already listed holds the playlists, or it is "
                                        "still starting (\"list\" shows the servers)");
    }
    if (work.wait(100)) {
      return work.print("playlist", "stopped waiting after " + seconds_text(since(start)) +
                                        "; the playlist server still starts and takes the " + what + " when it answers");
    }
    if (Clock::now() >= next) {
      next = Clock::now() + std::chrono::milliseconds(work.progress_ms);
      work.print("progress", "publishing " + what + ": waiting for the playlist server, " + seconds_text(since(start)));
    }
  }
}

void load_music(iZelControlPoint2XPCom *c, const SlowWork &work, const std::string &bookmark,
                const std::string &label) {
  work.print("music", "loading the music list of " + label + " (Ctrl-C stops)");
  const auto start = Clock::now();
  PRInt32 total = 0;
  nsresult rv = c->GetNumMusicItems(bookmark.c_str(), &total);
  if (NS_FAILED(rv)) return work.print("error", "music of " + label + ": " + slot_failure_words(rv));
  if (total <= 0) return work.print("music", label + " offers no music list (the component lists music of local servers)");
  auto last = start;
  for (PRInt32 i = 0; i < total; ++i) {
    if (work.wait(0)) {
      return work.print("music", "loading cancelled after " + std::to_string(i) + " of " + std::to_string(total) +
                                     " items");
    }
    char *info = nullptr;
    rv = c->GetMusicItem(bookmark.c_str(), i, &info);
    std::string text = info != nullptr ? info : "";
    NS_Free(info);
    if (NS_FAILED(rv)) {
      return work.print("error", "music item " + std::to_string(i + 1) + " of " + label + " cannot be read: " +
                                     slot_failure_words(rv) + " (" + std::to_string(i) + " loaded)");
    }
    work.print("entry", std::to_string(i + 1) + "       " + music_words(text));
    if (std::chrono::duration<double>(Clock::now() - last).count() * 1000 >= work.progress_ms) {
      last = Clock::now();
      work.print("progress", "music " + progress_words(static_cast<uint32_t>(i + 1), static_cast<uint32_t>(total),
                                                       since(start), "items"));
    }
  }
  work.print("music", "all " + std::to_string(total) + " items of " + label + " loaded in " + seconds_text(since(start)));
}

}  // namespace host
