// The private messages of an associated player in the lab (run through
// tests/lab/lab.sh): the crafted player (tests/lab/crafted_peer.py, started
// here with "lab.sh start player" and stopped again) found by the control
// point through SSDP, its replies read when they fit and refused by size when
// they do not, the message sent with its NUL; a real renderer of the lab is
// no associated player and is never asked.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "base/upnp_mem.h"
#include "cp_lab_util.h"
#include "http/http_client.h"
#include "media/zel_control_point.h"
#include "nmc/lm_nmc.h"
#include "support_files.h"
#include "support_wait.h"

namespace {

int lab(const std::string &command) {
  return std::system((std::string(MEDIA_SOURCE_DIR) + "/tests/lab/lab.sh " + command + " >/dev/null 2>&1").c_str());
}

std::string get(const std::string &url) {
  char *text = HTTP_get(url.c_str());
  std::string out = text ? text : "";
  upnp_free_impl(text);
  return out;
}

std::shared_ptr<ZelMediaRenderer2> listed(const std::string &udn) {
  ZelControlPoint2 *cp = ZelControlPoint2::GetInstance();
  if (cp == nullptr) return nullptr;
  for (const auto &renderer : cp->GetRendererList()->Snapshot())
    if (std::string(renderer->GetBookmark()).compare(0, udn.size(), udn) == 0) return renderer;
  return nullptr;
}

class MediaPlayerLab : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!cp_lab::inside_lab()) GTEST_SKIP() << "not inside the lab";
    dir_ = std::make_unique<test_support::TempDir>("media_player_lab");
    setenv("KESTREL_APP_SUPPORT_DIR", dir_->path().c_str(), 1);
    lm_nmc_set_appdata_path(dir_->path().c_str());
    ASSERT_EQ(lab("start player"), 0);
    started_ = true;
    ASSERT_NE(ZelControlPoint2::GetInstance(), nullptr);
  }
  void TearDown() override {
    if (started_) lab("stop player");
    if (dir_) ZelControlPoint2::Cleanup();
  }
  std::unique_ptr<test_support::TempDir> dir_;
  bool started_ = false;
};

TEST_F(MediaPlayerLab, RepliesReadOrRefusedBySize) {
  const std::string udn = cp_lab::env("LAB_PLAYER_UDN");
  const std::string base = cp_lab::env("LAB_PLAYER_URL");
  ASSERT_TRUE(test_support::wait_until([&] { return listed(udn) != nullptr; }, 30000)) << udn;
  std::shared_ptr<ZelMediaRenderer2> player = listed(udn);
  EXPECT_TRUE(player->IsAssociatedPlayer());
  EXPECT_STREQ(player->GetDeviceName(), cp_lab::env("LAB_PLAYER_NAME").c_str());
  struct Row {
    size_t nameLength, iconLength, callerSize;
    bool nameRead, iconRead;
  } rows[] = {
      {12, 8, 400, true, true},
      {299, 99, 400, true, true},     // the longest our reply buffers hold
      {300, 100, 400, false, false},  // one more: refused, not cut
      {60, 60, 50, false, false},     // fits our buffers, not the caller's
      {6000, 6000, 8000, false, false},
  };
  for (const Row &row : rows) {
    ASSERT_EQ(get(base + "lab/reply?name=" + std::string(row.nameLength, 'n') +
                  "&icon=" + std::string(row.iconLength, 'i')),
              "ok");
    std::vector<char> out(row.callerSize, 'x');
    EXPECT_EQ(player->GetAssociatedRendererName(out.data(), out.size()), row.nameRead) << row.nameLength;
    EXPECT_EQ(std::string(out.data()), row.nameRead ? std::string(row.nameLength, 'n') : "") << row.nameLength;
    EXPECT_EQ(player->GetAssociatedRendererIcon(out.data(), out.size()), row.iconRead) << row.iconLength;
    EXPECT_EQ(std::string(out.data()), row.iconRead ? std::string(row.iconLength, 'i') : "") << row.iconLength;
  }
  char name[10] = "x", icon[10] = "y";
  EXPECT_FALSE(player->GetAssociatedRendererNameAndIcon(name, sizeof name, icon, sizeof icon));  // always false
  EXPECT_STREQ(name, "");
  EXPECT_STREQ(icon, "");
  // What the player received since the last reply change, the NUL as "\0".
  EXPECT_EQ(get(base + "lab/messages"),
            "AssociatedRendererName\\0\nAssociatedRendererIcon\\0\nAssociatedRendererNameAndIcon\\0\n");

  // A real renderer of the lab is not an associated player and is not asked.
  const std::string real = cp_lab::env("LAB_RENDERER1_UDN");
  ASSERT_TRUE(test_support::wait_until([&] { return listed(real) != nullptr; }, 30000)) << real;
  std::shared_ptr<ZelMediaRenderer2> renderer = listed(real);
  EXPECT_FALSE(renderer->IsAssociatedPlayer());
  char out[400] = "x";
  EXPECT_FALSE(renderer->GetAssociatedRendererName(out, sizeof out));
}

}  // namespace
