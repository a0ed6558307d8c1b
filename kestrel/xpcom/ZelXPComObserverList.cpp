// Observer lists of the component and the delivery of event texts to them.
#include "xpcom/ZelXPComObserverList.h"

#include "xpcom_interfaces.h"

void ZelXPComObserverList::Add(iZelControlPoint2XPComObserver *observer) {
  if (observer == nullptr) return;
  observer->AddRef();
  std::lock_guard<std::mutex> guard(lock_);
  observers_.push_back(observer);
}

bool ZelXPComObserverList::Remove(iZelControlPoint2XPComObserver *observer) {
  {
    std::lock_guard<std::mutex> guard(lock_);
    auto it = observers_.begin();
    while (it != observers_.end() && *it != observer) ++it;
    if (it == observers_.end()) return false;
    observers_.erase(it);
  }
  observer->Release();  // outside the lock: the last release may run its destructor
  return true;
}

void ZelXPComObserverList::Clear() {
  std::vector<iZelControlPoint2XPComObserver *> gone;
  {
    std::lock_guard<std::mutex> guard(lock_);
    gone.swap(observers_);
  }
  for (iZelControlPoint2XPComObserver *observer : gone) observer->Release();
}

size_t ZelXPComObserverList::Count() {
  std::lock_guard<std::mutex> guard(lock_);
  return observers_.size();
}

namespace {

// One observer: the proxy service, a synchronous main-thread proxy, the call.
bool deliver_one(iZelControlPoint2XPComObserver *observer, const char *text) {
  nsIServiceManager *services = nullptr;
  if (NS_FAILED(NS_GetServiceManager(&services)) || services == nullptr) return false;
  nsIProxyObjectManager *proxies = nullptr;
  nsresult rv = services->GetServiceByContractID(NS_PROXYOBJECTMANAGER_CONTRACTID,
                                                 NS_GET_IID(nsIProxyObjectManager),
                                                 reinterpret_cast<void **>(&proxies));
  services->Release();
  if (NS_FAILED(rv) || proxies == nullptr) return false;
  iZelControlPoint2XPComObserver *proxy = nullptr;
  rv = proxies->GetProxyForObject(NS_UI_THREAD_EVENTQ, NS_GET_IID(iZelControlPoint2XPComObserver), observer,
                                  PROXY_SYNC | PROXY_ALWAYS, reinterpret_cast<void **>(&proxy));
  bool called = false;
  if (NS_SUCCEEDED(rv) && proxy != nullptr) {
    proxy->OnEvent(text);  // its result is of no interest to the component
    proxy->Release();
    called = true;
  }
  proxies->Release();
  return called;
}

}  // namespace

size_t ZelXPComObserverList::Deliver(const char *text) {
  if (text == nullptr) return 0;
  // A copy of the entries, each with a reference of its own, so that an
  // observer removed meanwhile on the main thread stays alive until this
  // delivery is done with it.
  std::vector<iZelControlPoint2XPComObserver *> targets;
  {
    std::lock_guard<std::mutex> guard(lock_);
    targets = observers_;
    for (iZelControlPoint2XPComObserver *observer : targets) observer->AddRef();
  }
  size_t delivered = 0;
  for (iZelControlPoint2XPComObserver *observer : targets) {
    if (deliver_one(observer, text)) ++delivered;
    observer->Release();
  }
  return delivered;
}
