// The library's module entry: the module description of the one class, the
// description itself for hosts that read it (NSModule), and the older
// protocol's entry point over it (NSGetModule).
#include "export.h"
#include "xpcom/ZelControlPoint2XPCom.h"
#include "xpcom_module.h"

namespace {

const nsCID kControlPoint2CID = KCONTROLPOINT2_CID;

const xpcom::Module::CIDEntry kControlPoint2CIDs[] = {
    {&kControlPoint2CID, false, nullptr, ZelControlPoint2XPComConstructor},
    {nullptr, false, nullptr, nullptr},
};

const xpcom::Module::ContractIDEntry kControlPointContracts[] = {
    {ZEL_CONTROLPOINT2_CONTRACTID, &kControlPoint2CID},
    {nullptr, nullptr},
};

const xpcom::Module kControlPointModule = {
    xpcom::Module::kVersion, kControlPoint2CIDs, kControlPointContracts, nullptr, nullptr, nullptr, nullptr,
};

}  // namespace

extern "C" {
KESTREL_API extern const xpcom::Module *const NSModule;
const xpcom::Module *const NSModule = &kControlPointModule;

KESTREL_API nsresult NSGetModule(nsIComponentManager *manager, nsIFile *location, nsIModule **result);
nsresult NSGetModule(nsIComponentManager *, nsIFile *, nsIModule **result) {
  return NS_NewGenericModule(&kControlPointModule, result);
}
}
