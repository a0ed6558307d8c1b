// Benchmark in the lab: saving and publishing a 1,000-entry playlist to the
// crafted local playlist server (file written, the copy uploaded through the
// controller and the server's final answer read, the previous copy deleted),
// beside curl posting the same WPL bytes to the same server's import address
// (the reference); best of three rounds each, and the ratio (target at most
// 1.5). Also: loading 200 playlist files of 20 entries at start. The crafted
// server is started here through lab.sh and stopped again when it was not
// running before.
// Usage: bench_playlists LAB_SH
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "base/upnp_mem.h"
#include "media/zel_control_point.h"
#include "media/zel_media_item_playlist.h"
#include "support_curl.h"
#include "support_files.h"

namespace {

using Clock = std::chrono::steady_clock;

double since(Clock::time_point begin) { return std::chrono::duration<double>(Clock::now() - begin).count(); }

ZelMediaItemPlaylist *make(const char *name, int entries, const std::string &base) {
  ZelMediaItemPlaylist *p = ZelMediaItemPlaylist::AllocateZelMediaItemPlaylist(name, MT_MUSIC);
  for (int i = 0; i < entries; ++i) {
    std::string title = "Track " + std::to_string(i) + " & <Lab> \"Café\"";
    std::string url = base + "media/music/tone-3s.wav?n=" + std::to_string(i) + "&x=1";
    p->AddItem(ZelUrlMediaItem2::AllocateZelUrlMediaItem2(title.c_str(), MT_MUSIC, MO_URL, url.c_str()), -1);
  }
  return p;
}

int run(const std::string &server) {
  ZelControlPoint2::Init();
  ZelControlPoint2 *cp = ZelControlPoint2::GetInstance();
  if (cp == nullptr) {
    std::printf("the controller did not start\n");
    return 1;
  }
  auto deadline = Clock::now() + std::chrono::seconds(20);
  while (cp->HoldLocalPlaylistServer(false) == nullptr && Clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  if (cp->HoldLocalPlaylistServer(false) == nullptr) {
    std::printf("no local playlist server within 20 s\n");
    return 1;
  }
  const char *files = getenv("LAB_HTTP_URL");
  ZelMediaItemPlaylistList *list = cp->GetLocalPlaylistList();
  ZelMediaItemPlaylist *big = make("Bench 1000", 1000, files != nullptr ? files : "http://169.254.77.1:8080/");
  list->AddPlaylist(big);
  double ours = -1;
  for (int round = 0; round < 3; ++round) {
    auto begin = Clock::now();
    if (!big->Save(true, true)) {
      std::printf("save and publish failed\n");
      return 1;
    }
    double s = since(begin);
    if (ours < 0 || s < ours) ours = s;
  }
  // The same bytes to the import address of the copy just published.
  std::string bookmark = big->GetPlaylistBookmarkOnServer();
  // "<udn>,<object id>[,...]"
  size_t comma = bookmark.find(',');
  std::string id = comma == std::string::npos ? "" : bookmark.substr(comma + 1);
  id = id.substr(0, id.find(','));
  double reference = -1;
  for (int round = 0; round < 3; ++round) {
    double s = test_support::run_curl_chain({"curl", "--silent", "--show-error", "--fail", "-o", "/dev/null", "-w",
                                             "%{time_total}\n", "-H", "Content-Type: application/vnd.ms-wpl",
                                             "--data-binary", std::string("@") + big->GetFilePath(),
                                             server + "/import/" + id});
    if (s < 0) {
      std::printf("curl failed\n");
      return 1;
    }
    if (reference < 0 || s < reference) reference = s;
  }
  // What the file alone costs: the same playlist with no server to publish to.
  ZelMediaItemPlaylist *alone = make("Bench 1000 alone", 1000, "http://169.254.77.1:8080/");
  alone->SetServerBookmark("uuid:no-such-server,0");
  double file = -1;
  for (int round = 0; round < 3; ++round) {
    auto begin = Clock::now();
    (void)alone->Save(true, true);
    double s = since(begin);
    if (file < 0 || s < file) file = s;
  }
  (void)alone->Delete();
  delete alone;
  std::printf("save+publish 1000 entries: %.4f s (of which the file alone %.4f s); curl posting the same %s: "
              "%.4f s; ratio %.2f (target <= 1.5)\n",
              ours, file, big->GetFilePath(), reference, ours / reference);
  list->RemovePlaylist(big);

  // 200 files at start.
  test_support::TempDir second("bench_playlists_load");
  setenv("KESTREL_APP_SUPPORT_DIR", second.path().c_str(), 1);
  ZelMediaItemPlaylistList::Cleanup();
  for (int i = 0; i < 200; ++i) {
    std::string name = "Load " + std::to_string(i);
    ZelMediaItemPlaylist *p = make(name.c_str(), 20, "http://169.254.77.1:8080/");
    p->SetServerBookmark("uuid:no-such-server,0");  // the files only
    (void)p->Save(true, true);
    delete p;
  }
  ZelMediaItemPlaylistList::Cleanup();
  auto begin = Clock::now();
  ZelMediaItemPlaylistList *loaded = ZelMediaItemPlaylistList::LoadListFromDisk();
  double load = since(begin);
  std::printf("loading 200 playlist files of 20 entries: %.4f s (%u playlists)\n", load, loaded->Count());
  return loaded->Count() == 200 ? 0 : 1;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 2) return 2;
  upnp_mem_init();
  if (system("curl --version >/dev/null 2>&1") != 0) {
    std::printf("curl not found: reference missing, benchmark skipped\n");
    return 77;
  }
  const char *server = getenv("LAB_PLAYLIST_SERVER_URL");
  if (server == nullptr) return 2;
  const std::string lab = argv[1];
  const bool running = getenv("LAB_PLAYLIST_SERVER") != nullptr && std::string(getenv("LAB_PLAYLIST_SERVER")) == "1";
  if (!running && system((lab + " start playlistserver >/dev/null 2>&1").c_str()) != 0) {
    std::printf("the crafted playlist server did not start\n");
    return 1;
  }
  int rc = 0;
  {
    test_support::TempDir app("bench_playlists");
    setenv("KESTREL_APP_SUPPORT_DIR", app.path().c_str(), 1);
    rc = run(server);
    ZelControlPoint2::Cleanup();
  }
  if (!running) (void)system((lab + " stop playlistserver >/dev/null 2>&1").c_str());
  return rc;
}
