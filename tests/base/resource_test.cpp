// Resource files beside the program: lookup, the cache rules, the
// application's override and the logged overflow of the cache.
#include "base/upnp_ini_file.h"
#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "base/upnp_resource.h"
#include "support_files.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;

namespace {

class ResourceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    upnp_mem_init();
    dir_ = test_support::make_temp_dir("kestrel-res");
    fs::create_directories(dir_ / "resources" / "views");
    upnp_ini_file_init();
    upnp_set_EXE_Name((dir_ / "program").c_str());
    log_ = dir_ / "test-log.txt";
    ASSERT_EQ(upnp_log_init(log_.c_str()), 1);
    upnp_log_set_level(LOG_LEVEL_DEBUG);
    upnp_log_set_sources(0xFFFFFFFFu);
    upnp_log_set_force_flush(1);
    upnp_resource_init();
  }
  void TearDown() override {
    register_upnp_resource_get_function(nullptr);
    upnp_resource_exit();
    upnp_log_exit();
    upnp_ini_file_release_on_exit();
    test_support::remove_tree(dir_);
  }

  void put(const std::string &name, const std::string &bytes) { test_support::write_file(dir_ / "resources" / name, bytes); }
  void remove(const std::string &name) { fs::remove(dir_ / "resources" / name); }

  // The content found for `name`, or "<none>"; checks the two zero bytes.
  std::string get(const char *name) {
    uint32_t size = 77;
    char *data = reinterpret_cast<char *>(1);
    if (upnp_resource_get(name, &size, &data) != 1) {
      EXPECT_EQ(size, 0u);
      EXPECT_EQ(data, nullptr);
      return "<none>";
    }
    EXPECT_NE(data, nullptr);
    std::string content(data, size);
    EXPECT_EQ(data[size], '\0');
    EXPECT_EQ(data[size + 1], '\0');
    upnp_free_impl(data);
    return content;
  }

  std::string log_text() {
    upnp_log_flush();
    return test_support::read_file(log_);
  }

  fs::path dir_;
  fs::path log_;
};

int g_external_calls = 0;
std::string g_external_name;
int external_lookup(const char *name, uint32_t *size, char **data) {
  ++g_external_calls;
  g_external_name = name;
  static const char text[] = "from the application";
  *data = static_cast<char *>(upnp_calloc_impl(sizeof text + 1, 1));
  std::memcpy(*data, text, sizeof text - 1);
  *size = static_cast<uint32_t>(sizeof text - 1);
  return 1;
}

}  // namespace

TEST_F(ResourceTest, ReadsTheWholeFileWithTwoZeroBytesAfterIt) {
  std::string binary("a\0b\xff", 4);
  put("blob.bin", binary);
  EXPECT_EQ(get("blob.bin"), binary);
  put("empty.txt", "");
  EXPECT_EQ(get("empty.txt"), "");
  EXPECT_EQ(get("missing.xml"), "<none>");
}

TEST_F(ResourceTest, QueryPartIsIgnored) {
  put("clients.db", "line\n");
  EXPECT_EQ(get("clients.db?x=1"), "line\n");
  EXPECT_EQ(get("clients.db?a?b"), "<none>") << "only the last '?' starts the query";
}

TEST_F(ResourceTest, AllowedExtensionsAreServedFromTheCacheAfterTheFileIsGone) {
  put("a.xml", "<a/>");
  EXPECT_EQ(get("a.xml"), "<a/>");
  remove("a.xml");
  EXPECT_EQ(get("a.xml"), "<a/>");
  EXPECT_EQ(upnp_resource_cached_count(), 1);
}

TEST_F(ResourceTest, ViewsStringsOtherExtensionsAndEmptyFilesAreReadEveryTime) {
  put("views/a.xml", "view");
  put("strings-de.txt", "Hallo");
  put("a.html", "<html/>");
  put("A.XML", "upper");
  put("noext", "x");
  put("empty.png", "");
  for (const char *name : {"views/a.xml", "strings-de.txt", "a.html", "A.XML", "noext", "empty.png"}) {
    EXPECT_NE(get(name), "<none>") << name;
  }
  EXPECT_EQ(upnp_resource_cached_count(), 0);
  for (const char *name : {"views/a.xml", "strings-de.txt", "a.html", "A.XML", "noext"}) {
    remove(name);
    EXPECT_EQ(get(name), "<none>") << name << " must come from disk";
  }
}

TEST_F(ResourceTest, CacheHoldsAHundredFilesAndLogsTheOverflow) {
  for (int i = 0; i < UPNP_RESOURCE_CACHE_SIZE + 2; ++i) {
    std::string name = "f" + std::to_string(i) + ".txt";
    put(name, "content " + std::to_string(i));
    EXPECT_EQ(get(name.c_str()), "content " + std::to_string(i));
  }
  EXPECT_EQ(upnp_resource_cached_count(), UPNP_RESOURCE_CACHE_SIZE);
  EXPECT_NE(log_text().find("too many files (100)"), std::string::npos);
  // A cached name is never added twice.
  EXPECT_EQ(get("f0.txt"), "content 0");
  EXPECT_EQ(upnp_resource_cached_count(), UPNP_RESOURCE_CACHE_SIZE);
  // The 101st stayed on disk only.
  remove("f100.txt");
  EXPECT_EQ(get("f100.txt"), "<none>");
  // Init empties the cache.
  upnp_resource_init();
  EXPECT_EQ(upnp_resource_cached_count(), 0);
}

TEST_F(ResourceTest, ApplicationFunctionReplacesTheLookup) {
  put("a.xml", "disk");
  g_external_calls = 0;
  register_upnp_resource_get_function(external_lookup);
  EXPECT_EQ(get("a.xml?v=2"), "from the application");
  EXPECT_EQ(g_external_calls, 1);
  EXPECT_EQ(g_external_name, "a.xml");
  EXPECT_EQ(upnp_resource_cached_count(), 0);
  register_upnp_resource_get_function(nullptr);
  EXPECT_EQ(get("a.xml"), "disk");
}

TEST_F(ResourceTest, NamesThatLeaveTheFolderAndDirectoriesAreRefused) {
  std::ofstream(dir_ / "secret.txt") << "outside";
  EXPECT_EQ(get("../secret.txt"), "<none>");
  EXPECT_EQ(get("views/../../secret.txt"), "<none>");
  EXPECT_EQ(get((dir_ / "secret.txt").c_str()), "<none>");
  EXPECT_EQ(get("views"), "<none>") << "a directory is no resource";
  EXPECT_EQ(upnp_resource_exists("../secret.txt"), 0);
}

TEST_F(ResourceTest, MissingArgumentsClearTheOutputs) {
  uint32_t size = 5;
  char *data = reinterpret_cast<char *>(1);
  EXPECT_EQ(upnp_resource_get(nullptr, &size, &data), 0);
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(data, nullptr);
  EXPECT_EQ(upnp_resource_get("a.xml", nullptr, &data), 0);
  EXPECT_EQ(data, nullptr);
}

TEST_F(ResourceTest, ExistsTellsRegularFilesOnly) {
  put("here.xml", "x");
  EXPECT_EQ(upnp_resource_exists("here.xml"), 1);
  EXPECT_EQ(upnp_resource_exists("gone.xml"), 0);
  EXPECT_EQ(upnp_resource_exists("views"), 0);
  EXPECT_EQ(upnp_resource_exists(nullptr), 0);
}

TEST_F(ResourceTest, WithoutInitFilesAreStillReadButNotCached) {
  upnp_resource_exit();
  put("a.xml", "one");
  EXPECT_EQ(get("a.xml"), "one");
  remove("a.xml");
  EXPECT_EQ(get("a.xml"), "<none>");
  EXPECT_EQ(upnp_resource_cached_count(), 0);
}

TEST_F(ResourceTest, EveryCachedByteIsReturnedOnExit) {
  upnp_resource_exit();
  int64_t before = upnp_mem_used();
  upnp_resource_init();
  for (int i = 0; i < 10; ++i) {
    std::string name = "m" + std::to_string(i) + ".xml";
    put(name, std::string(1000, 'x'));
    get(name.c_str());
  }
  EXPECT_GT(upnp_mem_used(), before);
  upnp_resource_exit();
  EXPECT_EQ(upnp_mem_used(), before);
}
