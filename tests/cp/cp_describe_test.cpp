// What the table takes from parsed descriptions: device node by UDN (embedded
// devices), names, URL base, kind records and quirks; no network.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>

#include "base/upnp_mem.h"
#include "base/upnp_xml.h"
#include "cp/upnp_cp.h"
#include "cp/upnp_cp_internal.h"
#include "cp_test_util.h"

namespace {

struct Tree {
  explicit Tree(const std::string &text) : root(upnp_xml_parse(text.c_str())) {}
  ~Tree() { upnp_xml_release(root); }
  upnp_xml_node *root;
};

std::map<std::string, std::string> g_scpds;
std::vector<std::string> g_fetched;

upnp_xml_node *fake_fetch(const char *url, void *) {
  g_fetched.push_back(url);
  auto it = g_scpds.find(url);
  return it == g_scpds.end() ? nullptr : upnp_xml_parse(it->second.c_str());
}

class DescribeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    upnp_mem_init();
    g_scpds.clear();
    g_fetched.clear();
  }
};

TEST_F(DescribeTest, EmbeddedDeviceIsFoundByUdn) {
  std::string text =
      "<root><device><UDN>uuid:outer</UDN><friendlyName>Outer</friendlyName><deviceList>"
      "<device><UDN>uuid:a</UDN><friendlyName>A</friendlyName></device>"
      "<device><UDN>uuid:b</UDN><deviceList><device><UDN>uuid:deep</UDN><modelName>Deep Model</modelName>"
      "</device></deviceList></device></deviceList></device></root>";
  Tree tree(text);
  ASSERT_NE(tree.root, nullptr);
  upnp_cp_description_fields f;
  ASSERT_EQ(cp_find_device_node(tree.root, "uuid:deep", 2, &f), 0);
  EXPECT_STREQ(f.name, "Deep Model");
  EXPECT_EQ(f.name_from_friendly, 0);
  EXPECT_STREQ(upnp_xml_find_tag_value(f.device_node, "UDN"), "uuid:deep");
  ASSERT_EQ(cp_find_device_node(tree.root, "uuid:outer", 2, &f), 0);
  EXPECT_STREQ(f.name, "Outer");
  ASSERT_EQ(cp_find_device_node(tree.root, "uuid:b", 1, &f), 0);
  EXPECT_STREQ(f.name, "Unknown server");
  EXPECT_EQ(cp_find_device_node(tree.root, "uuid:none", 1, &f), UPNP_CP_INVALID_INDEX);
  Tree nodevice("<root><specVersion/></root>");
  EXPECT_EQ(cp_find_device_node(nodevice.root, "uuid:a", 1, &f), UPNP_CP_NOT_FOUND);
}

TEST_F(DescribeTest, NameIsCutToSixtyFourCharactersOnCharacterBoundaries) {
  std::string name;
  for (int i = 0; i < 70; ++i) name += "\xC3\xA9";  // 70 two-byte characters
  Tree tree("<root><device><UDN>uuid:n</UDN><friendlyName>" + name + "</friendlyName></device></root>");
  upnp_cp_description_fields f;
  ASSERT_EQ(cp_find_device_node(tree.root, "uuid:n", 2, &f), 0);
  EXPECT_EQ(std::strlen(f.name), 128u);
}

TEST_F(DescribeTest, UrlBaseFromDescriptionOrLocation) {
  Tree good("<root><URLBase>http://10.0.0.9:5000/</URLBase><device/></root>");
  char *base = cp_url_base(good.root, "http://10.0.0.1:80/x/desc.xml");
  EXPECT_STREQ(base, "http://10.0.0.9:5000");
  upnp_free_impl(base);
  Tree shortbase("<root><URLBase>http://a:1/</URLBase><device/></root>");
  base = cp_url_base(shortbase.root, "http://10.0.0.1:80/x/desc.xml");
  EXPECT_STREQ(base, "http://10.0.0.1:80/x");
  upnp_free_impl(base);
  Tree none("<root><device/></root>");
  base = cp_url_base(none.root, "http://10.0.0.1:80");
  EXPECT_STREQ(base, "http://10.0.0.1:80") << "no '/' after the eighth character: kept whole";
  upnp_free_impl(base);
}

TEST_F(DescribeTest, RendererNeedsAllThreeServices) {
  std::string d = cp_test::description("uuid:r-000001", "urn:schemas-upnp-org:device:MediaRenderer:1", "R",
                                       {"CM", "RC", "AVT"});
  g_scpds["http://h:1/000001/AVT.xml"] = cp_test::scpd({"Play"});
  Tree tree(d);
  upnp_cp_description_fields f;
  ASSERT_EQ(cp_find_device_node(tree.root, "uuid:r-000001", 2, &f), 0);
  void *record = cp_build_kind_record(f.device_node, 2, "http://h:1", "uuid:r-000001", "loc", fake_fetch, nullptr);
  ASSERT_NE(record, nullptr);
  auto *r = static_cast<upnp_cp_renderer_record *>(record);
  EXPECT_STREQ(r->avt.control_url, "/000001/AVT/control");
  EXPECT_STREQ(r->rc.event_url, "/000001/RC/event");
  EXPECT_NE(r->avt.scpd, nullptr);
  EXPECT_EQ(r->rc.scpd, nullptr) << "a missing SCPD still counts as found";
  EXPECT_EQ(r->transport_state, 0xFFFFFFFFu);
  EXPECT_EQ(cp_kind_record_services(record, 2), 7u);
  EXPECT_EQ(g_fetched.size(), 2u);
  cp_free_kind_record(record, 2);

  for (const char *missing : {"CM", "RC", "AVT"}) {
    std::vector<std::string> services;
    for (const char *s : {"CM", "RC", "AVT"})
      if (std::strcmp(s, missing) != 0) services.push_back(s);
    Tree t(cp_test::description("uuid:r-000001", "x", "R", services));
    ASSERT_EQ(cp_find_device_node(t.root, "uuid:r-000001", 2, &f), 0);
    EXPECT_EQ(cp_build_kind_record(f.device_node, 2, "http://h:1", "u", "l", fake_fetch, nullptr), nullptr) << missing;
  }
}

TEST_F(DescribeTest, ServiceWithoutControlUrlCountsAsMissing) {
  std::string d = cp_test::description("uuid:s-000002", "x", "S", {"CM", "CDS"});
  size_t at = d.find("<controlURL>/000002/CDS/control</controlURL>");
  ASSERT_NE(at, std::string::npos);
  d.erase(at, std::strlen("<controlURL>/000002/CDS/control</controlURL>"));
  Tree tree(d);
  upnp_cp_description_fields f;
  ASSERT_EQ(cp_find_device_node(tree.root, "uuid:s-000002", 1, &f), 0);
  EXPECT_EQ(cp_build_kind_record(f.device_node, 1, "http://h:1", "u", "l", fake_fetch, nullptr), nullptr);
}

TEST_F(DescribeTest, ServerRegistrarAndPlaylistCapability) {
  std::string d = cp_test::description("uuid:s-000003", "x", "S", {"CM", "CDS", "MRR"});
  g_scpds["http://h:1/000003/CDS.xml"] =
      cp_test::scpd({"Browse", "CreateObject", "CreateReference", "DestroyObject", "UpdateObject"});
  Tree tree(d);
  upnp_cp_description_fields f;
  ASSERT_EQ(cp_find_device_node(tree.root, "uuid:s-000003", 1, &f), 0);
  void *record = cp_build_kind_record(f.device_node, 1, "http://h:1/dev", "u", "l", fake_fetch, nullptr);
  ASSERT_NE(record, nullptr);
  auto *s = static_cast<upnp_cp_server_record *>(record);
  EXPECT_STREQ(s->registrar_control_url, "/000003/MRR/control");
  EXPECT_EQ(s->playlist, 1);
  cp_free_kind_record(record, 1);
  EXPECT_EQ(cp_build_kind_record(f.device_node, 7, "http://h:1", "u", "l", fake_fetch, nullptr), nullptr);
  Tree empty("<root><device><UDN>u</UDN><serviceList></serviceList></device></root>");
  ASSERT_EQ(cp_find_device_node(empty.root, "u", 1, &f), 0);
  EXPECT_EQ(cp_build_kind_record(f.device_node, 1, "http://h:1", "u", "l", fake_fetch, nullptr), nullptr);
}

TEST_F(DescribeTest, RuisTakesTheRemoteUiControlUrl) {
  Tree tree(cp_test::description("uuid:u-000004", "x", "U", {"RUIS"}));
  upnp_cp_description_fields f;
  ASSERT_EQ(cp_find_device_node(tree.root, "uuid:u-000004", 3, &f), 0);
  void *record = cp_build_kind_record(f.device_node, 3, "http://h:1", "u", "l", fake_fetch, nullptr);
  ASSERT_NE(record, nullptr);
  EXPECT_STREQ(static_cast<upnp_cp_ruis_record *>(record)->control_url, "/000004/RUIS/control");
  cp_free_kind_record(record, 3);
}

TEST_F(DescribeTest, WdModelIsPolledAndToshibaAcceptsRepeatedSequences) {
  Tree tree(cp_test::description("uuid:w-000005", "x", "W", {"CM", "RC", "AVT"},
                                 "<modelDescription>TOSHIBA LCDTV</modelDescription>"));
  upnp_cp_description_fields f;
  ASSERT_EQ(cp_find_device_node(tree.root, "uuid:w-000005", 2, &f), 0);
  upnp_xml_node *model = upnp_xml_find_tag(f.device_node, "modelName");
  upnp_xml_set_value(model, "WD TV Live");
  upnp_cp_device device{};
  device.kind = 2;
  device.device_node = f.device_node;
  device.broken_actions = 9;
  device.kind_record = cp_build_kind_record(f.device_node, 2, "http://h:1", "u", "l", fake_fetch, nullptr);
  ASSERT_NE(device.kind_record, nullptr);
  cp_apply_renderer_quirks(&device);
  auto *r = static_cast<upnp_cp_renderer_record *>(device.kind_record);
  EXPECT_EQ(device.polled, 1);
  EXPECT_EQ(device.broken_actions, 0u);
  EXPECT_EQ(r->avt.quirks & 1u, 1u);
  EXPECT_EQ(r->rc.quirks & 1u, 1u);
  EXPECT_EQ(r->max_width, 0u);
  cp_free_kind_record(device.kind_record, 2);
}

}  // namespace
