// nsISupports: reference counting and interface lookup, the base of every
// interface.
#ifndef XPCOM_SUPPORTS_H
#define XPCOM_SUPPORTS_H

#include "xpcom_id.h"

#define NS_ISUPPORTS_IID \
  { 0x00000000, 0x0000, 0x0000, { 0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46 } }

class nsISupports {
 public:
  NS_DECLARE_STATIC_IID_ACCESSOR(NS_ISUPPORTS_IID)

  NS_IMETHOD QueryInterface(const nsIID &iid, void **result) = 0;
  NS_IMETHOD_(nsrefcnt) AddRef() = 0;
  NS_IMETHOD_(nsrefcnt) Release() = 0;
};

#endif
