// Cancel flags for the long calls across devices: the caller makes a flag,
// hands its number to a call and sets it from any other thread; the call
// looks at it while it waits. Flags are numbers, not pointers, so that a
// caller's late set after a delete is an error code, not a write into
// freed memory.
#include <map>
#include <mutex>

#include "nmc/lm_nmc_across.h"
#include "nmc/lm_nmc_cancel.h"

namespace {

// The lock guards the map and the counter; every flag lives in the map.
std::mutex g_lock;
std::map<uint32_t, bool> g_flags;
uint32_t g_next = 1;

}  // namespace

bool nmc_cancel_is_set(uint32_t cancel) {
  if (cancel == 0) return false;
  std::lock_guard<std::mutex> hold(g_lock);
  auto it = g_flags.find(cancel);
  return it != g_flags.end() && it->second;
}

extern "C" KESTREL_API lm_nmc_result_t lm_nmc_cancel_create(uint32_t *cancel) {
  if (cancel == nullptr) return LM_NMC_INVALID_PARAMETER;
  *cancel = 0;
  std::lock_guard<std::mutex> hold(g_lock);
  if (g_flags.size() >= LM_NMC_CANCEL_MAX_HELD) return LM_NMC_NO_FREE_CONTEXT;
  while (g_next == 0 || g_flags.count(g_next) != 0) ++g_next;
  *cancel = g_next++;
  g_flags[*cancel] = false;
  return LM_NMC_OK;
}

extern "C" KESTREL_API lm_nmc_result_t lm_nmc_cancel_set(uint32_t cancel) {
  std::lock_guard<std::mutex> hold(g_lock);
  auto it = g_flags.find(cancel);
  if (it == g_flags.end()) return LM_NMC_INVALID_INDEX;
  it->second = true;
  return LM_NMC_OK;
}

extern "C" KESTREL_API lm_nmc_result_t lm_nmc_cancel_delete(uint32_t cancel) {
  std::lock_guard<std::mutex> hold(g_lock);
  return g_flags.erase(cancel) != 0 ? LM_NMC_OK : LM_NMC_INVALID_INDEX;
}
