// AVTransport actions of renderers.
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "base/upnp_xml_write.h"
#include "cp/upnp_soap_internal.h"

namespace {

constexpr int kRenderer = UPNP_KIND_RENDERER;
constexpr int UPNP_MAX_LOCAL_ADDRESSES = 8;

int simple(int index, const char *action) {
  upnp_soap_arg args[] = {{"InstanceID", "0"}};
  return upnp_soap_call(index, kRenderer, UPNP_SERVICE_AVT, 0, action, args, 1, nullptr);
}

// Calls an action with InstanceID only and hands back its parsed reply.
int query(int index, const char *action, unsigned broken_bit, upnp_xml_node **tree) {
  *tree = nullptr;
  upnp_soap_arg args[] = {{"InstanceID", "0"}};
  upnp_string *reply = nullptr;
  int rc = upnp_soap_call(index, kRenderer, UPNP_SERVICE_AVT, broken_bit, action, args, 1, &reply);
  if (rc == 0) {
    *tree = upnp_xml_parse(upnp_string_get_cstring(reply));
    if (!*tree) rc = UPNP_E_BAD_RESPONSE;
  }
  upnp_string_free(reply);
  return rc;
}

void free_out(char **p) {
  if (p && *p) {
    upnp_free_impl(*p);
    *p = nullptr;
  }
}

int set_uri(int index, const char *action, const char *uri_name, const char *meta_name, const char *uri,
            const char *metadata) {
  if (!uri) return UPNP_E_INVALID_PARAM;
  // A URI naming this machine by its address on another network than the
  // renderer's is rewritten to the address the renderer can reach.
  char side[64];
  upnp_string *new_uri = nullptr, *new_meta = nullptr;
  if (upnp_soap_renderer_side_address(index, side, sizeof side) == 0 && side[0]) {
    char local[UPNP_MAX_LOCAL_ADDRESSES][UPNP_SOAP_ADDRESS_SIZE];
    const char *list[UPNP_MAX_LOCAL_ADDRESSES];
    int n = upnp_soap_local_addresses(local, UPNP_MAX_LOCAL_ADDRESSES);
    for (int i = 0; i < n; ++i) list[i] = local[i];
    int t = upnp_soap_translate_addresses(uri, metadata, list, static_cast<size_t>(n), side, &new_uri, &new_meta);
    if (t < 0) return UPNP_E_OUT_OF_MEMORY;
    if (t > 0) {
      upnp_log_impl(LOG_LEVEL_INFO, LOG_SYSTEM, __func__, "upnp_set_%sAVTransportURI: Translating IP %s to %s for renderer %d",
                    std::strcmp(action, "SetNextAVTransportURI") == 0 ? "Next" : "", uri, new_uri->buffer, index);
      uri = new_uri->buffer;
      if (new_meta) metadata = new_meta->buffer;
    }
  }
  upnp_soap_arg args[] = {{"InstanceID", "0"}, {uri_name, uri}, {meta_name, metadata ? metadata : ""}};
  int rc = upnp_soap_call(index, kRenderer, UPNP_SERVICE_AVT, 0, action, args, 3, nullptr);
  upnp_string_free(new_uri);
  upnp_string_free(new_meta);
  return rc;
}

}  // namespace

extern "C" int upnp_play(int index) {
  upnp_soap_arg args[] = {{"InstanceID", "0"}, {"Speed", "1"}};
  return upnp_soap_call(index, kRenderer, UPNP_SERVICE_AVT, 0, "Play", args, 2, nullptr);
}
extern "C" int upnp_pause(int index) { return simple(index, "Pause"); }
extern "C" int upnp_stop(int index) { return simple(index, "Stop"); }
extern "C" int upnp_next(int index) { return simple(index, "Next"); }
extern "C" int upnp_previous(int index) { return simple(index, "Previous"); }

extern "C" int upnp_control_seek(int index, unsigned unit, const char *target) {
  if (unit > UPNP_SEEK_X_DLNA_REL_BYTE || !target || !*target) return UPNP_E_INVALID_PARAM;
  upnp_soap_arg args[] = {{"InstanceID", "0"}, {"Unit", upnp_seek_unit_text(unit)}, {"Target", target}};
  return upnp_soap_call(index, kRenderer, UPNP_SERVICE_AVT, 0, "Seek", args, 3, nullptr);
}

extern "C" int upnp_control_seek_byte(int index, uint64_t bytes) {
  char target[32];
  std::snprintf(target, sizeof target, "%" PRIu64, bytes);
  return upnp_control_seek(index, UPNP_SEEK_X_DLNA_REL_BYTE, target);
}

extern "C" int upnp_control_seek_count(int index, int absolute, uint32_t count) {
  char target[16];
  std::snprintf(target, sizeof target, "%u", count);
  return upnp_control_seek(index, absolute ? UPNP_SEEK_ABS_COUNT : UPNP_SEEK_REL_COUNT, target);
}

extern "C" int upnp_control_seek_time(int index, int absolute, uint64_t ms) {
  uint64_t seconds = ms / 1000;
  char target[40];
  std::snprintf(target, sizeof target, "%02" PRIu64 ":%02u:%02u", seconds / 3600,
                static_cast<unsigned>(seconds / 60 % 60), static_cast<unsigned>(seconds % 60));
  return upnp_control_seek(index, absolute ? UPNP_SEEK_ABS_TIME : UPNP_SEEK_REL_TIME, target);
}

extern "C" int upnp_set_PlayMode(int index, unsigned mode) {
  const char *text = upnp_play_mode_text(mode);
  if (!text) return UPNP_E_INVALID_PARAM;
  upnp_soap_arg args[] = {{"InstanceID", "0"}, {"NewPlayMode", text}};
  return upnp_soap_call(index, kRenderer, UPNP_SERVICE_AVT, 0, "SetPlayMode", args, 2, nullptr);
}

extern "C" int upnp_set_AVTransportURI(int index, const char *uri, const char *metadata) {
  return set_uri(index, "SetAVTransportURI", "CurrentURI", "CurrentURIMetaData", uri, metadata);
}

extern "C" int upnp_set_NextAVTransportURI(int index, const char *uri, const char *metadata) {
  return set_uri(index, "SetNextAVTransportURI", "NextURI", "NextURIMetaData", uri, metadata);
}

extern "C" int upnp_set_CurrentTrackURI(int index, const char *uri) {
  return upnp_set_AVTransportURI(index, uri, nullptr);
}

extern "C" int upnp_get_PositionInfo(int index, int *track, char **track_duration, char **track_metadata,
                                     char **track_uri, char **rel_time, char **abs_time, int *rel_count,
                                     int *abs_count) {
  if (track) *track = 0;
  if (rel_count) *rel_count = 0;
  if (abs_count) *abs_count = 0;
  char **texts[] = {track_duration, track_metadata, track_uri, rel_time, abs_time};
  const char *names[] = {"TrackDuration", "TrackMetaData", "TrackURI", "RelTime", "AbsTime"};
  for (char **t : texts)
    if (t) *t = nullptr;
  upnp_xml_node *tree = nullptr;
  int rc = query(index, "GetPositionInfo", UPNP_BROKEN_GET_POSITION_INFO, &tree);
  if (rc != 0) return rc;
  for (size_t i = 0; i < 5 && rc == 0; ++i) rc = upnp_soap_out_copy(tree, names[i], texts[i], 1);
  if (rc == 0) {
    if (track) *track = upnp_soap_out_int(tree, "Track");
    if (rel_count) *rel_count = upnp_soap_out_int(tree, "RelCount");
    if (abs_count) *abs_count = upnp_soap_out_int(tree, "AbsCount");
  } else {
    for (char **t : texts) free_out(t);
  }
  upnp_xml_release(tree);
  return rc;
}

extern "C" int upnp_get_TransportInfo(int index, char **state, char **status, char **speed) {
  char **texts[] = {state, status, speed};
  const char *names[] = {"CurrentTransportState", "CurrentTransportStatus", "CurrentSpeed"};
  for (char **t : texts)
    if (t) *t = nullptr;
  upnp_xml_node *tree = nullptr;
  int rc = query(index, "GetTransportInfo", 0, &tree);
  if (rc != 0) return rc;
  for (size_t i = 0; i < 3 && rc == 0; ++i) rc = upnp_soap_out_copy(tree, names[i], texts[i], 1);
  if (rc != 0)
    for (char **t : texts) free_out(t);
  upnp_xml_release(tree);
  return rc;
}

extern "C" int upnp_get_MediaInfo(int index, int *nr_tracks, char **media_duration, char **current_uri,
                                  char **current_metadata, char **next_uri, char **next_metadata,
                                  char **play_medium, char **record_medium, char **write_status) {
  if (nr_tracks) *nr_tracks = 0;
  char **texts[] = {media_duration, current_uri,  current_metadata, next_uri,
                    next_metadata,  play_medium, record_medium,    write_status};
  // "NextURIMetadata" as the renderers of the field write it.
  const char *names[] = {"MediaDuration",   "CurrentURI",  "CurrentURIMetaData", "NextURI",
                         "NextURIMetadata", "PlayMedium", "RecordMedium",       "WriteStatus"};
  for (char **t : texts)
    if (t) *t = nullptr;
  upnp_xml_node *tree = nullptr;
  int rc = query(index, "GetMediaInfo", UPNP_BROKEN_GET_MEDIA_INFO, &tree);
  if (rc != 0) return rc;
  for (size_t i = 0; i < 8 && rc == 0; ++i) rc = upnp_soap_out_copy(tree, names[i], texts[i], 1);
  if (rc == 0) {
    if (nr_tracks) *nr_tracks = upnp_soap_out_int(tree, "NrTracks");
  } else {
    for (char **t : texts) free_out(t);
  }
  upnp_xml_release(tree);
  return rc;
}

extern "C" int upnp_get_current_transport_actions(int index, char **actions) {
  if (actions) *actions = nullptr;
  upnp_xml_node *tree = nullptr;
  int rc = query(index, "GetCurrentTransportActions", 0, &tree);
  if (rc == 0) rc = upnp_soap_out_copy(tree, "Actions", actions, 1);
  upnp_xml_release(tree);
  return rc;
}

extern "C" int upnp_control_getDlnaBytePositionInfo(int index, uint64_t *rel, uint64_t *abs, uint64_t *size) {
  if (rel) *rel = 0;
  if (abs) *abs = 0;
  if (size) *size = 0;
  upnp_xml_node *tree = nullptr;
  int rc = query(index, "X_DLNA_GetBytePositionInfo", 0, &tree);
  if (rc != 0) return rc;
  upnp_xml_node *response = upnp_xml_find_tag(tree, "X_DLNA_GetBytePositionInfoResponse");
  if (!response) {
    rc = UPNP_E_BAD_RESPONSE;
  } else {
    if (rel) *rel = upnp_xml_find_tag_value_uint64(response->children, "RelByte", 0);
    if (abs) *abs = upnp_xml_find_tag_value_uint64(response->children, "AbsByte", 0);
    if (size) *size = upnp_xml_find_tag_value_uint64(response->children, "TrackSize", 0);
  }
  upnp_xml_release(tree);
  return rc;
}

extern "C" int upnp_getduration(int index, char **out) {
  return upnp_get_PositionInfo(index, nullptr, out, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
}
extern "C" int upnp_getposition(int index, char **out) {
  return upnp_get_PositionInfo(index, nullptr, nullptr, nullptr, nullptr, out, nullptr, nullptr, nullptr);
}
extern "C" int upnp_get_CurrentTrackURI(int index, char **out) {
  return upnp_get_PositionInfo(index, nullptr, nullptr, nullptr, out, nullptr, nullptr, nullptr, nullptr);
}
extern "C" int upnp_get_AVTransportURI(int index, char **out) {
  return upnp_get_MediaInfo(index, nullptr, nullptr, out, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
}
extern "C" int upnp_gettransportinfo(int index, char **state) {
  return upnp_get_TransportInfo(index, state, nullptr, nullptr);
}

extern "C" int upnp_gettransportstate(int index) {
  char *state = nullptr;
  int rc = upnp_gettransportinfo(index, &state);
  int result = rc == 0 ? upnp_transport_state_index(state) : -1;
  upnp_free_impl(state);
  return result;
}

namespace {

struct seek_modes {
  uint32_t size;
  char *buffer;
};

int collect_seek_modes(const upnp_xml_node *scpd, void *context) {
  seek_modes *m = static_cast<seek_modes *>(context);
  upnp_xml_node *vars = upnp_xml_find_tag(const_cast<upnp_xml_node *>(scpd), "serviceStateTable");
  for (upnp_xml_node *v = vars ? vars->children : nullptr; v; v = v->next) {
    const char *name = upnp_xml_find_tag_value(v->children, "name");
    if (!name || std::strcmp(name, "A_ARG_TYPE_SeekMode") != 0) continue;
    upnp_xml_node *list = upnp_xml_find_tag(v->children, "allowedValueList");
    size_t used = 0;
    for (upnp_xml_node *a = list ? list->children : nullptr; a; a = a->next) {
      if (!a->name || std::strcmp(a->name, "allowedValue") != 0 || !a->value) continue;
      size_t n = std::strlen(a->value);
      size_t need = used + (used ? 1 : 0) + n;
      if (need + 1 > m->size) return UPNP_E_BUFFER_TOO_SMALL;
      if (used) m->buffer[used++] = ',';
      std::memcpy(m->buffer + used, a->value, n);
      used += n;
      m->buffer[used] = '\0';
    }
    break;
  }
  return 0;
}

}  // namespace

extern "C" int upnp_control_getSupportedSeekModes(int index, uint32_t size, char *buffer) {
  if (!buffer || size == 0) return UPNP_E_INVALID_PARAM;
  buffer[0] = '\0';
  seek_modes m{size, buffer};
  int rc = upnp_soap_with_scpd(index, kRenderer, UPNP_SERVICE_AVT, collect_seek_modes, &m);
  if (rc != 0) buffer[0] = '\0';
  return rc;
}

extern "C" char *upnp_control_create_AVTransportURIMetaData(const upnp_xml_node *item) {
  if (!item) return nullptr;
  upnp_string *written = upnp_xml_tree_to_string_valid(item, 0, 1);
  if (!written) return nullptr;
  char *result = nullptr;
  if (std::strchr(upnp_string_get_cstring(written), '<')) {
    upnp_string *s = upnp_string_create(
        "<DIDL-Lite xmlns=\"urn:schemas-upnp-org:metadata-1-0/DIDL-Lite\" "
        "xmlns:dc=\"http://purl.org/dc/elements/1.1/\" "
        "xmlns:upnp=\"urn:schemas-upnp-org:metadata-1-0/upnp/\">",
        written->length + 256);
    s = upnp_string_concat_string(s, written);
    s = upnp_string_concat(s, "</DIDL-Lite>");
    result = upnp_string_copy_cstring(s);
    upnp_string_free(s);
  }
  upnp_string_free(written);
  return result;
}
