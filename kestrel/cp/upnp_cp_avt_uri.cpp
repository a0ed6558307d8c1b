// Sending a URL and its metadata to a renderer: adaptation and proxying,
// reduction for the reduced-filter renderers or a compliant re-write for the
// others, then SetNextAVTransportURI, or Stop and SetAVTransportURI.
#include <cstring>

#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "base/upnp_thread.h"
#include "base/upnp_xml_write.h"
#include "cp/upnp_cp.h"
#include "cp/upnp_cp_avt_uri.h"
#include "cp/upnp_soap.h"

namespace {

// Pause between Stop and SetAVTransportURI, for renderers that are slow to
// leave their current stream.
constexpr unsigned kStopPauseMs = 50;

// The metadata text to send (plain, compliant when it could be written so),
// or none when there is none. `reduce` reduces it for the URL to play.
char *prepare_metadata(int index, const char *metadata, const char *play_url, bool reduce) {
  if (metadata == nullptr || metadata[0] == '\0') return nullptr;
  char *plain = nullptr;
  if (upnp_cp_metadata_plain(metadata, &plain) != UPNP_CP_OK) return nullptr;
  upnp_xml_node *tree = upnp_xml_parse(plain);
  if (tree == nullptr) return plain;  // sent as given
  bool rewrite = true;
  if (reduce) {
    int dropped = upnp_cp_reduce_metadata(tree, play_url);
    if (dropped < 0) {
      upnp_log_impl(LOG_LEVEL_ERROR, LOG_SYSTEM, __func__, "NMC: Internal error hanging out node for renderer %d",
                    index);
    }
    rewrite = dropped > 0;
  }
  if (rewrite) {
    upnp_string *written = upnp_xml_tree_to_compliant_string(tree, 0, 0);
    char *text = written != nullptr && written->length > 0 ? upnp_string_copy_cstring(written) : nullptr;
    upnp_string_free(written);
    if (text != nullptr) {
      upnp_free_impl(plain);
      plain = text;
    }
  }
  upnp_xml_release(tree);
  return plain;
}

}  // namespace

extern "C" int putAVTransportURI(int index, int next, const char *url, const char *metadata) {
  if (url == nullptr || url[0] == '\0') return UPNP_E_INVALID_PARAM;
  if (index == UPNP_CP_LOCAL_RENDERER_INDEX) {
    upnp_log_impl(LOG_LEVEL_WARNING, LOG_SYSTEM, __func__,
                  "upnp_set_%sAVTransportURI: the local renderer is not available in this build", next ? "Next" : "");
    return UPNP_E_NOT_FOUND;
  }
  char *adapted_url = nullptr;
  char *adapted_metadata = nullptr;
  if (upnp_cp_proxy_metadata(index, url, metadata, UPNP_CP_PROXY_AUTOMATIC, 1, &adapted_url, &adapted_metadata) ==
      UPNP_CP_OUT_OF_MEMORY) {
    upnp_log_impl(LOG_LEVEL_ERROR, LOG_SYSTEM, __func__, "Out of memory adapting metadata for renderer %d", index);
  }
  const char *play_url = adapted_url != nullptr ? adapted_url : url;
  char *sent = prepare_metadata(index, adapted_metadata != nullptr ? adapted_metadata : metadata, play_url,
                                upnp_cp_is_reduced_filter_renderer(index) != 0);
  int result;
  if (next) {
    result = upnp_set_NextAVTransportURI(index, play_url, sent);
  } else {
    // Whatever the renderer plays now is stopped first; a renderer with
    // nothing to stop may refuse, which does not matter here.
    upnp_stop(index);
    Sleep(kStopPauseMs);
    result = upnp_set_AVTransportURI(index, play_url, sent);
  }
  upnp_log_impl(result == 0 ? LOG_LEVEL_INFO : LOG_LEVEL_ERROR, LOG_SYSTEM, __func__,
                "upnp_set_%sAVTransportURI for renderer %d and URI %s: %s\nMetadata: %s", next ? "Next" : "", index,
                play_url, upnp_get_errmsg(result), sent != nullptr ? sent : "<null>");
  upnp_free_impl(sent);
  upnp_free_impl(adapted_url);
  upnp_free_impl(adapted_metadata);
  return result;
}

extern "C" int upnp_cp_put_AVTransportURI(int index, const char *url, const char *metadata) {
  return putAVTransportURI(index, 0, url, metadata);
}

extern "C" int upnp_cp_play_AVTransportURI(int index, const char *url, const char *metadata) {
  int result = putAVTransportURI(index, 0, url, metadata);
  return result == 0 ? upnp_play(index) : result;
}
