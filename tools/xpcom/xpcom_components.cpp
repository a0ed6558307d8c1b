// The component manager, which is also the registrar: classes with their
// factories, contracts naming classes, and creation by either.
#include "xpcom_internal.h"
#include "xpcom_main_thread.h"
#include "xpcom_memory.h"

#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace {

struct ClassEntry {
  nsCID cid;
  std::string name;
  nsIFactory *factory;  // one reference
};

struct ContractEntry {
  std::string contract;
  nsCID cid;
};

class ComponentManager final : public nsIComponentManager, public nsIComponentRegistrar {
 public:
  NS_IMETHOD QueryInterface(const nsIID &iid, void **result) override {
    if (result == nullptr) return NS_ERROR_NULL_POINTER;
    *result = nullptr;
    if (iid == NS_GET_IID(nsIComponentManager) || iid == NS_GET_IID(nsISupports))
      *result = static_cast<nsIComponentManager *>(this);
    else if (iid == NS_GET_IID(nsIComponentRegistrar))
      *result = static_cast<nsIComponentRegistrar *>(this);
    else
      return NS_NOINTERFACE;
    return NS_OK;
  }
  NS_IMETHOD_(nsrefcnt) AddRef() override { return 2; }
  NS_IMETHOD_(nsrefcnt) Release() override { return 1; }

  NS_IMETHOD GetClassObject(const nsCID &cid, const nsIID &iid, void **result) override {
    if (result == nullptr) return NS_ERROR_NULL_POINTER;
    *result = nullptr;
    nsIFactory *factory = factory_for(cid);
    if (factory == nullptr) return NS_ERROR_FACTORY_NOT_REGISTERED;
    nsresult rv = factory->QueryInterface(iid, result);
    factory->Release();
    return rv;
  }
  NS_IMETHOD GetClassObjectByContractID(const char *contract, const nsIID &iid, void **result) override {
    nsCID cid;
    if (!cid_for(contract, cid)) {
      if (result != nullptr) *result = nullptr;
      return NS_ERROR_FACTORY_NOT_REGISTERED;
    }
    return GetClassObject(cid, iid, result);
  }
  NS_IMETHOD CreateInstance(const nsCID &cid, nsISupports *outer, const nsIID &iid, void **result) override {
    if (result == nullptr) return NS_ERROR_NULL_POINTER;
    *result = nullptr;
    nsIFactory *factory = factory_for(cid);
    if (factory == nullptr) return NS_ERROR_FACTORY_NOT_REGISTERED;
    nsresult rv = factory->CreateInstance(outer, iid, result);
    factory->Release();
    return rv;
  }
  NS_IMETHOD CreateInstanceByContractID(const char *contract, nsISupports *outer, const nsIID &iid,
                                        void **result) override {
    nsCID cid;
    if (!cid_for(contract, cid)) {
      if (result != nullptr) *result = nullptr;
      return NS_ERROR_FACTORY_NOT_REGISTERED;
    }
    return CreateInstance(cid, outer, iid, result);
  }

  NS_IMETHOD RegisterFactory(const nsCID &cid, const char *className, const char *contract,
                             nsIFactory *factory) override {
    if (factory == nullptr) return NS_ERROR_INVALID_ARG;
    std::lock_guard<std::mutex> guard(lock_);
    for (const ClassEntry &c : classes_)
      if (c.cid == cid) return NS_ERROR_FACTORY_EXISTS;
    factory->AddRef();
    classes_.push_back(ClassEntry{cid, className != nullptr ? className : "", factory});
    if (contract != nullptr) {
      for (ContractEntry &c : contracts_)
        if (c.contract == contract) {
          c.cid = cid;  // a later registration takes the contract over
          return NS_OK;
        }
      contracts_.push_back(ContractEntry{contract, cid});
    }
    return NS_OK;
  }
  NS_IMETHOD UnregisterFactory(const nsCID &cid, nsIFactory *factory) override {
    nsIFactory *gone = nullptr;
    {
      std::lock_guard<std::mutex> guard(lock_);
      for (size_t i = 0; i < classes_.size(); ++i)
        if (classes_[i].cid == cid && (factory == nullptr || classes_[i].factory == factory)) {
          gone = classes_[i].factory;
          classes_.erase(classes_.begin() + static_cast<long>(i));
          break;
        }
      for (size_t i = 0; gone != nullptr && i < contracts_.size();)
        if (contracts_[i].cid == cid)
          contracts_.erase(contracts_.begin() + static_cast<long>(i));
        else
          ++i;
    }
    if (gone == nullptr) return NS_ERROR_FACTORY_NOT_REGISTERED;
    gone->Release();
    return NS_OK;
  }
  NS_IMETHOD IsCIDRegistered(const nsCID &cid, PRBool *result) override {
    if (result == nullptr) return NS_ERROR_NULL_POINTER;
    nsIFactory *factory = factory_for(cid);
    *result = factory != nullptr ? PR_TRUE : PR_FALSE;
    if (factory != nullptr) factory->Release();
    return NS_OK;
  }
  NS_IMETHOD IsContractIDRegistered(const char *contract, PRBool *result) override {
    if (result == nullptr) return NS_ERROR_NULL_POINTER;
    nsCID cid;
    *result = cid_for(contract, cid) ? PR_TRUE : PR_FALSE;
    return NS_OK;
  }
  NS_IMETHOD ContractIDToCID(const char *contract, nsCID **result) override {
    if (result == nullptr) return NS_ERROR_NULL_POINTER;
    *result = nullptr;
    nsCID cid;
    if (!cid_for(contract, cid)) return NS_ERROR_FACTORY_NOT_REGISTERED;
    *result = static_cast<nsCID *>(NS_Clone(&cid, sizeof cid));
    return *result != nullptr ? NS_OK : NS_ERROR_OUT_OF_MEMORY;
  }
  NS_IMETHOD EnumerateContractIDs(PRUint32 *count, char ***contracts) override {
    if (count == nullptr || contracts == nullptr) return NS_ERROR_NULL_POINTER;
    *count = 0;
    *contracts = nullptr;
    std::lock_guard<std::mutex> guard(lock_);
    if (contracts_.empty()) return NS_OK;
    auto **list = static_cast<char **>(NS_Alloc(contracts_.size() * sizeof(char *)));
    if (list == nullptr) return NS_ERROR_OUT_OF_MEMORY;
    for (size_t i = 0; i < contracts_.size(); ++i) {
      list[i] = NS_StringClone(contracts_[i].contract.c_str());
      if (list[i] == nullptr) {
        while (i > 0) NS_Free(list[--i]);
        NS_Free(list);
        return NS_ERROR_OUT_OF_MEMORY;
      }
    }
    *count = static_cast<PRUint32>(contracts_.size());
    *contracts = list;
    return NS_OK;
  }

  // Drops every registration (at shutdown), releasing the factories.
  void clear() {
    std::vector<ClassEntry> classes;
    {
      std::lock_guard<std::mutex> guard(lock_);
      classes.swap(classes_);
      contracts_.clear();
    }
    for (ClassEntry &c : classes) c.factory->Release();
  }

 private:
  // One reference for the caller, or null.
  nsIFactory *factory_for(const nsCID &cid) {
    std::lock_guard<std::mutex> guard(lock_);
    for (const ClassEntry &c : classes_)
      if (c.cid == cid) {
        c.factory->AddRef();
        return c.factory;
      }
    return nullptr;
  }
  bool cid_for(const char *contract, nsCID &cid) {
    if (contract == nullptr) return false;
    std::lock_guard<std::mutex> guard(lock_);
    for (const ContractEntry &c : contracts_)
      if (c.contract == contract) {
        cid = c.cid;
        return true;
      }
    return false;
  }

  // Registration may come from any thread that loads a module.
  std::mutex lock_;
  std::vector<ClassEntry> classes_;
  std::vector<ContractEntry> contracts_;
};

ComponentManager &component_manager() {
  static ComponentManager manager;
  return manager;
}

}  // namespace

void xpcomlite_clear_components() { component_manager().clear(); }

extern "C" nsresult NS_GetComponentManager(nsIComponentManager **result) {
  if (result == nullptr) return NS_ERROR_NULL_POINTER;
  *result = nullptr;
  if (!xpcomlite_is_initialised()) return NS_ERROR_NOT_INITIALIZED;
  *result = static_cast<nsIComponentManager *>(&component_manager());
  return NS_OK;
}

extern "C" nsresult NS_GetComponentRegistrar(nsIComponentRegistrar **result) {
  if (result == nullptr) return NS_ERROR_NULL_POINTER;
  *result = nullptr;
  if (!xpcomlite_is_initialised()) return NS_ERROR_NOT_INITIALIZED;
  *result = static_cast<nsIComponentRegistrar *>(&component_manager());
  return NS_OK;
}
