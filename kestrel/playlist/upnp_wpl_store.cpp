// The process-wide playlist store: records by handle, their properties, the
// per-item cache and the item operations, all under g_wpl_section.
#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "base/upnp_critsec.h"
#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "playlist/upnp_wpl_internal.h"

struct upnp_wpl_playlist_iterator {
  uint32_t next;  // the slot to look at next
};

struct upnp_wpl_item_iterator {
  uint32_t handle;
  uint32_t next;  // index of the item to hand out next
};

namespace {

CRITICAL_SECTION g_wpl_section;
std::atomic<bool> g_wpl_ready{false};
std::mutex g_wpl_init_mutex;
// Set once a call without the store has been reported; upnp_wpl_init clears
// it. A host that calls early gets its error code and one warning, not a
// line per call (and never the end of its process).
std::atomic<bool> g_wpl_warned{false};

// Slots by handle; slot 0 is never used. The next free slot only grows.
upnp_wpl_playlist **g_slots = nullptr;
uint32_t g_slot_count = 0;
uint32_t g_next_free = 1;

constexpr uint32_t kGrowBy = 5;

bool grow_if_needed() {
  if (g_next_free + 1 < g_slot_count) return true;
  uint32_t size = g_slot_count + kGrowBy;
  while (g_next_free + 1 >= size) size += kGrowBy;
  auto *slots = static_cast<upnp_wpl_playlist **>(upnp_realloc_impl(g_slots, size * sizeof(*g_slots)));
  if (!slots) return false;
  for (uint32_t i = g_slot_count; i < size; ++i) slots[i] = nullptr;
  g_slots = slots;
  g_slot_count = size;
  return true;
}

bool same_key(const upnp_wpl_playlist *a, const upnp_wpl_playlist *b) {
  if (a->type != b->type) return false;
  if (!a->title || !b->title) return a->title == b->title;
  return std::strcmp(a->title, b->title) == 0;
}

void remove_at(upnp_wpl_playlist *record, uint32_t index) {
  upnp_wpl_free_item(record->items[index]);
  std::memmove(record->items + index, record->items + index + 1,
               (record->item_count - index - 1) * sizeof(record->items[0]));
  --record->item_count;
  wpl_drop_cache(record);
}

int remove_by_src(uint32_t handle, const char *src) {
  if (!src) return UPNP_WPL_FAILED;
  wpl_guard hold;
  upnp_wpl_playlist *record = hold.ok() ? wpl_record(handle) : nullptr;
  if (!record) return UPNP_WPL_FAILED;
  for (uint32_t i = 0; i < record->item_count; ++i) {
    if (std::strcmp(record->items[i]->src, src) == 0) {
      remove_at(record, i);
      return UPNP_WPL_OK;
    }
  }
  return UPNP_WPL_FAILED;
}

void warn_not_ready(const char *function) {
  if (!g_wpl_warned.exchange(true)) {
    upnp_log_impl(LOG_LEVEL_WARNING, LOG_SYSTEM, function, "critical section not initialized");
  }
}

}  // namespace

bool wpl_lock() {
  if (!g_wpl_ready.load()) {
    warn_not_ready("wpl_lock");
    return false;
  }
  EnterCriticalSection(&g_wpl_section);
  return true;
}

void wpl_unlock() {
  if (!g_wpl_ready.load()) {
    warn_not_ready("wpl_unlock");
    return;
  }
  LeaveCriticalSection(&g_wpl_section);
}

bool wpl_set_text(char **field, const char *text) { return upnp_strdup_replace(field, text) != 0; }

upnp_wpl_playlist *wpl_new_record(const char *title, int type, int source, const char *generator,
                                  const char *original_file_name) {
  auto *r = static_cast<upnp_wpl_playlist *>(upnp_calloc_impl(1, sizeof(upnp_wpl_playlist)));
  if (!r) return nullptr;
  r->type = type;
  r->source = source;
  if (!wpl_set_text(&r->title, title) || !wpl_set_text(&r->generator, generator) ||
      !wpl_set_text(&r->original_file_name, original_file_name)) {
    wpl_free_record(r);
    return nullptr;
  }
  return r;
}

void wpl_drop_cache(upnp_wpl_playlist *record) {
  upnp_free_impl(record->cache);
  record->cache = nullptr;
}

void wpl_clear_items(upnp_wpl_playlist *record) {
  for (uint32_t i = 0; i < record->item_count; ++i) upnp_wpl_free_item(record->items[i]);
  upnp_free_impl(record->items);
  record->items = nullptr;
  record->item_count = record->item_capacity = 0;
  wpl_drop_cache(record);
}

void wpl_free_record(upnp_wpl_playlist *record) {
  if (!record) return;
  wpl_clear_items(record);
  upnp_free_impl(record->generator);
  upnp_free_impl(record->original_file_name);
  upnp_free_impl(record->title);
  upnp_free_impl(record->file_path);
  upnp_free_impl(record);
}

bool wpl_append_item(upnp_wpl_playlist *record, upnp_wpl_item *item) {
  if (record->item_count == record->item_capacity) {
    uint32_t capacity = record->item_capacity ? record->item_capacity * 2 : 8;
    auto *items =
        static_cast<upnp_wpl_item **>(upnp_realloc_impl(record->items, capacity * sizeof(record->items[0])));
    if (!items) return false;
    record->items = items;
    record->item_capacity = capacity;
  }
  record->items[record->item_count++] = item;
  wpl_drop_cache(record);
  return true;
}

void wpl_take_over(upnp_wpl_playlist *to, upnp_wpl_playlist *from, bool take_generator) {
  wpl_clear_items(to);
  to->items = from->items;
  to->item_count = from->item_count;
  to->item_capacity = from->item_capacity;
  from->items = nullptr;
  from->item_count = from->item_capacity = 0;
  to->source = from->source;
  to->type = from->type;
  if (take_generator && from->generator) {
    upnp_free_impl(to->generator);
    to->generator = from->generator;
    from->generator = nullptr;
  }
}

upnp_wpl_playlist *wpl_record(uint32_t handle) {
  if (handle == 0 || handle >= g_next_free || handle >= g_slot_count) return nullptr;
  return g_slots[handle];
}

uint32_t wpl_add_record(upnp_wpl_playlist *record, bool replace) {
  for (uint32_t h = 1; h < g_next_free && h < g_slot_count; ++h) {
    upnp_wpl_playlist *found = g_slots[h];
    if (!found || !same_key(found, record)) continue;
    if (record->source == UPNP_WPL_SOURCE_CDS && found->source != UPNP_WPL_SOURCE_CDS) {
      found->source = UPNP_WPL_SOURCE_CDS;
    }
    if (replace) {
      wpl_take_over(found, record, true);
      found->cache = record->cache;
      record->cache = nullptr;
    }
    wpl_free_record(record);
    return h;
  }
  if (!grow_if_needed()) {
    wpl_free_record(record);
    return 0;
  }
  uint32_t handle = g_next_free++;
  record->handle = handle;
  g_slots[handle] = record;
  return handle;
}

// Starts and stops are counted: the controller and the playlist objects each
// start the store once and stop it once, and only the last stop ends it, so
// one user's stop never pulls the store from under the other. A stop without
// a start does nothing.
uint32_t g_wpl_starts = 0;

extern "C" void upnp_wpl_init(void) {
  std::lock_guard<std::mutex> hold(g_wpl_init_mutex);
  ++g_wpl_starts;
  if (g_wpl_ready.load()) return;
  InitializeCriticalSection(&g_wpl_section);
  g_wpl_warned.store(false);
  g_wpl_ready.store(true);
}

extern "C" void upnp_wpl_exit(void) {
  std::lock_guard<std::mutex> hold(g_wpl_init_mutex);
  if (g_wpl_starts == 0) return;
  if (--g_wpl_starts > 0) return;
  if (!g_wpl_ready.load()) return;
  EnterCriticalSection(&g_wpl_section);
  for (uint32_t h = 0; h < g_slot_count; ++h) wpl_free_record(g_slots[h]);
  upnp_free_impl(g_slots);
  g_slots = nullptr;
  g_slot_count = 0;
  // Handles are never given out twice, not even across a restart of the store.
  g_wpl_ready.store(false);
  LeaveCriticalSection(&g_wpl_section);
  DeleteCriticalSection(&g_wpl_section);
}

extern "C" int upnp_wpl_create_playlist(const char *title, int type, int source, const char *generator,
                                        const char *original_file_name, uint32_t *handle) {
  if (handle) *handle = 0;
  if (!title || !handle) return UPNP_WPL_FAILED;
  wpl_guard hold;
  if (!hold.ok()) return UPNP_WPL_FAILED;
  upnp_wpl_playlist *record = wpl_new_record(title, type, source, generator, original_file_name);
  if (!record) return UPNP_WPL_FAILED;
  *handle = wpl_add_record(record, false);
  return *handle ? UPNP_WPL_OK : UPNP_WPL_FAILED;
}

extern "C" int upnp_wpl_delete_playlist(uint32_t handle) {
  wpl_guard hold;
  upnp_wpl_playlist *record = hold.ok() ? wpl_record(handle) : nullptr;
  if (!record) return UPNP_WPL_FAILED;
  if (record->file_path) {
    bool remove_file;
    if (record->original_file_name && std::strcmp(record->original_file_name, record->file_path) != 0) {
      remove_file = true;
    } else {
      // The user's own originals stay.
      remove_file = record->source == UPNP_WPL_SOURCE_CDS || record->source == UPNP_WPL_SOURCE_OTHER;
    }
    if (remove_file) std::remove(record->file_path);
  }
  g_slots[handle] = nullptr;
  wpl_free_record(record);
  return UPNP_WPL_OK;
}

extern "C" int upnp_wpl_release_playlist(uint32_t handle) {
  wpl_guard hold;
  upnp_wpl_playlist *record = hold.ok() ? wpl_record(handle) : nullptr;
  if (!record) return UPNP_WPL_FAILED;
  g_slots[handle] = nullptr;
  wpl_free_record(record);
  return UPNP_WPL_OK;
}

extern "C" int upnp_wpl_rename_playlist(uint32_t handle, const char *title) {
  if (!title) return UPNP_WPL_FAILED;
  wpl_guard hold;
  upnp_wpl_playlist *record = hold.ok() ? wpl_record(handle) : nullptr;
  if (!record) return UPNP_WPL_FAILED;
  return wpl_set_text(&record->title, title) ? UPNP_WPL_OK : UPNP_WPL_FAILED;
}

extern "C" int upnp_wpl_set_playlist_type(uint32_t handle, int type) {
  if (type < UPNP_WPL_TYPE_MUSIC || type > UPNP_WPL_TYPE_MIXED) return UPNP_WPL_FAILED;
  wpl_guard hold;
  upnp_wpl_playlist *record = hold.ok() ? wpl_record(handle) : nullptr;
  if (!record) return UPNP_WPL_FAILED;
  record->type = type;
  return UPNP_WPL_OK;
}

extern "C" int upnp_wpl_get_playlist_properties(uint32_t handle, char **title, int *type, int *source,
                                                char **generator, char **original_file_name, char **file_path,
                                                uint32_t *item_count) {
  if (type) *type = 0;
  if (source) *source = 0;
  if (item_count) *item_count = 0;
  wpl_guard hold;
  upnp_wpl_playlist *record = hold.ok() ? wpl_record(handle) : nullptr;
  if (!record) return UPNP_WPL_FAILED;
  struct {
    char **out;
    const char *text;
  } texts[] = {{title, record->title},
               {generator, record->generator},
               {original_file_name, record->original_file_name},
               {file_path, record->file_path}};
  for (auto &t : texts) {
    if (t.out && t.text) *t.out = upnp_strdup_impl(t.text);
  }
  if (type) *type = record->type;
  if (source) *source = record->source;
  if (item_count) *item_count = record->item_count;
  return UPNP_WPL_OK;
}

extern "C" int upnp_wpl_set_cache(uint32_t handle, uint32_t count, const uint32_t *values) {
  wpl_guard hold;
  upnp_wpl_playlist *record = hold.ok() ? wpl_record(handle) : nullptr;
  if (!record || count != record->item_count || (count && !values)) return UPNP_WPL_FAILED;
  uint32_t *copy = nullptr;
  if (count) {
    copy = static_cast<uint32_t *>(upnp_malloc_impl(count * sizeof(uint32_t)));
    if (!copy) return UPNP_WPL_FAILED;
    std::memcpy(copy, values, count * sizeof(uint32_t));
  }
  wpl_drop_cache(record);
  record->cache = copy;
  return UPNP_WPL_OK;
}

extern "C" int upnp_wpl_get_cache(uint32_t handle, uint32_t count, uint32_t **values) {
  if (!values) return UPNP_WPL_FAILED;
  *values = nullptr;
  wpl_guard hold;
  upnp_wpl_playlist *record = hold.ok() ? wpl_record(handle) : nullptr;
  if (!record || !record->cache || count != record->item_count || count == 0) return UPNP_WPL_FAILED;
  auto *copy = static_cast<uint32_t *>(upnp_malloc_impl(count * sizeof(uint32_t)));
  if (!copy) return UPNP_WPL_FAILED;
  std::memcpy(copy, record->cache, count * sizeof(uint32_t));
  *values = copy;
  return UPNP_WPL_OK;
}

extern "C" int upnp_wpl_add_item(uint32_t handle, upnp_wpl_item *item) {
  if (!item || !item->src) return UPNP_WPL_FAILED;
  wpl_guard hold;
  upnp_wpl_playlist *record = hold.ok() ? wpl_record(handle) : nullptr;
  if (!record) return UPNP_WPL_FAILED;
  return wpl_append_item(record, item) ? UPNP_WPL_OK : UPNP_WPL_FAILED;
}

extern "C" int upnp_wpl_remove_item(uint32_t handle, const upnp_wpl_item *item) {
  return item ? remove_by_src(handle, item->src) : UPNP_WPL_FAILED;
}

extern "C" int upnp_wpl_remove_item_by_file(uint32_t handle, const char *src) { return remove_by_src(handle, src); }

extern "C" int upnp_wpl_remove_item_by_track(uint32_t handle, uint32_t index) {
  wpl_guard hold;
  upnp_wpl_playlist *record = hold.ok() ? wpl_record(handle) : nullptr;
  if (!record || index >= record->item_count) return UPNP_WPL_FAILED;
  remove_at(record, index);
  return UPNP_WPL_OK;
}

extern "C" int upnp_wpl_set_item_track(uint32_t handle, uint32_t from, uint32_t to) {
  wpl_guard hold;
  upnp_wpl_playlist *record = hold.ok() ? wpl_record(handle) : nullptr;
  if (!record || from >= record->item_count || to > record->item_count) return UPNP_WPL_FAILED;
  if (to == from || to == 0) return UPNP_WPL_OK;
  upnp_wpl_item *moving = record->items[from];
  uint32_t target = to - 1;
  if (target > from) {
    std::memmove(record->items + from, record->items + from + 1, (target - from) * sizeof(record->items[0]));
  } else if (target < from) {
    std::memmove(record->items + target + 1, record->items + target, (from - target) * sizeof(record->items[0]));
  } else {
    return UPNP_WPL_OK;
  }
  record->items[target] = moving;
  wpl_drop_cache(record);
  return UPNP_WPL_OK;
}

extern "C" upnp_wpl_item *upnp_wpl_get_item_by_track(uint32_t handle, uint32_t index) {
  wpl_guard hold;
  upnp_wpl_playlist *record = hold.ok() ? wpl_record(handle) : nullptr;
  if (!record || index >= record->item_count) return nullptr;
  return upnp_wpl_copy_item(record->items[index]);
}

extern "C" int upnp_wpl_set_item_src(uint32_t handle, uint32_t index, const char *src) {
  if (!src) return UPNP_WPL_FAILED;
  wpl_guard hold;
  upnp_wpl_playlist *record = hold.ok() ? wpl_record(handle) : nullptr;
  if (!record || index >= record->item_count) return UPNP_WPL_FAILED;
  return wpl_set_text(&record->items[index]->src, src) ? UPNP_WPL_OK : UPNP_WPL_FAILED;
}

extern "C" uint32_t upnp_wpl_find_first_playlist(upnp_wpl_playlist_iterator **iterator) {
  if (!iterator) return 0;
  *iterator = static_cast<upnp_wpl_playlist_iterator *>(upnp_calloc_impl(1, sizeof(upnp_wpl_playlist_iterator)));
  if (!*iterator) return 0;
  (*iterator)->next = 1;
  return upnp_wpl_find_next_playlist(*iterator);
}

extern "C" uint32_t upnp_wpl_find_next_playlist(upnp_wpl_playlist_iterator *iterator) {
  if (!iterator) return 0;
  wpl_guard hold;
  if (!hold.ok()) return 0;
  while (iterator->next < g_next_free && iterator->next < g_slot_count) {
    uint32_t h = iterator->next++;
    if (g_slots[h]) return h;
  }
  return 0;
}

extern "C" void upnp_wpl_find_playlist_release(upnp_wpl_playlist_iterator *iterator) { upnp_free_impl(iterator); }

extern "C" upnp_wpl_item *upnp_wpl_find_first_playlist_item(uint32_t handle, upnp_wpl_item_iterator **iterator) {
  if (!iterator) return nullptr;
  *iterator = static_cast<upnp_wpl_item_iterator *>(upnp_calloc_impl(1, sizeof(upnp_wpl_item_iterator)));
  if (!*iterator) return nullptr;
  (*iterator)->handle = handle;
  return upnp_wpl_find_next_playlist_item(*iterator);
}

extern "C" upnp_wpl_item *upnp_wpl_find_next_playlist_item(upnp_wpl_item_iterator *iterator) {
  if (!iterator) return nullptr;
  wpl_guard hold;
  upnp_wpl_playlist *record = hold.ok() ? wpl_record(iterator->handle) : nullptr;
  if (!record || iterator->next >= record->item_count) return nullptr;
  return upnp_wpl_copy_item(record->items[iterator->next++]);
}

extern "C" void upnp_wpl_find_playlist_item_release(upnp_wpl_item_iterator *iterator) {
  upnp_free_impl(iterator);
}
