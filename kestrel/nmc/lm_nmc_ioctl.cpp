// The ioctl lookup and the three entry points.
#include "nmc/lm_nmc_ioctl.h"

#include <cctype>
#include <cstring>

#include "nmc/lm_dmrcp_ioctl.h"
#include "nmc/lm_dmrcp_sink.h"
#include "nmc/lm_nmc_internal.h"

namespace {

bool is_blank(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

// Commands usable while the controller is stopped.
bool usable_while_stopped(uint32_t id) {
  static const uint32_t ids[] = {1, 2, 5, 6, 7, 13, 14, 15, 16, 17, 18, 22, 23, 24, 25, 26, 27};
  for (uint32_t allowed : ids) {
    if (allowed == id) return true;
  }
  return false;
}

}  // namespace

lm_nmc_result_t nmc_ioctl_run(const nmc_ioctl_row *table, uint32_t context, const char *command, uint32_t size,
                              char *out) {
  if (out != nullptr && size > 0) out[0] = '\0';
  if (command == nullptr || command[0] == '\0') return LM_NMC_INVALID_PARAMETER;
  for (const nmc_ioctl_row *row = table; row->name != nullptr; ++row) {
    size_t length = std::strlen(row->name);
    if (std::strncmp(command, row->name, length) != 0) continue;
    if (command[length] != '\0' && !is_blank(command[length])) continue;
    const char *argument = command + length;
    while (is_blank(*argument)) ++argument;
    if (row->needs_argument && *argument == '\0') return LM_NMC_INVALID_PARAMETER;
    if (!usable_while_stopped(row->id) && !lm_nmc_conn_init()) return LM_NMC_GOING_DOWN;
    return row->handler(context, argument, size, out);
  }
  return LM_NMC_NOT_FOUND;
}

extern "C" KESTREL_API lm_nmc_result_t lm_nmc_ioctl(uint32_t context, const char *command, uint32_t size, char *out) {
  return nmc_ioctl_run(nmc_common_ioctls, context, command, size, out);
}

extern "C" KESTREL_API lm_nmc_result_t lm_dmscp_ioctl(uint32_t context, const char *command, uint32_t size,
                                                      char *out) {
  lm_nmc_result_t result = nmc_ioctl_run(nmc_server_ioctls, context, command, size, out);
  if (result != LM_NMC_NOT_FOUND) return result;
  return nmc_ioctl_run(nmc_common_ioctls, context, command, size, out);
}

extern "C" KESTREL_API lm_nmc_result_t lm_dmrcp_ioctl(uint32_t context, const char *command, uint32_t size,
                                                      char *out) {
  lm_nmc_result_t result = nmc_ioctl_run(nmc_renderer_ioctls, context, command, size, out);
  if (result == LM_NMC_NOT_FOUND) result = nmc_ioctl_run(nmc_dmrcp_ioctls, context, command, size, out);
  if (result == LM_NMC_NOT_FOUND) result = nmc_ioctl_run(nmc_dmrcp_sink_ioctls, context, command, size, out);
  if (result == LM_NMC_NOT_FOUND) result = nmc_ioctl_run(nmc_common_ioctls, context, command, size, out);
  // A command no table knows goes to the local renderer the context points at.
  if (result == LM_NMC_NOT_FOUND) result = nmc_dmrcp_ioctl_local(context, command, size, out);
  return result;
}
