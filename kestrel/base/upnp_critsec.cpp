// Recursive critical sections with owner and count, and the
// upnp_client_*_mutex helpers on top of them.
#include "base/upnp_critsec.h"

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <mutex>

#include "base/upnp_base_log.h"
#include "base/upnp_critsec_platform.h"
#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "base/upnp_server_state.h"

namespace {

// A thread's identity: the address of a thread-local byte (unique among the
// threads alive at a time, and 0 never).
thread_local char t_identity;

uintptr_t self_id() { return reinterpret_cast<uintptr_t>(&t_identity); }

uintptr_t owner_of(const CRITICAL_SECTION *cs) { return __atomic_load_n(&cs->owner, __ATOMIC_ACQUIRE); }

void set_owner(CRITICAL_SECTION *cs, uintptr_t owner) { __atomic_store_n(&cs->owner, owner, __ATOMIC_RELEASE); }

// Called by the owner: count up and say so.
void reenter(CRITICAL_SECTION *cs) {
  cs->count++;
  upnp_base_log(LOG_LEVEL_WARNING, "EnterCriticalSection", "Thread entered critical section for the %d. time",
                static_cast<int>(cs->count + 1));
}

void take(CRITICAL_SECTION *cs) {
  set_owner(cs, self_id());
  cs->count = 0;
}

// How long one wait for a contended section lasts before the server state is
// looked at again.
constexpr unsigned int kLockPollMs = 50;

CRITICAL_SECTION *load_ref(CRITICAL_SECTION **ref) { return __atomic_load_n(ref, __ATOMIC_ACQUIRE); }

// A section made by upnp_client_create_mutex with the count of threads that
// are using it through a reference (locking it or deleting it) and the mark
// that it has been deleted. The last user of a deleted section frees it, so a
// waiter that is slow to wake never touches freed memory.
struct ClientMutex {
  CRITICAL_SECTION cs;  // first: the section's address is the block's
  unsigned int users;   // under the section's guard
  bool deleted;         // under the section's guard
};
static_assert(offsetof(ClientMutex, cs) == 0, "a client mutex is freed through its section's address");

ClientMutex *client_of(CRITICAL_SECTION *cs) { return reinterpret_cast<ClientMutex *>(cs); }

// Guards of the users counts, picked by the section's address. Taking a
// reference and counting oneself in happen under one guard, and so do
// clearing the reference and deciding who frees the section: a thread either
// counts itself in while the section is alive or finds the reference empty.
constexpr size_t kGuards = 31;
std::mutex g_guards[kGuards];

std::mutex &guard_of(const CRITICAL_SECTION *cs) {
  return g_guards[(reinterpret_cast<uintptr_t>(cs) / alignof(ClientMutex)) % kGuards];
}

// The section *ref names with the caller counted in as a user; none when the
// reference is empty.
ClientMutex *use_ref(CRITICAL_SECTION **ref) {
  for (;;) {
    CRITICAL_SECTION *cs = load_ref(ref);
    if (cs == nullptr) return nullptr;
    std::lock_guard<std::mutex> hold(guard_of(cs));
    if (load_ref(ref) != cs) continue;  // deleted (or replaced) meanwhile
    client_of(cs)->users++;
    return client_of(cs);
  }
}

void free_client(ClientMutex *m) {
  DeleteCriticalSection(&m->cs);
  upnp_free_impl(m);
}

// Counts the caller out; the last user of a deleted section frees it.
void stop_using(ClientMutex *m) {
  bool last;
  {
    std::lock_guard<std::mutex> hold(guard_of(&m->cs));
    last = --m->users == 0 && m->deleted;
  }
  if (last) free_client(m);
}

// Clears *ref (when it still names the section) and marks the section deleted.
void forget(CRITICAL_SECTION **ref, ClientMutex *m) {
  std::lock_guard<std::mutex> hold(guard_of(&m->cs));
  if (load_ref(ref) == &m->cs) __atomic_store_n(ref, static_cast<CRITICAL_SECTION *>(nullptr), __ATOMIC_RELEASE);
  m->deleted = true;
}

// upnp_client_lock_mutex for a caller counted in as a user of cs.
int lock_used(CRITICAL_SECTION **mutex, CRITICAL_SECTION *cs, int force) {
  if (owner_of(cs) == self_id()) {
    reenter(cs);
  } else {
    for (;;) {
      int rc = upnp_platform_mutex_timedlock(&cs->mutex, kLockPollMs);
      if (rc == 0) break;
      if (rc != ETIMEDOUT) return 0;
      // Give up rather than wait for good once the server has stopped or the
      // section has been taken away.
      if ((!force && !upnp_server_is_active()) || load_ref(mutex) != cs) return 0;
    }
    take(cs);
  }
  if (load_ref(mutex) != cs || (!force && !upnp_server_is_active())) {
    LeaveCriticalSection(cs);
    return 0;
  }
  return 1;
}

}  // namespace

extern "C" void InitializeCriticalSection(CRITICAL_SECTION *cs) {
  if (cs == nullptr) return;
  if (pthread_mutex_init(&cs->mutex, nullptr) != 0) std::fputs("can't init mutex\n", stderr);
  set_owner(cs, 0);
  cs->count = 0;
}

extern "C" void DeleteCriticalSection(CRITICAL_SECTION *cs) {
  if (cs == nullptr) return;
  pthread_mutex_destroy(&cs->mutex);
  set_owner(cs, 0);
  cs->count = 0;
}

extern "C" void EnterCriticalSection(CRITICAL_SECTION *cs) {
  if (cs == nullptr) return;
  if (owner_of(cs) == self_id()) {
    reenter(cs);
    return;
  }
  pthread_mutex_lock(&cs->mutex);
  take(cs);
}

extern "C" int upnp_critical_section_try_enter(CRITICAL_SECTION *cs) {
  if (cs == nullptr) return 0;
  if (owner_of(cs) == self_id()) {
    reenter(cs);
    return 1;
  }
  if (pthread_mutex_trylock(&cs->mutex) != 0) return 0;
  take(cs);
  return 1;
}

extern "C" void LeaveCriticalSection(CRITICAL_SECTION *cs) {
  if (cs == nullptr) return;
  if (owner_of(cs) != self_id()) {
    // Unlocking a mutex that another thread holds (or nobody holds) would
    // break that thread's exclusion; report the caller's mistake and leave
    // the section as it is.
    upnp_base_log(LOG_LEVEL_WARNING, "LeaveCriticalSection", "Thread leaves critical section not owning");
    return;
  }
  if (cs->count > 0) {
    cs->count--;
    return;
  }
  set_owner(cs, 0);
  pthread_mutex_unlock(&cs->mutex);
}

extern "C" int upnp_critical_section_is_owned(const CRITICAL_SECTION *cs) {
  return cs != nullptr && owner_of(cs) == self_id();
}

extern "C" CRITICAL_SECTION *upnp_client_create_mutex(int locked) {
  auto *m = static_cast<ClientMutex *>(upnp_malloc_impl(sizeof(ClientMutex)));
  if (m == nullptr) return nullptr;
  InitializeCriticalSection(&m->cs);
  m->users = 0;
  m->deleted = false;
  if (locked) EnterCriticalSection(&m->cs);
  return &m->cs;
}

extern "C" int upnp_client_lock_mutex(CRITICAL_SECTION **mutex, int force) {
  if (mutex == nullptr || load_ref(mutex) == nullptr) return 0;
  if (!force && !upnp_server_is_active()) return 0;
  ClientMutex *m = use_ref(mutex);
  if (m == nullptr) return 0;
  int locked = lock_used(mutex, &m->cs, force);
  stop_using(m);  // a holder keeps the section alive: deleting it enters it first
  return locked;
}

extern "C" int upnp_client_unlock_mutex(CRITICAL_SECTION **mutex) {
  if (mutex == nullptr) return 0;
  CRITICAL_SECTION *cs = load_ref(mutex);
  if (cs == nullptr) return 0;
  LeaveCriticalSection(cs);
  return 1;
}

extern "C" void upnp_client_delete_mutex(CRITICAL_SECTION **mutex, int already_held) {
  if (mutex == nullptr) return;
  ClientMutex *m = use_ref(mutex);
  if (m == nullptr) return;
  CRITICAL_SECTION *cs = &m->cs;
  if (!already_held || owner_of(cs) != self_id()) EnterCriticalSection(cs);
  forget(mutex, m);
  cs->count = 0;
  LeaveCriticalSection(cs);
  // Threads still waiting for the section find the reference empty and give
  // up; whoever of them (or of us) counts out last frees it.
  stop_using(m);
}
