// Reading a whole metadata text through a controller context.
#include "media/zel_device_text.h"

#include <vector>

bool ZelReadContextText(ZelExtractMetadataFn extract, uint32_t context, const char *key, std::string *out) {
  out->clear();
  if (extract == nullptr || key == nullptr) return false;
  for (uint32_t size = 256; size <= ZEL_DEVICE_TEXT_MAX; size *= 2) {
    std::vector<char> buffer(size, '\0');
    lm_nmc_result_t rc = extract(context, key, 0, size, buffer.data());
    if (rc == LM_NMC_OK) {
      buffer[size - 1] = '\0';
      out->assign(buffer.data());
      return true;
    }
    if (rc != LM_NMC_BUFFER_TOO_SMALL) return false;
  }
  return false;
}
