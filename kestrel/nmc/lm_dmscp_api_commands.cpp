// The XML commands of the server side: browsing and searching a server's
// ContentDirectory, its update identifier and capabilities, and changing
// objects and playlists on it. Every value read from a reply is written
// back escaped.
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "base/upnp_mem.h"
#include "cp/upnp_cp.h"
#include "cp/upnp_soap.h"
#include "cp/upnp_soap_internal.h"
#include "nmc/lm_nmc_api.h"
#include "nmc/lm_nmc_text.h"

namespace {

const char *param(upnp_xml_node *command, const char *name) {
  return upnp_xml_find_tag_value(command->children, name);
}

const char *param_or(upnp_xml_node *command, const char *name, const char *fallback) {
  const char *value = param(command, name);
  return value != nullptr ? value : fallback;
}

bool parse_uint(const char *text, uint32_t *out) {
  if (text == nullptr || !std::isdigit(static_cast<unsigned char>(text[0]))) return false;
  char *end = nullptr;
  unsigned long long value = std::strtoull(text, &end, 10);
  if (*end != '\0' || value > 0xFFFFFFFFull) return false;
  *out = static_cast<uint32_t>(value);
  return true;
}

// The server a command addresses ("ServerIndex", else "Index"); false (and
// the answer's code set) when missing or not a server.
bool server_of(upnp_xml_node *command, nmc_api_answer *answer, int *index) {
  const char *text = param(command, "ServerIndex");
  if (text == nullptr) text = param(command, "Index");
  uint32_t value = 0;
  if (!parse_uint(text, &value) || value > 0x7FFFFFFF) {
    answer->code = 2;
    return false;
  }
  *index = static_cast<int>(value);
  answer->index = *index;
  if (!upnp_cp_isValidIndex(*index, UPNP_CP_KIND_SERVER)) {
    answer->code = 1;
    return false;
  }
  return true;
}

void element(nmc_api_answer *answer, const char *name, const char *value) {
  if (value == nullptr) return;
  answer->body += std::string("<") + name + ">" + nmc_xml_escape(value) + "</" + name + ">";
}

// A page's DIDL-Lite text as element content: the three characters that
// could end or open markup are escaped (a page is large; this is the one
// copy of it the answer makes).
void append_text(std::string *out, const char *text) {
  size_t length = 0, extra = 0;
  for (const char *p = text; *p != '\0'; ++p, ++length) {
    if (*p == '&') extra += 4;
    else if (*p == '<' || *p == '>') extra += 3;
  }
  size_t at = out->size();
  out->resize(at + length + extra);
  char *w = &(*out)[at];
  for (const char *p = text; *p != '\0'; ++p) {
    switch (*p) {
      case '&': std::memcpy(w, "&amp;", 5); w += 5; break;
      case '<': std::memcpy(w, "&lt;", 4); w += 4; break;
      case '>': std::memcpy(w, "&gt;", 4); w += 4; break;
      default: *w++ = *p;
    }
  }
}

// Result, NumberReturned, TotalMatches and UpdateID of a Browse or Search
// reply, as the reply holds them.
void browse_reply(int rc, upnp_xml_node *tree, nmc_api_answer *answer) {
  answer->code = static_cast<uint32_t>(rc);
  if (rc != 0 || tree == nullptr) return;
  upnp_xml_node *result = upnp_xml_find_tag(tree, "Result");
  if (result != nullptr) {
    answer->body += "<Result>";
    append_text(&answer->body, result->value != nullptr ? result->value : "");
    answer->body += "</Result>";
  }
  for (const char *name : {"NumberReturned", "TotalMatches", "UpdateID"}) {
    element(answer, name, upnp_xml_find_tag_value(tree, name));
  }
}

// The content of the first unprefixed element `name` in a raw reply's
// text as the server escaped it; false when it is missing or holds markup
// (a CDATA section, or a server that did not escape its DIDL-Lite). The
// content's end is its first '<', so a page is passed over once.
bool raw_element(std::string_view text, const char *name, const char **start, size_t *length) {
  const std::string open = std::string("<") + name + ">", close = std::string("</") + name + ">";
  size_t at = text.find(open);
  if (at == std::string_view::npos) return false;
  at += open.size();
  const size_t end = text.find('<', at);
  if (end == std::string_view::npos || text.compare(end, close.size(), close) != 0) return false;
  *start = text.data() + at;
  *length = end - at;
  return true;
}

// A Browse or Search reply into the answer. The Result text is passed on as
// the server escaped it, so a page is neither parsed nor escaped again
// here; a reply that does not allow that is parsed and written from its tree.
void page_reply(int rc, upnp_string *reply, nmc_api_answer *answer) {
  answer->code = static_cast<uint32_t>(rc);
  if (rc != 0) return;
  const char *text = upnp_string_get_cstring(reply);
  const std::string_view whole(text);
  const char *result = nullptr;
  size_t length = 0;
  const char *names[] = {"NumberReturned", "TotalMatches", "UpdateID"};
  const char *values[3] = {nullptr, nullptr, nullptr};
  size_t lengths[3] = {0, 0, 0};
  bool raw = raw_element(whole, "Result", &result, &length);
  // The other elements are looked for before the page, then after it (its
  // text holds no markup): the first of each as in the whole reply.
  const std::string_view head = raw ? whole.substr(0, static_cast<size_t>(result - text)) : whole;
  const std::string_view tail = raw ? whole.substr(static_cast<size_t>(result - text) + length) : std::string_view();
  for (int i = 0; raw && i < 3; ++i) {
    const std::string open = std::string("<") + names[i] + ">";
    const std::string_view in = head.find(open) != std::string_view::npos ? head : tail;
    if (!raw_element(in, names[i], &values[i], &lengths[i]) && i < 2) raw = false;
    for (size_t k = 0; raw && values[i] != nullptr && k < lengths[i]; ++k) {
      if (values[i][k] < '0' || values[i][k] > '9') raw = false;
    }
  }
  if (!raw) {
    const char *start = *text ? std::strchr(text + 1, '<') : nullptr;
    upnp_xml_node *tree = start != nullptr ? upnp_xml_parse(start) : nullptr;
    if (tree == nullptr) answer->code = 7;
    browse_reply(static_cast<int>(answer->code), tree, answer);
    upnp_xml_release(tree);
    return;
  }
  // Room for the counts and the response's own head and tail around it.
  answer->body.reserve(length + 256);
  answer->body.append("<Result>").append(result, length).append("</Result>");
  for (int i = 0; i < 3; ++i) {
    if (values[i] == nullptr) continue;
    answer->body.append("<").append(names[i]).append(">").append(values[i], lengths[i]);
    answer->body.append("</").append(names[i]).append(">");
  }
}

void browse_with(upnp_xml_node *command, nmc_api_answer *answer, const char *start_name, const char *count_name) {
  int index = -1;
  if (!server_of(command, answer, &index)) return;
  const char *id = param(command, "ObjectID");
  const char *flag = param_or(command, "BrowseFlag", "BrowseDirectChildren");
  uint32_t start = 0, count = 0;
  if (id == nullptr || (param(command, start_name) != nullptr && !parse_uint(param(command, start_name), &start)) ||
      (param(command, count_name) != nullptr && !parse_uint(param(command, count_name), &count))) {
    answer->code = 2;
    return;
  }
  const bool metadata = std::strcmp(flag, "BrowseMetadata") == 0;
  if (!metadata && std::strcmp(flag, "BrowseDirectChildren") != 0) {
    answer->code = 2;
    return;
  }
  const std::string s = metadata ? "0" : std::to_string(start), c = metadata ? "1" : std::to_string(count);
  upnp_soap_arg args[] = {{"ObjectID", id},
                          {"BrowseFlag", flag},
                          {"Filter", param_or(command, "Filter", "*")},
                          {"StartingIndex", s.c_str()},
                          {"RequestedCount", c.c_str()},
                          {"SortCriteria", param_or(command, "SortCriteria", "")}};
  upnp_string *reply = nullptr;
  int rc = upnp_soap_call(index, UPNP_CP_KIND_SERVER, UPNP_SERVICE_CDS, 0, "Browse", args, 6, &reply);
  page_reply(rc, reply, answer);
  upnp_string_free(reply);
}

// The thumbnail hints ("MaxTNResolution", "TNProtocolInfo") are accepted and
// not used: objects come back as the server describes them.
void browse_simple(upnp_xml_node *c, nmc_api_answer *a) { browse_with(c, a, "StartIndex", "RequestCount"); }
void browse(upnp_xml_node *c, nmc_api_answer *a) { browse_with(c, a, "StartingIndex", "RequestedCount"); }

void search_simple(upnp_xml_node *command, nmc_api_answer *answer) {
  int index = -1;
  if (!server_of(command, answer, &index)) return;
  const char *id = param_or(command, "ObjectID", param(command, "ContainerID"));
  uint32_t start = 0, count = 0;
  if (id == nullptr ||
      (param(command, "StartIndex") != nullptr && !parse_uint(param(command, "StartIndex"), &start)) ||
      (param(command, "RequestCount") != nullptr && !parse_uint(param(command, "RequestCount"), &count))) {
    answer->code = 2;
    return;
  }
  const std::string s = std::to_string(start), n = std::to_string(count);
  upnp_soap_arg args[] = {{"ContainerID", id},
                          {"SearchCriteria", param_or(command, "SearchCriteria", "*")},
                          {"Filter", param_or(command, "Filter", "*")},
                          {"StartingIndex", s.c_str()},
                          {"RequestedCount", n.c_str()},
                          {"SortCriteria", param_or(command, "SortCriteria", "")}};
  upnp_string *reply = nullptr;
  int rc = upnp_soap_call(index, UPNP_CP_KIND_SERVER, UPNP_SERVICE_CDS, 0, "Search", args, 6, &reply);
  page_reply(rc, reply, answer);
  upnp_string_free(reply);
}

void system_update_id(upnp_xml_node *command, nmc_api_answer *answer) {
  int index = -1;
  if (!server_of(command, answer, &index)) return;
  unsigned id = 0;
  answer->code = static_cast<uint32_t>(upnp_cp_get_SystemUpdateID(index, &id));
  if (answer->code == 0) answer->body = "<Id>" + std::to_string(id) + "</Id>";
}

void capabilities(upnp_xml_node *command, nmc_api_answer *answer, bool sort) {
  int index = -1;
  if (!server_of(command, answer, &index)) return;
  char *text = nullptr;
  int rc = sort ? upnp_cp_get_SortCapabilities(index, &text) : upnp_cp_get_SearchCapabilities(index, &text);
  answer->code = static_cast<uint32_t>(rc);
  if (rc == 0) element(answer, sort ? "SortCaps" : "SearchCaps", text != nullptr ? text : "");
  upnp_free_impl(text);
}
void sort_capabilities(upnp_xml_node *c, nmc_api_answer *a) { capabilities(c, a, true); }
void search_capabilities(upnp_xml_node *c, nmc_api_answer *a) { capabilities(c, a, false); }

// The object a changing command is about; false (code 2) without one.
bool object_of(upnp_xml_node *command, nmc_api_answer *answer, int *index, const char **id) {
  if (!server_of(command, answer, index)) return false;
  *id = param(command, "ObjectID");
  if (*id == nullptr || (*id)[0] == '\0') {
    answer->code = 2;
    return false;
  }
  return true;
}

void create_playlist(upnp_xml_node *command, nmc_api_answer *answer) {
  int index = -1;
  if (!server_of(command, answer, &index)) return;
  const char *title = param(command, "Title");
  if (title == nullptr || title[0] == '\0') {
    answer->code = 2;
    return;
  }
  char *id = nullptr;
  upnp_xml_node *tree = nullptr;
  answer->code = static_cast<uint32_t>(upnp_cp_create_playlist(
      index, title, param_or(command, "ContainerID", "DLNA.ORG_AnyContainer"), &tree, &id));
  if (answer->code == 0) element(answer, "ObjectID", id != nullptr ? id : "");
  upnp_xml_release(tree);
  upnp_free_impl(id);
}

void add_to_playlist(upnp_xml_node *command, nmc_api_answer *answer) {
  int index = -1;
  const char *id = nullptr;
  if (!object_of(command, answer, &index, &id)) return;
  const char *container = param(command, "ContainerID");
  if (container == nullptr || container[0] == '\0') {
    answer->code = 2;
    return;
  }
  char *new_id = nullptr;
  answer->code = static_cast<uint32_t>(upnp_control_create_reference(index, container, id, &new_id));
  if (answer->code == 0) element(answer, "ObjectID", new_id != nullptr ? new_id : "");
  upnp_free_impl(new_id);
}

void move_in_playlist(upnp_xml_node *command, nmc_api_answer *answer) {
  int index = -1;
  const char *id = nullptr;
  if (!object_of(command, answer, &index, &id)) return;
  uint32_t position = 0;
  if (!parse_uint(param(command, "Position"), &position)) {
    answer->code = 2;
    return;
  }
  unsigned old_position = 0;
  int rc = upnp_cp_get_playlist_item_position(index, id, &old_position);
  if (rc == 0) rc = updatePosition(index, id, old_position, position);
  answer->code = static_cast<uint32_t>(rc);
}

void destroy(upnp_xml_node *command, nmc_api_answer *answer) {
  int index = -1;
  const char *id = nullptr;
  if (!object_of(command, answer, &index, &id)) return;
  answer->code = static_cast<uint32_t>(upnp_control_destroy_object(index, id));
}

void rename_object(upnp_xml_node *command, nmc_api_answer *answer) {
  int index = -1;
  const char *id = nullptr;
  if (!object_of(command, answer, &index, &id)) return;
  const char *title = param(command, "Title");
  if (title == nullptr) {
    answer->code = 2;
    return;
  }
  answer->code = static_cast<uint32_t>(upnp_control_rename_object(index, id, title));
}

void update_object(upnp_xml_node *command, nmc_api_answer *answer) {
  int index = -1;
  const char *id = nullptr;
  if (!object_of(command, answer, &index, &id)) return;
  answer->code = static_cast<uint32_t>(upnp_control_update_object(
      index, id, param_or(command, "CurrentTagValue", ""), param_or(command, "NewTagValue", "")));
}

struct Command {
  const char *name;
  nmc_api_handler handler;
};
const Command k_commands[] = {
    {"BrowseSimple", browse_simple},
    {"Browse", browse},
    {"SearchSimple", search_simple},
    {"GetSystemUpdateID", system_update_id},
    {"GetSortCapabilities", sort_capabilities},
    {"GetSearchCapabilities", search_capabilities},
    {"CreatePlaylist", create_playlist},
    {"AddToPlaylist", add_to_playlist},
    {"MoveInPlaylist", move_in_playlist},
    {"RemoveFromPlaylist", destroy},
    {"RenameObject", rename_object},
    {"DeleteObject", destroy},
    {"UpdateObject", update_object},
};

}  // namespace

nmc_api_handler nmc_api_find_dms_command(const char *name) {
  if (name == nullptr) return nullptr;
  for (const Command &command : k_commands) {
    if (std::strcmp(command.name, name) == 0) return command.handler;
  }
  return nullptr;
}
