#include "x11_library.h"

#include <dlfcn.h>

namespace zel::x11 {

namespace {

template <typename Function>
bool Resolve(void* library, const char* name, Function& function) {
  function = reinterpret_cast<Function>(::dlsym(library, name));
  return function != nullptr;
}

bool BindCore(void* xcb, XcbLibrary& lib) {
  bool ok = true;
  ok &= Resolve(xcb, "xcb_connect", lib.connect);
  ok &= Resolve(xcb, "xcb_connection_has_error", lib.connection_has_error);
  ok &= Resolve(xcb, "xcb_disconnect", lib.disconnect);
  ok &= Resolve(xcb, "xcb_flush", lib.flush);
  ok &= Resolve(xcb, "xcb_get_setup", lib.get_setup);
  ok &= Resolve(xcb, "xcb_setup_roots_iterator", lib.setup_roots_iterator);
  ok &= Resolve(xcb, "xcb_screen_next", lib.screen_next);
  ok &= Resolve(xcb, "xcb_get_extension_data", lib.get_extension_data);
  ok &= Resolve(xcb, "xcb_intern_atom", lib.intern_atom);
  ok &= Resolve(xcb, "xcb_intern_atom_reply", lib.intern_atom_reply);
  ok &= Resolve(xcb, "xcb_query_tree", lib.query_tree);
  ok &= Resolve(xcb, "xcb_query_tree_reply", lib.query_tree_reply);
  ok &= Resolve(xcb, "xcb_query_tree_children", lib.query_tree_children);
  ok &= Resolve(xcb, "xcb_query_tree_children_length", lib.query_tree_children_length);
  ok &= Resolve(xcb, "xcb_get_property", lib.get_property);
  ok &= Resolve(xcb, "xcb_get_property_reply", lib.get_property_reply);
  ok &= Resolve(xcb, "xcb_get_property_value", lib.get_property_value);
  ok &= Resolve(xcb, "xcb_get_property_value_length", lib.get_property_value_length);
  ok &= Resolve(xcb, "xcb_get_window_attributes", lib.get_window_attributes);
  ok &= Resolve(xcb, "xcb_get_window_attributes_reply", lib.get_window_attributes_reply);
  ok &= Resolve(xcb, "xcb_get_input_focus", lib.get_input_focus);
  ok &= Resolve(xcb, "xcb_get_input_focus_reply", lib.get_input_focus_reply);
  ok &= Resolve(xcb, "xcb_send_event", lib.send_event);
  ok &= Resolve(xcb, "xcb_set_input_focus", lib.set_input_focus);
  ok &= Resolve(xcb, "xcb_map_window", lib.map_window);
  ok &= Resolve(xcb, "xcb_unmap_window", lib.unmap_window);
  ok &= Resolve(xcb, "xcb_configure_window", lib.configure_window);
  ok &= Resolve(xcb, "xcb_destroy_window", lib.destroy_window);
  ok &= Resolve(xcb, "xcb_change_property", lib.change_property);
  return ok;
}

void BindResource(void* res, XcbLibrary& lib) {
  XcbLibrary bound = lib;
  bool ok = Resolve(res, "xcb_res_id", bound.res_id);
  ok &= Resolve(res, "xcb_res_query_version", bound.res_query_version);
  ok &= Resolve(res, "xcb_res_query_version_reply", bound.res_query_version_reply);
  ok &= Resolve(res, "xcb_res_query_client_ids", bound.res_query_client_ids);
  ok &= Resolve(res, "xcb_res_query_client_ids_reply", bound.res_query_client_ids_reply);
  ok &= Resolve(res, "xcb_res_query_client_ids_ids_iterator",
                bound.res_query_client_ids_ids_iterator);
  ok &= Resolve(res, "xcb_res_client_id_value_next", bound.res_client_id_value_next);
  ok &= Resolve(res, "xcb_res_client_id_value_value", bound.res_client_id_value_value);
  ok &=
      Resolve(res, "xcb_res_client_id_value_value_length", bound.res_client_id_value_value_length);
  if (ok) lib = bound;
}

}  // namespace

const XcbLibrary* BindXcb() {
  // Bound once and kept for the life of the process: the libraries are
  // never unloaded, so the function pointers stay valid.
  static const XcbLibrary* const bound = []() -> const XcbLibrary* {
    void* xcb = ::dlopen("libxcb.so.1", RTLD_NOW | RTLD_LOCAL);
    if (xcb == nullptr) return nullptr;
    static XcbLibrary lib;
    if (!BindCore(xcb, lib)) {
      ::dlclose(xcb);
      return nullptr;
    }
    if (void* res = ::dlopen("libxcb-res.so.0", RTLD_NOW | RTLD_LOCAL)) BindResource(res, lib);
    return &lib;
  }();
  return bound;
}

}  // namespace zel::x11
