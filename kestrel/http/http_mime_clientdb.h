#ifndef KESTREL_HTTP_HTTP_MIME_CLIENTDB_H
#define KESTREL_HTTP_HTTP_MIME_CLIENTDB_H

/* Internal: the MIME lookups' questions to the client recognition database. */

struct HTTP_connection;

/* Client-specific MIME type for an extension for the client behind the
 * connection, or none. */
const char *http_mime_client_type(const struct HTTP_connection *connection, const char *extension);
/* Extension the client database associates with a MIME type, or none. */
const char *http_mime_client_extension(const char *mime_type);

#endif
