// The component's device, playback, queue and volume slots over the control
// point, with the controller up and no network: devices come and go through
// the controller's callbacks, called from threads of the test as the
// notifier threads would, and events reach observers on the main thread.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "media/zel_control_point.h"
#include "media_test_util.h"
#include "xpcom/ZelControlPoint2XPCom.h"
#include "xpcom_main_thread.h"
#include "xpcom_memory.h"

namespace {

// Records texts; optionally calls back into the component from OnEvent.
class Observer final : public iZelControlPoint2XPComObserver {
 public:
  explicit Observer(iZelControlPoint2XPCom *reenter = nullptr) : reenter_(reenter) {}
  NS_IMETHOD QueryInterface(const nsIID &iid, void **out) override {
    *out = nullptr;
    if (iid != NS_GET_IID(iZelControlPoint2XPComObserver) && iid != NS_GET_IID(nsISupports)) return NS_NOINTERFACE;
    AddRef();
    *out = this;
    return NS_OK;
  }
  NS_IMETHOD_(nsrefcnt) AddRef() override { return ++refs; }
  NS_IMETHOD_(nsrefcnt) Release() override { return --refs; }
  NS_IMETHOD OnEvent(const char *text) override {
    if (reenter_ != nullptr) {
      PRInt32 n = -1;
      char *info = nullptr;
      reenter_->GetNumRenderers(&n);
      if (reenter_->GetRendererInfo(0, &info) == NS_OK) NS_Free(info);
      reentered += n >= 0 ? 1 : 0;
    }
    std::lock_guard<std::mutex> guard(lock_);
    texts_.push_back(text);
    return NS_OK;
  }
  std::vector<std::string> received() {
    std::lock_guard<std::mutex> guard(lock_);
    return texts_;
  }
  std::atomic<nsrefcnt> refs{1};
  std::atomic<int> reentered{0};

 private:
  iZelControlPoint2XPCom *reenter_;
  std::mutex lock_;
  std::vector<std::string> texts_;
};

class CpSlots : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(NS_InitXPCOM(), NS_OK);
    void *out = nullptr;
    ASSERT_EQ(ZelControlPoint2XPComConstructor(nullptr, NS_GET_IID(iZelControlPoint2XPCom), &out), NS_OK);
    c_ = static_cast<iZelControlPoint2XPCom *>(out);
  }
  void TearDown() override {
    c_->Release();
    NS_ShutdownXPCOM();
  }
  // Runs fn on a thread of its own while this (main) thread serves the
  // proxied deliveries, and waits for it.
  static void from_notifier(const std::function<void()> &fn) {
    std::atomic<bool> done{false};
    std::thread t([&] {
      fn();
      done = true;
    });
    while (!done) NS_ProcessMainThreadEvents(10);
    t.join();
  }
  static std::string take(char *text) {
    std::string out = text ? text : "(null)";
    NS_Free(text);
    return out;
  }
  media_test::AppData app_;  // the user settings in a folder of the test's own
  iZelControlPoint2XPCom *c_ = nullptr;
};

TEST_F(CpSlots, RenderersComeGoAndAnswerTheirSlots) {
  Observer cp, renderer, renderer2;
  c_->AddControlPointObserver(&cp);
  c_->AddRendererObserver(&renderer);
  c_->AddRendererObserver(&renderer2);
  from_notifier([] { ZelControlPoint2::RendererCallback(0x10000, 0x4002, "uuid:slots-r1"); });
  EXPECT_EQ(cp.received(), (std::vector<std::string>{"RendererAdded:uuid:slots-r1"}));
  PRInt32 n = -1;
  EXPECT_EQ(c_->GetNumRenderers(&n), NS_OK);
  EXPECT_EQ(n, 1);
  char *info = nullptr;
  ASSERT_EQ(c_->GetRendererInfo(0, &info), NS_OK);
  // No names from a device that is not there, no device-file entry: icon 2.
  EXPECT_EQ(take(info), "^uuid:slots-r1^^2");
  ASSERT_EQ(c_->SetRendererInfo("uuid:slots-r1", "Kitchen", 5), NS_OK);
  ASSERT_EQ(c_->GetRendererInfoFromBookmark("uuid:slots-r1", &info), NS_OK);
  EXPECT_EQ(take(info), "^uuid:slots-r1^Kitchen^5");  // the user's name and icon win

  struct Bad {
    PRInt32 index;
    const char *bookmark;
  } bad[] = {{-1, nullptr}, {1, "uuid:nobody"}};
  for (const Bad &b : bad) {
    info = reinterpret_cast<char *>(1);
    EXPECT_EQ(c_->GetRendererInfo(b.index, &info), NS_ERROR_INVALID_ARG);
    EXPECT_EQ(info, nullptr);
    EXPECT_EQ(c_->GetRendererInfoFromBookmark(b.bookmark, &info), NS_ERROR_INVALID_ARG);
    EXPECT_EQ(c_->Pause(b.bookmark), NS_ERROR_INVALID_ARG);
    PRInt32 v = 7;
    EXPECT_EQ(c_->GetVolume(b.bookmark, &v), NS_ERROR_INVALID_ARG);
    EXPECT_EQ(v, 0);
    PRInt32 ok = 7;
    EXPECT_EQ(c_->PlayItem(b.bookmark, 0, "n", "http://h/a.mp3", &ok), NS_OK);  // no renderer: NS_OK, 0
    EXPECT_EQ(ok, 0);
  }

  // State reports reach both renderer observers, never the control point's.
  ZelMediaRenderer2 *r = ZelControlPoint2::GetInstance()->GetRendererList()->GetRendererFromBookmark("uuid:slots-r1");
  ASSERT_NE(r, nullptr);
  uint32_t context = r->GetContext();
  from_notifier([context] { ZelMediaRenderer2::StaticRendererCallback(context, 3, ""); });
  EXPECT_EQ(renderer.received(), (std::vector<std::string>{"PAUSED:uuid:slots-r1"}));
  EXPECT_EQ(renderer2.received(), renderer.received());
  PRInt32 can = 7;
  EXPECT_EQ(c_->CanRendererPlayItem("uuid:slots-r1", nullptr, &can), NS_ERROR_INVALID_ARG);  // no URL to ask about
  EXPECT_EQ(can, 0);
  EXPECT_EQ(c_->CanRendererPlayItem("uuid:slots-r1", "http://h/clip.xyz", &can), NS_OK);
  EXPECT_EQ(can, 1);  // no MIME type known: no question, playable
  ASSERT_EQ(c_->GetRendererPlayState("uuid:slots-r1", &info), NS_OK);
  EXPECT_EQ(take(info), "PAUSED");
  from_notifier([context] {
    ZelMediaRenderer2::StaticQueueCallback(context, 1, 0, 2);
    ZelMediaRenderer2::StaticRendererCallback(context, 42, "");  // other states: "STOPPED" is not said
  });
  EXPECT_EQ(renderer.received().back(), "QUEUE_PLAYING:uuid:slots-r1");
  EXPECT_EQ(cp.received().size(), 1u);

  // Queue arguments: null arrays, a count of 0 and null entries.
  const char *names[] = {"a", nullptr, "c"};
  const char *urls[] = {"http://h/a.mp3", "http://h/b.mp3", nullptr};
  EXPECT_EQ(c_->AddToQueue("uuid:slots-r1", 0, 0, names, urls), NS_ERROR_INVALID_ARG);
  EXPECT_EQ(c_->AddToQueue("uuid:slots-r1", 0, 3, nullptr, urls), NS_ERROR_INVALID_ARG);
  EXPECT_EQ(c_->SetQueue("uuid:slots-r1", 0, 0, names, urls), NS_ERROR_INVALID_ARG);
  EXPECT_EQ(c_->AddToQueue(nullptr, 0, 3, names, urls), NS_ERROR_INVALID_ARG);
  EXPECT_EQ(c_->AddToQueue("uuid:slots-r1", 0, 3, names, urls), NS_OK);
  EXPECT_TRUE(r->HasQueue());
  EXPECT_EQ(c_->StopRenderer("uuid:slots-r1"), NS_OK);
  EXPECT_FALSE(r->HasQueue());
  PRInt32 index = 7;
  EXPECT_EQ(c_->GetCurrentQueueIndex("uuid:slots-r1", &index), NS_OK);
  EXPECT_EQ(index, -1);

  from_notifier([] { ZelControlPoint2::RendererCallback(0x10000, 0x4001, "uuid:slots-r1"); });
  EXPECT_EQ(cp.received().back(), "RendererRemoved:uuid:slots-r1");
  EXPECT_EQ(c_->GetRendererInfoFromBookmark("uuid:slots-r1", &info), NS_ERROR_INVALID_ARG);
  c_->RemoveControlPointObserver(&cp);
  c_->RemoveRendererObserver(&renderer);
  c_->RemoveRendererObserver(&renderer2);
}

TEST_F(CpSlots, ServersMusicAndVersions) {
  from_notifier([] { ZelControlPoint2::ServerCallback(0, 4, "uuid:slots-s1"); });
  PRInt32 n = -1;
  EXPECT_EQ(c_->GetNumServers(&n), NS_OK);
  EXPECT_EQ(n, 1);
  char *info = nullptr;
  ASSERT_EQ(c_->GetServerInfo(0, &info), NS_OK);
  EXPECT_EQ(take(info), "^uuid:slots-s1^^0");  // no device-file entry: 0
  EXPECT_EQ(c_->GetServerInfo(1, &info), NS_ERROR_INVALID_ARG);
  EXPECT_EQ(c_->GetServerInfo(-1, &info), NS_ERROR_INVALID_ARG);
  EXPECT_EQ(c_->GetServerInfoFromBookmark(nullptr, &info), NS_ERROR_INVALID_ARG);
  n = 7;
  EXPECT_EQ(c_->GetNumMusicItems("uuid:nobody", &n), NS_OK);
  EXPECT_EQ(n, 0);
  EXPECT_EQ(c_->GetNumMusicItems("uuid:slots-s1", &n), NS_OK);
  EXPECT_EQ(n, 0);  // nothing to browse
  EXPECT_EQ(c_->GetMusicItem("uuid:slots-s1", 0, &info), NS_ERROR_INVALID_ARG);
  EXPECT_EQ(c_->GetMusicItem(nullptr, 0, &info), NS_ERROR_INVALID_ARG);
  ASSERT_EQ(c_->GetLocalServerVersion(&info), NS_OK);
  EXPECT_EQ(take(info), "Unknown");
  ASSERT_EQ(c_->GetLocalServerFullVersionString(&info), NS_OK);
  EXPECT_EQ(take(info), "Unknown");
  from_notifier([] { ZelControlPoint2::ServerCallback(0, 2, "uuid:slots-s1"); });
  EXPECT_EQ(c_->GetNumServers(&n), NS_OK);
  EXPECT_EQ(n, 0);
}

// An observer that calls into the component from OnEvent while renderers
// come and go from two threads, and the main thread reads and drives them.
TEST_F(CpSlots, ReentrantObserverDuringAStorm) {
  Observer cp(c_), renderer(c_);
  c_->AddControlPointObserver(&cp);
  c_->AddRendererObserver(&renderer);
  std::atomic<int> running{2};
  std::vector<std::thread> storm;
  for (int t = 0; t < 2; ++t) {
    storm.emplace_back([t, &running] {
      for (int round = 0; round < 60; ++round) {
        std::string bookmark = "uuid:storm-" + std::to_string(t) + "-" + std::to_string(round % 3);
        ZelControlPoint2::RendererCallback(0x10000, 0x4002, bookmark.c_str());
        ZelMediaRenderer2 *r = ZelControlPoint2::GetInstance()->GetRendererList()->GetRendererFromBookmark(bookmark.c_str());
        if (r != nullptr) ZelMediaRenderer2::StaticRendererCallback(r->GetContext(), 1, "");
        ZelControlPoint2::RendererCallback(0x10000, 0x4001, bookmark.c_str());
      }
      --running;
    });
  }
  while (running > 0) {
    NS_ProcessMainThreadEvents(1);
    const char *names[] = {"x"};
    const char *urls[] = {"http://h/x.mp3"};
    for (int i = 0; i < 3; ++i) {
      std::string bookmark = "uuid:storm-0-" + std::to_string(i);
      char *state = nullptr;
      if (c_->GetRendererPlayState(bookmark.c_str(), &state) == NS_OK) NS_Free(state);
      c_->AddToQueue(bookmark.c_str(), 0, 1, names, urls);
      c_->SetVolume(bookmark.c_str(), 30);
    }
  }
  for (std::thread &t : storm) t.join();
  NS_ProcessMainThreadEvents(0);
  EXPECT_EQ(cp.received().size(), 240u);  // 2 threads x 60 rounds x added and removed
  EXPECT_EQ(cp.reentered.load(), 240);
  EXPECT_EQ(renderer.received().size(), 120u);
  PRInt32 n = -1;
  c_->GetNumRenderers(&n);
  EXPECT_EQ(n, 0);
  c_->RemoveControlPointObserver(&cp);
  c_->RemoveRendererObserver(&renderer);
  EXPECT_EQ(cp.refs.load(), 1u);
}

// Last in this program (Cleanup is for good): a delivery waits for the main
// thread when Cleanup starts; Cleanup runs the main thread's work while it
// waits for the controller, so both end, and nothing is delivered after.
TEST_F(CpSlots, ZzCleanupWithAnEventInFlight) {
  Observer cp;
  c_->AddControlPointObserver(&cp);
  std::atomic<bool> fired{false};
  std::thread notifier([&] {
    ZelControlPoint2::RendererCallback(0x10000, 0x4002, "uuid:in-flight");  // waits for the main thread
    fired = true;
  });
  // Give the delivery time to be queued for the main thread, unserved.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_FALSE(fired.load());
  auto start = std::chrono::steady_clock::now();
  ZelControlPoint2::Cleanup([] { NS_ProcessMainThreadEvents(0); });
  auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
  notifier.join();
  EXPECT_TRUE(fired.load());
  EXPECT_LT(took.count(), static_cast<long long>(ZEL_CP_STOP_DEADLINE_MS));
  EXPECT_EQ(cp.received(), (std::vector<std::string>{"RendererAdded:uuid:in-flight"}));
  EXPECT_EQ(ZelControlPoint2::GetInstance(), nullptr);
  PRInt32 n = 7;
  EXPECT_EQ(c_->GetNumRenderers(&n), NS_ERROR_NOT_AVAILABLE);
  EXPECT_EQ(n, 0);
  ZelControlPoint2::RendererCallback(0x10000, 0x4002, "uuid:after");  // ignored once terminating
  EXPECT_EQ(cp.received().size(), 1u);
  c_->RemoveControlPointObserver(&cp);
}

}  // namespace
