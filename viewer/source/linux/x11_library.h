// The X client library (libxcb, and libxcb-res for the X-Resource
// extension), bound by name at run time: zel needs no X library to start,
// and where there is none it sees no windows, as before windows were read.
#pragma once

#include <xcb/res.h>
#include <xcb/xcb.h>

namespace zel::x11 {

struct XcbLibrary {
  decltype(&xcb_connect) connect = nullptr;
  decltype(&xcb_connection_has_error) connection_has_error = nullptr;
  decltype(&xcb_disconnect) disconnect = nullptr;
  decltype(&xcb_flush) flush = nullptr;
  decltype(&xcb_get_setup) get_setup = nullptr;
  decltype(&xcb_setup_roots_iterator) setup_roots_iterator = nullptr;
  decltype(&xcb_get_extension_data) get_extension_data = nullptr;
  decltype(&xcb_intern_atom) intern_atom = nullptr;
  decltype(&xcb_intern_atom_reply) intern_atom_reply = nullptr;
  decltype(&xcb_query_tree) query_tree = nullptr;
  decltype(&xcb_query_tree_reply) query_tree_reply = nullptr;
  decltype(&xcb_query_tree_children) query_tree_children = nullptr;
  decltype(&xcb_query_tree_children_length) query_tree_children_length = nullptr;
  decltype(&xcb_get_property) get_property = nullptr;
  decltype(&xcb_get_property_reply) get_property_reply = nullptr;
  decltype(&xcb_get_property_value) get_property_value = nullptr;
  decltype(&xcb_get_property_value_length) get_property_value_length = nullptr;
  decltype(&xcb_get_window_attributes) get_window_attributes = nullptr;
  decltype(&xcb_get_window_attributes_reply) get_window_attributes_reply = nullptr;
  decltype(&xcb_get_input_focus) get_input_focus = nullptr;
  decltype(&xcb_get_input_focus_reply) get_input_focus_reply = nullptr;
  decltype(&xcb_send_event) send_event = nullptr;
  decltype(&xcb_set_input_focus) set_input_focus = nullptr;
  decltype(&xcb_map_window) map_window = nullptr;
  decltype(&xcb_unmap_window) unmap_window = nullptr;
  decltype(&xcb_configure_window) configure_window = nullptr;
  decltype(&xcb_destroy_window) destroy_window = nullptr;
  decltype(&xcb_change_property) change_property = nullptr;

  // X-Resource: the client's process ID as the server knows it (optional).
  xcb_extension_t* res_id = nullptr;
  decltype(&xcb_res_query_version) res_query_version = nullptr;
  decltype(&xcb_res_query_version_reply) res_query_version_reply = nullptr;
  decltype(&xcb_res_query_client_ids) res_query_client_ids = nullptr;
  decltype(&xcb_res_query_client_ids_reply) res_query_client_ids_reply = nullptr;
  decltype(&xcb_res_query_client_ids_ids_iterator) res_query_client_ids_ids_iterator = nullptr;
  decltype(&xcb_res_client_id_value_next) res_client_id_value_next = nullptr;
  decltype(&xcb_res_client_id_value_value) res_client_id_value_value = nullptr;
  decltype(&xcb_res_client_id_value_value_length) res_client_id_value_value_length = nullptr;

  bool HasResource() const { return res_client_id_value_value_length != nullptr; }
};

// Loads and binds the libraries once per process; nullptr when libxcb or
// one of its functions is missing. The X-Resource part stays empty when
// libxcb-res is missing.
const XcbLibrary* BindXcb();

}  // namespace zel::x11
