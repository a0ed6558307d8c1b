// The MIME lookups' link to the client recognition database.
#include "http/http_mime_clientdb.h"

#include "clientdb/upnp_client_db.h"
#include "http/http_server.h"

// --- client database lookups (owned by kestrel/clientdb) ---
const char *http_mime_client_type(const struct HTTP_connection *connection, const char *extension) {
  if (connection == nullptr) return nullptr;
  return upnp_client_db_needs_special_mime_type(connection->client, extension);
}

const char *http_mime_client_extension(const char *mime_type) {
  return upnp_client_db_special_mime_type_get_extension(mime_type);
}
// --- end of client database lookups ---
