#ifndef KESTREL_BASE_UPNP_XML_ARENA_H
#define KESTREL_BASE_UPNP_XML_ARENA_H

/* The block store behind parsed trees. A parse takes its nodes, attributes
 * and texts from a few large accounted blocks instead of one allocation
 * each; the store counts the records (nodes and attributes) still alive in
 * it and gives its blocks back when the last one is released, so parts of a
 * parsed tree can be released, kept or moved into other trees on their own.
 * Internal to the XML module. */

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

struct upnp_xml_arena;

/* A store whose first block holds `first_block` bytes, counting `live`
 * records from the start. None when memory runs out. */
struct upnp_xml_arena *upnp_xml_arena_create(size_t first_block, uint64_t live);
/* `size` bytes aligned for pointers, or none when memory runs out (the
 * slow path of upnp_xml_arena_take: a new block). */
void *upnp_xml_arena_alloc(struct upnp_xml_arena *arena, size_t size);
/* Adds to / takes from the live count; the store is freed when it reaches 0. */
void upnp_xml_arena_hold(struct upnp_xml_arena *arena, uint64_t count);
void upnp_xml_arena_drop(struct upnp_xml_arena *arena, uint64_t count);

#ifdef __cplusplus
}

#include <atomic>

struct upnp_xml_arena {
  std::atomic<uint64_t> live;
  struct upnp_xml_arena_block *blocks; /* newest first */
  char *cursor;
  char *limit;
  size_t next_size;
};

/* Bump allocation from the current block; the parser's hot path. */
inline void *upnp_xml_arena_take(upnp_xml_arena *arena, size_t size) {
  size = (size + 7) & ~static_cast<size_t>(7);
  if (static_cast<size_t>(arena->limit - arena->cursor) >= size) {
    void *p = arena->cursor;
    arena->cursor += size;
    return p;
  }
  return upnp_xml_arena_alloc(arena, size);
}
#endif

#endif
