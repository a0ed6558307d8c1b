// The socket watchdog ("SocketRelease").
//
// Entries are kept in one list ordered by deadline, earliest first. When a
// deadline passes, the thread unlinks the entry and shuts its socket down:
// that wakes a connect, send or receive blocked on it in another thread,
// which then fails. The thread does not close the descriptor and does not
// free the entry: the exchange that registered it still holds both and
// withdraws the entry (which frees it) before it closes the socket itself.
// Closing from here would let the descriptor number be reused by another
// thread's new socket before the owner's own close, which would then hit the
// wrong socket; freeing here would leave the owner with a dangling handle.
#include "http/upnp_socket_watchdog.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <mutex>

#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "base/upnp_server_state.h"
#include "base/upnp_socket.h"
#include "base/upnp_thread.h"

struct upnp_socket_timeout {
  int socket;
  uint64_t deadline;
  upnp_socket_timeout *next;
  bool listed;
};

namespace {

// Guards the list and the thread flag. It stands for the stack's global lock
// and is always available, so withdrawing never has to give up on it.
std::mutex g_lock;
upnp_socket_timeout *g_head = nullptr;
bool g_thread_active = false;

constexpr unsigned int kIdleSleepMs = 250;

void unlink_locked(upnp_socket_timeout *entry) {
  for (upnp_socket_timeout **p = &g_head; *p; p = &(*p)->next) {
    if (*p == entry) {
      *p = entry->next;
      entry->next = nullptr;
      entry->listed = false;
      return;
    }
  }
}

void *watchdog_thread(void *) {
  upnp_init_thread("SocketRelease");
  while (upnp_server_is_active()) {
    unsigned int sleep_ms = kIdleSleepMs;
    bool fired = false;
    {
      std::lock_guard<std::mutex> hold(g_lock);
      upnp_socket_timeout *e = g_head;
      if (e) {
        uint64_t now = getSystemTime();
        if (e->deadline > now) {
          sleep_ms = static_cast<unsigned int>(std::min<uint64_t>(e->deadline - now, kIdleSleepMs));
        } else {
          g_head = e->next;
          e->next = nullptr;
          e->listed = false;
          shutdown(e->socket, SHUT_RDWR);
          fired = true;
        }
      }
    }
    if (fired) {
      upnp_log_impl(LOG_LEVEL_INFO, LOG_HTTP, __func__, "Socket closed by thread");
      continue;  // look at the next entry at once
    }
    Sleep(sleep_ms);
  }
  // The stack stopped: drop every entry without touching its socket. The
  // owners still free their handles when they withdraw them.
  std::lock_guard<std::mutex> hold(g_lock);
  while (g_head) {
    upnp_socket_timeout *e = g_head;
    g_head = e->next;
    e->next = nullptr;
    e->listed = false;
  }
  g_thread_active = false;
  return nullptr;
}

}  // namespace

extern "C" upnp_socket_timeout *upnp_enforce_socket_timeout(unsigned int ms, int socket) {
  if (socket == -1 || ms == 0) {
    upnp_log_impl(LOG_LEVEL_ERROR, LOG_HTTP, __func__, "Invalid parameters");
    return nullptr;
  }
  auto *entry = static_cast<upnp_socket_timeout *>(upnp_malloc_impl(sizeof(upnp_socket_timeout)));
  if (!entry) return nullptr;
  entry->socket = socket;
  entry->deadline = getSystemTime() + ms;
  entry->next = nullptr;
  entry->listed = true;

  std::lock_guard<std::mutex> hold(g_lock);
  upnp_socket_timeout **p = &g_head;
  while (*p && (*p)->deadline <= entry->deadline) p = &(*p)->next;
  entry->next = *p;
  *p = entry;
  if (!g_thread_active) {
    g_thread_active = true;
    if (!upnp_start_detached_thread(watchdog_thread, nullptr, UPNP_THREAD_LEVEL_DEFAULT)) {
      // No thread: the entry would never fire. Keep the flag clear so the next
      // registration tries again; the socket options still bound the waits.
      g_thread_active = false;
    }
  }
  return entry;
}

extern "C" int upnp_release_socket_timeout(upnp_socket_timeout *handle, int close) {
  if (!handle) return close ? 1 : 0;
  bool was_listed;
  int socket;
  {
    std::lock_guard<std::mutex> hold(g_lock);
    was_listed = handle->listed;
    if (was_listed) unlink_locked(handle);
    socket = handle->socket;
    handle->socket = -1;
  }
  if (close && socket != -1) {
    shutdown(socket, SHUT_RDWR);
    upnp_socket_close(socket);
  }
  upnp_free_impl(handle);
  return (close || !was_listed) ? 1 : 0;
}

extern "C" int upnp_socket_watchdog_is_active(void) {
  std::lock_guard<std::mutex> hold(g_lock);
  return g_thread_active ? 1 : 0;
}

extern "C" unsigned int upnp_socket_watchdog_pending(void) {
  std::lock_guard<std::mutex> hold(g_lock);
  unsigned int n = 0;
  for (upnp_socket_timeout *e = g_head; e; e = e->next) ++n;
  return n;
}
