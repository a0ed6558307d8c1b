#ifndef KESTREL_BASE_UPNP_MAC_PLATFORM_H
#define KESTREL_BASE_UPNP_MAC_PLATFORM_H

/* How the MAC lookup reaches the system, one file per platform, and the
 * table parser they share. Internal. */

#include <string>

/* The system's neighbour table as text (Linux: /proc/net/arp; macOS: the
 * listing of "arp -an"). false when it could not be read. */
bool upnp_mac_platform_read_table(std::string *table);
/* Sends one ICMP echo request to `address` (already checked to be a dotted
 * IPv4 address) and waits for its end (at most about a second). */
void upnp_mac_platform_send_echo(const char *address);

/* Finds the first line of `table` that names `address` (as a field of its
 * own, or in parentheses as "arp -an" prints it) and gives the first MAC
 * address after it on that line (six groups of one or two hexadecimal digits
 * separated by ':'), upper case with two digits per group, in `mac`
 * (18 bytes). 1 when found and not all zero, else 0 (mac emptied). */
int upnp_mac_find_in_table(const char *table, const char *address, char *mac);

/* Whether `address` is a plain dotted IPv4 address (four decimal parts of at
 * most three digits, each up to 255, nothing else). */
int upnp_mac_is_dotted_ipv4(const char *address);

#endif
