// Lookup of the controller's exported functions and the words for their
// result codes.
#include "host_nmc_api.h"

#include <dlfcn.h>

namespace host {

namespace {

template <typename F>
bool find(void *handle, const char *name, F &fn, std::string &why) {
  fn = reinterpret_cast<F>(dlsym(handle, name));
  if (fn == nullptr && why.empty()) why = std::string("the library does not export ") + name;
  return fn != nullptr;
}

}  // namespace

bool NmcApi::resolve(const Library &lib, std::string &why) {
  why.clear();
  void *h = lib.handle;
  bool ok = find(h, "lm_dmscp_create_context", dms_create, why);
  ok = find(h, "lm_dmscp_delete_context", dms_delete, why) && ok;
  ok = find(h, "lm_dmscp_go_home", dms_go_home, why) && ok;
  ok = find(h, "lm_dmscp_go_index", dms_go_index, why) && ok;
  ok = find(h, "lm_dmscp_get_count", dms_get_count, why) && ok;
  ok = find(h, "lm_dmscp_is_directory", dms_is_directory, why) && ok;
  ok = find(h, "lm_dmscp_go_directory", dms_go_directory, why) && ok;
  ok = find(h, "lm_dmscp_go_parent", dms_go_parent, why) && ok;
  ok = find(h, "lm_dmscp_get_level", dms_get_level, why) && ok;
  ok = find(h, "lm_dmscp_get_levelname", dms_get_levelname, why) && ok;
  ok = find(h, "lm_dmscp_go_bookmark", dms_go_bookmark, why) && ok;
  ok = find(h, "lm_dmscp_extract_metadata", dms_extract, why) && ok;
  ok = find(h, "lm_dmrcp_create_context", dmr_create, why) && ok;
  ok = find(h, "lm_dmrcp_delete_context", dmr_delete, why) && ok;
  ok = find(h, "lm_dmrcp_go_bookmark", dmr_go_bookmark, why) && ok;
  ok = find(h, "lm_dmrcp_get_state", dmr_get_state, why) && ok;
  ok = find(h, "lm_dmrcp_seek_time", dmr_seek_time, why) && ok;
  ok = find(h, "lm_dmrcp_seek_percent", dmr_seek_percent, why) && ok;
  std::string optional;
  find(h, "lm_dmrcp_ioctl", dmr_ioctl, optional);
  return ok;
}

std::string nmc_result_words(uint32_t code) {
  const char *what = nullptr;
  switch (code) {
    case 0: what = "done"; break;
    case 1: what = "no such entry"; break;
    case 2: what = "invalid parameter"; break;
    case 7: what = "not a container: an item cannot be opened"; break;
    case 8: what = "out of memory"; break;
    case 9: what = "not found: the device or object is gone, or the bookmark is no longer valid"; break;
    case 10: what = "the answer did not fit"; break;
    case 11: what = "the controller is not running"; break;
    case 22: what = "no free context"; break;
    case 401: what = "the device refused: invalid action"; break;
    case 402: what = "the device refused: invalid arguments"; break;
    case 501: what = "the device failed the action"; break;
    case 701: what = "the renderer cannot do that in its current state"; break;
    case 710: what = "the renderer refused the seek mode"; break;
    case 711: what = "the renderer refused the seek target"; break;
    case 714: what = "the renderer does not take this format"; break;
    case 716: what = "the renderer could not fetch the resource"; break;
    default: break;
  }
  std::string number = std::to_string(code);
  if (what != nullptr) return std::string(what) + " (code " + number + ")";
  if (code >= 400 && code < 1000) return "the device refused with UPnP error " + number;
  return "controller error " + number;
}

}  // namespace host
