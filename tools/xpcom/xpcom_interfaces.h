// The framework interfaces a component and its host use: factories, modules
// of the older protocol, the component manager and registrar, the service
// manager, the category manager and the proxy object manager.
#ifndef XPCOM_INTERFACES_H
#define XPCOM_INTERFACES_H

#include "xpcom_supports.h"

class nsIFile;        // a module's location; never looked into here
class nsIEventQueue;  // the target of a proxy; only the main thread's exists
class nsIComponentManager;

#define NS_IFACTORY_IID \
  { 0x72e5cdd3, 0xe37f, 0x43ad, { 0x94, 0x2d, 0x03, 0x68, 0xdf, 0x70, 0xf9, 0x34 } }
class nsIFactory : public nsISupports {
 public:
  NS_DECLARE_STATIC_IID_ACCESSOR(NS_IFACTORY_IID)
  NS_IMETHOD CreateInstance(nsISupports *outer, const nsIID &iid, void **result) = 0;
  NS_IMETHOD LockFactory(PRBool lock) = 0;
};

#define NS_IMODULE_IID \
  { 0xcb39ae8e, 0x54b1, 0x4454, { 0x8c, 0x49, 0xf6, 0x9a, 0xec, 0xa4, 0xb3, 0x3a } }
class nsIModule : public nsISupports {
 public:
  NS_DECLARE_STATIC_IID_ACCESSOR(NS_IMODULE_IID)
  NS_IMETHOD GetClassObject(nsIComponentManager *manager, const nsCID &cid, const nsIID &iid, void **result) = 0;
  NS_IMETHOD RegisterSelf(nsIComponentManager *manager, nsIFile *location, const char *loader, const char *type) = 0;
  NS_IMETHOD UnregisterSelf(nsIComponentManager *manager, nsIFile *location, const char *loader) = 0;
  NS_IMETHOD CanUnload(nsIComponentManager *manager, PRBool *result) = 0;
};

#define NS_ICOMPONENTMANAGER_IID \
  { 0x7ce3c677, 0xafcf, 0x4d69, { 0x80, 0xc1, 0x41, 0x90, 0xbc, 0x0e, 0xab, 0xf1 } }
class nsIComponentManager : public nsISupports {
 public:
  NS_DECLARE_STATIC_IID_ACCESSOR(NS_ICOMPONENTMANAGER_IID)
  NS_IMETHOD GetClassObject(const nsCID &cid, const nsIID &iid, void **result) = 0;
  NS_IMETHOD GetClassObjectByContractID(const char *contract, const nsIID &iid, void **result) = 0;
  NS_IMETHOD CreateInstance(const nsCID &cid, nsISupports *outer, const nsIID &iid, void **result) = 0;
  NS_IMETHOD CreateInstanceByContractID(const char *contract, nsISupports *outer, const nsIID &iid,
                                        void **result) = 0;
};

#define NS_ICOMPONENTREGISTRAR_IID \
  { 0xea60f6a0, 0x2913, 0x4ecc, { 0x8a, 0x1f, 0xfc, 0x89, 0x17, 0xb4, 0xf6, 0xcc } }
class nsIComponentRegistrar : public nsISupports {
 public:
  NS_DECLARE_STATIC_IID_ACCESSOR(NS_ICOMPONENTREGISTRAR_IID)
  // A class and its factory; a contract (may be null) then names the class.
  NS_IMETHOD RegisterFactory(const nsCID &cid, const char *className, const char *contract,
                             nsIFactory *factory) = 0;
  NS_IMETHOD UnregisterFactory(const nsCID &cid, nsIFactory *factory) = 0;
  NS_IMETHOD IsCIDRegistered(const nsCID &cid, PRBool *result) = 0;
  NS_IMETHOD IsContractIDRegistered(const char *contract, PRBool *result) = 0;
  // *result: a new block (NS_Free) holding the class ID.
  NS_IMETHOD ContractIDToCID(const char *contract, nsCID **result) = 0;
  // Every registered contract: a new array of new strings (NS_Free each).
  NS_IMETHOD EnumerateContractIDs(PRUint32 *count, char ***contracts) = 0;
};

#define NS_ISERVICEMANAGER_IID \
  { 0x1be4e82d, 0xf778, 0x4fb2, { 0xbd, 0x78, 0x66, 0x5d, 0xfc, 0x8a, 0x57, 0xd4 } }
class nsIServiceManager : public nsISupports {
 public:
  NS_DECLARE_STATIC_IID_ACCESSOR(NS_ISERVICEMANAGER_IID)
  NS_IMETHOD GetService(const nsCID &cid, const nsIID &iid, void **result) = 0;
  NS_IMETHOD GetServiceByContractID(const char *contract, const nsIID &iid, void **result) = 0;
};

#define NS_ICATEGORYMANAGER_IID \
  { 0x3d467196, 0x5b35, 0x4da8, { 0x93, 0xac, 0x52, 0xb4, 0xbc, 0xfd, 0xe4, 0xc3 } }
class nsICategoryManager : public nsISupports {
 public:
  NS_DECLARE_STATIC_IID_ACCESSOR(NS_ICATEGORYMANAGER_IID)
  // *value: a new string (NS_Free); NS_ERROR_NOT_AVAILABLE without entry.
  NS_IMETHOD GetCategoryEntry(const char *category, const char *entry, char **value) = 0;
  NS_IMETHOD AddCategoryEntry(const char *category, const char *entry, const char *value, PRBool persist,
                              PRBool replace, char **previous) = 0;
  NS_IMETHOD DeleteCategoryEntry(const char *category, const char *entry, PRBool persist) = 0;
};

// Proxy types: a synchronous call (the caller waits until the call ran on
// the target), an asynchronous one, and "always proxied" (also when the
// caller is the target thread already).
#define PROXY_SYNC 0x0001
#define PROXY_ASYNC 0x0002
#define PROXY_ALWAYS 0x0004
// The target queue of the host's main thread.
#define NS_UI_THREAD_EVENTQ (reinterpret_cast<nsIEventQueue *>(0))

#define NS_IPROXYOBJECTMANAGER_IID \
  { 0xc50a51bf, 0x6070, 0x43e0, { 0xb2, 0x04, 0xe5, 0x1b, 0x3b, 0x79, 0x50, 0x4e } }
class nsIProxyObjectManager : public nsISupports {
 public:
  NS_DECLARE_STATIC_IID_ACCESSOR(NS_IPROXYOBJECTMANAGER_IID)
  // *result: a proxy of object for the interface iid (one reference).
  NS_IMETHOD GetProxyForObject(nsIEventQueue *target, const nsIID &iid, nsISupports *object, PRInt32 type,
                               void **result) = 0;
};

#define NS_PROXYOBJECTMANAGER_CONTRACTID "@xpcomlite/proxy-object-manager;1"
#define NS_CATEGORYMANAGER_CONTRACTID "@xpcomlite/category-manager;1"
#define NS_PROXYOBJECTMANAGER_CID \
  { 0xec30220a, 0x242a, 0x4d63, { 0x89, 0xf5, 0x17, 0xb3, 0x47, 0x1f, 0xf8, 0x36 } }
#define NS_CATEGORYMANAGER_CID \
  { 0xb8f969b2, 0x3638, 0x4f50, { 0xa2, 0x36, 0xb9, 0x2d, 0xdd, 0x52, 0xc4, 0xa6 } }

extern "C" {
// The process's service manager (one reference), NS_ERROR_NOT_INITIALIZED
// before NS_InitXPCOM and after NS_ShutdownXPCOM.
XPCOM_API nsresult NS_GetServiceManager(nsIServiceManager **result);
// The component manager, which is also the registrar (one reference).
XPCOM_API nsresult NS_GetComponentManager(nsIComponentManager **result);
XPCOM_API nsresult NS_GetComponentRegistrar(nsIComponentRegistrar **result);
}

#endif
