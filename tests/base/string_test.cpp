// upnp_string: growth rules, editing, and the encodings.
#include <gtest/gtest.h>

#include <string>

#include "base/upnp_mem.h"
#include "base/upnp_string.h"

namespace {

std::string text_of(const upnp_string *s) { return std::string(s->buffer, s->length); }

// Runs the check and frees the string.
std::string take(upnp_string *s) {
  if (s == nullptr) return "<none>";
  std::string t = text_of(s);
  EXPECT_EQ('\0', s->buffer[s->length]);
  upnp_string_free(s);
  return t;
}

std::string b64(const std::string &in) { return take(upnp_string_to_base64(in.data(), in.size())); }
std::string unb64(const std::string &in) { return take(upnp_string_from_base64(in.data(), in.size())); }
std::string url(const std::string &in) { return take(upnp_string_to_encoded_url(in.data(), in.size())); }
std::string unurl(const std::string &in) { return take(upnp_string_from_encoded_url(in.data(), in.size())); }
std::string to16(const std::string &in) { return take(upnp_string_utf8_to_utf16(in.data(), in.size())); }
std::string to8(const std::string &in) { return take(upnp_string_utf16_to_utf8(in.data(), in.size())); }

class StringTest : public testing::Test {
 protected:
  void SetUp() override { before_ = upnp_mem_used(); }
  void TearDown() override { EXPECT_EQ(before_, upnp_mem_used()) << "memory accounting must end where it began"; }
  int64_t before_ = 0;
};

}  // namespace

TEST_F(StringTest, CapacityGrowth) {
  upnp_string *s = upnp_string_create("", 16);
  ASSERT_NE(nullptr, s);
  EXPECT_EQ(16u, s->capacity);
  std::string forty(40, 'x');
  s = upnp_string_add(s, forty.data(), 40);
  ASSERT_NE(nullptr, s);
  EXPECT_EQ(41u, s->capacity);
  EXPECT_EQ(40u, s->length);
  std::string hundred(100, 'y');
  s = upnp_string_add(s, hundred.data(), 100);
  ASSERT_NE(nullptr, s);
  EXPECT_EQ(141u, s->capacity);
  s = upnp_string_concat(s, "z");
  EXPECT_EQ(282u, s->capacity) << "twice the old capacity when that is larger";
  EXPECT_EQ(forty + hundred + "z", take(s));
}

TEST_F(StringTest, NoneIsCreatedWithRoomToGrow) {
  upnp_string *s = upnp_string_concat(nullptr, "hello");
  ASSERT_NE(nullptr, s);
  EXPECT_EQ(5u + 256u, s->capacity);
  EXPECT_EQ("hello", take(s));
  s = upnp_string_add(nullptr, "abc", 3);
  EXPECT_EQ(259u, s->capacity);
  upnp_string_free(s);
  s = upnp_string_create("longer than asked", 4);
  EXPECT_EQ(18u, s->capacity);
  EXPECT_EQ("longer than asked", take(s));
  EXPECT_EQ("", take(upnp_string_create(nullptr, 0)));
}

TEST_F(StringTest, AppendFromItself) {
  upnp_string *s = upnp_string_create("abc", 4);
  s = upnp_string_add(s, s->buffer, s->length);
  s = upnp_string_concat(s, s->buffer);
  s = upnp_string_concat_string(s, s);
  s = upnp_string_sprintf(s, "[%s]", s->buffer);
  EXPECT_EQ("abcabcabcabcabcabcabcabc[abcabcabcabcabcabcabcabc]", take(s));
}

TEST_F(StringTest, FormattedAppend) {
  upnp_string *s = upnp_string_sprintf(nullptr, "%d-%s", 42, "x");
  s = upnp_string_append(s, '!');
  std::string big(3000, 'q');
  s = upnp_string_sprintf(s, "<%s>", big.c_str());
  EXPECT_EQ("42-x!<" + big + ">", take(s));
}

TEST_F(StringTest, Editing) {
  upnp_string *s = upnp_string_create("Hello, world  \r\n\t", 0);
  upnp_string_strip_trailing_whitespaces(s);
  EXPECT_EQ("Hello, world", text_of(s));
  upnp_string_cut(s, 7);
  EXPECT_EQ("Hello", text_of(s));
  upnp_string_shift_left(s, 2);
  EXPECT_EQ("llo", text_of(s));
  EXPECT_STREQ("llo", upnp_string_get_cstring(s));
  EXPECT_EQ(3u, upnp_string_get_length(s));
  char *copy = upnp_string_copy_cstring(s);
  EXPECT_STREQ("llo", copy);
  upnp_free_impl(copy);
  upnp_string_cut(s, 99);
  EXPECT_TRUE(upnp_string_is_empty(s));
  s = upnp_string_concat(s, "abc");
  upnp_string_shift_left(s, 10);
  EXPECT_EQ("", text_of(s));
  s = upnp_string_concat(s, "again");
  upnp_string_empty(s);
  EXPECT_EQ(0u, s->length);
  EXPECT_NE(0u, s->capacity);
  upnp_string_safe_free(&s);
  EXPECT_EQ(nullptr, s);

  EXPECT_TRUE(upnp_string_is_empty(nullptr));
  EXPECT_STREQ("", upnp_string_get_cstring(nullptr));
  EXPECT_EQ(0u, upnp_string_get_length(nullptr));
  EXPECT_EQ(nullptr, upnp_string_copy_cstring(nullptr));
  upnp_string_cut(nullptr, 1);
  upnp_string_safe_free(&s);
}

TEST_F(StringTest, Replace) {
  EXPECT_EQ("a::b::c", take(upnp_string_replace(upnp_string_create("a-b-c", 0), "-", "::")));
  EXPECT_EQ("abc", take(upnp_string_replace(upnp_string_create("a--b--c--", 0), "--", "")));
  EXPECT_EQ("aaaa", take(upnp_string_replace(upnp_string_create("aa", 0), "a", "aa")));
  EXPECT_EQ("xyz", take(upnp_string_replace(upnp_string_create("xyz", 0), "xyzw", "!")));
  EXPECT_EQ("xyz", take(upnp_string_replace(upnp_string_create("xyz", 0), "", "!")));
  EXPECT_EQ("&amp;lt;", take(upnp_string_replace(upnp_string_create("&lt;", 0), "&", "&amp;")));

  EXPECT_EQ("Hi there", take(upnp_string_replace2(upnp_string_create("Hello there", 0), 1, 4, "i")));
  EXPECT_EQ("Hello there!", take(upnp_string_replace2(upnp_string_create("Hello there", 0), 99, 5, "!")));
  EXPECT_EQ("He", take(upnp_string_replace2(upnp_string_create("Hello", 0), 2, 99, nullptr)));
  upnp_string *s = upnp_string_create("abcdef", 0);
  s = upnp_string_replace2(s, 0, 2, s->buffer + 3);  // a piece of itself
  EXPECT_EQ("defcdef", take(s));
}

TEST_F(StringTest, Base64Rfc4648Vectors) {
  const char *plain[] = {"", "f", "fo", "foo", "foob", "fooba", "foobar"};
  const char *coded[] = {"", "Zg==", "Zm8=", "Zm9v", "Zm9vYg==", "Zm9vYmE=", "Zm9vYmFy"};
  for (int i = 0; i < 7; ++i) {
    EXPECT_EQ(coded[i], b64(plain[i]));
    EXPECT_EQ(plain[i], unb64(coded[i]));
  }
  std::string binary("\0\xff\xfe\x01", 4);
  EXPECT_EQ("AP/+AQ==", b64(binary));
  EXPECT_EQ(binary, unb64("AP/+AQ=="));
}

TEST_F(StringTest, Base64DecoderLeniencyAndRefusals) {
  EXPECT_EQ("foobar", unb64("Zm9v\r\nYmFy\n"));
  EXPECT_EQ("fo", unb64("Zm8"));
  EXPECT_EQ("f", unb64("Zg"));
  EXPECT_EQ("<none>", unb64("Zm9v!"));
  EXPECT_EQ("<none>", unb64("Z"));
  EXPECT_EQ("<none>", unb64("Zg="));
  EXPECT_EQ("<none>", unb64("Zg==="));
  EXPECT_EQ("<none>", unb64("Zg==Zg=="));
  EXPECT_EQ("<none>", unb64("Zm9v===="));
  EXPECT_EQ("<none>", unb64("Zm9v-_"));
}

TEST_F(StringTest, UrlEscapes) {
  EXPECT_EQ("a%20b%2Fc%3F%3D%26-._~%C3%BC", url("a b/c?=&-._~\xc3\xbc"));
  EXPECT_EQ(std::string("a\0b", 3), unurl("a%00b"));
  EXPECT_EQ("AJ%zz%4%", unurl("%41%4a%zz%4%"));
  EXPECT_EQ("a+b", unurl("a+b"));
  std::string all;
  for (int c = 0; c < 256; ++c) all.push_back(static_cast<char>(c));
  EXPECT_EQ(all, unurl(url(all)));
}

TEST_F(StringTest, Utf8ToUtf16) {
  EXPECT_EQ(std::string("A\0\xac\x20\x34\xd8\x1e\xdd", 8), to16("A\xe2\x82\xac\xf0\x9d\x84\x9e"));
  const std::string fffd("\xfd\xff", 2);
  EXPECT_EQ(fffd + fffd, to16("\xc0\x80")) << "overlong";
  EXPECT_EQ(fffd + fffd + fffd, to16("\xed\xa0\x80")) << "surrogate";
  EXPECT_EQ(fffd + std::string("A\0", 2), to16("\xe2\x82" "A")) << "truncated";
  EXPECT_EQ(fffd, to16("\xf4\x90\x80\x80").substr(0, 2)) << "above U+10FFFF";
  EXPECT_EQ(fffd, to16("\xe2\x82")) << "truncated at the end";
  upnp_string *s = upnp_string_utf8_to_utf16("hi", 2);
  ASSERT_NE(nullptr, s);
  EXPECT_EQ(4u, s->length);
  EXPECT_EQ('\0', s->buffer[4]);
  EXPECT_EQ('\0', s->buffer[5]) << "a zero code unit follows";
  upnp_string_free(s);
}

TEST_F(StringTest, Utf16ToUtf8) {
  EXPECT_EQ("A\xe2\x82\xac\xf0\x9d\x84\x9e", to8(std::string("A\0\xac\x20\x34\xd8\x1e\xdd", 8)));
  EXPECT_EQ("Az", to8(std::string("\xff\xfe" "A\0z\0", 6))) << "little-endian mark dropped";
  EXPECT_EQ("Az", to8(std::string("\xfe\xff\0A\0z", 6))) << "big-endian mark honoured";
  EXPECT_EQ("\xef\xbf\xbd" "A", to8(std::string("\x34\xd8" "A\0", 4))) << "lone high surrogate";
  EXPECT_EQ("\xef\xbf\xbd", to8(std::string("\x1e\xdd", 2))) << "lone low surrogate";
  EXPECT_EQ("A\xef\xbf\xbd", to8(std::string("A\0B", 3))) << "odd last byte";
  EXPECT_EQ("", to8(""));
}

TEST_F(StringTest, Utf8RoundTrip) {
  std::string text = "Caf\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac \xf0\x9f\x8e\xb5 plain";
  EXPECT_EQ(text, to8(to16(text)));
}
