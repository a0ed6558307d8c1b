// Formats in the terminal mode's words: an item's MIME type from its
// protocolInfo or its URL, a sink list's formats with wildcards, and the
// words naming what a renderer takes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host_format.h"

namespace {

TEST(HostFormat, AnItemsMimeType) {
  const struct {
    const char *url;
    const char *protocol;
    const char *mime;
  } rows[] = {
      {"http://h/a.mp3", "http-get:*:audio/mpeg:DLNA.ORG_PN=MP3", "audio/mpeg"},
      {"http://h/a.bin", "http-get:*:Video/MP4:*", "video/mp4"},  // the protocolInfo wins, in lower case
      {"http://h/clip.SWF", "", "application/x-shockwave-flash"},
      {"http://h/clip.flv?x=1.mp3", "", "video/flv"},  // the query is not the extension
      {"http://h/a.mp3", "http-get:*:*:*", "audio/mpeg"},
      {"http://h.example/stream", "", ""},  // a dot before the last slash only
      {"http://h/a.xyz", "", ""},
      {"", "garbage", ""},
  };
  for (const auto &r : rows) EXPECT_EQ(host::item_mime(r.url, r.protocol), r.mime) << r.url << " " << r.protocol;
}

TEST(HostFormat, WhatASinkListTakes) {
  const std::string sink = "http-get:*:audio/mpeg:*, http-get:*:AUDIO/x-flac:DLNA.ORG_PN=X,rtsp:*:audio/mpeg:*,"
                           "http-get:*:video/x-flv:*,,broken,http-get:*:image/*:*";
  EXPECT_EQ(host::sink_formats(sink), (std::vector<std::string>{"audio/mpeg", "audio/x-flac", "video/x-flv", "image/*"}));
  const struct {
    const char *mime;
    bool taken;
  } rows[] = {{"audio/mpeg", true},  {"Audio/X-FLAC", true}, {"image/png", true},
              {"video/flv", false},  {"video/mp4", false},   {"application/x-shockwave-flash", false}};
  for (const auto &r : rows) EXPECT_EQ(host::sink_takes(sink, r.mime), r.taken) << r.mime;
  EXPECT_TRUE(host::sink_takes("http-get:*:*:*", "application/pdf"));
  EXPECT_FALSE(host::sink_takes("", "audio/mpeg"));
}

TEST(HostFormat, TheFormatsTakenInWords) {
  const std::string sink = "http-get:*:audio/mpeg:*,http-get:*:video/x-flv:*,http-get:*:video/mp4:*,"
                           "http-get:*:video/webm:*,http-get:*:image/jpeg:*";
  EXPECT_EQ(host::formats_taken_words(sink, "video/flv"),
            "it takes these video formats: video/x-flv, video/mp4, video/webm (5 formats in all)");
  EXPECT_EQ(host::formats_taken_words(sink, "video/flv", 2),
            "it takes these video formats: video/x-flv, video/mp4, ... (5 formats in all)");
  EXPECT_EQ(host::formats_taken_words(sink, "application/pdf", 2),
            "it takes: audio/mpeg, video/x-flv, ... (5 formats in all)");
  EXPECT_EQ(host::formats_taken_words("http-get:*:audio/mpeg:*", ""), "it takes: audio/mpeg (1 format in all)");
  EXPECT_EQ(host::formats_taken_words("", "audio/mpeg"), "it names no formats it takes");
}

}  // namespace
