// The renderer's sink protocolInfo list as an ioctl.
#include "nmc/lm_dmrcp_sink.h"

#include <string>

#include "base/upnp_mem.h"
#include "cp/upnp_cp_res.h"
#include "nmc/lm_dmrcp_state.h"
#include "nmc/lm_ldmr_ops.h"
#include "nmc/lm_nmc_internal.h"

namespace {

lm_nmc_result_t get_sink(uint32_t context, const char *, uint32_t size, char *out) {
  if (out == nullptr || size == 0) return LM_NMC_INVALID_PARAMETER;
  nmc_dmr_target target;
  lm_nmc_result_t result = nmc_dmr_find(context, &target);
  if (result != LM_NMC_OK) return result;
  std::string list;
  if (nmc_ldmr_is_local(target.index)) {
    result = nmc_ldmr_get_protocol_info(target.index, &list);
    if (result != LM_NMC_OK) return result;
  } else {
    char *text = nullptr;
    int rc = upnp_cp_get_protocolinfo(target.index, &text);
    if (rc == 0 && text != nullptr) list = text;
    upnp_free_impl(text);
    if (rc != 0) return static_cast<lm_nmc_result_t>(rc);
  }
  return nmc_out_text(list.c_str(), size, out);
}

}  // namespace

const nmc_ioctl_row nmc_dmrcp_sink_ioctls[] = {
    {"DMRGetSinkProtocolInfo", 4120, false, get_sink},
    {nullptr, 0, false, nullptr},
};
