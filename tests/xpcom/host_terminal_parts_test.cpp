// Parts of kestrel-host's terminal mode without a network: the numbered
// device lists as devices come, go and come back; paging of a listing over
// a fake server context (page bounds, the last page, a cancelled listing,
// an item that is not a container); positions for seek; progress lines.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "host_browse.h"
#include "host_control.h"
#include "host_devices.h"
#include "host_first_start.h"
#include "host_nmc_api.h"
#include "host_publish.h"

namespace {

using host::DeviceList;

TEST(HostDeviceList, NumbersStayWithTheirDevicesAsTheyComeAndGo) {
  struct Step {
    std::vector<std::string> infos;
    std::vector<std::string> changes;
  };
  const Step steps[] = {
      {{"Server A^bmA^x^1", "Server B^bmB^x^1"}, {"added s1 Server A", "added s2 Server B"}},
      {{"Server B^bmB^x^1"}, {"gone s1 Server A"}},
      {{"Server B^bmB", "Server C^bmC"}, {"added s3 Server C"}},
      {{"Server A2^bmA", "Server B^bmB", "Server C^bmC"}, {"back s1 Server A2"}},
      {{"Server B renamed^bmB", "Server A2^bmA", "Server C^bmC", "Server C^bmC"}, {"renamed s2 Server B renamed"}},
      {{"no bookmark", "^", "Server A2^bmA", "Server B renamed^bmB", "Server C^bmC"}, {}},
      {{}, {"gone s1 Server A2", "gone s2 Server B renamed", "gone s3 Server C"}},
  };
  DeviceList list("s");
  int k = 0;
  for (const Step &s : steps) {
    EXPECT_EQ(list.update(s.infos), s.changes) << "step " << k;
    ++k;
  }
  EXPECT_EQ(list.present_count(), 0u);
  EXPECT_EQ(list.first_present(), nullptr);
  ASSERT_NE(list.find("s2"), nullptr);
  EXPECT_EQ(list.find("s2")->bookmark, "bmB");
  EXPECT_EQ(list.find("3")->bookmark, "bmC");
  EXPECT_EQ(list.find("Server A2")->number, 1);
  for (const char *none : {"s4", "s0", "0", "r1", "s", "", "s99999999999", "Server"})
    EXPECT_EQ(list.find(none), nullptr) << none;
}

TEST(HostSeekPosition, ClockTextsAndSeconds) {
  const struct {
    const char *text;
    long long ms;
  } rows[] = {{"0", 0},        {"75", 75000},      {"1:02", 62000},  {"1:02:03", 3723000}, {"0:00:59", 59000},
              {"1:60", -1},    {"1:2:60", -1},     {"1:02:03:04", -1}, {":10", -1},        {"10:", -1},
              {"1::2", -1},    {"-5", -1},         {"5s", -1},       {"", -1},             {"99999999999999999", -1}};
  for (const auto &r : rows) EXPECT_EQ(host::parse_position(r.text), r.ms) << r.text;
}

TEST(HostProgress, CountsRateAndTimeLeft) {
  EXPECT_EQ(host::progress_words(0, 2000, 0, "entries"), "0 of 2000 entries");
  EXPECT_EQ(host::progress_words(500, 2000, 2.0, "entries"), "500 of 2000 entries, 250/s, about 6 s left");
  EXPECT_EQ(host::progress_words(2000, 2000, 4.0, "entries"), "2000 of 2000 entries, 500/s");
}

TEST(HostProgress, ATotalNotKnownGivesCountAndRate) {
  EXPECT_EQ(host::progress_words(3000, 0, 2.0, "bytes"), "3000 bytes, 1500/s");
  EXPECT_EQ(host::progress_words(0, 0, 0, "bytes"), "0 bytes");
}

TEST(HostPublish, EntriesOfAPlaylistLine) {
  const struct {
    const char *line;
    uint32_t entries;
  } rows[] = {{"Mix|MUSIC|1|a~http://x/a.mp3|b~http://x/b.mp3", 2}, {"Photos|PHOTO|3", 0}, {"", 0}, {"odd", 0}};
  for (const auto &r : rows) EXPECT_EQ(host::playlist_entry_count(r.line), r.entries) << r.line;
}

// The first-start notes: a missing settings file (with where it will be
// written) and a missing device information file beside the library.
TEST(HostFirstStart, MissingFilesAreSaidInWords) {
  const std::string dir = testing::TempDir() + "host_first_start";
  mkdir(dir.c_str(), 0700);
  mkdir((dir + "/LumetMedia").c_str(), 0700);
  const std::string settings = dir + "/LumetMedia/LumetPluginSettings.ini";
  const std::string library = dir + "/libkestrel64.so";
  setenv("KESTREL_APP_SUPPORT_DIR", dir.c_str(), 1);
  const std::string no_settings = "no settings file yet: defaults used, saved at " + settings + " on the first change";
  const std::string no_devices =
      "no device information file (" + dir + "/deviceinfo.xml): devices are shown with their own names";
  const struct {
    bool settings, devices;
    std::vector<std::string> notes;
  } rows[] = {{false, false, {no_settings, no_devices}},
              {true, false, {no_devices}},
              {false, true, {no_settings}},
              {true, true, {}}};
  for (const auto &r : rows) {
    std::remove(settings.c_str());
    std::remove((dir + "/deviceinfo.xml").c_str());
    if (r.settings) std::fclose(std::fopen(settings.c_str(), "w"));
    if (r.devices) std::fclose(std::fopen((dir + "/deviceinfo.xml").c_str(), "w"));
    EXPECT_EQ(host::first_start_notes(library), r.notes) << r.settings << r.devices;
  }
  unsetenv("KESTREL_APP_SUPPORT_DIR");
  setenv("XDG_DATA_HOME", "/x", 1);
  EXPECT_EQ(host::settings_file_path(), "/x/LumetMedia/LumetPluginSettings.ini");
  unsetenv("XDG_DATA_HOME");
}

TEST(HostResultWords, SayWhatFailedWithTheCode) {
  EXPECT_EQ(host::nmc_result_words(9).find("not found"), 0u);
  EXPECT_NE(host::nmc_result_words(9).find("(code 9)"), std::string::npos);
  EXPECT_EQ(host::nmc_result_words(714), "the renderer does not take this format (code 714)");
  EXPECT_EQ(host::nmc_result_words(718), "the device refused with UPnP error 718");
  EXPECT_EQ(host::nmc_result_words(12345), "controller error 12345");
}

// A fake server context: a root with a container and an item, the container
// holding `g_items` items.
struct FakeServer {
  uint32_t items = 45;
  int depth = 0;  // 0 server list, 1 root, 2 the container
  uint32_t cursor = 0;
  int reads = 0;     // go_index calls
  int delay_ms = 0;  // each go_index takes this long (a slow server)
} g_fake;

uint32_t count_here() { return g_fake.depth == 1 ? 2 : g_fake.depth == 2 ? g_fake.items : 1; }
uint32_t f_create(uint32_t *c) { *c = 7; return 0; }
uint32_t f_delete(uint32_t) { return 0; }
uint32_t f_home(uint32_t) { g_fake.depth = 0; return 0; }
uint32_t f_go_index(uint32_t, uint32_t i) {
  ++g_fake.reads;
  if (g_fake.delay_ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(g_fake.delay_ms));
  if (i >= count_here()) return 1;
  g_fake.cursor = i;
  return 0;
}
uint32_t f_count(uint32_t, uint32_t *n) { *n = count_here(); return 0; }
uint32_t f_is_dir(uint32_t, uint32_t *d) {
  *d = g_fake.depth == 0 || (g_fake.depth == 1 && g_fake.cursor == 0);
  return 0;
}
uint32_t f_go_dir(uint32_t c) {
  uint32_t d = 0;
  f_is_dir(c, &d);
  if (!d) return 7;
  ++g_fake.depth;
  g_fake.cursor = 0;
  return 0;
}
uint32_t f_parent(uint32_t) {
  if (g_fake.depth == 0) return 9;
  --g_fake.depth;
  return 0;
}
uint32_t f_level(uint32_t, uint32_t *d) { *d = static_cast<uint32_t>(g_fake.depth); return 0; }
uint32_t f_levelname(uint32_t, uint32_t size, char *b) {
  std::snprintf(b, size, "%s", g_fake.depth == 2 ? "Many" : "Root");
  return 0;
}
uint32_t f_bookmark(uint32_t, const char *bm) { return std::strcmp(bm, "srv") == 0 ? (g_fake.depth = 0, 0) : 9; }
uint32_t f_extract(uint32_t, const char *key, uint32_t, uint32_t size, char *b) {
  std::string v;
  if (std::strcmp(key, "Title") == 0)
    v = g_fake.depth == 1 ? (g_fake.cursor == 0 ? "Many" : "Lone song") : "t" + std::to_string(g_fake.cursor + 1);
  else if (std::strcmp(key, "Resource") == 0)
    v = "http://x/" + std::to_string(g_fake.cursor + 1);
  std::snprintf(b, size, "%s", v.c_str());
  return 0;
}

host::NmcApi fake_api() {
  host::NmcApi a;
  a.dms_create = f_create;
  a.dms_delete = f_delete;
  a.dms_go_home = f_home;
  a.dms_go_index = f_go_index;
  a.dms_get_count = f_count;
  a.dms_is_directory = f_is_dir;
  a.dms_go_directory = f_go_dir;
  a.dms_go_parent = f_parent;
  a.dms_get_level = f_level;
  a.dms_get_levelname = f_levelname;
  a.dms_go_bookmark = f_bookmark;
  a.dms_extract = f_extract;
  return a;
}

struct Lines {
  std::vector<std::string> all;
  std::vector<std::string> of(const char *kind) const {
    std::vector<std::string> out;
    for (const std::string &l : all)
      if (l.compare(0, std::strlen(kind) + 1, std::string(kind) + ":") == 0) out.push_back(l.substr(std::strlen(kind) + 2));
    return out;
  }
};

TEST(HostBrowser, PagesOfAListing) {
  g_fake = FakeServer();
  host::NmcApi api = fake_api();
  Lines lines;
  host::Browser b(api, [&](const char *kind, const std::string &text) { lines.all.push_back(std::string(kind) + ": " + text); });
  b.set_page_size(20);
  b.show();
  EXPECT_EQ(lines.of("error").size(), 1u) << "nothing open yet";
  EXPECT_FALSE(b.open_server("gone", "Gone"));
  ASSERT_TRUE(b.open_server("srv", "Fake"));
  EXPECT_EQ(lines.of("entry"), (std::vector<std::string>{"1 [dir] Many", "2       Lone song"}));
  EXPECT_FALSE(b.enter(2)) << "an item is not a container";
  EXPECT_FALSE(b.enter(3));
  ASSERT_TRUE(b.enter(1));

  struct Row {
    const char *command;
    const char *first;  // first entry line of the page
    const char *last_browse;
  };
  const Row rows[] = {
      {"", "1       t1", "entries 1-20 of 45 (page 1 of 3; \"next\" for more)"},
      {"next", "21       t21", "entries 21-40 of 45 (page 2 of 3; \"next\" for more)"},
      {"next", "41       t41", "entries 41-45 of 45 (page 3 of 3)"},
      {"next", nullptr, "this is the last page"},
      {"prev", "21       t21", "entries 21-40 of 45 (page 2 of 3; \"next\" for more)"},
      {"page 45", "41       t41", "entries 41-45 of 45 (page 3 of 3)"},
      {"page 0", "1       t1", "entries 1-20 of 45 (page 1 of 3; \"next\" for more)"},
      {"prev", nullptr, "this is the first page"},
      {"page 999", "41       t41", "entries 41-45 of 45 (page 3 of 3)"},
  };
  for (const Row &r : rows) {
    lines.all.clear();
    std::string c = r.command;
    if (c == "next") b.next();
    else if (c == "prev") b.previous();
    else if (c.compare(0, 5, "page ") == 0) b.page_at(static_cast<uint32_t>(std::stoul(c.substr(5))));
    else b.show();
    std::vector<std::string> entries = lines.of("entry");
    if (r.first == nullptr) {
      EXPECT_TRUE(entries.empty()) << c;
    } else {
      ASSERT_FALSE(entries.empty()) << c;
      EXPECT_EQ(entries.front(), r.first) << c;
    }
    ASSERT_FALSE(lines.of("browse").empty()) << c;
    EXPECT_EQ(lines.of("browse").back(), r.last_browse) << c;
  }

  host::BrowseEntry e;
  ASSERT_TRUE(b.entry(45, e));
  EXPECT_EQ(e.title, "t45");
  EXPECT_EQ(e.url, "http://x/45");
  EXPECT_FALSE(e.container);
  EXPECT_FALSE(b.entry(46, e));
  EXPECT_FALSE(b.entry(0, e));
  EXPECT_TRUE(b.up());
  EXPECT_FALSE(b.up()) << "the root is as far up as a server goes";
}

TEST(HostBrowser, ACancelledListingStopsAtOnce) {
  g_fake = FakeServer();
  g_fake.items = 5000;
  host::NmcApi api = fake_api();
  Lines lines;
  host::Browser b(api, [&](const char *kind, const std::string &text) { lines.all.push_back(std::string(kind) + ": " + text); });
  ASSERT_TRUE(b.open_server("srv", "Fake"));
  ASSERT_TRUE(b.enter(1));
  int asked = 0;
  b.set_cancel([&] { return ++asked > 100; });
  lines.all.clear();
  g_fake.reads = 0;
  b.show_all();
  EXPECT_EQ(lines.of("entry").size(), 100u);
  EXPECT_EQ(g_fake.reads, 100);
  ASSERT_FALSE(lines.of("browse").empty());
  EXPECT_EQ(lines.of("browse").back(), "listing cancelled after 100 of 5000 entries");
}

TEST(HostBrowser, ASlowListingReportsItsProgress) {
  g_fake = FakeServer();
  g_fake.items = 30;
  host::NmcApi api = fake_api();
  Lines lines;
  host::Browser b(api, [&](const char *kind, const std::string &text) { lines.all.push_back(std::string(kind) + ": " + text); });
  ASSERT_TRUE(b.open_server("srv", "Fake"));
  ASSERT_TRUE(b.enter(1));
  lines.all.clear();
  g_fake.delay_ms = 50;  // 30 entries: 1.5 s
  b.show_all();
  std::vector<std::string> progress = lines.of("progress");
  ASSERT_FALSE(progress.empty());
  EXPECT_EQ(progress.front().rfind("loading ", 0), 0u) << progress.front();
  EXPECT_NE(progress.front().find(" of 30 entries, "), std::string::npos) << progress.front();
  EXPECT_NE(progress.front().find(" s left"), std::string::npos) << progress.front();
  EXPECT_EQ(lines.of("entry").size(), 30u);
}

}  // namespace
