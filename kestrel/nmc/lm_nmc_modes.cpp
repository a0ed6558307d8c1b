// NMC modes and their names.
#include "nmc/lm_nmc_modes.h"

#include <atomic>
#include <cstring>

#include "base/upnp_log.h"

namespace {
// Set by "SetNMCMode" and the start-up, read by "GetNMCState".
std::atomic<uint32_t> g_mode{NMC_MODE_MOBILE_DISCOVERY};
std::atomic<uint32_t> g_requested{NMC_MODE_MOBILE_DIRECT};

struct ModeName {
  const char *name;
  uint32_t mode;
};
const ModeName k_accepted[] = {{"Mobile Direct", NMC_MODE_MOBILE_DIRECT},
                               {"Mobile Remote", NMC_MODE_MOBILE_REMOTE},
                               {"Standalone", NMC_MODE_STANDALONE},
                               {"Stationary", NMC_MODE_STATIONARY},
                               {"Mobile", NMC_MODE_MOBILE_DIRECT}};
const ModeName k_reported[] = {{"Standalone", NMC_MODE_STANDALONE},       {"Stationary", NMC_MODE_STATIONARY},
                               {"Mobile Direct", NMC_MODE_MOBILE_DIRECT}, {"Mobile Remote", NMC_MODE_MOBILE_REMOTE},
                               {"Mobile Offline", NMC_MODE_MOBILE_OFFLINE}, {"Mobile Discovery", NMC_MODE_MOBILE_DISCOVERY}};
}  // namespace

uint32_t nmc_mode(void) { return g_mode.load(); }
uint32_t nmc_requested_mode(void) { return g_requested.load(); }

void nmc_set_mode(uint32_t mode) {
  g_requested.store(mode);
  if (mode == NMC_MODE_MOBILE_REMOTE) {
    // Forwarding needs a stationary instance, which this process never
    // finds; it talks to the devices itself instead.
    upnp_log_impl(LOG_LEVEL_INFO, LOG_SYSTEM, "nmc_set_mode", "NMC: Changed Mobile Remote mode to Mobile Direct mode");
    mode = NMC_MODE_MOBILE_DIRECT;
  }
  g_mode.store(mode);
}

bool nmc_set_mode_by_name(const char *name) {
  if (name == nullptr) return false;
  for (const ModeName &accepted : k_accepted) {
    if (std::strcmp(name, accepted.name) == 0) {
      nmc_set_mode(accepted.mode);
      return true;
    }
  }
  return false;
}

const char *nmc_mode_name(uint32_t mode) {
  for (const ModeName &reported : k_reported) {
    if (reported.mode == mode) return reported.name;
  }
  return nullptr;
}

uint32_t nmc_mode_of_property(const char *value) {
  if (value == nullptr || value[0] == '\0' || value[1] != '\0') return NMC_MODE_STANDALONE;
  switch (value[0]) {
    case '1':
      return NMC_MODE_STATIONARY;
    case '2':
      return NMC_MODE_MOBILE_DIRECT;
    case '3':
      return NMC_MODE_MOBILE_REMOTE;
    default:
      return NMC_MODE_STANDALONE;
  }
}
