// The private messages of associated players: an HTTP POST to "/lmmcp"
// under the renderer's base URL, its reply kept only when it fits whole.
#include <string.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <string>

#include "base/upnp_mem.h"
#include "base/upnp_socket.h"
#include "cp/upnp_cp.h"
#include "http/http_client.h"
#include "media/zel_device_text.h"
#include "media/zel_media_renderer.h"
#include "nmc/lm_dmrcp.h"

namespace {

// An associated player that stops answering must not hold the caller.
const int kReplyTimeoutSeconds = 5;

bool send_all(int socket, const char *data, size_t length) {
  while (length > 0) {
    ssize_t sent = upnp_send(socket, data, length, 0);
    if (sent <= 0) return false;
    data += sent;
    length -= static_cast<size_t>(sent);
  }
  return true;
}

}  // namespace

bool ZelMediaRenderer2::SendControlPointMessage(const char *message, const char *argument, char *out, size_t size) {
  if (out != nullptr && size > 0) out[0] = '\0';
  if (message == nullptr || out == nullptr || size == 0) return false;
  std::string base;
  if (!ZelReadContextText(lm_dmrcp_extract_metadata, m_context, "baseURL", &base) || base.size() >= 1024) return false;
  char url[1024] = {0};
  if (upnp_cp_get_absolute_url(base.c_str(), "/lmmcp", url, sizeof url) != 0) return false;
  std::string body(message);
  if (argument != nullptr) {
    body += "^";
    body += argument;
  }
  body.push_back('\0');  // the player expects the terminating NUL, counted in the length
  int socket = HTTP_open(url);
  if (socket < 0) return false;
  struct timeval timeout = {kReplyTimeoutSeconds, 0};
  (void)setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  (void)setsockopt(socket, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
  bool ok = false;
  if (HTTP_post_header(socket, url, "text/xml; charset=\"utf-8\"", static_cast<int64_t>(body.size()), 0, nullptr) ==
          0 &&
      send_all(socket, body.data(), body.size())) {
    char header[4096] = {0};
    if (HTTP_get_header(socket, header, sizeof header) > 0) {
      uint64_t length = 0;
      int over = 0;
      // One byte more than fits, so that an overlong reply shows as such.
      char *reply = HTTP_receive_body_bounded(socket, header, size, &length, &over);
      if (reply != nullptr && !over && length < size) {
        memcpy(out, reply, static_cast<size_t>(length));
        out[length] = '\0';
        ok = true;
      }
      if (reply != nullptr) upnp_free_impl(reply);
    }
  }
  upnp_socket_close(socket);
  return ok;
}

bool ZelMediaRenderer2::GetAssociatedRendererName(char *out, size_t size) {
  if (out != nullptr && size > 0) out[0] = '\0';
  if (!m_associatedPlayer || out == nullptr) return false;
  char reply[300];
  if (!SendControlPointMessage("AssociatedRendererName", nullptr, reply, sizeof reply)) return false;
  if (strlen(reply) >= size) return false;
  memcpy(out, reply, strlen(reply) + 1);
  return true;
}

bool ZelMediaRenderer2::GetAssociatedRendererIcon(char *out, size_t size) {
  if (out != nullptr && size > 0) out[0] = '\0';
  if (!m_associatedPlayer || out == nullptr) return false;
  char reply[100];
  if (!SendControlPointMessage("AssociatedRendererIcon", nullptr, reply, sizeof reply)) return false;
  if (strlen(reply) >= size) return false;
  memcpy(out, reply, strlen(reply) + 1);
  return true;
}

bool ZelMediaRenderer2::GetAssociatedRendererNameAndIcon(char *name, size_t nameSize, char *icon, size_t iconSize) {
  if (name != nullptr && nameSize > 0) name[0] = '\0';
  if (icon != nullptr && iconSize > 0) icon[0] = '\0';
  if (m_associatedPlayer) {
    char reply[500];
    (void)SendControlPointMessage("AssociatedRendererNameAndIcon", nullptr, reply, sizeof reply);
  }
  return false;
}
