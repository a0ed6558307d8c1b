// Writers: plain, escaped and DIDL-Lite compliant; and exact memory
// accounting over parse, copy, write and release.

#include <gtest/gtest.h>

#include <string>

#include "base/upnp_mem.h"
#include "base/upnp_xml.h"
#include "base/upnp_xml_compliant.h"
#include "base/upnp_xml_escape.h"
#include "base/upnp_xml_write.h"
#include "support_mem.h"
#include "xml_test_util.h"

namespace {

std::string plain(const char *doc, int pretty = 0, int single = 0) {
  XmlTree t(upnp_xml_parse(doc));
  if (t.get() == nullptr) return "<parse failed>";
  XmlText s(upnp_xml_tree_to_string(t.get(), pretty, single));
  return s.str();
}

std::string valid(const char *doc, int pretty = 0) {
  XmlTree t(upnp_xml_parse(doc));
  if (t.get() == nullptr) return "<parse failed>";
  XmlText s(upnp_xml_tree_to_string_valid(t.get(), pretty, 0));
  return s.str();
}

std::string compliant(const char *doc, int pretty = 0) {
  XmlTree t(upnp_xml_parse(doc));
  if (t.get() == nullptr) return "<parse failed>";
  XmlText s(upnp_xml_tree_to_compliant_string(t.get(), pretty, 0));
  return s.str();
}

std::string rule(const char *property, const char *value) {
  XmlText s(addCompliantString(upnp_string_create("", 1024), property, value, 1));
  return s.str();
}

// An element holding one value, written compliant.
std::string element_value(const std::string &name, const std::string &value) {
  std::string doc = "<" + name + ">" + value + "</" + name + ">";
  return compliant(doc.c_str());
}

// Every test gives back all the accounted memory it took.
class XmlWrite : public test_support::MemCheckedTest {};

TEST_F(XmlWrite, PlainWriterReversesNothingButTheParsedAttributeList) {
  // The parse keeps attributes in reverse order, so a write shows them so.
  EXPECT_EQ(plain("<a x=\"1\" y=\"2\"><b>v</b><c/></a>"), "<a y=\"2\" x=\"1\"><b>v</b><c></c></a>");
  EXPECT_EQ(plain("<t>a &amp; b</t>"), "<t>a & b</t>");  // no escaping
  EXPECT_EQ(valid("<t k=\"&quot;\">a &amp; b &lt;c&gt;</t>"), "<t k=\"&quot;\">a &amp; b &lt;c&gt;</t>");
}

TEST_F(XmlWrite, PrettyIndentsFourSpacesPerLevel) {
  EXPECT_EQ(plain("<r><a><b>1</b></a><c>2</c></r>", 1),
            "<r>\n"
            "    <a>\n"
            "        <b>1</b>\n"
            "    </a>\n"
            "    <c>2</c>\n"
            "</r>");
}

TEST_F(XmlWrite, SingleFlagWritesOnlyTheNode) {
  XmlTree t(upnp_xml_parse("<r><a>1</a><b>2</b></r>"));
  ASSERT_NE(t.get(), nullptr);
  XmlText all(upnp_xml_tree_to_string(t->children, 0, 0));
  EXPECT_EQ(all.str(), "<a>1</a><b>2</b>");
  XmlText one(upnp_xml_tree_to_string(t->children, 0, 1));
  EXPECT_EQ(one.str(), "<a>1</a>");
  XmlText pretty(upnp_xml_node_to_string(t->children, 1));
  EXPECT_EQ(pretty.str(), "<a>1</a>\n<b>2</b>");
  EXPECT_EQ(upnp_xml_tree_to_string(nullptr, 0, 0), nullptr);
}

TEST_F(XmlWrite, CompliantDropsEmptyAttributesAndEmptyElements) {
  EXPECT_EQ(compliant("<r><a x=\"\"/><b>v</b></r>"), "<r><b>v</b></r>");
  EXPECT_EQ(compliant("<r><a x=\"1\"/></r>"), "<r><a x=\"1\"/></r>");
  EXPECT_EQ(compliant("<r><a x=\"1\">  </a></r>"), "<r><a x=\"1\"/></r>");
  // An element whose children are all left out is left out too.
  EXPECT_EQ(compliant("<r><a><b/><c x=''/></a><d>1</d></r>"), "<r><d>1</d></r>");
  EXPECT_EQ(compliant("<r><a><b/></a></r>", 1), "");
}

TEST_F(XmlWrite, CompliantPrettyKeepsLinesTidyWhenElementsVanish) {
  EXPECT_EQ(compliant("<r><a/><b>1</b><c/><d>2</d><e/></r>", 1),
            "<r>\n"
            "    <b>1</b>\n"
            "    <d>2</d>\n"
            "</r>");
}

TEST_F(XmlWrite, CompliantSkipsNamelessNodesAndConflictingDesc) {
  upnp_xml_node *root = upnp_xml_new_node("r", nullptr);
  XmlTree owner(root);
  upnp_xml_add_as_subnode(root, upnp_xml_new_node(nullptr, "lost"));
  upnp_xml_add_as_subnode(root, upnp_xml_new_node("", "lost too"));
  upnp_xml_add_as_subnode(root, upnp_xml_new_node("k", "kept"));
  XmlText s(upnp_xml_tree_to_compliant_string(root, 0, 0));
  EXPECT_EQ(s.str(), "<r><k>kept</k></r>");

  EXPECT_EQ(compliant("<r><desc id='1' nameSpace='urn:a' xmlns='urn:b'>x</desc><i>1</i></r>"), "<r><i>1</i></r>");
  EXPECT_EQ(compliant("<r><desc nameSpace='urn:a' xmlns='urn:a'>x</desc></r>"),
            "<r><desc xmlns=\"urn:a\" nameSpace=\"urn:a\">x</desc></r>");
  EXPECT_EQ(compliant("<r><desc nameSpace='urn:a'>x</desc></r>"), "<r><desc nameSpace=\"urn:a\">x</desc></r>");
}

TEST_F(XmlWrite, TitleOverTheLimitIsCutAndMarked) {
  std::string title(300, 't');
  EXPECT_EQ(element_value("dc:title", title), "<dc:title>" + std::string(253, 't') + "...</dc:title>");
  std::string exact(256, 't');
  EXPECT_EQ(element_value("dc:title", exact), "<dc:title>" + exact + "</dc:title>");
  // Limits count the escaped bytes, and a cut never splits an entity ...
  std::string amps = std::string(250, 'a') + "&amp;&amp;";
  EXPECT_EQ(element_value("dc:title", amps), "<dc:title>" + std::string(250, 'a') + "...</dc:title>");
  // ... or a UTF-8 sequence.
  std::string euro = std::string(252, 'a') + "\xe2\x82\xac\xe2\x82\xac";
  EXPECT_EQ(element_value("upnp:album", euro), "<upnp:album>" + std::string(252, 'a') + "...</upnp:album>");
}

TEST_F(XmlWrite, CutDropAndDefaultLimits) {
  std::string cls(300, 'c');
  EXPECT_EQ(rule("upnp:class", cls.c_str()), std::string(256, 'c'));
  std::string art(1025, 'u');
  EXPECT_EQ(rule("upnp:albumArtURI", art.c_str()), "");
  EXPECT_EQ(rule("upnp:albumArtURI", art.substr(1).c_str()), art.substr(1));
  EXPECT_EQ(rule("upnp:channelNr", "123456789012"), "");
  EXPECT_EQ(rule("upnp:channelNr", "12345678901"), "12345678901");
  std::string other(1100, 'o');
  EXPECT_EQ(rule("upnp:artist", other.c_str()), std::string(1021, 'o') + "...");
  EXPECT_EQ(rule("", other.c_str()), other);  // no name: unchanged
  EXPECT_EQ(rule("dc:creator", "A & B"), "A &amp; B");
  // An element value dropped by its rule leaves the element out.
  EXPECT_EQ(compliant(("<r><upnp:albumArtURI>" + art + "</upnp:albumArtURI></r>").c_str()), "");
}

// A resource's URL is never cut: a long signed or proxied URL must reach the
// renderer whole, escaped like any other value.
TEST_F(XmlWrite, ResourceUrlIsWrittenWholeAtAnyLength) {
  std::string url = "http://10.0.0.1:9000/stream?token=" + std::string(3000, 'a') + "&x=1";
  std::string escaped = "http://10.0.0.1:9000/stream?token=" + std::string(3000, 'a') + "&amp;x=1";
  EXPECT_EQ(rule("res", url.c_str()), escaped);
  std::string doc = "<item><res protocolInfo=\"http-get:*:audio/mpeg:*\">" + escaped + "</res></item>";
  EXPECT_EQ(compliant(doc.c_str()), "<item><res protocolInfo=\"http-get:*:audio/mpeg:*\">" + escaped + "</res></item>");
  // Other long values keep their limits.
  std::string doc2 = "<item><upnp:artist>" + std::string(1100, 'o') + "</upnp:artist></item>";
  EXPECT_EQ(compliant(doc2.c_str()), "<item><upnp:artist>" + std::string(1021, 'o') + "...</upnp:artist></item>");
}

TEST_F(XmlWrite, TimeForm) {
  EXPECT_EQ(rule("duration", "0:03:25.500"), "00:03:25");
  EXPECT_EQ(rule("duration", "1:2:3"), "01:02:03");
  EXPECT_EQ(rule("duration", "123:00:00"), "123:00:00");
  EXPECT_EQ(rule("duration", "3:25"), "");
  EXPECT_EQ(rule("duration", "abc"), "");
  EXPECT_EQ(compliant("<res duration='0:03:25.500' size='9'>http://h/x</res>"),
            "<res size=\"9\" duration=\"00:03:25\">http://h/x</res>");
  EXPECT_EQ(compliant("<res duration='n/a'>http://h/x</res>"), "<res>http://h/x</res>");
}

TEST_F(XmlWrite, DateForm) {
  EXPECT_EQ(rule("dc:date", "2004-07-25"), "2004-07-25");
  EXPECT_EQ(rule("dc:date", "2004-12-31T10:00:00"), "2004-12-31T10:00:00");
  EXPECT_EQ(rule("dc:date", "2004-13-01"), "");
  EXPECT_EQ(rule("dc:date", "2004-00-01"), "");
  EXPECT_EQ(rule("dc:date", "2004-01-32"), "");
  EXPECT_EQ(rule("dc:date", "04-01-01"), "");
  EXPECT_EQ(rule("dc:date", "2004"), "");
}

TEST_F(XmlWrite, BooleanForm) {
  EXPECT_EQ(rule("restricted", "0"), "0");
  EXPECT_EQ(rule("restricted", "false"), "0");
  EXPECT_EQ(rule("restricted", "1"), "1");
  EXPECT_EQ(rule("restricted", "true"), "1");
  EXPECT_EQ(rule("restricted", "FALSE"), "1");
}

TEST_F(XmlWrite, ProtocolInfoForm) {
  EXPECT_EQ(rule("protocolInfo", "http-get:*:audio/mpeg:*"), "http-get:*:audio/mpeg:*");
  EXPECT_EQ(rule("protocolInfo", "http-get:*:audio/mpeg:DLNA.ORG_PN=MP3;junk;DLNA.ORG_OP=01 x;DLNA.ORG_CI=0"),
            "http-get:*:audio/mpeg:DLNA.ORG_PN=MP3;DLNA.ORG_CI=0");
  EXPECT_EQ(rule("protocolInfo", "http-get:*:audio/L16;rate=44100;channels=2:DLNA.ORG_PN=LPCM"),
            "http-get:*:audio/L16;rate=44100;channels=2:DLNA.ORG_PN=LPCM");
  EXPECT_EQ(rule("protocolInfo", "http-get:*:video/mp4:"), "http-get:*:video/mp4:");
  EXPECT_EQ(rule("protocolInfo", "broken"), "broken");
  EXPECT_EQ(rule("protocolInfo", "http-get:*:a/b:x&y=1"), "http-get:*:a/b:x&amp;y=1");
}

TEST_F(XmlWrite, CompliantDidlItemEndToEnd) {
  const char didl[] =
      "<DIDL-Lite xmlns=\"urn:schemas-upnp-org:metadata-1-0/DIDL-Lite/\">"
      "<item id=\"42\" parentID=\"7\" restricted=\"true\">"
      "<dc:title>Fish &amp; Chips</dc:title><dc:date>1999-02-03</dc:date><upnp:genre></upnp:genre>"
      "<res protocolInfo=\"http-get:*:audio/mpeg:DLNA.ORG_PN=MP3;bad\" duration=\"0:04:01.250\">"
      "http://10.0.0.1/a?x=1&amp;y=2</res></item></DIDL-Lite>";
  EXPECT_EQ(compliant(didl),
            "<DIDL-Lite xmlns=\"urn:schemas-upnp-org:metadata-1-0/DIDL-Lite/\">"
            "<item restricted=\"1\" parentID=\"7\" id=\"42\">"
            "<dc:title>Fish &amp; Chips</dc:title><dc:date>1999-02-03</dc:date>"
            "<res duration=\"00:04:01\" protocolInfo=\"http-get:*:audio/mpeg:DLNA.ORG_PN=MP3\">"
            "http://10.0.0.1/a?x=1&amp;y=2</res></item></DIDL-Lite>");
}

TEST_F(XmlWrite, WrittenTextParsesBackToTheSameTree) {
  const char doc[] =
      "<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\"><s:Body>"
      "<u:BrowseResponse xmlns:u=\"urn:schemas-upnp-org:service:ContentDirectory:1\">"
      "<Result>&lt;DIDL-Lite&gt;&lt;item id=&quot;1&quot;/&gt;&lt;/DIDL-Lite&gt;</Result>"
      "<NumberReturned>1</NumberReturned><TotalMatches>1</TotalMatches></u:BrowseResponse>"
      "</s:Body></s:Envelope>";
  XmlTree first(upnp_xml_parse(doc));
  ASSERT_NE(first.get(), nullptr);
  for (int pretty = 0; pretty <= 1; ++pretty) {
    XmlText text(upnp_xml_tree_to_string_valid(first.get(), pretty, 0));
    XmlTree again(upnp_xml_parse(text.s->buffer));
    ASSERT_NE(again.get(), nullptr);
    EXPECT_STREQ(upnp_xml_find_tag_value(again.get(), "Result"),
                 "<DIDL-Lite><item id=\"1\"/></DIDL-Lite>");
    EXPECT_EQ(upnp_xml_find_tag_value_int(again.get(), "TotalMatches"), 1);
    // Attribute order flips with each parse; two writes restore it.
    XmlText twice(upnp_xml_tree_to_string_valid(again.get(), 0, 0));
    XmlTree third(upnp_xml_parse(twice.s->buffer));
    XmlText back(upnp_xml_tree_to_string_valid(third.get(), 0, 0));
    XmlText orig(upnp_xml_tree_to_string_valid(first.get(), 0, 0));
    EXPECT_EQ(back.str(), orig.str());
  }
}

TEST_F(XmlWrite, MemoryAccountingIsExact) {
  std::string doc = "<DIDL-Lite>";
  for (int i = 0; i < 50; ++i) {
    doc += "<item id=\"" + std::to_string(i) + "\" restricted=\"1\"><dc:title>Song " + std::to_string(i) +
           " &amp; more</dc:title><res protocolInfo=\"http-get:*:audio/mpeg:*\" duration=\"0:01:00\">"
           "http://h/" + std::to_string(i) + "</res></item>";
  }
  doc += "</DIDL-Lite>";
  const int64_t start = upnp_mem_used();
  for (int round = 0; round < 3; ++round) {
    upnp_xml_node *t = upnp_xml_parse(doc.c_str());
    ASSERT_NE(t, nullptr);
    EXPECT_GT(upnp_mem_used(), start);
    upnp_xml_node *c = upnp_xml_copy_tree(t);
    upnp_xml_copy_to_subnode(c, t->children);
    upnp_xml_node **all = nullptr;
    uint32_t n = 0;
    EXPECT_EQ(upnp_xml_find_all_nodes(c, "res", &all, &n), 51);
    upnp_free_impl(all);
    upnp_string *a = upnp_xml_tree_to_string(c, 1, 0);
    upnp_string *b = upnp_xml_tree_to_string_valid(t, 0, 1);
    upnp_string *d = upnp_xml_tree_to_compliant_string(c, 1, 0);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    ASSERT_NE(d, nullptr);
    upnp_string_free(a);
    upnp_string_free(b);
    upnp_string_free(d);
    upnp_xml_release(c);
    upnp_xml_release(t);
    EXPECT_EQ(upnp_mem_used(), start);
  }
}

}  // namespace

namespace {

// What the escaper makes of a text (the form the escaped writers promise).
std::string escaped(const std::string &text) {
  XmlText s(upnp_xml_escape_append(upnp_string_create("", 16), text.data(), text.size(), 0, 0, 0));
  return s.str();
}

}  // namespace

// The escaped compact writer writes every byte of values and attribute
// texts as the escaper does, names as they are, and grows its string from
// any capacity (one byte, the 1024 a tree's string starts with, a text
// longer than both).
TEST_F(XmlWrite, EscapedCompactFormWritesEveryByteAsTheEscaper) {
  for (int b = 1; b < 256; ++b) {
    const std::string text = std::string("a") + static_cast<char>(b) + "z";
    XmlTree t(upnp_xml_new_node("t", text.c_str()));
    ASSERT_NE(upnp_xml_add_attribute(t.get(), "k", text.c_str()), nullptr);
    ASSERT_EQ(upnp_xml_add_as_subnode(t.get(), upnp_xml_new_node("u:v", nullptr)), 0);
    XmlText s(upnp_xml_tree_to_string_valid(t.get(), 0, 0));
    EXPECT_EQ(s.str(), "<t k=\"" + escaped(text) + "\">" + escaped(text) + "<u:v></u:v></t>") << b;
  }
  for (size_t length : {1u, 1023u, 5000u}) {
    const std::string text(length, '<');
    XmlTree t(upnp_xml_new_node("t", text.c_str()));
    for (uint32_t capacity : {1u, 1024u}) {
      XmlText s(dumpXml(upnp_string_create("x", capacity), t.get(), 0, 0, 1, 0, 1));
      EXPECT_EQ(s.str(), "x<t>" + escaped(text) + "</t>") << length << " " << capacity;
    }
  }
}
