// Listening sockets and server start/stop: the port search, refusals, and a
// stop that ends accept and connection threads promptly.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

#include "base/upnp_socket.h"
#include "http_server_test_util.h"

namespace {

int connect_to(unsigned int port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

TEST(HttpServerSocket, PortSearchSkipsBusyPorts) {
  int first = -1;
  unsigned int port = 30000 + static_cast<unsigned int>(getpid()) % 20000;
  ASSERT_EQ(0, HTTP_create_server_socket(&first, &port, "127.0.0.1"));
  ASSERT_GE(first, 0);
  unsigned int next = port;
  int second = -1;
  ASSERT_EQ(0, HTTP_create_server_socket(&second, &next, "127.0.0.1"));
  EXPECT_GT(next, port);
  EXPECT_LE(next, port + HTTP_SERVER_PORT_SEARCH);
  upnp_socket_close(first);
  upnp_socket_close(second);
}

TEST(HttpServerSocket, RefusesAddressesItCannotBind) {
  int s = 5;
  unsigned int port = 40000;
  EXPECT_EQ(1, HTTP_create_server_socket(&s, &port, "not an address"));
  EXPECT_EQ(-1, s);
  // 192.0.2.1 (documentation range) is no address of this host: every port fails.
  s = 5;
  port = 40000;
  EXPECT_EQ(1, HTTP_create_server_socket(&s, &port, "192.0.2.1"));
  EXPECT_EQ(-1, s);
  EXPECT_EQ(-1, HTTP_server_open("192.0.2.1", 40000));
}

TEST(HttpServerSocket, ZeroPortMeansTheDefault) {
  int s = -1;
  unsigned int port = 0;
  ASSERT_EQ(0, HTTP_create_server_socket(&s, &port, "127.0.0.1"));
  EXPECT_GE(port, static_cast<unsigned int>(HTTP_SERVER_DEFAULT_PORT));
  EXPECT_LE(port, static_cast<unsigned int>(HTTP_SERVER_DEFAULT_PORT + HTTP_SERVER_PORT_SEARCH));
  upnp_socket_close(s);
}

TEST(HttpServerSocket, CloseEndsAcceptAndConnectionsPromptly) {
  int server = HTTP_server_open("127.0.0.1", 30000 + static_cast<unsigned int>(getpid() + 7) % 20000);
  ASSERT_GE(server, 0);
  unsigned int port = HTTP_server_port(server);
  ASSERT_NE(0u, port);
  int idle = connect_to(port);
  ASSERT_GE(idle, 0);
  int before = HTTP_server_connection_count();
  for (int i = 0; i < 50 && HTTP_server_connection_count() == before; ++i) usleep(20000);
  auto start = std::chrono::steady_clock::now();
  HTTP_server_close(server);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_EQ(0u, HTTP_server_port(server));
  EXPECT_TRUE(closed_by_server(idle, 1000));
  close(idle);
  EXPECT_EQ(-1, connect_to(port));
  // Closing an unknown socket does nothing.
  HTTP_server_close(server);
}

}  // namespace
