// The XPCOM layer: identifiers, the counting allocator, the main-thread
// queue with its synchronous observer proxies (main thread, order, waiting,
// stalls, shutdown), and the managers with the generic module.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "iZelControlPoint2XPCom.h"
#include "xpcom_main_thread.h"
#include "xpcom_memory.h"
#include "xpcom_module.h"

namespace {

using Clock = std::chrono::steady_clock;

TEST(XpcomId, ParseAndCompare) {
  const nsIID kComponent = IZELCONTROLPOINT2XPCOM_IID;
  struct Case {
    const char *text;
    bool ok;
  } cases[] = {
      {IZELCONTROLPOINT2XPCOM_IID_STR, true},
      {"{9caa90f8-85f2-4dee-9453-03337bfa23a7}", true},
      {"9CAA90F8-85F2-4DEE-9453-03337BFA23A7", true},
      {"9caa90f8-85f2-4dee-9453-03337bfa23a", false},    // short
      {"9caa90f8-85f2-4dee-9453-03337bfa23a70", false},  // long
      {"9caa90f8_85f2-4dee-9453-03337bfa23a7", false},
      {"{9caa90f8-85f2-4dee-9453-03337bfa23a7", false},
      {"9caa90g8-85f2-4dee-9453-03337bfa23a7", false},
      {"", false},
  };
  for (const Case &c : cases) {
    nsID id{};
    EXPECT_EQ(id.Parse(c.text), c.ok) << c.text;
    if (c.ok) {
      EXPECT_TRUE(id.Equals(kComponent)) << c.text;
    }
  }
  nsID id{};
  EXPECT_FALSE(id.Parse(nullptr));
  char text[37];
  kComponent.ToProvidedString(text);
  EXPECT_STREQ(text, IZELCONTROLPOINT2XPCOM_IID_STR);
  const nsIID kObserver = IZELCONTROLPOINT2XPCOMOBSERVER_IID;
  EXPECT_NE(kComponent, kObserver);
  nsIID near = kComponent;
  near.m3[7] ^= 1;
  EXPECT_NE(kComponent, near);
}

TEST(XpcomMemory, LiveBlocksCounted) {
  int64_t before = NS_LiveBlocks();
  void *a = NS_Alloc(10);
  char *s = NS_StringClone("text");
  EXPECT_EQ(NS_LiveBlocks(), before + 2);
  EXPECT_STREQ(s, "text");
  a = NS_Realloc(a, 1000);  // a moved block is still one block
  EXPECT_EQ(NS_LiveBlocks(), before + 2);
  EXPECT_EQ(NS_Realloc(a, 0), nullptr);
  EXPECT_EQ(NS_StringClone(nullptr), nullptr);
  NS_Free(nullptr);
  EXPECT_EQ(NS_LiveBlocks(), before + 1);
  NS_Free(s);
  EXPECT_EQ(NS_LiveBlocks(), before);
}

// Records calls with their thread; can sleep in OnEvent.
class Recorder final : public iZelControlPoint2XPComObserver {
 public:
  NS_IMETHOD QueryInterface(const nsIID &iid, void **result) override {
    *result = nullptr;
    if (iid != NS_GET_IID(iZelControlPoint2XPComObserver) && iid != NS_GET_IID(nsISupports)) return NS_NOINTERFACE;
    AddRef();
    *result = this;
    return NS_OK;
  }
  NS_IMETHOD_(nsrefcnt) AddRef() override { return ++refs; }
  NS_IMETHOD_(nsrefcnt) Release() override { return --refs; }  // lives on the test's stack
  NS_IMETHOD OnEvent(const char *text) override {
    if (in_call.fetch_add(1) != 0) overlapped = true;
    if (NS_IsMainThread() != PR_TRUE) off_main = true;
    {
      std::lock_guard<std::mutex> guard(lock);
      texts.push_back(text);
    }
    if (sleep_ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(sleep_ms));
    in_call.fetch_sub(1);
    return result;
  }

  std::atomic<nsrefcnt> refs{1};
  std::atomic<int> in_call{0};
  std::atomic<bool> overlapped{false}, off_main{false};
  int sleep_ms = 0;
  nsresult result = NS_OK;
  std::mutex lock;
  std::vector<std::string> texts;
};

class XpcomProxy : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(NS_InitXPCOM(), NS_OK); }
  void TearDown() override { NS_ShutdownXPCOM(); }

  static iZelControlPoint2XPComObserver *proxy_for(iZelControlPoint2XPComObserver *real, PRInt32 type) {
    nsIServiceManager *services = nullptr;
    EXPECT_EQ(NS_GetServiceManager(&services), NS_OK);
    nsIProxyObjectManager *proxies = nullptr;
    EXPECT_EQ(services->GetServiceByContractID(NS_PROXYOBJECTMANAGER_CONTRACTID, NS_GET_IID(nsIProxyObjectManager),
                                               reinterpret_cast<void **>(&proxies)),
              NS_OK);
    iZelControlPoint2XPComObserver *proxy = nullptr;
    EXPECT_EQ(proxies->GetProxyForObject(NS_UI_THREAD_EVENTQ, NS_GET_IID(iZelControlPoint2XPComObserver), real, type,
                                         reinterpret_cast<void **>(&proxy)),
              NS_OK);
    proxies->Release();
    services->Release();
    return proxy;
  }

  // Calls OnEvent(text) through a proxy from a thread of its own after the
  // main thread was busy for busy_ms, runs the queue meanwhile; the call's
  // result and how long the firing thread waited in it.
  static nsresult fire(Recorder &r, const char *text, int busy_ms, Clock::duration *waited) {
    std::atomic<bool> returned{false};
    nsresult got = NS_OK;
    std::thread firing([&] {
      iZelControlPoint2XPComObserver *p = proxy_for(&r, PROXY_SYNC | PROXY_ALWAYS);
      const Clock::time_point called = Clock::now();
      got = p->OnEvent(text);
      *waited = Clock::now() - called;
      p->Release();
      returned = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(busy_ms));
    EXPECT_TRUE(pump_until([&] { return returned.load(); }, 5000));
    firing.join();
    return got;
  }

  // Runs the main thread's queue until done() holds or ms pass.
  static bool pump_until(const std::function<bool()> &done, int ms) {
    auto end = Clock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
      if (Clock::now() > end) return false;
      NS_ProcessMainThreadEvents(20);
    }
    return true;
  }
};

TEST_F(XpcomProxy, CallsRunOnMainThreadOneAtATimeInOrderPerThread) {
  Recorder r;
  const int kThreads = 4, kEvents = 500;
  std::atomic<int> finished{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      iZelControlPoint2XPComObserver *p = proxy_for(&r, PROXY_SYNC | PROXY_ALWAYS);
      for (int n = 0; n < kEvents; ++n) p->OnEvent((std::to_string(t) + ":" + std::to_string(n)).c_str());
      p->Release();
      finished.fetch_add(1);
    });
  EXPECT_TRUE(pump_until([&] { return finished.load() == kThreads; }, 30000));
  for (auto &t : threads) t.join();
  EXPECT_FALSE(r.off_main.load());
  EXPECT_FALSE(r.overlapped.load());
  std::vector<int> next(kThreads, 0);
  for (const std::string &text : r.texts) {
    int t = std::stoi(text.substr(0, text.find(':')));
    int n = std::stoi(text.substr(text.find(':') + 1));
    EXPECT_EQ(n, next[t]) << text;
    next[t] = n + 1;
  }
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(next[t], kEvents);
  EXPECT_EQ(r.refs.load(), 1u);  // every proxy gave its reference back
}

TEST_F(XpcomProxy, FiringThreadWaitsAndGetsTheResult) {
  Recorder r;
  r.sleep_ms = 150;
  r.result = NS_ERROR_FAILURE;
  Clock::duration waited{};
  EXPECT_EQ(fire(r, "x", 0, &waited), NS_ERROR_FAILURE);
  EXPECT_GE(waited, std::chrono::milliseconds(150));
}

TEST_F(XpcomProxy, OnTheMainThreadTheCallRunsAtOnce) {
  Recorder r;
  for (PRInt32 type : {PROXY_SYNC | PROXY_ALWAYS, PROXY_SYNC}) {
    iZelControlPoint2XPComObserver *p = proxy_for(&r, type);
    EXPECT_EQ(p->OnEvent("now"), NS_OK);
    p->Release();
  }
  EXPECT_EQ(r.texts.size(), 2u);
  EXPECT_EQ(r.refs.load(), 1u);
}

TEST_F(XpcomProxy, ShutdownReleasesWaitingCallersAndRefusesNewOnes) {
  Recorder r;
  const int kThreads = 3;
  std::atomic<int> failed{0}, done{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&] {
      iZelControlPoint2XPComObserver *p = proxy_for(&r, PROXY_SYNC | PROXY_ALWAYS);
      if (p->OnEvent("never run") == NS_ERROR_ILLEGAL_DURING_SHUTDOWN) failed.fetch_add(1);
      // After the shutdown began a call fails at once.
      if (p->OnEvent("late") == NS_ERROR_ILLEGAL_DURING_SHUTDOWN) failed.fetch_add(1);
      p->Release();
      done.fetch_add(1);
    });
  // The main thread does not run its queue: the calls wait until shutdown.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  auto start = Clock::now();
  NS_BeginShutdown();
  for (auto &t : threads) t.join();
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
  EXPECT_EQ(failed.load(), 2 * kThreads);
  EXPECT_TRUE(r.texts.empty());
  EXPECT_EQ(r.refs.load(), 1u);
  EXPECT_EQ(NS_DispatchToMainThread([](void *) {}, nullptr, nullptr), NS_ERROR_ILLEGAL_DURING_SHUTDOWN);
}

std::atomic<int> g_stalls{0};
std::atomic<unsigned> g_stall_ms{0};

TEST_F(XpcomProxy, LongWaitIsReportedOnceAsStall) {
  g_stalls = 0;
  NS_SetProxyStallHandler(50, [](PRUint32 waited, const char *what) {
    if (std::strcmp(what, "slow") == 0) g_stalls.fetch_add(1);
    g_stall_ms = waited;
  });
  Recorder r;
  Clock::duration waited{};
  fire(r, "slow", 200, &waited);  // the main thread is busy at first
  EXPECT_EQ(g_stalls.load(), 1);
  EXPECT_GE(g_stall_ms.load(), 50u);
  EXPECT_EQ(NS_ProxyStallCount(), 1u);
  EXPECT_EQ(r.texts.size(), 1u);  // it still ran
  NS_SetProxyStallHandler(5000, nullptr);
}

TEST_F(XpcomProxy, RefusesWhatItCannotProxy) {
  Recorder r;
  nsIServiceManager *services = nullptr;
  ASSERT_EQ(NS_GetServiceManager(&services), NS_OK);
  nsIProxyObjectManager *proxies = nullptr;
  ASSERT_EQ(services->GetServiceByContractID(NS_PROXYOBJECTMANAGER_CONTRACTID, NS_GET_IID(nsIProxyObjectManager),
                                             reinterpret_cast<void **>(&proxies)),
            NS_OK);
  void *out = &r;
  EXPECT_EQ(proxies->GetProxyForObject(NS_UI_THREAD_EVENTQ, NS_GET_IID(nsIFactory), &r, 5, &out), NS_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(proxies->GetProxyForObject(NS_UI_THREAD_EVENTQ, NS_GET_IID(iZelControlPoint2XPComObserver), &r,
                                       PROXY_ASYNC, &out),
            NS_ERROR_NOT_IMPLEMENTED);
  EXPECT_EQ(proxies->GetProxyForObject(NS_UI_THREAD_EVENTQ, NS_GET_IID(iZelControlPoint2XPComObserver), nullptr, 5,
                                       &out),
            NS_ERROR_NULL_POINTER);
  // The category manager holds no entries.
  nsICategoryManager *categories = nullptr;
  ASSERT_EQ(services->GetServiceByContractID(NS_CATEGORYMANAGER_CONTRACTID, NS_GET_IID(nsICategoryManager),
                                             reinterpret_cast<void **>(&categories)),
            NS_OK);
  char *value = reinterpret_cast<char *>(&r);
  EXPECT_EQ(categories->GetCategoryEntry("app-startup", "x", &value), NS_ERROR_NOT_AVAILABLE);
  EXPECT_EQ(value, nullptr);
  EXPECT_EQ(services->GetServiceByContractID("@nowhere/none;1", NS_GET_IID(nsISupports), &out),
            NS_ERROR_FACTORY_NOT_REGISTERED);
  categories->Release();
  proxies->Release();
  services->Release();
  EXPECT_EQ(r.refs.load(), 1u);
}

// A class for the managers: counts instances.
std::atomic<int> g_made{0};
nsresult make_recorder(nsISupports *outer, const nsIID &iid, void **result) {
  *result = nullptr;
  if (outer != nullptr) return NS_ERROR_NO_AGGREGATION;
  static Recorder shared;
  g_made.fetch_add(1);
  return shared.QueryInterface(iid, result);
}

TEST_F(XpcomProxy, GenericModuleRegistersAndCreatesByContractAndClass) {
  static const nsCID kClass = KCONTROLPOINT2_CID;
  static const xpcom::Module::CIDEntry kCIDs[] = {{&kClass, false, nullptr, make_recorder},
                                                  {nullptr, false, nullptr, nullptr}};
  static const xpcom::Module::ContractIDEntry kContracts[] = {{"@test/recorder;1", &kClass}, {nullptr, nullptr}};
  xpcom::Module description = {xpcom::Module::kVersion, kCIDs, kContracts, nullptr, nullptr, nullptr, nullptr};

  nsIModule *module = nullptr;
  description.mVersion = 7;
  EXPECT_EQ(NS_NewGenericModule(&description, &module), NS_ERROR_FAILURE);
  description.mVersion = xpcom::Module::kVersion;
  ASSERT_EQ(NS_NewGenericModule(&description, &module), NS_OK);
  nsIComponentManager *manager = nullptr;
  ASSERT_EQ(NS_GetComponentManager(&manager), NS_OK);
  ASSERT_EQ(module->RegisterSelf(manager, nullptr, "test", "native"), NS_OK);
  module->Release();

  nsIComponentRegistrar *registrar = nullptr;
  ASSERT_EQ(NS_GetComponentRegistrar(&registrar), NS_OK);
  PRBool known = PR_FALSE;
  EXPECT_EQ(registrar->IsContractIDRegistered("@test/recorder;1", &known), NS_OK);
  EXPECT_TRUE(known);
  nsCID *cid = nullptr;
  ASSERT_EQ(registrar->ContractIDToCID("@test/recorder;1", &cid), NS_OK);
  EXPECT_EQ(*cid, kClass);
  NS_Free(cid);

  g_made = 0;
  void *obj = nullptr;
  EXPECT_EQ(manager->CreateInstanceByContractID("@test/recorder;1", nullptr, NS_GET_IID(iZelControlPoint2XPComObserver),
                                                &obj),
            NS_OK);
  static_cast<nsISupports *>(obj)->Release();
  EXPECT_EQ(manager->CreateInstance(kClass, nullptr, NS_GET_IID(nsISupports), &obj), NS_OK);
  static_cast<nsISupports *>(obj)->Release();
  EXPECT_EQ(manager->CreateInstance(kClass, reinterpret_cast<nsISupports *>(&obj), NS_GET_IID(nsISupports), &obj),
            NS_ERROR_NO_AGGREGATION);
  EXPECT_EQ(manager->CreateInstanceByContractID("@test/other;1", nullptr, NS_GET_IID(nsISupports), &obj),
            NS_ERROR_FACTORY_NOT_REGISTERED);
  EXPECT_EQ(obj, nullptr);
  EXPECT_EQ(g_made.load(), 2);  // the refused aggregation made nothing
  registrar->Release();
  manager->Release();
}

TEST(XpcomLayer, ManagersOnlyWhileInitialised) {
  nsIServiceManager *services = reinterpret_cast<nsIServiceManager *>(1);
  EXPECT_EQ(NS_GetServiceManager(&services), NS_ERROR_NOT_INITIALIZED);
  EXPECT_EQ(services, nullptr);
  nsIComponentManager *manager = nullptr;
  EXPECT_EQ(NS_GetComponentManager(&manager), NS_ERROR_NOT_INITIALIZED);
  EXPECT_EQ(NS_IsMainThread(), PR_FALSE);
}

}  // namespace
