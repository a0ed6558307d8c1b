// The MIME lookups' link to the client recognition database. The database
// has no special MIME types to offer until its module is part of the build,
// so both questions answer none for now.
#include "http/http_mime_clientdb.h"

const char *http_mime_client_type(const struct HTTP_connection *connection, const char *extension) {
  (void)connection;
  (void)extension;
  return nullptr;
}

const char *http_mime_client_extension(const char *mime_type) {
  (void)mime_type;
  return nullptr;
}
