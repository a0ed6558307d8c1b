// Support of the HTTP server tests: one server of the library on 127.0.0.1
// with the test handlers, raw socket clients and curl.
#ifndef TESTS_HTTP_HTTP_SERVER_TEST_UTIL_H
#define TESTS_HTTP_HTTP_SERVER_TEST_UTIL_H

#include <string>
#include <vector>

#include "http/http_server.h"

// The server the tests talk to (started once per process by main).
int test_server_port();
// Its listening socket.
int test_server_socket();
std::string test_url(const std::string &path);

// What the handlers saw: "METHOD path|body" per request, in order.
std::vector<std::string> seen_requests();
void clear_seen_requests();

// A blocking client socket connected to the test server, with a receive
// time-out; -1 on failure.
int connect_server(int timeout_ms = 5000);
bool send_text(int fd, const std::string &text);
// Everything the server sends until it closes (or the time-out passes).
std::string read_until_close(int fd, int timeout_ms = 5000);
// One response: header and its Content-Length body; "" when none came.
std::string read_response(int fd, int timeout_ms = 5000);
// (Not called exchange: std::exchange would win overload resolution for
// non-const string arguments.) Sends request on a new connection and returns all that comes back until
// the server closes (or the time-out).
std::string round_trip(const std::string &request, int timeout_ms = 5000);
// true when the server closed the connection within timeout_ms.
bool closed_by_server(int fd, int timeout_ms);

struct Response {
  int status = 0;
  std::string header;
  std::string body;
};
Response parse_response(const std::string &text);
// Value of a header field (case-insensitive name), "" when absent.
std::string field(const std::string &header, const std::string &name);

// Runs a command, returns its standard output (exit status in *status).
std::string run_command(const std::string &command, int *status = nullptr);

// The 100-byte buffer behind "/data".
std::string data_100();

#endif
