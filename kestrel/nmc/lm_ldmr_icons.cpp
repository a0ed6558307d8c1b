// The "NMC Icon Loader": reads a local renderer's icon from its hook in
// chunks on a thread of its own and hands each chunk to the requester,
// then makes a final call without data.
#include <new>
#include <vector>

#include "base/upnp_log.h"
#include "base/upnp_thread.h"
#include "nmc/lm_ldmr_internal.h"
#include "nmc/lm_ldmr_ops.h"
#include "nmc/lm_nmc_internal.h"

namespace {

const uint32_t k_chunk = 16384;
// A bound on an icon's size, so a hook that never ends the data cannot
// keep the loader for ever.
const uint64_t k_icon_limit = 4u * 1024u * 1024u;

struct Load {
  lm_ldmr_icon_hook hook;
  uint32_t icon;
  nmc_ldmr_icon_chunk chunk;
  void *user;
};

void *icon_loader(void *argument) {
  upnp_init_thread("NMC Icon Loader");
  Load *load = static_cast<Load *>(argument);
  std::vector<char> buffer(k_chunk);
  uint64_t offset = 0;
  lm_nmc_result_t result = 0;
  while (!lm_nmc_is_terminating()) {
    uint32_t got = 0;
    result = load->hook(load->icon, offset, k_chunk, buffer.data(), &got);
    if (result != 0 || got == 0) break;
    if (got > k_chunk) got = k_chunk;
    load->chunk(load->user, buffer.data(), got, 0);
    offset += got;
    if (offset >= k_icon_limit) {
      upnp_log_impl(LOG_LEVEL_WARNING, LOG_SYSTEM, "icon_loader", "NMC: Local renderer icon %u exceeds %llu bytes",
                    load->icon, static_cast<unsigned long long>(k_icon_limit));
      result = LM_NMC_BUFFER_TOO_SMALL;
      break;
    }
  }
  load->chunk(load->user, nullptr, 0, result);
  delete load;
  return nullptr;
}

}  // namespace

lm_nmc_result_t nmc_ldmr_load_icon(int index, uint32_t icon, nmc_ldmr_icon_chunk chunk, void *user) {
  if (chunk == nullptr) return LM_NMC_INVALID_PARAMETER;
  lm_ldmr_icon_hook hook = nmc_ldmr_hooks_of(index).get_icon;
  if (hook == nullptr) return 13;
  Load *load = new (std::nothrow) Load{hook, icon, chunk, user};
  if (load == nullptr) return LM_NMC_OUT_OF_MEMORY;
  if (!upnp_start_detached_thread(icon_loader, load, UPNP_THREAD_LEVEL_DEFAULT)) {
    delete load;
    return LM_NMC_OUT_OF_MEMORY;
  }
  return 0;
}
