// The upload command's record and its status operations. Starting an upload
// needs the upload into media servers, which is not part of this build yet:
// "start" answers "not supported" until it joins.
#include <cinttypes>
#include <cstdio>
#include <mutex>

#include "webapi/webapi_internal.h"

namespace {

struct uploadInfoStruct {
  FILE *file = nullptr;
  bool in_progress = false;
  bool cancel = false;
  std::string local_name;
  uint64_t sent = 0;
  uint64_t total = 0;
};

// Shared by every request and the transfer's callback.
std::mutex g_upload_mutex;
uploadInfoStruct g_upload;

}  // namespace

int webapi_cmd_upload(webapi_call &call) {
  std::string operation;
  if (!get_param(call, "operation", &operation)) return send_error_message(call, WEBAPI_INVALID_ARGS);
  if (operation == "getstatus") {
    char text[64] = "0/0";
    std::lock_guard<std::mutex> hold(g_upload_mutex);
    if (g_upload.in_progress) {
      std::snprintf(text, sizeof text, "%" PRIu64 "/%" PRIu64, g_upload.sent, g_upload.total);
    }
    return send_valid(call, text);
  }
  if (operation == "stop") {
    std::lock_guard<std::mutex> hold(g_upload_mutex);
    if (g_upload.in_progress) g_upload.cancel = true;
    return send_valid(call, "");
  }
  if (operation == "start") {
    {
      std::lock_guard<std::mutex> hold(g_upload_mutex);
      if (g_upload.in_progress) return send_error_message(call, WEBAPI_UPLOAD_BUSY);
    }
    return send_error_message(call, WEBAPI_NOT_SUPPORTED);
  }
  return send_valid(call, "");
}
