// SOAP actions against the lab's real media server and renderer (run through
// tests/lab/lab.sh run). The control point starts without its network stack
// and is given the lab's devices by their description URLs.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "base/upnp_ini_file.h"
#include "base/upnp_mem.h"
#include "base/upnp_thread.h"
#include "base/upnp_xml.h"
#include "base/upnp_xml_escape.h"
#include "cp/upnp_cp.h"
#include "cp/upnp_cp_internal.h"
#include "cp/upnp_soap.h"
#include "cp/upnp_soap_internal.h"
#include "cp_lab_util.h"
#include "http/http_settings.h"

using cp_lab::env;
using cp_lab::take;

namespace {

struct Entry {
  std::string kind, id, title, res;
};

// Entries of one Browse reply; TotalMatches into total.
std::vector<Entry> entries(upnp_xml_node *reply, unsigned *total) {
  std::vector<Entry> out;
  *total = upnp_xml_find_tag_value_uint(reply, "TotalMatches", 0);
  const char *result = upnp_xml_find_tag_value(reply, "Result");
  upnp_xml_node *doc = result ? upnp_xml_parse(result) : nullptr;
  for (upnp_xml_node *e = doc ? doc->children : nullptr; e; e = e->next) {
    if (!e->name) continue;
    const char *id = upnp_xml_find_attribute_value(e, "id");
    const char *title = upnp_xml_find_tag_value(e->children, "dc:title");
    const char *res = upnp_xml_find_tag_value(e->children, "res");
    out.push_back({e->name, id ? id : "", title ? title : "", res ? res : ""});
  }
  upnp_xml_release(doc);
  return out;
}

// Seconds of an H:MM:SS text.
int seconds(const std::string &hms) {
  int h = 0, m = 0, sec = 0;
  return std::sscanf(hms.c_str(), "%d:%d:%d", &h, &m, &sec) == 3 ? (h * 60 + m) * 60 + sec : -1;
}

class SoapLab : public cp_lab::LabDevices {
 protected:
  // All children of a container, page by page.
  static std::vector<Entry> browse_all(const std::string &id, unsigned page, int *pages) {
    std::vector<Entry> all;
    unsigned total = 0;
    *pages = 0;
    do {
      upnp_xml_node *reply = nullptr;
      int rc = upnp_control_browse(server_, id.c_str(), "*", static_cast<uint32_t>(all.size()), page, nullptr, &reply);
      EXPECT_EQ(0, rc) << upnp_get_errmsg(rc);
      if (rc) break;
      auto got = entries(reply, &total);
      upnp_xml_release(reply);
      ++*pages;
      if (got.empty()) break;
      all.insert(all.end(), got.begin(), got.end());
    } while (all.size() < total);
    EXPECT_EQ(total, all.size());
    return all;
  }

  static std::string container(const std::string &path) {
    std::string id = "0";
    size_t from = 0;
    while (from <= path.size()) {
      size_t slash = path.find('/', from);
      std::string title = path.substr(from, slash == std::string::npos ? std::string::npos : slash - from);
      int pages = 0;
      bool found = false;
      for (const Entry &e : browse_all(id, 200, &pages)) {
        if (e.kind == "container" && e.title == title) {
          id = e.id;
          found = true;
          break;
        }
      }
      if (!found) return "";
      if (slash == std::string::npos) break;
      from = slash + 1;
    }
    return id;
  }

  static std::string wait_state(const char *want, int seconds) {
    return cp_lab::wait_transport_state(renderer_, want, seconds);
  }
};

TEST_F(SoapLab, DevicesAreUsable) {
  ASSERT_GE(server_, 0);
  ASSERT_GE(renderer_, 0);
}

TEST_F(SoapLab, BrowseRootAndTheBulkContainerPageByPage) {
  ASSERT_GE(server_, 0);
  int pages = 0;
  std::set<std::string> titles;
  for (const Entry &e : browse_all("0", 50, &pages)) titles.insert(e.title);
  for (const char *t : {"Music", "Pictures", "Video", "Browse Folders"}) EXPECT_TRUE(titles.count(t)) << t;

  std::string bulk = container(env("LAB_BULK_PATH"));
  ASSERT_FALSE(bulk.empty());
  const size_t count = std::strtoul(env("LAB_BULK_COUNT").c_str(), nullptr, 10);
  for (unsigned page : {50u, 200u}) {
    auto items = browse_all(bulk, page, &pages);
    EXPECT_EQ(count, items.size());
    EXPECT_EQ((count + page - 1) / page, static_cast<size_t>(pages));
    std::set<std::string> ids, names;
    for (const Entry &e : items) {
      ids.insert(e.id);
      names.insert(e.title);
      EXPECT_EQ(0u, e.res.find("http://")) << e.title;
    }
    EXPECT_EQ(count, ids.size());
    EXPECT_EQ(count, names.size());
    EXPECT_TRUE(names.count("Bulk Track 0001"));
  }
}

TEST_F(SoapLab, TitlesWithMarkupAndNonAsciiArriveUnharmed) {
  ASSERT_GE(server_, 0);
  int pages = 0;
  std::set<std::string> titles;
  for (const Entry &e : browse_all(container("Music/All Music"), 100, &pages)) titles.insert(e.title);
  EXPECT_TRUE(titles.count("Rock & Roll <Live>"));
  EXPECT_TRUE(titles.count("\xc3\x9c" "n\xc3\xaf" "code T\xc3\xaf" "tle"));
}

TEST_F(SoapLab, SearchWhenSupported) {
  ASSERT_GE(server_, 0);
  char *caps = nullptr;
  ASSERT_EQ(0, upnp_cp_get_SearchCapabilities(server_, &caps));
  std::string c = take(caps);
  if (c.empty()) GTEST_SKIP() << "server offers no search";
  upnp_xml_node *reply = nullptr;
  ASSERT_EQ(0, upnp_control_search(server_, "0", "*", 0, 10, nullptr, "dc:title contains \"Roll\"", &reply));
  unsigned total = 0;
  auto got = entries(reply, &total);
  upnp_xml_release(reply);
  ASSERT_GE(got.size(), 1u);
  EXPECT_EQ("Rock & Roll <Live>", got[0].title);
}

TEST_F(SoapLab, ProtocolInfoOfServerAndRenderer) {
  ASSERT_GE(server_, 0);
  ASSERT_GE(renderer_, 0);
  char *info = nullptr;
  ASSERT_EQ(0, upnp_get_NonCachedProtocolInfo(server_, UPNP_KIND_SERVER, &info));
  EXPECT_NE(std::string::npos, take(info).find("http-get:*:audio/mpeg"));
  ASSERT_EQ(0, upnp_get_NonCachedProtocolInfo(renderer_, UPNP_KIND_RENDERER, &info));
  EXPECT_NE(std::string::npos, take(info).find("http-get:*:audio/"));
}

TEST_F(SoapLab, UpnpErrorsOfRealDevices) {
  ASSERT_GE(server_, 0);
  upnp_xml_node *reply = nullptr;
  int rc = upnp_control_browse_metadata(server_, "no-such-object", "*", nullptr, &reply);
  upnp_xml_release(reply);
  EXPECT_TRUE(rc == 701 || rc == 710) << rc;
  EXPECT_STRNE("Bad request", upnp_get_errmsg(rc));
}

TEST_F(SoapLab, RendererPlaysPausesSeeksAndStops) {
  ASSERT_GE(renderer_, 0);
  std::string url = cp_lab::http_url("media/music/tone-3s.wav");
  // Metadata with markup and non-ASCII text in the title must survive the trip.
  const std::string title = "Rock & Roll <Live> \"\xc3\x9c" "n\xc3\xaf" "code\"";
  char *et = upnp_xml_escape_cond(title.c_str(), 0);
  char *eu = upnp_xml_escape_cond(url.c_str(), 0);
  std::string meta =
      "<DIDL-Lite xmlns=\"urn:schemas-upnp-org:metadata-1-0/DIDL-Lite/\" xmlns:dc=\"http://purl.org/dc/elements/1.1/\" "
      "xmlns:upnp=\"urn:schemas-upnp-org:metadata-1-0/upnp/\"><item id=\"1\" parentID=\"0\" restricted=\"1\">"
      "<dc:title>" + take(et) + "</dc:title><upnp:class>object.item.audioItem.musicTrack</upnp:class>"
      "<res protocolInfo=\"http-get:*:audio/wav:*\">" + take(eu) + "</res></item></DIDL-Lite>";
  ASSERT_EQ(0, upnp_set_AVTransportURI(renderer_, url.c_str(), meta.c_str()));
  char *cur = nullptr, *cur_meta = nullptr;
  ASSERT_EQ(0, upnp_get_MediaInfo(renderer_, nullptr, nullptr, &cur, &cur_meta, nullptr, nullptr, nullptr, nullptr,
                                  nullptr));
  EXPECT_EQ(url, take(cur));
  upnp_xml_node *m = upnp_xml_parse(cur_meta);
  take(cur_meta);
  ASSERT_NE(nullptr, m);
  EXPECT_STREQ(title.c_str(), upnp_xml_find_tag_value(m, "dc:title"));
  upnp_xml_release(m);

  ASSERT_EQ(0, upnp_play(renderer_));
  EXPECT_EQ("PLAYING", wait_state("PLAYING", 10));
  EXPECT_EQ(0, upnp_pause(renderer_));
  EXPECT_EQ("PAUSED_PLAYBACK", wait_state("PAUSED_PLAYBACK", 5));
  EXPECT_EQ(0, upnp_control_seek_time(renderer_, 0, 1000));
  // The renderer takes any seek target, instance or connection; what it
  // refuses is an action it does not know (ConnectionManager actions are sent
  // without a look at the service description).
  upnp_soap_arg args[] = {{"ConnectionID", "99"}};
  upnp_string *reply = nullptr;
  int bad = invokeSoapAction2(renderer_, UPNP_KIND_RENDERER, UPNP_SERVICE_CM, 0, "SeekConnection",
                              upnp_soap_envelope(UPNP_SERVICE_CM, "SeekConnection", args, 1), &reply);
  EXPECT_EQ(501, bad) << upnp_string_get_cstring(reply);
  EXPECT_STREQ("Action Failed", upnp_get_errmsg(bad));
  upnp_string_free(reply);
  EXPECT_EQ(0, upnp_stop(renderer_));
  EXPECT_EQ("STOPPED", wait_state("STOPPED", 5));
}

// Invalid seeks on the real renderer, paused in a 30 s track. gmediarender
// refuses no Seek: it answers an empty SeekResponse whatever the unit and
// target. A unit its service description does not offer is ignored; a target
// past the end becomes its position, beyond the track's duration. What comes
// back through our layer is that success and those positions; a unit we do
// not know and an empty target are refused before any traffic.
TEST_F(SoapLab, InvalidSeeksComeBackAsTheRendererAnswersThem) {
  ASSERT_GE(renderer_, 0);
  char modes[512] = "";
  ASSERT_EQ(0, upnp_control_getSupportedSeekModes(renderer_, sizeof modes, modes));
  EXPECT_EQ(nullptr, std::strstr(modes, "X_DLNA_REL_BYTE")) << modes;
  std::string url = cp_lab::http_url("media/music/Alpha%20Artist/First%20Album/03%20-%20Long%20Tone.mp3");
  ASSERT_EQ(0, upnp_set_AVTransportURI(renderer_, url.c_str(), nullptr));
  ASSERT_EQ(0, upnp_play(renderer_));
  ASSERT_EQ("PLAYING", wait_state("PLAYING", 10));
  auto position = [&] {
    char *text = nullptr;
    return upnp_getposition(renderer_, &text) == 0 ? seconds(take(text)) : -1;
  };
  // Paused once it plays for real, so that position and duration are known.
  for (int i = 0; i < 100 && position() < 1; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  ASSERT_EQ(0, upnp_pause(renderer_));
  ASSERT_EQ("PAUSED_PLAYBACK", wait_state("PAUSED_PLAYBACK", 5));
  const int paused_at = position();
  ASSERT_GE(paused_at, 1);
  char *duration = nullptr;
  ASSERT_EQ(0, upnp_getduration(renderer_, &duration));
  const int length = seconds(take(duration));
  EXPECT_NEAR(length, 30, 1);
  const struct {
    const char *what;
    unsigned unit;
    const char *target;
    int rc;
    const char *text;
    int at;  // position afterwards
  } cases[] = {{"unit not offered", UPNP_SEEK_X_DLNA_REL_BYTE, "100", 0, "No error", paused_at},
               {"past the end", UPNP_SEEK_REL_TIME, "01:00:00", 0, "No error", 3600},
               {"unit unknown to us", 11, "1", 2, "Invalid parameter", 3600},
               {"empty target", UPNP_SEEK_REL_TIME, "", 2, "Invalid parameter", 3600}};
  for (const auto &c : cases) {
    int rc = upnp_control_seek(renderer_, c.unit, c.target);
    EXPECT_EQ(c.rc, rc) << c.what;
    EXPECT_STREQ(c.text, upnp_get_errmsg(rc)) << c.what;
    for (int i = 0; i < 20 && position() != c.at; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(c.at, position()) << c.what;
    EXPECT_EQ("PAUSED_PLAYBACK", wait_state("PAUSED_PLAYBACK", 1)) << c.what;
  }
  EXPECT_EQ(static_cast<int>(UPNP_CP_STATE_READY), upnp_control_get_device_state(renderer_, UPNP_KIND_RENDERER));
  EXPECT_EQ(0, upnp_stop(renderer_));
}

TEST_F(SoapLab, VolumeAndMuteReadBack) {
  ASSERT_GE(renderer_, 0);
  for (unsigned v : {37u, 12u}) {
    ASSERT_EQ(0, upnp_set_Volume(renderer_, v));
    unsigned got = 0;
    ASSERT_EQ(0, upnp_cp_getVolume(renderer_, &got));
    EXPECT_EQ(v, got);
  }
  for (int on : {1, 0}) {
    ASSERT_EQ(0, upnp_set_Mute(renderer_, on));
    EXPECT_EQ(on, upnp_getmute(renderer_));
  }
}

// Keeps a peer stopped (SIGSTOP) for its lifetime.
class PausedPeer {
 public:
  explicit PausedPeer(int group) : group_(group) {
    if (group_ > 0) kill(-group_, SIGSTOP);
  }
  ~PausedPeer() { resume(); }
  // A stop signal takes effect asynchronously, thread by thread: true once
  // every thread of the group's leader is stopped (state T), within 3 s.
  bool stopped() const {
    if (group_ <= 0) return false;
    const std::string tasks = "/proc/" + std::to_string(group_) + "/task";
    for (int tries = 0; tries < 300; ++tries) {
      DIR *dir = opendir(tasks.c_str());
      if (dir == nullptr) return false;
      bool all = true;
      int seen = 0;
      while (dirent *e = readdir(dir)) {
        if (e->d_name[0] == '.') continue;
        std::ifstream stat(tasks + "/" + e->d_name + "/stat");
        std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
        size_t close = text.rfind(')');
        if (close == std::string::npos || close + 2 >= text.size()) continue;
        ++seen;
        if (text[close + 2] != 'T' && text[close + 2] != 't') all = false;
      }
      closedir(dir);
      if (all && seen > 0) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }
  void resume() {
    if (group_ > 0) kill(-group_, SIGCONT);
    group_ = 0;
  }

 private:
  int group_;
};

TEST_F(SoapLab, RendererThatStopsAnsweringIsInvalidatedAndComesBack) {
  ASSERT_GE(renderer_, 0);
  int group = cp_lab::peer_group("renderer1");
  ASSERT_GT(group, 0);
  unsigned old_timeout = HTTP_set_soap_timeout(2);
  {
    PausedPeer paused(group);
    ASSERT_TRUE(paused.stopped()) << "renderer1 (process group " << group << ") did not stop";
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(UPNP_E_NO_RESPONSE, upnp_stop(renderer_));
    // A failure after the time-out is not retried.
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(3500));
    EXPECT_EQ(static_cast<int>(UPNP_CP_STATE_INVALIDATED),
              upnp_control_get_device_state(renderer_, UPNP_KIND_RENDERER));
    EXPECT_EQ(UPNP_E_DEVICE_GONE, upnp_stop(renderer_));
    paused.resume();
  }
  HTTP_set_soap_timeout(old_timeout);
  // Its next announcement makes it usable again, at the same index.
  EXPECT_EQ(renderer_, cp_lab::add_and_wait_usable(env("LAB_RENDERER_DESC"), env("LAB_RENDERER_UDN"), UPNP_KIND_RENDERER));
  EXPECT_EQ(0, upnp_stop(renderer_));
}

}  // namespace
