// The upload call of the web API. The upload into media servers is not part
// of this build yet: the call answers "not found" (and makes no callback
// call) until it joins; tests put a transfer of their own in its place.
#include "webapi/webapi_upload_link.h"

#include <atomic>

namespace {

lm_nmc_result_t not_built(uint32_t, void *, const char *, const char *, uint32_t, webapi_upload_callback, uint32_t,
                          char *bookmark, uint64_t) {
  if (bookmark) bookmark[0] = '\0';
  return LM_NMC_NOT_FOUND;
}

// Replaced by tests between requests, read by request threads.
std::atomic<webapi_upload_function> g_function{not_built};

}  // namespace

lm_nmc_result_t webapi_dmscp_upload(uint32_t context, void *user_data, const char *title, const char *protocol_info,
                                    uint32_t block_size, webapi_upload_callback callback, uint32_t bookmark_size,
                                    char *bookmark, uint64_t content_length) {
  return g_function.load()(context, user_data, title, protocol_info, block_size, callback, bookmark_size, bookmark,
                           content_length);
}

void webapi_upload_set_function(webapi_upload_function function) {
  g_function.store(function ? function : not_built);
}
