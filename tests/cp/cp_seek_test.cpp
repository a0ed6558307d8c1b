// The texts of seeks: track times to milliseconds and back, and the res of
// a DIDL-Lite object that holds the renderer's track URI.
#include <gtest/gtest.h>

#include <string>

#include "base/upnp_xml.h"
#include "cp/upnp_cp_seek.h"

namespace {

TEST(CpSeekTest, TrackTimes) {
  const struct {
    const char *text;
    int ok;
    uint64_t ms;
  } cases[] = {
      {"0:00:00", 1, 0},          {"1:02:03", 1, 3723000},      {"0:04:00.5", 1, 240500},
      {"0:00:01.250", 1, 1250},   {"0:00:10.1/4", 1, 10250},    {"12:00:00", 1, 43200000},
      {"NOT_IMPLEMENTED", 0, 0},  {"", 0, 0},                   {"0:61:00", 0, 0},
      {"0:00", 0, 0},             {"-0:00:01", 0, 0},           {"0:00:10.1/0", 1, 10000},
  };
  for (const auto &c : cases) {
    uint64_t ms = 99;
    EXPECT_EQ(upnp_cp_time_to_ms(c.text, &ms), c.ok) << c.text;
    EXPECT_EQ(ms, c.ms) << c.text;
  }
  EXPECT_EQ(upnp_cp_time_to_ms(nullptr, nullptr), 0);
  const struct {
    uint64_t ms;
    const char *text;
  } times[] = {{0, "0:00:00"}, {999, "0:00:00"}, {3723000, "1:02:03"}, {360000000, "100:00:00"}};
  for (const auto &t : times) {
    char buffer[32];
    upnp_cp_ms_to_time(t.ms, buffer, sizeof buffer);
    EXPECT_STREQ(buffer, t.text);
  }
  char small[4];
  upnp_cp_ms_to_time(3723000, small, sizeof small);
  EXPECT_STREQ(small, "1:0") << "cut to the buffer";
}

TEST(CpSeekTest, SelectedResMatchesTheTrackUri) {
  upnp_xml_node *didl = upnp_xml_parse(
      "<DIDL-Lite><item><res protocolInfo=\"a\">http://h/low.mp3</res><res protocolInfo=\"b\"> http://h/t.mp3 "
      "</res></item></DIDL-Lite>");
  ASSERT_NE(didl, nullptr);
  const struct {
    const char *uri;
    const char *protocol_info;
  } cases[] = {{"http://h/t.mp3", "b"}, {"  http://h/low.mp3", "a"}, {"http://h/other.mp3", nullptr}, {"", nullptr}};
  for (const auto &c : cases) {
    upnp_xml_node *res = upnp_cp_get_selected_res(didl, c.uri);
    const char *got = res != nullptr ? upnp_xml_find_attribute_value(res, "protocolInfo") : nullptr;
    EXPECT_EQ(got != nullptr ? std::string(got) : "<none>", c.protocol_info != nullptr ? c.protocol_info : "<none>")
        << c.uri;
  }
  EXPECT_EQ(upnp_cp_get_selected_res(nullptr, "http://h/t.mp3"), nullptr);
  upnp_xml_release(didl);
}

}  // namespace
