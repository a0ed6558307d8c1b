// IPv4 socket functions and option helpers over BSD sockets.
#include "base/upnp_socket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netdb.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include "base/upnp_base_log.h"
#include "base/upnp_log.h"
#include "base/upnp_socket_platform.h"

namespace {

upnp_socket_t create(int type, int protocol) {
  int s = upnp_socket_platform_socket(type, protocol);
  if (s < 0) return UPNP_INVALID_SOCKET;
  if (upnp_socket_platform_prepare(s) != 0) {
    int error = errno;
    close(s);
    errno = error;
    return UPNP_INVALID_SOCKET;
  }
  return s;
}

const sockaddr *as_sockaddr(const sockaddr_in *address) { return reinterpret_cast<const sockaddr *>(address); }

int set_timeout(upnp_socket_t s, int option, unsigned int milliseconds) {
  struct timeval tv;
  tv.tv_sec = static_cast<time_t>(milliseconds / 1000);
  tv.tv_usec = static_cast<suseconds_t>((milliseconds % 1000) * 1000);
  return setsockopt(s, SOL_SOCKET, option, &tv, sizeof tv);
}

bool parse_address(const char *text, in_addr *address) {
  return text != nullptr && inet_pton(AF_INET, text, address) == 1;
}

// strerror_r comes in two shapes; accept either.
[[maybe_unused]] const char *error_text(int rc, char *buffer) { return rc == 0 ? buffer : "Unknown error"; }
[[maybe_unused]] const char *error_text(const char *text, char *) { return text; }

}  // namespace

extern "C" upnp_socket_t upnp_socket_create_udp(void) { return create(SOCK_DGRAM, IPPROTO_UDP); }

extern "C" upnp_socket_t upnp_socket_create_tcp(void) { return create(SOCK_STREAM, IPPROTO_TCP); }

extern "C" int upnp_socket_close(upnp_socket_t s) { return s < 0 ? -1 : close(s); }

extern "C" int upnp_socket_listen(upnp_socket_t s) { return listen(s, UPNP_LISTEN_BACKLOG); }

extern "C" upnp_socket_t upnp_socket_accept(upnp_socket_t s, struct sockaddr_in *peer) {
  sockaddr_in address;
  socklen_t length = sizeof address;
  int accepted;
  do {
    accepted = upnp_socket_platform_accept(s, reinterpret_cast<sockaddr *>(&address), &length);
  } while (accepted < 0 && errno == EINTR);
  if (accepted < 0) return UPNP_INVALID_SOCKET;
  if (upnp_socket_platform_prepare(accepted) != 0) {
    int error = errno;
    close(accepted);
    errno = error;
    return UPNP_INVALID_SOCKET;
  }
  if (peer != nullptr) *peer = address;
  return accepted;
}

extern "C" int upnp_socket_connect(upnp_socket_t s, const struct sockaddr_in *address) {
  if (address == nullptr) {
    errno = EINVAL;
    return -1;
  }
  return connect(s, as_sockaddr(address), sizeof *address);
}

extern "C" int upnp_socket_bind(upnp_socket_t s, const struct sockaddr_in *address) {
  if (address == nullptr) {
    errno = EINVAL;
    return -1;
  }
  return bind(s, as_sockaddr(address), sizeof *address);
}

extern "C" int upnp_socket_get_local_address(upnp_socket_t s, struct sockaddr_in *address) {
  if (address == nullptr) {
    errno = EINVAL;
    return -1;
  }
  socklen_t length = sizeof *address;
  return getsockname(s, reinterpret_cast<sockaddr *>(address), &length);
}

extern "C" ssize_t upnp_send(upnp_socket_t s, const void *data, size_t length, int flags) {
  ssize_t sent;
  do {
    sent = send(s, data, length, flags | upnp_socket_platform_send_flags());
  } while (sent < 0 && errno == EINTR);
  return sent;
}

extern "C" ssize_t upnp_recv(upnp_socket_t s, void *buffer, size_t length, int flags) {
  ssize_t received;
  do {
    received = recv(s, buffer, length, flags);
  } while (received < 0 && errno == EINTR);
  return received;
}

extern "C" ssize_t upnp_sendto(upnp_socket_t s, const void *data, size_t length, int flags,
                               const struct sockaddr_in *to) {
  if (to == nullptr) {
    errno = EINVAL;
    return -1;
  }
  ssize_t sent;
  do {
    sent = sendto(s, data, length, flags | upnp_socket_platform_send_flags(), as_sockaddr(to), sizeof *to);
  } while (sent < 0 && errno == EINTR);
  return sent;
}

extern "C" ssize_t upnp_recvfrom(upnp_socket_t s, void *buffer, size_t length, int flags, struct sockaddr_in *from) {
  sockaddr_in address;
  socklen_t address_length = sizeof address;
  ssize_t received;
  do {
    address_length = sizeof address;
    received = recvfrom(s, buffer, length, flags, reinterpret_cast<sockaddr *>(&address), &address_length);
  } while (received < 0 && errno == EINTR);
  if (received >= 0 && from != nullptr) *from = address;
  return received;
}

extern "C" int upnp_gethostname(char *name, size_t size) {
  if (name == nullptr || size == 0) return -1;
  if (gethostname(name, size) != 0) {  // e.g. truncated: keep it terminated
    name[size - 1] = '\0';
    return -1;
  }
  name[size - 1] = '\0';
  return 0;
}

extern "C" int upnp_gethostbyname(const char *name, struct in_addr *address) {
  if (name == nullptr || address == nullptr) return -1;
  if (parse_address(name, address)) return 0;
  addrinfo hints;
  std::memset(&hints, 0, sizeof hints);
  hints.ai_family = AF_INET;
  addrinfo *found = nullptr;
  if (getaddrinfo(name, nullptr, &hints, &found) != 0 || found == nullptr) return -1;
  int rc = -1;
  for (addrinfo *at = found; at != nullptr; at = at->ai_next) {
    if (at->ai_family == AF_INET && at->ai_addr != nullptr) {
      *address = reinterpret_cast<const sockaddr_in *>(at->ai_addr)->sin_addr;
      rc = 0;
      break;
    }
  }
  freeaddrinfo(found);
  return rc;
}

extern "C" char *upnp_inet_ntoa(struct in_addr address, char *buffer, size_t size) {
  if (buffer == nullptr || size == 0) return nullptr;
  if (inet_ntop(AF_INET, &address, buffer, static_cast<socklen_t>(size)) == nullptr) {
    buffer[0] = '\0';
    return nullptr;
  }
  return buffer;
}

extern "C" const char *getLastSocketError(void) {
  thread_local char text[256];
  int error = errno;
  const char *result = error_text(strerror_r(error, text, sizeof text), text);
  if (result != text) {
    std::strncpy(text, result, sizeof text - 1);
    text[sizeof text - 1] = '\0';
  }
  errno = error;
  return text;
}

extern "C" int setSockOptReuseAddr(upnp_socket_t s) {
  int on = 1;
  if (setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0) return -1;
  return setsockopt(s, SOL_SOCKET, SO_REUSEPORT, &on, sizeof on);
}

extern "C" int setSockOptTTL(upnp_socket_t s, int ttl) { return setsockopt(s, IPPROTO_IP, IP_TTL, &ttl, sizeof ttl); }

extern "C" int setSockOptMulticast(upnp_socket_t s, int ttl, const char *interface_address) {
  if (interface_address != nullptr) {
    in_addr address;
    if (!parse_address(interface_address, &address)) {
      errno = EINVAL;
      return -1;
    }
    if (setsockopt(s, IPPROTO_IP, IP_MULTICAST_IF, &address, sizeof address) != 0) return -1;
  }
  if (ttl < 0 || ttl > 255) {
    errno = EINVAL;
    return -1;
  }
  unsigned char hops = static_cast<unsigned char>(ttl);
  return setsockopt(s, IPPROTO_IP, IP_MULTICAST_TTL, &hops, sizeof hops);
}

extern "C" int upnp_socket_setSockOptAddMembership(upnp_socket_t s, const char *group, const char *interface_address) {
  upnp_base_log(LOG_LEVEL_INFO, "upnp_socket_setSockOptAddMembership", "### joining SSDP multicast group %s on if %s ",
                group ? group : "<null>", interface_address ? interface_address : "<null>");
  ip_mreq request;
  std::memset(&request, 0, sizeof request);
  if (!parse_address(group, &request.imr_multiaddr) || !parse_address(interface_address, &request.imr_interface)) {
    errno = EINVAL;
    return -1;
  }
  return setsockopt(s, IPPROTO_IP, IP_ADD_MEMBERSHIP, &request, sizeof request);
}

extern "C" int setSockOptSendTimeout(upnp_socket_t s, unsigned int milliseconds) {
  return set_timeout(s, SO_SNDTIMEO, milliseconds);
}

extern "C" int setSockOptReceiveTimeout(upnp_socket_t s, unsigned int milliseconds) {
  return set_timeout(s, SO_RCVTIMEO, milliseconds);
}

extern "C" int setSockOptAVPriority(upnp_socket_t s) {
  (void)s;
  return 0;
}

extern "C" int setSockOptInteractivePriority(upnp_socket_t s) {
  (void)s;
  return 0;
}

extern "C" int setSockOptBackgroundPriority(upnp_socket_t s) {
  (void)s;
  return 0;
}
