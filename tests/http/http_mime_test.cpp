// The MIME table and its lookups.
#include <gtest/gtest.h>

#include "http/http_mime.h"

TEST(HttpMime, ExtensionLookupIgnoresCaseAndTakesFirstGroup) {
  EXPECT_STREQ(HTTP_get_mime_type(nullptr, "wav"), "audio/x-wav");
  EXPECT_STREQ(HTTP_get_mime_type(nullptr, "WAV"), "audio/x-wav");
  EXPECT_STREQ(HTTP_get_mime_type(nullptr, "3gp"), "video/3gpp");
  EXPECT_STREQ(HTTP_get_mime_type(nullptr, "3GPP"), "video/3gpp");
  EXPECT_STREQ(HTTP_get_mime_type(nullptr, "mp3"), "audio/mpeg");
  EXPECT_STREQ(HTTP_get_mime_type(nullptr, "Jpe"), "image/jpeg");
  EXPECT_STREQ(HTTP_get_mime_type(nullptr, "mod"), "video/mpeg");
  EXPECT_STREQ(HTTP_get_mime_type(nullptr, "ts"), "video/mpeg2");
  EXPECT_STREQ(HTTP_get_mime_type(nullptr, "mp4.a"), "audio/mp4");
  EXPECT_STREQ(HTTP_get_mime_type(nullptr, "dvr-ms"), "video/x-ms-dvr");
  EXPECT_STREQ(HTTP_get_mime_type(nullptr, "xml"), "text/xml; charset=\"utf-8\"");
  EXPECT_STREQ(HTTP_get_mime_type(nullptr, "vgdrm"), "application/x-ndsvgdrm");
}

TEST(HttpMime, UnknownExtensionFallsBack) {
  EXPECT_STREQ(HTTP_get_mime_type(nullptr, "xyz"), "application/octet-stream");
  EXPECT_STREQ(HTTP_get_mime_type(nullptr, ""), "application/octet-stream");
  EXPECT_STREQ(HTTP_get_mime_type(nullptr, nullptr), "application/octet-stream");
  EXPECT_STREQ(HTTP_get_mime_type(nullptr, "wa"), "application/octet-stream");  // no prefix match
}

TEST(HttpMime, ExtensionOfPath) {
  EXPECT_STREQ(HTTP_get_extension("/music/a.b/song.FLAC"), "FLAC");
  EXPECT_STREQ(HTTP_get_extension("name."), "");
  EXPECT_EQ(HTTP_get_extension("/no/dot"), nullptr);
  EXPECT_EQ(HTTP_get_extension(nullptr), nullptr);
}

TEST(HttpMime, KnownTypeIsFoundInsideText) {
  EXPECT_TRUE(HTTP_is_known_mime_type("http-get:*:audio/x-flac:*"));
  EXPECT_TRUE(HTTP_is_known_mime_type("image/png"));
  // The fallback group does not count as known.
  EXPECT_FALSE(HTTP_is_known_mime_type("application/octet-stream"));
  EXPECT_FALSE(HTTP_is_known_mime_type("application/x-unknown"));
  EXPECT_FALSE(HTTP_is_known_mime_type(nullptr));
}

TEST(HttpMime, ExtensionByType) {
  EXPECT_STREQ(HTTP_get_extension_by_mime_type("image/jpeg"), "jpg");
  EXPECT_STREQ(HTTP_get_extension_by_mime_type("http-get:*:video/x-matroska:*"), "mkv");
  EXPECT_STREQ(HTTP_get_extension_by_mime_type("audio/3gpp"), "3gp");
  // The first group whose type occurs in the text wins: "video/mpeg" is
  // part of "video/mpeg2".
  EXPECT_STREQ(HTTP_get_extension_by_mime_type("video/mpeg2"), "mpg");
  EXPECT_EQ(HTTP_get_extension_by_mime_type("application/octet-stream"), nullptr);
  EXPECT_EQ(HTTP_get_extension_by_mime_type(nullptr), nullptr);
}
