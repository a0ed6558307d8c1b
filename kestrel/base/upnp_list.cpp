// Locked lists: members with locks of their own, iterators that are handed on
// when their member is removed.
//
// Locking order: a thread may block on a member lock only while it does not
// hold the list lock (it pins the member first so that it stays allocated);
// it may take the list lock while holding member locks. Removal marks the
// member invalid, takes its lock, unlinks it and hands its iterators on. A
// member is freed once it is unlinked and nobody pins it.
//
// Removal never waits for another thread's hold: two threads that each hold
// an item and remove the other's would wait for each other for good. When
// the member's lock is busy, the remover marks the removal pending and
// returns; the holder's last unlock (always made under the list lock, so it
// cannot slip past the mark) finishes it. Only popping waits for the holder,
// since it hands the item over to its caller.
#include "base/upnp_list.h"

#include <atomic>
#include <new>

#include "base/upnp_base_log.h"
#include "base/upnp_critsec.h"
#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "base/upnp_thread.h"

struct upnp_client_list_iterator {
  upnp_client_list *list;
  upnp_client_list_member *current;
  // Set when a removal moved the iterator on: it already stands on the
  // member that the next step has to give.
  bool handed_on;
  upnp_client_list_iterator *next_on_member;
};

struct upnp_client_list_member {
  upnp_client_list_member *prev;
  upnp_client_list_member *next;
  void *item;
  CRITICAL_SECTION *mutex;  // none: the member has no lock of its own
  int lock_count;           // touched by the holder of `mutex` only
  std::atomic<bool> valid;
  bool remove_pending;                   // under the list lock: the holder's last unlock removes it
  bool linked;                           // under the list lock
  unsigned int pins;                     // under the list lock
  upnp_client_list_iterator *iterators;  // under the list lock
};

struct upnp_client_list {
  upnp_client_list_member *first;
  upnp_client_list_member *last;
  CRITICAL_SECTION *mutex;  // none: the caller provides exclusion
  int lock_count;           // touched by the holder of `mutex` only
  std::atomic<bool> valid;
  // Under the list lock: removals that let the list lock go to take a member
  // lock or release an item and will take it again; the list is not freed
  // before they are done.
  int removing;
  bool member_locks;
  upnp_client_release_item_fn release;
};

namespace {

// kInvalidHeld: the lock was taken but the member had been removed meanwhile;
// the caller gives it back with unlock_member under the list lock.
enum class Lock { kLocked, kInvalid, kInvalidHeld, kFailed };

bool lock_list(upnp_client_list *list, bool force) {
  if (list->mutex == nullptr) return true;
  if (upnp_critical_section_is_owned(list->mutex)) {
    upnp_base_log(LOG_LEVEL_ERROR, "lockList", "lockList: Already locked: %d", list->lock_count);
    list->lock_count++;
    return true;
  }
  if (!force && !list->valid.load()) return false;
  if (!upnp_client_lock_mutex(&list->mutex, force)) return false;
  list->lock_count = 1;
  return true;
}

void unlock_list(upnp_client_list *list) {
  if (list->mutex == nullptr) return;
  if (!upnp_critical_section_is_owned(list->mutex) || list->lock_count <= 0) {
    upnp_base_log(LOG_LEVEL_ERROR, "unlockList", "unlockList: Mutex not locked");
    return;
  }
  if (--list->lock_count == 0) upnp_client_unlock_mutex(&list->mutex);
}

// The caller must not hold the list lock (unless the member cannot be
// contended, e.g. it is not linked yet) and must keep the member pinned.
Lock lock_member(upnp_client_list_member *member, bool force) {
  if (member->mutex == nullptr) return force || member->valid.load() ? Lock::kLocked : Lock::kInvalid;
  if (upnp_critical_section_is_owned(member->mutex)) {
    upnp_base_log(LOG_LEVEL_ERROR, "lockMember", "lockMember: Already locked: %d", member->lock_count);
    member->lock_count++;
    return Lock::kLocked;
  }
  if (!force && !member->valid.load()) return Lock::kInvalid;
  if (!upnp_client_lock_mutex(&member->mutex, force)) return Lock::kFailed;
  member->lock_count = 1;
  if (!force && !member->valid.load()) return Lock::kInvalidHeld;
  return Lock::kLocked;
}

void destroy_member(upnp_client_list_member *member) {
  if (member->mutex != nullptr) {
    DeleteCriticalSection(member->mutex);
    upnp_free_impl(member->mutex);
  }
  member->valid.~atomic();
  upnp_free_impl(member);
}

// Under the list lock.
void unpin(upnp_client_list_member *member) {
  if (--member->pins == 0 && !member->linked) destroy_member(member);
}

upnp_client_list_member *new_member(void *item, bool with_lock, bool locked) {
  auto *member = static_cast<upnp_client_list_member *>(upnp_calloc_impl(1, sizeof(upnp_client_list_member)));
  if (member == nullptr) {
    upnp_base_log(LOG_LEVEL_ERROR, "upnp_client_create_list_member", "upnp_client_create_list_member: Out of memory");
    return nullptr;
  }
  new (&member->valid) std::atomic<bool>(true);
  member->item = item;
  if (with_lock) {
    member->mutex = upnp_client_create_mutex(locked ? 1 : 0);
    if (member->mutex == nullptr) {
      upnp_base_log(LOG_LEVEL_ERROR, "upnp_client_create_list_member",
                    "upnp_client_create_list_member: Out of memory");
      member->valid.~atomic();
      upnp_free_impl(member);
      return nullptr;
    }
    member->lock_count = locked ? 1 : 0;
  }
  return member;
}

// Under the list lock: links `member` after `after` (none: at the front).
void link_after(upnp_client_list *list, upnp_client_list_member *after, upnp_client_list_member *member) {
  member->prev = after;
  member->next = after ? after->next : list->first;
  if (member->next) {
    member->next->prev = member;
  } else {
    list->last = member;
  }
  if (after) {
    after->next = member;
  } else {
    list->first = member;
  }
  member->linked = true;
}

// Under the list lock: unlinks and hands the iterators standing on it on to
// its successor.
void unlink(upnp_client_list *list, upnp_client_list_member *member) {
  upnp_client_list_member *successor = member->next;
  if (member->prev) {
    member->prev->next = member->next;
  } else {
    list->first = member->next;
  }
  if (member->next) {
    member->next->prev = member->prev;
  } else {
    list->last = member->prev;
  }
  member->prev = member->next = nullptr;
  member->linked = false;
  while (upnp_client_list_iterator *it = member->iterators) {
    member->iterators = it->next_on_member;
    it->current = successor;
    it->handed_on = true;
    if (successor) {
      it->next_on_member = successor->iterators;
      successor->iterators = it;
    } else {
      it->next_on_member = nullptr;
    }
  }
}

// Under the list lock (held once), by the thread that has just given up its
// last hold of a member whose removal another thread asked for: unlinks it,
// lets its lock go and releases its item outside the list lock. Returns with
// the list lock held again; the member may be gone.
void finish_removal(upnp_client_list *list, upnp_client_list_member *member) {
  member->remove_pending = false;
  member->pins++;
  list->removing++;
  unlink(list, member);
  void *item = member->item;
  upnp_client_unlock_mutex(&member->mutex);
  unlock_list(list);
  if (list->release != nullptr && item != nullptr) list->release(item);
  lock_list(list, true);
  list->removing--;
  unpin(member);
}

// Under the list lock: gives one hold of the member lock back; the last one
// finishes a pending removal. False when the caller has no hold.
bool unlock_member(upnp_client_list *list, upnp_client_list_member *member) {
  if (member->mutex == nullptr) return true;
  if (!upnp_critical_section_is_owned(member->mutex) || member->lock_count <= 0) {
    upnp_base_log(LOG_LEVEL_ERROR, "unlockMember", "unlockMember: Mutex not locked");
    return false;
  }
  if (--member->lock_count > 0) return true;
  if (member->remove_pending) {
    finish_removal(list, member);
  } else {
    upnp_client_unlock_mutex(&member->mutex);
  }
  return true;
}

// Under the list lock.
void place_iterator(upnp_client_list_iterator *it, upnp_client_list_member *target) {
  if (it->current == target) return;
  if (it->current) {
    for (upnp_client_list_iterator **at = &it->current->iterators; *at; at = &(*at)->next_on_member) {
      if (*at == it) {
        *at = it->next_on_member;
        break;
      }
    }
  }
  it->current = target;
  it->next_on_member = nullptr;
  if (target) {
    it->next_on_member = target->iterators;
    target->iterators = it;
  }
}

upnp_client_list_member *skip_invalid(upnp_client_list_member *m) {
  while (m && !m->valid.load()) m = m->next;
  return m;
}

upnp_client_list_member *skip_invalid_back(upnp_client_list_member *m) {
  while (m && !m->valid.load()) m = m->prev;
  return m;
}

upnp_client_list_member *find_member(upnp_client_list *list, const void *item, bool valid_only) {
  for (upnp_client_list_member *m = list->first; m; m = m->next) {
    if (m->item == item && (!valid_only || m->valid.load())) return m;
  }
  return nullptr;
}

// Picks a member under the list lock, then locks it (without the list lock)
// and gives its item. A member removed in between is picked again.
template <typename Pick>
bool lock_picked(upnp_client_list *list, Pick pick, void **item) {
  *item = nullptr;
  if (list == nullptr) return false;
  for (;;) {
    if (!lock_list(list, false)) return false;
    upnp_client_list_member *member = pick();
    if (member == nullptr) {
      unlock_list(list);
      return false;
    }
    member->pins++;
    unlock_list(list);
    Lock result = lock_member(member, false);
    void *found = member->item;
    lock_list(list, true);
    if (result == Lock::kInvalidHeld) unlock_member(list, member);
    unpin(member);
    unlock_list(list);
    if (result == Lock::kLocked) {
      *item = found;
      return true;
    }
    if (result == Lock::kFailed) return false;
  }
}

template <typename Pick>
void *get_locked(upnp_client_list *list, Pick pick) {
  void *item;
  lock_picked(list, pick, &item);
  return item;
}

// Entered with the list lock held once by the caller; returns with it given
// back. Removes a valid, linked member: takes its lock, unlinks it, releases
// (or hands back) its item. When another thread holds the member, a removal
// that releases is left pending for the holder (none is returned); popping
// waits for the holder.
void *remove_member(upnp_client_list *list, upnp_client_list_member *member, bool release) {
  member->valid.store(false);
  bool held = member->mutex == nullptr || upnp_critical_section_is_owned(member->mutex);
  if (!held && release) {
    if (!upnp_critical_section_try_enter(member->mutex)) {
      member->remove_pending = true;
      unlock_list(list);
      return nullptr;
    }
    held = true;
  }
  member->pins++;
  list->removing++;
  if (!held) {
    unlock_list(list);
    lock_member(member, true);
    lock_list(list, true);
  }
  unlink(list, member);
  unlock_list(list);
  void *item = member->item;
  if (member->mutex != nullptr) {
    member->lock_count = 0;
    upnp_client_unlock_mutex(&member->mutex);
  }
  if (release && list->release != nullptr && item != nullptr) list->release(item);
  lock_list(list, true);
  list->removing--;
  unpin(member);
  unlock_list(list);
  return item;
}

// Removes the member chosen by `pick` (under the list lock); false when none.
template <typename Pick>
bool remove_picked(upnp_client_list *list, Pick pick, bool release, void **item) {
  if (list == nullptr || !lock_list(list, false)) return false;
  upnp_client_list_member *member = pick();
  if (member == nullptr) {
    unlock_list(list);
    return false;
  }
  void *removed = remove_member(list, member, release);
  if (item) *item = removed;
  return true;
}

upnp_client_list_member *insert(upnp_client_list *list, upnp_client_list_member *member,
                                upnp_client_list_member *after, bool check_after) {
  if (!lock_list(list, false)) return nullptr;
  if (check_after && after != nullptr) {
    upnp_client_list_member *m = list->first;
    while (m && m != after) m = m->next;
    if (m == nullptr) {
      unlock_list(list);
      return nullptr;
    }
  }
  link_after(list, after, member);
  unlock_list(list);
  return member;
}

void discard(upnp_client_list_member *member) {
  if (member->mutex != nullptr && upnp_critical_section_is_owned(member->mutex)) {
    member->lock_count = 0;
    LeaveCriticalSection(member->mutex);
  }
  destroy_member(member);
}

}  // namespace

extern "C" upnp_client_list *upnp_client_create_list(upnp_client_release_item_fn release, int with_lock) {
  auto *list = static_cast<upnp_client_list *>(upnp_calloc_impl(1, sizeof(upnp_client_list)));
  if (list == nullptr) {
    upnp_base_log(LOG_LEVEL_ERROR, "upnp_client_create_list", "upnp_client_create_list: Out of memory");
    return nullptr;
  }
  new (&list->valid) std::atomic<bool>(true);
  list->release = release;
  list->member_locks = with_lock != 0;
  if (with_lock) {
    list->mutex = upnp_client_create_mutex(0);
    if (list->mutex == nullptr) {
      upnp_base_log(LOG_LEVEL_ERROR, "upnp_client_create_list", "upnp_client_create_list: Out of memory");
      list->valid.~atomic();
      upnp_free_impl(list);
      return nullptr;
    }
  }
  return list;
}

extern "C" upnp_client_list_member *upnp_client_create_list_member(upnp_client_list *list,
                                                                   upnp_client_list_member *after, void *item,
                                                                   int with_lock, int locked) {
  if (list == nullptr) return nullptr;
  upnp_client_list_member *member = new_member(item, with_lock != 0, locked != 0);
  if (member == nullptr) return nullptr;
  if (insert(list, member, after, true) == nullptr) {
    discard(member);
    return nullptr;
  }
  return member;
}

extern "C" upnp_client_list_member *upnp_client_append_list_item(upnp_client_list *list, void *item) {
  if (list == nullptr) return nullptr;
  upnp_client_list_member *member = new_member(item, list->member_locks, false);
  if (member == nullptr) return nullptr;
  if (!lock_list(list, false)) {
    discard(member);
    return nullptr;
  }
  link_after(list, list->last, member);
  unlock_list(list);
  return member;
}

extern "C" upnp_client_list_member *upnp_client_prepend_list_item(upnp_client_list *list, void *item) {
  if (list == nullptr) return nullptr;
  upnp_client_list_member *member = new_member(item, list->member_locks, false);
  if (member == nullptr) return nullptr;
  if (insert(list, member, nullptr, false) == nullptr) {
    discard(member);
    return nullptr;
  }
  return member;
}

extern "C" upnp_client_list_member *upnp_client_add_list_item_sorted(upnp_client_list *list, void *item,
                                                                     int descending, upnp_client_compare_fn compare,
                                                                     int unique) {
  if (list == nullptr || compare == nullptr) return nullptr;
  upnp_client_list_member *member = new_member(item, list->member_locks, false);
  if (member == nullptr) return nullptr;
  if (!lock_list(list, false)) {
    discard(member);
    return nullptr;
  }
  upnp_client_list_member *after = list->last;
  for (upnp_client_list_member *m = list->first; m; m = m->next) {
    if (!m->valid.load()) continue;
    int order = compare(item, m->item);
    if (unique && order == 0) {
      unlock_list(list);
      discard(member);
      return nullptr;
    }
    if (descending ? order > 0 : order < 0) {
      after = m->prev;
      break;
    }
  }
  link_after(list, after, member);
  unlock_list(list);
  return member;
}

extern "C" upnp_client_list_member *upnp_client_get_list_member(upnp_client_list *list, const void *item) {
  if (list == nullptr || !lock_list(list, false)) return nullptr;
  upnp_client_list_member *member = find_member(list, item, true);
  unlock_list(list);
  return member;
}

extern "C" void *upnp_client_list_find_item(upnp_client_list *list, upnp_client_compare_fn compare, const void *key) {
  if (compare == nullptr) return nullptr;
  return get_locked(list, [&]() -> upnp_client_list_member * {
    for (upnp_client_list_member *m = list->first; m; m = m->next) {
      if (m->valid.load() && compare(m->item, key) == 0) return m;
    }
    return nullptr;
  });
}

extern "C" int upnp_client_find_and_remove_list_item(upnp_client_list *list, void *item) {
  return remove_picked(list, [&] { return find_member(list, item, true); }, true, nullptr);
}

extern "C" int upnp_client_remove_list_member(upnp_client_list *list, upnp_client_list_member *member) {
  if (member == nullptr) return 0;
  return remove_picked(
      list,
      [&]() -> upnp_client_list_member * {
        for (upnp_client_list_member *m = list->first; m; m = m->next) {
          if (m == member) return m->valid.load() ? m : nullptr;
        }
        return nullptr;
      },
      true, nullptr);
}

extern "C" int upnp_client_remove_first_list_item(upnp_client_list *list) {
  return remove_picked(list, [&] { return skip_invalid(list->first); }, true, nullptr);
}

extern "C" int upnp_client_remove_last_list_item(upnp_client_list *list) {
  return remove_picked(list, [&] { return skip_invalid_back(list->last); }, true, nullptr);
}

extern "C" void *upnp_client_pop_first_list_item(upnp_client_list *list) {
  void *item = nullptr;
  remove_picked(list, [&] { return skip_invalid(list->first); }, false, &item);
  return item;
}

extern "C" void *upnp_client_pop_last_list_item(upnp_client_list *list) {
  void *item = nullptr;
  remove_picked(list, [&] { return skip_invalid_back(list->last); }, false, &item);
  return item;
}

extern "C" void *upnp_client_list_get_first_item(upnp_client_list *list) {
  return get_locked(list, [&] { return skip_invalid(list->first); });
}

extern "C" void *upnp_client_list_get_last_item(upnp_client_list *list) {
  return get_locked(list, [&] { return skip_invalid_back(list->last); });
}

extern "C" void *upnp_client_list_get_next_item(upnp_client_list *list, const void *item) {
  return get_locked(list, [&]() -> upnp_client_list_member * {
    upnp_client_list_member *m = find_member(list, item, false);
    return m ? skip_invalid(m->next) : nullptr;
  });
}

extern "C" void *upnp_client_list_get_previous_item(upnp_client_list *list, const void *item) {
  return get_locked(list, [&]() -> upnp_client_list_member * {
    upnp_client_list_member *m = find_member(list, item, false);
    return m ? skip_invalid_back(m->prev) : nullptr;
  });
}

extern "C" void *upnp_client_get_list_item(upnp_client_list *list, int index) {
  if (index < 0) return nullptr;
  return get_locked(list, [&] {
    upnp_client_list_member *m = skip_invalid(list->first);
    for (int i = 0; m && i < index; ++i) m = skip_invalid(m->next);
    return m;
  });
}

extern "C" int upnp_client_list_contains_item(upnp_client_list *list, const void *item) {
  return upnp_client_list_get_item_index(list, item) >= 0;
}

extern "C" int upnp_client_list_get_item_index(upnp_client_list *list, const void *item) {
  if (list == nullptr || !lock_list(list, false)) return -1;
  int index = 0, found = -1;
  for (upnp_client_list_member *m = list->first; m; m = m->next) {
    if (!m->valid.load()) continue;
    if (m->item == item) {
      found = index;
      break;
    }
    ++index;
  }
  unlock_list(list);
  return found;
}

extern "C" int upnp_client_list_count_items(upnp_client_list *list) {
  if (list == nullptr || !lock_list(list, false)) return 0;
  int count = 0;
  for (upnp_client_list_member *m = list->first; m; m = m->next) {
    if (m->valid.load()) ++count;
  }
  unlock_list(list);
  return count;
}

extern "C" int upnp_client_cut_off_list(upnp_client_list *list, const void *item) {
  if (list == nullptr) return -1;
  if (upnp_client_list_get_item_index(list, item) < 0) return -1;
  int removed = 0;
  while (remove_picked(
      list,
      [&]() -> upnp_client_list_member * {
        upnp_client_list_member *anchor = find_member(list, item, true);
        return anchor ? skip_invalid(anchor->next) : nullptr;
      },
      true, nullptr)) {
    ++removed;
  }
  return removed;
}

extern "C" int upnp_client_cut_off_list_at(upnp_client_list *list, int count) {
  if (list == nullptr) return 0;
  if (count < 0) count = 0;
  int removed = 0;
  while (remove_picked(
      list,
      [&] {
        upnp_client_list_member *m = skip_invalid(list->first);
        for (int i = 0; m && i < count; ++i) m = skip_invalid(m->next);
        return m;
      },
      true, nullptr)) {
    ++removed;
  }
  return removed;
}

extern "C" void upnp_client_release_list(upnp_client_list *list) {
  if (list == nullptr) return;
  list->valid.store(false);
  for (;;) {
    lock_list(list, true);
    upnp_client_list_member *member = skip_invalid(list->first);
    if (member != nullptr) {
      remove_member(list, member, true);
      continue;
    }
    // Left: members whose removal another thread has begun or whose holder
    // has yet to let go, and removals still releasing their items.
    bool done = list->first == nullptr && list->removing == 0;
    unlock_list(list);
    if (done) break;
    Sleep(1);
  }
  if (list->mutex != nullptr) upnp_client_delete_mutex(&list->mutex, 0);
  list->valid.~atomic();
  upnp_free_impl(list);
}

extern "C" int upnp_client_lock_list_item(upnp_client_list *list, const void *item) {
  void *locked;
  return lock_picked(list, [&] { return find_member(list, item, true); }, &locked) ? 1 : 0;
}

extern "C" int upnp_client_unlock_list_item(upnp_client_list *list, const void *item) {
  if (list == nullptr || !lock_list(list, true)) return 0;
  // Prefer the member holding `item` that the caller has locked.
  upnp_client_list_member *member = nullptr;
  for (upnp_client_list_member *m = list->first; m; m = m->next) {
    if (m->item != item) continue;
    if (member == nullptr) member = m;
    if (m->mutex != nullptr && upnp_critical_section_is_owned(m->mutex)) {
      member = m;
      break;
    }
  }
  bool done;
  if (member == nullptr) {
    upnp_base_log(LOG_LEVEL_ERROR, "unlockMember", "unlockMember: Mutex not locked");
    done = false;
  } else {
    done = unlock_member(list, member);
  }
  unlock_list(list);
  return done ? 1 : 0;
}

extern "C" upnp_client_list_iterator *upnp_client_get_list_iterator(upnp_client_list *list) {
  if (list == nullptr) return nullptr;
  auto *it = static_cast<upnp_client_list_iterator *>(upnp_calloc_impl(1, sizeof(upnp_client_list_iterator)));
  if (it == nullptr) return nullptr;
  it->list = list;
  if (!lock_list(list, false)) {
    upnp_free_impl(it);
    return nullptr;
  }
  place_iterator(it, list->first);
  unlock_list(list);
  return it;
}

extern "C" void *upnp_client_get_current_iterator_item(upnp_client_list_iterator *it) {
  if (it == nullptr) return nullptr;
  return get_locked(it->list, [&] {
    upnp_client_list_member *target = skip_invalid(it->current);
    place_iterator(it, target);
    it->handed_on = false;
    return target;
  });
}

extern "C" void *upnp_client_get_next_iterator_item(upnp_client_list_iterator *it) {
  if (it == nullptr) return nullptr;
  return get_locked(it->list, [&] {
    upnp_client_list_member *target = it->handed_on ? it->current : (it->current ? it->current->next : nullptr);
    target = skip_invalid(target);
    place_iterator(it, target);
    it->handed_on = false;
    return target;
  });
}

extern "C" void upnp_client_release_list_iterator(upnp_client_list_iterator *it) {
  if (it == nullptr) return;
  lock_list(it->list, true);
  place_iterator(it, nullptr);
  unlock_list(it->list);
  upnp_free_impl(it);
}
