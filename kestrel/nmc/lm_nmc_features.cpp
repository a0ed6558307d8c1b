// Features the application switches on: the local web API.
#include <atomic>

#include "nmc/lm_nmc_internal.h"

namespace {
// Set by "EnableFeature 7612", read when the manager starts.
std::atomic<bool> g_web_api{false};
}  // namespace

void nmc_enable_web_api(void) { g_web_api.store(true); }
bool nmc_web_api_enabled(void) { return g_web_api.load(); }
