// The upload's transfer thread (uploadToServer, "NMC DMS Upload Handler"):
// pulls the blocks from the application's callback and sends them as they
// are (announced length) or chunked (none announced), reads the server's
// final answer and makes the one final callback call.
//
// A playlist's text is collected whole (at most LM_DMSCP_UPLOAD_MAX_PLAYLIST
// bytes) and then POSTed with its length, so that its final status can be
// read and reported like any other upload's.
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>

#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "base/upnp_thread.h"
#include "http/http_client.h"
#include "http/http_url.h"
#include "playlist/lm_dmscp_upload_internal.h"

namespace {

constexpr const char *kWho = "uploadToServer";

enum class pull { more, last, fail };

// One callback call for a block: its length in *length. fail sets *result
// (20 aborted, 10 more than the block size).
pull next_block(upload_info *info, char *buffer, uint32_t *length, uint32_t *result) {
  *length = 0;
  int more = info->callback(info->context, &info->user_data, info->block_size, buffer, length);
  if (*length == 0) return pull::last;
  if (*length > info->block_size) {
    if (*length == LM_DMSCP_UPLOAD_ABORT) {
      upnp_log_impl(LOG_LEVEL_ERROR, LOG_SYSTEM, kWho, "Upload aborted by application");
      *result = 20;
    } else {
      upnp_log_impl(LOG_LEVEL_ERROR, LOG_SYSTEM, kWho,
                    "Application provided more data (%u) than blocksize (%u) - fix your app!!!", *length,
                    info->block_size);
      *result = LM_NMC_BUFFER_TOO_SMALL;
    }
    return pull::fail;
  }
  return more != 0 ? pull::more : pull::last;
}

// The final answer after the body: 0 for 200 or 201, else the status (24
// for none).
uint32_t final_answer(int socket) {
  int status = upload_read_status(socket, -1);
  if (status < 0) {
    upnp_log_impl(LOG_LEVEL_ERROR, LOG_SYSTEM, kWho, "Could not read final upload response code");
    return 24;
  }
  if (status == 100) {
    int second = upload_read_status(socket, -1);
    if (second < 0) {
      upnp_log_impl(LOG_LEVEL_ERROR, LOG_SYSTEM, kWho,
                    "Could not read final upload response code after receiving 100 Continue");
      upnp_log_impl(LOG_LEVEL_ERROR, LOG_SYSTEM, kWho, "Upload failed with response %d", status);
      return 100;
    }
    status = second;
  }
  if (status == 200 || status == 201) return 0;
  upnp_log_impl(LOG_LEVEL_ERROR, LOG_SYSTEM, kWho, "Upload failed with response %d", status);
  return static_cast<uint32_t>(status);
}

// The body as it is or chunked; *total counts the bytes taken from the
// callback. An announced length is kept: the body stops at it, and a body
// that ends short of it is a lost connection (23).
uint32_t send_body(upload_info *info, char *buffer, uint64_t *total) {
  const bool chunked = info->content_length == 0;
  uint32_t result = 0;
  uint32_t length = 0;
  for (;;) {
    if (upload_stopping()) return LM_NMC_GOING_DOWN;
    pull step = next_block(info, buffer, &length, &result);
    if (step == pull::fail) return result;
    if (length == 0) break;
    Sleep(10);
    if (!chunked) {
      uint64_t room = info->content_length - *total;
      uint32_t send = length > room ? static_cast<uint32_t>(room) : length;
      if (send < length)
        upnp_log_impl(LOG_LEVEL_WARNING, LOG_SYSTEM, kWho,
                      "Application provided more data than the announced %" PRIu64 " bytes; the rest is dropped",
                      info->content_length);
      *total += send;
      if (result == 0 && send > 0 && !http_send_all(info->socket, buffer, send)) {
        upnp_log_impl(LOG_LEVEL_ERROR, LOG_SYSTEM, kWho, "Could not send data.");
        result = 23;
      }
      if (*total == info->content_length) break;
    } else {
      *total += length;
      char size_line[32];
      std::snprintf(size_line, sizeof size_line, "%x\r\n", length);
      if (!http_send_all(info->socket, size_line, std::strlen(size_line))) {
        upnp_log_impl(LOG_LEVEL_ERROR, LOG_SYSTEM, kWho, "Could not send chunk size");
        return 23;
      }
      if (!http_send_all(info->socket, buffer, length)) {
        upnp_log_impl(LOG_LEVEL_ERROR, LOG_SYSTEM, kWho, "Could not send chunk data");
        return 23;
      }
      if (!http_send_all(info->socket, "\r\n", 2)) {
        upnp_log_impl(LOG_LEVEL_ERROR, LOG_SYSTEM, kWho, "Could not send chunk suffix");
        return 23;
      }
    }
    Sleep(10);
    if (step == pull::last) break;
  }
  if (result != 0) return result;
  if (chunked) {
    if (!http_send_all(info->socket, "0\r\n\r\n", 5)) {
      upnp_log_impl(LOG_LEVEL_ERROR, LOG_SYSTEM, kWho, "Could not send final 0CRLFCRLF before closing");
      return 23;
    }
  } else if (*total < info->content_length) {
    upnp_log_impl(LOG_LEVEL_ERROR, LOG_SYSTEM, kWho,
                  "Application ended the upload after %" PRIu64 " of the announced %" PRIu64 " bytes", *total,
                  info->content_length);
    return 23;
  }
  return 0;
}

// A playlist: the whole text, then the POST with its length, the body and
// the final answer.
uint32_t send_playlist(upload_info *info, char *buffer, uint64_t *total) {
  std::string text;
  uint32_t result = 0;
  uint32_t length = 0;
  for (;;) {
    if (upload_stopping()) return LM_NMC_GOING_DOWN;
    pull step = next_block(info, buffer, &length, &result);
    if (step == pull::fail) return result;
    if (length == 0) break;
    if (text.size() + length > LM_DMSCP_UPLOAD_MAX_PLAYLIST) {
      upnp_log_impl(LOG_LEVEL_ERROR, LOG_SYSTEM, kWho, "Playlist text above %u bytes", LM_DMSCP_UPLOAD_MAX_PLAYLIST);
      return 22;
    }
    text.append(buffer, length);
    if (step == pull::last) break;
  }
  std::string lines = info->extra_headers;
  lines += "Content-Length: " + std::to_string(text.size()) + "\r\n";
  // The length argument 0 leaves the length line to ours (also for an
  // empty text) and asks for "Connection: Close".
  // No pauses here: the text goes whole, there are no blocks to pace.
  if (HTTP_post_header(info->socket, info->url, info->mime, 0, 1, lines.c_str()) != 0) return 400;
  int status = upload_read_status(info->socket, static_cast<int>(LM_DMSCP_UPLOAD_CONTINUE_WAIT_MS));
  if (status < 0) {
    upnp_log_impl(LOG_LEVEL_ERROR, LOG_SYSTEM, kWho, "lm_dmscp_upload: Cannot read post response %s", info->url);
    return LM_NMC_NO_VALUE;
  }
  if (status >= 200) {
    // Answered before the body: a refusal is the result; an early success
    // is not taken for the body's.
    upnp_log_impl(LOG_LEVEL_ERROR, LOG_SYSTEM, kWho, "Upload failed with response %d", status);
    return status < 400 ? 24u : static_cast<uint32_t>(status);
  }
  if (!text.empty() && !http_send_all(info->socket, text.data(), text.size())) {
    upnp_log_impl(LOG_LEVEL_ERROR, LOG_SYSTEM, kWho, "Could not send data.");
    return 23;
  }
  *total = text.size();
  return final_answer(info->socket);
}

}  // namespace

void uploadToServer(upload_info *info) {
  uint32_t result = 0;
  uint64_t total = 0;
  char *buffer = nullptr;
  if (info->socket < 0) {
    result = LM_NMC_INVALID_PARAMETER;
  } else {
    buffer = static_cast<char *>(upnp_malloc_impl(info->block_size));
    if (buffer == nullptr) {
      upnp_log_impl(LOG_LEVEL_ERROR, LOG_SYSTEM, kWho, "lm_dmscp_upload: out of memory allocating %u bytes",
                    info->block_size);
      result = LM_NMC_OUT_OF_MEMORY;
    }
  }
  if (buffer != nullptr) {
    upnp_log_impl(LOG_LEVEL_INFO, LOG_SYSTEM, kWho,
                  "Starting upload with a buffer size of %u in context %u, content length is %" PRIu64,
                  info->block_size, info->context, info->content_length);
    try {
      if (info->playlist) {
        result = send_playlist(info, buffer, &total);
      } else {
        result = send_body(info, buffer, &total);
        if (result == 0) result = final_answer(info->socket);
      }
    } catch (...) {
      result = LM_NMC_OUT_OF_MEMORY;
    }
    if (result == 0)
      upnp_log_impl(LOG_LEVEL_INFO, LOG_HTTP, kWho, "lm_dmscp_upload: Uploaded %" PRIu64 " bytes", total);
  }
  upnp_free_impl(buffer);
  if (info->socket >= 0) {
    if (!info->playlist) Sleep(10);
    upload_close_socket(&info->socket);
  }
  uint32_t length = 0;
  if (!info->playlist) Sleep(10);
  info->callback(info->context, &info->user_data, result, nullptr, &length);
  upnp_log_impl(LOG_LEVEL_INFO, LOG_SYSTEM, kWho, "Leaving upload thread");
}
