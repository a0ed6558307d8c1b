// Server contexts against the lab's minidlna (run through tests/lab/lab.sh):
// a walk reaches every container and item with titles intact, the bulk
// container costs one request per page at each page size, bookmarks taken
// anywhere (in a search too) bring fresh contexts back, and metadata keys
// answer on the MP3, FLAC, WAV, JPEG and video items.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

#include "cp_lab_util.h"
#include "nmc/lm_dmscp.h"
#include "nmc/lm_dmscp_internal.h"
#include "nmc/lm_nmc.h"
#include "nmc/lm_nmc_devices.h"
#include "nmc/lm_nmc_internal.h"
#include "nmc_test_util.h"
#include "support_wait.h"

namespace {

using test_support::wait_until;

std::string get(uint32_t context, const char *key, uint32_t occurrence = 0) {
  char buffer[4096];
  lm_nmc_result_t rc = lm_dmscp_extract_metadata(context, key, occurrence, sizeof buffer, buffer);
  return rc == 0 ? std::string(buffer) : "error " + std::to_string(rc);
}
std::string bookmark_of(uint32_t context) {
  char buffer[8192];
  return lm_dmscp_get_bookmark(context, sizeof buffer, buffer) == 0 ? std::string(buffer) : "";
}
// Goes into the entry of the current level titled title.
bool enter(uint32_t context, const std::string &title) {
  uint32_t count = 0;
  if (lm_dmscp_get_count(context, &count) != 0) return false;
  for (uint32_t i = 0; i < count; ++i) {
    if (lm_dmscp_go_index(context, i) == 0 && get(context, "Title") == title) {
      return lm_dmscp_go_directory(context) == 0;
    }
  }
  return false;
}

class NmcDmsLabTest : public nmc_test::NmcTest {
 protected:
  void SetUp() override {
    if (!cp_lab::inside_lab()) GTEST_SKIP() << "not inside the lab";
    NmcTest::SetUp();
    nmc_set_network(1);
    ASSERT_EQ(start(), 1);
    const std::string udn = cp_lab::env("LAB_SERVER_UDN");
    ASSERT_TRUE(wait_until([&] { return nmc_devices_find_udn(NMC_SIDE_SERVER, udn.c_str(), nullptr); }, 20000));
    ASSERT_EQ(lm_dmscp_create_context(&context_), 0u);
    ASSERT_EQ(lm_dmscp_go_bookmark(context_, (udn + ",0").c_str()), 0u);
    ASSERT_EQ(lm_dmscp_go_directory(context_), 0u);
  }
  void TearDown() override {
    if (cp_lab::inside_lab()) NmcTest::TearDown();
  }
  // Every item below the current level (not into the bulk container):
  // title -> bookmark; containers counted.
  void walk(std::map<std::string, std::string> *items, int *containers) {
    uint32_t count = 0;
    ASSERT_EQ(lm_dmscp_get_count(context_, &count), 0u);
    for (uint32_t i = 0; i < count; ++i) {
      ASSERT_EQ(lm_dmscp_go_index(context_, i), 0u);
      uint32_t directory = 0;
      ASSERT_EQ(lm_dmscp_is_directory(context_, &directory), 0u);
      std::string title = get(context_, "Title");
      if (!directory) {
        (*items)[title] = bookmark_of(context_);
        continue;
      }
      ++*containers;
      if (title == "bulk") continue;
      ASSERT_EQ(lm_dmscp_go_directory(context_), 0u) << title;
      walk(items, containers);
      ASSERT_EQ(lm_dmscp_go_parent(context_), 0u);
    }
  }
  uint32_t context_ = 0;
};

TEST_F(NmcDmsLabTest, WalkReachesEveryObjectAndBookmarksComeBack) {
  ASSERT_TRUE(enter(context_, "Browse Folders"));
  std::map<std::string, std::string> items;
  int containers = 0;
  walk(&items, &containers);
  EXPECT_GE(containers, 7);
  for (const char *title : {"First Song", "Rock & Roll <Live>", "Long Tone", "\xC3\x9Cn\xC3\xAF" "code T\xC3\xAFtle",
                            "Second FLAC", "tone-3s", "photo1", "photo4", "clip"}) {
    ASSERT_EQ(items.count(title), 1u) << title;
  }
  for (const auto &[title, mark] : items) {
    uint32_t fresh = 0;
    ASSERT_EQ(lm_dmscp_create_context(&fresh), 0u);
    ASSERT_EQ(lm_dmscp_go_bookmark(fresh, mark.c_str()), 0u) << mark;
    EXPECT_EQ(get(fresh, "Title"), title);
    EXPECT_EQ(bookmark_of(fresh), mark);
    lm_dmscp_delete_context(fresh);
  }
  // Inside a search.
  ASSERT_EQ(lm_dmscp_go_home(context_), 0u);
  ASSERT_EQ(lm_dmscp_search(context_, "title=Rock &type=musicItem"), 0u);
  EXPECT_EQ(get(context_, "Title"), "Rock & Roll <Live>");
  std::string mark = bookmark_of(context_);
  uint32_t fresh = 0;
  ASSERT_EQ(lm_dmscp_create_context(&fresh), 0u);
  ASSERT_EQ(lm_dmscp_go_bookmark(fresh, mark.c_str()), 0u) << mark;
  EXPECT_EQ(get(fresh, "Title"), "Rock & Roll <Live>");
  char name[64];
  ASSERT_EQ(lm_dmscp_get_levelname(fresh, sizeof name, name), 0u);
  EXPECT_STREQ(name, "Search Results");
}

TEST_F(NmcDmsLabTest, BulkContainerCostsOneRequestPerPage) {
  const uint32_t bulk = static_cast<uint32_t>(std::stoul(cp_lab::env("LAB_BULK_COUNT")));
  ASSERT_TRUE(enter(context_, "Browse Folders"));
  ASSERT_TRUE(enter(context_, "bulk"));
  for (uint32_t page : {50u, 200u}) {
    ASSERT_EQ(lm_dmscp_ioctl(context_, ("SetDMSItemCache " + std::to_string(page)).c_str(), 0, nullptr), 0u);
    ASSERT_EQ(lm_dmscp_go_parent(context_), 0u);
    ASSERT_TRUE(enter(context_, "bulk"));
    uint32_t count = 0;
    ASSERT_EQ(lm_dmscp_get_count(context_, &count), 0u);
    ASSERT_EQ(count, bulk);
    const uint64_t before = nmc_dms_requests();
    std::set<std::string> titles;
    for (uint32_t i = 0; i < count; ++i) {
      ASSERT_EQ(lm_dmscp_go_index(context_, i), 0u);
      titles.insert(get(context_, "Title"));
    }
    EXPECT_EQ(titles.size(), bulk);
    EXPECT_EQ(nmc_dms_requests() - before, (bulk + page - 1) / page) << page;
  }
}

TEST_F(NmcDmsLabTest, MetadataOfEachKindOfItem) {
  ASSERT_EQ(lm_dmscp_search(context_, "type=item"), 0u);
  uint32_t count = 0;
  ASSERT_EQ(lm_dmscp_get_count(context_, &count), 0u);
  std::map<std::string, uint32_t> at;
  for (uint32_t i = 0; i < count; ++i) {
    ASSERT_EQ(lm_dmscp_go_index(context_, i), 0u);
    at[get(context_, "Title")] = i;
  }
  const struct {
    const char *title, *key;
    uint32_t occurrence;
    const char *value;  // "" for any value
  } cases[] = {
      {"Rock & Roll <Live>", "ObjectType", 0, "Audio"},
      {"Rock & Roll <Live>", "Artist", 0, "Alpha Artist"},
      {"Rock & Roll <Live>", "Album", 0, "First Album"},
      {"Rock & Roll <Live>", "Resource@MediaType", 0, "Audio"},
      {"Rock & Roll <Live>", "Resource@CanByteSeek", 0, "1"},
      {"Rock & Roll <Live>", "Resource@IsTranscoded", 0, "0"},
      {"\xC3\x9Cn\xC3\xAF" "code T\xC3\xAFtle", "Artist", 0, "Bj\xC3\xB6rk Ensemble"},
      {"\xC3\x9Cn\xC3\xAF" "code T\xC3\xAFtle", "Genre", 0, "Jazz"},
      {"tone-3s", "Resource@MediaType", 0, "Audio"},
      {"photo4", "ObjectType", 0, "Image"},
      {"photo4", "Resource@Resolution", 0, "1920x1080"},
      {"clip", "ObjectType", 0, "Video"},
      {"clip", "Resource@MediaType", 0, "Video"},
  };
  for (const auto &k : cases) {
    ASSERT_EQ(at.count(k.title), 1u) << k.title;
    ASSERT_EQ(lm_dmscp_go_index(context_, at[k.title]), 0u);
    EXPECT_EQ(get(context_, k.key, k.occurrence), k.value) << k.title << " " << k.key;
  }
  ASSERT_EQ(lm_dmscp_go_index(context_, at["photo4"]), 0u);
  uint32_t resources = 0;
  ASSERT_EQ(lm_dmscp_extract_metadata_int(context_, "Resource.Count", 0, reinterpret_cast<int32_t *>(&resources)), 0u);
  EXPECT_GE(resources, 2u);  // the picture and its resized forms
  uint64_t size = 0;
  ASSERT_EQ(lm_dmscp_go_index(context_, at["Long Tone"]), 0u);
  ASSERT_EQ(lm_dmscp_extract_metadata_uint64(context_, "Resource@Size", 0, &size), 0u);
  EXPECT_GT(size, 100000u);
}

}  // namespace
