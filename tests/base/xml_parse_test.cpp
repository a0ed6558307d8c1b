// Parser, search and copy functions of the XML tree.

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "base/upnp_xml.h"
#include "base/upnp_xml_scan.h"
#include "support_files.h"
#include "support_mem.h"
#include "xml_test_util.h"

namespace {

const char kDescription[] =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
    "<!-- device description -->\n"
    "<root xmlns=\"urn:schemas-upnp-org:device-1-0\">\n"
    "  <specVersion><major>1</major><minor>0</minor></specVersion>\n"
    "  <device>\n"
    "    <deviceType>urn:schemas-upnp-org:device:MediaServer:1</deviceType>\n"
    "    <friendlyName>Den &amp; Hall</friendlyName>\n"
    "    <serviceList>\n"
    "      <service><serviceType>urn:schemas-upnp-org:service:ContentDirectory:1</serviceType>"
    "<controlURL>/cd/control</controlURL></service>\n"
    "      <service><serviceType>urn:schemas-upnp-org:service:ConnectionManager:1</serviceType>"
    "<controlURL>/cm/control</controlURL></service>\n"
    "    </serviceList>\n"
    "    <maxAge>1800</maxAge>\n"
    "  </device>\n"
    "</root>\n"
    "trailing text that is ignored";

std::string nested(int levels) {
  std::string s;
  for (int i = 0; i < levels; ++i) s += "<n>";
  s += "x";
  for (int i = 0; i < levels; ++i) s += "</n>";
  return s;
}

// Every test gives back all the accounted memory it took.
class XmlParse : public test_support::MemCheckedTest {};

TEST_F(XmlParse, AttributesAreListedInReverseOrder) {
  XmlTree t(upnp_xml_parse("<a x=\"1\" y='2'/>"));
  ASSERT_NE(t.get(), nullptr);
  EXPECT_STREQ(t->name, "a");
  EXPECT_EQ(attribute_list(t.get()), "y=2;x=1;");
  EXPECT_EQ(t->value, nullptr);
  EXPECT_EQ(t->children, nullptr);
  EXPECT_EQ(t->consumed, 15u);  // just after the "/"
}

TEST_F(XmlParse, ValuesAreUnescaped) {
  XmlTree a(upnp_xml_parse("<t>rock &amp; roll</t>"));
  ASSERT_NE(a.get(), nullptr);
  EXPECT_STREQ(a->value, "rock & roll");
  XmlTree b(upnp_xml_parse("<t>&#65;&#x42;</t>"));
  ASSERT_NE(b.get(), nullptr);
  EXPECT_STREQ(b->value, "AB");
  XmlTree c(upnp_xml_parse("<t v=\"&lt;b&gt; &quot;q&quot;\">x</t>"));
  ASSERT_NE(c.get(), nullptr);
  EXPECT_STREQ(upnp_xml_find_attribute_value(c.get(), "v"), "<b> \"q\"");
}

// Entities and delimiters at every distance from the start of a text or an
// attribute value, short and long.
TEST_F(XmlParse, EntitiesAndDelimitersAtAnyDistance) {
  for (size_t pad : {0u, 1u, 7u, 8u, 9u, 63u, 64u, 65u, 200u}) {
    std::string filler(pad, 'x');
    std::string doc = "<a v=\"" + filler + "&amp;" + filler + "\" w='" + filler + "'>" + filler + "&lt;" + filler +
                      "</a>";
    XmlTree t(upnp_xml_parse(doc.c_str()));
    ASSERT_NE(t.get(), nullptr) << pad;
    EXPECT_EQ(std::string(t->value), filler + "<" + filler) << pad;
    EXPECT_EQ(std::string(upnp_xml_find_attribute_value(t.get(), "v")), filler + "&" + filler) << pad;
    EXPECT_EQ(std::string(upnp_xml_find_attribute_value(t.get(), "w")), filler) << pad;
    std::string plain = "<b>" + filler + "</b>";
    XmlTree u(upnp_xml_parse(plain.c_str()));
    ASSERT_NE(u.get(), nullptr);
    if (pad == 0) {
      EXPECT_EQ(u->value, nullptr);
    } else {
      EXPECT_EQ(std::string(u->value), filler);
    }
  }
}

TEST_F(XmlParse, MixedContentKeepsChildrenAndDropsText) {
  XmlTree t(upnp_xml_parse("<a>text<b/>more</a>"));
  ASSERT_NE(t.get(), nullptr);
  EXPECT_EQ(t->value, nullptr);
  EXPECT_EQ(child_names(t.get()), "b");
}

TEST_F(XmlParse, EmptyElementHasNoValue) {
  XmlTree t(upnp_xml_parse("<a></a>"));
  ASSERT_NE(t.get(), nullptr);
  EXPECT_EQ(t->value, nullptr);
  XmlTree w(upnp_xml_parse("<a> \n</a>"));
  ASSERT_NE(w.get(), nullptr);
  EXPECT_STREQ(w->value, " \n");
}

TEST_F(XmlParse, DepthLimitFailsTheWholeDocument) {
  XmlTree ok(upnp_xml_parse(nested(100).c_str()));
  ASSERT_NE(ok.get(), nullptr);
  const upnp_xml_node *n = ok.get();
  int depth = 1;
  while (n->children) {
    n = n->children;
    ++depth;
  }
  EXPECT_EQ(depth, 100);
  EXPECT_STREQ(n->value, "x");

  std::string deep = nested(101);
  EXPECT_EQ(upnp_xml_parse(deep.c_str()), nullptr);
  int error = 0;
  EXPECT_EQ(upnp_xml_parse_with_depth(deep.c_str(), deep.size(), 0, &error), nullptr);
  EXPECT_EQ(error, 1);
  // The limit counts from the depth the caller starts at.
  std::string two = nested(2);
  error = 0;
  XmlTree fits(upnp_xml_parse_with_depth(two.c_str(), two.size(), 98, &error));
  EXPECT_NE(fits.get(), nullptr);
  EXPECT_EQ(error, 0);
  std::string three = nested(3);
  EXPECT_EQ(upnp_xml_parse_with_depth(three.c_str(), three.size(), 98, &error), nullptr);
  EXPECT_EQ(error, 1);
}

TEST_F(XmlParse, BadEndTagStillGivesTheElement) {
  XmlTree t(upnp_xml_parse("<a>x</b>"));
  ASSERT_NE(t.get(), nullptr);
  EXPECT_STREQ(t->name, "a");
  EXPECT_STREQ(t->value, "x");
  EXPECT_EQ(t->consumed, 8u);
}

TEST_F(XmlParse, PrologCommentsAndTrailingTextAreSkipped) {
  XmlTree t(upnp_xml_parse(kDescription));
  ASSERT_NE(t.get(), nullptr);
  EXPECT_STREQ(t->name, "root");
  EXPECT_EQ(child_names(t.get()), "specVersion,device");
  EXPECT_STREQ(upnp_xml_find_tag_value(t.get(), "friendlyName"), "Den & Hall");
  const char *end = strstr(kDescription, "</root>") + strlen("</root>");
  EXPECT_EQ(t->consumed, static_cast<uint32_t>(end - kDescription));
}

TEST_F(XmlParse, ConsumedLengthCountsFromWhereEachParseStarted) {
  const char text[] = "  <a><b>1</b><c k='v'/></a>tail";
  XmlTree t(upnp_xml_parse(text));
  ASSERT_NE(t.get(), nullptr);
  EXPECT_EQ(t->consumed, 27u);
  ASSERT_NE(t->children, nullptr);
  EXPECT_EQ(t->children->consumed, 8u);         // "<b>1</b>"
  EXPECT_EQ(t->children->next->consumed, 9u);  // "<c k='v'/" up to the "/"
}

TEST_F(XmlParse, QuotesCommentsAndCdataBetweenChildren) {
  XmlTree t(upnp_xml_parse(
      "<a x=\"1>2\" y='</a>'><!-- <z/> --><b/><![CDATA[<y/>]]><?pi <w/>?><c>3</c></a>"));
  ASSERT_NE(t.get(), nullptr);
  EXPECT_EQ(attribute_list(t.get()), "y=</a>;x=1>2;");
  EXPECT_EQ(child_names(t.get()), "b,c");
  EXPECT_STREQ(t->children->next->value, "3");
}

TEST_F(XmlParse, ElementStartSkipsQuotedTextAndMarkup) {
  const char text[] = "'<x>' <!-- <y> --> <![CDATA[<z>]]> <?pi?> <!DOCTYPE d> <r/>";
  long start = upnp_xml_find_tagstart(text, strlen(text));
  ASSERT_GE(start, 1);
  EXPECT_EQ(text[start], 'r');
  EXPECT_EQ(upnp_xml_find_tagstart("no element <", 12), -1);
  EXPECT_EQ(upnp_xml_find_tagstart("<!-- open", 9), -1);
  EXPECT_EQ(upnp_xml_find("a'>'b>c", 7, ">"), 5u);
  EXPECT_EQ(upnp_xml_find("abc", 3, ">"), 3u);
}

TEST_F(XmlParse, NameEndsAtSpaceSlashOrCloseAndLosesControlBytes) {
  XmlTree t(upnp_xml_parse("<a\n>v</a>"));
  ASSERT_NE(t.get(), nullptr);
  EXPECT_STREQ(t->name, "a");
  EXPECT_STREQ(t->value, "v");
  XmlTree ns(upnp_xml_parse("<dc:title>T</dc:title>"));
  ASSERT_NE(ns.get(), nullptr);
  EXPECT_STREQ(ns->name, "dc:title");
}

TEST_F(XmlParse, AttributeForms) {
  XmlTree t(upnp_xml_parse("<a  p = \"1\"\tq=2 r=\"x y\">v</a>"));
  ASSERT_NE(t.get(), nullptr);
  EXPECT_EQ(attribute_list(t.get()), "r=x y;q=2;p=1;");
  EXPECT_STREQ(t->value, "v");
  XmlTree s(upnp_xml_parse("<a t='say \"hi\"'/>"));
  ASSERT_NE(s.get(), nullptr);
  EXPECT_STREQ(upnp_xml_find_attribute_value(s.get(), "t"), "say \"hi\"");
}

TEST_F(XmlParse, AtMostOneHundredAttributes) {
  std::string doc = "<a";
  for (int i = 0; i < 105; ++i) doc += " k" + std::to_string(i) + "=\"" + std::to_string(i) + "\"";
  doc += "><b>x</b></a>";
  XmlTree t(upnp_xml_parse(doc.c_str()));
  ASSERT_NE(t.get(), nullptr);
  int count = 0;
  for (upnp_xml_attribute *a = t->attributes; a; a = a->next) ++count;
  EXPECT_EQ(count, 100);
  EXPECT_STREQ(t->attributes->name, "k99");
  EXPECT_EQ(child_names(t.get()), "b");
}

TEST_F(XmlParse, TruncatedTexts) {
  EXPECT_EQ(upnp_xml_parse(""), nullptr);
  EXPECT_EQ(upnp_xml_parse("just text"), nullptr);
  EXPECT_EQ(upnp_xml_parse("<abc"), nullptr);
  EXPECT_EQ(upnp_xml_parse(nullptr), nullptr);
  XmlTree open(upnp_xml_parse("<a><b>x</b><c>"));
  ASSERT_NE(open.get(), nullptr);
  EXPECT_EQ(child_names(open.get()), "b,c");
  EXPECT_EQ(open->consumed, 14u);
  XmlTree noclose(upnp_xml_parse("<a>text"));
  ASSERT_NE(noclose.get(), nullptr);
  EXPECT_EQ(noclose->value, nullptr);
}

// Every prefix of a document, in a buffer of exactly that size without a
// terminating zero: the parser must stay inside it (AddressSanitizer checks).
TEST_F(XmlParse, NeverReadsPastTheLength) {
  const size_t total = strlen(kDescription);
  for (size_t n = 0; n <= total; ++n) {
    std::unique_ptr<char[]> buf(new char[n ? n : 1]);
    memcpy(buf.get(), kDescription, n);
    XmlTree t(upnp_xml_parse_len(buf.get(), n));
    if (t.get() != nullptr) {
      EXPECT_LE(t->consumed, n);
    }
  }
  XmlTree whole(upnp_xml_parse_len(kDescription, total));
  ASSERT_NE(whole.get(), nullptr);
  EXPECT_EQ(upnp_xml_find_tag_value_uint(whole.get(), "maxAge", 0), 1800u);
}

TEST_F(XmlParse, ZeroByteEndsTheText) {
  const char text[] = "<a><b>1</b>\0<c>2</c></a>";
  XmlTree t(upnp_xml_parse_len(text, sizeof text - 1));
  ASSERT_NE(t.get(), nullptr);
  EXPECT_EQ(child_names(t.get()), "b");
  EXPECT_EQ(t->consumed, 11u);
}

TEST_F(XmlParse, LengthStopsTheParseInsideALongerText) {
  const char text[] = "<a><b>1</b><c>2</c></a>";
  XmlTree t(upnp_xml_parse_len(text, 11));  // "<a><b>1</b>"
  ASSERT_NE(t.get(), nullptr);
  EXPECT_EQ(child_names(t.get()), "b");
}

TEST_F(XmlParse, FindTagSearchesDocumentOrder) {
  XmlTree t(upnp_xml_parse("<r><a><x>1</x></a><x>2</x><b><x>3</x></b></r>"));
  ASSERT_NE(t.get(), nullptr);
  upnp_xml_node *first = upnp_xml_find_tag(t.get(), "x");
  ASSERT_NE(first, nullptr);
  EXPECT_STREQ(first->value, "1");
  // From the first child: its subtree, then the following siblings.
  upnp_xml_node *a = t->children;
  EXPECT_EQ(upnp_xml_find_tag(a, "x"), first);
  upnp_xml_node *second = upnp_xml_find_next_tag(a, "x");
  ASSERT_NE(second, nullptr);
  EXPECT_STREQ(second->value, "2");
  upnp_xml_node *third = upnp_xml_find_next_tag(second, "x");
  ASSERT_NE(third, nullptr);
  EXPECT_STREQ(third->value, "3");
  EXPECT_EQ(upnp_xml_find_next_tag(third, "x"), nullptr);
  EXPECT_EQ(upnp_xml_find_tag(t.get(), "missing"), nullptr);
  EXPECT_EQ(upnp_xml_find_tag(t.get(), "r"), t.get());
}

TEST_F(XmlParse, FindTagValueConversions) {
  XmlTree t(upnp_xml_parse(
      "<r><i>-42</i><u>4294967295</u><big>18446744073709551615</big><huge>99999999999999999999</huge>"
      "<neg>-5</neg><e></e></r>"));
  ASSERT_NE(t.get(), nullptr);
  EXPECT_EQ(upnp_xml_find_tag_value_int(t.get(), "i"), -42);
  EXPECT_EQ(upnp_xml_find_tag_value_int(t.get(), "nope"), 0);
  EXPECT_EQ(upnp_xml_find_tag_value_uint(t.get(), "u", 7), 4294967295u);
  EXPECT_EQ(upnp_xml_find_tag_value_uint(t.get(), "neg", 7), 7u);
  EXPECT_EQ(upnp_xml_find_tag_value_uint(t.get(), "e", 7), 7u);
  EXPECT_EQ(upnp_xml_find_tag_value_uint(t.get(), "nope", 7), 7u);
  EXPECT_EQ(upnp_xml_find_tag_value_uint(t.get(), "big", 7), 4294967295u);  // saturates
  EXPECT_EQ(upnp_xml_find_tag_value_uint64(t.get(), "big", 7), 18446744073709551615ull);
  EXPECT_EQ(upnp_xml_find_tag_value_uint64(t.get(), "huge", 7), 18446744073709551615ull);
  EXPECT_EQ(upnp_xml_find_tag_value_uint64(t.get(), "nope", 9), 9u);
}

TEST_F(XmlParse, FindAllNodesInDocumentOrder) {
  XmlTree t(upnp_xml_parse(kDescription));
  ASSERT_NE(t.get(), nullptr);
  upnp_xml_node **found = nullptr;
  uint32_t count = 0;
  EXPECT_EQ(upnp_xml_find_all_nodes(t.get(), "controlURL", &found, &count), 2);
  ASSERT_EQ(count, 2u);
  EXPECT_STREQ(found[0]->value, "/cd/control");
  EXPECT_STREQ(found[1]->value, "/cm/control");
  // A second call appends to the same array.
  EXPECT_EQ(upnp_xml_find_all_nodes(t.get(), "service", &found, &count), 2);
  EXPECT_EQ(count, 4u);
  upnp_free_impl(found);

  // Nested elements of the same name, and growth past the first block.
  std::string doc = "<r>";
  for (int i = 0; i < 40; ++i) doc += "<i n='" + std::to_string(i) + "'><i n='in'/></i>";
  doc += "</r>";
  XmlTree many(upnp_xml_parse(doc.c_str()));
  found = nullptr;
  count = 0;
  EXPECT_EQ(upnp_xml_find_all_nodes(many.get(), "i", &found, &count), 80);
  ASSERT_EQ(count, 80u);
  EXPECT_STREQ(upnp_xml_find_attribute_value(found[0], "n"), "0");
  EXPECT_STREQ(upnp_xml_find_attribute_value(found[1], "n"), "in");
  EXPECT_STREQ(upnp_xml_find_attribute_value(found[78], "n"), "39");
  upnp_free_impl(found);
}

TEST_F(XmlParse, BuildAndCopyTrees) {
  upnp_xml_node *root = upnp_xml_new_node("root", nullptr);
  ASSERT_NE(root, nullptr);
  XmlTree owner(root);
  upnp_xml_node *a = upnp_xml_new_node("a", "1");
  upnp_xml_attribute *first = upnp_xml_new_attribute("k", "v");
  first->next = upnp_xml_new_attribute("l", "w");
  a->attributes = first;
  EXPECT_EQ(upnp_xml_add_as_subnode(root, a), 0);
  EXPECT_EQ(upnp_xml_add_as_subnode(root, upnp_xml_new_node("b", nullptr)), 0);
  EXPECT_EQ(upnp_xml_add_as_subnode(nullptr, a), -1);
  EXPECT_EQ(child_names(root), "a,b");

  XmlTree copy(upnp_xml_copy_tree(root->children));  // a and its sibling b
  ASSERT_NE(copy.get(), nullptr);
  EXPECT_NE(copy.get(), a);
  EXPECT_STREQ(copy->name, "a");
  EXPECT_STREQ(copy->value, "1");
  EXPECT_EQ(attribute_list(copy.get()), "k=v;l=w;");
  ASSERT_NE(copy->next, nullptr);
  EXPECT_STREQ(copy->next->name, "b");

  XmlTree one(upnp_xml_copy_node(root->children));
  ASSERT_NE(one.get(), nullptr);
  EXPECT_EQ(one->next, nullptr);

  upnp_xml_node *appended = upnp_xml_copy_to_subnode(root, one.get());
  ASSERT_NE(appended, nullptr);
  EXPECT_EQ(child_names(root), "a,b,a");
  EXPECT_EQ(appended->next, nullptr);

  upnp_xml_attribute *attrs = upnp_xml_copy_attributes(a->attributes);
  ASSERT_NE(attrs, nullptr);
  EXPECT_STREQ(attrs->name, "k");
  EXPECT_STREQ(attrs->next->value, "w");
  EXPECT_EQ(upnp_xml_find_attribute(attrs, "l"), attrs->next);
  EXPECT_EQ(upnp_xml_find_attribute(attrs, "m"), nullptr);
  upnp_xml_release_attributes(attrs);
}

TEST_F(XmlParse, CopyOfAParsedDocumentIsIndependent) {
  upnp_xml_node *t = upnp_xml_parse(kDescription);
  ASSERT_NE(t, nullptr);
  upnp_xml_node *c = upnp_xml_copy_tree(t);
  upnp_xml_release(t);
  ASSERT_NE(c, nullptr);
  EXPECT_STREQ(upnp_xml_find_tag_value(c, "controlURL"), "/cd/control");
  EXPECT_STREQ(upnp_xml_find_attribute_value(c, "xmlns"), "urn:schemas-upnp-org:device-1-0");
  upnp_xml_release(c);
}

TEST_F(XmlParse, PartsOfAParsedTreeLiveOnTheirOwn) {
  upnp_xml_node *root = upnp_xml_parse(kDescription);
  ASSERT_NE(root, nullptr);
  // Detach <device>, release the rest, then use and release the part.
  upnp_xml_node *spec = root->children;
  upnp_xml_node *device = spec->next;
  spec->next = nullptr;
  upnp_xml_release(root);
  EXPECT_STREQ(upnp_xml_find_tag_value(device, "friendlyName"), "Den & Hall");
  // Moved into a tree of individually allocated nodes.
  upnp_xml_node *holder = upnp_xml_new_node("holder", nullptr);
  upnp_xml_add_as_subnode(holder, device);
  EXPECT_EQ(upnp_xml_find_tag_value_uint(holder, "maxAge", 0), 1800u);
  upnp_xml_release(holder);
}

TEST_F(XmlParse, SettersReplaceTextsOfParsedAndBuiltNodes) {
  XmlTree t(upnp_xml_parse("<a k='v'><b>old</b></a>"));
  ASSERT_NE(t.get(), nullptr);
  upnp_xml_node *b = t->children;
  EXPECT_EQ(upnp_xml_set_value(b, "new value"), 0);
  EXPECT_EQ(upnp_xml_set_value(b, "newer"), 0);  // replaces a text of its own
  EXPECT_EQ(upnp_xml_set_name(b, "c"), 0);
  EXPECT_EQ(upnp_xml_set_attribute_value(t->attributes, "w"), 0);
  ASSERT_NE(upnp_xml_add_attribute(t.get(), "z", "1"), nullptr);
  EXPECT_STREQ(upnp_xml_find_tag_value(t.get(), "c"), "newer");
  EXPECT_EQ(attribute_list(t.get()), "z=1;k=w;");
  EXPECT_EQ(upnp_xml_set_value(t.get(), nullptr), 0);
  EXPECT_EQ(t->value, nullptr);
  EXPECT_EQ(upnp_xml_set_value(nullptr, "x"), -1);
}

TEST_F(XmlParse, FailedParsesGiveTheirMemoryBack) {
  // Depth failure deep inside a large document releases what was built.
  std::string doc = "<r>";
  for (int i = 0; i < 200; ++i) doc += "<i a='1'>v</i>";
  doc += nested(120) + "</r>";
  EXPECT_EQ(upnp_xml_parse(doc.c_str()), nullptr);
}

// What the parser reports, read back from a log file.
class XmlLog : public ::testing::Test {
 protected:
  void SetUp() override {
    upnp_mem_init();
    dir_ = test_support::make_temp_dir("kestrel-xml-log").string();
    file_ = dir_ + "/xml.txt";
    ASSERT_EQ(upnp_log_init(file_.c_str()), 1);
    upnp_log_enable(1);
    upnp_log_set_level(LOG_LEVEL_DEBUG);
    upnp_log_set_sources(LOG_XML);
  }
  void TearDown() override {
    upnp_log_exit();
    test_support::remove_tree(dir_);
  }
  std::string logged() {
    upnp_log_flush();
    return test_support::read_file(file_);
  }
  std::string dir_;
  std::string file_;
};

TEST_F(XmlLog, DepthLimitAndBadEndTagAreReported) {
  std::string deep = nested(101);
  EXPECT_EQ(upnp_xml_parse(deep.c_str()), nullptr);
  std::string text = logged();
  EXPECT_NE(text.find("[Warning] - LOG_XML: "), std::string::npos) << text;
  EXPECT_NE(text.find("XML node maximum depth reached\n"), std::string::npos) << text;
  // Only once: the failure travels up without further reports.
  EXPECT_EQ(text.find("maximum depth"), text.rfind("maximum depth")) << text;

  XmlTree t(upnp_xml_parse("<a>x</b>"));
  ASSERT_NE(t.get(), nullptr);
  text = logged();
  EXPECT_NE(text.find("[Info] - LOG_XML: "), std::string::npos) << text;
  EXPECT_NE(text.find("bad end tag!\n</b>"), std::string::npos) << text;
}

TEST_F(XmlLog, WellFormedDocumentsLogNothing) {
  XmlTree t(upnp_xml_parse(kDescription));
  ASSERT_NE(t.get(), nullptr);
  EXPECT_EQ(logged(), "");
}

}  // namespace
