// The output-string rule every text-returning controller function follows.
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "nmc/lm_nmc_internal.h"

lm_nmc_result_t nmc_out_text(const char *text, uint32_t size, char *buffer) {
  if (buffer != nullptr && size > 0) buffer[0] = '\0';
  if (buffer == nullptr || size == 0) return LM_NMC_INVALID_PARAMETER;
  if (text == nullptr) return LM_NMC_NOT_FOUND;
  size_t length = std::strlen(text);
  if (length + 1 > size) return LM_NMC_BUFFER_TOO_SMALL;
  std::memcpy(buffer, text, length + 1);
  return LM_NMC_OK;
}

lm_nmc_result_t nmc_out_number(int64_t value, uint32_t size, char *buffer) {
  char text[24];
  std::snprintf(text, sizeof text, "%" PRId64, value);
  return nmc_out_text(text, size, buffer);
}
