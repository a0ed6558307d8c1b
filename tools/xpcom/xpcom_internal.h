// Inside the layer: the process's proxy object manager, and dropping every
// registration at shutdown.
#ifndef XPCOM_INTERNAL_H
#define XPCOM_INTERNAL_H

#include "xpcom_interfaces.h"

nsIProxyObjectManager *xpcomlite_proxy_manager();
void xpcomlite_clear_components();

#endif
