// zel's own declarations of the X C binding against the binding's headers
// (layouts and values, at compile time), and the binding by name against
// the installed libraries.
#include <gtest/gtest.h>
#include <xcb/res.h>
#include <xcb/xcb.h>

#include <cstddef>

#include "source/linux/x11_library.h"

namespace zel::x11 {
namespace {

#define ZEL_SAME_FIELD(ours, theirs, field, their_field)                       \
  static_assert(offsetof(xcb::ours, field) == offsetof(theirs, their_field) && \
                sizeof(xcb::ours::field) == sizeof(theirs::their_field))
#define ZEL_SAME_SIZE(ours, theirs) static_assert(sizeof(xcb::ours) == sizeof(theirs))

ZEL_SAME_FIELD(Setup, xcb_setup_t, resource_id_mask, resource_id_mask);
ZEL_SAME_FIELD(Screen, xcb_screen_t, root, root);
ZEL_SAME_SIZE(ScreenIterator, xcb_screen_iterator_t);
ZEL_SAME_FIELD(ScreenIterator, xcb_screen_iterator_t, rem, rem);
ZEL_SAME_SIZE(Cookie, xcb_get_property_cookie_t);
ZEL_SAME_SIZE(InternAtomReply, xcb_intern_atom_reply_t);
ZEL_SAME_FIELD(InternAtomReply, xcb_intern_atom_reply_t, atom, atom);
ZEL_SAME_SIZE(GetPropertyReply, xcb_get_property_reply_t);
ZEL_SAME_FIELD(GetPropertyReply, xcb_get_property_reply_t, format, format);
ZEL_SAME_FIELD(GetPropertyReply, xcb_get_property_reply_t, type, type);
ZEL_SAME_SIZE(GetWindowAttributesReply, xcb_get_window_attributes_reply_t);
ZEL_SAME_FIELD(GetWindowAttributesReply, xcb_get_window_attributes_reply_t, map_state, map_state);
ZEL_SAME_FIELD(GetWindowAttributesReply, xcb_get_window_attributes_reply_t, override_redirect,
               override_redirect);
ZEL_SAME_SIZE(QueryExtensionReply, xcb_query_extension_reply_t);
ZEL_SAME_FIELD(QueryExtensionReply, xcb_query_extension_reply_t, present, present);
ZEL_SAME_SIZE(ResQueryVersionReply, xcb_res_query_version_reply_t);
ZEL_SAME_FIELD(ResQueryVersionReply, xcb_res_query_version_reply_t, server_minor, server_minor);
ZEL_SAME_SIZE(ResClientIdSpec, xcb_res_client_id_spec_t);
ZEL_SAME_SIZE(ResClientIdValue, xcb_res_client_id_value_t);
ZEL_SAME_FIELD(ResClientIdValue, xcb_res_client_id_value_t, length, length);
ZEL_SAME_SIZE(ResClientIdValueIterator, xcb_res_client_id_value_iterator_t);
ZEL_SAME_SIZE(ClientMessageEvent, xcb_client_message_event_t);
ZEL_SAME_FIELD(ClientMessageEvent, xcb_client_message_event_t, type, type);
ZEL_SAME_FIELD(ClientMessageEvent, xcb_client_message_event_t, data32, data);

static_assert(xcb::kAtomAtom == XCB_ATOM_ATOM && xcb::kAtomCardinal == XCB_ATOM_CARDINAL &&
              xcb::kAtomString == XCB_ATOM_STRING && xcb::kAtomWindow == XCB_ATOM_WINDOW &&
              xcb::kAtomWmName == XCB_ATOM_WM_NAME &&
              xcb::kAtomWmTransientFor == XCB_ATOM_WM_TRANSIENT_FOR &&
              xcb::kAnyPropertyType == XCB_GET_PROPERTY_TYPE_ANY);
static_assert(xcb::kMapStateViewable == XCB_MAP_STATE_VIEWABLE &&
              xcb::kClientMessage == XCB_CLIENT_MESSAGE &&
              xcb::kNoEventMask == XCB_EVENT_MASK_NO_EVENT &&
              xcb::kSubstructureNotifyMask == XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY &&
              xcb::kSubstructureRedirectMask == XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT);
static_assert(xcb::kConfigStackMode == XCB_CONFIG_WINDOW_STACK_MODE &&
              xcb::kStackModeAbove == XCB_STACK_MODE_ABOVE &&
              xcb::kInputFocusPointerRoot == XCB_INPUT_FOCUS_POINTER_ROOT &&
              xcb::kCurrentTime == XCB_CURRENT_TIME &&
              xcb::kPropModeReplace == XCB_PROP_MODE_REPLACE &&
              xcb::kResLocalClientPidMask == XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID);

TEST(X11Protocol, EveryFunctionIsBoundByName) {
  // The headers came with the libraries (scripts/setup x11): every name
  // must be found, X-Resource included.
  const XcbLibrary* lib = BindXcb();
  ASSERT_NE(lib, nullptr);
  EXPECT_TRUE(lib->HasResource());
  EXPECT_NE(lib->res_id, nullptr);
}

}  // namespace
}  // namespace zel::x11
