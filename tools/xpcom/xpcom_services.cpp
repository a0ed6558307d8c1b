// The service manager with its two services: the proxy object manager and a
// category manager that holds no entries.
#include "xpcom_main_thread.h"
#include "xpcom_internal.h"

#include <cstring>

namespace {

// Answers every lookup with "no entry" and keeps nothing it is given: no
// part of the component reads or writes categories.
class CategoryManager final : public nsICategoryManager {
 public:
  NS_IMETHOD QueryInterface(const nsIID &iid, void **result) override {
    if (result == nullptr) return NS_ERROR_NULL_POINTER;
    *result = nullptr;
    if (iid != NS_GET_IID(nsICategoryManager) && iid != NS_GET_IID(nsISupports)) return NS_NOINTERFACE;
    *result = static_cast<nsICategoryManager *>(this);
    return NS_OK;
  }
  NS_IMETHOD_(nsrefcnt) AddRef() override { return 2; }
  NS_IMETHOD_(nsrefcnt) Release() override { return 1; }

  NS_IMETHOD GetCategoryEntry(const char *, const char *, char **value) override {
    if (value != nullptr) *value = nullptr;
    return NS_ERROR_NOT_AVAILABLE;
  }
  NS_IMETHOD AddCategoryEntry(const char *, const char *, const char *, PRBool, PRBool, char **previous) override {
    if (previous != nullptr) *previous = nullptr;
    return NS_ERROR_NOT_IMPLEMENTED;
  }
  NS_IMETHOD DeleteCategoryEntry(const char *, const char *, PRBool) override { return NS_ERROR_NOT_AVAILABLE; }
};

CategoryManager &category_manager() {
  static CategoryManager manager;
  return manager;
}

class ServiceManager final : public nsIServiceManager {
 public:
  NS_IMETHOD QueryInterface(const nsIID &iid, void **result) override {
    if (result == nullptr) return NS_ERROR_NULL_POINTER;
    *result = nullptr;
    if (iid != NS_GET_IID(nsIServiceManager) && iid != NS_GET_IID(nsISupports)) return NS_NOINTERFACE;
    *result = static_cast<nsIServiceManager *>(this);
    return NS_OK;
  }
  NS_IMETHOD_(nsrefcnt) AddRef() override { return 2; }
  NS_IMETHOD_(nsrefcnt) Release() override { return 1; }

  NS_IMETHOD GetService(const nsCID &cid, const nsIID &iid, void **result) override {
    if (result == nullptr) return NS_ERROR_NULL_POINTER;
    *result = nullptr;
    static const nsCID proxy_cid = NS_PROXYOBJECTMANAGER_CID;
    static const nsCID category_cid = NS_CATEGORYMANAGER_CID;
    if (cid == proxy_cid) return lookup(xpcomlite_proxy_manager(), iid, result);
    if (cid == category_cid) return lookup(&category_manager(), iid, result);
    return NS_ERROR_FACTORY_NOT_REGISTERED;
  }
  NS_IMETHOD GetServiceByContractID(const char *contract, const nsIID &iid, void **result) override {
    if (result == nullptr) return NS_ERROR_NULL_POINTER;
    *result = nullptr;
    if (contract == nullptr) return NS_ERROR_INVALID_ARG;
    if (std::strcmp(contract, NS_PROXYOBJECTMANAGER_CONTRACTID) == 0)
      return lookup(xpcomlite_proxy_manager(), iid, result);
    if (std::strcmp(contract, NS_CATEGORYMANAGER_CONTRACTID) == 0)
      return lookup(&category_manager(), iid, result);
    return NS_ERROR_FACTORY_NOT_REGISTERED;
  }

 private:
  static nsresult lookup(nsISupports *service, const nsIID &iid, void **result) {
    if (!xpcomlite_is_initialised()) return NS_ERROR_NOT_INITIALIZED;
    return service->QueryInterface(iid, result);
  }
};

}  // namespace

extern "C" nsresult NS_GetServiceManager(nsIServiceManager **result) {
  if (result == nullptr) return NS_ERROR_NULL_POINTER;
  *result = nullptr;
  if (!xpcomlite_is_initialised()) return NS_ERROR_NOT_INITIALIZED;
  static ServiceManager manager;
  *result = &manager;
  return NS_OK;
}
