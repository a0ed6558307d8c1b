// kestrel-nmc's renderer cursor: list the renderers, point the tool's
// renderer context at one by list position or UDN, and read and drive it.
#include "renderer_cursor.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <vector>

#include "cp/upnp_cp_seek.h"
#include "cp/upnp_soap.h"
#include "nmc/lm_dmrcp.h"
#include "nmc/lm_ldmr_ops.h"
#include "nmc/lm_nmc_devices.h"

namespace {

const char *state_name(uint32_t state) {
  static const char *names[] = {"STOPPED", "PLAYING", "TRANSITIONING", "PAUSED_PLAYBACK",
                                "PAUSED_RECORDING", "RECORDING", "NO_MEDIA_PRESENT"};
  return state < 7 ? names[state] : "UNKNOWN";
}

std::string result(lm_nmc_result_t code) {
  const char *text = code == 0 ? "OK" : upnp_get_errmsg(static_cast<int>(code));
  return std::to_string(code) + " " + (text != nullptr ? text : "");
}

bool on_off(const std::string &word, int *on) {
  if (word == "on" || word == "1") *on = 1;
  else if (word == "off" || word == "0") *on = 0;
  else return false;
  return true;
}

}  // namespace

const char *renderer_cursor_help(void) {
  return "  renderers              list the renderers (position, UDN, name)\n"
         "  renderer N|UDN         point the tool's renderer context at one\n"
         "  state                  transport state, position and duration\n"
         "  play-url URL [TITLE]   put a URL on the renderer and play it\n"
         "  pause | resume | stop\n"
         "  seek N%                seek by percent\n"
         "  seek H:MM:SS | seek-bytes N\n"
         "  volume [N] | mute [on|off]\n"
         "  metadata [KEY]         the renderer's metadata, or one property\n"
         "  seekcaps | canplay URL|TYPE|BOOKMARK\n";
}

bool renderer_cursor_run(uint32_t context, const std::string &command, void (*print)(const std::string &)) {
  std::istringstream words(command);
  std::string name;
  std::string argument;
  words >> name;
  std::getline(words >> std::ws, argument);
  const std::string prefix = "renderer ctx " + std::to_string(context) + " ";
  if (name == "renderers") {
    uint32_t count = 0;
    lm_nmc_result_t rc = lm_dmrcp_get_count(context, &count);
    print(prefix + "renderers " + std::to_string(count) + " -> " + result(rc));
    uint32_t position = 0;
    for (const nmc_device_view &device : nmc_devices_list(NMC_SIDE_RENDERER)) {
      print("  " + std::to_string(position++) + " " + device.udn + " " + device.name);
    }
  } else if (name == "renderer") {
    lm_nmc_result_t rc = argument.compare(0, 5, "uuid:") == 0
                             ? lm_dmrcp_go_bookmark(context, argument.c_str())
                             : lm_dmrcp_go_index(context, static_cast<uint32_t>(std::atoi(argument.c_str())));
    char udn[256] = "";
    if (rc == 0) lm_dmrcp_get_bookmark(context, sizeof udn, udn);
    print(prefix + "renderer " + argument + " -> " + result(rc) + (udn[0] ? std::string(" ") + udn : ""));
  } else if (name == "state") {
    uint32_t state = 0;
    char position[64] = "";
    char duration[64] = "";
    lm_nmc_result_t rc = lm_dmrcp_get_state(context, &state, sizeof position, position, sizeof duration, duration);
    print(prefix + "state -> " + result(rc) + (rc == 0 ? std::string(" ") + state_name(state) + " position " +
                                                             position + " duration " + duration
                                                       : std::string()));
  } else if (name == "play-url") {
    // Until the renderer's queue plays tracks, a URL goes to the renderer
    // straight (SetAVTransportURI and Play).
    std::string url = argument.substr(0, argument.find(' '));
    std::string title = argument.size() > url.size() ? argument.substr(url.size() + 1) : "Track";
    char udn[256] = "";
    lm_nmc_result_t rc = lm_dmrcp_get_bookmark(context, sizeof udn, udn);
    nmc_device_view device;
    if (rc == 0 && !nmc_devices_find_udn(NMC_SIDE_RENDERER, udn, &device)) rc = 3;
    if (rc == 0) {
      std::string didl = "<DIDL-Lite xmlns=\"urn:schemas-upnp-org:metadata-1-0/DIDL-Lite/\" "
                         "xmlns:dc=\"http://purl.org/dc/elements/1.1/\" "
                         "xmlns:upnp=\"urn:schemas-upnp-org:metadata-1-0/upnp/\"><item id=\"1\" parentID=\"0\" "
                         "restricted=\"1\"><dc:title>" + title + "</dc:title><upnp:class>object.item.audioItem"
                         "</upnp:class><res protocolInfo=\"http-get:*:audio/mpeg:*\">" + url +
                         "</res></item></DIDL-Lite>";
      if (nmc_ldmr_is_local(device.index)) {
        rc = nmc_ldmr_set_play_info(device.index, false, url.c_str(), didl.c_str());
        if (rc == 0) rc = nmc_ldmr_play(device.index);
      } else {
        rc = static_cast<lm_nmc_result_t>(upnp_set_AVTransportURI(device.index, url.c_str(), didl.c_str()));
        if (rc == 0) rc = static_cast<lm_nmc_result_t>(upnp_play(device.index));
      }
    }
    print(prefix + "play-url " + url + " -> " + result(rc));
  } else if (name == "pause" || name == "resume") {
    print(prefix + name + " -> " + result(lm_dmrcp_pause(context, name == "resume")));
  } else if (name == "stop") {
    print(prefix + "stop -> " + result(lm_dmrcp_stop(context)));
  } else if (name == "seek" && !argument.empty() && argument.back() == '%') {
    print(prefix + "seek " + argument + " -> " +
          result(lm_dmrcp_seek_percent(context, static_cast<uint32_t>(std::atoi(argument.c_str())))));
  } else if (name == "seek") {
    uint64_t ms = 0;
    lm_nmc_result_t rc = upnp_cp_time_to_ms(argument.c_str(), &ms) ? lm_dmrcp_seek_time(context, static_cast<int64_t>(ms))
                                                                    : 2u;
    print(prefix + "seek " + argument + " -> " + result(rc));
  } else if (name == "seek-bytes") {
    print(prefix + "seek-bytes " + argument + " -> " +
          result(lm_dmrcp_seek_bytes(context, std::strtoll(argument.c_str(), nullptr, 10))));
  } else if (name == "volume") {
    lm_nmc_result_t rc = 0;
    if (!argument.empty()) rc = lm_dmrcp_set_volume_percent(context, static_cast<uint32_t>(std::atoi(argument.c_str())));
    uint32_t percent = 0;
    if (rc == 0) rc = lm_dmrcp_get_volume_percent(context, &percent);
    print(prefix + "volume " + argument + " -> " + result(rc) + (rc == 0 ? " " + std::to_string(percent) + "%" : ""));
  } else if (name == "mute") {
    int on = 0;
    lm_nmc_result_t rc = 0;
    if (!argument.empty()) rc = on_off(argument, &on) ? lm_dmrcp_set_mute(context, on) : 2u;
    if (rc == 0) rc = lm_dmrcp_get_mute(context, &on);
    print(prefix + "mute " + argument + " -> " + result(rc) + (rc == 0 ? (on ? " on" : " off") : ""));
  } else if (name == "metadata") {
    std::vector<char> out(65536, '\0');
    lm_nmc_result_t rc = argument.empty()
                             ? lm_dmrcp_get_metadata(context, static_cast<uint32_t>(out.size()), out.data())
                             : lm_dmrcp_extract_metadata(context, argument.c_str(), 0,
                                                         static_cast<uint32_t>(out.size()), out.data());
    print(prefix + "metadata " + argument + " -> " + result(rc) + (rc == 0 ? std::string(" ") + out.data() : ""));
  } else if (name == "seekcaps") {
    uint32_t bits = 0;
    lm_nmc_result_t rc = lm_dmrcp_get_seek_capabilities(context, &bits);
    print(prefix + "seekcaps -> " + result(rc) +
          (rc == 0 ? std::string((bits & 1) ? " time" : "") + ((bits & 2) ? " bytes" : "") : ""));
  } else if (name == "canplay") {
    lm_nmc_result_t rc = lm_dmrcp_ioctl(context, ("DMRCanPlay " + argument).c_str(), 0, nullptr);
    print(prefix + "canplay " + argument + " -> " + result(rc));
  } else {
    return false;
  }
  return true;
}
