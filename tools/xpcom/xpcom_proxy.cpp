// The proxy object manager: synchronous main-thread proxies for the
// component's observer interface, the only interface proxied here.
#include <atomic>
#include <new>

#include "iZelControlPoint2XPCom.h"
#include "xpcom_main_thread.h"
#include "xpcom_internal.h"

namespace {

// Forwards OnEvent to the real observer on the main thread and waits for it.
// Its count is atomic: the proxy is made, used and released on the firing
// thread while the main thread runs the call.
class ObserverProxy final : public iZelControlPoint2XPComObserver {
 public:
  explicit ObserverProxy(iZelControlPoint2XPComObserver *real) : real_(real) { real_->AddRef(); }

  NS_IMETHOD QueryInterface(const nsIID &iid, void **result) override {
    if (result == nullptr) return NS_ERROR_NULL_POINTER;
    *result = nullptr;
    if (iid != NS_GET_IID(iZelControlPoint2XPComObserver) && iid != NS_GET_IID(nsISupports))
      return NS_NOINTERFACE;
    AddRef();
    *result = static_cast<iZelControlPoint2XPComObserver *>(this);
    return NS_OK;
  }
  NS_IMETHOD_(nsrefcnt) AddRef() override { return ++count_; }
  NS_IMETHOD_(nsrefcnt) Release() override {
    nsrefcnt left = --count_;
    if (left == 0) delete this;
    return left;
  }

  NS_IMETHOD OnEvent(const char *text) override {
    Call call{real_, text, NS_OK};
    nsresult rv = xpcomlite_call_on_main(&run, &call, text);
    return NS_FAILED(rv) ? rv : call.result;
  }

 private:
  struct Call {
    iZelControlPoint2XPComObserver *real;
    const char *text;
    nsresult result;
  };
  static void run(void *p) {
    auto *call = static_cast<Call *>(p);
    call->result = call->real->OnEvent(call->text);
  }

  ~ObserverProxy() { real_->Release(); }

  iZelControlPoint2XPComObserver *real_;
  std::atomic<nsrefcnt> count_{0};
};

class ProxyObjectManager final : public nsIProxyObjectManager {
 public:
  NS_IMETHOD QueryInterface(const nsIID &iid, void **result) override {
    if (result == nullptr) return NS_ERROR_NULL_POINTER;
    *result = nullptr;
    if (iid != NS_GET_IID(nsIProxyObjectManager) && iid != NS_GET_IID(nsISupports)) return NS_NOINTERFACE;
    *result = static_cast<nsIProxyObjectManager *>(this);
    return NS_OK;
  }
  // One object for the process's lifetime; references are not counted.
  NS_IMETHOD_(nsrefcnt) AddRef() override { return 2; }
  NS_IMETHOD_(nsrefcnt) Release() override { return 1; }

  NS_IMETHOD GetProxyForObject(nsIEventQueue *target, const nsIID &iid, nsISupports *object, PRInt32 type,
                               void **result) override {
    if (result == nullptr) return NS_ERROR_NULL_POINTER;
    *result = nullptr;
    if (object == nullptr) return NS_ERROR_NULL_POINTER;
    if (target != NS_UI_THREAD_EVENTQ || (type & PROXY_ASYNC) != 0 || (type & PROXY_SYNC) == 0)
      return NS_ERROR_NOT_IMPLEMENTED;
    if (iid != NS_GET_IID(iZelControlPoint2XPComObserver)) return NS_NOINTERFACE;
    iZelControlPoint2XPComObserver *real = nullptr;
    nsresult rv = object->QueryInterface(iid, reinterpret_cast<void **>(&real));
    if (NS_FAILED(rv) || real == nullptr) return NS_FAILED(rv) ? rv : NS_NOINTERFACE;
    if ((type & PROXY_ALWAYS) == 0 && NS_IsMainThread()) {
      *result = real;  // already on the target: the object itself
      return NS_OK;
    }
    auto *proxy = new (std::nothrow) ObserverProxy(real);
    real->Release();
    if (proxy == nullptr) return NS_ERROR_OUT_OF_MEMORY;
    proxy->AddRef();
    *result = static_cast<iZelControlPoint2XPComObserver *>(proxy);
    return NS_OK;
  }
};

}  // namespace

nsIProxyObjectManager *xpcomlite_proxy_manager() {
  static ProxyObjectManager manager;
  return &manager;
}
