// The server's questions to the client recognition database: registration
// of the client behind each request and the two quirks that change replies.
#include "clientdb/upnp_client_db.h"
#include "http/http_server_internal.h"

uint32_t http_client_register(const char *base_url, const char *peer, const char *header) {
  return upnp_client_db_add_by_ip(base_url, peer, header);
}

bool http_client_keeps_1_0_connections(uint32_t client) { return upnp_client_db_redsonic_compliant(client) != 0; }

bool http_client_needs_1_0_response(uint32_t client) { return upnp_client_db_needs_1_0_response(client) != 0; }
