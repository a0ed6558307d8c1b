// The lm_queue_ functions: each runs one queue command of the XML interface
// for the queue of the context's renderer (named by the renderer's UDN) and
// moves or reads the context's queue cursor.
#include <cctype>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "base/upnp_local_addr.h"
#include "base/upnp_string.h"
#include "base/upnp_xml_write.h"
#include "cp/upnp_cp.h"
#include "cp/upnp_soap.h"
#include "nmc/lm_dmrcp_state.h"
#include "nmc/lm_nmc_command.h"
#include "nmc/lm_ldmr_ops.h"
#include "nmc/lm_nmc_internal.h"
#include "nmc/lm_nmc_queue.h"
#include "nmc/lm_nmc_text.h"
#include "nmc/lm_queue.h"
#include "webapi/webapi_local_files.h"

namespace {

struct Queue {
  nmc_dmr_target target;
  uint32_t cursor = 0;
};

// The context's renderer and cursor: 11, 1 or 3 as nmc_dmr_find.
lm_nmc_result_t open_queue(uint32_t id, Queue *queue) {
  if (!lm_nmc_conn_init()) return LM_NMC_GOING_DOWN;
  lm_nmc_result_t result = nmc_dmr_find(id, &queue->target);
  if (result != LM_NMC_OK) return result;
  nmc_context *context = nmc_context_find(id);
  if (context == nullptr) return LM_NMC_INVALID_INDEX;
  nmc_dmr_context *dmr = nmc_dmr_state_of_context(context);
  if (dmr != nullptr) queue->cursor = dmr->queue_cursor;
  nmc_context_release(context);
  return dmr != nullptr ? LM_NMC_OK : LM_NMC_OUT_OF_MEMORY;
}

lm_nmc_result_t set_cursor(uint32_t id, uint32_t cursor) {
  nmc_context *context = nmc_context_find(id);
  if (context == nullptr) return LM_NMC_INVALID_INDEX;
  nmc_dmr_context *dmr = nmc_dmr_state_of_context(context);
  if (dmr != nullptr) dmr->queue_cursor = cursor;
  nmc_context_release(context);
  return dmr != nullptr ? LM_NMC_OK : LM_NMC_OUT_OF_MEMORY;
}

uint32_t command(const Queue &queue, const char *name, nmc_command_pairs params, nmc_dmr_reply *reply) {
  params.insert(params.begin(), {"QueueID", queue.target.udn});
  return nmc_dmr_command(name, queue.target.index, params, reply);
}

// The entry at the cursor as the "Object" of a one-entry "BrowseQueue".
lm_nmc_result_t cursor_entry(uint32_t id, Queue *queue, nmc_dmr_reply *reply, upnp_xml_node **object) {
  *object = nullptr;
  lm_nmc_result_t result = open_queue(id, queue);
  if (result != LM_NMC_OK) return result;
  result = command(*queue, "BrowseQueue",
                   {{"StartIndex", std::to_string(queue->cursor)}, {"RequestCount", "1"}}, reply);
  if (result == LM_NMC_INVALID_PARAMETER) return LM_NMC_NOT_FOUND;  // beyond the queue
  if (result != LM_NMC_OK) return result;
  *object = reply->tree != nullptr ? upnp_xml_find_tag(reply->tree->children, "Object") : nullptr;
  return *object != nullptr ? LM_NMC_OK : LM_NMC_NOT_FOUND;
}

// The entry's metadata; a server entry without stored metadata is asked
// from its server.
lm_nmc_result_t entry_metadata(uint32_t id, std::string *metadata) {
  Queue queue;
  nmc_dmr_reply reply;
  upnp_xml_node *object = nullptr;
  lm_nmc_result_t result = cursor_entry(id, &queue, &reply, &object);
  if (result != LM_NMC_OK) return result;
  const char *stored = upnp_xml_find_tag_value(object->children, "MetaData");
  if (stored != nullptr && stored[0] != '\0') {
    *metadata = stored;
    return LM_NMC_OK;
  }
  const char *udn = upnp_xml_find_tag_value(object->children, "ServerUDN");
  const char *object_id = upnp_xml_find_tag_value(object->children, "ObjectID");
  if (udn == nullptr || object_id == nullptr) return LM_NMC_NOT_FOUND;
  int server = upnp_control_get_device_index(udn, UPNP_CP_KIND_SERVER);
  if (server < 0) return NMC_DMR_DEVICE_GONE;
  upnp_xml_node *tree = nullptr;
  int code = upnp_control_browse_metadata(server, object_id, "*", "", &tree);
  const char *didl = code == 0 ? upnp_xml_find_tag_value(tree, "Result") : nullptr;
  if (didl != nullptr) *metadata = didl;
  upnp_xml_release(tree);
  if (code != 0) return static_cast<lm_nmc_result_t>(code);
  return metadata->empty() ? LM_NMC_NOT_FOUND : LM_NMC_OK;
}

// Key "name", "name@attribute", with ".Count" for the number of values.
lm_nmc_result_t extract(uint32_t id, const char *key, uint32_t occurrence, std::string *value) {
  if (key == nullptr || key[0] == '\0') return LM_NMC_INVALID_PARAMETER;
  std::string name = key;
  bool count_only = false;
  size_t dot = name.rfind(".Count");
  if (dot != std::string::npos && dot + 6 == name.size()) {
    count_only = true;
    name.erase(dot);
  }
  std::string attribute;
  size_t at = name.find('@');
  if (at != std::string::npos) {
    attribute = name.substr(at + 1);
    name.erase(at);
  }
  if (name.empty()) return LM_NMC_INVALID_PARAMETER;
  std::string metadata;
  lm_nmc_result_t result = entry_metadata(id, &metadata);
  if (result != LM_NMC_OK) return result;
  upnp_xml_node *tree = upnp_xml_parse(metadata.c_str());
  uint32_t count = 0;
  bool found = false;
  for (upnp_xml_node *node = tree != nullptr ? upnp_xml_find_tag(tree, name.c_str()) : nullptr; node != nullptr;
       node = upnp_xml_find_next_tag(node, name.c_str())) {
    const char *text = attribute.empty() ? (node->value != nullptr ? node->value : "")
                                         : upnp_xml_find_attribute_value(node, attribute.c_str());
    if (text == nullptr) continue;
    if (count == occurrence) {
      *value = text;
      found = true;
    }
    ++count;
  }
  upnp_xml_release(tree);
  if (count_only) {
    *value = std::to_string(count);
    return LM_NMC_OK;
  }
  return found ? LM_NMC_OK : LM_NMC_NOT_FOUND;
}

// A local file as the renderer reaches it through the library's web
// server; other URLs as they are.
std::string shared_url(const nmc_dmr_target &target, const char *url) {
  const bool file_url = std::strncmp(url, "file://", 7) == 0;
  if (!file_url && url[0] != '/' && url[0] != '\\') return url;
  // The host plays its own files.
  if (nmc_ldmr_is_local(target.index)) return url;
  char urlbase[1024] = "";
  upnp_control_get_urlbase(target.index, urlbase, sizeof urlbase, UPNP_CP_KIND_RENDERER);
  std::string address = nmc_ip_of_urlbase(urlbase);
  char *local = nullptr;
  unsigned int port = 0;
  int reserved = 0;
  if (address.empty() || upnp_get_matching_local_server(address.c_str(), &local, &port, &reserved) != 0) {
    upnp_free_impl(local);
    return url;
  }
  std::string base = std::string("http://") + local + ":" + std::to_string(port);
  upnp_free_impl(local);
  // The file is served under a token of ours, never under its path; the
  // entry that holds the URL ends the share (lm_nmc_queue_share.cpp).
  char token[WEBAPI_SHARE_TOKEN_SIZE] = "";
  if (webapi_local_file_share(url, token, sizeof token) != 0) return url;
  return base + WEBAPI_SHARE_PREFIX "?" + token;
}

// Inserts after the cursor; the cursor moves to the answer's "Index".
lm_nmc_result_t add(uint32_t id, const Queue &queue, nmc_command_pairs params) {
  nmc_dmr_reply reply;
  lm_nmc_result_t result = command(queue, "AddToQueue", std::move(params), &reply);
  if (result != LM_NMC_OK) return result;
  const char *index = reply.value("Index");
  if (index != nullptr && std::isdigit(static_cast<unsigned char>(index[0]))) {
    set_cursor(id, static_cast<uint32_t>(std::strtoul(index, nullptr, 10)));
  }
  return LM_NMC_OK;
}

}  // namespace

extern "C" KESTREL_API lm_nmc_result_t lm_queue_get_count(uint32_t context, uint32_t *count) {
  if (count != nullptr) *count = 0;
  if (count == nullptr) return LM_NMC_INVALID_PARAMETER;
  Queue queue;
  lm_nmc_result_t result = open_queue(context, &queue);
  if (result != LM_NMC_OK) return result;
  nmc_dmr_reply reply;
  result = command(queue, "GetQueueInfo", {}, &reply);
  if (result == LM_NMC_OK) *count = upnp_xml_find_tag_value_uint(reply.tree->children, "Count", 0);
  return result;
}

extern "C" KESTREL_API lm_nmc_result_t lm_queue_get_index(uint32_t context, uint32_t *index) {
  if (index != nullptr) *index = 0;
  if (index == nullptr) return LM_NMC_INVALID_PARAMETER;
  if (!lm_nmc_conn_init()) return LM_NMC_GOING_DOWN;
  if (!lm_nmc_is_dmr_context(context)) return LM_NMC_INVALID_INDEX;
  nmc_context *found = nmc_context_find(context);
  if (found == nullptr) return LM_NMC_INVALID_INDEX;
  nmc_dmr_context *dmr = nmc_dmr_state_of_context(found);
  if (dmr != nullptr) *index = dmr->queue_cursor;
  nmc_context_release(found);
  return dmr != nullptr ? LM_NMC_OK : LM_NMC_OUT_OF_MEMORY;
}

extern "C" KESTREL_API lm_nmc_result_t lm_queue_go_index(uint32_t context, uint32_t index) {
  if (!lm_nmc_conn_init()) return LM_NMC_GOING_DOWN;
  if (!lm_nmc_is_dmr_context(context)) return LM_NMC_INVALID_INDEX;
  return set_cursor(context, index);
}

extern "C" KESTREL_API lm_nmc_result_t lm_queue_get_playindex(uint32_t context, int32_t *index, uint32_t *pending) {
  if (index != nullptr) *index = -1;
  if (pending != nullptr) *pending = 0;
  if (index == nullptr || pending == nullptr) return LM_NMC_INVALID_PARAMETER;
  Queue queue;
  lm_nmc_result_t result = open_queue(context, &queue);
  if (result != LM_NMC_OK) return result;
  nmc_dmr_reply reply;
  result = command(queue, "GetPlayQueueInfo", {}, &reply);
  if (result != LM_NMC_OK) return result;
  const char *current = reply.value("CurrentIndex");
  *index = current != nullptr ? static_cast<int32_t>(std::strtol(current, nullptr, 10)) : -1;
  *pending = upnp_xml_find_tag_value_uint(reply.tree->children, "Pending", 0);
  return LM_NMC_OK;
}

extern "C" KESTREL_API lm_nmc_result_t lm_queue_add_bookmark(uint32_t context, const char *bookmark) {
  if (bookmark == nullptr || bookmark[0] == '\0') return LM_NMC_INVALID_PARAMETER;
  Queue queue;
  lm_nmc_result_t result = open_queue(context, &queue);
  if (result != LM_NMC_OK) return result;
  std::string udn;
  std::string object;
  if (!nmc_queue_split_bookmark(bookmark, &udn, &object)) return LM_NMC_INVALID_PARAMETER;
  if (object == "-") {
    upnp_log_impl(LOG_LEVEL_WARNING, LOG_SYSTEM, "lm_queue_add_bookmark",
                  "lm_queue_add_bookmark(): Temporary bookmarks not supported: %s", bookmark);
    return LM_NMC_INVALID_PARAMETER;
  }
  return add(context, queue,
             {{"ServerUDN", udn},
              {"ObjectID", object},
              {"Index", std::to_string(queue.cursor + 1)},
              {"Bookmark", bookmark},
              {"MetaData", ""}});
}

extern "C" KESTREL_API lm_nmc_result_t lm_queue_add_metadata(uint32_t context, const char *url, const char *metadata) {
  if (url == nullptr || url[0] == '\0') return LM_NMC_INVALID_PARAMETER;
  Queue queue;
  lm_nmc_result_t result = open_queue(context, &queue);
  if (result != LM_NMC_OK) return result;
  const std::string target_url = shared_url(queue.target, url);
  result = add(context, queue,
               {{"URL", target_url},
                {"MetaData", metadata != nullptr ? metadata : ""},
                {"Index", std::to_string(queue.cursor + 1)},
                {"Bookmark", ""}});
  // Not queued: a share made for it ends here (a queued entry holds its own).
  if (result != LM_NMC_OK && target_url != url) nmc_queue_share_of(target_url).reset();
  return result;
}

extern "C" KESTREL_API lm_nmc_result_t lm_queue_delete_item(uint32_t context) {
  Queue queue;
  lm_nmc_result_t result = open_queue(context, &queue);
  if (result != LM_NMC_OK) return result;
  nmc_dmr_reply reply;
  result = command(queue, "RemoveFromQueue", {{"Index", std::to_string(queue.cursor)}}, &reply);
  return result == LM_NMC_INVALID_PARAMETER ? LM_NMC_NOT_FOUND : result;
}

extern "C" KESTREL_API lm_nmc_result_t lm_queue_move_to(uint32_t context, uint32_t target) {
  Queue queue;
  lm_nmc_result_t result = open_queue(context, &queue);
  if (result != LM_NMC_OK) return result;
  nmc_dmr_reply reply;
  const int to = target == 0x7FFFFFFFu ? -1 : static_cast<int>(target);
  result = command(queue, "MoveInQueueByIndex",
                   {{"RequestCount", "1"}, {"StartIndex", std::to_string(queue.cursor)}, {"TargetIndex", std::to_string(to)}},
                   &reply);
  return result == LM_NMC_INVALID_PARAMETER ? LM_NMC_NOT_FOUND : result;
}

extern "C" KESTREL_API lm_nmc_result_t lm_queue_clear(uint32_t context) {
  Queue queue;
  lm_nmc_result_t result = open_queue(context, &queue);
  if (result != LM_NMC_OK) return result;
  nmc_dmr_reply reply;
  result = command(queue, "ClearQueue", {}, &reply);
  if (result == LM_NMC_OK) set_cursor(context, 0);
  return result;
}

extern "C" KESTREL_API lm_nmc_result_t lm_queue_get_bookmark(uint32_t context, uint32_t size, char *buffer) {
  if (buffer != nullptr && size > 0) buffer[0] = '\0';
  if (buffer == nullptr || size == 0) return LM_NMC_INVALID_PARAMETER;
  Queue queue;
  nmc_dmr_reply reply;
  upnp_xml_node *object = nullptr;
  lm_nmc_result_t result = cursor_entry(context, &queue, &reply, &object);
  if (result != LM_NMC_OK) return result;
  const char *bookmark = upnp_xml_find_tag_value(object->children, "Bookmark");
  return nmc_out_text(bookmark != nullptr && bookmark[0] != '\0' ? bookmark : nullptr, size, buffer);
}

extern "C" KESTREL_API lm_nmc_result_t lm_queue_go_bookmark(uint32_t context, const char *bookmark) {
  if (bookmark == nullptr || bookmark[0] == '\0') return LM_NMC_INVALID_PARAMETER;
  Queue queue;
  lm_nmc_result_t result = open_queue(context, &queue);
  if (result != LM_NMC_OK) return result;
  nmc_dmr_reply reply;
  result = command(queue, "IndexOfQueueObject", {{"Bookmark", bookmark}}, &reply);
  std::string udn;
  std::string object;
  if (result == LM_NMC_NOT_FOUND && nmc_queue_split_bookmark(bookmark, &udn, &object)) {
    result = command(queue, "IndexOfQueueObject", {{"ServerUDN", udn}, {"ObjectID", object}}, &reply);
  }
  if (result != LM_NMC_OK) return result;
  upnp_xml_node *found = upnp_xml_find_tag(reply.tree->children, "Object");
  const char *index = found != nullptr ? upnp_xml_find_attribute_value(found, "index") : nullptr;
  if (index == nullptr || !std::isdigit(static_cast<unsigned char>(index[0]))) return LM_NMC_NOT_FOUND;
  return set_cursor(context, static_cast<uint32_t>(std::strtoul(index, nullptr, 10)));
}

extern "C" KESTREL_API lm_nmc_result_t lm_queue_get_metadata(uint32_t context, uint32_t size, char *buffer) {
  if (buffer != nullptr && size > 0) buffer[0] = '\0';
  if (buffer == nullptr || size == 0) return LM_NMC_INVALID_PARAMETER;
  std::string metadata;
  lm_nmc_result_t result = entry_metadata(context, &metadata);
  if (result != LM_NMC_OK) return result;
  return nmc_out_text(metadata.c_str(), size, buffer);
}

extern "C" KESTREL_API lm_nmc_result_t lm_queue_extract_metadata(uint32_t context, const char *key, uint32_t occurrence,
                                                                 uint32_t size, char *buffer) {
  if (buffer != nullptr && size > 0) buffer[0] = '\0';
  if (buffer == nullptr || size == 0) return LM_NMC_INVALID_PARAMETER;
  std::string value;
  lm_nmc_result_t result = extract(context, key, occurrence, &value);
  if (result != LM_NMC_OK) return result;
  return nmc_out_text(value.c_str(), size, buffer);
}

extern "C" KESTREL_API lm_nmc_result_t lm_queue_extract_metadata_int(uint32_t context, const char *key,
                                                                     uint32_t occurrence, int32_t *value) {
  if (value != nullptr) *value = 0;
  if (value == nullptr) return LM_NMC_INVALID_PARAMETER;
  std::string text;
  lm_nmc_result_t result = extract(context, key, occurrence, &text);
  if (result != LM_NMC_OK) return result;
  if (text.empty() || (!std::isdigit(static_cast<unsigned char>(text[0])) && text[0] != '-')) return NMC_DMR_BAD_VALUE;
  *value = static_cast<int32_t>(std::strtol(text.c_str(), nullptr, 10));
  return LM_NMC_OK;
}

extern "C" KESTREL_API lm_nmc_result_t lm_queue_extract_metadata_uint64(uint32_t context, const char *key,
                                                                        uint32_t occurrence, uint64_t *value) {
  if (value != nullptr) *value = 0;
  if (value == nullptr) return LM_NMC_INVALID_PARAMETER;
  std::string text;
  lm_nmc_result_t result = extract(context, key, occurrence, &text);
  if (result != LM_NMC_OK) return result;
  if (text.empty() || !std::isdigit(static_cast<unsigned char>(text[0]))) return NMC_DMR_BAD_VALUE;
  *value = std::strtoull(text.c_str(), nullptr, 10);
  return LM_NMC_OK;
}

extern "C" KESTREL_API lm_nmc_result_t lm_queue_load_metadata(uint32_t context) {
  std::string metadata;
  return entry_metadata(context, &metadata);
}
