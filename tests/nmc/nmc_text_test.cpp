// Name order, URL-base IPs, event texts, keyword translation and the device
// lists with their removal hand-over, without the controller running.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "base/upnp_thread.h"
#include "nmc/lm_nmc_api.h"
#include "nmc/lm_nmc_command.h"
#include "nmc/lm_nmc_devices.h"
#include "nmc/lm_nmc_events.h"
#include "nmc/lm_nmc_internal.h"
#include "nmc/lm_nmc_keywords.h"
#include "nmc/lm_nmc_text.h"

namespace {

int sign(int value) { return value < 0 ? -1 : value > 0 ? 1 : 0; }

TEST(NmcText, NameOrder) {
  const struct {
    const char *a;
    const char *b;
    int order;
  } cases[] = {
      {"abc", "ABC", 0},          {"a", "B", -1},
      {"ab", "abc", -1},          {"", "a", -1},
      {"\xC3\x84rger", "\xC3\xA4rger", 0},    // Ärger / ärger
      {"\xC3\xA9t\xC3\xA9", "ete", 1},        // accents do not fold away
      {"\xC5\xBD" "ar", "\xC5\xBE" "ar", 0},  // Ž / ž
      {"\xC5\xB8", "\xC3\xBF", 0},            // Ÿ / ÿ
      {"\xCE\xA9", "\xCF\x89", 0},            // Ω / ω
      {"\xD0\x94\xD0\xBE\xD0\xBC", "\xD0\xB4\xD0\xBE\xD0\xBC", 0},  // Дом / дом
      {"z", "\xC3\xA9", -1},
      {"\xFF\xFE", "\xFF\xFE", 0},  // malformed bytes compare as themselves
  };
  for (const auto &c : cases) {
    EXPECT_EQ(sign(nmc_name_compare(c.a, c.b)), c.order) << c.a << " / " << c.b;
    EXPECT_EQ(sign(nmc_name_compare(c.b, c.a)), -c.order) << c.b << " / " << c.a;
  }
}

TEST(NmcText, IpOfUrlBase) {
  const struct {
    const char *base;
    const char *ip;
  } cases[] = {
      {"http://169.254.1.2:8200/", "169.254.1.2"}, {"http://10.0.0.1/x", "10.0.0.1"}, {"https://10.0.0.1/", ""},
      {"http://host:80/", ""},  {nullptr, ""},  {"http://1111111111111111111111111", "111111111111111"},
  };
  for (const auto &c : cases) EXPECT_EQ(nmc_ip_of_urlbase(c.base), c.ip) << (c.base ? c.base : "<null>");
}

TEST(NmcText, EventTexts) {
  const struct {
    std::string text;
    const char *expect;
  } cases[] = {
      {nmc_event_added(1, 3, "uuid:s", "A&B <x>", "http://169.254.0.9:8200/"),
       "<ServerAdded><Server index=\"3\"><UDN>uuid:s</UDN><Name>A&amp;B &lt;x&gt;</Name><IP>169.254.0.9</IP>"
       "</Server></ServerAdded>"},
      {nmc_event_added(2, 0, "uuid:\"r\"", "R", "file:///x"),
       "<RendererAdded><Renderer index=\"0\"><UDN>uuid:&quot;r&quot;</UDN><Name>R</Name></Renderer></RendererAdded>"},
      {nmc_event_removed(2, 7, "R&D"),
       "<RendererRemoved><Renderer index=\"7\"><Name>R&amp;D</Name></Renderer></RendererRemoved>"},
      {nmc_event_server_updated(2, 5,
                                "<e:propertyset xmlns:e=\"urn:schemas-upnp-org:event-1-0\"><e:property>"
                                "<SystemUpdateID>42</SystemUpdateID></e:property><e:property><ContainerUpdateIDs>"
                                "</ContainerUpdateIDs></e:property></e:propertyset>"),
       "<ServerUpdated><Index>2</Index><Sequence>5</Sequence><SystemUpdateID>42</SystemUpdateID></ServerUpdated>"},
      {nmc_event_server_updated(2, 6, "<garbage"), "<ServerUpdated><Index>2</Index><Sequence>6</Sequence></ServerUpdated>"},
      {nmc_event_renderer_updated(1, 0,
                                  "<e:propertyset><e:property><LastChange>&lt;Event&gt;x&lt;/Event&gt;</LastChange>"
                                  "</e:property></e:propertyset>"),
       "<RendererUpdated><Index>1</Index><Sequence>0</Sequence><LastChange>&lt;Event&gt;x&lt;/Event&gt;"
       "</LastChange></RendererUpdated>"},
  };
  for (const auto &c : cases) EXPECT_EQ(c.text, c.expect);
}

TEST(NmcText, Keywords) {
  using V = std::vector<std::string>;
  const struct {
    const char *text;
    V keywords;
  } cases[] = {
      {"<Event><InstanceID val=\"0\"><Volume val=\"3\"/><TransportState val=\"PLAYING\"/></InstanceID></Event>",
       V{"DmrChangedState", "DmrChangedVolume"}},
      {"<AVTransportURI val=\"x\"/><VolumeDB val=\"1\"/><Mute val=\"0\"/>",
       V{"DmrChangedMetadata", "DmrChangedVolume", "DmrChangedMute"}},
      {"<TransportStatus val=\"OK\"/>", V{"DmrChangedStatus"}},
      {"<CurrentTrackDuration/><CurrentTransportActions/><Brightness/><Contrast/><Loudness/>",
       V{"DmrChangedDuration", "DmrChangedActions", "DmrChangedBrightness", "DmrChangedContrast",
         "DmrChangedLoudness"}},
      {"<Other val=\"1\"/>", V{}},
  };
  for (const auto &c : cases) EXPECT_EQ(nmc_update_keywords(c.text), c.keywords) << c.text;
  EXPECT_EQ(nmc_transport_state_code("PAUSED_PLAYBACK"), 3);
  EXPECT_EQ(nmc_transport_state_code("playing"), -1);
}

TEST(NmcText, CommandTextsEscapeEveryValue) {
  EXPECT_EQ(nmc_command_text("NetworkScan", {{"reload", "true"}}, {}), "<NetworkScan reload=\"true\"/>");
  EXPECT_EQ(nmc_command_text("GetServerInfo", {{"cmdseq", "1\"2"}}, {{"Index", "3"}, {"Element", "a<b&c"}}),
            "<GetServerInfo cmdseq=\"1&quot;2\"><Index>3</Index><Element>a&lt;b&amp;c</Element></GetServerInfo>");
  const struct {
    const char *name;
    bool ok;
  } names[] = {{"friendlyName", true}, {"dlna:X_DLNADOC", true}, {"a-b.c_d", true}, {"", false},
               {nullptr, false},       {"1abc", false},          {"a b", false},   {"a>b", false}};
  for (const auto &n : names) EXPECT_EQ(nmc_is_element_name(n.name), n.ok) << (n.name ? n.name : "<null>");
  const struct {
    const char *response;
    uint32_t code;
  } codes[] = {{nullptr, 2}, {"<X/>", 2}, {"<X><Result code=\"701\">x</Result></X>", 701},
               {"<Result code=\"x\">", 2}, {"<A><Result code=\"0\">OK</Result></A><B><Result code=\"9\"/></B>", 0}};
  for (const auto &c : codes) EXPECT_EQ(nmc_api_result_code(c.response), c.code) << (c.response ? c.response : "");
}

std::vector<std::string> names(int side) {
  std::vector<std::string> result;
  for (const nmc_device_view &device : nmc_devices_list(side)) result.push_back(device.name);
  return result;
}

TEST(NmcDevices, SortedWithDuplicatesAndBadParameters) {
  nmc_devices_init();
  const struct {
    int index;
    const char *udn;
    const char *name;
    nmc_add_result result;
  } adds[] = {
      {1, "uuid:1", "beta", NMC_ADD_ADDED},     {2, "uuid:2", "Alpha", NMC_ADD_ADDED},
      {3, "uuid:3", "alpha", NMC_ADD_ADDED},    {4, "uuid:4", "\xC3\x84rger", NMC_ADD_ADDED},
      {5, "uuid:5", "Zeta", NMC_ADD_ADDED},     {6, "uuid:1", "other", NMC_ADD_DUPLICATE},
      {-1, "uuid:7", "x", NMC_ADD_INVALID},     {8, "", "x", NMC_ADD_INVALID},
      {9, "uuid:9", "", NMC_ADD_INVALID},       {10, nullptr, "x", NMC_ADD_INVALID},
  };
  for (const auto &add : adds) {
    EXPECT_EQ(nmc_devices_add(NMC_SIDE_RENDERER, add.index, add.udn, add.name), add.result) << add.index;
  }
  // Equal names keep their order of arrival; "Ä" sorts after "Z".
  EXPECT_EQ(names(NMC_SIDE_RENDERER), (std::vector<std::string>{"Alpha", "alpha", "beta", "Zeta", "\xC3\x84rger"}));
  EXPECT_TRUE(names(NMC_SIDE_SERVER).empty());
  EXPECT_EQ(nmc_devices_position(NMC_SIDE_RENDERER, 1), 2);

  // The removal hand-over: marked, then taken out but still found by index,
  // UDN and the special index until it ends.
  nmc_device_view view;
  EXPECT_TRUE(nmc_devices_mark_removed(NMC_SIDE_RENDERER, 1, &view));
  EXPECT_EQ(view.udn, "uuid:1");
  EXPECT_FALSE(nmc_devices_mark_removed(NMC_SIDE_RENDERER, 1, nullptr));
  EXPECT_FALSE(nmc_devices_find_udn(NMC_SIDE_RENDERER, "uuid:1", nullptr)) << "marked removed";
  EXPECT_TRUE(nmc_devices_begin_removal(NMC_SIDE_RENDERER, 1));
  EXPECT_EQ(nmc_devices_position(NMC_SIDE_RENDERER, 1), -1);
  for (int index : {1, NMC_REMOVED_DEVICE_INDEX}) {
    ASSERT_TRUE(nmc_devices_find(NMC_SIDE_RENDERER, index, &view)) << index;
    EXPECT_EQ(view.name, "beta");
  }
  EXPECT_TRUE(nmc_devices_find_udn(NMC_SIDE_RENDERER, "uuid:1", nullptr));
  nmc_devices_end_removal(NMC_SIDE_RENDERER);
  EXPECT_FALSE(nmc_devices_find(NMC_SIDE_RENDERER, NMC_REMOVED_DEVICE_INDEX, nullptr));
  nmc_devices_exit();
}

// An add waits while a removal of its side is under way and goes on once it
// ended; it gives up at once when the controller terminates.
TEST(NmcDevices, AddWaitsForTheRemoval) {
  nmc_devices_init();
  ASSERT_EQ(nmc_devices_add(NMC_SIDE_SERVER, 1, "uuid:s", "S"), NMC_ADD_ADDED);
  ASSERT_TRUE(nmc_devices_mark_removed(NMC_SIDE_SERVER, 1, nullptr));
  std::atomic<bool> ended{false};
  std::thread notifier([&] {
    Sleep(300);
    ASSERT_TRUE(nmc_devices_begin_removal(NMC_SIDE_SERVER, 1));
    Sleep(100);
    ended = true;
    nmc_devices_end_removal(NMC_SIDE_SERVER);
  });
  EXPECT_EQ(nmc_devices_add(NMC_SIDE_SERVER, 1, "uuid:s", "S"), NMC_ADD_ADDED);
  EXPECT_TRUE(ended.load()) << "added before the removal ended";
  notifier.join();

  ASSERT_TRUE(nmc_devices_mark_removed(NMC_SIDE_SERVER, 1, nullptr));
  uint32_t before = nmc_run_state();
  nmc_set_run_state(LM_NMC_STATE_TERMINATING);
  uint64_t start = getSystemTime();
  EXPECT_EQ(nmc_devices_add(NMC_SIDE_SERVER, 1, "uuid:s", "S"), NMC_ADD_GAVE_UP);
  EXPECT_LT(getSystemTime() - start, 1000u);
  nmc_set_run_state(before);
  nmc_devices_exit();
}

}  // namespace
