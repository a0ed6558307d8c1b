// The two ways of loading and creating the component.
#include "host_load.h"

#include <dlfcn.h>

#include <atomic>

#include "host_output.h"
#include "host_slots.h"
#include "xpcom_memory.h"

namespace host {

namespace {

std::atomic<int> g_exit_calls{0};
std::atomic<int> g_exit_status{0};

// The library asks to end the process (a critical error): the host records
// it, says so, and goes on; it ends on its own terms.
void host_exit_function(int status) {
  g_exit_calls.fetch_add(1);
  g_exit_status.store(status);
  emit(Record("exit-function").num("status", status).str("note", "the library asked to end the process"));
}

std::string cid_text(const nsCID &cid) {
  char buf[37];
  cid.ToProvidedString(buf);
  return buf;
}

}  // namespace

int exit_calls() { return g_exit_calls.load(); }
int last_exit_status() { return g_exit_status.load(); }

bool open_library(const std::string &path, Library &lib, std::string &why) {
  lib.path = path;
  dlerror();
  lib.handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (lib.handle == nullptr) {
    const char *e = dlerror();
    why = std::string("cannot load ") + path + ": " + (e != nullptr ? e : "unknown reason");
    return false;
  }
  auto *described = reinterpret_cast<const xpcom::Module *const *>(dlsym(lib.handle, "NSModule"));
  lib.module = described != nullptr ? *described : nullptr;
  lib.get_module = reinterpret_cast<nsGetModuleProc>(dlsym(lib.handle, "NSGetModule"));
  if (lib.module == nullptr && lib.get_module == nullptr) {
    why = path + " has no entry point (neither NSModule nor NSGetModule)";
    return false;
  }
  if (lib.module != nullptr && lib.module->mVersion != xpcom::Module::kVersion) {
    why = path + " has module version " + std::to_string(lib.module->mVersion) + "; this host takes version " +
          std::to_string(xpcom::Module::kVersion);
    return false;
  }
  using RegisterExit = void (*)(void (*)(int));
  auto reg = reinterpret_cast<RegisterExit>(dlsym(lib.handle, "register_upnp_exit_function"));
  if (reg != nullptr) reg(&host_exit_function);
  emit(Record("load").str("library", path).boolean("NSModule", lib.module != nullptr)
           .boolean("NSGetModule", lib.get_module != nullptr).boolean("exit_function", reg != nullptr));
  return true;
}

void describe_module(const Library &lib) {
  if (lib.module == nullptr) {
    say("info", "no module description exported (NSModule)");
    return;
  }
  for (const xpcom::Module::CIDEntry *e = lib.module->mCIDs; e != nullptr && e->cid != nullptr; ++e) {
    std::string contracts;
    for (const xpcom::Module::ContractIDEntry *c = lib.module->mContractIDs; c != nullptr && c->contractid; ++c)
      if (*c->cid == *e->cid) contracts += (contracts.empty() ? "" : " ") + std::string(c->contractid);
    emit(Record("module").num("version", lib.module->mVersion).str("class", cid_text(*e->cid))
             .str("contract", contracts).boolean("service", e->service)
             .boolean("categories", lib.module->mCategoryEntries != nullptr &&
                                        lib.module->mCategoryEntries->category != nullptr));
  }
}

namespace {

nsresult register_module(Library &lib, std::string &why) {
  if (lib.get_module == nullptr) {
    why = lib.path + " has no NSGetModule";
    return NS_ERROR_FAILURE;
  }
  nsIComponentManager *manager = nullptr;
  nsresult rv = NS_GetComponentManager(&manager);
  if (NS_FAILED(rv)) {
    why = "no component manager: " + result_name(rv);
    return rv;
  }
  nsIModule *module = nullptr;
  rv = lib.get_module(manager, nullptr, &module);
  if (NS_FAILED(rv) || module == nullptr) {
    why = "NSGetModule failed: " + result_name(rv);
    return NS_FAILED(rv) ? rv : NS_ERROR_FAILURE;
  }
  rv = module->RegisterSelf(manager, nullptr, "kestrel-host", "native");
  module->Release();
  if (NS_FAILED(rv)) {
    why = "RegisterSelf failed: " + result_name(rv);
    return rv;
  }
  lib.registered = true;
  nsIComponentRegistrar *registrar = nullptr;
  if (NS_SUCCEEDED(NS_GetComponentRegistrar(&registrar))) {
    PRUint32 count = 0;
    char **contracts = nullptr;
    if (NS_SUCCEEDED(registrar->EnumerateContractIDs(&count, &contracts))) {
      for (PRUint32 k = 0; k < count; ++k) {
        nsCID *cid = nullptr;
        std::string cls = NS_SUCCEEDED(registrar->ContractIDToCID(contracts[k], &cid)) ? cid_text(*cid) : "?";
        NS_Free(cid);
        emit(Record("registered").str("contract", contracts[k]).str("class", cls));
        NS_Free(contracts[k]);
      }
      NS_Free(contracts);
    }
    registrar->Release();
  }
  return NS_OK;
}

}  // namespace

nsresult create_instance(Library &lib, bool by_constructor, iZelControlPoint2XPCom **result, std::string &why) {
  *result = nullptr;
  const nsIID &iid = NS_GET_IID(iZelControlPoint2XPCom);
  if (by_constructor) {
    if (lib.module == nullptr) {
      why = lib.path + " has no NSModule";
      return NS_ERROR_FAILURE;
    }
    static const nsCID kClass = KCONTROLPOINT2_CID;
    for (const xpcom::Module::CIDEntry *e = lib.module->mCIDs; e != nullptr && e->cid != nullptr; ++e) {
      if (*e->cid != kClass) continue;
      if (e->constructorProc == nullptr) {
        why = "the class entry has no constructor";
        return NS_ERROR_FAILURE;
      }
      nsresult rv = e->constructorProc(nullptr, iid, reinterpret_cast<void **>(result));
      if (NS_FAILED(rv)) why = "the constructor failed: " + result_name(rv);
      return rv;
    }
    why = std::string("the description has no class ") + KCONTROLPOINT2_CID_STR;
    return NS_ERROR_FACTORY_NOT_REGISTERED;
  }
  if (!lib.registered) {
    nsresult rv = register_module(lib, why);
    if (NS_FAILED(rv)) return rv;
  }
  nsIComponentManager *manager = nullptr;
  nsresult rv = NS_GetComponentManager(&manager);
  if (NS_FAILED(rv)) {
    why = "no component manager: " + result_name(rv);
    return rv;
  }
  rv = manager->CreateInstanceByContractID(ZEL_CONTROLPOINT2_CONTRACTID, nullptr, iid,
                                           reinterpret_cast<void **>(result));
  if (NS_FAILED(rv)) why = std::string("creating ") + ZEL_CONTROLPOINT2_CONTRACTID + " failed: " + result_name(rv);
  return rv;
}

}  // namespace host
