// Server objects against crafted media servers on 127.0.0.1 (controller up
// without network, the servers added to its table directly): names read
// whole, the local playlist server chosen by its version, and the version
// fetched once per server object.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "cp/upnp_cp.h"
#include "http_test_server.h"
#include "media/zel_control_point.h"
#include "nmc/lm_nmc.h"
#include "nmc/lm_nmc_internal.h"
#include "nmc/lm_nmc_notify.h"
#include "media_test_util.h"
#include "nmc_dms_server.h"
#include "support_files.h"
#include "support_wait.h"

namespace {

::testing::Environment *const g_env = ::testing::AddGlobalTestEnvironment(new media_test::ControllerUp("media_server_crafted"));

// The listed server of that UDN (its bookmark begins with it), held.
std::shared_ptr<ZelMediaServer2> listed(const std::string &udn) {
  for (const auto &server : ZelControlPoint2::GetInstance()->GetServerList()->Snapshot())
    if (std::string(server->GetBookmark()).compare(0, udn.size(), udn) == 0) return server;
  return nullptr;
}

struct Crafted {
  std::unique_ptr<nmc_test::CdsServer> server;
  std::atomic<int> version_gets{0};
};

// A crafted server that says whether it is local and answers "/rpc/version"
// with version (none: 404); listed by the control point when this returns.
std::unique_ptr<Crafted> serve(const std::string &udn, const std::string &name, bool local, const char *version) {
  auto crafted = std::make_unique<Crafted>();
  crafted->server = std::make_unique<nmc_test::CdsServer>(udn, name);
  nmc_test::CdsServer &s = *crafted->server;
  s.device_extra = std::string("<zel:X_LOCALDEVICE>") + (local ? "true" : "false") + "</zel:X_LOCALDEVICE><baseURL>" +
                   s.base_url() + "</baseURL>";
  Crafted *raw = crafted.get();
  std::string text = version != nullptr ? version : "";
  s.other_get = [raw, text](const std::string &path) -> std::string {
    if (path != "/rpc/version") return "";
    ++raw->version_gets;
    return text.empty() ? "" : http_response("200 OK", text, "Content-Type: text/plain\r\n");
  };
  upnp_control_add_device(s.description_url().c_str(), udn.c_str(), "127.0.0.1:9000", 1800, 1);
  EXPECT_TRUE(test_support::wait_until([&] { return listed(udn) != nullptr; }, 5000)) << udn;
  return crafted;
}

TEST(MediaServerCrafted, LocalPlaylistServerByVersion) {
  ZelControlPoint2 *cp = ZelControlPoint2::GetInstance();
  ASSERT_NE(cp, nullptr);
  struct Row {
    const char *udn;
    bool local;
    const char *version;
    bool playlistServer;
  } rows[] = {
      {"uuid:media-crafted-51", true, "5.1.9", false},
      {"uuid:media-crafted-nv", true, nullptr, false},  // no version answer
      {"uuid:media-crafted-re", false, "6.0", false},   // not on this machine
      {"uuid:media-crafted-52", true, "5.2", true},
      {"uuid:media-crafted-60", true, "6.0 beta", true},
  };
  std::vector<std::unique_ptr<Crafted>> servers;
  for (const Row &row : rows) servers.push_back(serve(row.udn, std::string("Crafted ") + row.udn, row.local, row.version));
  for (size_t i = 0; i < servers.size(); ++i) {
    std::shared_ptr<ZelMediaServer2> s = listed(rows[i].udn);
    ASSERT_NE(s, nullptr) << rows[i].udn;
    EXPECT_EQ(s->IsLocalServer(), rows[i].local) << rows[i].udn;
    EXPECT_EQ(cp->IsLocalPlaylistServer(s.get()), rows[i].playlistServer) << rows[i].udn;
    char text[100];
    // Asked again and again: fetched once per server object.
    for (int k = 0; k < 3; ++k) (void)s->GetVersionString(text, sizeof text);
    EXPECT_STREQ(text, rows[i].version != nullptr ? rows[i].version : "") << rows[i].udn;
    EXPECT_LE(servers[i]->version_gets.load(), 1) << rows[i].udn;
  }
  ZelMediaServer2 *chosen = cp->GetLocalPlaylistServer();
  ASSERT_NE(chosen, nullptr);
  EXPECT_EQ(chosen, listed("uuid:media-crafted-52").get());  // the first in list order
  EXPECT_EQ(cp->GetLocalBeamServer(), nullptr);                   // none is named LumetBeam
  int major = 0, minor = 0;
  EXPECT_TRUE(chosen->GetVersion(&major, &minor));
  EXPECT_EQ(major * 10 + minor, 52);
  for (const Row &row : rows) upnp_control_delete_device(row.udn, 1);
}

TEST(MediaServerCrafted, LongNamesAreReadWhole) {
  std::string name(300, 'n');
  name += "-end";
  std::unique_ptr<Crafted> crafted = serve("uuid:media-crafted-ln", name, false, nullptr);
  std::shared_ptr<ZelMediaServer2> s = listed("uuid:media-crafted-ln");
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(std::string(s->GetDeviceName()), name);
  upnp_control_delete_device("uuid:media-crafted-ln", 1);
}

}  // namespace
