// The upload command: the request body staged in a private file, handed to
// the upload into the media server block by block through
// rpc_upload_callback, and the record's status and cancel operations. One
// upload runs at a time; it is claimed before the body is read and released
// by the transfer's final callback call (or at once when it never starts).
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cinttypes>
#include <cstdio>
#include <mutex>
#include <string>

#include "base/upnp_fd.h"
#include "base/upnp_log.h"
#include "http/http_client.h"
#include "webapi/webapi_controller.h"
#include "webapi/webapi_internal.h"
#include "webapi/webapi_upload_folder.h"
#include "webapi/webapi_upload_link.h"

namespace {

struct uploadInfoStruct {
  FILE *file = nullptr;
  bool in_progress = false;
  bool cancel = false;
  std::string local_name;
  uint64_t sent = 0;
  uint64_t total = 0;
};

// The record is shared by the requests (start, stop, getstatus) and the
// transfer thread's callback: every field under g_upload_mutex.
std::mutex g_upload_mutex;
uploadInfoStruct g_upload;
uploadInfoStruct *const uploadInfo = &g_upload;

std::atomic<int> g_max_upload_mb{1024};

// Closes and deletes the local copy and ends "in progress". Caller holds
// the lock.
void release_record(uploadInfoStruct *record) {
  if (record->file) std::fclose(record->file);
  if (!record->local_name.empty()) unlink(record->local_name.c_str());
  *record = uploadInfoStruct();
}

const char *protocol_info_for(const std::string &title) {
  size_t dot = title.rfind('.');
  std::string extension = dot == std::string::npos ? std::string() : title.substr(dot);
  for (char &c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (extension.find("mp3") != std::string::npos) return "*:*:audio/mpeg:DLNA.ORG_PN=MP3";
  if (extension.find("wma") != std::string::npos) return "*:*:audio/x-ms-wma:DLNA.ORG_PN=WMABASE";
  if (extension.find("pcm") != std::string::npos || extension.find("wav") != std::string::npos) {
    return "*:*:audio/L16;rate=44100;channels=2:DLNA.ORG_PN=LPCM";
  }
  if (extension == ".jpg" || extension == ".jpeg") return "*:*:image/jpeg:DLNA.ORG_PN=JPEG_LRG";
  if (extension == ".mpg" || extension == ".mpeg") return "*:*:video/mpeg:DLNA.ORG_PN=MPEG_PS_NTSC";
  return "*:*:*:*";
}

// The title: the base name after the last "\" or "/".
std::string title_of(const std::string &file) {
  size_t cut = file.find_last_of("\\/");
  return cut == std::string::npos ? file : file.substr(cut + 1);
}

int start(webapi_call &call) {
  {
    std::lock_guard<std::mutex> hold(g_upload_mutex);
    if (uploadInfo->in_progress) return send_error_message(call, WEBAPI_UPLOAD_BUSY);
    uploadInfo->in_progress = true;  // claimed before anything is read
  }
  auto give_up = [&call](int code) {
    {
      std::lock_guard<std::mutex> hold(g_upload_mutex);
      release_record(uploadInfo);
    }
    call.connection->close = 1;  // a body left unread cannot be framed
    return send_error_message(call, code);
  };
  std::string server;
  std::string file;
  if (!get_param(call, "server", &server) || !get_param(call, "file", &file) ||
      call.connection->request_type != 4) {
    return give_up(WEBAPI_INVALID_ARGS);
  }
  std::string title = title_of(file);
  if (title.empty() || title == "." || title == "..") return give_up(WEBAPI_INVALID_ARGS);
  std::string folder = webapi_upload_folder();
  std::string path = folder.empty() ? std::string() : webapi_upload_new_file(folder);
  if (path.empty()) return give_up(WEBAPI_INTERNAL);
  {
    std::lock_guard<std::mutex> hold(g_upload_mutex);
    uploadInfo->local_name = path;
  }
  int64_t received = 0;
  if (!HTTP_receive_file(call.connection->socket, call.connection->header, path.c_str(), g_max_upload_mb.load(), 0,
                         &received)) {
    upnp_log_impl(LOG_LEVEL_WARNING, LOG_HTTP, "upload", "upload body not received (%lld bytes came)",
                  static_cast<long long>(received));
    int64_t announced = HTTP_parse_header_size(call.connection->header);
    bool too_large = announced > static_cast<int64_t>(g_max_upload_mb.load()) * 1024 * 1024 ||
                     received >= static_cast<int64_t>(g_max_upload_mb.load()) * 1024 * 1024;
    return give_up(too_large ? WEBAPI_BODY_TOO_LARGE : WEBAPI_INVALID_ARGS);
  }
  struct stat st;
  FILE *copy = upnp_fopen(path.c_str(), "rb");
  if (!copy || fstat(fileno(copy), &st) != 0) {
    if (copy) std::fclose(copy);
    return give_up(WEBAPI_INTERNAL);
  }
  {
    std::lock_guard<std::mutex> hold(g_upload_mutex);
    uploadInfo->file = copy;
    uploadInfo->sent = 0;
    uploadInfo->total = static_cast<uint64_t>(st.st_size);
  }
  const webapi_controller *ctl = webapi_controller_get();
  uint32_t context = 0;
  if (ctl->dmscp_create_context(&context) != LM_NMC_OK) return give_up(WEBAPI_CREATE_CONTEXT);
  if (ctl->dmscp_go_bookmark(context, server.c_str()) != LM_NMC_OK) {
    ctl->dmscp_delete_context(context);
    return give_up(WEBAPI_BOOKMARK_NOT_FOUND);
  }
  char bookmark[1024] = "";
  lm_nmc_result_t r = webapi_dmscp_upload(context, uploadInfo, title.c_str(), protocol_info_for(title), 0,
                                          rpc_upload_callback, sizeof bookmark, bookmark,
                                          static_cast<uint64_t>(st.st_size));
  ctl->dmscp_delete_context(context);
  if (r != LM_NMC_OK) return give_up(WEBAPI_INTERNAL);
  bookmark[sizeof bookmark - 1] = '\0';
  return send_valid(call, bookmark);
}

}  // namespace

int rpc_upload_callback(uint32_t, void **user_data, uint32_t size, char *buffer, uint32_t *length) {
  if (!user_data || !*user_data || !length) return 0;
  auto *record = static_cast<uploadInfoStruct *>(*user_data);
  std::lock_guard<std::mutex> hold(g_upload_mutex);
  if (!buffer) {
    // The final call, after success or failure alike.
    *length = 0;
    release_record(record);
    return 0;
  }
  if (record->cancel || !record->file) {
    *length = WEBAPI_UPLOAD_ABORT;
    return 0;
  }
  if (record->sent >= record->total) {
    *length = 0;
    return 0;
  }
  uint64_t want = record->total - record->sent;
  if (want > size) want = size;
  size_t n = std::fread(buffer, 1, static_cast<size_t>(want), record->file);
  if (n == 0) {
    *length = WEBAPI_UPLOAD_ABORT;  // the copy shrank or cannot be read
    return 0;
  }
  record->sent += n;
  *length = static_cast<uint32_t>(n);
  return 1;
}

void webapi_set_max_upload_mb(int megabytes) { g_max_upload_mb.store(megabytes > 0 ? megabytes : 1); }

int webapi_cmd_upload(webapi_call &call) {
  std::string operation;
  if (!get_param(call, "operation", &operation)) return send_error_message(call, WEBAPI_INVALID_ARGS);
  if (operation == "start") return start(call);
  if (operation == "getstatus") {
    char text[64] = "0/0";
    std::lock_guard<std::mutex> hold(g_upload_mutex);
    if (uploadInfo->in_progress) {
      std::snprintf(text, sizeof text, "%" PRIu64 "/%" PRIu64, uploadInfo->sent, uploadInfo->total);
    }
    return send_valid(call, text);
  }
  if (operation == "stop") {
    std::lock_guard<std::mutex> hold(g_upload_mutex);
    if (uploadInfo->in_progress) uploadInfo->cancel = true;
  }
  return send_valid(call, "");
}
