// The help page: every command with its parameters.
#include "webapi/webapi_internal.h"

namespace {

const char *const kLines[] = {
    "<b><u>Queue Management</u></b>",
    "clear?renderer=[BOOKMARK]",
    "can_play?renderer=[BOOKMARK]&item=[BOOKMARK]",
    "add_bookmark?renderer=[BOOKMARK]&item=[BOOKMARK]",
    "add_metadata?renderer=[BOOKMARK]&metadata=[data]&url=[url]&privateBM=[BOOKMARK]",
    "move_to?renderer=[BOOKMARK]&index=[value]&toindex=[value]",
    "delete_item?renderer=[BOOKMARK]&index=[value]",
    "<b><u>Controlling Renderer</u></b>",
    "get_state?renderer=[BOOKMARK]",
    "get_playindex?renderer=[BOOKMARK]",
    "set_playindex?renderer=[BOOKMARK]&index=[value]",
    "pause?renderer=[BOOKMARK]&resume=[0|1]",
    "play?renderer=[BOOKMARK]&mode=[n]",
    "stop?renderer=[BOOKMARK]",
    "seek_percent?renderer=BOOKMARK&seek=[value]",
    "seek_bytes?renderer=BOOKMARK&seek=[value]",
    "seek_time?renderer=BOOKMARK&seek=[value]",
    "set_mute?renderer=[BOOKMARK]&mute=[0|1]",
    "get_mute?renderer=[BOOKMARK]",
    "set_volume_percent?renderer=[BOOKMARK]&volume=[value]",
    "get_volume_percent?renderer=[BOOKMARK]",
    "set_volume_db?renderer=[BOOKMARK]&volume=[value]",
    "get_volume_db?renderer=[BOOKMARK]",
    "get_volume_db_range?renderer=[BOOKMARK]",
    "get_seek_capabilities?renderer=[BOOKMARK]",
    "<b><u>Status Information</u></b>",
    "get_nmc_version",
    "get_nmc_mode",
    "get_events?eventid=[lasteventid]",
    "get_status",
    "get_stationary_url",
    "get_stationary_list",
    "<b><u>Logging</u></b>",
    "log_getfile",
    "log_clear",
    "log_disable?mode=[0|1]",
    "log_set?sources=[value]&level=[value]",
    "<b><u>Other</u></b>",
    "get_auth_token?session_id=[value]&callback=[value]",
    "search?server=[BOOKMARK]&count=[value]",
    "upload?server=[BOOKMARK]&file=[name]",
    "beam?renderer=[BOOKMARK]&url=[url]",
    "get_sink_formats?renderer=[BOOKMARK]",
};

}  // namespace

int webapi_cmd_help(webapi_call &call) {
  std::string page;
  for (const char *line : kLines) {
    page += line;
    // The search line has always ended with a bare newline.
    page += std::string(line).compare(0, 7, "search?") == 0 ? "\n" : "<br>\n";
    if (std::string(line).compare(0, 9, "can_play?") == 0) {
      page += "&nbsp;&nbsp;answers 1 when the renderer reports it can play the item, 0 otherwise (also when it "
              "cannot tell)<br>\n";
    }
  }
  return webapi_send_body(call, 200, HTTP_HTML_CONTENT_TYPE, page);
}
