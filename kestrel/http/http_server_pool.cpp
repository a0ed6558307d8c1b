// The process-wide pool of connection threads: its bound, and room made for
// a new connection when the pool is full by closing the connection that has
// waited longest for a request. Without that, a few hundred connections that
// never send anything would shut every real client out until they time out.
#include <sys/socket.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "base/upnp_log.h"
#include "http/http_server_internal.h"

namespace {

using Entry = http_pool_wait::entry;

// One lock for the count, the bound and the waiting connections: an accept
// thread admits against the count while connection threads leave it and
// register or withdraw their waits. `room` is told whenever a thread leaves.
// The waits form a list in registration order (oldest first), linked through
// records that live in the waiting threads' own http_pool_wait objects: a
// keep-alive connection registers and withdraws once per request, so this
// path takes the lock and nothing more.
struct Pool {
  std::mutex mutex;
  std::condition_variable room;
  int count = 0;
  int max = HTTP_SERVER_MAX_CONNECTIONS;
  uint64_t next_wait = 0;
  Entry *oldest = nullptr;
  Entry *newest = nullptr;
};

// Never destroyed: detached connection threads may still leave the pool
// while the process exits.
Pool &pool() {
  static Pool *p = new Pool;
  return *p;
}

// How long an accept thread waits for a shut-down connection's thread to
// leave. It is woken at once; this only bounds the wait.
constexpr auto kRoomWait = std::chrono::seconds(1);

// The connection to close for room: the one waiting longest that has not sent
// a whole request line yet, else the one waiting longest at all (a header
// trickled in slowly); none when every thread is busy with a request.
Entry *choose_victim(Pool &p) {
  Entry *oldest = nullptr;
  for (Entry *e = p.oldest; e; e = e->next) {
    if (e->evicted) continue;
    if (!e->line_seen) return e;
    if (!oldest) oldest = e;
  }
  return oldest;
}

// Whether the wait registered as `key` is still listed.
bool still_waiting(const Pool &p, uint64_t key) {
  for (const Entry *e = p.oldest; e; e = e->next) {
    if (e->key == key) return true;
  }
  return false;
}

}  // namespace

bool http_pool_enter() {
  Pool &p = pool();
  std::unique_lock<std::mutex> hold(p.mutex);
  const auto deadline = std::chrono::steady_clock::now() + kRoomWait;
  while (p.count >= p.max) {
    Entry *victim = choose_victim(p);
    if (!victim) return false;
    victim->evicted = true;
    // The waiting thread withdraws under this lock before it closes its
    // socket, so the descriptor is still that connection's.
    shutdown(victim->socket, SHUT_RDWR);
    // Only the key is kept: the record goes with its thread's wait.
    const uint64_t key = victim->key;
    upnp_log_impl(LOG_LEVEL_INFO, LOG_HTTP, "HTTP_accept", "too many connections, closing the one idle longest");
    // Woken by the threads that leave. Should another accept thread take
    // the room this one made, the next turn closes another connection.
    if (!p.room.wait_until(hold, deadline, [&p, key] { return p.count < p.max || !still_waiting(p, key); })) {
      return false;
    }
  }
  ++p.count;
  return true;
}

void http_pool_leave() {
  Pool &p = pool();
  {
    std::lock_guard<std::mutex> hold(p.mutex);
    --p.count;
  }
  p.room.notify_all();
}

http_pool_wait::http_pool_wait(int socket) {
  Pool &p = pool();
  std::lock_guard<std::mutex> hold(p.mutex);
  entry_ = Entry{socket, false, false, p.next_wait++, p.newest, nullptr};
  if (p.newest) {
    p.newest->next = &entry_;
  } else {
    p.oldest = &entry_;
  }
  p.newest = &entry_;
}

http_pool_wait::~http_pool_wait() {
  Pool &p = pool();
  std::lock_guard<std::mutex> hold(p.mutex);
  if (entry_.prev) {
    entry_.prev->next = entry_.next;
  } else {
    p.oldest = entry_.next;
  }
  if (entry_.next) {
    entry_.next->prev = entry_.prev;
  } else {
    p.newest = entry_.prev;
  }
}

void http_pool_wait::line_seen() {
  if (line_seen_) return;
  line_seen_ = true;
  Pool &p = pool();
  std::lock_guard<std::mutex> hold(p.mutex);
  entry_.line_seen = true;
}

extern "C" int HTTP_server_set_max_connections(int count) {
  Pool &p = pool();
  std::lock_guard<std::mutex> hold(p.mutex);
  int old = p.max;
  p.max = count;
  return old;
}

extern "C" int HTTP_server_connection_count(void) {
  Pool &p = pool();
  std::lock_guard<std::mutex> hold(p.mutex);
  return p.count;
}
