#ifndef KESTREL_SSDP_UPNP_SSDP_H
#define KESTREL_SSDP_UPNP_SSDP_H

/* The network runtime and SSDP discovery of the control point: the stack
 * starts on every IPv4 interface (up to six, one per /24 network), joins the
 * SSDP group 239.255.255.250:1900 on each, sends M-SEARCH requests in timed
 * passes and hands every usable announcement or search response to the
 * device table (upnp_control_add_device / upnp_control_delete_device).
 *
 * Threads per interface entry: "SSDP_listen" (the group's datagrams), the
 * search receiver "SSDP_M_Search_T" (unicast responses on the search socket)
 * and the sender "SSDP MSearch Send". A stop ends all of them: each entry's
 * generation is increased, its sockets are shut down, and the stop waits for
 * the threads before it closes the sockets. */

#ifdef __cplusplus
extern "C" {
#endif

#define SSDP_MULTICAST_ADDRESS "239.255.255.250"
#define SSDP_PORT 1900
/* Largest datagram handled; longer ones are cut. */
#define SSDP_MAX_DATAGRAM 1024
/* Ports tried for the search socket. */
#define SSDP_SEARCH_PORT_FIRST 1030
#define SSDP_SEARCH_PORT_LAST 2000
#define SSDP_MAX_HANDLERS 19

/* Device kinds handed to the device table. */
#define UPNP_KIND_MEDIA_SERVER 1
#define UPNP_KIND_MEDIA_RENDERER 2
#define UPNP_KIND_REMOTE_UI_SERVER 3

struct upnp_interface_entry;

/* A message handler: the zero-terminated datagram, the interface entry it
 * arrived on, an address text and a port (the sender's for group traffic;
 * the entry's own address and the search socket's port for responses). */
typedef void (*upnp_ssdp_handler)(const char *message, struct upnp_interface_entry *entry, const char *address,
                                  int port);

/* Marks the stack as a control point (flag 0) and, unless SSDP_cp_handler is
 * registered already, reads msearch_interval, msearch_start_interval and
 * msearch_quick from the configuration and registers SSDP_cp_handler as
 * "Controlpoint". */
void upnp_cp_ssdp_init(int flag);
/* 1 once the stack has been marked as a control point. */
int upnp_ssdp_is_control_point(void);

/* Starts the network side for all interfaces. `state` is UPNP_SERVER_RUNNING
 * for a normal start or UPNP_SERVER_RESTARTING for the restart after an
 * interface change (see base/upnp_server_state.h). Does nothing while the
 * stack runs. */
void upnp_server_start(int state);
/* Stops it (same `state` values: a restart keeps the stack's global lock).
 * Does nothing unless the stack runs. */
void upnp_server_stop(int state);
/* The stack's state word: 1 running, -1 stopping, 0 stopped. */
int upnp_server_stack_state(void);

/* Starts a search on every interface in use. */
void M_Search(int revalidation);
/* M_Search(0). */
void upnp_control_scan_net(void);

/* Appends a handler; 1 on success, 0 when refused (none, or 19 registered). */
int upnp_ssdp_register_handler(upnp_ssdp_handler handler, const char *name);
int upnp_ssdp_handler_is_registered(upnp_ssdp_handler handler);
/* Calls every registered handler in registration order. */
void upnp_ssdp_dispatch(const char *message, struct upnp_interface_entry *entry, const char *address, int port);

/* The control point's handler: parses NOTIFY alive/byebye and search
 * responses and calls the device table. */
void SSDP_cp_handler(const char *message, struct upnp_interface_entry *entry, const char *address, int port);

/* Search switches (0 or 1). */
void upnp_ssdp_enable_search_dms(int flag);
void upnp_ssdp_enable_search_dmr(int flag);
void upnp_ssdp_enable_search_remoteui_server(int flag);
void upnp_ssdp_enable_search_remoteui_client(int flag);
void upnp_ssdp_enable_search_igd(int flag);
int upnp_ssdp_search_dms_is_enabled(void);
int upnp_ssdp_search_dmr_is_enabled(void);
int upnp_ssdp_search_remoteui_server_is_enabled(void);
int upnp_ssdp_search_remoteui_client_is_enabled(void);
int upnp_ssdp_search_igd_is_enabled(void);
/* Search timing, set in seconds. */
void upnp_ssdp_set_msearch_interval(int seconds);
int upnp_ssdp_get_msearch_interval(void);
void upnp_ssdp_set_msearch_initial_interval(int seconds);
int upnp_ssdp_get_msearch_initial_interval(void);
void upnp_ssdp_set_enable_quick_msearches(int flag);
int upnp_ssdp_get_enable_quick_msearches(void);

/* Called by the control point's scheduler on each tick: lists the
 * interfaces again when a change was flagged, or when nicrestart is set and
 * 30 s passed since the last check, and restarts the stack when they
 * changed. */
void check_NIC_change(unsigned long long now_seconds);
/* Flags an interface change for the next check. */
void upnp_ssdp_flag_NIC_change(void);
/* The control point's network-change callback (none to clear). */
typedef void (*upnp_network_change_callback)(void);
void upnp_ssdp_set_network_change_callback(upnp_network_change_callback callback);

/* The HTTP server of each interface: by default the library's own server
 * (HTTP_server_open/close/port). Tests may put other hooks in place; with
 * none, entries run without a server (HTTP socket -1; the port from httpport
 * is still recorded). `open` returns the listening socket of a server on
 * (address, port) with its accept thread running, or -1; `port` tells the
 * port it bound (the port search may move past the configured one). */
typedef int (*upnp_http_server_open_fn)(const char *address, unsigned int port);
typedef void (*upnp_http_server_close_fn)(int socket);
typedef unsigned int (*upnp_http_server_port_fn)(int socket);
void upnp_server_set_http_hooks(upnp_http_server_open_fn open, upnp_http_server_close_fn close,
                                upnp_http_server_port_fn port);

/* The stack's global lock while the stack has one, else none. */
struct CRITICAL_SECTION;
struct CRITICAL_SECTION *upnp_server_global_lock(void);

#ifdef __cplusplus
}
#endif

#endif
