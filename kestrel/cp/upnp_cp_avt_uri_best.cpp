// The best-choice forms of sending: the object's metadata (browsed from its
// server or given as text), the `res` the renderer plays best, and its URL
// sent with the object's metadata.
#include <cstring>

#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "base/upnp_xml_write.h"
#include "cp/upnp_cp.h"
#include "cp/upnp_cp_avt_uri.h"
#include "cp/upnp_cp_res.h"
#include "cp/upnp_soap.h"

namespace {

// Sends the chosen res of `tree` and hands tree and res out on success
// (releases the tree otherwise).
int send_choice(int index, int next, upnp_xml_node *tree, upnp_xml_node *res, upnp_xml_node **tree_out,
                upnp_xml_node **res_out) {
  int result = UPNP_CP_OK;
  if (res == nullptr || res->value == nullptr || res->value[0] == '\0') result = UPNP_CP_NOT_FOUND;
  char *metadata = nullptr;
  if (result == UPNP_CP_OK) {
    // The tree, not the server's text: it may hold a res made for this
    // renderer (a scaled-up picture).
    upnp_string *written = upnp_xml_tree_to_string_valid(tree, 0, 0);
    metadata = upnp_string_copy_cstring(written);
    upnp_string_free(written);
    if (metadata == nullptr) result = UPNP_CP_OUT_OF_MEMORY;
  }
  if (result == UPNP_CP_OK) result = putAVTransportURI(index, next, res->value, metadata);
  upnp_free_impl(metadata);
  if (result == UPNP_CP_OK && tree_out != nullptr) {
    *tree_out = tree;
    if (res_out != nullptr) *res_out = res;
  } else {
    upnp_xml_release(tree);
  }
  return result;
}

void clear(upnp_xml_node **tree_out, upnp_xml_node **res_out) {
  if (tree_out != nullptr) *tree_out = nullptr;
  if (res_out != nullptr) *res_out = nullptr;
}

}  // namespace

extern "C" int upnp_cp_set_best_AVTransportURI(int index, int next, int server, const char *object_id,
                                               upnp_xml_node **tree_out, upnp_xml_node **res_out) {
  clear(tree_out, res_out);
  if (object_id == nullptr) return UPNP_CP_INVALID_PARAMETER;
  const char *filter = upnp_cp_is_reduced_filter_renderer(index) ? upnp_cp_reduced_filter : "*";
  upnp_xml_node *tree = nullptr;
  upnp_xml_node *res = nullptr;
  int result = upnp_cp_get_supported_res2(index, server, object_id, filter, &tree, &res, nullptr);
  if (result != UPNP_CP_OK) {
    upnp_log_impl(LOG_LEVEL_INFO, LOG_SYSTEM, __func__, "No playable resource of object %s for renderer %d: %s",
                  object_id, index, upnp_get_errmsg(result));
    return result;
  }
  return send_choice(index, next, tree, res, tree_out, res_out);
}

extern "C" int upnp_cp_put_best_AVTransportURI(int index, int server, const char *object_id,
                                               upnp_xml_node **tree_out, upnp_xml_node **res_out) {
  return upnp_cp_set_best_AVTransportURI(index, 0, server, object_id, tree_out, res_out);
}

extern "C" int upnp_cp_put_best_NextAVTransportURI(int index, int server, const char *object_id,
                                                   upnp_xml_node **tree_out, upnp_xml_node **res_out) {
  return upnp_cp_set_best_AVTransportURI(index, 1, server, object_id, tree_out, res_out);
}

extern "C" int upnp_cp_put_best_AVTransportURI2(int index, int next, const char *didl, upnp_xml_node **tree_out,
                                                upnp_xml_node **res_out) {
  clear(tree_out, res_out);
  char *plain = nullptr;
  int result = upnp_cp_metadata_plain(didl, &plain);
  if (result != UPNP_CP_OK) return result;
  upnp_xml_node *tree = nullptr;
  upnp_xml_node *res = nullptr;
  result = upnp_cp_get_supported_res4(index, plain, &tree, &res);
  upnp_free_impl(plain);
  if (result != UPNP_CP_OK) {
    upnp_log_impl(LOG_LEVEL_INFO, LOG_SYSTEM, __func__, "No playable resource for renderer %d: %s", index,
                  upnp_get_errmsg(result));
    return result;
  }
  return send_choice(index, next, tree, res, tree_out, res_out);
}

extern "C" int upnp_cp_play_best_AVTransportURI3(int index, const char *didl, upnp_xml_node **tree_out,
                                                 upnp_xml_node **res_out) {
  int result = upnp_cp_put_best_AVTransportURI2(index, 0, didl, tree_out, res_out);
  if (result != UPNP_CP_OK) return result;
  result = upnp_play(index);
  if (result != UPNP_CP_OK) {
    if (tree_out != nullptr) {
      upnp_xml_release(*tree_out);
      clear(tree_out, res_out);
    }
  }
  return result;
}
