// ContentDirectory object creation (CreateObject with one DIDL-Lite item)
// and the track position of playlist entries.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "base/upnp_xml_escape.h"
#include "cp/upnp_soap_internal.h"

namespace {

constexpr int kServer = UPNP_KIND_SERVER;

upnp_string *escaped(upnp_string *s, const char *text) {
  if (!s || !text) return s;
  return upnp_xml_escape_append(s, text, std::strlen(text), 0, 0, 0);
}

// The DIDL-Lite document of CreateObject's Elements (plain XML; the envelope
// escapes it).
upnp_string *create_elements(const char *container, const char *didl_attributes, const char *title,
                             const char *upnp_class, const char *protocol_info, const char *extra_item_elements,
                             const char *item_attributes, const char *res_attributes, const char *res_text,
                             int resume_upload) {
  upnp_string *s = upnp_string_create(
      "<DIDL-Lite xmlns=\"urn:schemas-upnp-org:metadata-1-0/DIDL-Lite/\" "
      "xmlns:dc=\"http://purl.org/dc/elements/1.1/\" xmlns:upnp=\"urn:schemas-upnp-org:metadata-1-0/upnp/\" "
      "xmlns:dlna=\"urn:schemas-dlna-org:metadata-1-0/\"",
      1024);
  s = upnp_string_concat(s, didl_attributes ? didl_attributes : "");
  s = upnp_string_concat(s, "><item id=\"\" parentID=\"");
  s = escaped(s, container);
  s = upnp_string_concat(s, "\" restricted=\"0\"");
  s = upnp_string_concat(s, item_attributes ? item_attributes : "");
  s = upnp_string_concat(s, "><dc:title>");
  s = escaped(s, title);
  s = upnp_string_concat(s, "</dc:title><upnp:class>");
  s = escaped(s, upnp_class);
  s = upnp_string_concat(s, "</upnp:class><res protocolInfo=\"");
  s = escaped(s, protocol_info ? protocol_info : "");
  s = upnp_string_sprintf(s, "\" dlna:resumeUpload=\"%d\"", resume_upload ? 1 : 0);
  s = upnp_string_concat(s, res_attributes ? res_attributes : "");
  s = upnp_string_concat(s, ">");
  s = escaped(s, res_text ? res_text : "");
  s = upnp_string_concat(s, "</res>");
  s = upnp_string_concat(s, extra_item_elements ? extra_item_elements : "");
  return upnp_string_concat(s, "</item></DIDL-Lite>");
}

// The text between `open` and the next `close` in a reply; none when absent.
char *between(const char *text, const char *open, const char *close) {
  const char *p = std::strstr(text, open);
  if (!p) return nullptr;
  p += std::strlen(open);
  const char *e = std::strstr(p, close);
  if (!e) return nullptr;
  char *copy = static_cast<char *>(upnp_malloc_impl(static_cast<size_t>(e - p) + 1));
  if (!copy) return nullptr;
  std::memcpy(copy, p, static_cast<size_t>(e - p));
  copy[e - p] = '\0';
  return copy;
}

}  // namespace

extern "C" int upnp_control_create_object(int index, const char *container, const char *didl_attributes,
                                          const char *title, const char *upnp_class, const char *protocol_info,
                                          const char *extra_item_elements, const char *item_attributes,
                                          const char *res_attributes, const char *res_text, int resume_upload,
                                          upnp_xml_node **result_tree, char **object_id) {
  if (result_tree) *result_tree = nullptr;
  if (object_id) *object_id = nullptr;
  if (!container || !title || !upnp_class) return UPNP_E_INVALID_PARAM;
  upnp_string *elements = create_elements(container, didl_attributes, title, upnp_class, protocol_info,
                                          extra_item_elements, item_attributes, res_attributes, res_text,
                                          resume_upload);
  if (!elements) return UPNP_E_OUT_OF_MEMORY;
  // This action's frame names the envelope namespace first.
  upnp_string *env = upnp_string_create(
      "<?xml version=\"1.0\" encoding=\"utf-8\"?><s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\" "
      "s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\"><s:Body>"
      "<u:CreateObject xmlns:u=\"urn:schemas-upnp-org:service:ContentDirectory:1\"><ContainerID>",
      elements->length * 2 + 512);
  env = escaped(env, container);
  env = upnp_string_concat(env, "</ContainerID><Elements>");
  env = escaped(env, upnp_string_get_cstring(elements));
  env = upnp_string_concat(env, "</Elements></u:CreateObject></s:Body></s:Envelope>");
  upnp_string_free(elements);
  upnp_string *reply = nullptr;
  int rc = invokeSoapAction2(index, kServer, UPNP_SERVICE_CDS, 0, "CreateObject", env, &reply);
  if (rc != 0) {
    upnp_log_impl(LOG_LEVEL_WARNING, LOG_SYSTEM, __func__, "upnp_control_create_object: Server reported error %d", rc);
    upnp_string_free(reply);
    return rc;
  }
  const char *text = upnp_string_get_cstring(reply);
  char *id = between(text, "<ObjectID>", "<");
  char *result = between(text, "<Result>", "</Result>");
  upnp_xml_node *tree = result ? upnp_xml_parse(upnp_xml_unescape(result)) : nullptr;
  if (!id) {
    upnp_log_impl(LOG_LEVEL_WARNING, LOG_SYSTEM, __func__, "upnp_control_create_object: No ObjectID");
    rc = UPNP_E_BAD_RESPONSE;
  } else if (!tree) {
    upnp_log_impl(LOG_LEVEL_WARNING, LOG_SYSTEM, __func__, "upnp_control_create_object: No or invalid result");
    rc = UPNP_E_BAD_RESPONSE;
  }
  if (rc == 0 && object_id) {
    *object_id = id;
    id = nullptr;
  }
  if (rc == 0 && result_tree) {
    *result_tree = tree;
    tree = nullptr;
  }
  upnp_free_impl(id);
  upnp_free_impl(result);
  upnp_xml_release(tree);
  upnp_string_free(reply);
  return rc;
}

extern "C" int upnp_control_create_item(int index, const char *container, const char *title, const char *upnp_class,
                                        const char *protocol_info, const char *res_text, int resume_upload,
                                        upnp_xml_node **result_tree, char **object_id) {
  return upnp_control_create_object(index, container, nullptr, title, upnp_class, protocol_info, nullptr, nullptr,
                                    nullptr, res_text, resume_upload, result_tree, object_id);
}

extern "C" int upnp_cp_create_playlist(int index, const char *title, const char *container,
                                       upnp_xml_node **result_tree, char **object_id) {
  return upnp_control_create_item(index, container, title, "object.container.playlistContainer", "", nullptr, 0,
                                  result_tree, object_id);
}

extern "C" int upnp_cp_get_playlist_item_position(int index, const char *id, unsigned *position) {
  if (position) *position = 0;
  char *number = nullptr;
  int rc = upnp_cp_get_object_property(index, id, "upnp:originalTrackNumber", 0, &number);
  if (rc == 0) {
    long n = number ? std::strtol(number, nullptr, 10) : 0;
    if (position) *position = n < 1 ? 0u : static_cast<unsigned>(n);
  }
  upnp_free_impl(number);
  return rc;
}

extern "C" int updatePosition(int index, const char *id, unsigned old_position, unsigned new_position) {
  upnp_log_impl(LOG_LEVEL_DEBUG, LOG_SYSTEM, __func__, "updatePosition: Changing track number from %u to %u",
                old_position, new_position);
  if (old_position == new_position) return 0;
  char current[96] = "";
  char replacement[96];
  if (old_position)
    std::snprintf(current, sizeof current, "<upnp:originalTrackNumber>%u</upnp:originalTrackNumber>", old_position);
  std::snprintf(replacement, sizeof replacement, "<upnp:originalTrackNumber>%u</upnp:originalTrackNumber>",
                new_position);
  return upnp_control_update_object(index, id, current, replacement);
}
