#ifndef KESTREL_BASE_UPNP_MAC_H
#define KESTREL_BASE_UPNP_MAC_H

/* MAC address of a neighbour on the local network, from the system's
 * neighbour (ARP) table. When the address is not in the table, one echo
 * request is sent to it and the table read once more. Safe to call from
 * several threads at once. */

#ifdef __cplusplus
extern "C" {
#endif

/* Size of the buffer GetMACaddress writes ("AA:BB:CC:DD:EE:FF" + zero). */
#define UPNP_MAC_TEXT_SIZE 18

/* `address` must be a dotted IPv4 address other than "127.0.0.1". Returns 1
 * with the MAC in upper-case hexadecimal ("%02X:%02X:%02X:%02X:%02X:%02X") in
 * `mac` (UPNP_MAC_TEXT_SIZE bytes), else 0 with `mac` emptied. An all-zero
 * MAC counts as not found. */
int GetMACaddress(const char *address, char *mac);

#ifdef __cplusplus
}
#endif

#endif
