// The common ioctl table: modes, start and stop, time-outs, user agent,
// data directory, configuration properties and logging.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "base/upnp_ini_file.h"
#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "http/http_settings.h"
#include "nmc/lm_nmc_api.h"
#include "nmc/lm_nmc_command.h"
#include "nmc/lm_nmc_internal.h"
#include "webapi/lm_nmc_webapi.h"
#include "nmc/lm_nmc_ioctl.h"
#include "nmc/lm_nmc_modes.h"
#include "nmc/lm_nmc_sessions.h"

namespace {

// Values kept for a stationary instance (platform text, poll interval);
// set by the application, read back by it.
std::mutex g_stationary_mutex;
std::string g_stationary_platform;
long g_stationary_poll_interval = 0;

bool starts_with_digit(const char *text) { return std::isdigit(static_cast<unsigned char>(text[0])) != 0; }
// Decimal text (an optional sign, then digits); false for anything else.
bool parse_decimal(const char *text, long *value) {
  const char *digits = text[0] == '-' || text[0] == '+' ? text + 1 : text;
  if (!starts_with_digit(digits)) return false;
  char *end = nullptr;
  *value = std::strtol(text, &end, 10);
  while (end != nullptr && std::isspace(static_cast<unsigned char>(*end))) ++end;
  return end != nullptr && *end == '\0';
}

lm_nmc_result_t set_mode(uint32_t, const char *argument, uint32_t, char *) {
  return nmc_set_mode_by_name(argument) ? LM_NMC_OK : LM_NMC_INVALID_PARAMETER;
}
lm_nmc_result_t get_mode(uint32_t, const char *, uint32_t size, char *out) {
  return nmc_out_text(nmc_mode_name(nmc_mode()), size, out);
}
lm_nmc_result_t stationary_exists(uint32_t, const char *, uint32_t size, char *out) {
  return nmc_out_text("0", size, out);  // no stationary instance is ever known
}
lm_nmc_result_t stationary_url(uint32_t, const char *, uint32_t size, char *out) {
  return nmc_out_text(nullptr, size, out);
}
lm_nmc_result_t get_version(uint32_t, const char *, uint32_t size, char *out) {
  const char *version = upnp_ini_file_getString(INI_VERSION);
  if (version == nullptr || version[0] == '\0') return LM_NMC_NO_VALUE;
  return nmc_out_text(version, size, out);
}

lm_nmc_result_t start_nmc(uint32_t, const char *argument, uint32_t, char *) {
  std::vector<std::string> words = {""};
  for (const char *p = argument; *p != '\0';) {
    while (std::isspace(static_cast<unsigned char>(*p))) ++p;
    const char *begin = p;
    while (*p != '\0' && !std::isspace(static_cast<unsigned char>(*p))) ++p;
    if (p > begin) words.emplace_back(begin, p);
  }
  std::vector<const char *> argv;
  for (const std::string &word : words) argv.push_back(word.c_str());
  lm_nmc_result_t result = nmc_start(static_cast<int>(argv.size()), argv.data(), 0, 1);
  return result == LM_NMC_OK ? LM_NMC_OK : LM_NMC_START_FAILED;
}
lm_nmc_result_t stop_nmc(uint32_t, const char *, uint32_t, char *) {
  nmc_request_stop();
  return LM_NMC_OK;
}
lm_nmc_result_t run_state(uint32_t, const char *, uint32_t size, char *out) {
  return nmc_out_text(nmc_run_state_name(nmc_run_state()), size, out);
}
lm_nmc_result_t rescan(uint32_t, const char *, uint32_t, char *) {
  return nmc_api_run(nmc_command_text("NetworkScan", {{"reload", "true"}}, {}));
}

lm_nmc_result_t get_clients(uint32_t, const char *, uint32_t size, char *out) {
  return nmc_out_text(nmc_sessions_listing().c_str(), size, out);
}

lm_nmc_result_t get_request_timeout(uint32_t, const char *, uint32_t size, char *out) {
  if (out == nullptr || size == 0) return LM_NMC_INVALID_PARAMETER;
  if (size < 16) return LM_NMC_BUFFER_TOO_SMALL;
  return nmc_out_number(HTTP_get_connection_timeout(), size, out);
}
lm_nmc_result_t set_request_timeout(uint32_t, const char *argument, uint32_t, char *) {
  long seconds = 0;
  if (!parse_decimal(argument, &seconds) || seconds < 0) return LM_NMC_INVALID_PARAMETER;
  HTTP_set_connection_timeout(static_cast<unsigned int>(seconds));
  return LM_NMC_OK;
}
lm_nmc_result_t get_soap_timeout(uint32_t, const char *, uint32_t size, char *out) {
  return nmc_out_number(HTTP_get_soap_timeout(), size, out);
}
lm_nmc_result_t set_soap_timeout(uint32_t, const char *argument, uint32_t, char *) {
  long seconds = 0;
  if (!starts_with_digit(argument) || !parse_decimal(argument, &seconds)) return LM_NMC_INVALID_PARAMETER;
  HTTP_set_soap_timeout(static_cast<unsigned int>(seconds));
  return LM_NMC_OK;
}
lm_nmc_result_t set_user_agent(uint32_t, const char *argument, uint32_t, char *) {
  HTTP_make_user_agent_settable();
  HTTP_set_default_user_agent(argument);
  return LM_NMC_OK;
}
lm_nmc_result_t set_platform(uint32_t, const char *argument, uint32_t, char *) {
  std::lock_guard<std::mutex> hold(g_stationary_mutex);
  g_stationary_platform = argument;
  return LM_NMC_OK;
}
lm_nmc_result_t get_platform(uint32_t, const char *, uint32_t size, char *out) {
  std::lock_guard<std::mutex> hold(g_stationary_mutex);
  return nmc_out_text(g_stationary_platform.empty() ? nullptr : g_stationary_platform.c_str(), size, out);
}
lm_nmc_result_t set_data_directory(uint32_t, const char *argument, uint32_t, char *) {
  lm_nmc_set_appdata_path(argument);
  return LM_NMC_OK;
}
lm_nmc_result_t set_poll_interval(uint32_t, const char *argument, uint32_t, char *) {
  long seconds = 0;
  if (!parse_decimal(argument, &seconds) || seconds < 0) return LM_NMC_INVALID_PARAMETER;
  std::lock_guard<std::mutex> hold(g_stationary_mutex);
  g_stationary_poll_interval = seconds;
  return LM_NMC_OK;
}
lm_nmc_result_t get_poll_interval(uint32_t, const char *, uint32_t size, char *out) {
  std::lock_guard<std::mutex> hold(g_stationary_mutex);
  return nmc_out_number(g_stationary_poll_interval, size, out);
}
lm_nmc_result_t enable_feature(uint32_t, const char *argument, uint32_t, char *) {
  if (std::strcmp(argument, "7612") != 0) return LM_NMC_INVALID_PARAMETER;
  nmc_enable_web_api();
  lm_nmc_enable_web_api(1);
  return LM_NMC_OK;
}

lm_nmc_result_t set_ini_property(uint32_t, const char *argument, uint32_t, char *) {
  const char *blank = argument;
  while (*blank != '\0' && !std::isspace(static_cast<unsigned char>(*blank))) ++blank;
  std::string name(argument, blank);
  while (std::isspace(static_cast<unsigned char>(*blank))) ++blank;
  unsigned int key = upnp_ini_file_getPropertyKey(name.c_str());
  if (key == UPNP_INI_NO_KEY) return LM_NMC_NOT_FOUND;
  upnp_ini_file_setPropertyByKey(key, blank);
  return LM_NMC_OK;
}
lm_nmc_result_t get_ini_property(uint32_t, const char *argument, uint32_t size, char *out) {
  unsigned int key = upnp_ini_file_getPropertyKey(argument);
  if (key == UPNP_INI_NO_KEY) return nmc_out_text(nullptr, size, out);
  const char *value = upnp_ini_file_getString(key);
  return nmc_out_text(value != nullptr && value[0] != '\0' ? value : nullptr, size, out);
}

lm_nmc_result_t set_log_filename(uint32_t, const char *argument, uint32_t, char *) {
  size_t length = std::strlen(argument);
  if (length < 4 || std::strcmp(argument + length - 4, ".txt") != 0) return LM_NMC_INVALID_PARAMETER;
  if (upnp_log_init(argument) == 0) return LM_NMC_START_FAILED;
  nmc_log_version_line();
  return LM_NMC_OK;
}
lm_nmc_result_t get_log_filename(uint32_t, const char *, uint32_t size, char *out) {
  char *name = upnp_log_get_filename();
  lm_nmc_result_t result = nmc_out_text(name, size, out);
  upnp_free_impl(name);
  return result;
}
lm_nmc_result_t set_log_source(uint32_t, const char *argument, uint32_t, char *) {
  long value = 0;
  if (!parse_decimal(argument, &value)) return LM_NMC_INVALID_PARAMETER;
  upnp_log_set_sources(static_cast<unsigned int>(value));
  return LM_NMC_OK;
}
lm_nmc_result_t get_log_source(uint32_t, const char *, uint32_t size, char *out) {
  return nmc_out_number(static_cast<int>(upnp_log_get_sources()), size, out);
}
lm_nmc_result_t set_log_level(uint32_t, const char *argument, uint32_t, char *) {
  long value = 0;
  if (!parse_decimal(argument, &value)) return LM_NMC_INVALID_PARAMETER;
  upnp_log_set_level(static_cast<int>(value));
  return LM_NMC_OK;
}
lm_nmc_result_t get_log_level(uint32_t, const char *, uint32_t size, char *out) {
  return nmc_out_number(upnp_log_get_level(), size, out);
}

}  // namespace

const nmc_ioctl_row nmc_common_ioctls[] = {
    {"SetNMCMode", 1, true, set_mode},
    {"GetNMCState", 2, false, get_mode},
    {"GetNMCStationaryExists", 3, false, stationary_exists},
    {"GetNMCStationaryURL", 10, false, stationary_url},
    {"GetNMCVersion", 4, false, get_version},
    {"StartNMC", 5, false, start_nmc},
    {"StopNMC", 6, false, stop_nmc},
    {"GetNMCRunState", 7, false, run_state},
    {"NMCRescan", 8, false, rescan},
    {"GetNMCClients", 9, false, get_clients},
    {"GetNMCRequestTimeout", 11, false, get_request_timeout},
    {"SetNMCRequestTimeout", 12, true, set_request_timeout},
    {"GetNMCCommunicationTimeout", 28, false, get_soap_timeout},
    {"SetNMCCommunicationTimeout", 29, true, set_soap_timeout},
    {"SetNMCUserAgent", 13, true, set_user_agent},
    {"SetStationaryPlatform", 14, true, set_platform},
    {"GetStationaryPlatform", 15, false, get_platform},
    {"SetNMCDataDirectory", 16, true, set_data_directory},
    {"SetStationaryPollInterval", 17, true, set_poll_interval},
    {"GetStationaryPollInterval", 18, false, get_poll_interval},
    {"EnableFeature", 19, true, enable_feature},
    {"SetIniProperty", 20, true, set_ini_property},
    {"GetIniProperty", 21, true, get_ini_property},
    {"SetLogFilename", 22, true, set_log_filename},
    {"GetLogFilename", 23, false, get_log_filename},
    {"SetLogSource", 24, true, set_log_source},
    {"GetLogSource", 25, false, get_log_source},
    {"SetLogLevel", 26, true, set_log_level},
    {"GetLogLevel", 27, false, get_log_level},
    {nullptr, 0, false, nullptr},
};
