#ifndef KESTREL_BASE_UPNP_LIST_H
#define KESTREL_BASE_UPNP_LIST_H

/* Locked lists: the containers of the control point's device, queue and
 * other tables. A doubly linked list of members, each holding one item
 * reference and (optionally) a lock of its own; the list (optionally) has a
 * lock for structural changes and a release function for items.
 *
 * Rules:
 * - Boolean-like results are 1 for success / yes and 0 otherwise.
 * - An item handed out by a get, find or iterator function comes with its
 *   member's lock held by the caller, who gives it back with
 *   upnp_client_unlock_list_item. A locked member is not freed until it is
 *   unlocked. Removing an item that another thread holds does not wait: the
 *   item leaves the list at once for everyone else, and the holder's last
 *   unlock unlinks it and releases it (so two threads may each remove the
 *   other's item while holding their own). Popping an item that another
 *   thread holds waits for it, since the item is handed over. Removing an
 *   item that the caller itself holds locked also gives that lock up.
 * - Members whose removal has begun are invalid: they refuse to be locked
 *   (unless forced) and the get functions pass over them.
 * - A member removed while iterators stand on it hands them on to the next
 *   member, so that iterating never touches a freed member and never skips
 *   one.
 * - Once the library's server has stopped, lock requests fail instead of
 *   waiting (see upnp_server_state.h); structural removals still proceed.
 * - "remove" releases the item through the list's release function; "pop"
 *   hands it back to the caller instead.
 * - Lists made without a lock leave mutual exclusion to the caller. */

#ifdef __cplusplus
extern "C" {
#endif

typedef struct upnp_client_list upnp_client_list;
typedef struct upnp_client_list_member upnp_client_list_member;
typedef struct upnp_client_list_iterator upnp_client_list_iterator;

/* Frees one item; may be none (items are then left alone). */
typedef void (*upnp_client_release_item_fn)(void *item);
/* Orders two items (sorting) or tells whether an item matches a key (find:
 * 0 means match). Its exact meaning belongs to the caller. */
typedef int (*upnp_client_compare_fn)(const void *a, const void *b);

/* A list with a lock (when `with_lock`) whose members get locks of their own
 * when added through the append/prepend/sorted functions. */
upnp_client_list *upnp_client_create_list(upnp_client_release_item_fn release, int with_lock);
/* Inserts a member for `item` after `after` (none: at the front). The member
 * gets a lock when `with_lock`, held by the caller on return when `locked`. */
upnp_client_list_member *upnp_client_create_list_member(upnp_client_list *list, upnp_client_list_member *after,
                                                        void *item, int with_lock, int locked);
upnp_client_list_member *upnp_client_append_list_item(upnp_client_list *list, void *item);
upnp_client_list_member *upnp_client_prepend_list_item(upnp_client_list *list, void *item);
/* Inserts before the first member that sorts after `item` (compare(item,
 * member item) < 0; > 0 when `descending`). With `unique`, an item that
 * compares equal to one already present is not added and none is returned. */
upnp_client_list_member *upnp_client_add_list_item_sorted(upnp_client_list *list, void *item, int descending,
                                                          upnp_client_compare_fn compare, int unique);

/* The member holding `item` (not locked); none when absent. */
upnp_client_list_member *upnp_client_get_list_member(upnp_client_list *list, const void *item);
/* First item for which compare(item, key) == 0, locked; none when absent. */
void *upnp_client_list_find_item(upnp_client_list *list, upnp_client_compare_fn compare, const void *key);
/* Removes the member holding `item` and releases the item (at its holder's
 * unlock when another thread holds it); 1 when found. */
int upnp_client_find_and_remove_list_item(upnp_client_list *list, void *item);
/* Removes `member` and releases its item; 1 when it was in the list. */
int upnp_client_remove_list_member(upnp_client_list *list, upnp_client_list_member *member);
int upnp_client_remove_first_list_item(upnp_client_list *list);
int upnp_client_remove_last_list_item(upnp_client_list *list);
/* Remove the first / last member and hand its item back (not locked, no
 * longer in the list); none for an empty list. */
void *upnp_client_pop_first_list_item(upnp_client_list *list);
void *upnp_client_pop_last_list_item(upnp_client_list *list);

/* Get functions: the item comes locked (see above); none when absent. */
void *upnp_client_list_get_first_item(upnp_client_list *list);
void *upnp_client_list_get_last_item(upnp_client_list *list);
/* The item after / before `item` (which must still be in the list). */
void *upnp_client_list_get_next_item(upnp_client_list *list, const void *item);
void *upnp_client_list_get_previous_item(upnp_client_list *list, const void *item);
/* The item at position `index` (0-based, valid members counted). */
void *upnp_client_get_list_item(upnp_client_list *list, int index);

int upnp_client_list_contains_item(upnp_client_list *list, const void *item);
/* Position of `item` among the valid members, -1 when absent. */
int upnp_client_list_get_item_index(upnp_client_list *list, const void *item);
int upnp_client_list_count_items(upnp_client_list *list);
/* Removes (and releases) every member after the one holding `item`; returns
 * how many were removed, -1 when `item` is absent. */
int upnp_client_cut_off_list(upnp_client_list *list, const void *item);
/* Keeps the first `count` members and removes (and releases) the rest;
 * returns how many were removed. */
int upnp_client_cut_off_list_at(upnp_client_list *list, int count);
/* Invalidates the list, removes and releases every item, frees the list.
 * Iterators must have been released before. */
void upnp_client_release_list(upnp_client_list *list);

/* Lock / unlock the member holding `item`. Locking again from the holder
 * logs "lockMember: Already locked: %d" and counts up; unlocking a member
 * that is not locked logs "unlockMember: Mutex not locked". */
int upnp_client_lock_list_item(upnp_client_list *list, const void *item);
int upnp_client_unlock_list_item(upnp_client_list *list, const void *item);

/* An iterator standing on the first member; none when out of memory. */
upnp_client_list_iterator *upnp_client_get_list_iterator(upnp_client_list *list);
/* The item of the member the iterator stands on, locked; none at the end. */
void *upnp_client_get_current_iterator_item(upnp_client_list_iterator *iterator);
/* Moves to the next member and returns its item, locked; none at the end.
 * After the member it stood on was removed, the iterator already stands on
 * the successor, whose item this returns. */
void *upnp_client_get_next_iterator_item(upnp_client_list_iterator *iterator);
void upnp_client_release_list_iterator(upnp_client_list_iterator *iterator);

#ifdef __cplusplus
}
#endif

#endif
