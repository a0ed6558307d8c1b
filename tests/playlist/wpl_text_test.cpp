// The WPL text: the exact lines written, what is read back, and round trips
// with every kept item attribute and texts that need escaping.
#include <gtest/gtest.h>

#include "wpl_test_util.h"

namespace {

TEST(WplText, EmptyPlaylistHasNoSeq) {
  uint32_t h = 0;
  ASSERT_EQ(0, upnp_wpl_create_playlist("Empty one", 2, 3, nullptr, nullptr, &h));
  EXPECT_EQ(
      "<?wpl version=\"1.0\"?>\n<smil>\n  <head>\n"
      "    <meta name=\"Generator\" content=\"LumetMedia\"/>\n"
      "    <meta name=\"ItemCount\" content=\"0\"/>\n"
      "    <meta name=\"Type\" content=\"P\"/>\n"
      "    <meta name=\"Source\" content=\"CDS\"/>\n"
      "    <title>Empty one</title>\n"
      "  </head>\n  <body>\n  </body>\n</smil>\n",
      wpl_text(h));
  upnp_wpl_delete_playlist(h);
}

TEST(WplText, ItemsWithAndWithoutAttributes) {
  uint32_t h = 0;
  ASSERT_EQ(0, upnp_wpl_create_playlist("Mixed", 4, 4, "Gen", "C:\\orig.wpl", &h));
  upnp_wpl_add_item(h, upnp_wpl_create_item("http://h/1.mp3"));
  upnp_wpl_item *item = upnp_wpl_create_item("http://h/2.mp3");
  upnp_wpl_set_item_title(item, "Two");
  upnp_wpl_add_item_attribute(item, "udn", "uuid:x");
  upnp_wpl_add_item(h, item);
  EXPECT_EQ(
      "<?wpl version=\"1.0\"?>\n<smil>\n  <head>\n"
      "    <meta name=\"Generator\" content=\"Gen\"/>\n"
      "    <meta name=\"OrigFilename\" content=\"C:\\orig.wpl\"/>\n"
      "    <meta name=\"ItemCount\" content=\"2\"/>\n"
      "    <meta name=\"Type\" content=\"X\"/>\n"
      "    <meta name=\"Source\" content=\"online\"/>\n"
      "    <title>Mixed</title>\n"
      "  </head>\n  <body>\n    <seq>\n"
      "      <media src=\"http://h/1.mp3\"/>\n"
      "      <media src=\"http://h/2.mp3\"  title=\"Two\"  udn=\"uuid:x\"  />\n"
      "    </seq>\n  </body>\n</smil>\n",
      wpl_text(h));
  upnp_wpl_delete_playlist(h);
}

TEST(WplText, UnknownTypeAndSourceWriteTheDefaults) {
  uint32_t h = 0;
  ASSERT_EQ(0, upnp_wpl_create_playlist("Odd", 9, 9, nullptr, nullptr, &h));
  std::string text = wpl_text(h);
  EXPECT_NE(std::string::npos, text.find("<meta name=\"Type\" content=\"M\"/>"));
  EXPECT_NE(std::string::npos, text.find("<meta name=\"Source\" content=\"file\"/>"));
  upnp_wpl_delete_playlist(h);
}

char *upper_filter(void *context, const char *src, const upnp_wpl_item *item) {
  ++*static_cast<int *>(context);
  if (std::string(src) == "drop") return nullptr;
  std::string out = std::string("filtered:") + src + ":" + (item->attributes ? "attr" : "plain");
  return upnp_strdup_impl(out.c_str());
}

TEST(WplText, FilterRewritesEverySrc) {
  uint32_t h = make_playlist("Filter", 0);
  upnp_wpl_add_item(h, upnp_wpl_create_item("keep"));
  upnp_wpl_add_item(h, upnp_wpl_create_item("drop"));
  upnp_string *s = nullptr;
  int calls = 0;
  ASSERT_EQ(0, upnp_wpl_convert_to_xml_with_filter(h, &s, upper_filter, &calls));
  std::string text = upnp_string_get_cstring(s);
  upnp_string_free(s);
  EXPECT_EQ(2, calls);
  EXPECT_NE(std::string::npos, text.find("<media src=\"filtered:keep:plain\"/>"));
  EXPECT_NE(std::string::npos, text.find("<media src=\"\"/>"));
  upnp_wpl_delete_playlist(h);
}

TEST(WplText, AppendsToAnExistingString) {
  uint32_t h = make_playlist("Append", 0);
  upnp_string *s = upnp_string_create("PREFIX", 0);
  ASSERT_EQ(0, upnp_wpl_convert_to_xml(h, &s));
  EXPECT_EQ(0, std::string(upnp_string_get_cstring(s)).rfind("PREFIX<?wpl", 0));
  upnp_string_free(s);
  upnp_wpl_delete_playlist(h);
}

TEST(WplText, ReadsMetaIgnoringCaseAndKeepsOnlyKnownAttributes) {
  const char *text =
      "<?wpl version=\"1.0\"?><smil><head>"
      "<meta name=\"type\" content=\"v\"/><meta name=\"SOURCE\" content=\"cds\"/>"
      "<meta name=\"generator\" content=\"Other\"/><meta name=\"ItemCount\" content=\"99\"/>"
      "<title>Read me</title></head><body><seq>"
      "<media src=\"s1\" bookmark=\"b\" junk=\"j\" title=\"t\" metadata=\"m\" objectId=\"o\" udn=\"u\"/>"
      "<media title=\"no src\"/>"
      "<media src=\"s2\"/>"
      "</seq></body></smil>";
  uint32_t h = 0;
  ASSERT_EQ(0, upnp_wpl_convert_from_xml(&h, text));
  char *title = nullptr, *gen = nullptr;
  int type = 0, source = 0;
  uint32_t count = 0;
  ASSERT_EQ(0, upnp_wpl_get_playlist_properties(h, &title, &type, &source, &gen, nullptr, nullptr, &count));
  EXPECT_EQ("Read me", take_text(title));
  EXPECT_EQ("Other", take_text(gen));
  EXPECT_EQ(3, type);
  EXPECT_EQ(3, source);
  EXPECT_EQ(2u, count);
  upnp_wpl_item *item = upnp_wpl_get_item_by_track(h, 0);
  ASSERT_NE(nullptr, item);
  std::vector<std::string> names;
  for (upnp_wpl_attribute *a = item->attributes; a; a = a->next) names.push_back(a->name);
  EXPECT_EQ((std::vector<std::string>{"bookmark", "title", "metadata", "objectId", "udn"}), names);
  upnp_wpl_free_item(item);
  upnp_wpl_delete_playlist(h);
}

TEST(WplText, SourceDefaultsAndUnknownWords) {
  auto read_source = [](const std::string &head) {
    std::string text = "<smil><head>" + head + "<title>Src</title></head><body/></smil>";
    uint32_t h = 0;
    if (upnp_wpl_convert_from_xml(&h, text.c_str()) != 0) return -1;
    int source = -1, type = -1;
    upnp_wpl_get_playlist_properties(h, nullptr, &type, &source, nullptr, nullptr, nullptr, nullptr);
    upnp_wpl_delete_playlist(h);
    return source * 10 + type;
  };
  EXPECT_EQ(11, read_source(""));
  EXPECT_EQ(1, read_source("<meta name=\"Source\" content=\"somewhere\"/><meta name=\"Type\" content=\"Q\"/>"));
  EXPECT_EQ(24, read_source("<meta name=\"Source\" content=\"ITUNES\"/><meta name=\"Type\" content=\"x\"/>"));
  EXPECT_EQ(11, read_source("<meta name=\"Other\" content=\"cds\"/>"));
}

TEST(WplText, ReadingReplacesItemsOfTheSamePlaylist) {
  uint32_t h = make_playlist("Replace me", 3);
  const uint32_t cache[3] = {1, 2, 3};
  ASSERT_EQ(0, upnp_wpl_set_cache(h, 3, cache));
  uint32_t again = 0;
  ASSERT_EQ(0, upnp_wpl_convert_from_xml(
                   &again, "<smil><head><title>Replace me</title><meta name=\"Generator\" content=\"G2\"/></head>"
                           "<body><seq><media src=\"z\"/></seq></body></smil>"));
  EXPECT_EQ(h, again);
  EXPECT_EQ((std::vector<std::string>{"z"}), item_srcs(h));
  uint32_t *values = nullptr;
  EXPECT_EQ(14, upnp_wpl_get_cache(h, 1, &values));
  char *gen = nullptr;
  upnp_wpl_get_playlist_properties(h, nullptr, nullptr, nullptr, &gen, nullptr, nullptr, nullptr);
  EXPECT_EQ("G2", take_text(gen));
  upnp_wpl_delete_playlist(h);
}

TEST(WplText, RefusesTextsThatAreNotPlaylists) {
  uint32_t h = 5;
  EXPECT_EQ(14, upnp_wpl_convert_from_xml(&h, "not xml at all"));
  EXPECT_EQ(0u, h);
  EXPECT_EQ(14, upnp_wpl_convert_from_xml(&h, "<smil><body/></smil>"));  // no title
  EXPECT_EQ(14, upnp_wpl_convert_from_xml(&h, nullptr));
}

// Every kept attribute, texts with the five XML specials, control characters
// and non-ASCII text: written, read back into a fresh playlist and written
// again, the result is the same.
TEST(WplText, RoundTripWithEveryAttributeAndEscaping) {
  const std::string nasty = "Tom & Jerry <\"live\"> 'at' the > club\ttab\nline \xC3\xA9t\xC3\xA9";
  uint32_t h = 0;
  ASSERT_EQ(0, upnp_wpl_create_playlist(("Round " + nasty).c_str(), 3, 3, ("Gen " + nasty).c_str(),
                                        ("/orig/&<>\".wpl"), &h));
  const char *attrs[] = {"title", "udn", "objectId", "bookmark", "metadata"};
  for (int i = 0; i < 3; ++i) {
    upnp_wpl_item *item = upnp_wpl_create_item(("http://h/a?x=1&y=" + std::to_string(i) + "&q=\"<>\"").c_str());
    for (const char *a : attrs) {
      std::string value = std::string(a) + " " + nasty + " " + std::to_string(i);
      if (std::string(a) == "metadata") {
        value = "<DIDL-Lite xmlns=\"urn:x\"><item id=\"1&amp;2\"><dc:title>A &amp; B</dc:title></item></DIDL-Lite>";
      }
      ASSERT_EQ(0, upnp_wpl_add_item_attribute(item, a, value.c_str()));
    }
    ASSERT_EQ(0, upnp_wpl_add_item(h, item));
  }
  upnp_wpl_add_item(h, upnp_wpl_create_item("plain & simple"));
  std::string first = wpl_text(h);
  ASSERT_NE("<failed>", first);

  // Reading the text replaces the items of the same playlist: delete it so
  // the read creates a new record.
  std::vector<upnp_wpl_item *> before;
  for (uint32_t i = 0; i < 4; ++i) before.push_back(upnp_wpl_get_item_by_track(h, i));
  ASSERT_EQ(0, upnp_wpl_delete_playlist(h));
  uint32_t back = 0;
  ASSERT_EQ(0, upnp_wpl_convert_from_xml(&back, first.c_str()));
  ASSERT_NE(h, back);
  char *title = nullptr, *gen = nullptr, *orig = nullptr;
  int type = 0, source = 0;
  uint32_t count = 0;
  ASSERT_EQ(0, upnp_wpl_get_playlist_properties(back, &title, &type, &source, &gen, &orig, nullptr, &count));
  EXPECT_EQ("Round " + nasty, take_text(title));
  EXPECT_EQ("Gen " + nasty, take_text(gen));
  EXPECT_EQ("/orig/&<>\".wpl", take_text(orig));
  EXPECT_EQ(3, type);
  EXPECT_EQ(3, source);
  ASSERT_EQ(4u, count);
  for (uint32_t i = 0; i < 4; ++i) {
    upnp_wpl_item *item = upnp_wpl_get_item_by_track(back, i);
    ASSERT_NE(nullptr, item);
    EXPECT_STREQ(before[i]->src, item->src);
    upnp_wpl_attribute *x = before[i]->attributes, *y = item->attributes;
    for (; x && y; x = x->next, y = y->next) {
      EXPECT_STREQ(x->name, y->name);
      EXPECT_STREQ(x->value, y->value);
    }
    EXPECT_TRUE(x == nullptr && y == nullptr) << "attribute count differs for item " << i;
    upnp_wpl_free_item(item);
    upnp_wpl_free_item(before[i]);
  }
  EXPECT_EQ(first, wpl_text(back));
  upnp_wpl_delete_playlist(back);
}

TEST(WplText, AttributeNamesThatAreNotXmlNamesAreLeftOut) {
  uint32_t h = make_playlist("Names", 0);
  upnp_wpl_item *item = upnp_wpl_create_item("s");
  upnp_wpl_add_item_attribute(item, "title", "ok");
  upnp_wpl_add_item_attribute(item, "bad\" onload=\"x", "v");
  upnp_wpl_add_item(h, item);
  std::string text = wpl_text(h);
  EXPECT_EQ(std::string::npos, text.find("onload"));
  EXPECT_NE(std::string::npos, text.find("title=\"ok\""));
  upnp_wpl_delete_playlist(h);
}

}  // namespace
