// The private messages of associated players against a crafted renderer on
// 127.0.0.1 (controller up without network): the message as sent, replies
// read when they fit and refused by size when they do not.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <mutex>
#include <string>
#include <vector>

#include "cp/upnp_cp.h"
#include "media/zel_control_point.h"
#include "nmc/lm_nmc.h"
#include "nmc/lm_nmc_internal.h"
#include "nmc/lm_nmc_notify.h"
#include "media_test_util.h"
#include "nmc_dmr_crafted.h"
#include "support_files.h"
#include "support_wait.h"

namespace {

::testing::Environment *const g_env = ::testing::AddGlobalTestEnvironment(new media_test::ControllerUp("media_associated"));

std::shared_ptr<ZelMediaRenderer2> listed(const std::string &udn) {
  for (const auto &renderer : ZelControlPoint2::GetInstance()->GetRendererList()->Snapshot())
    if (std::string(renderer->GetBookmark()).compare(0, udn.size(), udn) == 0) return renderer;
  return nullptr;
}

struct Player {
  std::unique_ptr<nmc_test::CraftedRenderer> renderer;
  std::mutex lock;
  std::vector<std::string> bodies;
  std::string name_reply, icon_reply;
};

std::unique_ptr<Player> start_player(const std::string &udn, const std::string &name) {
  auto player = std::make_unique<Player>();
  nmc_test::CraftedRendererSetup setup;
  setup.udn = udn;
  setup.name = name;
  setup.device_extra = "<baseURL>@BASE@</baseURL>";
  player->renderer = std::make_unique<nmc_test::CraftedRenderer>(setup);
  Player *raw = player.get();
  player->renderer->on_post([raw](const std::string &path, const std::string &body) -> std::string {
    if (path != "/lmmcp") return "";
    std::lock_guard<std::mutex> hold(raw->lock);
    raw->bodies.push_back(body);
    std::string reply = body.compare(0, 22, "AssociatedRendererName") == 0 ? raw->name_reply : raw->icon_reply;
    return "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: " + std::to_string(reply.size()) +
           "\r\nConnection: close\r\n\r\n" + reply;
  });
  upnp_control_add_device(player->renderer->location().c_str(), udn.c_str(), "127.0.0.1:9000", 1800, 2);
  EXPECT_TRUE(test_support::wait_until([&] { return listed(udn) != nullptr; }, 5000)) << udn;
  return player;
}

TEST(MediaAssociatedPlayer, RepliesReadOrRefusedBySize) {
  std::unique_ptr<Player> player = start_player("uuid:media-assoc-000001", "LMM Player Den");
  std::shared_ptr<ZelMediaRenderer2> r = listed("uuid:media-assoc-000001");
  ASSERT_NE(r, nullptr);
  EXPECT_TRUE(r->IsAssociatedPlayer());
  struct Row {
    size_t nameLength, iconLength, callerSize;
    bool nameRead, iconRead;
  } rows[] = {
      {12, 8, 400, true, true},
      {299, 99, 400, true, true},    // the longest the reply buffers hold
      {300, 100, 400, false, false},  // one more: refused, not cut
      {60, 60, 50, false, false},     // fits our buffers, not the caller's
      {5000, 5000, 8000, false, false},
  };
  for (const Row &row : rows) {
    {
      std::lock_guard<std::mutex> hold(player->lock);
      player->name_reply = std::string(row.nameLength, 'n');
      player->icon_reply = std::string(row.iconLength, 'i');
    }
    std::vector<char> out(row.callerSize, 'x');
    EXPECT_EQ(r->GetAssociatedRendererName(out.data(), out.size()), row.nameRead) << row.nameLength;
    EXPECT_EQ(std::string(out.data()), row.nameRead ? std::string(row.nameLength, 'n') : "") << row.nameLength;
    EXPECT_EQ(r->GetAssociatedRendererIcon(out.data(), out.size()), row.iconRead) << row.iconLength;
    EXPECT_EQ(std::string(out.data()), row.iconRead ? std::string(row.iconLength, 'i') : "") << row.iconLength;
  }
  char name[10] = "x", icon[10] = "y";
  EXPECT_FALSE(r->GetAssociatedRendererNameAndIcon(name, sizeof name, icon, sizeof icon));  // always false
  EXPECT_STREQ(name, "");
  EXPECT_STREQ(icon, "");
  std::lock_guard<std::mutex> hold(player->lock);
  ASSERT_FALSE(player->bodies.empty());
  // The message and its terminating NUL, counted in the length.
  EXPECT_EQ(player->bodies.front(), std::string("AssociatedRendererName") + '\0');
  EXPECT_EQ(player->bodies.back(), std::string("AssociatedRendererNameAndIcon") + '\0');
}

TEST(MediaAssociatedPlayer, OtherRenderersAreNotAsked) {
  std::unique_ptr<Player> plain = start_player("uuid:media-assoc-000002", "Plain Renderer");
  std::shared_ptr<ZelMediaRenderer2> r = listed("uuid:media-assoc-000002");
  ASSERT_NE(r, nullptr);
  EXPECT_FALSE(r->IsAssociatedPlayer());
  char out[100] = "x";
  EXPECT_FALSE(r->GetAssociatedRendererName(out, sizeof out));
  EXPECT_STREQ(out, "");
  std::lock_guard<std::mutex> hold(plain->lock);
  EXPECT_TRUE(plain->bodies.empty());
}

// A renderer that leaves and returns while this thread uses it through the
// lists, answering odd volumes and states: every use ends, a held renderer
// stays valid after it left, and the odd answers read as nothing.
TEST(MediaAssociatedPlayer, FlappingRendererWithOddAnswers) {
  const std::string udn = "uuid:media-assoc-000003";
  std::unique_ptr<Player> flap = start_player(udn, "Flapper");
  flap->renderer->answer("GetVolume", "<CurrentVolume>loud</CurrentVolume>");
  flap->renderer->answer("GetMute", "<CurrentMute>maybe</CurrentMute>");
  flap->renderer->answer("GetTransportInfo",
                         "<CurrentTransportState>DANCING</CurrentTransportState>"
                         "<CurrentTransportStatus>OK</CurrentTransportStatus><CurrentSpeed>1</CurrentSpeed>");
  std::atomic<bool> done{false};
  std::thread flapper([&] {
    for (int round = 0; round < 4; ++round) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1100));
      upnp_control_delete_device(udn.c_str(), 2);
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      upnp_control_add_device(flap->renderer->location().c_str(), udn.c_str(), "127.0.0.1:9000", 1800, 2);
    }
    done = true;
  });
  int uses = 0;
  bool returned = false;
  std::shared_ptr<ZelMediaRenderer2> kept;
  while (!done) {
    std::shared_ptr<ZelMediaRenderer2> r = listed(udn);
    if (r == nullptr) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      continue;
    }
    ++uses;
    if (kept == nullptr) kept = r;
    if (r != kept) returned = true;  // a new object after it came back
    EXPECT_EQ(r->GetVolume(), 0u);  // "loud" is no volume
    EXPECT_FALSE(r->IsMuted());     // nor "maybe" a mute
    (void)r->IsPlaying();
    r->SetVolume(40);
    EXPECT_STREQ(r->GetDisplayName(), "Flapper");
    // The crafted renderer keeps a thread per connection until it ends.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  flapper.join();
  EXPECT_GT(uses, 0);
  EXPECT_TRUE(returned);
  ASSERT_NE(kept, nullptr);
  EXPECT_STREQ(kept->GetDeviceName(), "Flapper");  // held across its leaving
  EXPECT_TRUE(test_support::wait_until([&] { return listed(udn) != nullptr; }, 5000));  // back at the end
  upnp_control_delete_device(udn.c_str(), 2);
}

}  // namespace
