// The status commands (get_status, get_nmc_version, get_nmc_mode) and beam.
#include <cstring>

#include "webapi/webapi_controller.h"
#include "webapi/webapi_internal.h"
#include "webapi/webapi_refusal.h"

int webapi_cmd_status(webapi_call &call) {
  if (call.callback_valid) {
    return webapi_send_body(call, 200, "application/javascript; charset=utf-8",
                            call.callback + "({\"status\": \"true\"});\n");
  }
  return webapi_send_body(call, 200, HTTP_HTML_CONTENT_TYPE, "true");
}

int webapi_cmd_get_nmc_version(webapi_call &call) {
  const webapi_controller *ctl = webapi_controller_get();
  uint32_t context = 0;
  if (ctl->dmrcp_create_context(&context) != LM_NMC_OK) return send_error_message(call, WEBAPI_CREATE_CONTEXT);
  char text[64] = "";
  int code = ctl->dmrcp_ioctl(context, "GetNMCVersion", sizeof text, text) == LM_NMC_OK ? 0 : WEBAPI_ACTION_FAILED;
  if (ctl->dmrcp_delete_context(context) != LM_NMC_OK && code == 0) code = WEBAPI_DELETE_CONTEXT;
  text[sizeof text - 1] = '\0';
  return code == 0 ? send_valid(call, text) : send_error_message(call, code);
}

int webapi_cmd_get_nmc_mode(webapi_call &call) {
  char text[64] = "";
  if (webapi_controller_get()->nmc_ioctl(LM_NMC_DEFAULT_DMR_CONTEXT, "GetNMCState", sizeof text, text) !=
      LM_NMC_OK) {
    return send_error_message(call, WEBAPI_CREATE_CONTEXT);
  }
  text[sizeof text - 1] = '\0';
  return send_valid(call, text);
}

int webapi_cmd_beam(webapi_call &call) {
  std::string renderer;
  std::string url;
  if (!get_param(call, "renderer", &renderer) || !get_param(call, "url", &url) || url.empty()) {
    return send_error_message(call, WEBAPI_INVALID_ARGS);
  }
  // The value was decoded once with the rest of the query; a second
  // decoding would turn "%2541" into "A".
  bool by_bookmark = renderer.find("uuid") != std::string::npos;
  int64_t index = 0;
  if (!by_bookmark && !webapi_number(call, "renderer", 0, UINT32_MAX, &index)) {
    return send_error_message(call, WEBAPI_INVALID_ARGS);
  }
  const webapi_controller *ctl = webapi_controller_get();
  uint32_t context = LM_NMC_DEFAULT_DMR_CONTEXT;
  if (ctl->dmrcp_create_context(&context) != LM_NMC_OK) return send_error_message(call, WEBAPI_CREATE_CONTEXT);
  int code = 0;
  lm_nmc_result_t r = by_bookmark ? ctl->dmrcp_go_bookmark(context, renderer.c_str())
                                  : ctl->dmrcp_go_index(context, static_cast<uint32_t>(index));
  if (r != LM_NMC_OK || ctl->queue_go_index(context, 0x7fffffff) != LM_NMC_OK ||
      ctl->queue_add_metadata(context, url.c_str(), nullptr) != LM_NMC_OK ||
      webapi_refusal_note(ctl->dmrcp_play(context, 256), WEBAPI_SIDE_RENDERER) != LM_NMC_OK) {
    code = WEBAPI_ACTION_FAILED;
  }
  if (context != LM_NMC_DEFAULT_DMR_CONTEXT) ctl->dmrcp_delete_context(context);
  return code == 0 ? send_valid(call, "Done") : send_error_message(call, code);
}
