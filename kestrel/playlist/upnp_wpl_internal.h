#ifndef KESTREL_PLAYLIST_UPNP_WPL_INTERNAL_H
#define KESTREL_PLAYLIST_UPNP_WPL_INTERNAL_H

/* Internal: the playlist record and the store's helpers shared by the
 * store, text and file parts. Callers hold the store lock. */

#include <stdint.h>

#include "playlist/upnp_wpl.h"

struct upnp_wpl_playlist {
  uint32_t handle;
  int type;
  int source;
  char *generator;
  char *original_file_name;
  char *title;
  char *file_path;
  uint32_t *cache;
  uint32_t item_count;
  uint32_t item_capacity;
  upnp_wpl_item **items;
};

/* Lock of the store. When the store is not set up both give false and the
 * first such call logs a warning (once until the next upnp_wpl_init). */
bool wpl_lock();
void wpl_unlock();

/* Holds the store lock for a scope; ok() tells whether it was taken. */
class wpl_guard {
 public:
  wpl_guard() : held_(wpl_lock()) {}
  ~wpl_guard() {
    if (held_) wpl_unlock();
  }
  wpl_guard(const wpl_guard &) = delete;
  wpl_guard &operator=(const wpl_guard &) = delete;
  bool ok() const { return held_; }

 private:
  bool held_;
};

upnp_wpl_playlist *wpl_new_record(const char *title, int type, int source, const char *generator,
                                  const char *original_file_name);
void wpl_free_record(upnp_wpl_playlist *record);
/* The record of a used handle, or none. */
upnp_wpl_playlist *wpl_record(uint32_t handle);
/* Adds a record: returns its handle (0 when out of memory). With replacing, a
 * record of the same title and type takes over the new one's items and the
 * new record is freed; without, the new record is freed when one exists. The
 * new record is always consumed. */
uint32_t wpl_add_record(upnp_wpl_playlist *record, bool replace);
/* Appends an item to the record (taken over on success). */
bool wpl_append_item(upnp_wpl_playlist *record, upnp_wpl_item *item);
/* Moves the items, count, source, type and generator of `from` into `to`,
 * dropping to's cache and items; `from` keeps none. */
void wpl_take_over(upnp_wpl_playlist *to, upnp_wpl_playlist *from, bool take_generator);
/* Frees and clears the record's items and cache. */
void wpl_clear_items(upnp_wpl_playlist *record);
void wpl_drop_cache(upnp_wpl_playlist *record);
/* Replaces a text with a copy (none allowed). */
bool wpl_set_text(char **field, const char *text);

/* The WPL text of a record (appended to *string). */
int wpl_write_text(const upnp_wpl_playlist *record, upnp_string **string, upnp_wpl_src_filter filter,
                   void *context);
/* A new record from a WPL text (title may be missing), or none. */
upnp_wpl_playlist *wpl_read_text(const char *text, size_t length);
/* Writes the record's WPL text to path whole (temporary file and rename). */
int wpl_write_file(const upnp_wpl_playlist *record, const char *path);

#endif
