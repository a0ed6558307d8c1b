// Request fields, range texts, redirect targets and what a response header
// tells the stream receiver.
#include <gtest/gtest.h>

#include <string>

#include "base/upnp_mem.h"
#include "http/http_stream.h"
#include "http/http_stream_internal.h"

namespace {

std::string take(char *text) {
  std::string s = text ? text : "<none>";
  upnp_free_impl(text);
  return s;
}

struct Record {
  StreamInfo *info = upnp_client_createStreamInfo();
  ~Record() { upnp_renderer_decrease_streaminfo_use(info); }
};

TEST(HttpStreamRequest, RangeTexts) {
  EXPECT_EQ(take(upnp_renderer_create_byte_range(0)), "Range: bytes=0-\r\n");
  EXPECT_EQ(take(upnp_renderer_create_byte_range(5000000000LL)), "Range: bytes=5000000000-\r\n");
  EXPECT_EQ(take(upnp_renderer_create_time_range(83456, 0)), "TimeSeekRange.dlna.org: npt=83.456-\r\n");
  EXPECT_EQ(take(upnp_renderer_create_time_range(5, 1)),
            "getAvailableSeekRange.dlna.org: 1\r\nTimeSeekRange.dlna.org: npt=0.005-\r\n");
}

TEST(HttpStreamRequest, HeaderExtraFields) {
  struct Case {
    const char *name;
    uint64_t features;
    uint32_t resource_flags, response_flags;
    const char *content_type, *caller, *extra;
    int head;
    const char *want;
    uint64_t features_after;
  };
  const uint32_t bg = DLNA_FLAG_BACKGROUND, st = DLNA_FLAG_STREAMING;
  const Case cases[] = {
      {"HEAD plain", 0, 0, 0, nullptr, "A: 1\r\n", "Range: bytes=9-\r\n", 1, "A: 1\r\ngetcontentFeatures.dlna.org: 1\r\n", 0},
      {"GET audio, type unknown", 0, 0, 0, nullptr, "", "Range: bytes=9-\r\n", 0,
       "Range: bytes=9-\r\ntransferMode.dlna.org: Streaming\r\ngetcontentFeatures.dlna.org: 1\r\n",
       STREAM_FEATURE_STREAMING_MODE},
      {"GET image", 0, 0, 0, "image/jpeg", "", nullptr, 0, "transferMode.dlna.org: Interactive\r\n", 0},
      {"GET forced download drops extra", 0, 0, 0, "application/force-download", "", "Range: bytes=9-\r\n", 0,
       "transferMode.dlna.org: Streaming\r\n", STREAM_FEATURE_STREAMING_MODE},
      {"caller's own transfer mode", 0, 0, 0, "audio/mpeg", "transferMode.dlna.org: Background\r\n", nullptr, 0,
       "transferMode.dlna.org: Background\r\n", 0},
      {"HEAD after 406", STREAM_FEATURE_STREAMING_MODE | STREAM_FEATURE_DOWNLOAD, 0, 0, nullptr, "", nullptr, 1,
       "transferMode.dlna.org: Streaming\r\ngetcontentFeatures.dlna.org: 1\r\n", 0},
      {"download HEAD background", STREAM_FEATURE_DOWNLOAD, bg, 0, nullptr, "", nullptr, 1,
       "transferMode.dlna.org: Background\r\ngetcontentFeatures.dlna.org: 1\r\n", 0},
      {"download HEAD ignores response flags", STREAM_FEATURE_DOWNLOAD, 0, st, nullptr, "", nullptr, 1,
       "getcontentFeatures.dlna.org: 1\r\n", 0},
      {"download GET uses response flags", STREAM_FEATURE_DOWNLOAD, 0, st, "video/mpeg", "", nullptr, 0,
       "transferMode.dlna.org: Streaming\r\n", 0},
      {"download without flags", STREAM_FEATURE_DOWNLOAD, 0, 0, "video/mpeg", "", nullptr, 0, "", 0},
      {"longer than 1023 characters", 0, 0, 0, "audio/mpeg", nullptr, nullptr, 0, "<none>",
       STREAM_FEATURE_STREAMING_MODE},
  };
  std::string long_caller = "X-Long: " + std::string(1000, 'x') + "\r\n";
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    Record r;
    const char *caller = c.caller ? c.caller : long_caller.c_str();
    ASSERT_NE(upnp_client_initStreamInfo(r.info, nullptr, 0, "http://h/", c.extra, caller, nullptr, c.features),
              nullptr);
    r.info->resource_flags = c.resource_flags;
    r.info->response_flags = c.response_flags;
    r.info->content_type = c.content_type ? upnp_strdup_impl(c.content_type) : nullptr;
    EXPECT_EQ(take(createHeaderExtraFields(r.info, c.head)), c.want);
    EXPECT_EQ(r.info->features & ~c.features, c.features_after);
  }
}

TEST(HttpStreamRequest, RedirectTargets) {
  const char *cases[][3] = {
      {"http://h:8/a/b/c.mp3?x=/y", "d.mp3", "http://h:8/a/b/d.mp3"},
      {"http://h:8/a/b/c.mp3", "/root.mp3", "http://h:8/root.mp3"},
      {"http://h:8/a/b/c.mp3", "//other:9/z", "http://other:9/z"},
      {"http://h:8/a/b/c.mp3", "http://x/y", "http://x/y"},
      {"http://h:8", "t.mp3", "http://h:8/t.mp3"},
      {"http://h:8/a", "", "<none>"},
  };
  for (const auto &c : cases) EXPECT_EQ(take(stream_resolve_location(c[0], c[1])), c[2]) << c[0] << " + " << c[1];
}

TEST(HttpStreamRequest, WhatAResponseTells) {
  struct Case {
    const char *name;
    const char *header;
    uint64_t features;
    int64_t total, position, byte_offset, time_position;
    int32_t duration;
    int32_t limited;
  };
  const uint64_t B = STREAM_FEATURE_BYTE_SEEK, T = STREAM_FEATURE_TIME_SEEK, S = STREAM_FEATURE_STALL,
                 C = STREAM_FEATURE_CONVERTED;
  const Case cases[] = {
      {"plain with length", "HTTP/1.1 200 OK\r\nContent-Length: 1234\r\n\r\n", S, 1234, 0, -1, -1, 0, 0},
      {"accept ranges", "HTTP/1.1 200 OK\r\nAccept-Ranges: bytes\r\nContent-Length: 9\r\n\r\n", B | S, 9, 0, -1, -1,
       0, 0},
      {"content range", "HTTP/1.1 206 P\r\nContent-Range: bytes 100-199/5000\r\nContent-Length: 100\r\n\r\n", S, 5000,
       100, 100, -1, 0, 0},
      {"DLNA.ORG_OP=10 and CI", "HTTP/1.1 200 OK\r\ncontentFeatures.dlna.org: DLNA.ORG_OP=10;DLNA.ORG_CI=1\r\n\r\n",
       T | C | S, 0, 0, -1, -1, 0, 0},
      {"no stalling (7.4.58.2 without bit 21)",
       "HTTP/1.1 200 OK\r\nX: 7.4.58.2\r\ncontentFeatures.dlna.org: DLNA.ORG_OP=01;DLNA.ORG_FLAGS=01000000000000000000000000000000\r\n\r\n",
       B, 0, 0, -1, -1, 0, 0},
      {"stalling allowed by bit 21",
       "HTTP/1.1 200 OK\r\nX: 7.4.58.2\r\ncontentFeatures.dlna.org: DLNA.ORG_FLAGS=01200000000000000000000000000000\r\n\r\n",
       S, 0, 0, -1, -1, 0, 0},
      {"limited random access",
       "HTTP/1.1 200 OK\r\ncontentFeatures.dlna.org: DLNA.ORG_FLAGS=60000000000000000000000000000000\r\n\r\n",
       B | T | S, 0, 0, -1, -1, 0, 1},
      {"time seek range",
       "HTTP/1.1 200 OK\r\nTimeSeekRange.dlna.org: npt=0:01:02.500-0:02:00.000/0:03:00.250 bytes=1000-1999/9000\r\n\r\n",
       S, 9000, 1000, 1000, 62500, 180250, 0},
      {"time seek range in seconds", "HTTP/1.1 200 OK\r\nTimeSeekRange.dlna.org: npt = 12.5-/*\r\n\r\n", S, 0, 0, -1,
       12500, 0, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    Record r;
    storeStreamFeatures(r.info, c.header);
    EXPECT_EQ(r.info->features, c.features);
    EXPECT_EQ(r.info->total_length, c.total);
    EXPECT_EQ(r.info->position, c.position);
    EXPECT_EQ(r.info->byte_offset, c.byte_offset);
    EXPECT_EQ(r.info->time_position, c.time_position);
    EXPECT_EQ(r.info->duration, c.duration);
    EXPECT_EQ(r.info->limited_random_access, c.limited);
  }
}

TEST(HttpStreamRequest, UseCountAtZeroIsRefused) {
  StreamInfo *info = upnp_client_createStreamInfo();
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(info->use_count.load(), 1);
  info->use_count.fetch_add(1);
  upnp_renderer_decrease_streaminfo_use(info);
  EXPECT_EQ(info->use_count.load(), 1);
  upnp_renderer_decrease_streaminfo_use(info);  // freed; ASan would see any later use
}

}  // namespace
