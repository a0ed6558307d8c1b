// The component's way to the control point and its devices: each method
// holds what it looked up for its own length, so a device that leaves
// meanwhile stays valid until the method is done with it.
#ifndef KESTREL_XPCOM_ZELCONTROLPOINT2XPCOMLOOKUP_H
#define KESTREL_XPCOM_ZELCONTROLPOINT2XPCOMLOOKUP_H

#include <memory>

#include "media/zel_control_point.h"
#include "xpcom_supports.h"

// The singleton, or none with *rv NS_ERROR_NOT_AVAILABLE (the controller
// did not start, or the control point was cleaned up).
ZelControlPoint2 *zel_xpcom_control_point(nsresult *rv);
// The listed device of that bookmark, or none with *rv set:
// NS_ERROR_INVALID_ARG for a null or unknown bookmark, NS_ERROR_NOT_AVAILABLE
// without a control point.
std::shared_ptr<ZelMediaRenderer2> zel_xpcom_renderer(const char *bookmark, nsresult *rv);
std::shared_ptr<ZelMediaServer2> zel_xpcom_server(const char *bookmark, nsresult *rv);

// The info strings of the component ("%s^%s^%s^%d" for devices,
// "%s^%s^%s^%s^%s" for music items); missing fields are empty.
std::string zel_xpcom_server_info(ZelMediaServer2 *server);
std::string zel_xpcom_renderer_info(ZelMediaRenderer2 *renderer);
std::string zel_xpcom_item_info(ZelMediaItem2 *item);

// Registers the component's control point handler (once per singleton).
void zel_xpcom_register_control_point_handler(ZelControlPoint2 *cp);

#endif
