// Start-up of the controller: the explicit start (lm_nmc_init, "StartNMC"),
// the implicit start every public function makes (lm_nmc_conn_init), the
// stored application data directory, and the critical-error handling that
// keeps the host process alive.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "base/upnp_exit.h"
#include "base/upnp_ini_file.h"
#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "base/upnp_thread.h"
#include "clientdb/upnp_client_db.h"
#include "cp/upnp_cp.h"
#include "cp/upnp_cp_eventing.h"
#include "cp/upnp_soap.h"
#include "http/http_settings.h"
#include "nmc/lm_nmc_events.h"
#include "nmc/lm_nmc_queue.h"
#include "nmc/lm_nmc_modes.h"
#include "nmc/lm_nmc_notify.h"
#include "nmc/lm_nmc_protection.h"
#include "nmc/lm_nmc_ruis.h"
#include "nmc/lm_nmc_sessions.h"
#include "nmc/lm_nmc_start_internal.h"
#include "playlist/upnp_wpl.h"
#include "webapi/lm_nmc_webapi.h"

NmcStartMarks g_nmc_marks;

namespace {

// The application data directory for the next start ("SetNMCDataDirectory",
// lm_nmc_set_appdata_path); set by the application, read by the start-up.
std::mutex g_appdata_mutex;
std::string g_appdata;

std::atomic<int> g_network{1};
std::atomic<bool> g_exit_hook_registered{false};

const char *const k_user_agent = "LumetMedia-NMC DLNADOC/1.50";
const char *const k_build_date = __DATE__;

// ---- Steps that later parts of the controller fill. Each is one call so
// that the order of the start-up stays in one place.
// Manager start: the session list with the API session, the remote-UI
// server list, the network callback (fired once for every device the control point knows) and the
// subscription callback. Position polling and the web API join here when
// they exist.
void start_manager(void) {
  nmc_sessions_start();
  nmc_ruis_start();
  nmc_queue_start();
  upnp_control_register_and_fire_callback(nmc_network_callback, 1, 1);
  upnp_cp_register_subscription_callback(nmc_subscription_callback);
}

// A critical log message stops the controller instead of ending the host.
void critical_error_handler(int) {
  nmc_tell_state_callback("NMCCriticalError", nullptr);
  uint32_t state = nmc_run_state();
  if (state >= LM_NMC_STATE_INITIALIZING && state <= LM_NMC_STATE_RUNNING) nmc_request_stop();
  Sleep(1000);
}
// Whatever follows a critical message in the logger must not end the process
// the library lives in.
void keep_process(int) {}

void exit_hook(void) {
  uint32_t state = nmc_run_state();
  if (state == LM_NMC_STATE_NEVER_STARTED || state == LM_NMC_STATE_STOPPED) return;
  nmc_request_stop();
  nmc_wait_stopped(NMC_EXIT_STOP_BOUND_MS);
}

// Step 9: where the log goes.
void start_logging(int argc, const char *const *argv) {
  for (int i = 1; argv != nullptr && i + 1 < argc; ++i) {
    if (argv[i] == nullptr || (std::strcmp(argv[i], "--logfile") != 0 && std::strcmp(argv[i], "-logfile") != 0))
      continue;
    const char *value = argv[i + 1];
    if (value == nullptr) break;
    if (std::strcmp(value, "stdout") == 0 || std::strcmp(value, "-") == 0) {
      upnp_log_init(nullptr);
    } else {
      std::remove(value);
      upnp_log_init(value);
    }
    return;
  }
  if (argc > 0 && argv != nullptr && argv[0] != nullptr && argv[0][0] != '\0') {
    std::string name(argv[0], strnlen(argv[0], 1023));
    if (name.size() + std::strlen("-log.txt") < 1024) name += "-log.txt";
    std::remove(name.c_str());
    upnp_log_init(name.c_str());
    return;
  }
  if (!upnp_log_initialized()) upnp_log_init(nullptr);
}

void default_unless_set(unsigned int key, const char *value) {
  if (!upnp_ini_file_isModified(key)) upnp_ini_file_setProperty(key, value, 0, 1);
}

}  // namespace

// Step 14: the version line, shown even when the level or the sources would
// hide it.
void nmc_log_version_line(void) {
  int level = upnp_log_get_level();
  unsigned int sources = upnp_log_get_sources();
  bool raise = level > LOG_LEVEL_INFO || (sources & LOG_SYSTEM) == 0;
  if (raise) {
    upnp_log_set_level(LOG_LEVEL_INFO);
    upnp_log_set_sources(sources | LOG_SYSTEM);
  }
  const char *version = upnp_ini_file_getString(INI_VERSION);
  upnp_log_impl(LOG_LEVEL_INFO, LOG_SYSTEM, "lm_nmc_init", "Lumet ClientSDK %s -- %s",
                version != nullptr ? version : "<null>", k_build_date);
  if (raise) {
    upnp_log_set_level(level);
    upnp_log_set_sources(sources);
  }
}

namespace {

// Undoes what a failed start-up did, in reverse order.
void roll_back(bool client_db, bool wpl) {
  if (g_nmc_marks.cp_started.exchange(false)) upnp_control_exit();
  if (wpl) upnp_wpl_exit();
  if (client_db) upnp_client_db_exit();
  upnp_ini_file_release();
  lm_nmc_register_api_callback(nullptr);
  nmc_release_sides();
}

// Steps 8 to 20. False when the controller did not come up.
bool start_control_point(int argc, const char *const *argv, int install_signals) {
  upnp_log_register_critical_error_handler(critical_error_handler);
  register_upnp_exit_function(keep_process);
  upnp_mem_init();
  start_logging(argc, argv);

  upnp_ini_file_init();
  upnp_ini_file_dmc_init();
  upnp_ini_file_disableProperty(INI_TELNETPORT, 1);
  upnp_ini_file_disableProperty(INI_TELNETIP, 1);
  default_unless_set(INI_HTTPPORT, "9085");
  default_unless_set(INI_NICRESTART, "1");
  const uint32_t requested = nmc_requested_mode();
  const char *mode_default = requested == NMC_MODE_MOBILE_DIRECT ? "2" : requested == NMC_MODE_STATIONARY ? "1" : "0";
  default_unless_set(INI_NMCMODE, mode_default);
  {
    std::lock_guard<std::mutex> hold(g_appdata_mutex);
    if (!g_appdata.empty()) upnp_ini_file_setProperty(INI_APPDATA, g_appdata.c_str(), 1, 1);
  }
  nmc_set_run_state(LM_NMC_STATE_INITIALIZED);

  // The parser answers non-zero (after printing the usage) for a help word;
  // that is a failed start, never the end of the process.
  if (upnp_ini_file_parse_cmdline(argc, argv) != 0) {
    upnp_log_impl(LOG_LEVEL_ERROR, LOG_SYSTEM, "lm_nmc_init", "NMC: Command line not accepted; not started");
    roll_back(false, false);
    return false;
  }
  nmc_log_version_line();

  upnp_client_db_init();
  // A mode the user gave (ini file or command line) is taken over.
  const char *mode = upnp_ini_file_getString(INI_NMCMODE);
  if (mode != nullptr && std::strcmp(mode, mode_default) != 0) nmc_set_mode(nmc_mode_of_property(mode));
  upnp_wpl_init();
  nmc_set_run_state(LM_NMC_STATE_STARTING);

  int result = g_network.load() != 0 ? upnp_control_init() : upnp_cp_start(0, 0);
  if (result != 0) {
    upnp_log_impl(LOG_LEVEL_ERROR, LOG_SYSTEM, "lm_nmc_init", "NMC: Control point start failed (%d)", result);
    g_nmc_marks.cp_started.store(true);
    roll_back(true, true);
    return false;
  }
  g_nmc_marks.cp_started.store(true);

  if (!g_exit_hook_registered.exchange(true)) std::atexit(exit_hook);
  if (install_signals != 0) nmc_signals_install();

  start_manager();
  return true;
}

}  // namespace

void nmc_set_network(int on) { g_network.store(on); }

void nmc_release_sides(void) {
  nmc_notifiers_stop();
  nmc_contexts_exit();
  g_nmc_marks.started.store(false);
}

lm_nmc_result_t nmc_start(int argc, const char *const *argv, int install_signals, int explicit_start) {
  std::lock_guard<std::recursive_mutex> hold(g_nmc_marks.start_mutex);
  uint32_t before = nmc_run_state();
  if (before == LM_NMC_STATE_RUNNING) return LM_NMC_OK;
  if (before == LM_NMC_STATE_TERMINATING) return LM_NMC_GOING_DOWN;
  if (before == LM_NMC_STATE_STOPPED && !explicit_start) return LM_NMC_GOING_DOWN;
  // A start already under way on this thread (a state callback calling in).
  if (g_nmc_marks.started.load()) return LM_NMC_GOING_DOWN;
  // The previous stop's terminator has set "Stopped" as its last act.
  if (!nmc_wait_stopped(NMC_THREAD_JOIN_BOUND_MS) || g_nmc_marks.cp_started.load()) return LM_NMC_GOING_DOWN;

  g_nmc_marks.stop_pending.store(false);
  g_nmc_marks.started.store(true);
  nmc_set_run_state(LM_NMC_STATE_INITIALIZING);
  upnp_set_errmsgs(upnp_cp_errmsgs());
  HTTP_set_default_user_agent(k_user_agent);
  nmc_contexts_init();
  nmc_notifiers_start();
  lm_nmc_register_api_callback(nmc_event_dispatcher);

  if (!start_control_point(argc, argv, install_signals)) {
    nmc_set_run_state(before);
    return LM_NMC_START_FAILED;
  }
  nmc_set_run_state(LM_NMC_STATE_RUNNING);
  nmc_protection_start();
  // A stop asked for while the start-up ran (from a state callback, or by a
  // critical error) is carried out now that there is something to stop.
  if (g_nmc_marks.stop_pending.exchange(false)) nmc_request_stop();
  registerWebApi();
  return LM_NMC_OK;
}

extern "C" KESTREL_API int lm_nmc_init(int argc, const char *const *argv, int install_signals) {
  nmc_start(argc, argv, install_signals, 1);
  return nmc_run_state() == LM_NMC_STATE_RUNNING ? 1 : 0;
}

extern "C" KESTREL_API int lm_nmc_conn_init(void) {
  uint32_t state = nmc_run_state();
  if (state == LM_NMC_STATE_RUNNING) return 1;
  if (state == LM_NMC_STATE_TERMINATING || state == LM_NMC_STATE_STOPPED) return 0;
  return nmc_start(0, nullptr, 0, 0) == LM_NMC_OK ? 1 : 0;
}

extern "C" KESTREL_API void lm_nmc_set_appdata_path(const char *path) {
  std::lock_guard<std::mutex> hold(g_appdata_mutex);
  g_appdata = path != nullptr ? path : "";
}
