// The process-wide pool of connection threads: its bound, and room made for
// a new connection when the pool is full by closing the connection that has
// waited longest for a request. Without that, a few hundred connections that
// never send anything would shut every real client out until they time out.
#include <sys/socket.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>

#include "base/upnp_log.h"
#include "http/http_server_internal.h"

namespace {

struct Waiting {
  int socket;
  bool line_seen;  // a whole request line has arrived
  bool evicted;    // shut down to make room; its thread is on its way out
};

// One lock for the count, the bound and the waiting connections: an accept
// thread admits against the count while connection threads leave it and
// register or withdraw their waits. `room` is told whenever a thread leaves.
struct Pool {
  std::mutex mutex;
  std::condition_variable room;
  int count = 0;
  int max = HTTP_SERVER_MAX_CONNECTIONS;
  uint64_t next_wait = 0;
  std::map<uint64_t, Waiting> waiting;  // keyed by registration order: oldest first
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
// trickled in slowly); waiting.end() when every thread is busy with a request.
std::map<uint64_t, Waiting>::iterator choose_victim(Pool &p) {
  auto oldest = p.waiting.end();
  for (auto it = p.waiting.begin(); it != p.waiting.end(); ++it) {
    if (it->second.evicted) continue;
    if (!it->second.line_seen) return it;
    if (oldest == p.waiting.end()) oldest = it;
  }
  return oldest;
}

}  // namespace

bool http_pool_enter() {
  Pool &p = pool();
  std::unique_lock<std::mutex> hold(p.mutex);
  const auto deadline = std::chrono::steady_clock::now() + kRoomWait;
  while (p.count >= p.max) {
    auto victim = choose_victim(p);
    if (victim == p.waiting.end()) return false;
    victim->second.evicted = true;
    // The waiting thread withdraws under this lock before it closes its
    // socket, so the descriptor is still that connection's.
    shutdown(victim->second.socket, SHUT_RDWR);
    const uint64_t key = victim->first;
    upnp_log_impl(LOG_LEVEL_INFO, LOG_HTTP, "HTTP_accept", "too many connections, closing the one idle longest");
    // Woken by the threads that leave. Should another accept thread take
    // the room this one made, the next turn closes another connection.
    if (!p.room.wait_until(hold, deadline, [&p, key] { return p.count < p.max || p.waiting.count(key) == 0; })) {
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
  key_ = p.next_wait++;
  p.waiting.emplace(key_, Waiting{socket, false, false});
}

http_pool_wait::~http_pool_wait() {
  Pool &p = pool();
  std::lock_guard<std::mutex> hold(p.mutex);
  p.waiting.erase(key_);
}

void http_pool_wait::line_seen() {
  if (line_seen_) return;
  line_seen_ = true;
  Pool &p = pool();
  std::lock_guard<std::mutex> hold(p.mutex);
  auto it = p.waiting.find(key_);
  if (it != p.waiting.end()) it->second.line_seen = true;
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
