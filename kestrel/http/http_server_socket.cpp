// Listening sockets, the accept thread of each server and the connection
// threads, with the bounds that keep a flood of connections from exhausting
// threads or memory.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "base/upnp_socket.h"
#include "base/upnp_thread.h"
#include "http/http_server_internal.h"

namespace {

struct Server {
  std::string address;
  unsigned int port = 0;
  int socket = -1;
  std::string base_url;
  std::atomic<bool> running{true};
  upnp_thread_t accept_thread = UPNP_NO_THREAD;
  std::mutex mutex;
  std::condition_variable idle;
  std::set<int> connections;  // sockets of the running connection threads
};

struct Connection {
  std::shared_ptr<Server> server;
  int socket;
  std::string peer;
};

std::mutex g_servers_mutex;
std::map<int, std::shared_ptr<Server>> g_servers;

std::atomic<unsigned int> g_idle_timeout{HTTP_SERVER_DEFAULT_IDLE_TIMEOUT_MS};
std::atomic<unsigned int> g_header_timeout{HTTP_SERVER_DEFAULT_HEADER_TIMEOUT_MS};
std::atomic<uint64_t> g_max_body{HTTP_SERVER_DEFAULT_MAX_BODY};

// A peer that has shut down its sending side: Linux tells it by POLLRDHUP
// (asked for), the BSD poll by POLLHUP. The peek alone cannot see it while
// bytes of an unfinished header are waiting unread.
#ifdef POLLRDHUP
constexpr short kPollEvents = POLLIN | POLLRDHUP;
constexpr short kPeerClosed = POLLHUP | POLLRDHUP;
#else
constexpr short kPollEvents = POLLIN;
constexpr short kPeerClosed = POLLHUP;
#endif

constexpr unsigned int kCloseWaitMs = 5000;
constexpr int kRecheckMs = 20;

int64_t now_ms() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

bool header_complete(const char *data, size_t n) {
  for (size_t i = 0; i + 3 < n; ++i) {
    if (data[i] == '\r' && data[i + 1] == '\n' && data[i + 2] == '\r' && data[i + 3] == '\n') return true;
  }
  return false;
}

// How a connection's next requests have come: whether the look before the
// wait is worth its system call.
struct arrival {
  unsigned skip = 0;  // waits left before the next look
};

// After a look that found nothing, this many waits go without one: a client
// that waits for each reply (most do) never has its next request there yet,
// while one that sends ahead is found again within this many requests.
constexpr unsigned kLookAgainAfter = 16;

// Waits until the next request's header is there whole, without taking
// anything off the socket. false when the connection stayed idle for the
// idle time-out, the header did not complete within the header time-out,
// the header is larger than the peek buffer, or the peer closed (also after
// part of a header: it cannot complete any more). A header longer than the
// record keeps is cut by the header reader; here it only has to end in time
// and within HTTP_SERVER_MAX_HEADER_WAIT bytes.
bool wait_for_header(int socket, std::vector<char> &peek, size_t *peeked, arrival *seen_before) {
  *peeked = 0;
  // A keep-alive client that sends ahead has its next request there by the
  // time the last reply is out: one look before any wait.
  if (seen_before->skip > 0) {
    --seen_before->skip;
  } else {
    ssize_t ready = recv(socket, peek.data(), peek.size(), MSG_PEEK | MSG_DONTWAIT);
    if (ready > 0 && header_complete(peek.data(), static_cast<size_t>(ready))) {
      *peeked = static_cast<size_t>(ready);
      return true;
    }
    seen_before->skip = kLookAgainAfter;
  }
  http_pool_wait waiting(socket);
  struct pollfd p = {socket, kPollEvents, 0};
  int r = poll(&p, 1, static_cast<int>(g_idle_timeout.load()));
  if (r <= 0) return false;
  const int64_t deadline = now_ms() + g_header_timeout.load();
  ssize_t seen = -1;
  bool ok = false;
  bool peer_closed = false;
  for (;;) {
    ssize_t n = recv(socket, peek.data(), peek.size(), MSG_PEEK | MSG_DONTWAIT);
    if (n == 0) break;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) break;
    if (n > 0 && header_complete(peek.data(), static_cast<size_t>(n))) {
      ok = true;
      *peeked = static_cast<size_t>(n);
      break;
    }
    if (n > 0 && std::memchr(peek.data(), '\n', static_cast<size_t>(n))) waiting.line_seen();
    if (n == static_cast<ssize_t>(peek.size())) {
      upnp_log_impl(LOG_LEVEL_WARNING, LOG_HTTP, "HTTP_receive", "request header too large, closing");
      break;
    }
    // This peek came after the close, so it saw all there will ever be.
    if (peer_closed) {
      upnp_log_impl(LOG_LEVEL_INFO, LOG_HTTP, "HTTP_receive", "peer closed within its request header, closing");
      break;
    }
    int64_t left = deadline - now_ms();
    if (left <= 0) {
      upnp_log_impl(LOG_LEVEL_INFO, LOG_HTTP, "HTTP_receive", "request header not complete in time, closing");
      break;
    }
    // Wake when more bytes than those seen have arrived.
    int low = n > 0 ? static_cast<int>(n) + 1 : 1;
    setsockopt(socket, SOL_SOCKET, SO_RCVLOWAT, &low, sizeof low);
    p.revents = 0;
    r = poll(&p, 1, static_cast<int>(left));
    if (r < 0 && errno != EINTR) break;
    if (r > 0 && (p.revents & kPeerClosed)) {
      peer_closed = true;
    } else if (n == seen) {
      Sleep(kRecheckMs);  // the platform ignores the low-water mark for poll
    }
    seen = n;
  }
  int one = 1;
  if (seen >= 0) setsockopt(socket, SOL_SOCKET, SO_RCVLOWAT, &one, sizeof one);
  return ok;
}

void *connection_thread(void *argument) {
  upnp_init_thread("HTTP_receive");
  std::unique_ptr<Connection> conn(static_cast<Connection *>(argument));
  Server &server = *conn->server;
  const int s = conn->socket;
  http_file_cache cache{-1, 0};
  std::vector<char> peek(HTTP_SERVER_MAX_HEADER_WAIT);
  size_t peeked = 0;
  arrival seen;
  while (server.running.load() && wait_for_header(s, peek, &peeked, &seen)) {
    if (http_handle_request(s, conn->peer.c_str(), server.base_url.c_str(), &cache, peek.data(), peeked) != 0) break;
  }
  if (cache.fd >= 0) close(cache.fd);
  {
    std::lock_guard<std::mutex> hold(server.mutex);
    server.connections.erase(s);
    shutdown(s, SHUT_RDWR);
    upnp_socket_close(s);
  }
  server.idle.notify_all();
  http_pool_leave();
  return nullptr;
}

void start_connection(const std::shared_ptr<Server> &server, int s, const sockaddr_in &peer) {
  if (!http_pool_enter()) {
    upnp_log_impl(LOG_LEVEL_WARNING, LOG_HTTP, "HTTP_accept", "too many connections, refusing one");
    upnp_socket_close(s);
    return;
  }
  int one = 1;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  setSockOptSendTimeout(s, HTTP_SERVER_DEFAULT_SEND_TIMEOUT_MS);
  // Reads of a body that stalls end after the idle time-out.
  setSockOptReceiveTimeout(s, g_idle_timeout.load());
  char text[INET_ADDRSTRLEN] = "";
  inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text);
  auto *conn = new Connection{server, s, text};
  {
    std::lock_guard<std::mutex> hold(server->mutex);
    server->connections.insert(s);
  }
  upnp_log_impl(LOG_LEVEL_DEBUG, LOG_HTTP, "HTTP_accept", "entering receive module");
  if (!upnp_start_detached_thread(connection_thread, conn, UPNP_THREAD_LEVEL_DEFAULT)) {
    {
      std::lock_guard<std::mutex> hold(server->mutex);
      server->connections.erase(s);
    }
    delete conn;
    upnp_socket_close(s);
    http_pool_leave();
  }
}

struct AcceptArgument {
  std::shared_ptr<Server> server;
};

void *accept_thread(void *argument) {
  upnp_init_thread("HTTP_accept");
  std::shared_ptr<Server> server = static_cast<AcceptArgument *>(argument)->server;
  delete static_cast<AcceptArgument *>(argument);
  upnp_log_impl(LOG_LEVEL_INFO, LOG_HTTP, "HTTP_accept", "HTTP server started at http://%s:%d/",
                server->address.c_str(), static_cast<int>(server->port));
  while (server->running.load()) {
    sockaddr_in peer{};
    int s = upnp_socket_accept(server->socket, &peer);
    if (s < 0) {
      if (!server->running.load()) break;
      // Out of descriptors or an aborted handshake: try again shortly.
      if (errno != EINTR && errno != ECONNABORTED) Sleep(10);
      continue;
    }
    if (!server->running.load()) {
      upnp_socket_close(s);
      break;
    }
    start_connection(server, s, peer);
  }
  upnp_log_impl(LOG_LEVEL_INFO, LOG_HTTP, "HTTP_accept", "HTTP server terminated at http://%s:%d/",
                server->address.c_str(), static_cast<int>(server->port));
  return nullptr;
}

}  // namespace

unsigned int http_server_idle_timeout() { return g_idle_timeout.load(); }
unsigned int http_server_header_timeout() { return g_header_timeout.load(); }
uint64_t http_server_max_body() { return g_max_body.load(); }

extern "C" unsigned int HTTP_server_set_idle_timeout(unsigned int milliseconds) {
  return g_idle_timeout.exchange(milliseconds);
}
extern "C" unsigned int HTTP_server_set_header_timeout(unsigned int milliseconds) {
  return g_header_timeout.exchange(milliseconds);
}
extern "C" uint64_t HTTP_server_set_max_body(uint64_t bytes) { return g_max_body.exchange(bytes); }

extern "C" int HTTP_create_server_socket(int *socket_out, unsigned int *port, const char *address) {
  if (socket_out) *socket_out = -1;
  if (!socket_out || !port || !address) return 1;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  if (inet_pton(AF_INET, address, &a.sin_addr) != 1) {
    upnp_log_impl(LOG_LEVEL_ERROR, LOG_HTTP, __func__, "cannot create a server socket!");
    return 1;
  }
  const unsigned int first = *port ? *port : HTTP_SERVER_DEFAULT_PORT;
  for (unsigned int p = first; p <= first + HTTP_SERVER_PORT_SEARCH && p <= 65535; ++p) {
    int s = upnp_socket_create_tcp();
    if (s < 0) {
      upnp_log_impl(LOG_LEVEL_ERROR, LOG_HTTP, __func__, "cannot create a server socket!");
      return 1;
    }
    // Address reuse only: with port reuse a second server (of this or
    // another process) would bind the same port and the search would never
    // move on.
    int one = 1;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    a.sin_port = htons(static_cast<uint16_t>(p));
    if (upnp_socket_bind(s, &a) != 0) {
      upnp_socket_close(s);
      continue;
    }
    if (upnp_socket_listen(s) != 0) {
      upnp_log_impl(LOG_LEVEL_ERROR, LOG_HTTP, __func__, "Failure on listen on HTTP server port for IP: %s", address);
      upnp_socket_close(s);
      return 1;
    }
    *socket_out = s;
    *port = p;
    return 0;
  }
  upnp_log_impl(LOG_LEVEL_ERROR, LOG_HTTP, __func__, "no free port for HTTP server found on IP: %s", address);
  return 1;
}

extern "C" int HTTP_server_open(const char *address, unsigned int port) {
  int s = -1;
  unsigned int bound = port;
  if (HTTP_create_server_socket(&s, &bound, address) != 0) return -1;
  auto server = std::make_shared<Server>();
  server->address = address;
  server->port = bound;
  server->socket = s;
  char url[HTTP_SERVER_BASE_URL_SIZE];
  std::snprintf(url, sizeof url, "http://%s:%u/", address, bound);
  server->base_url = url;
  {
    std::lock_guard<std::mutex> hold(g_servers_mutex);
    g_servers[s] = server;
  }
  server->accept_thread = upnp_start_joinable_thread(accept_thread, new AcceptArgument{server},
                                                     UPNP_THREAD_LEVEL_DEFAULT);
  if (server->accept_thread == UPNP_NO_THREAD) {
    {
      std::lock_guard<std::mutex> hold(g_servers_mutex);
      g_servers.erase(s);
    }
    upnp_socket_close(s);
    return -1;
  }
  return s;
}

extern "C" void HTTP_server_close(int socket) {
  std::shared_ptr<Server> server;
  {
    std::lock_guard<std::mutex> hold(g_servers_mutex);
    auto it = g_servers.find(socket);
    if (it == g_servers.end()) return;
    server = it->second;
    g_servers.erase(it);
  }
  server->running.store(false);
  shutdown(server->socket, SHUT_RDWR);  // wakes the accept
  upnp_join_thread(server->accept_thread, nullptr);
  std::unique_lock<std::mutex> hold(server->mutex);
  for (int s : server->connections) shutdown(s, SHUT_RDWR);
  server->idle.wait_for(hold, std::chrono::milliseconds(kCloseWaitMs), [&] { return server->connections.empty(); });
  hold.unlock();
  upnp_socket_close(server->socket);
}

extern "C" unsigned int HTTP_server_port(int socket) {
  std::lock_guard<std::mutex> hold(g_servers_mutex);
  auto it = g_servers.find(socket);
  return it == g_servers.end() ? 0u : it->second->port;
}
