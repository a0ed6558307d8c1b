// The component object's frame: construction, reference counting,
// interface lookup, the observer slots and the destructor's release of the
// observers.
#include "xpcom/ZelControlPoint2XPCom.h"

#include <new>

#include "xpcom/ZelControlPoint2XPComLookup.h"
#include "xpcom/zel_xpcom_foundation.h"

PRUint32 ZelControlPoint2XPCom::s_slideshowInterval = 5;
ZelXPComObserverList ZelControlPoint2XPCom::s_ControlPointEventObserverArray;
ZelXPComObserverList ZelControlPoint2XPCom::s_RendererEventObserverArray;

ZelControlPoint2XPCom::ZelControlPoint2XPCom() : m_refCount(0) {
  // The first component starts the controller; without it (it refused to
  // start, or was cleaned up) the device methods answer
  // NS_ERROR_NOT_AVAILABLE.
  // The configuration store first, with the component's ini file, so that
  // the controller starts on it.
  zel_xpcom_foundation_ready();
  ZelControlPoint2::Init();
  zel_xpcom_register_control_point_handler(ZelControlPoint2::GetInstance());
}

ZelControlPoint2XPCom::~ZelControlPoint2XPCom() {
  // The lists are shared by every instance; destroying any instance ends
  // every registration.
  s_ControlPointEventObserverArray.Clear();
  s_RendererEventObserverArray.Clear();
}

NS_IMETHODIMP ZelControlPoint2XPCom::QueryInterface(const nsIID &iid, void **result) {
  if (result == nullptr) return NS_ERROR_NULL_POINTER;
  *result = nullptr;
  if (iid != NS_GET_IID(iZelControlPoint2XPCom) && iid != NS_GET_IID(nsISupports)) return NS_NOINTERFACE;
  AddRef();
  *result = static_cast<iZelControlPoint2XPCom *>(this);
  return NS_OK;
}

NS_IMETHODIMP_(nsrefcnt) ZelControlPoint2XPCom::AddRef() { return ++m_refCount; }

NS_IMETHODIMP_(nsrefcnt) ZelControlPoint2XPCom::Release() {
  if (m_refCount == 0) return 0;  // an extra release must not destroy twice
  if (--m_refCount != 0) return m_refCount;
  m_refCount = 1;  // calls made while destroying cannot reach zero again
  delete this;
  return 0;
}

NS_IMETHODIMP ZelControlPoint2XPCom::AddControlPointObserver(iZelControlPoint2XPComObserver *observer) {
  if (observer == nullptr) return NS_ERROR_INVALID_ARG;
  s_ControlPointEventObserverArray.Add(observer);
  return NS_OK;
}

NS_IMETHODIMP ZelControlPoint2XPCom::RemoveControlPointObserver(iZelControlPoint2XPComObserver *observer) {
  if (observer == nullptr) return NS_ERROR_INVALID_ARG;
  s_ControlPointEventObserverArray.Remove(observer);
  return NS_OK;
}

NS_IMETHODIMP ZelControlPoint2XPCom::AddRendererObserver(iZelControlPoint2XPComObserver *observer) {
  if (observer == nullptr) return NS_ERROR_INVALID_ARG;
  s_RendererEventObserverArray.Add(observer);
  return NS_OK;
}

NS_IMETHODIMP ZelControlPoint2XPCom::RemoveRendererObserver(iZelControlPoint2XPComObserver *observer) {
  if (observer == nullptr) return NS_ERROR_INVALID_ARG;
  s_RendererEventObserverArray.Remove(observer);
  return NS_OK;
}

nsresult ZelControlPoint2XPComConstructor(nsISupports *outer, const nsIID &iid, void **result) {
  if (result == nullptr) return NS_ERROR_NULL_POINTER;
  *result = nullptr;
  if (outer != nullptr) return NS_ERROR_NO_AGGREGATION;
  auto *component = new (std::nothrow) ZelControlPoint2XPCom();
  if (component == nullptr) return NS_ERROR_OUT_OF_MEMORY;
  component->AddRef();
  nsresult rv = component->QueryInterface(iid, result);
  component->Release();
  return rv;
}

NS_IMETHODIMP ZelControlPoint2XPCom::SetSlideshowInterval(PRUint32 seconds) {
  s_slideshowInterval = seconds;
  return NS_OK;
}
