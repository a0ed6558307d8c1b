// The renderer commands: each reads its parameters, works on a renderer
// context of its own pointed at the renderer bookmark, and deletes that
// context on every path before it answers.
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

#include "webapi/webapi_controller.h"
#include "webapi/webapi_internal.h"
#include "webapi/webapi_refusal.h"

namespace {

// An operation on the context: 0 with *value set to answer the value,
// WEBAPI_OK to answer "ok", or an error code.
using renderer_op = std::function<int(const webapi_controller *ctl, uint32_t context, std::string *value)>;

// can_play answers a value once the context exists: a bookmark that leads
// nowhere is "0" there (`missing_is_value`).
int run_on_renderer(webapi_call &call, const renderer_op &op, const char *missing_is_value = nullptr) {
  std::string renderer;
  if (!get_param(call, "renderer", &renderer) || renderer.empty()) {
    return send_error_message(call, WEBAPI_INVALID_ARGS);
  }
  const webapi_controller *ctl = webapi_controller_get();
  uint32_t context = 0;
  if (ctl->dmrcp_create_context(&context) != LM_NMC_OK) return send_error_message(call, WEBAPI_CREATE_CONTEXT);
  std::string value;
  int code;
  if (ctl->dmrcp_go_bookmark(context, renderer.c_str()) != LM_NMC_OK) {
    code = missing_is_value ? 0 : WEBAPI_CREATE_CONTEXT;
    if (missing_is_value) value = missing_is_value;
  } else {
    code = op(ctl, context, &value);
  }
  if (ctl->dmrcp_delete_context(context) != LM_NMC_OK && (code == 0 || code == WEBAPI_OK) && !missing_is_value) {
    code = WEBAPI_DELETE_CONTEXT;
  }
  if (code == 0) return send_valid(call, value.c_str());
  return send_error_message(call, code);
}

// A renderer's refusal is kept for the reply's header.
lm_nmc_result_t noted(lm_nmc_result_t r) { return webapi_refusal_note(r, WEBAPI_SIDE_RENDERER); }

int result(lm_nmc_result_t r) { return noted(r) == LM_NMC_OK ? WEBAPI_OK : WEBAPI_ACTION_FAILED; }

// A number the command needs: missing or not numeric answers -1.
#define NEED_NUMBER(name, lo, hi, out)                                                  \
  int64_t out = 0;                                                                      \
  if (!webapi_number(call, name, lo, hi, &out)) return send_error_message(call, WEBAPI_INVALID_ARGS)

int cmd_get_mute(webapi_call &call) {
  return run_on_renderer(call, [](const webapi_controller *ctl, uint32_t ctx, std::string *value) {
    int on = 0;
    if (noted(ctl->dmrcp_get_mute(ctx, &on)) != LM_NMC_OK) return static_cast<int>(WEBAPI_ACTION_FAILED);
    *value = std::to_string(on);
    return 0;
  });
}
int cmd_set_mute(webapi_call &call) {
  NEED_NUMBER("mute", 0, 1, mute);
  return run_on_renderer(call, [mute](const webapi_controller *ctl, uint32_t ctx, std::string *) {
    return result(ctl->dmrcp_set_mute(ctx, static_cast<int>(mute)));
  });
}
int cmd_pause(webapi_call &call) {
  NEED_NUMBER("resume", 0, 1, resume);
  return run_on_renderer(call, [resume](const webapi_controller *ctl, uint32_t ctx, std::string *) {
    return result(ctl->dmrcp_pause(ctx, static_cast<int>(resume)));
  });
}
int cmd_play(webapi_call &call) {
  int64_t mode = 0;  // no mode: a plain play
  if (get_param(call, "mode", nullptr) && !webapi_number(call, "mode", 0, UINT32_MAX, &mode)) {
    return send_error_message(call, WEBAPI_INVALID_ARGS);
  }
  return run_on_renderer(call, [mode](const webapi_controller *ctl, uint32_t ctx, std::string *) {
    return result(ctl->dmrcp_play(ctx, static_cast<uint32_t>(mode)));
  });
}
int cmd_stop(webapi_call &call) {
  return run_on_renderer(call, [](const webapi_controller *ctl, uint32_t ctx, std::string *) {
    return result(ctl->dmrcp_stop(ctx));
  });
}
int cmd_get_seek_capabilities(webapi_call &call) {
  return run_on_renderer(call, [](const webapi_controller *ctl, uint32_t ctx, std::string *value) {
    uint32_t bits = 0;
    if (noted(ctl->dmrcp_get_seek_capabilities(ctx, &bits)) != LM_NMC_OK) return static_cast<int>(WEBAPI_ACTION_FAILED);
    *value = std::to_string(bits);
    return 0;
  });
}
int cmd_seek_percent(webapi_call &call) {
  NEED_NUMBER("seek", 0, 100, seek);
  return run_on_renderer(call, [seek](const webapi_controller *ctl, uint32_t ctx, std::string *) {
    return result(ctl->dmrcp_seek_percent(ctx, static_cast<uint32_t>(seek)));
  });
}
int cmd_seek_bytes(webapi_call &call) {
  NEED_NUMBER("seek", 0, INT64_MAX, seek);
  return run_on_renderer(call, [seek](const webapi_controller *ctl, uint32_t ctx, std::string *) {
    return result(ctl->dmrcp_seek_bytes(ctx, seek));
  });
}
int cmd_seek_time(webapi_call &call) {
  NEED_NUMBER("seek", 0, INT64_MAX, seek);
  return run_on_renderer(call, [seek](const webapi_controller *ctl, uint32_t ctx, std::string *) {
    return result(ctl->dmrcp_seek_time(ctx, seek));
  });
}
int cmd_get_state(webapi_call &call) {
  return run_on_renderer(call, [](const webapi_controller *ctl, uint32_t ctx, std::string *value) {
    uint32_t state = 0;
    char first[64] = "";
    char second[64] = "";
    if (noted(ctl->dmrcp_get_state(ctx, &state, sizeof first, first, sizeof second, second)) != LM_NMC_OK) {
      return static_cast<int>(WEBAPI_ACTION_FAILED);
    }
    first[sizeof first - 1] = '\0';
    second[sizeof second - 1] = '\0';
    *value = std::to_string(state) + "|" + first + "|" + second;
    return 0;
  });
}
int cmd_get_playindex(webapi_call &call) {
  return run_on_renderer(call, [](const webapi_controller *ctl, uint32_t ctx, std::string *value) {
    int32_t index = 0;
    uint32_t pending = 0;
    if (noted(ctl->queue_get_playindex(ctx, &index, &pending)) != LM_NMC_OK) {
      return static_cast<int>(WEBAPI_ACTION_FAILED);
    }
    *value = std::to_string(static_cast<uint32_t>(index)) + "|" + std::to_string(pending);
    return 0;
  });
}
int cmd_set_playindex(webapi_call &call) {
  NEED_NUMBER("index", 0, UINT32_MAX, index);
  return run_on_renderer(call, [index](const webapi_controller *ctl, uint32_t ctx, std::string *) {
    if (noted(ctl->dmrcp_stop(ctx)) != LM_NMC_OK) return static_cast<int>(WEBAPI_ACTION_FAILED);
    if (noted(ctl->queue_go_index(ctx, static_cast<uint32_t>(index))) != LM_NMC_OK) {
      return static_cast<int>(WEBAPI_CREATE_CONTEXT);
    }
    return result(ctl->dmrcp_play(ctx, 0));
  });
}
int cmd_add_bookmark(webapi_call &call) {
  NEED_NUMBER("index", 0, UINT32_MAX, index);
  std::string item;
  if (!get_param(call, "item", &item) || item.empty()) return send_error_message(call, WEBAPI_INVALID_ARGS);
  return run_on_renderer(call, [index, item](const webapi_controller *ctl, uint32_t ctx, std::string *) {
    if (noted(ctl->queue_go_index(ctx, static_cast<uint32_t>(index))) != LM_NMC_OK) {
      return static_cast<int>(WEBAPI_CREATE_CONTEXT);
    }
    return result(ctl->queue_add_bookmark(ctx, item.c_str()));
  });
}
int cmd_delete_item(webapi_call &call) {
  NEED_NUMBER("index", 0, UINT32_MAX, index);
  return run_on_renderer(call, [index](const webapi_controller *ctl, uint32_t ctx, std::string *) {
    if (noted(ctl->queue_go_index(ctx, static_cast<uint32_t>(index))) != LM_NMC_OK) {
      return static_cast<int>(WEBAPI_CREATE_CONTEXT);
    }
    return result(ctl->queue_delete_item(ctx));
  });
}
int cmd_clear(webapi_call &call) {
  return run_on_renderer(call, [](const webapi_controller *ctl, uint32_t ctx, std::string *) {
    return result(ctl->queue_clear(ctx));
  });
}
int cmd_move_to(webapi_call &call) {
  NEED_NUMBER("index", 0, UINT32_MAX, index);
  NEED_NUMBER("toindex", 0, UINT32_MAX, toindex);
  return run_on_renderer(call, [index, toindex](const webapi_controller *ctl, uint32_t ctx, std::string *) {
    if (noted(ctl->queue_go_index(ctx, static_cast<uint32_t>(index))) != LM_NMC_OK) {
      return static_cast<int>(WEBAPI_ACTION_FAILED);
    }
    return result(ctl->queue_move_to(ctx, static_cast<uint32_t>(toindex)));
  });
}
int cmd_add_metadata(webapi_call &call) {
  std::string metadata;
  std::string url;
  bool has_metadata = get_param(call, "metadata", &metadata);
  bool has_url = get_param(call, "url", &url);
  // privateBM has no place in the queue's entry point; it is read and
  // dropped.
  return run_on_renderer(call,
                         [=](const webapi_controller *ctl, uint32_t ctx, std::string *) {
                           return result(ctl->queue_add_metadata(ctx, has_url ? url.c_str() : nullptr,
                                                                 has_metadata ? metadata.c_str() : nullptr));
                         });
}
int cmd_get_volume_percent(webapi_call &call) {
  return run_on_renderer(call, [](const webapi_controller *ctl, uint32_t ctx, std::string *value) {
    uint32_t percent = 0;
    if (noted(ctl->dmrcp_get_volume_percent(ctx, &percent)) != LM_NMC_OK) return static_cast<int>(WEBAPI_ACTION_FAILED);
    *value = std::to_string(percent);
    return 0;
  });
}
int cmd_set_volume_percent(webapi_call &call) {
  NEED_NUMBER("volume", 0, 100, volume);
  return run_on_renderer(call, [volume](const webapi_controller *ctl, uint32_t ctx, std::string *) {
    return result(ctl->dmrcp_set_volume_percent(ctx, static_cast<uint32_t>(volume)));
  });
}
int cmd_get_volume_db(webapi_call &call) {
  return run_on_renderer(call, [](const webapi_controller *ctl, uint32_t ctx, std::string *value) {
    int32_t db = 0;
    if (noted(ctl->dmrcp_get_volume_db(ctx, &db)) != LM_NMC_OK) return static_cast<int>(WEBAPI_ACTION_FAILED);
    *value = std::to_string(db);
    return 0;
  });
}
int cmd_set_volume_db(webapi_call &call) {
  NEED_NUMBER("volume", INT32_MIN, INT32_MAX, volume);
  return run_on_renderer(call, [volume](const webapi_controller *ctl, uint32_t ctx, std::string *) {
    return result(ctl->dmrcp_set_volume_db(ctx, static_cast<int32_t>(volume)));
  });
}
int cmd_get_volume_db_range(webapi_call &call) {
  return run_on_renderer(call, [](const webapi_controller *ctl, uint32_t ctx, std::string *value) {
    int32_t minimum = 0;
    int32_t maximum = 0;
    if (noted(ctl->dmrcp_get_volume_db_range(ctx, &minimum, &maximum)) != LM_NMC_OK) {
      return static_cast<int>(WEBAPI_ACTION_FAILED);
    }
    *value = std::to_string(minimum) + "/" + std::to_string(maximum);
    return 0;
  });
}

// The formats the renderer takes: its sink protocolInfo list, one entry a
// line. The list may be long (some renderers name hundreds of profiles):
// a buffer too small (10) is tried once more at the largest size.
int cmd_get_sink_formats(webapi_call &call) {
  return run_on_renderer(call, [](const webapi_controller *ctl, uint32_t ctx, std::string *value) {
    lm_nmc_result_t r = LM_NMC_OK;
    std::vector<char> list;
    for (size_t size : {size_t{64 * 1024}, size_t{1024 * 1024}}) {
      list.assign(size, '\0');
      r = noted(ctl->dmrcp_ioctl(ctx, "DMRGetSinkProtocolInfo", static_cast<uint32_t>(size), list.data()));
      if (r != LM_NMC_BUFFER_TOO_SMALL) break;
    }
    if (r != LM_NMC_OK) return static_cast<int>(WEBAPI_ACTION_FAILED);
    list.back() = '\0';
    value->clear();
    const std::string text = list.data();
    size_t at = 0;
    while (at <= text.size()) {
      size_t end = text.find(',', at);
      if (end == std::string::npos) end = text.size();
      size_t from = text.find_first_not_of(" \t\r\n", at);
      size_t to = text.find_last_not_of(" \t\r\n", end == 0 ? 0 : end - 1);
      if (from != std::string::npos && from < end && to != std::string::npos && to >= from) {
        value->append(text, from, to - from + 1).push_back('\n');
      }
      at = end + 1;
    }
    return 0;
  });
}

struct renderer_command {
  const char *name;
  int (*run)(webapi_call &call);
};

const renderer_command kCommands[] = {
    {"get_playindex", cmd_get_playindex},
    {"set_playindex", cmd_set_playindex},
    {"pause", cmd_pause},
    {"play", cmd_play},
    {"stop", cmd_stop},
    {"get_state", cmd_get_state},
    {"seek_percent", cmd_seek_percent},
    {"seek_bytes", cmd_seek_bytes},
    {"seek_time", cmd_seek_time},
    {"get_mute", cmd_get_mute},
    {"set_mute", cmd_set_mute},
    {"get_volume_percent", cmd_get_volume_percent},
    {"set_volume_percent", cmd_set_volume_percent},
    {"get_volume_db_range", cmd_get_volume_db_range},
    {"get_volume_db", cmd_get_volume_db},
    {"set_volume_db", cmd_set_volume_db},
    {"get_seek_capabilities", cmd_get_seek_capabilities},
    {"add_bookmark", cmd_add_bookmark},
    {"delete_item", cmd_delete_item},
    {"clear", cmd_clear},
    {"move_to", cmd_move_to},
    {"add_metadata", cmd_add_metadata},
    {"get_sink_formats", cmd_get_sink_formats},
};

}  // namespace

int webapi_renderer_command(webapi_call &call, bool *handled) {
  for (const renderer_command &c : kCommands) {
    if (call.command == c.name) {
      *handled = true;
      return c.run(call);
    }
  }
  *handled = false;
  return 0;
}

int webapi_cmd_can_play(webapi_call &call) {
  std::string item;
  if (!get_param(call, "item", &item)) item.clear();
  return run_on_renderer(call, [item](const webapi_controller *ctl, uint32_t ctx, std::string *value) {
    std::string command = "DMRCanPlay " + item;
    char out[64] = "";
    // The ioctl answers 0 when the renderer takes the item and 714 when it
    // does not; "1" means playable, as the command's name says.
    *value = ctl->dmrcp_ioctl(ctx, command.c_str(), sizeof out, out) == 0 ? "1" : "0";
    return 0;
  }, "0");
}
