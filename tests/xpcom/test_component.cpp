// A stand-in component for the host's tests: implements
// iZelControlPoint2XPCom, records every call with its arguments to the file
// named by TEST_COMPONENT_LOG, answers fixed out values, and fires events at
// its control point observers from threads of its own.
//
// SetProgramOption("fire", "THREADS EVENTS") starts THREADS threads that each
// deliver "storm:T:N" for N = 0 .. EVENTS-1 and then "storm-done:T";
// SetProgramOption("fire-text", TEXT) delivers TEXT once from a new thread;
// SetProgramOption("exit", N) calls the host's exit function with status N
// (register_upnp_exit_function, as the library does on a critical error).
// TEST_COMPONENT_MODE: leak-block (keeps an allocator block), leak-observer
// (keeps a reference to every observer added), fail-create (the constructor
// fails), fail-observers (adding an observer fails), direct (events are
// delivered on the firing thread without a proxy).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "iZelControlPoint2XPCom.h"
#include "xpcom_memory.h"
#include "xpcom_module.h"

#ifndef TEST_COMPONENT_VERSION
#define TEST_COMPONENT_VERSION 8
#endif

namespace {

std::string mode() {
  const char *m = std::getenv("TEST_COMPONENT_MODE");
  return m != nullptr ? m : "";
}

// The call record: one line per call, "Method" then TAB-separated
// arguments: s:HEX (string bytes in hex), null, i:N, u:N, a:HEX,HEX,...
// (or a:null), o:null / o:set.
std::mutex g_log_lock;

std::string hex(const char *s) {
  if (s == nullptr) return "null";
  std::string out = "s:";
  char buf[3];
  for (const unsigned char *p = reinterpret_cast<const unsigned char *>(s); *p != 0; ++p) {
    std::snprintf(buf, sizeof buf, "%02x", *p);
    out += buf;
  }
  return out;
}

std::string arr(PRUint32 count, const char **a) {
  if (a == nullptr) return "a:null";
  std::string out = "a:";
  for (PRUint32 k = 0; k < count; ++k) out += (k ? "," : "") + hex(a[k]).substr(a[k] ? 2 : 0);
  return out;
}

std::string num(const char *tag, long long v) { return std::string(tag) + ":" + std::to_string(v); }

void record(const char *method, std::initializer_list<std::string> args) {
  const char *path = std::getenv("TEST_COMPONENT_LOG");
  if (path == nullptr) return;
  std::string line = method;
  for (const std::string &a : args) line += "\t" + a;
  line += "\n";
  std::lock_guard<std::mutex> guard(g_log_lock);
  FILE *f = std::fopen(path, "a");
  if (f == nullptr) return;
  std::fwrite(line.data(), 1, line.size(), f);
  std::fclose(f);
}

// Observers and firing threads, shared by all instances.
std::mutex g_lock;
std::vector<iZelControlPoint2XPComObserver *> g_observers;  // one reference each
std::vector<std::thread> g_threads;
int g_instances = 0;

void deliver(const std::string &text) {
  std::vector<iZelControlPoint2XPComObserver *> targets;
  {
    std::lock_guard<std::mutex> guard(g_lock);
    targets = g_observers;
    for (auto *o : targets) o->AddRef();
  }
  bool direct = mode() == "direct";
  nsIServiceManager *services = nullptr;
  nsIProxyObjectManager *proxies = nullptr;
  if (!direct && NS_SUCCEEDED(NS_GetServiceManager(&services))) {
    services->GetServiceByContractID(NS_PROXYOBJECTMANAGER_CONTRACTID, NS_GET_IID(nsIProxyObjectManager),
                                     reinterpret_cast<void **>(&proxies));
    services->Release();
  }
  for (auto *o : targets) {
    if (direct) {
      o->OnEvent(text.c_str());
    } else if (proxies != nullptr) {
      iZelControlPoint2XPComObserver *proxy = nullptr;
      if (NS_SUCCEEDED(proxies->GetProxyForObject(NS_UI_THREAD_EVENTQ, NS_GET_IID(iZelControlPoint2XPComObserver), o,
                                                  PROXY_SYNC | PROXY_ALWAYS, reinterpret_cast<void **>(&proxy)))) {
        proxy->OnEvent(text.c_str());
        proxy->Release();
      }
    }
    o->Release();
  }
  if (proxies != nullptr) proxies->Release();
}

void join_threads() {
  std::vector<std::thread> threads;
  {
    std::lock_guard<std::mutex> guard(g_lock);
    threads.swap(g_threads);
  }
  for (auto &t : threads) t.join();
}

void start_thread(std::thread t) {
  std::lock_guard<std::mutex> guard(g_lock);
  g_threads.push_back(std::move(t));
}

void *g_leaked_block = nullptr;
void (*g_exit_function)(int) = nullptr;

class TestComponent final : public iZelControlPoint2XPCom {
 public:
  TestComponent() {
    std::lock_guard<std::mutex> guard(g_lock);
    ++g_instances;
    if (mode() == "leak-block" && g_leaked_block == nullptr) g_leaked_block = NS_Alloc(16);
  }

  NS_IMETHOD QueryInterface(const nsIID &iid, void **result) override {
    if (result == nullptr) return NS_ERROR_NULL_POINTER;
    *result = nullptr;
    if (iid != NS_GET_IID(iZelControlPoint2XPCom) && iid != NS_GET_IID(nsISupports)) return NS_NOINTERFACE;
    AddRef();
    *result = static_cast<iZelControlPoint2XPCom *>(this);
    return NS_OK;
  }
  NS_IMETHOD_(nsrefcnt) AddRef() override { return ++count_; }
  NS_IMETHOD_(nsrefcnt) Release() override {
    if (--count_ != 0) return count_;
    delete this;
    return 0;
  }

  NS_IMETHOD GetNumRenderers(PRInt32 *count) override {
    record("GetNumRenderers", {});
    *count = 2;
    return NS_OK;
  }
  NS_IMETHOD GetRendererInfo(PRInt32 index, char **info) override {
    record("GetRendererInfo", {num("i", index)});
    *info = NS_StringClone(("Renderer " + std::to_string(index) + "^uuid:r" + std::to_string(index) + "^^2").c_str());
    return NS_OK;
  }
  NS_IMETHOD GetRendererInfoFromBookmark(const char *bookmark, char **info) override {
    record("GetRendererInfoFromBookmark", {hex(bookmark)});
    *info = NS_StringClone(bookmark != nullptr ? bookmark : "");
    return NS_OK;
  }
  NS_IMETHOD SetRendererInfo(const char *bookmark, const char *name, PRInt32 icon) override {
    record("SetRendererInfo", {hex(bookmark), hex(name), num("i", icon)});
    return NS_OK;
  }
  NS_IMETHOD GetRendererPlayState(const char *bookmark, char **state) override {
    record("GetRendererPlayState", {hex(bookmark)});
    *state = NS_StringClone("STOPPED");
    return NS_OK;
  }
  NS_IMETHOD CanRendererPlayItem(const char *bookmark, const char *url, PRInt32 *canPlay) override {
    record("CanRendererPlayItem", {hex(bookmark), hex(url)});
    *canPlay = 1;
    return NS_OK;
  }
  NS_IMETHOD GetNumServers(PRInt32 *count) override {
    record("GetNumServers", {});
    *count = 1;
    return NS_OK;
  }
  NS_IMETHOD GetServerInfo(PRInt32 index, char **info) override {
    record("GetServerInfo", {num("i", index)});
    *info = NS_StringClone("Server^uuid:s0^^0");
    return NS_OK;
  }
  NS_IMETHOD GetServerInfoFromBookmark(const char *bookmark, char **info) override {
    record("GetServerInfoFromBookmark", {hex(bookmark)});
    *info = NS_StringClone("Server^uuid:s0^^0");
    return NS_OK;
  }
  NS_IMETHOD GetNumMusicItems(const char *bookmark, PRInt32 *count) override {
    record("GetNumMusicItems", {hex(bookmark)});
    *count = -1;
    return NS_OK;
  }
  NS_IMETHOD GetMusicItem(const char *bookmark, PRInt32 index, char **info) override {
    record("GetMusicItem", {hex(bookmark), num("i", index)});
    *info = NS_StringClone("Song\xff\xfe^b^c^d^e");  // bytes that are not UTF-8
    return NS_OK;
  }
  NS_IMETHOD PlayItem(const char *bookmark, PRUint32 type, const char *name, const char *url, PRInt32 *ok) override {
    record("PlayItem", {hex(bookmark), num("u", type), hex(name), hex(url)});
    *ok = 1;
    return NS_OK;
  }
  NS_IMETHOD PlayIndex(const char *bookmark, PRUint32 index, PRInt32 *ok) override {
    record("PlayIndex", {hex(bookmark), num("u", index)});
    *ok = 1;
    return NS_OK;
  }
  NS_IMETHOD Pause(const char *bookmark) override {
    record("Pause", {hex(bookmark)});
    return NS_OK;
  }
  NS_IMETHOD Resume(const char *bookmark) override {
    record("Resume", {hex(bookmark)});
    return NS_OK;
  }
  NS_IMETHOD SetQueue(const char *bookmark, PRUint32 type, PRUint32 count, const char **names,
                      const char **urls) override {
    record("SetQueue", {hex(bookmark), num("u", type), num("u", count), arr(count, names), arr(count, urls)});
    return NS_OK;
  }
  NS_IMETHOD AddToQueue(const char *bookmark, PRUint32 type, PRUint32 count, const char **names,
                        const char **urls) override {
    record("AddToQueue", {hex(bookmark), num("u", type), num("u", count), arr(count, names), arr(count, urls)});
    return NS_OK;
  }
  NS_IMETHOD StopRenderer(const char *bookmark) override {
    record("StopRenderer", {hex(bookmark)});
    return NS_OK;
  }
  NS_IMETHOD SetSlideshowInterval(PRUint32 seconds) override {
    record("SetSlideshowInterval", {num("u", seconds)});
    return NS_OK;
  }
  NS_IMETHOD GetCurrentQueueIndex(const char *bookmark, PRInt32 *index) override {
    record("GetCurrentQueueIndex", {hex(bookmark)});
    *index = -1;
    return NS_OK;
  }
  NS_IMETHOD GetNumItemsInQueue(const char *bookmark, PRInt32 *count) override {
    record("GetNumItemsInQueue", {hex(bookmark)});
    *count = 3;
    return NS_OK;
  }
  NS_IMETHOD GetVolume(const char *bookmark, PRInt32 *volume) override {
    record("GetVolume", {hex(bookmark)});
    *volume = 42;
    return NS_OK;
  }
  NS_IMETHOD SetVolume(const char *bookmark, PRUint32 volume) override {
    record("SetVolume", {hex(bookmark), num("u", volume)});
    return NS_OK;
  }
  NS_IMETHOD GetMute(const char *bookmark, PRInt32 *mute) override {
    record("GetMute", {hex(bookmark)});
    *mute = 0;
    return NS_OK;
  }
  NS_IMETHOD SetMute(const char *bookmark, PRUint32 mute) override {
    record("SetMute", {hex(bookmark), num("u", mute)});
    return NS_OK;
  }
  NS_IMETHOD StartPlaylistServer() override {
    record("StartPlaylistServer", {});
    return NS_OK;
  }
  NS_IMETHOD GetPlaylistList(PRUint32 *count, char ***list) override {
    record("GetPlaylistList", {});
    const char *entries[] = {"Mix|MUSIC|1|a~http://x/a.mp3", "Photos|PHOTO|3", "caf\xc3\xa9\x80|VIDEO|4"};
    *list = static_cast<char **>(NS_Alloc(3 * sizeof(char *)));
    for (int k = 0; k < 3; ++k) (*list)[k] = NS_StringClone(entries[k]);
    *count = 3;
    return NS_OK;
  }
  NS_IMETHOD CreatePlaylist(const char *name, PRUint32 type, PRUint32 *id) override {
    record("CreatePlaylist", {hex(name), num("u", type)});
    *id = 4000000000u;
    return NS_OK;
  }
  NS_IMETHOD DeletePlaylist(PRUint32 id) override {
    record("DeletePlaylist", {num("u", id)});
    return NS_OK;
  }
  NS_IMETHOD AddItemsToPlaylist(PRUint32 id, PRUint32 count, const char **names, const char **urls) override {
    record("AddItemsToPlaylist", {num("u", id), num("u", count), arr(count, names), arr(count, urls)});
    return NS_OK;
  }
  NS_IMETHOD DeleteItemFromPlaylist(PRUint32 id, PRUint32 index) override {
    record("DeleteItemFromPlaylist", {num("u", id), num("u", index)});
    return NS_OK;
  }
  NS_IMETHOD MoveItemInPlaylist(PRUint32 id, PRUint32 from, PRUint32 to) override {
    record("MoveItemInPlaylist", {num("u", id), num("u", from), num("u", to)});
    return NS_OK;
  }
  NS_IMETHOD RenamePlaylist(PRUint32 id, const char *name) override {
    record("RenamePlaylist", {num("u", id), hex(name)});
    return NS_OK;
  }
  NS_IMETHOD RenameItemInPlaylist(PRUint32 id, PRUint32 index, const char *name) override {
    record("RenameItemInPlaylist", {num("u", id), num("u", index), hex(name)});
    return NS_OK;
  }
  NS_IMETHOD SetProgramOption(const char *name, const char *value) override {
    record("SetProgramOption", {hex(name), hex(value)});
    if (name == nullptr || value == nullptr) return NS_OK;
    if (std::strcmp(name, "fire") == 0) {
      int threads = 0, events = 0;
      if (std::sscanf(value, "%d %d", &threads, &events) != 2 || threads < 1 || threads > 64 || events < 0)
        return NS_ERROR_INVALID_ARG;
      for (int t = 0; t < threads; ++t)
        start_thread(std::thread([t, events] {
          for (int n = 0; n < events; ++n) deliver("storm:" + std::to_string(t) + ":" + std::to_string(n));
          deliver("storm-done:" + std::to_string(t));
        }));
    } else if (std::strcmp(name, "exit") == 0) {
      if (g_exit_function != nullptr) g_exit_function(std::atoi(value));
    } else if (std::strcmp(name, "fire-text") == 0) {
      start_thread(std::thread([text = std::string(value)] { deliver(text); }));
    }
    return NS_OK;
  }
  NS_IMETHOD GetProgramOption(const char *name, char **value) override {
    record("GetProgramOption", {hex(name)});
    *value = NS_StringClone("");
    return NS_OK;
  }
  NS_IMETHOD GetMediaTypeForSite(const char *url, PRUint32 *type) override {
    record("GetMediaTypeForSite", {hex(url)});
    *type = 3;
    return NS_OK;
  }
  NS_IMETHOD GetYouTubeItemName(const char *url, char **name) override {
    record("GetYouTubeItemName", {hex(url)});
    *name = NS_StringClone("");
    return NS_OK;
  }
  NS_IMETHOD GetStreamableURL(const char *url, char **streamable) override {
    record("GetStreamableURL", {hex(url)});
    *streamable = NS_StringClone(url != nullptr ? url : "");
    return NS_OK;
  }
  NS_IMETHOD GetCurrentDate(char **date) override {
    record("GetCurrentDate", {});
    *date = NS_StringClone("12/08/2026");
    return NS_OK;
  }
  NS_IMETHOD GetLocalServerVersion(char **version) override {
    record("GetLocalServerVersion", {});
    *version = NS_StringClone("Unknown");
    return NS_OK;
  }
  NS_IMETHOD GetLocalServerFullVersionString(char **version) override {
    record("GetLocalServerFullVersionString", {});
    *version = NS_StringClone("Unknown");
    return NS_OK;
  }
  NS_IMETHOD AddControlPointObserver(iZelControlPoint2XPComObserver *observer) override {
    record("AddControlPointObserver", {observer != nullptr ? "o:set" : "o:null"});
    return add(observer);
  }
  NS_IMETHOD RemoveControlPointObserver(iZelControlPoint2XPComObserver *observer) override {
    record("RemoveControlPointObserver", {observer != nullptr ? "o:set" : "o:null"});
    return remove(observer);
  }
  NS_IMETHOD AddRendererObserver(iZelControlPoint2XPComObserver *observer) override {
    record("AddRendererObserver", {observer != nullptr ? "o:set" : "o:null"});
    return add(observer);
  }
  NS_IMETHOD RemoveRendererObserver(iZelControlPoint2XPComObserver *observer) override {
    record("RemoveRendererObserver", {observer != nullptr ? "o:set" : "o:null"});
    return remove(observer);
  }

 private:
  ~TestComponent() {
    bool last;
    {
      std::lock_guard<std::mutex> guard(g_lock);
      last = --g_instances == 0;
    }
    if (last) join_threads();
  }

  // Both lists are one here: every observer gets every event.
  static nsresult add(iZelControlPoint2XPComObserver *observer) {
    if (observer == nullptr) return NS_ERROR_INVALID_ARG;
    if (mode() == "fail-observers") return NS_ERROR_FAILURE;
    observer->AddRef();
    if (mode() == "leak-observer") observer->AddRef();
    std::lock_guard<std::mutex> guard(g_lock);
    g_observers.push_back(observer);
    return NS_OK;
  }
  static nsresult remove(iZelControlPoint2XPComObserver *observer) {
    if (observer == nullptr) return NS_ERROR_INVALID_ARG;
    {
      std::lock_guard<std::mutex> guard(g_lock);
      auto it = g_observers.begin();
      while (it != g_observers.end() && *it != observer) ++it;
      if (it == g_observers.end()) return NS_OK;
      g_observers.erase(it);
    }
    observer->Release();
    return NS_OK;
  }

  nsrefcnt count_ = 0;
};

nsresult TestComponentConstructor(nsISupports *outer, const nsIID &iid, void **result) {
  *result = nullptr;
  if (outer != nullptr) return NS_ERROR_NO_AGGREGATION;
  if (mode() == "fail-create") return NS_ERROR_OUT_OF_MEMORY;
  auto *c = new (std::nothrow) TestComponent();
  if (c == nullptr) return NS_ERROR_OUT_OF_MEMORY;
  c->AddRef();
  nsresult rv = c->QueryInterface(iid, result);
  c->Release();
  return rv;
}

const nsCID kCID = KCONTROLPOINT2_CID;
const xpcom::Module::CIDEntry kCIDs[] = {{&kCID, false, nullptr, TestComponentConstructor},
                                         {nullptr, false, nullptr, nullptr}};
const xpcom::Module::ContractIDEntry kContracts[] = {{ZEL_CONTROLPOINT2_CONTRACTID, &kCID}, {nullptr, nullptr}};
const xpcom::Module kModule = {TEST_COMPONENT_VERSION, kCIDs, kContracts, nullptr, nullptr, nullptr, nullptr};

}  // namespace

extern "C" {
__attribute__((visibility("default"))) extern const xpcom::Module *const NSModule;
const xpcom::Module *const NSModule = &kModule;

__attribute__((visibility("default"))) void register_upnp_exit_function(void (*function)(int)) {
  g_exit_function = function;
}

__attribute__((visibility("default"))) nsresult NSGetModule(nsIComponentManager *, nsIFile *, nsIModule **result) {
  return NS_NewGenericModule(&kModule, result);
}
}
