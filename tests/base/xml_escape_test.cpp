// Entity escaping and unescaping.

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/upnp_mem.h"
#include "base/upnp_xml_escape.h"
#include "support_mem.h"
#include "xml_test_util.h"

namespace {

std::string escaped(const char *text, int dbl) {
  char *e = upnp_xml_escape_cond(text, dbl);
  if (e == nullptr) return "<none>";
  std::string s(e);
  upnp_free_impl(e);
  return s;
}

std::string limited(const char *text, int dbl, uint32_t limit) {
  XmlText t(upnp_xml_escape_cond_upnp_string(text, dbl, limit));
  return t.str();
}

std::string unescaped(const char *text) {
  std::string s(text);
  std::vector<char> buf(s.begin(), s.end());
  buf.push_back('\0');
  EXPECT_EQ(upnp_xml_unescape(buf.data()), buf.data());
  return std::string(buf.data());
}

// Every test gives back all the accounted memory it took.
class XmlEscape : public test_support::MemCheckedTest {};

TEST_F(XmlEscape, FiveEntitiesAndControlBytes) {
  EXPECT_EQ(escaped("a\"b&c'd<e>f\x01g\th\x1f", 0), "a&quot;b&amp;c&apos;d&lt;e&gt;f&#1;g&#9;h&#31;");
  EXPECT_EQ(escaped("plain text \xc3\xa9", 0), "plain text \xc3\xa9");
  EXPECT_EQ(escaped("", 0), "");
  EXPECT_EQ(upnp_xml_escape_cond(nullptr, 0), nullptr);
}

TEST_F(XmlEscape, DoubleEscapingForFragmentsInsideValues) {
  EXPECT_EQ(escaped("\"&'<>\n", 1), "&amp;quot;&amp;amp;&amp;apos;&amp;lt;&amp;gt;&amp;#10;");
  char *e = upnp_xml_escape("<a>");
  ASSERT_NE(e, nullptr);
  EXPECT_STREQ(e, "&amp;lt;a&amp;gt;");
  upnp_free_impl(e);
}

TEST_F(XmlEscape, LimitWritesWholeCharactersOnly) {
  EXPECT_EQ(limited("abcdef", 0, 0), "abcdef");
  EXPECT_EQ(limited("abcdef", 0, 4), "abcd");
  EXPECT_EQ(limited("abc&def", 0, 7), "abc");        // "&amp;" does not fit
  EXPECT_EQ(limited("abc&def", 0, 8), "abc&amp;");
  EXPECT_EQ(limited("ab\xe2\x82\xac" "c", 0, 4), "ab");  // three-byte sequence kept whole
  EXPECT_EQ(limited("ab\xe2\x82\xac" "c", 0, 5), "ab\xe2\x82\xac");
  EXPECT_EQ(limited("\xf0\x9f\x8e\xb5", 0, 3), "");
  EXPECT_EQ(limited("\x01x", 1, 8), "&amp;#1;");
  EXPECT_EQ(limited("", 0, 5), "");
  EXPECT_EQ(limited(nullptr, 0, 5), "");
}

TEST_F(XmlEscape, AppendVariantWithNumericApostrophe) {
  upnp_string *s = upnp_string_create("x=", 16);
  s = upnp_xml_escape_append(s, "it's", 4, 0, 0, 1);
  s = upnp_xml_escape_append(s, "|it's", 5, 1, 0, 1);
  s = upnp_xml_escape_append(s, "|abcdef", 7, 0, 3, 0);  // at most 3 bytes added
  XmlText t(s);
  EXPECT_EQ(t.str(), "x=it&#39;s|it&amp;#39;s|ab");
  EXPECT_EQ(upnp_xml_escaped_length("it's", 4, 0, 1), 8u);
  EXPECT_EQ(upnp_xml_escaped_length("<\x05", 2, 1, 0), 16u);
}

TEST_F(XmlEscape, UnescapeEntities) {
  EXPECT_EQ(unescaped("a&amp;b&lt;c&gt;d&apos;e&quot;f&nbsp;g"), "a&b<c>d'e\"f g");
  EXPECT_EQ(unescaped("&amp;amp;"), "&amp;");  // one level only
  EXPECT_EQ(unescaped("&#65;&#x42;&#x4a;&#x4A;"), "ABJJ");
  EXPECT_EQ(unescaped("no entities"), "no entities");
}

TEST_F(XmlEscape, UnescapeLeavesOtherSequences) {
  EXPECT_EQ(unescaped("&foo; & &am &#; &#x; &#65 &#12345; &#x12345;"),
            "&foo; & &am &#; &#x; &#65 &#12345; &#x12345;");
  EXPECT_EQ(unescaped("&#0;"), "&#0;");  // a zero byte would end the text
  EXPECT_EQ(unescaped("tail &"), "tail &");
  EXPECT_EQ(unescaped("&#9999;"), "\xe2\x9c\x8f");  // ";" five after "#"
  EXPECT_EQ(unescaped("&#09999;"), "&#09999;");     // six after
}

TEST_F(XmlEscape, NumericReferencesAboveAsciiBecomeUtf8) {
  EXPECT_EQ(unescaped("caf&#233;"), "caf\xc3\xa9");
  EXPECT_EQ(unescaped("&#x20AC;"), "&#x20AC;");  // four hex digits: ";" too far
  EXPECT_EQ(unescaped("&#8364;"), "\xe2\x82\xac");
  EXPECT_EQ(unescaped("&#x80;"), "\xc2\x80");
}

TEST_F(XmlEscape, EveryByteSurvivesEscapeThenUnescape) {
  std::string all;
  for (int c = 1; c < 256; ++c) all += static_cast<char>(c);
  for (int dbl = 0; dbl <= 1; ++dbl) {
    char *e = upnp_xml_escape_cond(all.c_str(), dbl);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(strlen(e), upnp_xml_escaped_length(all.c_str(), all.size(), dbl, 0));
    upnp_xml_unescape(e);
    if (dbl) upnp_xml_unescape(e);
    EXPECT_EQ(std::string(e), all);
    upnp_free_impl(e);
  }
}

}  // namespace
