#ifndef KESTREL_PLAYLIST_UPNP_WPL_H
#define KESTREL_PLAYLIST_UPNP_WPL_H

/* The process-wide store of playlists addressed by small integer handles, and
 * their WPL text (a SMIL document) and files.
 *
 * Handles start at 1; a deleted playlist's handle is never given out again.
 * Every operation runs under one recursive lock, created by upnp_wpl_init;
 * before that (and after upnp_wpl_exit) the operations refuse with their
 * error code and the first refusal logs a warning. Items and texts handed out are
 * accounted copies: items are freed with upnp_wpl_free_item, texts and
 * arrays with upnp_free_impl. */

#include <stdint.h>

#include "base/upnp_string.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Results. */
#define UPNP_WPL_OK 0
#define UPNP_WPL_NO_MEMORY 8
#define UPNP_WPL_FAILED 14

/* Playlist types. */
#define UPNP_WPL_TYPE_MUSIC 1
#define UPNP_WPL_TYPE_PICTURES 2
#define UPNP_WPL_TYPE_VIDEO 3
#define UPNP_WPL_TYPE_MIXED 4

/* Playlist sources. */
#define UPNP_WPL_SOURCE_OTHER 0
#define UPNP_WPL_SOURCE_FILE 1
#define UPNP_WPL_SOURCE_ITUNES 2
#define UPNP_WPL_SOURCE_CDS 3
#define UPNP_WPL_SOURCE_ONLINE 4

/* Largest playlist file read (bytes); bigger files are refused. */
#define UPNP_WPL_MAX_FILE_SIZE (64u * 1024u * 1024u)

typedef struct upnp_wpl_attribute {
  char *name;
  char *value;
  struct upnp_wpl_attribute *next;
} upnp_wpl_attribute;

/* One entry of a playlist: its source address and its attributes in order. */
typedef struct upnp_wpl_item {
  char *src;
  upnp_wpl_attribute *attributes;
} upnp_wpl_item;

typedef struct upnp_wpl_playlist_iterator upnp_wpl_playlist_iterator;
typedef struct upnp_wpl_item_iterator upnp_wpl_item_iterator;

/* Writes the src of an item: a new accounted text, or none for an empty src. */
typedef char *(*upnp_wpl_src_filter)(void *context, const char *src, const upnp_wpl_item *item);

/* Starts and stops are counted: each upnp_wpl_init needs its upnp_wpl_exit,
 * and the last of them deletes the lock and every playlist still in the
 * store. A stop beyond the starts does nothing. */
void upnp_wpl_init(void);
void upnp_wpl_exit(void);

/* Adds a playlist without replacing: when one with the same title and type
 * exists its handle is returned. Title must be given. */
int upnp_wpl_create_playlist(const char *title, int type, int source, const char *generator,
                             const char *original_file_name, uint32_t *handle);
int upnp_wpl_delete_playlist(uint32_t handle);
/* Removes the record and frees it as upnp_wpl_delete_playlist does, but
 * leaves any file written for it alone. */
int upnp_wpl_release_playlist(uint32_t handle);
int upnp_wpl_rename_playlist(uint32_t handle, const char *title);
int upnp_wpl_set_playlist_type(uint32_t handle, int type);
/* Every output may be none; texts are accounted copies; absent texts leave
 * their output untouched. */
int upnp_wpl_get_playlist_properties(uint32_t handle, char **title, int *type, int *source, char **generator,
                                     char **original_file_name, char **file_path, uint32_t *item_count);

/* The per-item cache: stored or fetched only when count equals the item
 * count. get_cache hands out an accounted copy of count values. */
int upnp_wpl_set_cache(uint32_t handle, uint32_t count, const uint32_t *values);
int upnp_wpl_get_cache(uint32_t handle, uint32_t count, uint32_t **values);

/* Items outside the store. */
upnp_wpl_item *upnp_wpl_create_item(const char *src);
int upnp_wpl_add_item_attribute(upnp_wpl_item *item, const char *name, const char *value);
char *upnp_wpl_get_item_attribute(const upnp_wpl_item *item, const char *name);
/* Replaces the value of the first "title" attribute, or appends one. */
int upnp_wpl_set_item_title(upnp_wpl_item *item, const char *title);
char *upnp_wpl_get_item_title(const upnp_wpl_item *item);
void upnp_wpl_free_item(upnp_wpl_item *item);
upnp_wpl_item *upnp_wpl_copy_item(const upnp_wpl_item *item);

/* Appends the item; the store takes it over on success only. */
int upnp_wpl_add_item(uint32_t handle, upnp_wpl_item *item);
/* Remove the first item whose src equals the given one. */
int upnp_wpl_remove_item(uint32_t handle, const upnp_wpl_item *item);
int upnp_wpl_remove_item_by_file(uint32_t handle, const char *src);
/* Removes the item at a 0-based index. */
int upnp_wpl_remove_item_by_track(uint32_t handle, uint32_t index);
/* Moves the item at 0-based index `from` to position `to` (counted from 1;
 * at most the item count). */
int upnp_wpl_set_item_track(uint32_t handle, uint32_t from, uint32_t to);
upnp_wpl_item *upnp_wpl_get_item_by_track(uint32_t handle, uint32_t index);
int upnp_wpl_set_item_src(uint32_t handle, uint32_t index, const char *src);

/* Playlists in handle order: 0 when there is none (more). */
uint32_t upnp_wpl_find_first_playlist(upnp_wpl_playlist_iterator **iterator);
uint32_t upnp_wpl_find_next_playlist(upnp_wpl_playlist_iterator *iterator);
void upnp_wpl_find_playlist_release(upnp_wpl_playlist_iterator *iterator);
/* Copies of a playlist's items in order: none after the last. */
upnp_wpl_item *upnp_wpl_find_first_playlist_item(uint32_t handle, upnp_wpl_item_iterator **iterator);
upnp_wpl_item *upnp_wpl_find_next_playlist_item(upnp_wpl_item_iterator *iterator);
void upnp_wpl_find_playlist_item_release(upnp_wpl_item_iterator *iterator);

/* Appends the WPL text of a playlist to *string (none creates). */
int upnp_wpl_convert_to_xml(uint32_t handle, upnp_string **string);
int upnp_wpl_convert_to_xml_with_filter(uint32_t handle, upnp_string **string, upnp_wpl_src_filter filter,
                                        void *context);
/* Parses a WPL text and adds it, replacing a playlist of the same title and
 * type. */
int upnp_wpl_convert_from_xml(uint32_t *handle, const char *text);

/* Reads a WPL file into a new playlist (*handle 0) or into an existing one. */
int upnp_wpl_create_playlist_from_file(const char *path, uint32_t *handle);
/* Writes the playlist's file into folder (when it has no file path yet);
 * path (when given) receives an accounted copy of the file's path. */
int upnp_wpl_flush(uint32_t handle, const char *folder, char **path);

#ifdef __cplusplus
}
#endif

#endif
