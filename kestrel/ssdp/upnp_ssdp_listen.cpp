// The "SSDP_listen" thread of an interface entry: the group's datagrams go
// to every registered handler.
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>

#include "base/upnp_log.h"
#include "base/upnp_socket.h"
#include "base/upnp_thread.h"
#include "ssdp/upnp_ssdp_internal.h"

namespace {

struct ListenArgument {
  upnp_interface_entry *entry;
  unsigned int generation;
};

constexpr unsigned int kRestartPauseMs = 50;

int open_listen_socket(const char *address) {
  int s = upnp_socket_create_udp();
  if (s < 0) return -1;
  sockaddr_in group;
  std::memset(&group, 0, sizeof group);
  group.sin_family = AF_INET;
  group.sin_port = htons(SSDP_PORT);
#ifdef IP_MULTICAST_ALL
  // Linux hands a socket bound to the group every group datagram of the
  // host unless told otherwise; each entry's socket takes only those of the
  // interface it joined on, so a device is reported with the interface it
  // was heard on.
  int only_joined = 0;
  setsockopt(s, IPPROTO_IP, IP_MULTICAST_ALL, &only_joined, sizeof only_joined);
#endif
  if (setSockOptReuseAddr(s) != 0 || inet_pton(AF_INET, SSDP_MULTICAST_ADDRESS, &group.sin_addr) != 1 ||
      upnp_socket_bind(s, &group) != 0 || upnp_socket_setSockOptAddMembership(s, SSDP_MULTICAST_ADDRESS, address) != 0) {
    upnp_socket_close(s);
    return -1;
  }
  return s;
}

// One socket's life: receive until an error or the end of the generation.
// true when the socket failed while the entry is still current (restart).
bool receive_loop(upnp_interface_entry *entry, unsigned int generation, int s) {
  char buffer[SSDP_MAX_DATAGRAM + 1];
  while (ssdp_entry_current(entry, generation)) {
    sockaddr_in from;
    std::memset(&from, 0, sizeof from);
    ssize_t got = upnp_recvfrom(s, buffer, SSDP_MAX_DATAGRAM, 0, &from);
    if (got > 0) {
      buffer[got] = '\0';
      char sender[INET_ADDRSTRLEN] = "";
      inet_ntop(AF_INET, &from.sin_addr, sender, sizeof sender);
      upnp_ssdp_dispatch(buffer, entry, sender, ntohs(from.sin_port));
      continue;
    }
    if (got < 0 && errno == EINTR) continue;
    upnp_log_impl(LOG_LEVEL_WARNING, LOG_SSDP, "SSDP_listen", "socket received bad value: %i bytes",
                  static_cast<int>(got));
    Sleep(kRestartPauseMs);
    return ssdp_entry_current(entry, generation);
  }
  return false;
}

void *listen_thread(void *argument) {
  upnp_init_thread("SSDP_listen");
  ListenArgument *arg = static_cast<ListenArgument *>(argument);
  upnp_interface_entry *entry = arg->entry;
  const unsigned int generation = arg->generation;
  delete arg;
  bool again = true;
  while (again) {
    int s = open_listen_socket(entry->address);
    if (s < 0) {
      upnp_log_impl(LOG_LEVEL_ERROR, LOG_SSDP, "SSDP_listen", "Could not create listen socket for IP %s!",
                    entry->address);
      break;
    }
    {
      std::lock_guard<std::mutex> hold(entry->socket_lock);
      if (!ssdp_entry_current(entry, generation)) {
        upnp_socket_close(s);
        break;
      }
      entry->listen_socket.store(s);
    }
    // A receive error closes the socket and starts over on a fresh one, in
    // this same thread, as long as the stack runs on this generation.
    again = receive_loop(entry, generation, s);
    {
      std::lock_guard<std::mutex> hold(entry->socket_lock);
      entry->listen_socket.store(-1);
      upnp_socket_close(s);
    }
    upnp_log_impl(LOG_LEVEL_INFO, LOG_SSDP, "SSDP_listen", "SSDP terminated listen thread");
  }
  return nullptr;
}

}  // namespace

void ssdp_listen_start(upnp_interface_entry *entry) {
  ssdp_lock();
  ListenArgument *arg = new ListenArgument{entry, entry->generation.load()};
  upnp_thread_t thread = upnp_start_joinable_thread(listen_thread, arg, UPNP_THREAD_LEVEL_DEFAULT);
  if (thread == UPNP_NO_THREAD) delete arg;
  entry->listen_thread = thread;
  ssdp_unlock();
}
