// The XML command interface: request and response forms, "cmdseq", error
// answers, several commands in one request, and the device commands on a
// crafted server on 127.0.0.1.
#include <gtest/gtest.h>

#include <string>

#include "base/upnp_mem.h"
#include "cp/upnp_cp.h"
#include "cp/upnp_soap.h"
#include "cp_test_util.h"
#include "nmc/lm_nmc.h"
#include "nmc/lm_nmc_api.h"
#include "nmc/lm_nmc_devices.h"
#include "nmc/lm_nmc_internal.h"
#include "nmc/lm_nmc_notify.h"
#include "nmc_test_util.h"
#include "support_mem.h"
#include "support_wait.h"

namespace {

using test_support::wait_until;

std::string query(const std::string &xml) { return test_support::take_text(lm_nmc_api_query(xml.c_str(), 1)); }

std::string result(uint32_t code, const std::string &text) {
  return "<Result code=\"" + std::to_string(code) + "\">" + text + "</Result>";
}

class NmcApiTest : public nmc_test::NmcTest {
 protected:
  void SetUp() override {
    NmcTest::SetUp();
    nmc_notifiers_set_start_delay(0);
    ASSERT_EQ(start(), 1);
  }
};

TEST_F(NmcApiTest, FormsAndErrors) {
  const std::string ok = result(0, "OK");
  const struct {
    const char *request;
    std::string response;
  } cases[] = {
      {"", result(402, "Failed to parse XML")},
      {"not xml at all", result(402, "Failed to parse XML")},
      {"<Bogus/>", "<Bogus>" + result(2, "Unknown command") + "</Bogus>"},
      {"<Bogus cmdseq=\"7\"/>", "<Bogus cmdseq=\"7\">" + result(2, "Unknown command") + "</Bogus>"},
      {"<GetUpTime/>", "<GetUpTime><StationaryUpTime>0</StationaryUpTime>" + ok + "</GetUpTime>"},
      {"<GetUpTime cmdseq=\"a&amp;&quot;b\"></GetUpTime>",
       "<GetUpTime cmdseq=\"a&amp;&quot;b\"><StationaryUpTime>0</StationaryUpTime>" + ok + "</GetUpTime>"},
      {"<GetVersion/>", "<GetVersion><Version>6.0.38</Version>" + ok + "</GetVersion>"},
      // Several commands in one request answer in order; trailing text that
      // does not parse ends the request.
      {"<GetUpTime/><Bogus cmdseq=\"2\"/> <GetUpTime/>junk<",
       "<GetUpTime><StationaryUpTime>0</StationaryUpTime>" + ok + "</GetUpTime><Bogus cmdseq=\"2\">" +
           result(2, "Unknown command") + "</Bogus><GetUpTime><StationaryUpTime>0</StationaryUpTime>" + ok +
           "</GetUpTime>"},
      // Missing or malformed device addressing.
      {"<GetServerInfo><Element>friendlyName</Element></GetServerInfo>",
       "<GetServerInfo>" + result(2, upnp_get_errmsg(2)) + "</GetServerInfo>"},
      {"<GetRendererInfo><RendererIndex>x1</RendererIndex></GetRendererInfo>",
       "<GetRendererInfo>" + result(2, upnp_get_errmsg(2)) + "</GetRendererInfo>"},
      {"<GetServerInfo><Index>29</Index><Element>friendlyName</Element></GetServerInfo>",
       "<GetServerInfo>" + result(1, upnp_get_errmsg(1)) + "<Index>29</Index></GetServerInfo>"},
      {"<GetServerList/>", "<GetServerList>" + ok + "</GetServerList>"},
      {"<NetworkScan reload=\"true\"/>", "<NetworkScan>" + ok + "</NetworkScan>"},
  };
  for (const auto &c : cases) EXPECT_EQ(query(c.request), c.response) << c.request;
  EXPECT_EQ(nmc_api_run("<GetVersion/>"), 0u);
  EXPECT_EQ(lm_nmc_ioctl(0, "NMCRescan", 0, nullptr), 0u);
}

TEST_F(NmcApiTest, DeviceCommandsOnACraftedServer) {
  cp_test::FileServer files;
  const std::string udn = "uuid:nmc-apisrv-000001";
  for (const char *s : {"CM", "CDS"}) files.put(std::string("/000001/") + s + ".xml", cp_test::scpd({"Browse"}));
  files.put("/000001/desc.xml", cp_test::description(udn, "urn:schemas-upnp-org:device:MediaServer:1", "A & B",
                                                     {"CM", "CDS"}));
  upnp_control_add_device(files.url("/000001/desc.xml").c_str(), udn.c_str(), "127.0.0.1:9000", 1800, 1);
  ASSERT_TRUE(wait_until([] { return nmc_devices_list(NMC_SIDE_SERVER).size() == 1; }, 5000));
  const std::string index = std::to_string(nmc_devices_list(NMC_SIDE_SERVER)[0].index);
  const std::string ok = result(0, "OK");
  const struct {
    std::string request;
    std::string response;
  } cases[] = {
      {"<GetServerList cmdseq=\"1\"/>", "<GetServerList cmdseq=\"1\"><Server index=\"" + index + "\"><UDN>" + udn +
                                            "</UDN><Name>A &amp; B</Name></Server>" + ok + "</GetServerList>"},
      {"<GetRendererList/>", "<GetRendererList>" + ok + "</GetRendererList>"},
      {"<GetServerInfo><ServerIndex>" + index + "</ServerIndex><Element>friendlyName</Element>"
       "<Element>noSuchField</Element></GetServerInfo>",
       "<GetServerInfo><friendlyName>A &amp; B</friendlyName>" + ok + "<Index>" + index + "</Index></GetServerInfo>"},
      // A caller's element name is never written as markup.
      {"<GetServerInfo><Index>" + index + "</Index><Element>x&gt;&lt;y</Element></GetServerInfo>",
       "<GetServerInfo>" + result(2, upnp_get_errmsg(2)) + "<Index>" + index + "</Index></GetServerInfo>"},
  };
  for (const auto &c : cases) EXPECT_EQ(query(c.request), c.response) << c.request;
  EXPECT_EQ(nmc_api_run("<UnsubscribeServer><Index>" + index + "</Index></UnsubscribeServer>"), 0u);
  EXPECT_NE(nmc_api_run("<SubscribeServer><Index>29</Index></SubscribeServer>"), 0u);
}

// After a stop the interface has no session to answer with.
TEST_F(NmcApiTest, NoAnswerWhileStopped) {
  ASSERT_TRUE(stop_and_wait());
  EXPECT_EQ(lm_nmc_api_query("<GetUpTime/>", 1), nullptr);
  EXPECT_EQ(nmc_api_run("<GetUpTime/>"), 11u);
}

}  // namespace
