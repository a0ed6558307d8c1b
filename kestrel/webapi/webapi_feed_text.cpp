// Feed entry texts read with a growing buffer (see webapi_feed_text.h).
#include "webapi/webapi_feed_text.h"

#include <algorithm>

lm_nmc_result_t webapi_feed_read_text(const std::function<lm_nmc_result_t(uint32_t size, char *buffer)> &call,
                                      uint32_t first, uint32_t most, std::vector<char> *buffer) {
  uint32_t size = std::max<uint32_t>(std::min(first, most), 1);
  for (;;) {
    if (buffer->size() < size) buffer->resize(size);
    const lm_nmc_result_t result = call(static_cast<uint32_t>(buffer->size()), buffer->data());
    buffer->back() = '\0';
    if (result != LM_NMC_BUFFER_TOO_SMALL || buffer->size() >= most) return result;
    size = static_cast<uint32_t>(std::min<uint64_t>(2ull * buffer->size(), most));
  }
}
