// IPv4 sockets and option helpers, on 127.0.0.1 only.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "base/upnp_log.h"
#include "base/upnp_socket.h"
#include "base_test_util.h"

namespace {

sockaddr_in loopback(uint16_t port) {
  sockaddr_in a;
  std::memset(&a, 0, sizeof a);
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

template <typename T>
T get_option(int s, int level, int name) {
  T value{};
  socklen_t length = sizeof value;
  EXPECT_EQ(0, getsockopt(s, level, name, &value, &length));
  return value;
}

// A listening TCP socket on 127.0.0.1 with an ephemeral port.
struct Listener {
  upnp_socket_t s = upnp_socket_create_tcp();
  sockaddr_in address{};
  Listener() {
    EXPECT_NE(UPNP_INVALID_SOCKET, s);
    sockaddr_in any_port = loopback(0);
    EXPECT_EQ(0, upnp_socket_bind(s, &any_port));
    EXPECT_EQ(0, upnp_socket_listen(s));
    EXPECT_EQ(0, upnp_socket_get_local_address(s, &address));
  }
  ~Listener() { upnp_socket_close(s); }
};

}  // namespace

TEST(Socket, TcpExchangeOverLoopback) {
  Listener listener;
  ASSERT_NE(0, listener.address.sin_port);
  upnp_socket_t client = upnp_socket_create_tcp();
  ASSERT_EQ(0, upnp_socket_connect(client, &listener.address));
  sockaddr_in peer;
  upnp_socket_t server = upnp_socket_accept(listener.s, &peer);
  ASSERT_NE(UPNP_INVALID_SOCKET, server);
  char text[32];
  EXPECT_STREQ("127.0.0.1", upnp_inet_ntoa(peer.sin_addr, text, sizeof text));

  const char request[] = "GET / HTTP/1.1\r\n\r\n";
  ASSERT_EQ(static_cast<ssize_t>(sizeof request), upnp_send(client, request, sizeof request, 0));
  char got[64] = {0};
  size_t have = 0;
  while (have < sizeof request) {
    ssize_t n = upnp_recv(server, got + have, sizeof got - have, 0);
    ASSERT_GT(n, 0);
    have += static_cast<size_t>(n);
  }
  EXPECT_STREQ(request, got);
  upnp_socket_close(client);
  EXPECT_EQ(0, upnp_recv(server, got, sizeof got, 0)) << "orderly close seen as 0";
  upnp_socket_close(server);
}

TEST(Socket, SendingToAClosedPeerIsAnErrorNotASignal) {
  Listener listener;
  upnp_socket_t client = upnp_socket_create_tcp();
  ASSERT_EQ(0, upnp_socket_connect(client, &listener.address));
  upnp_socket_t server = upnp_socket_accept(listener.s, nullptr);
  ASSERT_NE(UPNP_INVALID_SOCKET, server);
  upnp_socket_close(server);
  char block[4096] = {0};
  ssize_t last = 0;
  int error = 0;
  for (int i = 0; i < 200 && last >= 0; ++i) {
    last = upnp_send(client, block, sizeof block, 0);
    error = errno;
  }
  EXPECT_EQ(-1, last);
  EXPECT_TRUE(error == EPIPE || error == ECONNRESET) << std::strerror(error);
  upnp_socket_close(client);
}

TEST(Socket, ConnectionRefusedHasAText) {
  Listener listener;
  sockaddr_in closed = listener.address;
  upnp_socket_close(listener.s);
  listener.s = UPNP_INVALID_SOCKET;
  upnp_socket_t client = upnp_socket_create_tcp();
  EXPECT_EQ(-1, upnp_socket_connect(client, &closed));
  EXPECT_EQ(ECONNREFUSED, errno);
  EXPECT_EQ(std::string(std::strerror(ECONNREFUSED)), getLastSocketError());
  EXPECT_EQ(ECONNREFUSED, errno) << "reading the text keeps errno";
  upnp_socket_close(client);
  EXPECT_EQ(-1, upnp_socket_connect(client, nullptr));
}

TEST(Socket, UdpDatagramsOverLoopback) {
  upnp_socket_t receiver = upnp_socket_create_udp();
  upnp_socket_t sender = upnp_socket_create_udp();
  sockaddr_in any_port = loopback(0), to;
  ASSERT_EQ(0, upnp_socket_bind(receiver, &any_port));
  ASSERT_EQ(0, upnp_socket_get_local_address(receiver, &to));
  ASSERT_EQ(0, upnp_socket_bind(sender, &any_port));
  sockaddr_in sender_address;
  upnp_socket_get_local_address(sender, &sender_address);

  ASSERT_EQ(5, upnp_sendto(sender, "hello", 5, 0, &to));
  char got[16] = {0};
  sockaddr_in from;
  ASSERT_EQ(5, upnp_recvfrom(receiver, got, sizeof got, 0, &from));
  EXPECT_STREQ("hello", got);
  EXPECT_EQ(sender_address.sin_port, from.sin_port);
  EXPECT_EQ(htonl(INADDR_LOOPBACK), from.sin_addr.s_addr);
  EXPECT_EQ(-1, upnp_sendto(sender, "x", 1, 0, nullptr));
  upnp_socket_close(receiver);
  upnp_socket_close(sender);
}

TEST(Socket, ReceiveTimeoutEndsTheWait) {
  upnp_socket_t s = upnp_socket_create_udp();
  sockaddr_in any_port = loopback(0);
  ASSERT_EQ(0, upnp_socket_bind(s, &any_port));
  ASSERT_EQ(0, setSockOptReceiveTimeout(s, 150));
  auto tv = get_option<timeval>(s, SOL_SOCKET, SO_RCVTIMEO);
  EXPECT_EQ(0, tv.tv_sec);
  EXPECT_NEAR(150000, tv.tv_usec, 4000);
  auto start = std::chrono::steady_clock::now();
  char buffer[8];
  EXPECT_EQ(-1, upnp_recvfrom(s, buffer, sizeof buffer, 0, nullptr));
  EXPECT_TRUE(errno == EAGAIN || errno == EWOULDBLOCK);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(120));
  ASSERT_EQ(0, setSockOptSendTimeout(s, 2500));
  tv = get_option<timeval>(s, SOL_SOCKET, SO_SNDTIMEO);
  EXPECT_EQ(2, tv.tv_sec);
  EXPECT_NEAR(500000, tv.tv_usec, 4000);
  upnp_socket_close(s);
}

TEST(Socket, ReuseSetsAddressAndPortReuse) {
  upnp_socket_t a = upnp_socket_create_udp();
  upnp_socket_t b = upnp_socket_create_udp();
  ASSERT_EQ(0, setSockOptReuseAddr(a));
  ASSERT_EQ(0, setSockOptReuseAddr(b));
  EXPECT_NE(0, get_option<int>(a, SOL_SOCKET, SO_REUSEADDR));
  EXPECT_NE(0, get_option<int>(a, SOL_SOCKET, SO_REUSEPORT));
  sockaddr_in any_port = loopback(0), bound;
  ASSERT_EQ(0, upnp_socket_bind(a, &any_port));
  upnp_socket_get_local_address(a, &bound);
  EXPECT_EQ(0, upnp_socket_bind(b, &bound)) << "a second socket shares the port";
  upnp_socket_close(a);
  upnp_socket_close(b);
}

TEST(Socket, TtlAndMulticastOptions) {
  upnp_socket_t s = upnp_socket_create_udp();
  ASSERT_EQ(0, setSockOptTTL(s, 7));
  EXPECT_EQ(7, get_option<int>(s, IPPROTO_IP, IP_TTL));
  ASSERT_EQ(0, setSockOptMulticast(s, 4, "127.0.0.1"));
  EXPECT_EQ(4, get_option<unsigned char>(s, IPPROTO_IP, IP_MULTICAST_TTL));
  EXPECT_EQ(htonl(INADDR_LOOPBACK), get_option<in_addr>(s, IPPROTO_IP, IP_MULTICAST_IF).s_addr);
  EXPECT_EQ(-1, setSockOptMulticast(s, 4, "not an address"));
  EXPECT_EQ(-1, setSockOptMulticast(s, 256, nullptr)) << "the multicast TTL is one byte";
  EXPECT_EQ(0, setSockOptAVPriority(s));
  EXPECT_EQ(0, setSockOptInteractivePriority(s));
  EXPECT_EQ(0, setSockOptBackgroundPriority(s));
  upnp_socket_close(s);
}

TEST(Socket, MembershipIsLoggedAndBadTextsRefused) {
  // Only refused joins here: a real join belongs to the network-namespace lab.
  LogRecorder log;
  upnp_socket_t s = upnp_socket_create_udp();
  EXPECT_EQ(-1, upnp_socket_setSockOptAddMembership(s, nullptr, nullptr));
  EXPECT_EQ(-1, upnp_socket_setSockOptAddMembership(s, "239.255.255.250", "no interface"));
  ASSERT_EQ(2u, log.lines().size());
  EXPECT_EQ("### joining SSDP multicast group <null> on if <null> ", log.lines()[0].text);
  EXPECT_EQ("### joining SSDP multicast group 239.255.255.250 on if no interface ", log.lines()[1].text);
  EXPECT_EQ(LOG_LEVEL_INFO, log.lines()[0].level);
  upnp_socket_close(s);
}

TEST(Socket, NamesAndAddresses) {
  char host[256];
  ASSERT_EQ(0, upnp_gethostname(host, sizeof host));
  EXPECT_GT(std::strlen(host), 0u);
  char tiny[2] = {'x', 'x'};
  upnp_gethostname(tiny, sizeof tiny);
  EXPECT_EQ('\0', tiny[1]);

  in_addr address;
  ASSERT_EQ(0, upnp_gethostbyname("127.0.0.1", &address));
  EXPECT_EQ(htonl(INADDR_LOOPBACK), address.s_addr);
  EXPECT_EQ(-1, upnp_gethostbyname(nullptr, &address));

  char text[16];
  address.s_addr = htonl(0xC0A80A01);
  EXPECT_STREQ("192.168.10.1", upnp_inet_ntoa(address, text, sizeof text));
  char small[8];
  EXPECT_EQ(nullptr, upnp_inet_ntoa(address, small, sizeof small)) << "does not fit";
}

namespace {

// In a child process with a network namespace of its own (only a loopback
// link, brought up here): join the SSDP group on 127.0.0.1 and receive our own
// multicast datagram. Exit codes tell where it failed; 77 means the
// namespace could not be made (not root).
int multicast_in_private_namespace() {
  if (unshare(CLONE_NEWNET) != 0) return 77;
  int control = socket(AF_INET, SOCK_DGRAM, 0);
  ifreq request;
  std::memset(&request, 0, sizeof request);
  std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
  if (ioctl(control, SIOCGIFFLAGS, &request) != 0) return 2;
  request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
  if (ioctl(control, SIOCSIFFLAGS, &request) != 0) return 3;
  close(control);

  upnp_socket_t receiver = upnp_socket_create_udp();
  if (setSockOptReuseAddr(receiver) != 0) return 4;
  sockaddr_in group_port;
  std::memset(&group_port, 0, sizeof group_port);
  group_port.sin_family = AF_INET;
  group_port.sin_port = htons(1900);
  group_port.sin_addr.s_addr = htonl(INADDR_ANY);
  if (upnp_socket_bind(receiver, &group_port) != 0) return 5;
  if (upnp_socket_setSockOptAddMembership(receiver, "239.255.255.250", "127.0.0.1") != 0) return 6;
  if (setSockOptReceiveTimeout(receiver, 2000) != 0) return 7;

  upnp_socket_t sender = upnp_socket_create_udp();
  if (setSockOptMulticast(sender, 2, "127.0.0.1") != 0) return 8;
  inet_pton(AF_INET, "239.255.255.250", &group_port.sin_addr);
  const char message[] = "M-SEARCH * HTTP/1.1\r\n\r\n";
  if (upnp_sendto(sender, message, sizeof message - 1, 0, &group_port) != static_cast<ssize_t>(sizeof message - 1)) return 9;
  char got[64] = {0};
  ssize_t n = upnp_recvfrom(receiver, got, sizeof got - 1, 0, nullptr);
  if (n != static_cast<ssize_t>(sizeof message - 1) || std::strcmp(got, message) != 0) return 10;
  return 0;
}

}  // namespace

TEST(Socket, MulticastJoinInAPrivateNamespace) {
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) _exit(multicast_in_private_namespace());
  int status = 0;
  ASSERT_EQ(child, waitpid(child, &status, 0));
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "no network namespace (needs root)";
  EXPECT_EQ(0, WEXITSTATUS(status)) << "failed at step " << WEXITSTATUS(status);
}
