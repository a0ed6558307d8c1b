// The X client library (libxcb, and libxcb-res for the X-Resource
// extension), bound by name at run time: zel needs no X package to build or
// to start, and where there is no library it sees no windows.
#pragma once

#include "x11_protocol.h"

namespace zel::x11 {

struct XcbLibrary {
  xcb::ConnectFn connect = nullptr;
  xcb::ConnectionHasErrorFn connection_has_error = nullptr;
  xcb::DisconnectFn disconnect = nullptr;
  xcb::FlushFn flush = nullptr;
  xcb::GetSetupFn get_setup = nullptr;
  xcb::SetupRootsIteratorFn setup_roots_iterator = nullptr;
  xcb::ScreenNextFn screen_next = nullptr;
  xcb::GetExtensionDataFn get_extension_data = nullptr;
  xcb::InternAtomFn intern_atom = nullptr;
  xcb::InternAtomReplyFn intern_atom_reply = nullptr;
  xcb::QueryTreeFn query_tree = nullptr;
  xcb::QueryTreeReplyFn query_tree_reply = nullptr;
  xcb::QueryTreeChildrenFn query_tree_children = nullptr;
  xcb::QueryTreeChildrenLengthFn query_tree_children_length = nullptr;
  xcb::GetPropertyFn get_property = nullptr;
  xcb::GetPropertyReplyFn get_property_reply = nullptr;
  xcb::GetPropertyValueFn get_property_value = nullptr;
  xcb::GetPropertyValueLengthFn get_property_value_length = nullptr;
  xcb::GetWindowAttributesFn get_window_attributes = nullptr;
  xcb::GetWindowAttributesReplyFn get_window_attributes_reply = nullptr;
  xcb::GetInputFocusFn get_input_focus = nullptr;
  xcb::GetInputFocusReplyFn get_input_focus_reply = nullptr;
  xcb::SendEventFn send_event = nullptr;
  xcb::SetInputFocusFn set_input_focus = nullptr;
  xcb::WindowRequestFn map_window = nullptr;
  xcb::WindowRequestFn unmap_window = nullptr;
  xcb::WindowRequestFn destroy_window = nullptr;
  xcb::ConfigureWindowFn configure_window = nullptr;
  xcb::ChangePropertyFn change_property = nullptr;

  // X-Resource: the client's process ID as the server knows it (optional).
  xcb::Extension* res_id = nullptr;
  xcb::ResQueryVersionFn res_query_version = nullptr;
  xcb::ResQueryVersionReplyFn res_query_version_reply = nullptr;
  xcb::ResQueryClientIdsFn res_query_client_ids = nullptr;
  xcb::ResQueryClientIdsReplyFn res_query_client_ids_reply = nullptr;
  xcb::ResQueryClientIdsIdsIteratorFn res_query_client_ids_ids_iterator = nullptr;
  xcb::ResClientIdValueNextFn res_client_id_value_next = nullptr;
  xcb::ResClientIdValueValueFn res_client_id_value_value = nullptr;
  xcb::ResClientIdValueValueLengthFn res_client_id_value_value_length = nullptr;

  bool HasResource() const { return res_client_id_value_value_length != nullptr; }
};

// Loads and binds the libraries once per process; nullptr when libxcb or
// one of its functions is missing. The X-Resource part stays empty when
// libxcb-res is missing.
const XcbLibrary* BindXcb();

}  // namespace zel::x11
