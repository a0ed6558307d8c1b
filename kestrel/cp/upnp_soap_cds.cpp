// ContentDirectory actions of servers, ConnectionManager's protocol
// information of servers and renderers, and the RemoteUIServer's listing.
#include <cstdio>
#include <cstring>

#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "base/upnp_xml_escape.h"
#include "cp/upnp_cp_res.h"
#include "cp/upnp_soap_internal.h"

namespace {

constexpr int kServer = UPNP_KIND_SERVER;

int call_parsed(int index, int kind, unsigned service, const char *action, const upnp_soap_arg *args,
                size_t count, upnp_xml_node **tree) {
  *tree = nullptr;
  upnp_string *reply = nullptr;
  int rc = upnp_soap_call(index, kind, service, 0, action, args, count, &reply);
  if (rc == 0) {
    *tree = upnp_xml_parse(upnp_string_get_cstring(reply));
    if (!*tree) rc = UPNP_E_BAD_RESPONSE;
  }
  upnp_string_free(reply);
  return rc;
}

// One text out-argument that must be present.
int call_text(int index, int kind, unsigned service, const char *action, const upnp_soap_arg *args,
              size_t count, const char *out_name, char **out) {
  if (out) *out = nullptr;
  upnp_xml_node *tree = nullptr;
  int rc = call_parsed(index, kind, service, action, args, count, &tree);
  if (rc == 0) {
    char *value = nullptr;
    rc = upnp_soap_out_copy(tree, out_name, &value, 0);
    if (out) *out = value;
    else upnp_free_impl(value);
  }
  upnp_xml_release(tree);
  return rc;
}

// Browse and Search hand back the whole reply, parsed from its first element
// after the declaration.
int browse_like(int index, const char *action, const upnp_soap_arg *args, size_t count, upnp_xml_node **tree) {
  if (tree) *tree = nullptr;
  upnp_string *reply = nullptr;
  int rc = upnp_soap_call(index, kServer, UPNP_SERVICE_CDS, 0, action, args, count, &reply);
  if (rc == 0 && tree) {
    const char *text = upnp_string_get_cstring(reply);
    const char *start = *text ? std::strchr(text + 1, '<') : nullptr;
    *tree = start ? upnp_xml_parse(start) : nullptr;
    if (!*tree) rc = UPNP_E_BAD_RESPONSE;
  }
  upnp_string_free(reply);
  return rc;
}

void decimal(char (&buffer)[16], uint32_t n) { std::snprintf(buffer, sizeof buffer, "%u", n); }

}  // namespace

extern "C" int upnp_control_browse(int index, const char *id, const char *filter, uint32_t start, uint32_t count,
                                   const char *sort, upnp_xml_node **tree) {
  if (tree) *tree = nullptr;
  if (!id) return UPNP_E_INVALID_PARAM;
  char s[16], c[16];
  decimal(s, start);
  decimal(c, count);
  upnp_soap_arg args[] = {{"ObjectID", id},      {"BrowseFlag", "BrowseDirectChildren"},
                          {"Filter", filter ? filter : "*"}, {"StartingIndex", s},
                          {"RequestedCount", c}, {"SortCriteria", sort ? sort : ""}};
  return browse_like(index, "Browse", args, 6, tree);
}

extern "C" int upnp_control_browse_metadata(int index, const char *id, const char *filter, const char *sort,
                                            upnp_xml_node **tree) {
  if (tree) *tree = nullptr;
  if (!id) return UPNP_E_INVALID_PARAM;
  upnp_soap_arg args[] = {{"ObjectID", id},       {"BrowseFlag", "BrowseMetadata"},
                          {"Filter", filter ? filter : "*"}, {"StartingIndex", "0"},
                          {"RequestedCount", "1"}, {"SortCriteria", sort ? sort : ""}};
  return browse_like(index, "Browse", args, 6, tree);
}

extern "C" int upnp_control_search(int index, const char *container, const char *filter, uint32_t start,
                                   uint32_t count, const char *sort, const char *criteria, upnp_xml_node **tree) {
  if (tree) *tree = nullptr;
  if (!container) return UPNP_E_INVALID_PARAM;
  char s[16], c[16];
  decimal(s, start);
  decimal(c, count);
  upnp_soap_arg args[] = {{"ContainerID", container},          {"SearchCriteria", criteria ? criteria : "*"},
                          {"Filter", filter ? filter : "*"},   {"StartingIndex", s},
                          {"RequestedCount", c},               {"SortCriteria", sort ? sort : ""}};
  return browse_like(index, "Search", args, 6, tree);
}

extern "C" int upnp_control_update_object(int index, const char *id, const char *current, const char *replacement) {
  if (!id) return UPNP_E_INVALID_PARAM;
  upnp_soap_arg args[] = {{"ObjectID", id},
                          {"CurrentTagValue", current ? current : ""},
                          {"NewTagValue", replacement ? replacement : ""}};
  return upnp_soap_call(index, kServer, UPNP_SERVICE_CDS, 0, "UpdateObject", args, 3, nullptr);
}

extern "C" int upnp_control_destroy_object(int index, const char *id) {
  if (!id) return UPNP_E_INVALID_PARAM;
  upnp_soap_arg args[] = {{"ObjectID", id}};
  return upnp_soap_call(index, kServer, UPNP_SERVICE_CDS, 0, "DestroyObject", args, 1, nullptr);
}

extern "C" int upnp_control_create_reference(int index, const char *container, const char *id, char **new_id) {
  if (new_id) *new_id = nullptr;
  if (!container || !id) return UPNP_E_INVALID_PARAM;
  upnp_soap_arg args[] = {{"ContainerID", container}, {"ObjectID", id}};
  int rc = call_text(index, kServer, UPNP_SERVICE_CDS, "CreateReference", args, 2, "NewID", new_id);
  if (rc == UPNP_E_BAD_RESPONSE) {
    upnp_log_impl(LOG_LEVEL_WARNING, LOG_SYSTEM, __func__, "upnp_control_create_reference: No ObjectID");
  } else if (rc > 99) {
    upnp_log_impl(LOG_LEVEL_WARNING, LOG_SYSTEM, __func__, "upnp_control_create_reference: Server reported error %d",
                  rc);
  }
  return rc;
}

extern "C" int upnp_cp_get_SearchCapabilities(int index, char **out) {
  return call_text(index, kServer, UPNP_SERVICE_CDS, "GetSearchCapabilities", nullptr, 0, "SearchCaps", out);
}

extern "C" int upnp_cp_get_SortCapabilities(int index, char **out) {
  return call_text(index, kServer, UPNP_SERVICE_CDS, "GetSortCapabilities", nullptr, 0, "SortCaps", out);
}

extern "C" int upnp_cp_get_SystemUpdateID(int index, unsigned *out) {
  if (out) *out = 0;
  upnp_xml_node *tree = nullptr;
  int rc = call_parsed(index, kServer, UPNP_SERVICE_CDS, "GetSystemUpdateID", nullptr, 0, &tree);
  if (rc == 0) rc = upnp_soap_out_digit(tree, "Id", out);
  upnp_xml_release(tree);
  return rc;
}

extern "C" int upnp_get_NonCachedProtocolInfo(int index, int kind, char **out) {
  if (out) *out = nullptr;
  if (kind != UPNP_KIND_SERVER && kind != UPNP_KIND_RENDERER) return UPNP_E_INVALID_PARAM;
  char *list = nullptr;
  int rc = call_text(index, kind, UPNP_SERVICE_CM, "GetProtocolInfo", nullptr, 0,
                     kind == UPNP_KIND_RENDERER ? "Sink" : "Source", &list);
  // A renderer's list gets the entries it plays without reporting them.
  char *extra = nullptr;
  if (rc == 0 && kind == UPNP_KIND_RENDERER && upnp_cp_get_extra_ProtocolInfo(index, list, &extra) == 0) {
    size_t length = std::strlen(list ? list : "");
    char *joined = static_cast<char *>(upnp_malloc_impl(length + std::strlen(extra) + 2));
    if (joined) {
      std::snprintf(joined, length + std::strlen(extra) + 2, "%s,%s", list ? list : "", extra);
      upnp_free_impl(list);
      list = joined;
    }
    upnp_free_impl(extra);
  }
  if (out) *out = list;
  else upnp_free_impl(list);
  return rc;
}

extern "C" int upnp_get_compatible_uis(int index, const char *profile, const char *filter, char **out) {
  if (out) *out = nullptr;
  upnp_soap_arg args[] = {{"InputDeviceProfile", profile ? profile : ""}, {"UIFilter", filter ? filter : ""}};
  char *listing = nullptr;
  int rc = call_text(index, UPNP_KIND_RUIS, UPNP_SERVICE_RUIS, "GetCompatibleUIs", args, 2, "UIListing", &listing);
  if (rc == 0 && (!listing || !*listing)) rc = UPNP_E_BAD_RESPONSE;
  if (rc == 0 && out) *out = listing;
  else upnp_free_impl(listing);
  return rc;
}

extern "C" int upnp_control_rename_object(int index, const char *id, const char *title) {
  if (!id || !title) return UPNP_E_INVALID_PARAM;
  upnp_xml_node *tree = nullptr;
  int rc = upnp_control_browse_metadata(index, id, "dc:title", nullptr, &tree);
  if (rc != 0) return rc;
  const char *result = upnp_soap_out_text(tree, "Result");
  upnp_xml_node *didl = result ? upnp_xml_parse(result) : nullptr;
  const char *old_title = didl ? upnp_xml_find_tag_value(didl, "dc:title") : nullptr;
  upnp_string *current = upnp_string_create("<dc:title>", 256);
  if (current && old_title) current = upnp_xml_escape_append(current, old_title, std::strlen(old_title), 0, 0, 0);
  current = upnp_string_concat(current, "</dc:title>");
  upnp_string *replacement = upnp_string_create("<dc:title>", 256);
  if (replacement) replacement = upnp_xml_escape_append(replacement, title, std::strlen(title), 0, 0, 0);
  replacement = upnp_string_concat(replacement, "</dc:title>");
  if (!current || !replacement) {
    upnp_log_impl(LOG_LEVEL_ERROR, LOG_SYSTEM, __func__, "upnp_cp_rename_object: Out of memory");
    rc = UPNP_E_OUT_OF_MEMORY;
  } else {
    rc = upnp_control_update_object(index, id, current->buffer, replacement->buffer);
  }
  upnp_string_free(current);
  upnp_string_free(replacement);
  upnp_xml_release(didl);
  upnp_xml_release(tree);
  return rc;
}

extern "C" int upnp_cp_get_object_property(int index, const char *id, const char *property, int whole, char **out) {
  if (out) *out = nullptr;
  if (!id || !property || !*property) return UPNP_E_INVALID_PARAM;
  upnp_soap_arg args[] = {{"ObjectID", id},       {"BrowseFlag", "BrowseMetadata"}, {"Filter", property},
                          {"StartingIndex", "0"}, {"RequestedCount", "1"}, {"SortCriteria", ""}};
  upnp_string *reply = nullptr;
  int rc = upnp_soap_call(index, kServer, UPNP_SERVICE_CDS, 0, "Browse", args, 6, &reply);
  if (rc != 0) return rc;
  upnp_string *open = upnp_string_sprintf(nullptr, "&lt;%s", property);
  upnp_string *close = upnp_string_sprintf(nullptr, "&lt;/%s&gt;", property);
  const char *text = upnp_string_get_cstring(reply);
  const char *begin = nullptr;
  if (open && close) {
    // The element's name must end right after the property name.
    for (const char *p = std::strstr(text, open->buffer); p; p = std::strstr(p + 1, open->buffer)) {
      char next = p[open->length];
      if (next == '&' || next == ' ') {
        begin = p;
        break;
      }
    }
  }
  const char *end = begin ? std::strstr(begin, close->buffer) : nullptr;
  const char *content = begin ? std::strstr(begin, "&gt;") : nullptr;
  if (!begin || !end || !content || content > end) {
    rc = UPNP_E_NOT_FOUND;
  } else {
    const char *from = whole ? begin : content + 4;
    const char *to = whole ? end + close->length : end;
    size_t n = static_cast<size_t>(to - from);
    char *copy = static_cast<char *>(upnp_malloc_impl(n + 1));
    if (!copy) {
      rc = UPNP_E_OUT_OF_MEMORY;
    } else {
      std::memcpy(copy, from, n);
      copy[n] = '\0';
      if (out) *out = copy;
      else upnp_free_impl(copy);
    }
  }
  upnp_string_free(open);
  upnp_string_free(close);
  upnp_string_free(reply);
  return rc;
}
