// The playlist store: handles, the same-title rule, properties, the per-item
// cache and the item operations.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>

#include "base/upnp_exit.h"
#include "support_log_file.h"
#include "wpl_test_util.h"

namespace {

using Srcs = std::vector<std::string>;

TEST(WplStore, SameTitleAndTypeGiveTheSameHandleOtherTypesANewOne) {
  uint32_t a = 0, b = 0, c = 0;
  ASSERT_EQ(0, upnp_wpl_create_playlist("Same", 1, 1, nullptr, nullptr, &a));
  ASSERT_EQ(0, upnp_wpl_create_playlist("Same", 1, 0, "gen", nullptr, &b));
  ASSERT_EQ(0, upnp_wpl_create_playlist("Same", 2, 1, nullptr, nullptr, &c));
  EXPECT_NE(0u, a);
  EXPECT_EQ(a, b);
  EXPECT_NE(a, c);
  // Without replacing, the existing record keeps its generator.
  char *gen = nullptr;
  ASSERT_EQ(0, upnp_wpl_get_playlist_properties(a, nullptr, nullptr, nullptr, &gen, nullptr, nullptr, nullptr));
  EXPECT_EQ("<none>", take_text(gen));
  upnp_wpl_delete_playlist(a);
  upnp_wpl_delete_playlist(c);
}

TEST(WplStore, ServerSourceWinsOverAnExistingPlaylist) {
  uint32_t a = 0, b = 0;
  ASSERT_EQ(0, upnp_wpl_create_playlist("FromServer", 1, 1, nullptr, nullptr, &a));
  ASSERT_EQ(0, upnp_wpl_create_playlist("FromServer", 1, 3, nullptr, nullptr, &b));
  ASSERT_EQ(a, b);
  int source = -1;
  ASSERT_EQ(0, upnp_wpl_get_playlist_properties(a, nullptr, nullptr, &source, nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(3, source);
  upnp_wpl_delete_playlist(a);
}

TEST(WplStore, DeletedHandlesAreNeverGivenOutAgain) {
  std::vector<uint32_t> seen;
  for (int i = 0; i < 12; ++i) {
    uint32_t h = 0;
    ASSERT_EQ(0, upnp_wpl_create_playlist(("Del" + std::to_string(i)).c_str(), 1, 1, nullptr, nullptr, &h));
    for (uint32_t old : seen) EXPECT_NE(old, h);
    seen.push_back(h);
    ASSERT_EQ(0, upnp_wpl_delete_playlist(h));
    EXPECT_NE(0, upnp_wpl_delete_playlist(h));
    EXPECT_NE(0, upnp_wpl_rename_playlist(h, "x"));
  }
  uint32_t h = 0;
  ASSERT_EQ(0, upnp_wpl_create_playlist("Del0", 1, 1, nullptr, nullptr, &h));
  for (uint32_t old : seen) EXPECT_NE(old, h);
  upnp_wpl_delete_playlist(h);
}

TEST(WplStore, RefusesBadArguments) {
  uint32_t h = 77;
  EXPECT_EQ(14, upnp_wpl_create_playlist(nullptr, 1, 1, nullptr, nullptr, &h));
  EXPECT_EQ(0u, h);
  EXPECT_EQ(14, upnp_wpl_delete_playlist(0));
  EXPECT_EQ(14, upnp_wpl_delete_playlist(0xFFFFFFu));
  ASSERT_NE(0u, h = make_playlist("BadArgs", 2));
  EXPECT_EQ(14, upnp_wpl_set_playlist_type(h, 0));
  EXPECT_EQ(14, upnp_wpl_set_playlist_type(h, 5));
  EXPECT_EQ(0, upnp_wpl_set_playlist_type(h, 4));
  EXPECT_EQ(14, upnp_wpl_remove_item_by_track(h, 2));
  EXPECT_EQ(14, upnp_wpl_remove_item_by_file(h, "zz"));
  EXPECT_EQ(nullptr, upnp_wpl_get_item_by_track(h, 2));
  EXPECT_EQ(14, upnp_wpl_set_item_src(h, 2, "x"));
  EXPECT_EQ(14, upnp_wpl_add_item(h, nullptr));
  upnp_wpl_delete_playlist(h);
}

TEST(WplStore, PropertiesAreCopiesAndAbsentTextsLeaveOutputsAlone) {
  uint32_t h = 0;
  ASSERT_EQ(0, upnp_wpl_create_playlist("Props", 3, 4, "Gen X", "orig.wpl", &h));
  upnp_wpl_add_item(h, upnp_wpl_create_item("one"));
  char *title = nullptr, *gen = nullptr, *orig = nullptr;
  char sentinel[] = "untouched";
  char *path = sentinel;
  int type = 0, source = 0;
  uint32_t count = 0;
  ASSERT_EQ(0, upnp_wpl_get_playlist_properties(h, &title, &type, &source, &gen, &orig, &path, &count));
  EXPECT_EQ("Props", take_text(title));
  EXPECT_EQ("Gen X", take_text(gen));
  EXPECT_EQ("orig.wpl", take_text(orig));
  EXPECT_EQ(sentinel, path);
  EXPECT_EQ(3, type);
  EXPECT_EQ(4, source);
  EXPECT_EQ(1u, count);
  ASSERT_EQ(0, upnp_wpl_rename_playlist(h, "Props renamed"));
  title = nullptr;
  upnp_wpl_get_playlist_properties(h, &title, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
  EXPECT_EQ("Props renamed", take_text(title));
  upnp_wpl_delete_playlist(h);
}

TEST(WplStore, IteratesUsedHandlesInOrder) {
  uint32_t a = make_playlist("IterA", 0), b = make_playlist("IterB", 0), c = make_playlist("IterC", 0);
  upnp_wpl_delete_playlist(b);
  std::vector<uint32_t> found;
  upnp_wpl_playlist_iterator *it = nullptr;
  for (uint32_t h = upnp_wpl_find_first_playlist(&it); h; h = upnp_wpl_find_next_playlist(it)) found.push_back(h);
  upnp_wpl_find_playlist_release(it);
  auto pos = [&](uint32_t h) { return std::find(found.begin(), found.end(), h) - found.begin(); };
  EXPECT_LT(pos(a), pos(c));
  EXPECT_EQ(static_cast<long>(found.size()), pos(b));
  EXPECT_TRUE(std::is_sorted(found.begin(), found.end()));
  upnp_wpl_delete_playlist(a);
  upnp_wpl_delete_playlist(c);
}

TEST(WplStore, MovesItemsByTrack) {
  uint32_t h = make_playlist("Move", 3);
  ASSERT_EQ(0, upnp_wpl_set_item_track(h, 0, 3));
  EXPECT_EQ((Srcs{"b", "c", "a"}), item_srcs(h));
  ASSERT_EQ(0, upnp_wpl_set_item_track(h, 2, 1));
  EXPECT_EQ((Srcs{"a", "b", "c"}), item_srcs(h));
  ASSERT_EQ(0, upnp_wpl_set_item_track(h, 1, 0));  // 0 below from: nothing
  ASSERT_EQ(0, upnp_wpl_set_item_track(h, 1, 1));  // to equal to from: nothing
  EXPECT_EQ((Srcs{"a", "b", "c"}), item_srcs(h));
  ASSERT_EQ(0, upnp_wpl_set_item_track(h, 0, 2));
  EXPECT_EQ((Srcs{"b", "a", "c"}), item_srcs(h));
  EXPECT_EQ(14, upnp_wpl_set_item_track(h, 3, 1));
  EXPECT_EQ(14, upnp_wpl_set_item_track(h, 0, 4));
  EXPECT_EQ((Srcs{"b", "a", "c"}), item_srcs(h));
  upnp_wpl_delete_playlist(h);
}

TEST(WplStore, RemovesTheFirstMatchingItemAndByIndex) {
  uint32_t h = make_playlist("Remove", 4);
  upnp_wpl_add_item(h, upnp_wpl_create_item("b"));
  ASSERT_EQ(0, upnp_wpl_remove_item_by_file(h, "b"));
  EXPECT_EQ((Srcs{"a", "c", "d", "b"}), item_srcs(h));
  upnp_wpl_item *probe = upnp_wpl_create_item("d");
  ASSERT_EQ(0, upnp_wpl_remove_item(h, probe));
  upnp_wpl_free_item(probe);
  ASSERT_EQ(0, upnp_wpl_remove_item_by_track(h, 0));
  EXPECT_EQ((Srcs{"c", "b"}), item_srcs(h));
  ASSERT_EQ(0, upnp_wpl_set_item_src(h, 1, "new"));
  upnp_wpl_item *item = upnp_wpl_get_item_by_track(h, 1);
  ASSERT_NE(nullptr, item);
  EXPECT_STREQ("new", item->src);
  upnp_wpl_free_item(item);
  upnp_wpl_delete_playlist(h);
}

TEST(WplStore, CacheIsKeptOnlyForTheCurrentItems) {
  uint32_t h = make_playlist("Cache", 3);
  const uint32_t values[3] = {7, 8, 9};
  EXPECT_EQ(14, upnp_wpl_set_cache(h, 2, values));
  ASSERT_EQ(0, upnp_wpl_set_cache(h, 3, values));
  uint32_t *got = nullptr;
  EXPECT_EQ(14, upnp_wpl_get_cache(h, 2, &got));
  ASSERT_EQ(0, upnp_wpl_get_cache(h, 3, &got));
  ASSERT_NE(nullptr, got);
  EXPECT_EQ(8u, got[1]);
  upnp_free_impl(got);
  // Any change of the items drops it.
  ASSERT_EQ(0, upnp_wpl_set_item_track(h, 0, 2));
  EXPECT_EQ(14, upnp_wpl_get_cache(h, 3, &got));
  ASSERT_EQ(0, upnp_wpl_set_cache(h, 3, values));
  upnp_wpl_add_item(h, upnp_wpl_create_item("x"));
  EXPECT_EQ(14, upnp_wpl_get_cache(h, 4, &got));
  const uint32_t four[4] = {1, 2, 3, 4};
  ASSERT_EQ(0, upnp_wpl_set_cache(h, 4, four));
  upnp_wpl_remove_item_by_track(h, 0);
  EXPECT_EQ(14, upnp_wpl_get_cache(h, 3, &got));
  EXPECT_EQ(nullptr, got);
  upnp_wpl_delete_playlist(h);
}

TEST(WplItems, AttributesKeepOrderAndTitleIsReplaced) {
  upnp_wpl_item *item = upnp_wpl_create_item("http://x/1");
  ASSERT_NE(nullptr, item);
  EXPECT_EQ("<none>", take_text(upnp_wpl_get_item_title(item)));
  ASSERT_EQ(0, upnp_wpl_add_item_attribute(item, "udn", "uuid:1"));
  ASSERT_EQ(0, upnp_wpl_add_item_attribute(item, "udn", "uuid:2"));
  ASSERT_EQ(0, upnp_wpl_set_item_title(item, "First"));
  ASSERT_EQ(0, upnp_wpl_set_item_title(item, "Second"));
  EXPECT_EQ("uuid:1", take_text(upnp_wpl_get_item_attribute(item, "udn")));
  EXPECT_EQ("Second", take_text(upnp_wpl_get_item_title(item)));
  std::vector<std::string> names;
  for (upnp_wpl_attribute *a = item->attributes; a; a = a->next) names.push_back(a->name);
  EXPECT_EQ((std::vector<std::string>{"udn", "udn", "title"}), names);
  EXPECT_EQ(14, upnp_wpl_add_item_attribute(item, "", "v"));
  upnp_wpl_free_item(item);
}

TEST(WplItems, ItemsHandedOutAreCopies) {
  uint32_t h = make_playlist("Copies", 1);
  upnp_wpl_item *copy = upnp_wpl_get_item_by_track(h, 0);
  ASSERT_NE(nullptr, copy);
  upnp_wpl_set_item_title(copy, "changed outside");
  upnp_wpl_free_item(copy);
  copy = upnp_wpl_get_item_by_track(h, 0);
  EXPECT_EQ("<none>", take_text(upnp_wpl_get_item_title(copy)));
  upnp_wpl_free_item(copy);
  upnp_wpl_delete_playlist(h);
}

std::atomic<int> g_exit_calls{0};

// Before the store is set up (or after it was taken down) calls answer their
// error code and log one warning; the exit function, which a critical line
// would call, stays untouched.
TEST(WplStore, CallsWithoutTheStoreAnswerTheirErrorAndWarnOnce) {
  uint32_t h = make_playlist("BeforeInit", 1), out = 0;
  upnp_wpl_exit();
  register_upnp_exit_function([](int) { g_exit_calls++; });
  test_support::LogFile log;
  upnp_string *text = nullptr;
  const std::function<int()> calls[] = {
      [&] { return upnp_wpl_rename_playlist(h, "y"); },
      [&] { return upnp_wpl_convert_to_xml(h, &text); },
      [&] { return upnp_wpl_delete_playlist(h); },
      [&] { return upnp_wpl_create_playlist("x", 1, 1, nullptr, nullptr, &out); },
  };
  for (const auto &call : calls) EXPECT_EQ(14, call());
  EXPECT_EQ(0, g_exit_calls.load());
  EXPECT_EQ(0, log.count("[Critical]"));
  EXPECT_EQ(1, log.count("[Warning] - LOG_SYSTEM: wpl_lock : critical section not initialized"));
  register_upnp_exit_function(nullptr);
  upnp_wpl_init();
}

}  // namespace
