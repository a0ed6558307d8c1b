// Block store for parsed trees (see upnp_xml_arena.h).

#include <atomic>
#include <new>

#include "base/upnp_mem.h"
#include "base/upnp_xml_arena.h"

struct upnp_xml_arena_block {
  upnp_xml_arena_block *next;
  size_t size;  // usable bytes after the header
};

namespace {

using Block = upnp_xml_arena_block;

constexpr size_t kAlign = 8;
static_assert(alignof(void *) <= kAlign, "records hold pointers");
constexpr size_t kBlockHeader = (sizeof(Block) + kAlign - 1) & ~(kAlign - 1);
constexpr size_t kMinBlock = 4096;

inline size_t round_up(size_t n) { return (n + kAlign - 1) & ~(kAlign - 1); }

}  // namespace

namespace {

bool add_block(upnp_xml_arena *a, size_t need) {
  size_t size = a->next_size > need ? a->next_size : need;
  Block *b = static_cast<Block *>(upnp_malloc_impl(kBlockHeader + size));
  if (b == nullptr) return false;
  b->next = a->blocks;
  b->size = size;
  a->blocks = b;
  a->cursor = reinterpret_cast<char *>(b) + kBlockHeader;
  a->limit = a->cursor + size;
  a->next_size = size * 2;
  return true;
}

}  // namespace

extern "C" upnp_xml_arena *upnp_xml_arena_create(size_t first_block, uint64_t live) {
  void *mem = upnp_malloc_impl(sizeof(upnp_xml_arena));
  if (mem == nullptr) return nullptr;
  upnp_xml_arena *a = new (mem) upnp_xml_arena;
  a->live.store(live, std::memory_order_relaxed);
  a->blocks = nullptr;
  a->cursor = nullptr;
  a->limit = nullptr;
  a->next_size = first_block < kMinBlock ? kMinBlock : round_up(first_block);
  if (!add_block(a, 0)) {
    a->~upnp_xml_arena();
    upnp_free_impl(mem);
    return nullptr;
  }
  return a;
}

extern "C" void *upnp_xml_arena_alloc(upnp_xml_arena *a, size_t size) {
  size = round_up(size);
  if (static_cast<size_t>(a->limit - a->cursor) < size && !add_block(a, size)) return nullptr;
  void *p = a->cursor;
  a->cursor += size;
  return p;
}

extern "C" void upnp_xml_arena_hold(upnp_xml_arena *a, uint64_t count) {
  a->live.fetch_add(count, std::memory_order_relaxed);
}

extern "C" void upnp_xml_arena_drop(upnp_xml_arena *a, uint64_t count) {
  if (count == 0) return;
  if (a->live.fetch_sub(count, std::memory_order_acq_rel) != count) return;
  Block *b = a->blocks;
  while (b != nullptr) {
    Block *next = b->next;
    upnp_free_impl(b);
    b = next;
  }
  a->~upnp_xml_arena();
  upnp_free_impl(a);
}
