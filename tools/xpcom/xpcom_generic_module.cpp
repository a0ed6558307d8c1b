// The glue a component links (xpcomlite_glue): the generic module of the
// older protocol over a module description, and the generic factory over a
// class's constructor.
#include <atomic>
#include <cstring>
#include <new>

#include "xpcom_module.h"

namespace {

class GenericFactory final : public nsIFactory {
 public:
  explicit GenericFactory(xpcom::Module::ConstructorProcPtr constructor) : constructor_(constructor) {}

  NS_IMETHOD QueryInterface(const nsIID &iid, void **result) override {
    if (result == nullptr) return NS_ERROR_NULL_POINTER;
    *result = nullptr;
    if (iid != NS_GET_IID(nsIFactory) && iid != NS_GET_IID(nsISupports)) return NS_NOINTERFACE;
    AddRef();
    *result = static_cast<nsIFactory *>(this);
    return NS_OK;
  }
  // Atomic: the registrar hands the factory to whichever thread creates.
  NS_IMETHOD_(nsrefcnt) AddRef() override { return ++count_; }
  NS_IMETHOD_(nsrefcnt) Release() override {
    nsrefcnt left = --count_;
    if (left == 0) delete this;
    return left;
  }

  NS_IMETHOD CreateInstance(nsISupports *outer, const nsIID &iid, void **result) override {
    if (result == nullptr) return NS_ERROR_NULL_POINTER;
    *result = nullptr;
    return constructor_(outer, iid, result);
  }
  NS_IMETHOD LockFactory(PRBool) override { return NS_OK; }

 private:
  ~GenericFactory() = default;
  xpcom::Module::ConstructorProcPtr constructor_;
  std::atomic<nsrefcnt> count_{0};
};

class GenericModule final : public nsIModule {
 public:
  explicit GenericModule(const xpcom::Module *description) : description_(description) {}

  NS_IMETHOD QueryInterface(const nsIID &iid, void **result) override {
    if (result == nullptr) return NS_ERROR_NULL_POINTER;
    *result = nullptr;
    if (iid != NS_GET_IID(nsIModule) && iid != NS_GET_IID(nsISupports)) return NS_NOINTERFACE;
    AddRef();
    *result = static_cast<nsIModule *>(this);
    return NS_OK;
  }
  NS_IMETHOD_(nsrefcnt) AddRef() override { return ++count_; }
  NS_IMETHOD_(nsrefcnt) Release() override {
    nsrefcnt left = --count_;
    if (left == 0) delete this;
    return left;
  }

  NS_IMETHOD GetClassObject(nsIComponentManager *, const nsCID &cid, const nsIID &iid, void **result) override {
    if (result == nullptr) return NS_ERROR_NULL_POINTER;
    *result = nullptr;
    const xpcom::Module::CIDEntry *entry = find(cid);
    if (entry == nullptr) return NS_ERROR_FACTORY_NOT_REGISTERED;
    nsIFactory *factory = make_factory(*entry);
    if (factory == nullptr) return NS_ERROR_OUT_OF_MEMORY;
    nsresult rv = factory->QueryInterface(iid, result);
    factory->Release();
    return rv;
  }

  // Registers a factory per class, under the first contract naming it (a
  // class without contract is registered by its ID alone).
  NS_IMETHOD RegisterSelf(nsIComponentManager *manager, nsIFile *, const char *, const char *) override {
    if (manager == nullptr) return NS_ERROR_NULL_POINTER;
    nsIComponentRegistrar *registrar = nullptr;
    nsresult rv = manager->QueryInterface(NS_GET_IID(nsIComponentRegistrar), reinterpret_cast<void **>(&registrar));
    if (NS_FAILED(rv) || registrar == nullptr) return NS_FAILED(rv) ? rv : NS_NOINTERFACE;
    for (const xpcom::Module::CIDEntry *e = description_->mCIDs; e != nullptr && e->cid != nullptr; ++e) {
      nsIFactory *factory = make_factory(*e);
      if (factory == nullptr) {
        rv = NS_ERROR_OUT_OF_MEMORY;
        break;
      }
      rv = registrar->RegisterFactory(*e->cid, nullptr, contract_for(*e->cid), factory);
      factory->Release();
      if (NS_FAILED(rv)) break;
      // Further contracts naming the same class.
      bool first = true;
      for (const xpcom::Module::ContractIDEntry *c = description_->mContractIDs; c != nullptr && c->contractid;
           ++c) {
        if (*c->cid != *e->cid) continue;
        if (first) {
          first = false;
          continue;
        }
        nsIFactory *again = make_factory(*e);
        if (again == nullptr) break;
        registrar->RegisterFactory(*e->cid, nullptr, c->contractid, again);
        again->Release();
      }
    }
    registrar->Release();
    return rv;
  }
  NS_IMETHOD UnregisterSelf(nsIComponentManager *manager, nsIFile *, const char *) override {
    if (manager == nullptr) return NS_ERROR_NULL_POINTER;
    nsIComponentRegistrar *registrar = nullptr;
    nsresult rv = manager->QueryInterface(NS_GET_IID(nsIComponentRegistrar), reinterpret_cast<void **>(&registrar));
    if (NS_FAILED(rv) || registrar == nullptr) return NS_FAILED(rv) ? rv : NS_NOINTERFACE;
    for (const xpcom::Module::CIDEntry *e = description_->mCIDs; e != nullptr && e->cid != nullptr; ++e)
      registrar->UnregisterFactory(*e->cid, nullptr);
    registrar->Release();
    return NS_OK;
  }
  NS_IMETHOD CanUnload(nsIComponentManager *, PRBool *result) override {
    if (result == nullptr) return NS_ERROR_NULL_POINTER;
    *result = PR_FALSE;  // the library's threads may outlive every instance
    return NS_OK;
  }

 private:
  ~GenericModule() = default;

  const xpcom::Module::CIDEntry *find(const nsCID &cid) const {
    for (const xpcom::Module::CIDEntry *e = description_->mCIDs; e != nullptr && e->cid != nullptr; ++e)
      if (*e->cid == cid) return e;
    return nullptr;
  }
  const char *contract_for(const nsCID &cid) const {
    for (const xpcom::Module::ContractIDEntry *c = description_->mContractIDs; c != nullptr && c->contractid; ++c)
      if (*c->cid == cid) return c->contractid;
    return nullptr;
  }
  // One reference, or null.
  nsIFactory *make_factory(const xpcom::Module::CIDEntry &entry) const {
    nsIFactory *factory = nullptr;
    if (entry.getFactoryProc != nullptr) {
      factory = entry.getFactoryProc(*description_, entry);
      return factory;
    }
    if (entry.constructorProc == nullptr) return nullptr;
    NS_NewGenericFactory(entry.constructorProc, &factory);
    return factory;
  }

  const xpcom::Module *description_;
  std::atomic<nsrefcnt> count_{0};
};

}  // namespace

nsresult NS_NewGenericFactory(xpcom::Module::ConstructorProcPtr constructor, nsIFactory **result) {
  if (result == nullptr) return NS_ERROR_NULL_POINTER;
  *result = nullptr;
  if (constructor == nullptr) return NS_ERROR_INVALID_ARG;
  auto *factory = new (std::nothrow) GenericFactory(constructor);
  if (factory == nullptr) return NS_ERROR_OUT_OF_MEMORY;
  factory->AddRef();
  *result = factory;
  return NS_OK;
}

nsresult NS_NewGenericModule(const xpcom::Module *description, nsIModule **result) {
  if (result == nullptr) return NS_ERROR_NULL_POINTER;
  *result = nullptr;
  if (description == nullptr) return NS_ERROR_INVALID_ARG;
  if (description->mVersion != xpcom::Module::kVersion) return NS_ERROR_FAILURE;
  auto *module = new (std::nothrow) GenericModule(description);
  if (module == nullptr) return NS_ERROR_OUT_OF_MEMORY;
  module->AddRef();
  *result = module;
  return NS_OK;
}
