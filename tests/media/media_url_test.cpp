// The URL functions: escapes, the cut to the file extension, thumbnail
// translation, video links and ids (with the sites' default hosts).
#include <gtest/gtest.h>

#include <string>

#include "media/zel_media_item.h"
#include "media/zel_url_codec.h"
#include "media/zel_youtube_item.h"

#include "support_mem.h"

namespace {

using MediaUrl = test_support::MemCheckedTest;

TEST_F(MediaUrl, EncodeAndDecode) {
  struct Case {
    const char *in;
    const char *encoded;
  };
  const Case cases[] = {
      {"abc-_.~XYZ09", "abc-_.~XYZ09"},
      {"a b&c=d/e", "a+b%26c%3dd%2fe"},
      {"\xc3\x9c\xff\x80", "%c3%9c%ff%80"},  // every byte above 0x7F as two hex digits
      {"", ""},
  };
  for (const Case &c : cases) {
    char out[64];
    EXPECT_TRUE(url_encode(c.in, out, sizeof out));
    EXPECT_STREQ(c.encoded, out);
    char back[64];
    EXPECT_TRUE(url_decode(out, back, sizeof back));
    EXPECT_STREQ(c.in, back);
  }
  char small[6];
  EXPECT_FALSE(url_encode("ab\xff\xff", small, sizeof small));
  EXPECT_STREQ("ab%ff", small);  // no half escape
  EXPECT_FALSE(url_encode(nullptr, small, sizeof small));

  const Case decodes[] = {
      {"Lab+Video+%26+%C3%9Cn", "Lab Video & \xc3\x9cn"},
      {"end%", "end"},        // a "%" at the end is dropped, nothing past it read
      {"end%4", "end4"},      // one digit is no escape
      {"%zzx", "zzx"},
      {"a%00b", "a"},         // a decoded zero ends the text
  };
  for (const Case &c : decodes) {
    char out[64];
    url_decode(c.in, out, sizeof out);
    EXPECT_STREQ(c.encoded, out) << c.in;
  }
}

TEST_F(MediaUrl, TruncateAndTranslate) {
  struct Case {
    const char *url;
    bool cut_query;
    const char *truncated;
  };
  const Case cases[] = {
      {"http://h/dir/photo.jpg?size=large", true, "http://h/dir/photo.jpg"},
      {"http://h/dir/photo.jpg?size=large", false, "http://h/dir/photo.jpg"},
      {"http://h/a.mp3;type=x", false, "http://h/a.mp3"},
      {"http://www.youtube.com/watch?v=x.y&z", true, "http://www.youtube.com/watch?v=x.y&z"},
      // Without an extension in the path the host is not cut.
      {"http://radio.example.com/stream", true, "http://radio.example.com/stream"},
      {"", false, ""},
  };
  for (const Case &c : cases) {
    char out[256];
    EXPECT_TRUE(ZelUrlMediaItem2::TruncateURL(c.url, out, sizeof out, c.cut_query));
    EXPECT_STREQ(c.truncated, out) << c.url;
  }

  struct Translation {
    const char *url;
    const char *translated;
  };
  const Translation translations[] = {
      {"http://169.254.77.1:9000/albumart/O0$1$8I3.jpg", "http://169.254.77.1:9000/disk/photo/O0$1$8I3.jpg"},
      {"http://s/cgi-bin/W160/H120/Xjpeg-scale.desc/O0$2.jpg", "http://s/disk/photo/O0$2.jpg"},
      {"http://t0.gstatic.com/images?q=tbn:x:http://pics.example.org/full.jpg", "http://pics.example.org/full.jpg"},
      {"http://farm1.static.flickr.com/1/2_abc_m.jpg", "http://farm1.static.flickr.com/1/2_abc.jpg"},
      {"http://farm1.static.flickr.com/1/2_abc_o.jpg", "http://farm1.static.flickr.com/1/2_abc_o.jpg"},
      {"http://photos.fbcdn.net/p_s.jpg", "http://photos.fbcdn.net/p_n.jpg"},
      {"http://www.facebook.com/albumart/O0$1_t.jpg", "http://www.facebook.com/albumart/O0$1_n.jpg"},
      {"http://h/plain.jpg", "http://h/plain.jpg"},
  };
  for (const Translation &t : translations) {
    char out[256];
    EXPECT_TRUE(ZelUrlMediaItem2::TranslateURL(t.url, out, sizeof out));
    EXPECT_STREQ(t.translated, out) << t.url;
  }
  char tiny[8];
  EXPECT_TRUE(ZelUrlMediaItem2::TranslateURL("http://h/plain.jpg", tiny, sizeof tiny));
  EXPECT_STREQ("http://", tiny);
  EXPECT_FALSE(ZelUrlMediaItem2::TranslateURL(nullptr, tiny, sizeof tiny));
}

TEST_F(MediaUrl, VideoLinksAndIds) {
  struct Case {
    const char *url;
    bool link;
    const char *id;  // none: no id
  };
  const Case cases[] = {
      {"http://www.youtube.com/watch?v=dQw4w9WgXcQ&feature=related", true, "dQw4w9WgXcQ"},
      {"http://www.youtube.com/watch?feature=x&v=abc", true, "abc"},
      {"http://www.youtube.com/watch_videos?video_ids=id1%2Cid2%2Cid3&x=1", true, "id1"},
      {"http://www.youtube.com/v/xyz123&hl=en", true, "xyz123"},
      {"http://www.youtube.com/view_play_list?p=PL1&v=vid9&x", true, "vid9"},
      {"http://www.youtube.com/view_play_list?p=PL1", false, nullptr},
      {"http://www.youtube.com/user/someone", false, nullptr},
      {"https://www.youtube.com/watch?v=abc", false, nullptr},
      {"http://www.youtube.com/watch", true, nullptr},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(c.link, ZelYouTubeUrlMediaItem2::IsUrlYouTubeLink(c.url)) << c.url;
    char id[100];
    EXPECT_EQ(c.id != nullptr, ZelYouTubeUrlMediaItem2::VideoIdOfUrl(c.url, id, sizeof id)) << c.url;
    if (c.id) {
      EXPECT_STREQ(c.id, id) << c.url;
    }
  }
  char small[4];
  EXPECT_TRUE(ZelYouTubeUrlMediaItem2::VideoIdOfUrl("http://www.youtube.com/v/abcdef", small, sizeof small));
  EXPECT_STREQ("abc", small);
  EXPECT_FALSE(ZelYouTubeUrlMediaItem2::IsUrlYouTubeLink(nullptr));
  EXPECT_TRUE(ZelYouTubeUrlMediaItem2::IsYouTubePlayableURL("http://v1.lscache.youtube.com/videoplayback?id=1"));
  EXPECT_FALSE(ZelYouTubeUrlMediaItem2::IsYouTubePlayableURL("http://h/videoplayback"));
  EXPECT_FALSE(ZelYouTubeUrlMediaItem2::IsYouTubePlayableURL(nullptr));
}

}  // namespace
