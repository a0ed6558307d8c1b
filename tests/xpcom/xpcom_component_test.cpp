// The component's frame: the module description and entry point, the
// constructor's rules, reference counting, the observer slots with their
// references, delivery to each observer through main-thread proxies, and
// the slots that are not built yet.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "xpcom/ZelControlPoint2XPCom.h"
#include "xpcom_main_thread.h"
#include "xpcom_memory.h"
#include "xpcom_module.h"

extern "C" const xpcom::Module *const NSModule;
extern "C" nsresult NSGetModule(nsIComponentManager *manager, nsIFile *location, nsIModule **result);

namespace {

// Records what it hears; with remove_from set it takes itself off that
// component's control point list from OnEvent, on the main thread, while a
// notifier thread is delivering to the list.
class Observer final : public iZelControlPoint2XPComObserver {
 public:
  explicit Observer(nsresult result = NS_OK, iZelControlPoint2XPCom *remove_from = nullptr)
      : result_(result), remove_from_(remove_from) {}
  NS_IMETHOD QueryInterface(const nsIID &iid, void **out) override {
    *out = nullptr;
    if (iid != NS_GET_IID(iZelControlPoint2XPComObserver) && iid != NS_GET_IID(nsISupports)) return NS_NOINTERFACE;
    AddRef();
    *out = this;
    return NS_OK;
  }
  NS_IMETHOD_(nsrefcnt) AddRef() override { return ++refs; }
  NS_IMETHOD_(nsrefcnt) Release() override { return --refs; }  // lives on the test's stack
  NS_IMETHOD OnEvent(const char *text) override {
    if (NS_IsMainThread() != PR_TRUE) off_main = true;
    std::lock_guard<std::mutex> guard(lock);
    texts.push_back(text);
    return remove_from_ != nullptr ? remove_from_->RemoveControlPointObserver(this) : result_;
  }
  std::vector<std::string> received() {
    std::lock_guard<std::mutex> guard(lock);
    return texts;
  }

  std::atomic<nsrefcnt> refs{1};
  std::atomic<bool> off_main{false};

 private:
  nsresult result_;
  iZelControlPoint2XPCom *remove_from_;
  std::mutex lock;
  std::vector<std::string> texts;
};

class Component : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(NS_InitXPCOM(), NS_OK);
    blocks_ = NS_LiveBlocks();
  }
  void TearDown() override {
    NS_ShutdownXPCOM();
    EXPECT_EQ(NS_LiveBlocks(), blocks_);
  }
  static iZelControlPoint2XPCom *create() {
    void *out = nullptr;
    EXPECT_EQ(ZelControlPoint2XPComConstructor(nullptr, NS_GET_IID(iZelControlPoint2XPCom), &out), NS_OK);
    return static_cast<iZelControlPoint2XPCom *>(out);
  }
  // Delivers text to the list on a thread of its own while the main thread
  // runs its queue; answers how many observers got it.
  static size_t deliver_from_thread(ZelXPComObserverList &list, const char *text) {
    std::atomic<bool> done{false};
    size_t delivered = 0;
    std::thread t([&] {
      delivered = list.Deliver(text);
      done = true;
    });
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!done && std::chrono::steady_clock::now() < end) NS_ProcessMainThreadEvents(20);
    t.join();
    return delivered;
  }
  int64_t blocks_ = 0;
};

TEST_F(Component, ModuleDescription) {
  const xpcom::Module *m = NSModule;
  ASSERT_NE(m, nullptr);
  // One class and one contract, each list ended by its null entry (the
  // generic module walks them to the end).
  EXPECT_EQ(m->mVersion, 8u);
  const nsCID kClass = KCONTROLPOINT2_CID;
  ASSERT_NE(m->mCIDs[0].cid, nullptr);
  EXPECT_EQ(*m->mCIDs[0].cid, kClass);
  EXPECT_EQ(m->mCIDs[0].constructorProc, &ZelControlPoint2XPComConstructor);
  EXPECT_EQ(m->mCIDs[1].cid, nullptr);
  EXPECT_EQ(*m->mContractIDs[0].cid, kClass);
  EXPECT_EQ(m->mContractIDs[1].contractid, nullptr);
}

TEST_F(Component, NSGetModuleRegistersTheClassUnderItsContract) {
  nsIComponentManager *manager = nullptr;
  ASSERT_EQ(NS_GetComponentManager(&manager), NS_OK);
  nsIModule *module = nullptr;
  ASSERT_EQ(NSGetModule(manager, nullptr, &module), NS_OK);
  ASSERT_EQ(module->RegisterSelf(manager, nullptr, "test", "native"), NS_OK);
  module->Release();
  void *out = nullptr;
  ASSERT_EQ(manager->CreateInstanceByContractID(ZEL_CONTROLPOINT2_CONTRACTID, nullptr,
                                                NS_GET_IID(iZelControlPoint2XPCom), &out),
            NS_OK);
  EXPECT_EQ(static_cast<iZelControlPoint2XPCom *>(out)->Release(), 0u);
}

TEST_F(Component, ConstructorAndReferenceCounting) {
  void *out = reinterpret_cast<void *>(1);
  Observer outer;
  EXPECT_EQ(ZelControlPoint2XPComConstructor(&outer, NS_GET_IID(nsISupports), &out), NS_ERROR_NO_AGGREGATION);
  EXPECT_EQ(out, nullptr);
  out = reinterpret_cast<void *>(1);
  EXPECT_EQ(ZelControlPoint2XPComConstructor(nullptr, NS_GET_IID(nsIFactory), &out), NS_NOINTERFACE);
  EXPECT_EQ(out, nullptr);  // and the object it made is gone again
  EXPECT_EQ(ZelControlPoint2XPComConstructor(nullptr, NS_GET_IID(nsISupports), nullptr), NS_ERROR_NULL_POINTER);

  iZelControlPoint2XPCom *c = create();
  ASSERT_NE(c, nullptr);
  void *same = nullptr;
  EXPECT_EQ(c->QueryInterface(NS_GET_IID(nsISupports), &same), NS_OK);
  EXPECT_EQ(same, c);
  EXPECT_EQ(c->AddRef(), 3u);
  EXPECT_EQ(c->Release(), 2u);
  EXPECT_EQ(c->Release(), 1u);
  EXPECT_EQ(c->QueryInterface(NS_GET_IID(iZelControlPoint2XPComObserver), &same), NS_NOINTERFACE);
  EXPECT_EQ(same, nullptr);
  EXPECT_EQ(c->Release(), 0u);
}

TEST_F(Component, ObserverSlotsHoldReferences) {
  iZelControlPoint2XPCom *c = create();
  Observer a, b;
  EXPECT_EQ(c->AddControlPointObserver(nullptr), NS_ERROR_INVALID_ARG);
  EXPECT_EQ(c->AddRendererObserver(nullptr), NS_ERROR_INVALID_ARG);
  EXPECT_EQ(c->RemoveControlPointObserver(nullptr), NS_ERROR_INVALID_ARG);
  EXPECT_EQ(c->RemoveRendererObserver(nullptr), NS_ERROR_INVALID_ARG);
  EXPECT_EQ(c->AddControlPointObserver(&a), NS_OK);
  EXPECT_EQ(c->AddControlPointObserver(&a), NS_OK);  // twice: two entries
  EXPECT_EQ(c->AddRendererObserver(&b), NS_OK);
  EXPECT_EQ(a.refs.load(), 3u);
  EXPECT_EQ(b.refs.load(), 2u);
  EXPECT_EQ(c->RemoveRendererObserver(&a), NS_OK);  // not in that list: nothing
  EXPECT_EQ(a.refs.load(), 3u);
  EXPECT_EQ(c->RemoveControlPointObserver(&a), NS_OK);  // one removal, one entry
  EXPECT_EQ(a.refs.load(), 2u);
  EXPECT_EQ(ZelControlPoint2XPCom::s_ControlPointEventObserverArray.Count(), 1u);
  // A second instance shares the lists; destroying either releases them all.
  iZelControlPoint2XPCom *d = create();
  EXPECT_EQ(d->RemoveControlPointObserver(&b), NS_OK);
  EXPECT_EQ(d->Release(), 0u);
  EXPECT_EQ(a.refs.load(), 1u);
  EXPECT_EQ(b.refs.load(), 1u);
  EXPECT_EQ(ZelControlPoint2XPCom::s_RendererEventObserverArray.Count(), 0u);
  c->Release();
}

TEST_F(Component, DeliveryReachesEveryObserverOnTheMainThread) {
  iZelControlPoint2XPCom *c = create();
  Observer first(NS_ERROR_FAILURE), second, renderer;
  c->AddControlPointObserver(&first);
  c->AddControlPointObserver(&second);
  c->AddControlPointObserver(&first);
  c->AddRendererObserver(&renderer);
  auto &list = ZelControlPoint2XPCom::s_ControlPointEventObserverArray;
  EXPECT_EQ(deliver_from_thread(list, "RendererAdded:uuid:1"), 3u);
  // A failing observer does not stop the next; a twice-added one hears twice.
  EXPECT_EQ(first.received(), (std::vector<std::string>{"RendererAdded:uuid:1", "RendererAdded:uuid:1"}));
  EXPECT_EQ(second.received(), (std::vector<std::string>{"RendererAdded:uuid:1"}));
  EXPECT_TRUE(renderer.received().empty());  // control point texts only to control point observers
  EXPECT_FALSE(first.off_main || second.off_main);
  EXPECT_EQ(deliver_from_thread(ZelControlPoint2XPCom::s_RendererEventObserverArray, "PLAYING:uuid:1"), 1u);
  EXPECT_EQ(renderer.received(), (std::vector<std::string>{"PLAYING:uuid:1"}));
  c->Release();
  EXPECT_EQ(first.refs.load(), 1u);
  EXPECT_EQ(second.refs.load(), 1u);
  EXPECT_EQ(renderer.refs.load(), 1u);
}

TEST_F(Component, ObserverMayRemoveItselfDuringDelivery) {
  iZelControlPoint2XPCom *c = create();
  Observer before, after;
  Observer remover(NS_OK, c);
  c->AddControlPointObserver(&before);
  c->AddControlPointObserver(&remover);
  c->AddControlPointObserver(&after);
  auto &list = ZelControlPoint2XPCom::s_ControlPointEventObserverArray;
  EXPECT_EQ(deliver_from_thread(list, "one"), 3u);
  EXPECT_EQ(deliver_from_thread(list, "two"), 2u);
  EXPECT_EQ(remover.received(), (std::vector<std::string>{"one"}));
  EXPECT_EQ(after.received(), (std::vector<std::string>{"one", "two"}));
  c->Release();
  EXPECT_EQ(remover.refs.load(), 1u);
}

TEST_F(Component, WithoutTheLayerObserversMissTheEvent) {
  iZelControlPoint2XPCom *c = create();
  Observer o;
  c->AddControlPointObserver(&o);
  NS_ShutdownXPCOM();  // no service manager any more
  EXPECT_EQ(ZelControlPoint2XPCom::s_ControlPointEventObserverArray.Deliver("lost"), 0u);
  EXPECT_TRUE(o.received().empty());
  c->Release();
  EXPECT_EQ(o.refs.load(), 1u);
  NS_InitXPCOM();
}

TEST_F(Component, SlotsNotBuiltYetClearTheirOutValues) {
  iZelControlPoint2XPCom *c = create();
  PRInt32 n = 7;
  char *s = reinterpret_cast<char *>(1);
  PRUint32 u = 7;
  char **list = reinterpret_cast<char **>(1);
  EXPECT_EQ(c->GetNumRenderers(&n), NS_OK);  // the controller is up, without network
  EXPECT_EQ(n, 0);
  EXPECT_EQ(c->GetServerInfo(0, &s), NS_ERROR_INVALID_ARG);
  EXPECT_EQ(s, nullptr);
  EXPECT_EQ(c->GetPlaylistList(&u, &list), NS_OK);  // an empty playlists folder: no playlists, no array
  EXPECT_EQ(u, 0u);
  EXPECT_EQ(list, nullptr);
  EXPECT_EQ(c->GetNumServers(nullptr), NS_ERROR_NULL_POINTER);  // a null out pointer is not written
  EXPECT_EQ(c->SetSlideshowInterval(4000000000u), NS_OK);
  EXPECT_EQ(ZelControlPoint2XPCom::s_slideshowInterval, 4000000000u);
  c->SetSlideshowInterval(5);
  c->Release();
}

}  // namespace
