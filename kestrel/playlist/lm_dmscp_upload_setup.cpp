// Upload set-up on the caller's thread (server_upload): the class, the
// server of the context, CreateObject with the res size, the new object's
// bookmark, the import address, the connection, the POST header and the
// server's answer to it; then the transfer thread takes the socket.
#include <poll.h>

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>

#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "base/upnp_socket.h"
#include "base/upnp_thread.h"
#include "base/upnp_xml.h"
#include "cp/upnp_soap.h"
#include "http/http_client.h"
#include "nmc/lm_dmscp_internal.h"
#include "playlist/lm_dmscp_upload_internal.h"

namespace {

constexpr const char *kWho = "lm_dmscp_upload";
constexpr const char *kPlaylistMime = "application/vnd.ms-wpl";

// Field n (from 0) of a protocolInfo's ":"-separated fields; "" when absent.
std::string pi_field(const char *protocol_info, int n) {
  const char *p = protocol_info;
  for (int i = 0; i < n; ++i) {
    p = std::strchr(p, ':');
    if (p == nullptr) return std::string();
    ++p;
  }
  const char *end = std::strchr(p, ':');
  return end != nullptr ? std::string(p, end) : std::string(p);
}

struct server_ref {
  int index = -1;
  std::string udn;
};

// The server the context stands on: at the server list the entry under its
// cursor, above it the server it browses.
lm_nmc_result_t context_server(uint32_t context, server_ref *server) {
  return nmc_dms_with_context(context, [server](nmc_dms_state &state) -> lm_nmc_result_t {
    if (state.levels.size() == 1) {
      upnp_xml_node *object = nullptr;
      lm_nmc_result_t result = nmc_dms_current(state, &object, true);
      if (result != LM_NMC_OK) return result;
    }
    if (state.server < 0 || state.server_udn.empty()) return 5;
    server->index = state.server;
    server->udn = state.server_udn;
    return LM_NMC_OK;
  });
}

struct tree_owner {
  upnp_xml_node *tree = nullptr;
  char *id = nullptr;
  ~tree_owner() {
    upnp_xml_release(tree);
    upnp_free_impl(id);
  }
};

char *copy(const std::string &text) { return upnp_strdup_impl(text.c_str()); }

}  // namespace

int upload_read_status(int socket, int wait_ms) {
  if (wait_ms >= 0) {
    struct pollfd ready = {socket, POLLIN, 0};
    int n = poll(&ready, 1, wait_ms);
    if (n == 0) return 0;
    if (n < 0) return -1;
  }
  char header[HTTP_HEADER_BUFFER_SIZE];
  if (HTTP_get_header(socket, header, sizeof header) <= 0) return -1;
  return HTTP_parse_header_response(header);
}

void upload_info_free(upload_info *info) {
  if (info == nullptr) return;
  upnp_free_impl(info->url);
  upnp_free_impl(info->mime);
  upnp_free_impl(info->extra_headers);
  upnp_free_impl(info);
}

lm_nmc_result_t server_upload(uint32_t context, void *user_data, const char *title, const char *protocol_info,
                              const char *metadata, const char *container, uint32_t block_size,
                              lm_dmscp_upload_callback callback, uint32_t bookmark_size, char *bookmark,
                              uint64_t content_length) {
  const bool want_bookmark = bookmark != nullptr && bookmark_size > 0;
  if (want_bookmark) bookmark[0] = '\0';
  const char *upnp_class = protocol_info != nullptr ? mapMimeToClass(protocol_info) : nullptr;
  if (title == nullptr || title[0] == '\0' || callback == nullptr || upnp_class == nullptr || container == nullptr)
    return LM_NMC_INVALID_PARAMETER;
  // Everything the request needs of the arguments is checked before any
  // request is made.
  const std::string mime = pi_field(protocol_info, 2);
  if (mime.empty()) return LM_NMC_INVALID_PARAMETER;
  if (std::strstr(protocol_info, "application/x-dtcp1") != nullptr) {
    upnp_log_impl(LOG_LEVEL_ERROR, LOG_HTTP, kWho, "lm_dmscp_upload: Protected uploads are not available");
    return 13;
  }
  if (!lm_nmc_conn_init()) return LM_NMC_GOING_DOWN;
  if (!upload_reserve_slot()) return 22;

  lm_nmc_result_t result = LM_NMC_OK;
  int socket = -1;
  upload_info *info = nullptr;
  try {
    server_ref server;
    tree_owner created;
    std::string import_uri;
    result = context_server(context, &server);
    if (result == LM_NMC_OK) {
      // The res attributes are written into the DIDL-Lite as given; the
      // envelope escapes that text once.
      char res_attributes[48] = "";
      if (content_length > 0)
        std::snprintf(res_attributes, sizeof res_attributes, " size=\"%" PRIu64 "\"", content_length);
      result = static_cast<lm_nmc_result_t>(upnp_control_create_object(
          server.index, container, nullptr, title, upnp_class, protocol_info, metadata, nullptr,
          content_length > 0 ? res_attributes : nullptr, nullptr, 0, &created.tree, &created.id));
    }
    if (result == LM_NMC_OK && want_bookmark) {
      std::string text = server.udn + "," + nmc_bookmark_escape(created.id != nullptr ? created.id : "");
      if (text.size() + 1 > bookmark_size) {
        result = LM_NMC_BUFFER_TOO_SMALL;
      } else {
        std::memcpy(bookmark, text.c_str(), text.size() + 1);
      }
    }
    if (result == LM_NMC_OK) {
      upnp_xml_node *res = created.tree != nullptr ? upnp_xml_find_tag(created.tree, "res") : nullptr;
      const char *uri = res != nullptr ? upnp_xml_find_attribute_value(res, "importUri") : nullptr;
      if (created.tree == nullptr) {
        result = LM_NMC_INVALID_PARAMETER;
      } else if (uri == nullptr || uri[0] == '\0') {
        upnp_log_impl(LOG_LEVEL_ERROR, LOG_HTTP, kWho, "lm_dmscp_upload: Server did not send an importUri");
        result = 7;
      } else {
        import_uri = uri;
      }
    }
    if (result == LM_NMC_OK) {
      socket = HTTP_open(import_uri.c_str());
      if (socket < 0) {
        upnp_log_impl(LOG_LEVEL_ERROR, LOG_HTTP, kWho, "lm_dmscp_upload: Cannot open connection to %s",
                      import_uri.c_str());
        socket = -1;
        result = 400;
      }
    }
    const bool playlist = mime == kPlaylistMime;
    std::string lines;
    if (result == LM_NMC_OK) {
      const std::string features = pi_field(protocol_info, 3);
      if (!features.empty()) lines += "contentFeatures.dlna.org: " + features + "\r\n";
      lines += "transferMode.dlna.org: Background\r\n";
      // A playlist's length line is written once its text is collected.
      if (content_length > 0 && !playlist) {
        lines += "Content-Length: " + std::to_string(content_length) + "\r\n";
      } else if (!playlist) {
        lines += "Transfer-Encoding: chunked\r\n";
      }
    }
    if (result == LM_NMC_OK && !playlist) {
      if (HTTP_post_header(socket, import_uri.c_str(), mime.c_str(), 0, 1, lines.c_str()) != 0) {
        result = 400;
      } else {
        Sleep(10);
        // A server that sends no interim answer gets the body after the
        // wait; a final answer then comes after it.
        int status = upload_read_status(socket, static_cast<int>(LM_DMSCP_UPLOAD_CONTINUE_WAIT_MS));
        if (status < 0) {
          upnp_log_impl(LOG_LEVEL_ERROR, LOG_HTTP, kWho, "lm_dmscp_upload: Cannot read post response %s",
                        import_uri.c_str());
          result = LM_NMC_NO_VALUE;
        } else if (status == 0) {
          upnp_log_impl(LOG_LEVEL_INFO, LOG_HTTP, kWho, "lm_dmscp_upload: No interim answer from %s within %u ms",
                        import_uri.c_str(), LM_DMSCP_UPLOAD_CONTINUE_WAIT_MS);
        } else if (status < 100 || status > 399) {
          upnp_log_impl(LOG_LEVEL_ERROR, LOG_HTTP, kWho, "lm_dmscp_upload: Server rejected post request to %s, error %d",
                        import_uri.c_str(), status);
          result = static_cast<lm_nmc_result_t>(status);
        }
        Sleep(10);
      }
    }
    if (result == LM_NMC_OK) {
      if (block_size == 0) block_size = 8192;
      if (block_size < 512) {
        upnp_log_impl(LOG_LEVEL_INFO, LOG_HTTP, kWho, "Correcting max blocksize from %u to 512", block_size);
        block_size = 512;
      }
      info = static_cast<upload_info *>(upnp_calloc_impl(1, sizeof(upload_info)));
      if (info == nullptr) {
        result = LM_NMC_OUT_OF_MEMORY;
      } else {
        info->context = context;
        info->block_size = block_size;
        info->callback = callback;
        info->user_data = user_data;
        info->content_length = content_length;
        info->playlist = playlist ? 1 : 0;
        info->socket = -1;
        if (playlist) {
          info->url = copy(import_uri);
          info->mime = copy(mime);
          info->extra_headers = copy(lines);
          if (info->url == nullptr || info->mime == nullptr || info->extra_headers == nullptr)
            result = LM_NMC_OUT_OF_MEMORY;
        }
      }
    }
  } catch (...) {
    result = LM_NMC_OUT_OF_MEMORY;
  }
  if (result == LM_NMC_OK) {
    info->socket = socket;
    if (upload_start(info)) {
      upnp_log_impl(LOG_LEVEL_INFO, LOG_HTTP, kWho, "lm_dmscp_upload: Transfer started in context %u", context);
      return LM_NMC_OK;
    }
    // The slot is released by upload_start's failure.
    upnp_log_impl(LOG_LEVEL_ERROR, LOG_SYSTEM, kWho, "lm_dmscp_upload: Cannot start the upload thread");
    info->socket = -1;
    result = 22;
  } else {
    upload_release_slot();
  }
  if (socket >= 0) upnp_socket_close(socket);
  upload_info_free(info);
  if (want_bookmark) bookmark[0] = '\0';
  return result;
}
