// The server side's texts without a server: search and sort criteria from
// simple queries, bookmark parts (escaping, old form), metadata keys,
// computed resource attributes, server kinds and well-known bookmarks.
#include <gtest/gtest.h>

#include "nmc/lm_dmscp_internal.h"

namespace {

TEST(NmcDmsText, SearchCriteriaFromQueries) {
  const struct {
    const char *query, *criteria;
  } cases[] = {
      {"title=abc&artist=xyz&exact=1", "(dc:title = \"abc\") and (upnp:artist = \"xyz\")"},
      {"title=abc", "(dc:title contains \"abc\")"},
      {"album=A&genre=G&creator=C", "(dc:creator contains \"C\") and (upnp:genre contains \"G\") and "
                                    "(upnp:album contains \"A\")"},
      {"type=photoItem", "(upnp:class derivedfrom \"object.item.imageItem.photo\")"},
      {"type=object.item.epgItem", "(upnp:class derivedfrom \"object.item.epgItem\")"},
      {"artist=x&type=musicAlbum", "(upnp:artist contains \"x\") and "
                                   "(upnp:class derivedfrom \"object.container.album.musicAlbum\")"},
      // A quote or backslash in a value stays inside its string.
      {"title=a\" or 1=1 or dc:title=\"", "(dc:title contains \"a\\\" or 1=1 or dc:title=\\\"\")"},
      {"title=back\\slash", "(dc:title contains \"back\\\\slash\")"},
      {"dc:title contains \"x\"", "dc:title contains \"x\""},
  };
  for (const auto &c : cases) EXPECT_EQ(nmc_dms_search_criteria(c.query), c.criteria) << c.query;
}

TEST(NmcDmsText, SortCriteriaFromTexts) {
  const struct {
    const char *text, *criteria;
  } cases[] = {
      {"title=ascending", "+dc:title"},
      {"album=descending&title=x", "+dc:title,-upnp:album"},
      {"-upnp:artist", "-upnp:artist"},
  };
  for (const auto &c : cases) EXPECT_EQ(nmc_dms_sort_criteria(c.text), c.criteria) << c.text;
}

TEST(NmcDmsText, BookmarkPartsEscapeAndSplit) {
  EXPECT_EQ(nmc_bookmark_escape("a,b\\"), "a\\,b\\\\");
  const struct {
    const char *text;
    std::vector<std::string> parts;
  } cases[] = {
      {"uuid:x,0", {"uuid:x", "0"}},
      {"uuid:x,a\\,b,c", {"uuid:x", "a,b", "c"}},
      // An identifier ending in a backslash keeps its separator.
      {"uuid:x,0\\\\Music\\\\,1", {"uuid:x", "0\\Music\\", "1"}},
      // The old form: a lone backslash before anything but a comma stays.
      {"uuid:x,0\\Music\\x,1", {"uuid:x", "0\\Music\\x", "1"}},
      {"", {""}},
      {",,", {"", "", ""}},
  };
  for (const auto &c : cases) EXPECT_EQ(nmc_bookmark_split(c.text), c.parts) << c.text;
  for (const char *part : {"plain", "a,b", "end\\", "\\,\\\\,", ""}) {
    EXPECT_EQ(nmc_bookmark_split("u," + nmc_bookmark_escape(part)), (std::vector<std::string>{"u", part})) << part;
  }
}

TEST(NmcDmsText, MetadataKeys) {
  const struct {
    const char *key;
    lm_nmc_result_t result;
    const char *name, *attribute;
    bool count;
  } cases[] = {
      {"Title", 0, "Title", "", false},
      {"Resource@Size", 0, "Resource", "Size", false},
      {"Artist.Count", 0, "Artist", "", true},
      {"Resource@protocolInfo.Count", 0, "Resource", "protocolInfo", true},
      {"Title.Length", 2, "", "", false},
      {"", 2, "", "", false},
      {"@x", 2, "", "", false},
      {"Resource@", 2, "", "", false},
  };
  for (const auto &c : cases) {
    nmc_dms_key key;
    EXPECT_EQ(nmc_dms_parse_key(c.key, &key), c.result) << c.key;
    if (c.result != 0) continue;
    EXPECT_EQ(key.name, c.name) << c.key;
    EXPECT_EQ(key.attribute, c.attribute) << c.key;
    EXPECT_EQ(key.count, c.count) << c.key;
  }
}

TEST(NmcDmsText, ComputedResourceAttributes) {
  const struct {
    const char *protocol;
    const char *time, *byte, *transcoded, *move, *copy;
  } cases[] = {
      {"http-get:*:audio/mpeg:*", "0", "0", "0", "0", "0"},
      {"http-get:*:audio/mpeg:DLNA.ORG_OP=01;DLNA.ORG_CI=0", "0", "1", "0", "0", "0"},
      {"http-get:*:video/mpeg:DLNA.ORG_OP=10;DLNA.ORG_CI=1", "1", "0", "1", "0", "0"},
      {"http-get:*:video/mpeg:DLNA.ORG_PN=X;DLNA.ORG_FLAGS=00003000000000000000000000000000", "0", "0", "0", "1",
       "1"},
      {"http-get:*:video/mpeg:DLNA.ORG_FLAGS=00001000", "0", "0", "0", "1", "0"},
      {"http-get:*:video/mpeg:DLNA.ORG_FLAGS=0000200", "0", "0", "0", "0", "0"},
      {"http-get:*:video/mpeg:DLNA.ORG_FLAGS=A0002000", "0", "0", "0", "0", "0"},
  };
  for (const auto &c : cases) {
    const char *expected[] = {c.time, c.byte, c.transcoded, c.move, c.copy};
    const char *names[] = {"CanTimeSeek", "CanByteSeek", "IsTranscoded", "DtcpCanMove", "DtcpCanCopy"};
    for (int i = 0; i < 5; ++i) {
      std::string value;
      ASSERT_TRUE(nmc_dms_resource_capability(names[i], c.protocol, &value));
      EXPECT_EQ(value, expected[i]) << names[i] << " " << c.protocol;
    }
  }
  std::string value;
  EXPECT_FALSE(nmc_dms_resource_capability("Size", "x", &value));
}

TEST(NmcDmsText, ServerKinds) {
  const struct {
    const char *manufacturer, *model, *header;
    int kind;
  } cases[] = {
      {"Brevant Inc.", "6.0", "", 1},     {"Microsoft Corporation", "12", "", 3}, {"Sony", "", "", 5},
      {"D-Link", "", "", 4},              {"Research In Motion", "", "", 6},     {"Justin Maggard", "1.3", "", 0},
      {"Other", "4.4.1", "HTTP/1.1 200 OK\r\nServer: zelConnect/4.4\r\n", 2},
      {"Microsoft", "7", "HTTP/1.1 200 OK\r\nServer: Lumet/7\r\n", 1},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(nmc_dms_detect_kind(c.manufacturer, c.model, c.header), c.kind) << c.manufacturer;
  }
  EXPECT_STREQ(nmc_dms_kind_name(3), "Microsoft WMC");
  EXPECT_STREQ(nmc_dms_kind_name(9), "unknown");
}

TEST(NmcDmsText, WellKnownTranslations) {
  const struct {
    int kind;
    const char *bookmark;
    bool found;
    const char *id;
    bool root_walk;
  } cases[] = {
      {1, ".,music", false, "", false},          {2, ".,music", true, "0\\Music\\", false},
      {2, ".,music/all", true, "0\\Music\\", true}, {4, ".,music/all", false, "", false},
      {3, ".,music/all", true, "4", false},      {5, ".,video/all", true, "AllVideos", false},
      {6, ".,picture/keywords", true, "D2", false}, {0, ".,music", false, "", false},
  };
  for (const auto &c : cases) {
    std::string id;
    bool walk = true;
    EXPECT_EQ(nmc_dms_translate_wellknown(c.kind, c.bookmark, &id, &walk), c.found) << c.kind << c.bookmark;
    if (!c.found) continue;
    EXPECT_EQ(id, c.id);
    EXPECT_EQ(walk, c.root_walk);
  }
  EXPECT_EQ(nmc_dms_wellknown_keys(1).size(), 13u);  // the WMC table's keys
  EXPECT_EQ(nmc_dms_wellknown_keys(2).size(), 9u);   // the older table and the root table
  EXPECT_TRUE(nmc_dms_wellknown_keys(0).empty());
}

}  // namespace
