// The library's HTTP server as the web API tests run it: on 127.0.0.1 at a
// port the system picks, opened once per test suite and closed again.
#ifndef TESTS_WEBAPI_WEBAPI_TEST_SERVER_H
#define TESTS_WEBAPI_WEBAPI_TEST_SERVER_H

namespace webapi_test {

// Opens the server (memory accounting up first) into socket and port; with
// rpc, the RPC handler is registered at "/nmc/rpc". Fails fatally when the
// server does not open (call inside ASSERT_NO_FATAL_FAILURE).
void open_server(int *socket, unsigned *port, bool rpc);
// Closes the server and unregisters every handler.
void close_server(int socket);

}  // namespace webapi_test

#endif
