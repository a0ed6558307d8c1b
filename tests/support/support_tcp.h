// TCP helpers of the servers the tests run on 127.0.0.1 (or another address
// of a private network namespace): listening at a free port, accepting with
// a short wait so a stop flag is seen, reading a request header, writing all
// of a reply; on the client side, one raw exchange and its reply split.
#ifndef TESTS_SUPPORT_SUPPORT_TCP_H
#define TESTS_SUPPORT_SUPPORT_TCP_H

#include <string>

namespace test_support {

// A listening TCP socket at a free port of address (an IPv4 text), the port
// in *port; throws when address is no IPv4 address or nothing can listen.
int listen_tcp(const char *address, int *port, int backlog = 128);
// A port of 127.0.0.1 that was free a moment ago (bound and released again),
// for a server that takes its port by number.
int free_loopback_port();
// A connection accepted on listen_fd within wait_ms, or -1.
int accept_within(int listen_fd, int wait_ms);
// Reads from fd until the empty line that ends a header, the peer closes,
// or receive_timeout_ms passes between two reads; returns all that was read
// (header and any bytes after it that came along).
std::string read_header(int fd, int receive_timeout_ms = 5000);
// A connection to 127.0.0.1:port whose reads wait at most
// receive_timeout_ms, or -1.
int connect_loopback(int port, int receive_timeout_ms = 5000);
// Writes all of text; false when the peer went away.
bool send_all(int fd, const std::string &text);
// Reads from fd until the peer closes or a read times out; all that came.
std::string read_to_close(int fd);
// One exchange on a new connection to 127.0.0.1:port: sends request whole
// and reads the reply until the peer closes; "" when no connection.
std::string exchange_loopback(int port, const std::string &request, int receive_timeout_ms = 5000);

// The value of the header field name (matched without regard to case, after
// the first line) in head, its leading blanks skipped; "" when absent.
std::string header_value(const std::string &head, const std::string &name);

// A raw HTTP reply split at its empty line: status 0 (and nothing else set)
// when the text is no whole header.
struct http_reply {
  int status = 0;
  std::string header;  // status line and fields, without the empty line
  std::string body;
};
http_reply split_http_reply(const std::string &text);

}  // namespace test_support

#endif
