// M_Search: per interface entry the search socket with its receiver thread
// ("SSDP_M_Search_T") and the sender thread.
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>

#include "base/upnp_ini_file.h"
#include "base/upnp_log.h"
#include "base/upnp_socket.h"
#include "base/upnp_thread.h"
#include "ssdp/upnp_ssdp_internal.h"

namespace {

struct SearchArgument {
  upnp_interface_entry *entry;
  unsigned int generation;
};

void close_search_socket(upnp_interface_entry *entry, int s) {
  std::lock_guard<std::mutex> hold(entry->socket_lock);
  if (entry->search_socket.load() == s) entry->search_socket.store(-1);
  upnp_socket_close(s);
}

void *search_receiver(void *argument) {
  upnp_init_thread("SSDP_M_Search_T");
  SearchArgument *arg = static_cast<SearchArgument *>(argument);
  upnp_interface_entry *entry = arg->entry;
  const unsigned int generation = arg->generation;
  delete arg;

  int ttl = upnp_ini_file_getInt(INI_SSDPTTL);
  int s = ssdp_open_search_socket(entry->address, SSDP_SEARCH_PORT_FIRST, SSDP_SEARCH_PORT_LAST, ttl > 0 ? ttl : 4);
  if (s < 0) {
    upnp_log_impl(LOG_LEVEL_ERROR, LOG_SSDP, "SSDP_M_Search_T", "SSDP terminated M-Search thread - no free port found");
    entry->receiver_running.store(0);
    return nullptr;
  }
  {
    std::lock_guard<std::mutex> hold(entry->socket_lock);
    if (!ssdp_entry_current(entry, generation)) {
      upnp_socket_close(s);
      entry->receiver_running.store(0);
      return nullptr;
    }
    entry->search_socket.store(s);
  }
  sockaddr_in local;
  std::memset(&local, 0, sizeof local);
  upnp_socket_get_local_address(s, &local);
  const int port = ntohs(local.sin_port);

  ssdp_lock();
  if (ssdp_entry_current(entry, generation)) ssdp_sender_kick(entry);
  ssdp_unlock();

  char buffer[SSDP_MAX_DATAGRAM + 1];
  while (ssdp_entry_current(entry, generation)) {
    ssize_t got = upnp_recvfrom(s, buffer, SSDP_MAX_DATAGRAM, 0, nullptr);
    if (got > 0) {
      buffer[got] = '\0';
      upnp_ssdp_dispatch(buffer, entry, entry->address, port);
      continue;
    }
    if (got < 0 && errno == EINTR) continue;
    break;
  }
  close_search_socket(entry, s);
  upnp_log_impl(LOG_LEVEL_INFO, LOG_SSDP, "SSDP_M_Search_T", "SSDP terminated M-Search thread");
  entry->receiver_running.store(0);
  return nullptr;
}

}  // namespace

int ssdp_open_search_socket(const char *address, int first, int last, int ttl) {
  sockaddr_in local;
  std::memset(&local, 0, sizeof local);
  local.sin_family = AF_INET;
  if (address == nullptr || inet_pton(AF_INET, address, &local.sin_addr) != 1) return -1;
  int s = upnp_socket_create_udp();
  if (s < 0) return -1;
  for (int port = first; port <= last; ++port) {
    local.sin_port = htons(static_cast<uint16_t>(port));
    if (upnp_socket_bind(s, &local) == 0) {
      setSockOptMulticast(s, ttl, address);
      return s;
    }
    upnp_log_impl(LOG_LEVEL_WARNING, LOG_SSDP, "M_Search", "failed to get free port for %s:%d, reason: %s - retrying",
                  address, port, getLastSocketError());
  }
  upnp_socket_close(s);
  return -1;
}

void ssdp_search_entry(upnp_interface_entry *entry) {
  if (entry->receiver_running.load()) {
    // The receiver wakes the sender itself once its socket is open.
    if (entry->search_socket.load() >= 0) ssdp_sender_kick(entry);
    return;
  }
  if (entry->receiver_thread != UPNP_NO_THREAD) upnp_join_thread(entry->receiver_thread, nullptr);
  entry->receiver_running.store(1);
  SearchArgument *arg = new SearchArgument{entry, entry->generation.load()};
  entry->receiver_thread = upnp_start_joinable_thread(search_receiver, arg, UPNP_THREAD_LEVEL_DEFAULT);
  if (entry->receiver_thread == UPNP_NO_THREAD) {
    delete arg;
    entry->receiver_running.store(0);
  }
}

extern "C" void M_Search(int revalidation) {
  ssdp_lock();
  if (upnp_server_stack_state() == 1) {
    for (upnp_interface_entry &entry : g_Interfaces) {
      if (entry.address[0] == '\0') continue;
      entry.revalidation.store(revalidation != 0);
      ssdp_search_entry(&entry);
    }
  }
  ssdp_unlock();
}

extern "C" void upnp_control_scan_net(void) { M_Search(0); }
