// URL joining, location checks and the protocol-information type test.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "cp/upnp_cp.h"
#include "cp/upnp_cp_internal.h"

namespace {

std::string join(const std::string &base, const char *url, unsigned int size = 256, int *result = nullptr) {
  char buffer[512];
  std::snprintf(buffer, sizeof buffer, "%s", base.c_str());
  int r = makeAbsoluteURLFromBase(url, buffer, size);
  if (result != nullptr) *result = r;
  return buffer;
}

TEST(UrlJoin, AbsolutePathKeepsOnlySchemeAndHostOfTheBase) {
  EXPECT_EQ(join("http://10.0.0.2:8200/dev/desc", "/ctl/cd"), "http://10.0.0.2:8200/ctl/cd");
  EXPECT_EQ(join("http://10.0.0.2:8200", "/ctl/cd"), "http://10.0.0.2:8200/ctl/cd");
  EXPECT_EQ(join("http://10.0.0.2:8200/dev", "\\ctl"), "http://10.0.0.2:8200\\ctl");
}

TEST(UrlJoin, RelativeUrlIsAppendedWithOneSlash) {
  EXPECT_EQ(join("http://h:1/dev", "ctl"), "http://h:1/dev/ctl");
  EXPECT_EQ(join("http://h:1/dev/", "ctl"), "http://h:1/dev/ctl");
}

TEST(UrlJoin, EmptyUrlKeepsTheBaseAndEmptyBaseIsAnError) {
  int r = -1;
  EXPECT_EQ(join("http://h:1/dev", "", 256, &r), "http://h:1/dev");
  EXPECT_EQ(r, 0);
  EXPECT_EQ(join("http://h:1/dev", nullptr, 256, &r), "http://h:1/dev");
  EXPECT_EQ(join("", "x", 256, &r), "");
  EXPECT_EQ(r, UPNP_CP_INVALID_PARAMETER);
}

TEST(UrlJoin, TooSmallBufferKeepsTheBase) {
  int r = -1;
  // "http://h/a" + "/" + "bc" = 13 characters; 13 do not fit into 13 bytes.
  EXPECT_EQ(join("http://h/a", "bc", 13, &r), "http://h/a");
  EXPECT_EQ(r, UPNP_CP_BUFFER_TOO_SMALL);
  EXPECT_EQ(join("http://h/a", "bc", 14, &r), "http://h/a/bc");
  EXPECT_EQ(r, 0);
}

TEST(UrlJoin, KnownProtocolsAreCopiedUnchanged) {
  char out[64];
  ASSERT_EQ(upnp_cp_get_absolute_url("http://h:1/d", "HTTP://other/x", out, sizeof out), 0);
  EXPECT_STREQ(out, "HTTP://other/x");
  ASSERT_EQ(upnp_cp_get_absolute_url("http://h:1/d", "rtp://m:5/s", out, sizeof out), 0);
  EXPECT_STREQ(out, "rtp://m:5/s");
  ASSERT_EQ(upnp_cp_get_absolute_url("http://h:1/d", "file:/tmp/x", out, sizeof out), 0);
  EXPECT_STREQ(out, "file:/tmp/x");
  ASSERT_EQ(upnp_cp_get_absolute_url("http://h:1/d", "/x", out, sizeof out), 0);
  EXPECT_STREQ(out, "http://h:1/x");
  EXPECT_EQ(upnp_cp_get_absolute_url("http://h:1/d", "https://a-very-long-host-name.example/x", out, 10),
            UPNP_CP_BUFFER_TOO_SMALL);
  EXPECT_STREQ(out, "");
}

TEST(LocationCheck, HostAndPortMustBeSane) {
  char host[64];
  unsigned int port = 0;
  EXPECT_EQ(cp_split_http_url("http://10.1.2.3:49152/desc.xml", host, sizeof host, &port), 1);
  EXPECT_STREQ(host, "10.1.2.3");
  EXPECT_EQ(port, 49152u);
  EXPECT_EQ(cp_split_http_url("http://box.local/d", host, sizeof host, &port), 1);
  EXPECT_EQ(port, 80u);
  EXPECT_EQ(cp_split_http_url("http://h:65535", host, sizeof host, &port), 1);
  for (const char *bad : {"http://h:65536/", "http://h:0/", "http://h:/", "http://:1/", "http://h:12a/",
                          "http://h:0000080/", "http://h h/", "https://h/", "http://h@x/", "http://"}) {
    EXPECT_EQ(cp_split_http_url(bad, host, sizeof host, &port), 0) << bad;
  }
  EXPECT_EQ(cp_split_http_url(nullptr, host, sizeof host, &port), 0);
  EXPECT_EQ(cp_split_http_url("http://longhostname/", host, 5, &port), 0);
}

TEST(SupportsTypes, AllOrAnyOfTheListedTypes) {
  const char *info = "http-get:*:audio/mpeg:*,http-get:*:image/jpeg:*";
  EXPECT_EQ(upnp_cp_supports_types(info, "audio/mpeg image/jpeg", 1), 1);
  EXPECT_EQ(upnp_cp_supports_types(info, "audio/mpeg video/mp4", 1), 0);
  EXPECT_EQ(upnp_cp_supports_types(info, "audio/mpeg video/mp4", 0), 1);
  EXPECT_EQ(upnp_cp_supports_types(info, "video/mp4\taudio/x-flac", 0), 0);
  EXPECT_EQ(upnp_cp_supports_types(info, nullptr, 1), 1);
  EXPECT_EQ(upnp_cp_supports_types(info, "  ", 0), 1);
  EXPECT_EQ(upnp_cp_supports_types(nullptr, "audio/mpeg", 0), 0);
}

TEST(Kinds, ValidKindsAndNames) {
  EXPECT_EQ(upnp_cp_isValidDeviceType(3), 1);
  EXPECT_EQ(upnp_cp_isValidDeviceType(0), 0);
  EXPECT_EQ(upnp_cp_isValidMediaDeviceType(3), 0);
  EXPECT_STREQ(upnp_cp_kind_name(3), "ruis");
  EXPECT_STREQ(upnp_cp_kind_name(9), "unknown");
}

TEST(HomeNetwork, LoopbackPrefixIsHomeOnceRecorded) {
  // Without the control point no prefixes are recorded.
  EXPECT_EQ(upnp_cp_is_home_network_http_url("http://127.0.0.1:80/x"), 0);
  cp_net_lock_init();
  upnp_cp_update_network_prefixes();
  EXPECT_EQ(upnp_cp_is_home_network_http_url("HTTP://127.0.0.1:80/x"), 1);
  EXPECT_EQ(upnp_cp_is_home_network_http_url("http://127.1.0.1/x"), 0);
  EXPECT_EQ(upnp_cp_is_home_network_http_url("http://localhost/x"), 0);
  EXPECT_EQ(upnp_cp_is_home_network_http_url("https://127.0.0.1/x"), 0);
  cp_net_lock_exit();
}

}  // namespace
