#ifndef KESTREL_BASE_UPNP_LOCAL_ADDR_H
#define KESTREL_BASE_UPNP_LOCAL_ADDR_H

/* Questions about the host's own addresses, answered from the interface
 * table that the network runtime builds when the stack starts (see
 * ssdp/upnp_ssdp_interfaces.h). With the stack stopped there are no
 * interfaces and every question answers "no". Texts handed out are new
 * accounted copies (free with upnp_free_impl). */

#ifdef __cplusplus
extern "C" {
#endif

/* Whether `address` equals one of the interface addresses. */
int is_local_ip(const char *address);

/* Copy of the first interface address that occurs in `text` and is not
 * directly followed by a digit (so "192.168.1.1" does not match inside
 * "http://192.168.1.10/"), or none. */
char *upnp_get_used_local_ip(const char *text);

/* Whether an interface has exactly this address and HTTP port. */
int upnp_is_my_server(const char *address, unsigned int port);

/* The interface in the same /24 network as `address`: the first entry whose
 * address begins with the text of `address` up to and including its last
 * '.'. Returns 0 with *local_address a copy of the entry's address and *port
 * its HTTP port (either out-parameter may be none; *reserved is set to 0);
 * 2 when `address` is missing or does not begin with a digit; 14 when it has
 * no '.' or no interface matches; 8 when the copy could not be made. */
int upnp_get_matching_local_server(const char *address, char **local_address, unsigned int *port, int *reserved);

/* Whether upnp_get_matching_local_server finds an interface for `address`. */
int upnp_server_is_local_network(const char *address);
/* Copy of the matching interface address, or none. */
char *upnp_get_matching_local_ip(const char *address);

#ifdef __cplusplus
}
#endif

#endif
