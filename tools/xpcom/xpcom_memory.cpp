// The counting allocator behind NS_Alloc and its companions.
#include "xpcom_memory.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace {
// Touched by every thread that allocates for the interface (the component's
// firing threads among them).
std::atomic<int64_t> g_live{0};
}  // namespace

extern "C" void *NS_Alloc(size_t size) {
  void *block = std::malloc(size == 0 ? 1 : size);
  if (block != nullptr) g_live.fetch_add(1, std::memory_order_relaxed);
  return block;
}

extern "C" void *NS_Realloc(void *block, size_t size) {
  if (block == nullptr) return NS_Alloc(size);
  if (size == 0) {
    NS_Free(block);
    return nullptr;
  }
  return std::realloc(block, size);  // on failure the old block stays live
}

extern "C" void NS_Free(void *block) {
  if (block == nullptr) return;
  g_live.fetch_sub(1, std::memory_order_relaxed);
  std::free(block);
}

extern "C" void *NS_Clone(const void *data, size_t size) {
  if (data == nullptr) return nullptr;
  void *block = NS_Alloc(size);
  if (block != nullptr && size > 0) std::memcpy(block, data, size);
  return block;
}

extern "C" char *NS_StringClone(const char *text) {
  if (text == nullptr) return nullptr;
  return static_cast<char *>(NS_Clone(text, std::strlen(text) + 1));
}

extern "C" int64_t NS_LiveBlocks(void) { return g_live.load(std::memory_order_relaxed); }
