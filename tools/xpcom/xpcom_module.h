// A module description: what a component library offers (its classes, the
// contracts naming them, category entries), read by a host directly through
// the exported NSModule or wrapped by the glue's generic module for hosts of
// the older NSGetModule protocol.
#ifndef XPCOM_MODULE_H
#define XPCOM_MODULE_H

#include "xpcom_interfaces.h"

namespace xpcom {

struct Module {
  // The version of this record's layout; a host refuses any other.
  static const unsigned int kVersion = 8;

  typedef nsresult (*ConstructorProcPtr)(nsISupports *outer, const nsIID &iid, void **result);
  typedef nsresult (*LoadFuncPtr)();
  typedef void (*UnloadFuncPtr)();

  struct CIDEntry;
  typedef nsIFactory *(*GetFactoryProcPtr)(const Module &module, const CIDEntry &entry);

  // A class; the table ends with an entry whose cid is null.
  struct CIDEntry {
    const nsCID *cid;
    bool service;
    GetFactoryProcPtr getFactoryProc;
    ConstructorProcPtr constructorProc;
  };
  // A contract naming a class; the table ends with a null contract.
  struct ContractIDEntry {
    const char *contractid;
    const nsCID *cid;
  };
  // The table ends with a null category.
  struct CategoryEntry {
    const char *category;
    const char *entry;
    const char *value;
  };

  unsigned int mVersion;
  const CIDEntry *mCIDs;
  const ContractIDEntry *mContractIDs;
  const CategoryEntry *mCategoryEntries;
  GetFactoryProcPtr getFactoryProc;
  LoadFuncPtr loadProc;
  UnloadFuncPtr unloadProc;
};

}  // namespace xpcom

// The entry point of the older protocol, exported by a component library.
typedef nsresult (*nsGetModuleProc)(nsIComponentManager *manager, nsIFile *location, nsIModule **result);

// The glue compiled into a component (static library xpcomlite_glue): a
// generic module over a description, whose RegisterSelf registers a generic
// factory per class (with its contract) with the registrar, and whose
// factories create through the class's constructor.
nsresult NS_NewGenericModule(const xpcom::Module *description, nsIModule **result);
nsresult NS_NewGenericFactory(xpcom::Module::ConstructorProcPtr constructor, nsIFactory **result);

#endif
