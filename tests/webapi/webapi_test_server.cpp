// The web API tests' HTTP server (see webapi_test_server.h).
#include "webapi_test_server.h"

#include <gtest/gtest.h>

#include "base/upnp_mem.h"
#include "http/http_server.h"
#include "webapi/webapi_internal.h"

namespace webapi_test {

void open_server(int *socket, unsigned *port, bool rpc) {
  upnp_mem_init();
  *socket = HTTP_server_open("127.0.0.1", 0);
  ASSERT_GE(*socket, 0);
  *port = HTTP_server_port(*socket);
  if (rpc) upnp_http_register_handler(rpcRequestHandler, 1u | 4u, "/nmc/rpc", 0, 1);
}

void close_server(int socket) {
  HTTP_server_close(socket);
  http_unregister_all_handlers();
}

}  // namespace webapi_test
