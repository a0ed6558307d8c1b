// Publishing a WPL playlist to a server: its text goes to the controller's
// playlist upload, which collects it, sends it with its length and reads the
// server's final answer.
//
// One owner for the text: the text lives in a shared record that the upload
// thread's callback and this function both hold; whoever lets go last frees
// it, whatever the upload's outcome (refused at once, refused by the server,
// ended by the controller's stop, or still running when the wait gives up).
#include <string.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <new>
#include <string>

#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "base/upnp_string.h"
#include "media/zel_media_server.h"
#include "playlist/lm_dmscp_upload.h"
#include "playlist/upnp_wpl.h"

namespace {

// Longest wait for the server's final answer to the upload.
constexpr auto kUploadWait = std::chrono::seconds(30);

struct UploadState {
  std::string text;
  size_t sent = 0;
  std::mutex lock;
  std::condition_variable done;
  bool finished = false;
  uint32_t result = 0;
};

// The upload's user data: a reference of its own to the state, let go at the
// final call.
typedef std::shared_ptr<UploadState> StateRef;

int UploadCallback(uint32_t /*context*/, void **userData, uint32_t size, char *buffer, uint32_t *length) {
  if (length != nullptr) *length = 0;
  if (userData == nullptr || *userData == nullptr) return 0;
  StateRef *ref = static_cast<StateRef *>(*userData);
  UploadState &state = **ref;
  if (buffer == nullptr) {  // the final call: size is the result
    {
      std::lock_guard<std::mutex> hold(state.lock);
      state.finished = true;
      state.result = size;
    }
    state.done.notify_all();
    delete ref;
    *userData = nullptr;
    return 0;
  }
  size_t rest = state.text.size() - state.sent;
  size_t part = std::min<size_t>(rest, size);
  memcpy(buffer, state.text.data() + state.sent, part);
  state.sent += part;
  if (length != nullptr) *length = static_cast<uint32_t>(part);
  return state.sent < state.text.size() ? 1 : 0;
}

uint32_t UploadClassOf(int wplType) {
  switch (wplType) {
    case UPNP_WPL_TYPE_MUSIC: return LM_DMSCP_PLAYLIST_MUSIC;
    case UPNP_WPL_TYPE_PICTURES: return LM_DMSCP_PLAYLIST_PICTURE;
    case UPNP_WPL_TYPE_VIDEO: return LM_DMSCP_PLAYLIST_VIDEO;
    default: return LM_DMSCP_PLAYLIST_ANY;
  }
}

}  // namespace

bool ZelMediaServer2::UploadPlaylist(uint32_t wplHandle, uint32_t size, char *out) {
  if (out != nullptr && size > 0) out[0] = '\0';
  upnp_string *xml = upnp_string_create(nullptr, 1000);
  if (xml == nullptr) return false;
  if (upnp_wpl_convert_to_xml(wplHandle, &xml) != UPNP_WPL_OK || xml == nullptr) {
    upnp_string_free(xml);
    return false;
  }
  StateRef state;
  try {
    state = std::make_shared<UploadState>();
    state->text.assign(upnp_string_get_cstring(xml), upnp_string_get_length(xml));
  } catch (...) {
    upnp_string_free(xml);
    return false;
  }
  upnp_string_free(xml);
  char *title = nullptr;
  int wplType = 0;
  if (upnp_wpl_get_playlist_properties(wplHandle, &title, &wplType, nullptr, nullptr, nullptr, nullptr, nullptr) !=
          UPNP_WPL_OK ||
      title == nullptr) {
    upnp_free_impl(title);
    return false;
  }
  StateRef *ref = new (std::nothrow) StateRef(state);
  if (ref == nullptr) {
    upnp_free_impl(title);
    return false;
  }
  // The whole text in one block when it fits the upload's cap.
  uint32_t block = static_cast<uint32_t>(std::min<size_t>(state->text.size() + 1, LM_DMSCP_UPLOAD_MAX_PLAYLIST));
  lm_nmc_result_t rc = lm_dmscp_upload_playlist(m_context, ref, title, UploadClassOf(wplType), 0, block, UploadCallback,
                                                size, out);
  upnp_free_impl(title);
  if (rc != LM_NMC_OK) {
    // No callback call comes: the reference is ours to drop.
    delete ref;
    upnp_log_impl(LOG_LEVEL_ERROR, LOG_SYSTEM, __func__, "%s refused the playlist upload (%d)", m_deviceName.c_str(),
                  static_cast<int>(rc));
    return false;
  }
  bool finished = false;
  uint32_t result = 0;
  {
    std::unique_lock<std::mutex> hold(state->lock);
    finished = state->done.wait_for(hold, kUploadWait, [&] { return state->finished; });
    result = state->result;
  }
  if (finished && result == 0) return true;
  if (!finished) {
    upnp_log_impl(LOG_LEVEL_ERROR, LOG_SYSTEM, __func__, "no final answer from %s to the playlist upload",
                  m_deviceName.c_str());
  } else {
    upnp_log_impl(LOG_LEVEL_ERROR, LOG_SYSTEM, __func__, "%s did not take the playlist (%u)", m_deviceName.c_str(),
                  result);
  }
  // The object made for the refused text is no playlist: it goes.
  if (out != nullptr && size > 0 && out[0] != '\0') {
    (void)DeletePlaylist(out);
    out[0] = '\0';
  }
  return false;
}
