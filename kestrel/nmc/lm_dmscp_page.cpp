// Pages of a server's objects: the "BrowseSimple" and "SearchSimple"
// requests, the rules for servers that miscount, each level's page cache,
// the object under a context's cursor and the count of a level.
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "nmc/lm_dmscp_ahead.h"
#include "nmc/lm_dmscp_internal.h"
#include "nmc/lm_nmc_api.h"
#include "nmc/lm_nmc_devices.h"
#include "nmc/lm_nmc_sessions.h"
#include "nmc/lm_nmc_text.h"

namespace {

// Page and object requests sent so far (a statistic for tests and
// benchmarks; nothing depends on it).
std::atomic<uint64_t> g_requests{0};

const char k_thumbnail_hints[] =
    "<MaxTNResolution fallback=\"smallest\">120x120</MaxTNResolution>"
    "<TNProtocolInfo>http-get:*:image/jpeg</TNProtocolInfo>";

std::string tag(const char *name, const std::string &value) {
  return std::string("<") + name + ">" + nmc_xml_escape(value.c_str()) + "</" + name + ">";
}

// Where the element `open` ("<name>" or a start of one) first occurs in
// the response, knowing that the page's text between skip_from and skip_to
// holds no markup: it is searched around, not through; npos when missing.
size_t find_outside(const std::string &response, const char *open, size_t skip_from, size_t skip_to) {
  size_t at = std::string_view(response.data(), skip_from).find(open);
  return at != std::string_view::npos ? at : response.find(open, skip_to);
}

// The number after the element start at `at` ("<name>digits"), 0 without.
uint32_t number_at(const std::string &response, size_t at, size_t open_length) {
  if (at == std::string::npos) return 0;
  const char *digits = response.c_str() + at + open_length;
  if (*digits < '0' || *digits > '9') return 0;
  unsigned long long value = std::strtoull(digits, nullptr, 10);
  return value > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<uint32_t>(value);
}

// Writes the character of the entity or character reference at p (up to
// `left` bytes) at *w and answers the bytes it took; 0 when p starts none.
size_t decode_entity(const char *p, size_t left, char **w) {
  // The five predefined entities, told apart by their second letter (a
  // page holds two of them per tag; no library call per entity).
  const auto named = [&](const char *entity, size_t length, char c) -> size_t {
    if (left < length) return 0;
    for (size_t i = 1; i < length; ++i) {
      if (p[i] != entity[i]) return 0;
    }
    *(*w)++ = c;
    return length;
  };
  size_t used = 0;
  switch (left >= 2 ? p[1] : '\0') {
    case 'l': used = named("&lt;", 4, '<'); break;
    case 'g': used = named("&gt;", 4, '>'); break;
    case 'q': used = named("&quot;", 6, '"'); break;
    case 'a': used = left >= 3 && p[2] == 'm' ? named("&amp;", 5, '&') : named("&apos;", 6, '\''); break;
    default: break;
  }
  if (used > 0) return used;
  if (left < 4 || p[1] != '#') return 0;
  const bool hex = p[2] == 'x' || p[2] == 'X';
  size_t i = hex ? 3 : 2;
  unsigned long code = 0;
  size_t digits = 0;
  for (; i < left && i < 12 && p[i] != ';'; ++i, ++digits) {
    int d = p[i] >= '0' && p[i] <= '9' ? p[i] - '0'
            : hex && p[i] >= 'a' && p[i] <= 'f' ? p[i] - 'a' + 10
            : hex && p[i] >= 'A' && p[i] <= 'F' ? p[i] - 'A' + 10
                                                 : -1;
    if (d < 0) return 0;
    code = code * (hex ? 16 : 10) + static_cast<unsigned long>(d);
  }
  if (i >= left || p[i] != ';' || digits == 0 || code == 0 || code > 0x10FFFF) return 0;
  char *o = *w;
  if (code < 0x80) {
    *o++ = static_cast<char>(code);
  } else if (code < 0x800) {
    *o++ = static_cast<char>(0xC0 | (code >> 6));
    *o++ = static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    *o++ = static_cast<char>(0xE0 | (code >> 12));
    *o++ = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    *o++ = static_cast<char>(0x80 | (code & 0x3F));
  } else {
    *o++ = static_cast<char>(0xF0 | (code >> 18));
    *o++ = static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    *o++ = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    *o++ = static_cast<char>(0x80 | (code & 0x3F));
  }
  *w = o;
  return i + 1;
}

// Decodes the page's text between begin and end in place (decoding only
// shortens it) as an XML parser decodes text: the predefined entities and
// character references (other "&" sequences stay); answers its new length.
size_t decode_in_place(char *begin, const char *end) {
  char *w = begin;
  const char *p = begin;
  while (p < end) {
    // The text up to the next '&' moves as it stands.
    const char *amp = static_cast<const char *>(std::memchr(p, '&', static_cast<size_t>(end - p)));
    const char *plain_end = amp != nullptr ? amp : end;
    if (w != p) std::memmove(w, p, static_cast<size_t>(plain_end - p));
    w += plain_end - p;
    p = plain_end;
    if (amp == nullptr) break;
    size_t used = decode_entity(p, static_cast<size_t>(end - p), &w);
    if (used > 0) {
      p += used;
    } else {
      *w++ = *p++;
    }
  }
  return static_cast<size_t>(w - begin);
}

bool is_object(const upnp_xml_node *node) {
  return node->name != nullptr && (std::strcmp(node->name, "item") == 0 || std::strcmp(node->name, "container") == 0);
}

}  // namespace

bool nmc_dms_send(const std::string &command, std::string *text) {
  g_requests.fetch_add(1, std::memory_order_relaxed);
  return nmc_api_query_session(command.c_str(), NMC_API_SESSION, text);
}

lm_nmc_result_t nmc_dms_request(const std::string &command, uint32_t start, nmc_dms_reply *reply) {
  std::string text;
  if (!nmc_dms_send(command, &text)) return 6;
  return nmc_dms_read_answer(text, start, reply);
}

lm_nmc_result_t nmc_dms_read_answer(std::string &text, uint32_t start, nmc_dms_reply *reply) {
  // The interpreter's response is read where it was written (no copy handed
  // out), and the page's DIDL-Lite, the content of the "<Result>" element
  // without a code, is decoded in place and parsed once. That content is
  // escaped, so its end is the first '<' after it and the response's other
  // elements are found around it.
  size_t page = text.find("<Result>");
  size_t page_end = std::string::npos;
  if (page != std::string::npos) {
    page += std::strlen("<Result>");
    page_end = text.find('<', page);
    if (page_end != std::string::npos && text.compare(page_end, 9, "</Result>") != 0) {
      page_end = text.find("</Result>", page);
    }
  }
  const bool has_result = page_end != std::string::npos;
  const size_t skip_from = has_result ? page : 0, skip_to = has_result ? page_end : 0;
  const size_t code_at = find_outside(text, "<Result code=\"", skip_from, skip_to);
  reply->code = code_at != std::string::npos ? nmc_api_result_code(text.c_str() + code_at) : LM_NMC_INVALID_PARAMETER;
  size_t didl_length = 0;
  if (reply->code == 0) {
    reply->total = number_at(text, find_outside(text, "<TotalMatches>", skip_from, skip_to), 14);
    reply->returned = number_at(text, find_outside(text, "<NumberReturned>", skip_from, skip_to), 16);
    if (has_result) didl_length = decode_in_place(&text[page], text.data() + page_end);
  }
  if (reply->code != 0) return reply->code;
  if (reply->returned > 0 && (reply->total > start || reply->total == 0)) {
    reply->didl.reset(has_result ? upnp_xml_parse_len(text.data() + page, didl_length) : nullptr);
    if (!reply->didl) return 7;
    for (upnp_xml_node *node = reply->didl->children; node != nullptr; node = node->next) {
      if (is_object(node)) reply->objects.push_back(node);
    }
    const uint32_t parsed = static_cast<uint32_t>(reply->objects.size());
    if (parsed != reply->returned) {
      upnp_log_impl(LOG_LEVEL_WARNING, LOG_SYSTEM, "nmc_dms_request",
                    "NMC: Server claimed to return %u objects but returned %u", reply->returned, parsed);
      // Only the objects that were parsed are ever read: a server that
      // claims more than it sent never makes the page read past them.
      reply->returned = parsed;
    }
  }
  if (reply->objects.empty()) return LM_NMC_NOT_FOUND;
  if (reply->total == 0) {
    upnp_log_impl(LOG_LEVEL_WARNING, LOG_SYSTEM, "nmc_dms_request",
                  "NMC: Server returned %u items but claimed total matches is zero", reply->returned);
    // The objects before this page count as well, so the cursor that reached
    // this page stays inside the level.
    reply->total = start + reply->returned;
    reply->total_guessed = true;
  }
  return LM_NMC_OK;
}

namespace {

std::string search_command(int server, const std::string &container, const std::string &sort,
                           const std::string &criteria, uint32_t start, uint32_t count) {
  return "<SearchSimple>" + tag("ServerIndex", std::to_string(server)) + "<RendererIndex>none</RendererIndex>" +
         tag("ObjectID", container) + "<Filter>*</Filter>" + tag("SortCriteria", sort) +
         tag("SearchCriteria", criteria) + tag("StartIndex", std::to_string(start)) +
         tag("RequestCount", std::to_string(count)) + k_thumbnail_hints + "</SearchSimple>";
}

std::string browse_command(int server, const std::string &object_id, const char *browse_flag, const char *filter,
                           const std::string &sort, uint32_t start, uint32_t count) {
  return "<BrowseSimple>" + tag("ServerIndex", std::to_string(server)) + "<RendererIndex>none</RendererIndex>" +
         tag("ObjectID", object_id) + tag("BrowseFlag", browse_flag) + tag("Filter", filter) +
         tag("SortCriteria", sort) + tag("StartIndex", std::to_string(start)) +
         tag("RequestCount", std::to_string(count)) + k_thumbnail_hints + "</BrowseSimple>";
}

// The server at a position of the server list (the one under removal at
// NMC_DMS_REMOVED_POSITION).
bool server_at(uint32_t position, nmc_device_view *device) {
  if (position == NMC_DMS_REMOVED_POSITION) {
    return nmc_devices_find(NMC_SIDE_SERVER, NMC_REMOVED_DEVICE_INDEX, device);
  }
  std::vector<nmc_device_view> servers = nmc_devices_list(NMC_SIDE_SERVER);
  if (position >= servers.size()) return false;
  *device = servers[position];
  return true;
}

lm_nmc_result_t server_object(nmc_dms_state &state, nmc_dms_level &level, upnp_xml_node **object) {
  nmc_device_view device;
  if (!server_at(level.index, &device)) return 3;
  nmc_dms_server server;
  if (!nmc_dms_server_get(device.index, &server)) return 6;
  nmc_xml_tree tree(upnp_xml_parse(server.info.c_str()));
  if (!tree) return LM_NMC_OUT_OF_MEMORY;
  level.drop_current();
  level.current_owned = std::move(tree);
  level.current = level.current_owned.get();
  level.current_index = level.index;
  if (state.server != server.index) {
    state.server = server.index;
    state.server_udn = server.udn;
    state.update_id = server.update_id;
  }
  *object = level.current;
  return LM_NMC_OK;
}

}  // namespace

uint64_t nmc_dms_requests(void) { return g_requests.load(std::memory_order_relaxed); }

lm_nmc_result_t nmc_dms_browse(int server, const std::string &object_id, const char *browse_flag,
                               const char *filter, const std::string &sort, uint32_t start, uint32_t count,
                               nmc_dms_reply *reply) {
  return nmc_dms_request(browse_command(server, object_id, browse_flag, filter, sort, start, count), start, reply);
}

std::string nmc_dms_page_command(const nmc_dms_state &state, const nmc_dms_level &level, uint32_t start) {
  return level.type == NMC_LEVEL_SEARCH
             ? search_command(state.server, level.object_id, state.sort, level.criteria, start, state.page_size)
             : browse_command(state.server, level.object_id, "BrowseDirectChildren", "*", state.sort, start,
                              state.page_size);
}

lm_nmc_result_t nmc_dms_page_entry(nmc_dms_state &state, nmc_dms_level &level, uint32_t i, upnp_xml_node **object) {
  *object = nullptr;
  if (!level.page.empty() && level.page_first <= i && i - level.page_first < level.page.size()) {
    *object = level.page[i - level.page_first];
    return LM_NMC_OK;
  }
  const std::string command = nmc_dms_page_command(state, level, i);
  nmc_dms_reply reply;
  lm_nmc_result_t result = LM_NMC_OK;
  // The page a walk read ahead is taken, not asked for again.
  const bool taken = nmc_dms_ahead_take(level, command, i, &reply, &result);
  if (!taken) result = nmc_dms_request(command, i, &reply);
  if (result != LM_NMC_OK && result != LM_NMC_NOT_FOUND) return result;
  // The pages read ahead beyond a taken one stay; a page that was not read
  // ahead (a jump elsewhere) drops them with the old page.
  std::vector<std::shared_ptr<nmc_dms_ahead>> aheads;
  if (taken) aheads = std::move(level.aheads);
  level.drop_page();
  level.aheads = std::move(aheads);
  level.page_tree = std::move(reply.didl);
  level.page = std::move(reply.objects);
  level.page_first = i;
  // A count the level already knew (a container's childCount) is not
  // lowered by a server that claims no total.
  if (!(reply.total_guessed && level.count_known && level.count > reply.total)) {
    level.count = reply.total;
    level.count_known = reply.total != 0;
  }
  if (result != LM_NMC_OK) return result;
  *object = level.page[0];
  return LM_NMC_OK;
}

lm_nmc_result_t nmc_dms_current(nmc_dms_state &state, upnp_xml_node **object, bool refresh) {
  *object = nullptr;
  nmc_dms_level &level = state.top();
  if (level.current != nullptr && level.current_index == level.index &&
      !(refresh && level.type == NMC_LEVEL_SERVERS)) {
    *object = level.current;
    return LM_NMC_OK;
  }
  switch (level.type) {
    case NMC_LEVEL_SERVERS:
      return server_object(state, level, object);
    case NMC_LEVEL_CONTAINER:
    case NMC_LEVEL_BOOKMARK:
    case NMC_LEVEL_SEARCH: {
      if (level.current_owned) level.drop_current();
      upnp_xml_node *node = nullptr;
      lm_nmc_result_t result = nmc_dms_page_entry(state, level, level.index, &node);
      if (result != LM_NMC_OK) return result;
      level.current = node;
      level.current_index = level.index;
      *object = node;
      return LM_NMC_OK;
    }
    default:
      upnp_log_impl(LOG_LEVEL_ERROR, LOG_SYSTEM, "nmc_dms_current", "NMC: Invalid browse mode %u",
                    static_cast<unsigned>(level.type));
      return LM_NMC_NO_VALUE;
  }
}

lm_nmc_result_t nmc_dms_container_size(int server, const std::string &object_id, uint32_t *count) {
  *count = 0;
  nmc_dms_reply meta;
  lm_nmc_result_t result =
      nmc_dms_browse(server, object_id, "BrowseMetadata", "container,container@childCount", "", 0, 1, &meta);
  if (result == LM_NMC_OK) {
    const char *child_count = upnp_xml_find_attribute_value(meta.objects[0], "childCount");
    if (child_count != nullptr && child_count[0] >= '0' && child_count[0] <= '9') {
      *count = static_cast<uint32_t>(std::strtoul(child_count, nullptr, 10));
      return LM_NMC_OK;
    }
  }
  nmc_dms_reply one;
  result = nmc_dms_browse(server, object_id, "BrowseDirectChildren", "*", "", 0, 1, &one);
  if (result != LM_NMC_OK && result != LM_NMC_NOT_FOUND) return result;
  *count = one.total != 0 ? one.total : one.returned;
  return LM_NMC_OK;
}

lm_nmc_result_t nmc_dms_count(nmc_dms_state &state, uint32_t *count) {
  *count = 0;
  nmc_dms_level &level = state.top();
  if (level.type == NMC_LEVEL_SERVERS) {
    *count = static_cast<uint32_t>(nmc_devices_list(NMC_SIDE_SERVER).size());
    return LM_NMC_OK;
  }
  if (!level.count_known) {
    upnp_xml_node *object = nullptr;
    lm_nmc_result_t result = nmc_dms_current(state, &object);
    if (result != LM_NMC_OK && !(result == LM_NMC_NOT_FOUND && level.count == 0)) return result;
    if (!level.count_known && level.type == NMC_LEVEL_CONTAINER) {
      result = nmc_dms_container_size(state.server, level.object_id, &level.count);
      if (result != LM_NMC_OK) return result;
      level.count_known = level.count != 0;
    }
  }
  if (level.type == NMC_LEVEL_BOOKMARK && level.count == 0) {
    lm_nmc_result_t result = nmc_dms_container_size(state.server, level.object_id, &level.count);
    if (result != LM_NMC_OK) return result;
    level.count_known = level.count != 0;
  }
  *count = level.count;
  return LM_NMC_OK;
}
