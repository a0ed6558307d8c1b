// The built-in property table and clientInit, which adds the rows of the
// local renderer (group 1) and the control point (group 2).
#include "base/upnp_ini_file.h"

#include "base/upnp_ini_file_internal.h"

extern "C" int wmdrm_has_ndr_support(void) __attribute__((weak));

namespace {

constexpr unsigned int R = UPNP_INI_GROUP_RENDERER;
constexpr unsigned int C = UPNP_INI_GROUP_CONTROL_POINT;

// key, name, default, groups, hidden, restart, help
const IniRow kBaseRows[] = {
    {INI_FRIENDLYNAME, "friendlyname", nullptr, 0, 0, 1, "Visible name in the network"},
    {INI_IP, "ip", nullptr, 0, 0, 1, "IP address to listen to (default: all networks)"},
    {INI_NICRESTART, "nicrestart", "1", 0, 0, 0, "Watch changes in machine's network conf (1: yes, 0: no)"},
    {INI_V, "v", "0", 0, 0, 0, "Verbose level for logging"},
    {INI_PLATFORM, "platform", "Apple", 0, 0, 0, "Compile platform"},
    {INI_HTTPPORT, "httpport", nullptr, 0, 0, 1, "Port of the http server"},
    {INI_ININAME, "ininame", "lumetmedia.ini", 0, 1, 0, nullptr},
    {INI_INIPATH, "inipath", nullptr, 0, 1, 0, nullptr},
    {INI_READ_ONLY, "read_only", "0", 0, 1, 0, "Do not overwrite ini file after initial read. Default: 0"},
    {INI_SSDPTTL, "ssdpttl", "4", 0, 0, 1, "TTL for SSDP packets. Default: 4"},
    {INI_APPDATA, "appdata", nullptr, 0, 1, 1,
     "Directory under which all application data, like ini file and database will be stored"},
    {INI_CLEARCLIENTSONRESTART, "clearclientsonrestart", "0", 0, 0, 0, "clear detected clients table on each restart"},
    {INI_DISABLELOCALSSDP, "disablelocalssdp", "1", 0, 0, 0, "disable SSDP on localhost"},
    {INI_DISABLEBYEBYEATSTARTUP, "disablebyebyeatstartup", "0", 0, 0, 0, "disable SSDP:byebye at startup"},
    {INI_ENABLETLS, "enabletls", "1", 0, 0, 1, "enable https remote connections"},
    {INI_NMCMODE, "nmcmode", "1", 0, 0, 1,
     "NMC mode (0:disable, 1:stationary, 2:mobiledirect, 3:mobileremote, 4:standalone)"},
    {INI_VLEVEL, "vlevel", "4", 0, 0, 1, "Log level (0:debug, 1:trace, 2:info, 3:warning, 4:error, 5:critical)"},
    {INI_STACK_SIZE, "stack_size", "196608", 0, 0, 0, "Stack size in bytes per thread on Linux. Default: 196608"},
    {INI_LANGUAGE, "language", "en", 0, 0, 1, "2 letter language setting (en,de,...)"},
};

const IniRow kClientRows[] = {
    {INI_PRESENTATION_URL, "presentation_url", nullptr, R, 0, 0, "Presentation URL of device"},
    {INI_TELNETPORT, "telnetport", nullptr, R | C, 0, 0, "Port to control CP remotely (special CPs only)"},
    {INI_TELNETIP, "telnetip", nullptr, R | C, 0, 0, "IP to control cp remotely (special CPs only)"},
    {INI_MIXER, "mixer", nullptr, R, 0, 0, "ALSA mixer to use (default: 0 - special Linux renderers only)"},
    {INI_MAXVOLUME, "maxvolume", "100", R, 0, 0, "Maximum volume (default: 100)"},
    {INI_VERSION, "version", "6.0.38", R | C, 1, 0, nullptr},
    {INI_ENABLE_REGET, "enable_reget", "0", C, 0, 0,
     "Reget device description for every ALIVE packet (1) or only initially (0, default)"},
    {INI_EVENT_POLL_INTERVAL, "event_poll_interval", "5", C, 0, 0,
     "Poll interval in seconds to receive queue events from Stationary"},
    {INI_MAP_SEEKPCT, "map_seekpct", "auto", C, 0, 0,
     "Mapping of seek in percent to real seeks. Possible values: auto (default), time, bytes"},
    {INI_NO_PERSIST_CONN, "no_persist_conn", "0", R | C, 0, 0,
     "Set to non-zero to disable persistent connections, zero (default) to use them"},
    {INI_REVALIDATE_TIME, "revalidate_time", "15", C, 0, 0,
     "Time in s for a device to respond to an M-Search after a connection failure. Default: 15"},
    {INI_MSEARCH_START_INTERVAL, "msearch_start_interval", "3", C, 0, 0,
     "Initial interval in s between MSearches. 0 to use normal interval. Default: 3"},
    {INI_MSEARCH_INTERVAL, "msearch_interval", "0", C, 0, 0,
     "Interval in s between MSearches. 0 to disable. Default: 0"},
    {INI_MSEARCH_QUICK, "msearch_quick", "1", C, 0, 0,
     "Enable or disable quick MSearches. 0 to disable, 1 to enable. Default: 1"},
    {INI_DMR_STATE_POLL_INTERVAL, "dmr_state_poll_interval", "5", C, 0, 0,
     "Poll interval for DMR state changes of broken renderers in s. -1 to disable. Default: 5"},
    {INI_MAX_SUPPORTED_SERVER, "max_supported_server", "30", C, 0, 0,
     "Maximum amount of concurrent supported servers. Default: 30"},
    {INI_MAX_SUPPORTED_RENDERER, "max_supported_renderer", "30", C, 0, 0,
     "Maximum amount of concurrent supported renderers. Default: 30"},
    {INI_MAX_SUPPORTED_RUIS, "max_supported_ruis", "30", C, 0, 0,
     "Maximum amount of concurrent supported remote ui services. Default: 30"},
    // Rows added later go last: an ini file written before keeps its order.
    {INI_SUBSCRIPTION_TIMEOUT, "subscription_timeout", "300", C, 0, 0,
     "Time in s to request for event subscriptions of devices. Default: 300"},
};

void client_init(unsigned int groups) {
  unsigned int created = g_nTypesInitialized.load(std::memory_order_acquire);
  if (created == 0) {
    if (!g_ini_lock_exists.load(std::memory_order_acquire)) upnp_ini_file_init();
    upnp_ini_file_setPropertyByKey(INI_ININAME, "lumet-client.ini");
  }
  size_t count = 0;
  const IniRow *rows = ini_client_rows(&count);
  ini_create_rows(rows, count, groups, created);
  if (wmdrm_has_ndr_support != nullptr && wmdrm_has_ndr_support() != 0) {
    upnp_ini_file_setPropertyByKey(INI_SSDPTTL, "1");
  }
  g_nTypesInitialized.fetch_or(groups, std::memory_order_acq_rel);
}

}  // namespace

const IniRow *ini_base_rows(size_t *count) {
  *count = sizeof kBaseRows / sizeof kBaseRows[0];
  return kBaseRows;
}

const IniRow *ini_client_rows(size_t *count) {
  *count = sizeof kClientRows / sizeof kClientRows[0];
  return kClientRows;
}

extern "C" void upnp_ini_file_dmr_init(void) { client_init(UPNP_INI_GROUP_RENDERER); }
extern "C" void upnp_ini_file_dmc_init(void) { client_init(UPNP_INI_GROUP_CONTROL_POINT); }
extern "C" void upnp_ini_file_client_init(void) {
  client_init(UPNP_INI_GROUP_RENDERER | UPNP_INI_GROUP_CONTROL_POINT);
}
extern "C" void upnp_ini_file_client_release(void) { g_nTypesInitialized.store(0, std::memory_order_release); }
