// Proxy routing for renderers: the proxy base URLs and their refusals, the
// embedded proxy URL form and its decoding, the extension a renderer sees
// and the media-site table.
#include <gtest/gtest.h>

#include <string>

#include "base/upnp_mem.h"
#include "cp/upnp_cp.h"
#include "cp/upnp_cp_avt_uri.h"
#include "cp_test_util.h"

using cp_test::CpTest;

namespace {

using test_support::take_text;

const char kBase[] = "http://10.20.30.40:9000/proxy";

std::string proxied(const char *url, const char *mime = nullptr, const char *didl = nullptr) {
  upnp_xml_node *tree = didl != nullptr ? upnp_xml_parse(didl) : nullptr;
  char *out = nullptr;
  int rc = getProxiedUrl(kBase, url, mime, tree, &out);
  upnp_xml_release(tree);
  EXPECT_EQ(0, rc);
  return take_text(out);
}

std::string base(int kind) {
  char *out = nullptr;
  int rc = upnp_cp_get_proxy_base(kind, &out);
  return rc == 0 ? take_text(out) : "rc" + std::to_string(rc);
}

class ProxyBase : public CpTest {
 protected:
  void SetUp() override {
    CpTest::SetUp();
    ASSERT_EQ(0, upnp_cp_start(0, 0));
  }
  void TearDown() override {
    upnp_cp_set_proxy_base(nullptr, UPNP_CP_PROXY_APPLICATION);
    upnp_cp_set_proxy_base(nullptr, UPNP_CP_PROXY_AUTOMATIC);
    CpTest::TearDown();
  }
};

TEST_F(ProxyBase, KindsAreKeptApartAndKindThreePrefersTheApplications) {
  EXPECT_EQ("rc9", base(UPNP_CP_PROXY_ANY));
  ASSERT_EQ(0, upnp_cp_set_proxy_base("http://10.0.0.9:9000/auto", UPNP_CP_PROXY_AUTOMATIC));
  EXPECT_EQ("rc9", base(UPNP_CP_PROXY_APPLICATION));
  EXPECT_EQ("http://10.0.0.9:9000/auto", base(UPNP_CP_PROXY_AUTOMATIC));
  EXPECT_EQ("http://10.0.0.9:9000/auto", base(UPNP_CP_PROXY_ANY));
  ASSERT_EQ(0, upnp_cp_set_proxy_base("http://10.0.0.8:9000/app", UPNP_CP_PROXY_APPLICATION));
  EXPECT_EQ("http://10.0.0.8:9000/app", base(UPNP_CP_PROXY_ANY));
  EXPECT_EQ("http://10.0.0.9:9000/auto", base(UPNP_CP_PROXY_AUTOMATIC));
  // Clearing one leaves the other; an empty text clears as none does.
  ASSERT_EQ(0, upnp_cp_set_proxy_base("", UPNP_CP_PROXY_APPLICATION));
  EXPECT_EQ("http://10.0.0.9:9000/auto", base(UPNP_CP_PROXY_ANY));
  ASSERT_EQ(0, upnp_cp_set_proxy_base(nullptr, UPNP_CP_PROXY_AUTOMATIC));
  EXPECT_EQ("rc9", base(UPNP_CP_PROXY_ANY));
}

TEST_F(ProxyBase, RefusalsLeaveTheBaseAsItWas) {
  ASSERT_EQ(0, upnp_cp_set_proxy_base("http://10.0.0.9/p", UPNP_CP_PROXY_AUTOMATIC));
  EXPECT_EQ(2, upnp_cp_set_proxy_base("ftp://10.0.0.1/p", UPNP_CP_PROXY_AUTOMATIC));
  EXPECT_EQ(2, upnp_cp_set_proxy_base("10.0.0.1/p", UPNP_CP_PROXY_AUTOMATIC));
  EXPECT_EQ(2, upnp_cp_set_proxy_base("http://", UPNP_CP_PROXY_AUTOMATIC));
  EXPECT_EQ(2, upnp_cp_set_proxy_base("http://10.0.0.1/p", 0));
  EXPECT_EQ(2, upnp_cp_set_proxy_base("http://10.0.0.1/p", UPNP_CP_PROXY_ANY));
  EXPECT_EQ(2, upnp_cp_set_proxy_base(nullptr, 4));
  EXPECT_EQ("http://10.0.0.9/p", base(UPNP_CP_PROXY_AUTOMATIC));
  EXPECT_EQ("rc2", base(0));
  EXPECT_EQ("rc2", base(4));
  EXPECT_EQ(2, upnp_cp_get_proxy_base(1, nullptr));
  // Upper-case scheme is an http URL too.
  EXPECT_EQ(0, upnp_cp_set_proxy_base("HTTP://10.0.0.7/p", UPNP_CP_PROXY_APPLICATION));
}

// The bases are the application's settings, not the table's: they survive a
// stop and start, and may be set or cleared while the control point is
// stopped.
TEST_F(ProxyBase, BasesSurviveRestartsAndMayChangeWhileStopped) {
  const char kApp[] = "http://10.0.0.8:9000/app";
  const char kAuto[] = "http://10.0.0.9:9000/auto";
  ASSERT_EQ(0, upnp_cp_set_proxy_base(kApp, UPNP_CP_PROXY_APPLICATION));
  upnp_control_exit();
  EXPECT_EQ(0, upnp_cp_set_proxy_base(kAuto, UPNP_CP_PROXY_AUTOMATIC));
  EXPECT_EQ(kApp, base(UPNP_CP_PROXY_ANY));
  ASSERT_EQ(0, upnp_cp_start(0, 0));
  EXPECT_EQ(kApp, base(UPNP_CP_PROXY_APPLICATION));
  EXPECT_EQ(kAuto, base(UPNP_CP_PROXY_AUTOMATIC));
  upnp_control_exit();
  EXPECT_EQ(0, upnp_cp_set_proxy_base(nullptr, UPNP_CP_PROXY_APPLICATION));
  ASSERT_EQ(0, upnp_cp_start(0, 0));
  EXPECT_EQ("rc9", base(UPNP_CP_PROXY_APPLICATION));
  EXPECT_EQ(kAuto, base(UPNP_CP_PROXY_ANY));
}

TEST(ProxyBaseStopped, ABaseSetBeforeTheControlPointStartsIsKept) {
  upnp_mem_init();
  EXPECT_EQ(0, upnp_cp_set_proxy_base("http://10.0.0.9/p", UPNP_CP_PROXY_AUTOMATIC));
  EXPECT_EQ("http://10.0.0.9/p", base(UPNP_CP_PROXY_ANY));
  EXPECT_EQ(2, upnp_cp_set_proxy_base("ftp://10.0.0.9/p", UPNP_CP_PROXY_AUTOMATIC));
  EXPECT_EQ(0, upnp_cp_set_proxy_base(nullptr, UPNP_CP_PROXY_AUTOMATIC));
  char *out = reinterpret_cast<char *>(1);
  EXPECT_EQ(9, upnp_cp_get_proxy_base(UPNP_CP_PROXY_ANY, &out));
  EXPECT_EQ(nullptr, out);
}

TEST(EmbeddedUrl, FormIsBaseSlashEncodedUrlDotExtension) {
  EXPECT_EQ("http://10.0.0.2:9000/proxy/http%3A%2F%2Fexample%2Ecom%2Fa%2Emp3.mp3",
            take_text(upnp_util_create_embedded_url("http://10.0.0.2:9000/proxy", "http://example.com/a.mp3", "mp3")));
  // Trailing slashes of the base are not doubled; no extension, no dot.
  EXPECT_EQ("http://10.0.0.2/p/http%3A%2F%2Fa%2Fb%3Fx%3D1%26y%3D2",
            take_text(upnp_util_create_embedded_url("http://10.0.0.2/p//", "http://a/b?x=1&y=2", nullptr)));
  // An extension that is not letters and digits is left out.
  EXPECT_EQ("http://b/x", take_text(upnp_util_create_embedded_url("http://b", "x", "m/p")));
  EXPECT_EQ("http://b/x", take_text(upnp_util_create_embedded_url("http://b", "x", "")));
  EXPECT_EQ("<none>", take_text(upnp_util_create_embedded_url(nullptr, "x", "mp3")));
  EXPECT_EQ("<none>", take_text(upnp_util_create_embedded_url("http://b", nullptr, "mp3")));
  EXPECT_EQ("<none>", take_text(upnp_util_create_embedded_url("http://b", "", "mp3")));
}

TEST(EmbeddedUrl, RoundTripGivesBackUrlAndExtension) {
  const char *urls[] = {"http://example.com/a.b.c/song.mp3?x=1&y=%41#frag",
                        "http://203.0.113.9:8080/path with space/\xc3\xa9t\xc3\xa9.flac",
                        "https://www.youtube.com/watch?v=dQw4w9WgXcQ&t=1.5s",
                        "http://h/~user/_-/%2E."};
  const char *extensions[] = {"mp3", nullptr, "mp4", "jpg"};
  for (const char *b : {"http://10.0.0.2:9000/proxy", "http://10.0.0.2:9000/proxy/"}) {
    for (size_t i = 0; i < 4; ++i) {
      char *embedded = upnp_util_create_embedded_url(b, urls[i], extensions[i]);
      ASSERT_NE(nullptr, embedded);
      char *url = nullptr;
      char *extension = nullptr;
      EXPECT_EQ(0, upnp_util_parse_embedded_url(b, embedded, &url, &extension)) << embedded;
      EXPECT_EQ(urls[i], take_text(url));
      EXPECT_EQ(extensions[i] ? extensions[i] : "<none>", take_text(extension));
      upnp_free_impl(embedded);
    }
  }
}

TEST(EmbeddedUrl, ParseRefusesForeignTexts) {
  char *url = reinterpret_cast<char *>(1);
  const char *b = "http://10.0.0.2/p";
  EXPECT_EQ(2, upnp_util_parse_embedded_url(b, "http://10.0.0.3/p/abc.mp3", &url, nullptr));
  EXPECT_EQ(nullptr, url);
  EXPECT_EQ(2, upnp_util_parse_embedded_url(b, "http://10.0.0.2/pabc", &url, nullptr));
  EXPECT_EQ(2, upnp_util_parse_embedded_url(b, "http://10.0.0.2/p/", &url, nullptr));
  EXPECT_EQ(2, upnp_util_parse_embedded_url(b, "http://10.0.0.2/p/a/b.mp3", &url, nullptr));
  EXPECT_EQ(2, upnp_util_parse_embedded_url(b, "http://10.0.0.2/p/a.b.mp3", &url, nullptr));
  EXPECT_EQ(2, upnp_util_parse_embedded_url(b, "http://10.0.0.2/p/a.", &url, nullptr));
  EXPECT_EQ(2, upnp_util_parse_embedded_url(b, "http://10.0.0.2/p/a%00b", &url, nullptr));
  EXPECT_EQ(2, upnp_util_parse_embedded_url(b, "http://10.0.0.2/p/a", nullptr, nullptr));
  EXPECT_EQ(0, upnp_util_parse_embedded_url(b, "http://10.0.0.2/p/a%2Eb", &url, nullptr));
  EXPECT_EQ("a.b", take_text(url));
}

TEST(UrlExtension, FileNameOfThePathOnly) {
  char ext[8];
  EXPECT_EQ(0, upnp_cp_url_file_extension("http://h/dir.d/song.FLAC?x=a.mp3#b.c", ext, sizeof ext));
  EXPECT_STREQ("FLAC", ext);
  EXPECT_EQ(9, upnp_cp_url_file_extension("http://h/dir.d/song?x=a.mp3", ext, sizeof ext));
  EXPECT_STREQ("", ext);
  EXPECT_EQ(9, upnp_cp_url_file_extension("http://example.com", ext, sizeof ext));
  EXPECT_EQ(9, upnp_cp_url_file_extension("http://h/a.b-c", ext, sizeof ext));
  EXPECT_EQ(9, upnp_cp_url_file_extension("http://h/a.", ext, sizeof ext));
  EXPECT_EQ(10, upnp_cp_url_file_extension("http://h/a.mpeg2", ext, 4));
  EXPECT_EQ(2, upnp_cp_url_file_extension(nullptr, ext, sizeof ext));
}

TEST(ProxySites, HostPatternsMatchOnLabelBoundaries) {
  EXPECT_STREQ("mp4", upnp_cp_proxy_site_extension("http://www.youtube.com/watch?v=abc"));
  EXPECT_STREQ("mp4", upnp_cp_proxy_site_extension("http://YouTube.com/watch?v=abc"));
  EXPECT_STREQ("mp4", upnp_cp_proxy_site_extension("http://youtu.be/abc"));
  EXPECT_STREQ("mp4", upnp_cp_proxy_site_extension("http://r3---sn-abc.googlevideo.com:443/videoplayback?id=1"));
  EXPECT_STREQ("jpg", upnp_cp_proxy_site_extension("http://picasaweb.google.com/data/feed/photo"));
  EXPECT_STREQ("jpg", upnp_cp_proxy_site_extension("http://lh3.ggpht.com/abc/s1600/"));
  EXPECT_STREQ("jpg", upnp_cp_proxy_site_extension("http://farm4.staticflickr.com/3/5_6_b"));
  EXPECT_STREQ("jpg", upnp_cp_proxy_site_extension("http://user:pw@www.flickr.com.:80/photos/x"));
  EXPECT_EQ(nullptr, upnp_cp_proxy_site_extension("http://notyoutube.com/watch"));
  EXPECT_EQ(nullptr, upnp_cp_proxy_site_extension("http://youtube.com.example.net/watch"));
  EXPECT_EQ(nullptr, upnp_cp_proxy_site_extension("http://example.com/www.youtube.com/watch"));
  EXPECT_EQ(nullptr, upnp_cp_proxy_site_extension("http://google.com/"));
  EXPECT_EQ(nullptr, upnp_cp_proxy_site_extension(nullptr));
}

class ProxiedUrl : public CpTest {
 protected:
  void SetUp() override {
    CpTest::SetUp();
    ASSERT_EQ(0, upnp_cp_start(0, 0));  // records the local network prefixes
  }
};

TEST_F(ProxiedUrl, HomeNetworkUrlStays) {
  EXPECT_EQ("http://127.0.0.1:8200/MediaItems/22.mp3", proxied("http://127.0.0.1:8200/MediaItems/22.mp3"));
  // Only http URLs with an address host count as home network.
  EXPECT_EQ("http://10.20.30.40:9000/proxy/https%3A%2F%2F127%2E0%2E0%2E1%2Fa%2Emp3.mp3",
            proxied("https://127.0.0.1/a.mp3"));
}

TEST_F(ProxiedUrl, OwnExtensionWhenItsMimeTypeIsAMediaType) {
  EXPECT_EQ(std::string(kBase) + "/http%3A%2F%2Fexample%2Ecom%2Fmusic%2Fa%2Eflac.flac",
            proxied("http://example.com/music/a.flac", "audio/mpeg"));
  // A text type and an unknown extension give way to the MIME type given.
  EXPECT_EQ(std::string(kBase) + "/http%3A%2F%2Fexample%2Ecom%2Fplay%2Ehtml.mp3",
            proxied("http://example.com/play.html", "audio/mpeg"));
  EXPECT_EQ(std::string(kBase) + "/http%3A%2F%2Fexample%2Ecom%2Fa%2Ezzz.mp4",
            proxied("http://example.com/a.zzz", "video/mp4"));
}

TEST_F(ProxiedUrl, ExtensionFromTheSelectedResOfTheMetadata) {
  const char *didl =
      "<DIDL-Lite><item id=\"1\"><dc:title>T</dc:title>"
      "<res protocolInfo=\"http-get:*:audio/x-flac:*\">http://example.com/other</res>"
      "<res protocolInfo=\"http-get:*:image/jpeg:DLNA.ORG_PN=JPEG_SM\">http://example.com/stream?id=7</res>"
      "</item></DIDL-Lite>";
  EXPECT_EQ(std::string(kBase) + "/http%3A%2F%2Fexample%2Ecom%2Fstream%3Fid%3D7.jpg",
            proxied("http://example.com/stream?id=7", nullptr, didl));
  // A URL of no res: the first res with a protocolInfo.
  EXPECT_EQ(std::string(kBase) + "/http%3A%2F%2Fexample%2Ecom%2Fx.flac", proxied("http://example.com/x", nullptr, didl));
}

TEST_F(ProxiedUrl, SitesLastAndOtherwiseNoExtension) {
  EXPECT_EQ(std::string(kBase) + "/http%3A%2F%2Fwww%2Eyoutube%2Ecom%2Fwatch%3Fv%3Dabc.mp4",
            proxied("http://www.youtube.com/watch?v=abc"));
  EXPECT_EQ(std::string(kBase) + "/http%3A%2F%2Fwww%2Eflickr%2Ecom%2Fp%2F1.jpg", proxied("http://www.flickr.com/p/1"));
  // The MIME type given wins over the site.
  EXPECT_EQ(std::string(kBase) + "/http%3A%2F%2Fwww%2Eyoutube%2Ecom%2Fwatch.flv",
            proxied("http://www.youtube.com/watch", "video/flv"));
  EXPECT_EQ(std::string(kBase) + "/http%3A%2F%2Fexample%2Ecom%2Fstream", proxied("http://example.com/stream"));
}

TEST_F(ProxiedUrl, MissingInputsAreRefused) {
  char *out = reinterpret_cast<char *>(1);
  EXPECT_EQ(2, getProxiedUrl(nullptr, "http://a/b", nullptr, nullptr, &out));
  EXPECT_EQ(nullptr, out);
  EXPECT_EQ(2, getProxiedUrl("", "http://a/b", nullptr, nullptr, &out));
  EXPECT_EQ(2, getProxiedUrl(kBase, nullptr, nullptr, nullptr, &out));
  EXPECT_EQ(2, getProxiedUrl(kBase, "", nullptr, nullptr, &out));
  EXPECT_EQ(2, getProxiedUrl(kBase, "http://a/b", nullptr, nullptr, nullptr));
}

}  // namespace
