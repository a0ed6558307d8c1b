#ifndef KESTREL_SSDP_UPNP_SSDP_INTERFACES_H
#define KESTREL_SSDP_UPNP_SSDP_INTERFACES_H

/* The interface table of the network runtime: up to six entries, one per
 * IPv4 interface in use (at most one per /24 network), each with the
 * interface's HTTP server and its SSDP sockets and threads. The entries are
 * filled when the stack starts and emptied when it stops; other modules read
 * them through upnp_interfaces_snapshot. Internal to the library. */

#include <atomic>
#include <mutex>

#include "base/upnp_thread.h"

/* Entries of the table. */
#define UPNP_MAX_INTERFACES 6
/* Size of an address text ("255.255.255.255" + zero, and one spare). */
#define UPNP_IP_TEXT_SIZE 17

struct upnp_interface_entry {
  /* Listening socket of this interface's HTTP server, -1 when closed. */
  int http_socket = -1;
  /* Dotted IPv4 address; empty when the entry is not in use. Written only
   * while the entry has no threads. */
  char address[UPNP_IP_TEXT_SIZE] = {0};
  unsigned int http_port = 0;
  /* SSDP sockets, -1 when closed. Replaced and shut down only under
   * socket_lock, so a stop never touches a descriptor that was reused. */
  std::atomic<int> listen_socket{-1};
  std::atomic<int> search_socket{-1};
  std::mutex socket_lock;
  /* Increased at every stop; a thread that sees another value than the one
   * it started with ends. */
  std::atomic<unsigned int> generation{0};
  std::atomic<int> sender_running{0};
  std::atomic<int> receiver_running{0};
  /* Asks the sender to cut its current wait short. */
  std::atomic<int> search_now{0};
  /* The next passes are revalidation passes. */
  std::atomic<int> revalidation{0};
  /* Joinable threads of the entry (UPNP_NO_THREAD when none); changed under
   * the SSDP lock. */
  upnp_thread_t listen_thread = UPNP_NO_THREAD;
  upnp_thread_t receiver_thread = UPNP_NO_THREAD;
  upnp_thread_t sender_thread = UPNP_NO_THREAD;
  int index = 0;
};

/* What other modules may know of an entry in use. */
struct upnp_interface_info {
  char address[UPNP_IP_TEXT_SIZE];
  unsigned int http_port;
};

/* The table itself (entries not in use have an empty address) and the count
 * of entries in use. */
extern upnp_interface_entry g_Interfaces[UPNP_MAX_INTERFACES];
extern std::atomic<int> g_nInterfaceCount;

/* Copies the entries in use, in table order, into `out` (at most `max`) and
 * returns their number. Safe against a concurrent start or stop. */
int upnp_interfaces_snapshot(upnp_interface_info *out, int max);

/* Start and stop write entries under this lock (with their address and port
 * stable in between). */
void upnp_interfaces_lock(void);
void upnp_interfaces_unlock(void);

#endif
