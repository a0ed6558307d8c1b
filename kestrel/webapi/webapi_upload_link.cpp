// The upload call of the web API: the upload into media servers
// (lm_dmscp_upload); tests put a transfer of their own in its place.
#include "webapi/webapi_upload_link.h"

#include <atomic>

#include "playlist/lm_dmscp_upload.h"

static_assert(WEBAPI_UPLOAD_ABORT == LM_DMSCP_UPLOAD_ABORT, "one abort value on both sides");

namespace {

lm_nmc_result_t upload(uint32_t context, void *user_data, const char *title, const char *protocol_info,
                       uint32_t block_size, webapi_upload_callback callback, uint32_t bookmark_size, char *bookmark,
                       uint64_t content_length) {
  return lm_dmscp_upload(context, user_data, title, protocol_info, block_size, callback, bookmark_size, bookmark,
                         content_length);
}

// Replaced by tests between requests, read by request threads.
std::atomic<webapi_upload_function> g_function{upload};

}  // namespace

lm_nmc_result_t webapi_dmscp_upload(uint32_t context, void *user_data, const char *title, const char *protocol_info,
                                    uint32_t block_size, webapi_upload_callback callback, uint32_t bookmark_size,
                                    char *bookmark, uint64_t content_length) {
  return g_function.load()(context, user_data, title, protocol_info, block_size, callback, bookmark_size, bookmark,
                           content_length);
}

void webapi_upload_set_function(webapi_upload_function function) {
  g_function.store(function ? function : upload);
}
