// The block map read back on resume: arbitrary map bytes against a content
// length taken from the input's first 8 bytes. A map is taken only when its
// size is the length's block count; then exactly the bytes of value 1 mark
// written blocks.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "playlist/upnp_progressive_internal.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  upnp_mem_init();
  upnp_log_set_level(LOG_LEVEL_CRITICAL);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 8) return 0;
  int64_t length = 0;
  std::memcpy(&length, data, sizeof length);
  const uint8_t *map = data + 8;
  const size_t map_size = size - 8;
  std::vector<uint8_t> marks{7};
  const int taken = download_map_parse(map, map_size, length, &marks);
  const bool fits = length > 0 && length <= DOWNLOAD_MAX_LENGTH && static_cast<int64_t>(map_size) == download_block_count(length);
  if (taken != (fits ? 1 : 0)) std::abort();
  if (!taken) return 0;
  if (marks.size() != map_size) std::abort();
  for (size_t i = 0; i < map_size; i++)
    if (marks[i] != (map[i] == 1 ? 1 : 0)) std::abort();
  return 0;
}
