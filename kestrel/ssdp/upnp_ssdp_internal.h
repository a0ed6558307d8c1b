#ifndef KESTREL_SSDP_UPNP_SSDP_INTERNAL_H
#define KESTREL_SSDP_UPNP_SSDP_INTERNAL_H

/* What the files of the SSDP module share. Internal. */

#include <atomic>
#include <string>
#include <vector>

#include "ssdp/upnp_ssdp.h"
#include "ssdp/upnp_ssdp_interfaces.h"

/* Search switches and timing (milliseconds). */
struct SsdpSearchSettings {
  std::atomic<int> dms{1};
  std::atomic<int> dmr{1};
  std::atomic<int> remoteui_server{0};
  std::atomic<int> remoteui_client{0};
  std::atomic<int> igd{0};
  std::atomic<int> quick{1};
  std::atomic<unsigned int> initial_interval_ms{3000};
  std::atomic<unsigned int> repeat_interval_ms{0};
};
extern SsdpSearchSettings g_ssdp_search;

/* The SSDP lock: guards the start of an entry's search threads and the
 * handles of its threads. Created once, never deleted. */
void ssdp_lock(void);
void ssdp_unlock(void);

/* 1 while the stack runs and the entry's generation is still `generation`. */
bool ssdp_entry_current(const upnp_interface_entry *entry, unsigned int generation);

/* Starts the entry's "SSDP_listen" thread. */
void ssdp_listen_start(upnp_interface_entry *entry);
/* Starts a search on one entry (search receiver and sender as needed). Call
 * under the SSDP lock with the stack running. */
void ssdp_search_entry(upnp_interface_entry *entry);
/* Under the SSDP lock: wakes the entry's sender or starts a new one. */
void ssdp_sender_kick(upnp_interface_entry *entry);

/* Creates the entry's search socket bound to its address on the first free
 * port from `first` to `last`; -1 when none is free. */
int ssdp_open_search_socket(const char *address, int first, int last, int ttl);

/* The request texts and the order of a burst. */
enum SsdpRequest {
  SSDP_REQ_REMOTEUI_SERVER,
  SSDP_REQ_RENDERER_SHORT,
  SSDP_REQ_SERVER_SHORT,
  SSDP_REQ_RENDERER,
  SSDP_REQ_SERVER,
  SSDP_REQ_REMOTEUI_CLIENT,
  SSDP_REQ_GATEWAY,
  SSDP_REQ_COUNT
};
const char *ssdp_request_text(int request);
/* The requests of one burst, in order, under the current switches. */
std::vector<int> ssdp_burst_requests(bool revalidation);

/* Lists the machine's IPv4 addresses in the platform's order (up to `max`).
 * A test may replace the source with upnp_ssdp_set_address_source. */
std::vector<std::string> ssdp_list_addresses(int max);
std::vector<std::string> ssdp_platform_list_addresses(int max);
typedef std::vector<std::string> (*ssdp_address_source)(int max);
void upnp_ssdp_set_address_source(ssdp_address_source source);

/* The interface addresses a start would take: the configured `ip`, else the
 * machine's, else "127.0.0.1". */
std::vector<std::string> ssdp_collect_addresses(void);

#endif
