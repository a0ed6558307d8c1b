// Server contexts against crafted ContentDirectory servers on 127.0.0.1
// (no network stack): walking levels, pages per request, servers that
// miscount, bookmarks, search and sort criteria as the server receives
// them, metadata, escaping, known kinds, update events and the ioctls.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/upnp_mem.h"
#include "base/upnp_thread.h"
#include "cp/upnp_cp.h"
#include "cp/upnp_cp_avt_uri.h"
#include "nmc/lm_dmscp.h"
#include "nmc/lm_dmscp_ahead.h"
#include "nmc/lm_dmscp_entry.h"
#include "nmc/lm_nmc.h"
#include "nmc/lm_nmc_devices.h"
#include "nmc/lm_nmc_events.h"
#include "nmc/lm_nmc_notify.h"
#include "nmc_dms_server.h"
#include "nmc_test_util.h"
#include "support_wait.h"

namespace {

using nmc_test::CdsObject;
using nmc_test::CdsServer;
using test_support::wait_until;

std::string text_of(uint32_t context, lm_nmc_result_t (*fn)(uint32_t, uint32_t, char *)) {
  char buffer[8192];
  lm_nmc_result_t rc = fn(context, sizeof buffer, buffer);
  return rc == 0 ? std::string(buffer) : "error " + std::to_string(rc);
}
std::string bookmark(uint32_t c) { return text_of(c, lm_dmscp_get_bookmark); }
std::string levelname(uint32_t c) { return text_of(c, lm_dmscp_get_levelname); }
std::string extract(uint32_t context, const char *key, uint32_t occurrence = 0) {
  char buffer[4096];
  lm_nmc_result_t rc = lm_dmscp_extract_metadata(context, key, occurrence, sizeof buffer, buffer);
  return rc == 0 ? std::string(buffer) : "error " + std::to_string(rc);
}
uint32_t level(uint32_t c) {
  uint32_t depth = 99;
  lm_dmscp_get_level(c, &depth);
  return depth;
}
uint32_t count(uint32_t c) {
  uint32_t n = 0xFFFFFFFF;
  EXPECT_EQ(lm_dmscp_get_count(c, &n), 0u);
  return n;
}

class NmcDmsTest : public nmc_test::NmcTest {
 protected:
  void SetUp() override {
    NmcTest::SetUp();
    nmc_notifiers_set_start_delay(0);
    ASSERT_EQ(start(), 1);
  }
  void TearDown() override {
    servers_.clear();
    NmcTest::TearDown();
  }
  // A crafted server in the controller's server list; its device index.
  CdsServer &serve(const std::string &udn, const std::string &name, const std::string &extra = "",
                   bool with_search = true) {
    servers_.push_back(std::make_unique<CdsServer>(udn, name, extra, with_search));
    CdsServer &server = *servers_.back();
    upnp_control_add_device(server.description_url().c_str(), udn.c_str(), "127.0.0.1:9000", 1800, 1);
    EXPECT_TRUE(wait_until([&] { return nmc_devices_find_udn(NMC_SIDE_SERVER, udn.c_str(), nullptr); }, 5000));
    return server;
  }
  // A new context standing inside the first server's root.
  uint32_t context_in_root() {
    uint32_t c = 0;
    EXPECT_EQ(lm_dmscp_create_context(&c), 0u);
    EXPECT_EQ(lm_dmscp_go_directory(c), 0u);
    return c;
  }
  // The first server: a root with a music folder (titles with "&", "<" and
  // non-ASCII text, two res), a bulk folder and a nested folder.
  CdsServer &standard_server() {
    CdsServer &s = serve("uuid:nmc-dms-000001", "Crafted Server", "<manufacturer>Nobody</manufacturer>");
    s.add({"1", "0", "Music & <More>", true, "", "", false, false, false, false});
    s.add({"2", "0", "Bulk", true, "", "", false, false, false, false});
    s.add({"3", "1", "Inner", true, "", "", false, false, false, false});
    s.add({"1$a", "1", "Caf\xC3\xA9 & <Cr\xC3\xA8me>", false, "object.item.audioItem.musicTrack",
           "<upnp:artist>A1</upnp:artist><upnp:artist>A2</upnp:artist>"
           "<res protocolInfo=\"http-get:*:audio/mpeg:DLNA.ORG_OP=01;DLNA.ORG_FLAGS=00002000\" size=\"12345678901\" "
           "duration=\"0:03:00\">http://x/a.mp3</res>"
           "<res protocolInfo=\"http-get:*:audio/wav:*\" size=\"99\">http://x/a.wav</res>",
           false, false, false, false});
    s.add({"3$x", "3", "Deep", false, "object.item.imageItem.photo", "", false, false, false, false});
    s.add_items("2", 120, "Track");
    return s;
  }

  std::vector<std::unique_ptr<CdsServer>> servers_;
};

TEST_F(NmcDmsTest, WalkThroughLevelsAndBack) {
  standard_server();
  uint32_t c = 0;
  ASSERT_EQ(lm_dmscp_create_context(&c), 0u);
  EXPECT_EQ(level(c), 0u);
  EXPECT_EQ(count(c), 1u);
  EXPECT_EQ(levelname(c), "Digital Media Servers");
  EXPECT_EQ(extract(c, "Title"), "Crafted Server");
  EXPECT_EQ(extract(c, "ObjectType"), "Server");
  EXPECT_EQ(lm_dmscp_go_parent(c), 9u);
  uint32_t flag = 0;
  ASSERT_EQ(lm_dmscp_is_directory(c, &flag), 0u);
  EXPECT_EQ(flag, 1u);
  ASSERT_EQ(lm_dmscp_go_directory(c), 0u);
  EXPECT_EQ(level(c), 1u);
  EXPECT_EQ(levelname(c), "Root");
  EXPECT_EQ(count(c), 2u);
  EXPECT_EQ(extract(c, "Title"), "Music & <More>");
  ASSERT_EQ(lm_dmscp_go_directory(c), 0u);
  EXPECT_EQ(levelname(c), "Music & <More>");
  EXPECT_EQ(count(c), 2u);
  ASSERT_EQ(lm_dmscp_go_index(c, 1), 0u);
  EXPECT_EQ(extract(c, "Title"), "Caf\xC3\xA9 & <Cr\xC3\xA8me>");
  ASSERT_EQ(lm_dmscp_is_directory(c, &flag), 0u);
  EXPECT_EQ(flag, 0u);
  EXPECT_EQ(lm_dmscp_go_directory(c), 7u);
  EXPECT_EQ(lm_dmscp_go_index(c, 2), 9u);
  uint32_t index = 9;
  ASSERT_EQ(lm_dmscp_get_index(c, &index), 0u);
  EXPECT_EQ(index, 1u);
  ASSERT_EQ(lm_dmscp_go_parent(c), 0u);
  EXPECT_EQ(levelname(c), "Root");
  ASSERT_EQ(lm_dmscp_go_parent(c), 0u);
  EXPECT_EQ(level(c), 0u);
  ASSERT_EQ(lm_dmscp_go_directory(c), 0u);
  ASSERT_EQ(lm_dmscp_go_home(c), 0u);
  EXPECT_EQ(level(c), 0u);
  EXPECT_EQ(lm_dmscp_go_index(c, 1), 9u);
}

TEST_F(NmcDmsTest, OneRequestPerPageAtEachPageSize) {
  CdsServer &s = standard_server();
  // A server that claims no total on any page is still read to the end of
  // a container whose size is known, one request per page.
  const struct {
    uint32_t page;
    bool total_zero;
  } cases[] = {{50, false}, {20, false}, {120, false}, {50, true}};
  for (const auto &row : cases) {
    const uint32_t page = row.page;
    SCOPED_TRACE(::testing::Message() << page << (row.total_zero ? " total zero" : ""));
    // (Written only when it changes: the server thread reads it unlocked,
    // and no request is in flight between two rows.)
    if (s.total_zero != row.total_zero) s.total_zero = row.total_zero;
    uint32_t c = context_in_root();
    ASSERT_EQ(lm_dmscp_ioctl(c, ("SetDMSItemCache " + std::to_string(page)).c_str(), 0, nullptr), 0u);
    ASSERT_EQ(lm_dmscp_go_index(c, 1), 0u);
    ASSERT_EQ(lm_dmscp_go_directory(c), 0u);
    s.clear_calls();
    for (uint32_t i = 0; i < 120; ++i) {
      ASSERT_EQ(lm_dmscp_go_index(c, i), 0u) << i;
      ASSERT_EQ(extract(c, "Title"), "Track " + std::to_string(i));
    }
    std::vector<nmc_test::CdsCall> browses = s.calls_of("Browse");
    ASSERT_EQ(browses.size(), (120 + page - 1) / page) << page;
    for (size_t k = 0; k < browses.size(); ++k) {
      EXPECT_EQ(browses[k].args["StartingIndex"], std::to_string(k * page));
      EXPECT_EQ(browses[k].args["RequestedCount"], std::to_string(page));
    }
    EXPECT_EQ(lm_dmscp_go_index(c, 120), 9u);
    lm_dmscp_delete_context(c);
  }
  s.total_zero = false;
}

TEST_F(NmcDmsTest, ServersThatMiscount) {
  CdsServer &s = standard_server();
  struct Case {
    const char *what;
    bool total_zero;
    int returned_extra;
    std::string override_reply;  // for the Music folder's children
    uint32_t count;
    const char *read_1;
  };
  const std::string nothing =
      CdsServer::soap_ok("<u:BrowseResponse xmlns:u=\"urn:schemas-upnp-org:service:ContentDirectory:1\"><Result>" +
                         CdsServer::escape("<DIDL-Lite></DIDL-Lite>") +
                         "</Result><NumberReturned>2</NumberReturned><TotalMatches>2</TotalMatches></u:BrowseResponse>");
  const std::string broken =
      CdsServer::soap_ok("<u:BrowseResponse xmlns:u=\"x\"><Result>no markup at all</Result>"
                         "<NumberReturned>1</NumberReturned><TotalMatches>5</TotalMatches></u:BrowseResponse>");
  const Case cases[] = {
      {"total zero", true, 0, "", 2, "Caf\xC3\xA9 & <Cr\xC3\xA8me>"},
      {"claims more than it sends", false, 3, "", 2, "Caf\xC3\xA9 & <Cr\xC3\xA8me>"},
      {"claims objects, sends none", false, 0, nothing, 2, "error 9"},
      {"unparsable result", false, 0, broken, 2, "error 7"},
  };
  for (const Case &k : cases) {
    s.total_zero = k.total_zero;
    s.returned_extra = k.returned_extra;
    s.reply = [&k](const nmc_test::CdsCall &call) {
      return call.action == "Browse" && call.args.at("ObjectID") == "1" &&
                     call.args.at("BrowseFlag") == "BrowseDirectChildren"
                 ? k.override_reply
                 : std::string();
    };
    uint32_t c = context_in_root();
    ASSERT_EQ(lm_dmscp_go_directory(c), 0u) << k.what;  // the folder's childCount is 2
    uint32_t n = 0;
    lm_dmscp_get_count(c, &n);
    EXPECT_EQ(n, k.count) << k.what;
    ASSERT_EQ(lm_dmscp_go_index(c, 1), 0u) << k.what;
    EXPECT_EQ(extract(c, "Title"), k.read_1) << k.what;
    lm_dmscp_delete_context(c);
  }
  s.reply = nullptr;
  s.total_zero = false;
  s.returned_extra = 0;
}

TEST_F(NmcDmsTest, ResultTextsAsServersWriteThem) {
  CdsServer &s = standard_server();
  const std::string item = "<item id=\"9\" parentID=\"1\"><dc:title>T &amp; U</dc:title></item>";
  auto reply = [](const std::string &result) {
    return CdsServer::soap_ok("<u:BrowseResponse xmlns:u=\"urn:schemas-upnp-org:service:ContentDirectory:1\">"
                              "<Result>" + result + "</Result><NumberReturned>1</NumberReturned>"
                              "<TotalMatches>1</TotalMatches></u:BrowseResponse>");
  };
  const struct {
    const char *what;
    std::string result;
    const char *title;
  } cases[] = {
      {"escaped", CdsServer::escape("<DIDL-Lite>" + item + "</DIDL-Lite>"), "T & U"},
      {"character references", "&#60;DIDL-Lite&#x3E;&lt;item id=&quot;9&quot;&gt;&lt;dc:title&gt;Caf&#233; &#38;amp; "
                               "&#x1F600;&lt;/dc:title&gt;&lt;/item&gt;&lt;/DIDL-Lite&gt;",
       "Caf\xC3\xA9 & \xF0\x9F\x98\x80"},
      {"not escaped", "<DIDL-Lite>" + item + "</DIDL-Lite>", "error 7"},
  };
  for (const auto &k : cases) {
    s.reply = [&](const nmc_test::CdsCall &call) {
      return call.action == "Browse" && call.args.at("ObjectID") == "1" ? reply(k.result) : std::string();
    };
    uint32_t c = context_in_root();
    uint32_t n = 0;
    if (lm_dmscp_go_directory(c) == 0) lm_dmscp_get_count(c, &n);
    EXPECT_EQ(extract(c, "Title"), k.title) << k.what;
    lm_dmscp_delete_context(c);
  }
  s.reply = nullptr;
}

TEST_F(NmcDmsTest, ObjectsWithoutIdParentTitleOrChildCount) {
  CdsServer &s = serve("uuid:nmc-dms-000003", "Sloppy", "", false);
  CdsObject no_title{"t", "0", "x", true, "", "", false, false, true, false};
  CdsObject no_id{"i", "0", "No Id", true, "", "", true, false, false, false};
  CdsObject no_count{"c", "0", "No Count", true, "", "", false, false, false, true};
  CdsObject orphan{"c$o", "c", "Orphan", false, "", "", false, true, false, false};
  for (const CdsObject &o : {no_title, no_id, no_count, orphan}) s.add(o);
  s.add_items("c", 3, "Kid");
  uint32_t c = context_in_root();
  const struct {
    uint32_t index;
    lm_nmc_result_t go_directory;
  } cases[] = {{0, 7}, {1, 7}, {2, 0}};
  for (const auto &k : cases) {
    ASSERT_EQ(lm_dmscp_go_index(c, k.index), 0u);
    EXPECT_EQ(lm_dmscp_go_directory(c), k.go_directory) << k.index;
  }
  EXPECT_EQ(levelname(c), "No Count");
  EXPECT_EQ(count(c), 4u);  // from the page, as the container tells no count
  // A bookmark of an object without parentID cannot be gone to (with or
  // without its levels); the context stays where it was.
  const std::string mark = bookmark(c);
  uint32_t fresh = 0;
  ASSERT_EQ(lm_dmscp_create_context(&fresh), 0u);
  for (const std::string &m : {std::string("uuid:nmc-dms-000003,c$o"), mark}) {
    EXPECT_EQ(lm_dmscp_go_bookmark(fresh, m.c_str()), 7u) << m;
    EXPECT_EQ(level(fresh), 0u);
  }
  // A server without Search: the search fails and the stack stays.
  ASSERT_EQ(lm_dmscp_go_parent(c), 0u);
  EXPECT_NE(lm_dmscp_search(c, "title=Kid"), 0u);
  EXPECT_EQ(level(c), 1u);
  EXPECT_EQ(levelname(c), "Root");
}

TEST_F(NmcDmsTest, BookmarksBringFreshContextsBack) {
  standard_server();
  uint32_t c = context_in_root();
  std::vector<std::string> marks;
  marks.push_back("uuid:nmc-dms-000001,0");
  ASSERT_EQ(lm_dmscp_go_directory(c), 0u);           // Music
  ASSERT_EQ(lm_dmscp_go_index(c, 1), 0u);            // the item
  marks.push_back(bookmark(c));
  ASSERT_EQ(lm_dmscp_go_index(c, 0), 0u);            // Inner
  ASSERT_EQ(lm_dmscp_go_directory(c), 0u);
  marks.push_back(bookmark(c));
  marks.push_back(text_of(c, lm_dmscp_get_temp_bookmark));
  EXPECT_EQ(marks.back(), "uuid:nmc-dms-000001,-,0,0,Root,0,,0,0,Music & <More>,1,,0,0,Inner,3,,|4");
  ASSERT_EQ(lm_dmscp_go_parent(c), 0u);  // the cursor on Inner, a container
  ASSERT_EQ(lm_dmscp_search(c, "title=Track 7"), 0u);
  marks.push_back(bookmark(c));
  for (const std::string &mark : marks) {
    uint32_t fresh = 0;
    ASSERT_EQ(lm_dmscp_create_context(&fresh), 0u);
    ASSERT_EQ(lm_dmscp_go_bookmark(fresh, mark.c_str()), 0u) << mark;
    const bool temp = mark.find(",-,") != std::string::npos;
    EXPECT_EQ(temp ? text_of(fresh, lm_dmscp_get_temp_bookmark) : bookmark(fresh), mark);
    lm_dmscp_delete_context(fresh);
  }
  // The server list bookmark, then into its root.
  uint32_t fresh = 0;
  ASSERT_EQ(lm_dmscp_create_context(&fresh), 0u);
  ASSERT_EQ(lm_dmscp_go_bookmark(fresh, "uuid:nmc-dms-000001,0"), 0u);
  EXPECT_EQ(level(fresh), 0u);
  ASSERT_EQ(lm_dmscp_go_directory(fresh), 0u);
  EXPECT_EQ(levelname(fresh), "Root");

  // Malformed bookmarks and unknown servers leave the context where it was.
  const struct {
    const char *mark;
    lm_nmc_result_t rc;
  } bad[] = {{"uuid:nmc-dms-000001", 2},           {"uuid:nobody,0", 3},
             {"uuid:nmc-dms-000001,-", 2},         {"uuid:nmc-dms-000001,-,x,0,T,1,,|2", 2},
             {"uuid:nmc-dms-000001,-,0,1,T,1,,|2", 2}, {"uuid:nmc-dms-000001,1$a,0,0,T", 2},
             {"uuid:nmc-dms-000001,nothing-here", 701}};
  for (const auto &b : bad) {
    EXPECT_EQ(lm_dmscp_go_bookmark(fresh, b.mark), b.rc) << b.mark;
    EXPECT_EQ(level(fresh), 1u) << b.mark;
    EXPECT_EQ(levelname(fresh), "Root") << b.mark;
  }

  // A level count that does not match reaches the object with one level
  // for its parent; so does a bookmark with more levels than are rebuilt.
  std::string deep = "uuid:nmc-dms-000001,3$x";
  for (int i = 0; i < 70; ++i) deep += ",0,0,L" + std::to_string(i) + ",x,";
  for (const std::string &mark : {std::string("uuid:nmc-dms-000001,3$x,0,0,Root,0,,0,0,Inner,3,,|7"),
                                  deep + ",|71", std::string("uuid:nmc-dms-000001,3$x")}) {
    ASSERT_EQ(lm_dmscp_go_bookmark(fresh, mark.c_str()), 0u) << mark.substr(0, 60);
    EXPECT_EQ(level(fresh), 1u);
    EXPECT_EQ(levelname(fresh), "Inner");
    EXPECT_EQ(extract(fresh, "Title"), "Deep");
    ASSERT_EQ(lm_dmscp_go_parent(fresh), 0u);  // the walk up from the bookmark container
    EXPECT_EQ(level(fresh), 1u);
    EXPECT_EQ(levelname(fresh), "Music & <More>");
  }
}

TEST_F(NmcDmsTest, EscapedIdentifiersAndTitlesInCommands) {
  CdsServer &s = serve("uuid:nmc-dms-000002", "Odd &amp; &lt;Names&gt;");
  s.add({"a&b<c\\", "0", "x,y\\", true, "", "", false, false, false, false});
  s.add({"a&b<c\\$1", "a&b<c\\", "It\"em & <1>", false, "", "", false, false, false, false});
  uint32_t c = context_in_root();
  ASSERT_EQ(lm_dmscp_go_directory(c), 0u);
  EXPECT_EQ(extract(c, "Title"), "It\"em & <1>");
  EXPECT_EQ(s.calls_of("Browse").back().args["ObjectID"], "a&b<c\\");
  std::string mark = bookmark(c);
  uint32_t fresh = 0;
  ASSERT_EQ(lm_dmscp_create_context(&fresh), 0u);
  ASSERT_EQ(lm_dmscp_go_bookmark(fresh, mark.c_str()), 0u) << mark;
  EXPECT_EQ(levelname(fresh), "x,y\\");
  EXPECT_EQ(extract(fresh, "Object@id"), "a&b<c\\$1");
  ASSERT_EQ(lm_dmscp_set_metadata(fresh, "Title", 0, "New & <T>"), 0u);
  nmc_test::CdsCall update = s.calls_of("UpdateObject").back();
  EXPECT_EQ(update.args["ObjectID"], "a&b<c\\$1");
  EXPECT_EQ(update.args["CurrentTagValue"], "<dc:title>It&quot;em &amp; &lt;1&gt;</dc:title>");
  EXPECT_EQ(update.args["NewTagValue"], "<dc:title>New &amp; &lt;T&gt;</dc:title>");
}

TEST_F(NmcDmsTest, SearchAndSortCriteriaAsTheServerGetsThem) {
  CdsServer &s = standard_server();
  uint32_t c = context_in_root();
  const struct {
    const char *query, *criteria;
  } cases[] = {
      // (The criteria texts themselves are checked without a server.)
      {"title=abc&artist=xyz&exact=1", "(dc:title = \"abc\") and (upnp:artist = \"xyz\")"},
      {"title=a\"b", "(dc:title contains \"a\\\"b\")"},
  };
  for (const auto &k : cases) {
    ASSERT_EQ(lm_dmscp_search(c, k.query), 0u) << k.query;
    EXPECT_EQ(levelname(c), "Search Results");
    EXPECT_EQ(s.calls_of("Search").back().args["SearchCriteria"], k.criteria);
    EXPECT_EQ(s.calls_of("Search").back().args["ContainerID"], "1");
    ASSERT_EQ(lm_dmscp_go_parent(c), 0u);
  }
  ASSERT_EQ(lm_dmscp_set_sort_option(c, "album=descending&title=x"), 0u);
  ASSERT_EQ(lm_dmscp_go_index(c, 1), 0u);
  EXPECT_EQ(extract(c, "Title"), "Bulk");
  EXPECT_EQ(s.calls_of("Browse").back().args["SortCriteria"], "+dc:title,-upnp:album");

  // A failed search leaves the stack as it was.
  s.reply = [](const nmc_test::CdsCall &call) {
    return call.action == "Search" ? CdsServer::soap_fault(708) : std::string();
  };
  EXPECT_EQ(lm_dmscp_search(c, "title=z"), 708u);
  EXPECT_EQ(level(c), 1u);
  EXPECT_EQ(levelname(c), "Root");
  s.reply = nullptr;
  char caps[256];
  ASSERT_EQ(lm_dmscp_get_search_capabilities(c, sizeof caps, caps), 0u);
  EXPECT_STREQ(caps, "dc:title,upnp:artist");
  ASSERT_EQ(lm_dmscp_get_sort_capabilities(c, sizeof caps, caps), 0u);
  EXPECT_STREQ(caps, "dc:title");
}

TEST_F(NmcDmsTest, MetadataKeysOnAnItem) {
  CdsServer &s = standard_server();
  uint32_t c = context_in_root();
  ASSERT_EQ(lm_dmscp_go_directory(c), 0u);
  ASSERT_EQ(lm_dmscp_go_index(c, 1), 0u);
  const struct {
    const char *key;
    uint32_t occurrence;
    const char *value;
  } cases[] = {
      {"Artist", 1, "A2"},
      {"Artist.Count", 0, "2"},
      {"Resource.Count", 0, "2"},
      {"Resource@URI", 1, "http://x/a.wav"},
      {"Resource@Size", 0, "12345678901"},
      {"Resource@Duration", 0, "0:03:00"},
      {"Resource@MediaType", 0, "Audio"},
      {"Resource@CanByteSeek", 0, "1"},
      {"Resource@CanTimeSeek", 0, "0"},
      {"Resource@DtcpCanCopy", 0, "1"},
      {"Resource@CanByteSeek", 1, "0"},
      {"ObjectType", 0, "Audio"},
      {"MediaType", 0, "Audio"},
      {"ObjectClass", 0, "object.item.audioItem.musicTrack"},
      {"Object@parentID", 0, "1"},
      {"upnp:artist", 0, "A1"},
      {"friendlyName", 0, "Crafted Server"},
      {"manufacturer", 0, "Nobody"},
      {"Album", 0, "error 9"},
      {"Artist", 2, "error 9"},
      {"Title.Size", 0, "error 2"},
  };
  for (const auto &k : cases) EXPECT_EQ(extract(c, k.key, k.occurrence), k.value) << k.key << " " << k.occurrence;
  uint64_t size = 0;
  ASSERT_EQ(lm_dmscp_extract_metadata_uint64(c, "Resource@Size", 0, &size), 0u);
  EXPECT_EQ(size, 12345678901ull);
  int32_t small = 0;
  EXPECT_EQ(lm_dmscp_extract_metadata_int(c, "Resource@Size", 0, &small), 9u);
  ASSERT_EQ(lm_dmscp_extract_metadata_int(c, "Resource@Size", 1, &small), 0u);
  EXPECT_EQ(small, 99);

  // Loading delivers the count first, every property, then the end.
  struct Seen {
    std::vector<std::string> names;
    uint32_t first = 0;
    int ends = 0;
  } seen;
  auto cb = [](uint32_t, const char *name, const char *value, uint32_t occurrence, void *user) -> int {
    Seen *s = static_cast<Seen *>(user);
    if (name == nullptr) {
      if (s->names.empty() && s->ends == 0 && s->first == 0) s->first = occurrence;
      else ++s->ends;
      return 1;
    }
    s->names.push_back(std::string(name) + "[" + std::to_string(occurrence) + "]=" + value);
    return 1;
  };
  ASSERT_EQ(lm_dmscp_load_metadata(c, cb, LM_DMSCP_METADATA_OBJECT, &seen), 0u);
  EXPECT_EQ(seen.first, seen.names.size());
  EXPECT_EQ(seen.ends, 1);
  EXPECT_NE(std::find(seen.names.begin(), seen.names.end(), "Artist[1]=A2"), seen.names.end());
  EXPECT_NE(std::find(seen.names.begin(), seen.names.end(), "Resource@URI[1]=http://x/a.wav"), seen.names.end());
  EXPECT_EQ(lm_dmscp_load_metadata(c, cb, 3, &seen), 2u);

  // The same value sends nothing; another one sends UpdateObject.
  s.clear_calls();
  ASSERT_EQ(lm_dmscp_set_metadata(c, "Artist", 1, "A2"), 0u);
  EXPECT_TRUE(s.calls_of("UpdateObject").empty());
  EXPECT_EQ(lm_dmscp_set_metadata(c, "Resource@Size", 0, "1"), 2u);
  ASSERT_EQ(lm_dmscp_set_metadata(c, "Album", 0, "New"), 0u);
  ASSERT_EQ(s.calls_of("UpdateObject").size(), 1u);
  EXPECT_EQ(s.calls_of("UpdateObject")[0].args["CurrentTagValue"], "");
  EXPECT_EQ(s.calls_of("UpdateObject")[0].args["NewTagValue"], "<upnp:album>New</upnp:album>");
  ASSERT_EQ(lm_dmscp_delete_object(c), 0u);
  EXPECT_EQ(s.calls_of("DestroyObject").back().args["ObjectID"], "1$a");
}

TEST_F(NmcDmsTest, KnownKindsAndWellKnownBookmarks) {
  CdsServer &wmc = serve("uuid:nmc-dms-00000a", "A WMC", "<manufacturer>Microsoft Corporation</manufacturer>"
                                                        "<modelNumber>12.0</modelNumber>");
  wmc.add({"4", "1", "All Music", true, "", "", false, false, false, false});
  wmc.add({"1", "0", "Music", true, "", "", false, false, false, false});
  wmc.add_items("4", 3, "Song");
  uint32_t c = 0;
  ASSERT_EQ(lm_dmscp_create_context(&c), 0u);
  EXPECT_EQ(extract(c, "knownServer"), "Microsoft WMC 12.0");
  EXPECT_EQ(extract(c, "wellKnownBookmark.Count"), "13");
  char info[8192];
  ASSERT_EQ(lm_dmscp_get_device_info(c, sizeof info, info), 0u);
  EXPECT_EQ(std::string(info).compare(0, 26, "<serverInfo><server><name>"), 0) << info;
  ASSERT_EQ(lm_dmscp_go_bookmark(c, ".,music/all"), 0u);
  EXPECT_EQ(levelname(c), "All Music");
  EXPECT_EQ(extract(c, "Title"), "Song 0");
  ASSERT_EQ(lm_dmscp_go_parent(c), 0u);
  EXPECT_EQ(levelname(c), "Music");
}

TEST_F(NmcDmsTest, KindsByBaseUrlAndTheProxyChoice) {
  // name, model name, model number, proxy flag, header at the base URL
  const struct {
    const char *udn, *name, *model, *number, *proxy, *header;
    const char *known;
  } servers[] = {
      {"uuid:nmc-dms-0000p1", "P1", "Lumet Media Server", "7.2", "true", "Server: Lumet/7\r\n", "Lumet 7.2"},
      {"uuid:nmc-dms-0000p2", "P2", "Lumet Media Server", "7.2", "true", "", "error 9"},
      {"uuid:nmc-dms-0000p3", "P3", "Lumet Media Server", "9.0", "false", "", "error 9"},
      {"uuid:nmc-dms-0000p4", "P4", "Lumet Media Server", "5.0", "true", "", "error 9"},
      {"uuid:nmc-dms-0000p5", "P5", "Other", "4.4.2", "false", "Server: zelConnect/4.4\r\n", "Lumet 4.4"},
  };
  for (const auto &k : servers) {
    servers_.push_back(std::make_unique<CdsServer>(k.udn, k.name));
    CdsServer &s = *servers_.back();
    s.root_header = k.header;
    s.device_extra = std::string("<modelName>") + k.model + "</modelName><modelNumber>" + k.number +
                     "</modelNumber><isProxyServer>" + k.proxy + "</isProxyServer><baseURL>" + s.base_url() +
                     "</baseURL>";
    upnp_control_add_device(s.description_url().c_str(), k.udn, "127.0.0.1:9000", 1800, 1);
    ASSERT_TRUE(wait_until([&] { return nmc_devices_find_udn(NMC_SIDE_SERVER, k.udn, nullptr); }, 5000));
  }
  auto proxy = [] {
    char *base = nullptr;
    std::string text = upnp_cp_get_proxy_base(UPNP_CP_PROXY_AUTOMATIC, &base) == 0 && base ? base : "";
    upnp_free_impl(base);
    return text;
  };
  // The highest version among the proxy servers, the first of equal ones.
  ASSERT_TRUE(wait_until([&] { return proxy() == servers_[0]->base_url(); }, 5000)) << proxy();
  uint32_t c = 0;
  ASSERT_EQ(lm_dmscp_create_context(&c), 0u);
  for (uint32_t i = 0; i < 5; ++i) {
    ASSERT_EQ(lm_dmscp_go_index(c, i), 0u);
    EXPECT_EQ(extract(c, "knownServer"), servers[i].known) << servers[i].name;
  }
  // The chosen one goes away: the other of the same version takes over.
  Sleep(1100);
  ASSERT_EQ(upnp_control_delete_device(servers[0].udn, 1), 1);
  EXPECT_TRUE(wait_until([&] { return proxy() == servers_[1]->base_url(); }, 5000)) << proxy();
  ASSERT_EQ(lm_dmscp_ioctl(c, "EnableDMSProxy", 0, nullptr), 0u);
  char *base = nullptr;
  ASSERT_EQ(upnp_cp_get_proxy_base(UPNP_CP_PROXY_APPLICATION, &base), 0);
  EXPECT_NE(std::string(base), "");
  upnp_free_impl(base);
  ASSERT_EQ(lm_dmscp_ioctl(c, "DisableDMSProxy", 0, nullptr), 0u);
  EXPECT_EQ(upnp_cp_get_proxy_base(UPNP_CP_PROXY_APPLICATION, &base), 9);
  // Without proxy servers the choice is cleared.
  for (int i = 1; i < 4; ++i) ASSERT_EQ(upnp_control_delete_device(servers[i].udn, 1), 1);
  EXPECT_TRUE(wait_until([&] { return proxy().empty(); }, 5000)) << proxy();
}

TEST_F(NmcDmsTest, UpdateEventsAndRemoval) {
  CdsServer &s = standard_server();
  static std::mutex s_mutex;
  static std::vector<std::string> s_texts;
  // Update (1) and removal (2) callbacks only: the server's details may
  // still reach the new context (4) while the test runs.
  auto texts = [] {
    std::lock_guard<std::mutex> hold(s_mutex);
    std::vector<std::string> kept;
    for (const std::string &t : s_texts) {
      if (t.compare(0, 2, "4 ") != 0) kept.push_back(t);
    }
    return kept;
  };
  uint32_t c = context_in_root();
  ASSERT_EQ(lm_dmscp_register_callback(c, [](uint32_t, uint32_t code, const char *text) {
              std::lock_guard<std::mutex> hold(s_mutex);
              s_texts.push_back(std::to_string(code) + " " + text);
            }),
            0u);
  ASSERT_EQ(lm_dmscp_go_directory(c), 0u);
  EXPECT_EQ(extract(c, "Title"), "Inner");
  s.clear_calls();
  int index = upnp_control_get_device_index("uuid:nmc-dms-000001", 1);
  for (int id : {3, 3, 5}) {
    std::string text = "<ServerUpdated><Index>" + std::to_string(index) +
                       "</Index><Sequence>1</Sequence><SystemUpdateID>" + std::to_string(id) +
                       "</SystemUpdateID></ServerUpdated>";
    nmc_events_to_sessions(text.c_str());
  }
  ASSERT_TRUE(wait_until([&] { return texts().size() >= 2; }, 5000));
  Sleep(300);
  ASSERT_EQ(texts().size(), 2u) << ::testing::PrintToString(texts());
  EXPECT_EQ(texts()[0], "1 uuid:nmc-dms-000001,3,0,0,Root,0,,0,0,Music & <More>,1,,|3");
  // The growing identifier dropped the level's page: the next read asks again.
  s.clear_calls();
  EXPECT_EQ(extract(c, "Title"), "Inner");
  EXPECT_EQ(s.calls_of("Browse").size(), 1u);
  EXPECT_EQ(extract(c, "Title"), "Inner");
  EXPECT_EQ(s.calls_of("Browse").size(), 1u);

  // The server goes away: the context is moved home and told with code 2.
  Sleep(1100);
  ASSERT_EQ(upnp_control_delete_device("uuid:nmc-dms-000001", 1), 1);
  ASSERT_TRUE(wait_until([&] { return texts().size() >= 3; }, 5000));
  EXPECT_EQ(texts()[2].substr(0, 2), "2 ");
  EXPECT_EQ(level(c), 0u);
  lm_dmscp_register_callback(c, nullptr);
}

TEST_F(NmcDmsTest, ServerIoctls) {
  standard_server();
  uint32_t a = 0, b = 0;
  ASSERT_EQ(lm_dmscp_create_context(&a), 0u);
  ASSERT_EQ(lm_dmscp_create_context(&b), 0u);
  const struct {
    uint32_t context;
    const char *command;
    lm_nmc_result_t rc;
    const char *out;
  } cases[] = {
      {a, "SetDMSItemCache 0", 2, ""},
      {a, "SetDMSItemCache 501", 2, ""},
      {a, "SetDMSItemCache x", 2, ""},
      {a, "SetDMSItemCache", 2, ""},
      {a, "SetDMSItemCache 30", 0, ""},
      {a, "GetDMSItemCache", 0, "30"},
      {b, "GetDMSItemCache", 0, "50"},
      {b, "SetDMSItemCache 20 global", 0, ""},
      {a, "GetDMSItemCache", 0, "30"},
      {b, "GetDMSItemCache", 0, "20"},
      {a, "GetDMSItemCache global", 0, "20"},
      {b, "SetDMSItemCache 50 global", 0, ""},
      {a, "GetDMSUploadProtocolInfo song.mp3", 0, "*:*:audio/mpeg:*"},
      {a, "GetDMSUploadProtocolInfo file.unknownext", 9, ""},
      {a, "GetLevelMediaType", 0, "Unknown"},
      {a, "GetNMCRunState", 0, "Running"},
      {0x10001, "GetDMSItemCache", 1, ""},
  };
  for (const auto &k : cases) {
    char out[128] = "junk";
    EXPECT_EQ(lm_dmscp_ioctl(k.context, k.command, sizeof out, out), k.rc) << k.command;
    EXPECT_STREQ(out, k.out) << k.command;
  }
}

TEST_F(NmcDmsTest, ServerCommandsThroughTheXmlInterface) {
  standard_server();
  int index = upnp_control_get_device_index("uuid:nmc-dms-000001", 1);
  const std::string i = std::to_string(index);
  const struct {
    std::string request, contains;
  } cases[] = {
      {"<GetSystemUpdateID><Index>" + i + "</Index></GetSystemUpdateID>", "<Id>7</Id><Result code=\"0\">OK"},
      {"<Browse><ServerIndex>" + i + "</ServerIndex><ObjectID>0</ObjectID><StartingIndex>1</StartingIndex>"
       "<RequestedCount>1</RequestedCount></Browse>",
       "<NumberReturned>1</NumberReturned><TotalMatches>2</TotalMatches>"},
      {"<BrowseSimple><ServerIndex>" + i + "</ServerIndex><ObjectID>1</ObjectID><BrowseFlag>BrowseMetadata"
       "</BrowseFlag></BrowseSimple>", "Music &amp;amp; &amp;lt;More&amp;gt;"},
      {"<BrowseSimple><ServerIndex>99</ServerIndex><ObjectID>0</ObjectID></BrowseSimple>", "<Result code=\"1\">"},
      {"<DeleteObject><ServerIndex>" + i + "</ServerIndex></DeleteObject>", "<Result code=\"2\">"},
      {"<RenameObject><ServerIndex>" + i + "</ServerIndex><ObjectID>1$a</ObjectID><Title>x</Title></RenameObject>",
       "<Result code=\"0\">"},
  };
  for (const auto &k : cases) {
    char *response = lm_nmc_api_query(k.request.c_str(), 1);
    ASSERT_NE(response, nullptr);
    EXPECT_NE(std::string(response).find(k.contains), std::string::npos) << k.request << "\n" << response;
    upnp_free_impl(response);
  }
}

}  // namespace

// The one-pass read of an entry answers what the five calls a feed made per
// entry answer, field by field and failure by failure (texts over the
// sizes, indexes past the end), at the server list, in folders and across
// the pages of the bulk folder.
TEST_F(NmcDmsTest, OneEntryReadMatchesTheCallsOneByOne) {
  standard_server();
  struct Calls {
    lm_nmc_result_t rc;
    std::string metadata, title, bookmark;
    bool directory;
  };
  const auto one_by_one = [](uint32_t c, uint32_t index, const char *key, const nmc_dms_entry_sizes &sizes) {
    std::vector<char> metadata(sizes.metadata), title(sizes.title), mark(sizes.bookmark);
    uint32_t flag = 0;
    lm_nmc_result_t rc = lm_dmscp_go_index(c, index);
    if (rc == 0) rc = lm_dmscp_get_metadata(c, sizes.metadata, metadata.data());
    if (rc == 0) rc = lm_dmscp_extract_metadata(c, key, 0, sizes.title, title.data());
    if (rc == 0) rc = lm_dmscp_get_bookmark(c, sizes.bookmark, mark.data());
    if (rc == 0) rc = lm_dmscp_is_directory(c, &flag);
    if (rc != 0) return Calls{rc, "", "", "", false};
    return Calls{rc, metadata.data(), title.data(), mark.data(), flag != 0};
  };
  const struct {
    std::vector<uint32_t> path;  // indexes entered from the server list
    const char *key;
    uint32_t index;
    nmc_dms_entry_sizes sizes;
  } rows[] = {
      {{}, "friendlyName", 0, {16384, 256, 1024}},
      {{}, "friendlyName", 1, {16384, 256, 1024}},
      {{0}, "Title", 0, {16384, 256, 1024}},
      {{0, 0}, "Title", 1, {16384, 256, 1024}},
      {{0, 0}, "Title", 1, {200, 256, 1024}},
      {{0, 0}, "Title", 1, {16384, 10, 1024}},
      {{0, 0}, "Title", 1, {16384, 256, 20}},
      {{0, 0}, "Artist", 1, {16384, 256, 1024}},
      {{0, 1}, "Title", 49, {16384, 256, 1024}},
      {{0, 1}, "Title", 50, {16384, 256, 1024}},
      {{0, 1}, "Title", 119, {16384, 256, 1024}},
      {{0, 1}, "Title", 120, {16384, 256, 1024}},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(::testing::Message() << row.path.size() << " levels, " << row.key << " of " << row.index
                                      << ", sizes " << row.sizes.metadata << "/" << row.sizes.title << "/"
                                      << row.sizes.bookmark);
    uint32_t contexts[2] = {0, 0};
    for (uint32_t &c : contexts) {
      ASSERT_EQ(lm_dmscp_create_context(&c), 0u);
      for (uint32_t step : row.path) {
        ASSERT_EQ(lm_dmscp_go_index(c, step), 0u);
        ASSERT_EQ(lm_dmscp_go_directory(c), 0u);
      }
    }
    const Calls want = one_by_one(contexts[0], row.index, row.key, row.sizes);
    nmc_dms_entry entry;
    EXPECT_EQ(nmc_dms_read_entry(contexts[1], row.index, row.key, row.sizes, &entry), want.rc);
    if (want.rc == 0) {
      ASSERT_NE(entry.metadata, nullptr);
      EXPECT_EQ(std::string(entry.metadata->buffer, entry.metadata->length), want.metadata);
      EXPECT_EQ(entry.title, want.title);
      EXPECT_EQ(entry.bookmark, want.bookmark);
      EXPECT_EQ(entry.directory, want.directory);
    }
    upnp_string_free(entry.metadata);
    for (uint32_t c : contexts) lm_dmscp_delete_context(c);
  }
}

TEST_F(NmcDmsTest, PagesReadAheadAreTakenNotAskedAgain) {
  CdsServer &s = standard_server();
  // How the read-ahead of the page from 50 (and, following it, of the page
  // from 100) is run before entries 49-51 and 100 are read: by the other
  // thread before, by it while the reader waits (the server holds that
  // Browse), not at all, after a change of page size, or before a jump to
  // entry 100 and back to 50 (the jump drops it).
  enum Run { kBefore, kFollowed, kWhileReading, kNever, kPageSizeChanged, kJumpedAway };
  const struct {
    Run run;
    std::vector<std::string> browses;  // "start/count" of each Browse from entry 49 on
  } rows[] = {
      {kBefore, {"50/50", "100/50"}},
      {kFollowed, {"50/50", "100/50"}},
      {kWhileReading, {"50/50", "100/50"}},
      {kNever, {"50/50", "100/50"}},
      {kPageSizeChanged, {"50/50", "50/20", "100/20"}},
      {kJumpedAway, {"50/50", "100/50", "50/50", "49/50", "100/50"}},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.run);
    uint32_t c = context_in_root();
    ASSERT_EQ(lm_dmscp_go_index(c, 1), 0u);
    ASSERT_EQ(lm_dmscp_go_directory(c), 0u);
    ASSERT_EQ(extract(c, "Title"), "Track 0");
    EXPECT_EQ(nmc_dms_ahead_begin(c, 120, NMC_DMS_AHEAD_ANY), nullptr);  // past the count
    EXPECT_EQ(nmc_dms_ahead_begin(c, 10, NMC_DMS_AHEAD_ANY), nullptr);   // in the page
    EXPECT_EQ(nmc_dms_ahead_begin(c, 100, 50), nullptr);                 // no walk to follow
    s.clear_calls();
    std::shared_ptr<nmc_dms_ahead> ahead = nmc_dms_ahead_begin(c, 50, NMC_DMS_AHEAD_ANY);
    ASSERT_NE(ahead, nullptr);
    EXPECT_EQ(nmc_dms_ahead_begin(c, 50, NMC_DMS_AHEAD_ANY), nullptr);  // already marked
    std::shared_ptr<nmc_dms_ahead> next;
    std::thread reader;
    if (row.run == kBefore) nmc_dms_ahead_fetch(*ahead);
    if (row.run == kFollowed) {
      next = nmc_dms_ahead_begin(c, 100, 50);
      ASSERT_NE(next, nullptr);
      nmc_dms_ahead_fetch(*ahead);
      nmc_dms_ahead_fetch(*next);
    }
    if (row.run == kWhileReading) {
      s.reply = [](const nmc_test::CdsCall &) {
        Sleep(300);
        return std::string();
      };
      reader = std::thread([&] { nmc_dms_ahead_fetch(*ahead); });
      ASSERT_TRUE(wait_until([&] { return !s.calls_of("Browse").empty(); }, 5000));
    }
    if (row.run == kPageSizeChanged) {
      ASSERT_EQ(lm_dmscp_ioctl(c, "SetDMSItemCache 20", 0, nullptr), 0u);
      nmc_dms_ahead_fetch(*ahead);
    }
    if (row.run == kJumpedAway) {
      nmc_dms_ahead_fetch(*ahead);
      for (uint32_t i : {100u, 50u}) {
        ASSERT_EQ(lm_dmscp_go_index(c, i), 0u);
        EXPECT_EQ(extract(c, "Title"), "Track " + std::to_string(i));
      }
    }
    for (uint32_t i : {49u, 50u, 51u, 100u}) {
      ASSERT_EQ(lm_dmscp_go_index(c, i), 0u);
      EXPECT_EQ(extract(c, "Title"), "Track " + std::to_string(i));
    }
    if (reader.joinable()) reader.join();
    s.reply = nullptr;
    // A page taken or asked for is not read again by a late fetch.
    nmc_dms_ahead_fetch(*ahead);
    if (next) nmc_dms_ahead_fetch(*next);
    std::vector<std::string> browses;
    for (const nmc_test::CdsCall &call : s.calls_of("Browse")) {
      browses.push_back(call.args.at("StartingIndex") + "/" + call.args.at("RequestedCount"));
    }
    EXPECT_EQ(browses, row.browses);
    lm_dmscp_delete_context(c);
  }
}
