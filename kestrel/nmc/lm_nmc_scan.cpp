// "NetworkScan" and "NMCRescan": renewing the control point's device lists,
// or a new network search.
#include "cp/upnp_cp.h"
#include "nmc/lm_nmc_internal.h"
#include "ssdp/upnp_ssdp.h"

lm_nmc_result_t nmc_network_scan(int reload) {
  if (reload != 0) {
    upnp_cp_renew_device_lists(0);
  } else {
    M_Search(0);
  }
  return LM_NMC_OK;
}
