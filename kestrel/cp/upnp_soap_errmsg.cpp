// Result-code texts (the control point's table searched first, then the
// stack's own), HTTP statuses for result codes, and the names of seek units,
// play modes and transport states.
#include <atomic>
#include <strings.h>

#include "cp/upnp_soap.h"

namespace {

const upnp_errmsg kControlPointTable[] = {
    {701, "Transition not available"},
    {710, "Seek mode not supported or no such container"},
    {0, "No error"},
    {1, "Invalid device index"},
    {2, "Invalid parameter"},
    {3, "Device gone"},
    {4, "Device not active"},
    {5, "Invalid device"},
    {6, "No response"},
    {7, "Bad response"},
    {8, "Out of memory"},
    {9, "Not found"},
    {10, "Buffer too small"},
    {11, "System going down"},
    {200, "OK"},
    {12, "Duplicate"},
    {13, "Not implemented"},
    {14, "Function failed"},
    {20, "Aborted by user"},
    {21, "Rejected invocation of broken action"},
    {22, "Out of resources"},
    {23, "Connection lost"},
    {24, "Could not get upload response - success/failure unknown"},
    {-1, nullptr},
};

const upnp_errmsg kStackTable[] = {
    {400, "Bad request"},
    {401, "Invalid Action"},
    {402, "Invalid Args"},
    {412, "Precondition failed"},
    {500, "Internal error"},
    {501, "Action Failed"},
    {507, "Insufficient Storage"},
    {600, "Argument Value Invalid"},
    {601, "Argument Value Out of Range"},
    {602, "Optional Action Not implemented"},
    {603, "Out of Memory"},
    {604, "Human Intervention Required"},
    {605, "String Argument Too Long"},
    {606, "Action not authorized"},
    {607, "Signature failure"},
    {608, "Signature missing"},
    {609, "Not encrypted"},
    {610, "Invalid Sequence"},
    {611, "Invalid control URL"},
    {612, "No such session"},
    {701, "No such object"},
    {702, "No contents"},
    {703, "Read error"},
    {704, "Format not supported for playback"},
    {705, "Transport is locked"},
    {706, "Invalid connection reference."},
    {708, "Invalid search criteria"},
    {709, "Invalid sort criteria"},
    {710, "No such container"},
    {711, "Illegal seek target"},
    {712, "Bad metadata"},
    {713, "Restricted parent object"},
    {714, "Illegal MIME-type"},
    {715, "Content BUSY"},
    {716, "Resource not found"},
    {717, "Play speed not supported"},
    {718, "Invalid InstanceID"},
    {719, "Destination resource access denied"},
    {801, "Access denied"},
    {0, "Success"},
    {2, "Bad parameter"},
    {8, "Out of memory"},
    {14, "Failed"},
    {-1, nullptr},
};

std::atomic<const upnp_errmsg *> g_first_table{nullptr};

const char *find(const upnp_errmsg *table, int code) {
  for (; table && table->code >= 0 && table->text; ++table) {
    if (table->code == code) return table->text;
  }
  return nullptr;
}

const char *const kSeekUnits[] = {"TRACK_NR", "ABS_COUNT",  "ABS_TIME",   "REL_COUNT",      "REL_TIME",
                                  "CHANNEL_FREQ", "FRAME", "REL_FRAME", "TAPE-INDEX", "REL_TAPE-INDEX",
                                  "X_DLNA_REL_BYTE"};
const char *const kPlayModes[] = {"NORMAL", "SHUFFLE", "REPEAT_ONE", "REPEAT_ALL", "RANDOM", "DIRECT_1", "INTRO"};
const char *const kTransportStates[] = {"STOPPED",          "PLAYING",   "TRANSITIONING", "PAUSED_PLAYBACK",
                                        "PAUSED_RECORDING", "RECORDING", "NO_MEDIA_PRESENT"};

template <size_t N>
constexpr unsigned count_of(const char *const (&)[N]) {
  return static_cast<unsigned>(N);
}

}  // namespace

extern "C" const char *upnp_get_errmsg(int code) {
  const char *text = find(g_first_table.load(), code);
  if (!text) text = find(kStackTable, code);
  return text ? text : kStackTable[0].text;
}

extern "C" void upnp_set_errmsgs(const upnp_errmsg *table) { g_first_table.store(table); }

extern "C" const upnp_errmsg *upnp_cp_errmsgs(void) { return kControlPointTable; }

extern "C" int upnp_client_get_http_error(int code, int ok_is_200) {
  if (code > 99) return code;
  switch (code) {
    case 0: return ok_is_200 ? 200 : 0;
    case 1:
    case 2:
    case 10: return 402;
    case 8: return 500;
    case 13: return 602;
    default: return 501;
  }
}

extern "C" const char *upnp_seek_unit_text(unsigned unit) {
  return unit < count_of(kSeekUnits) ? kSeekUnits[unit] : "NOT_IMPLEMENTED";
}

extern "C" unsigned upnp_seek_unit_index(const char *text) {
  if (text) {
    for (unsigned i = 0; i < count_of(kSeekUnits); ++i) {
      if (strcasecmp(text, kSeekUnits[i]) == 0) return i;
    }
  }
  return 65535;
}

extern "C" const char *upnp_play_mode_text(unsigned mode) {
  return mode < count_of(kPlayModes) ? kPlayModes[mode] : nullptr;
}

extern "C" int upnp_transport_state_index(const char *text) {
  if (text) {
    for (unsigned i = 0; i < count_of(kTransportStates); ++i) {
      if (strcasecmp(text, kTransportStates[i]) == 0) return static_cast<int>(i);
    }
  }
  return -1;
}

extern "C" const char *upnp_transport_state_text(int state) {
  return state >= 0 && static_cast<unsigned>(state) < count_of(kTransportStates) ? kTransportStates[state] : nullptr;
}
