// The server's questions to the client recognition database: registration
// of the client behind each request and the two quirks that change replies.
// The database's functions are referenced weakly, so the server also works
// in programs that link without the database (every client is then a plain
// one with identifier 0).
#include "clientdb/upnp_client_db.h"
#include "http/http_server_internal.h"

extern "C" {
uint32_t upnp_client_db_add_by_ip(const char *local_url, const char *ip, const char *header) __attribute__((weak));
int upnp_client_db_redsonic_compliant(uint32_t type) __attribute__((weak));
int upnp_client_db_needs_1_0_response(uint32_t type) __attribute__((weak));
}

uint32_t http_client_register(const char *base_url, const char *peer, const char *header) {
  return upnp_client_db_add_by_ip ? upnp_client_db_add_by_ip(base_url, peer, header) : 0;
}

bool http_client_keeps_1_0_connections(uint32_t client) {
  return upnp_client_db_redsonic_compliant && upnp_client_db_redsonic_compliant(client) != 0;
}

bool http_client_needs_1_0_response(uint32_t client) {
  return upnp_client_db_needs_1_0_response && upnp_client_db_needs_1_0_response(client) != 0;
}
