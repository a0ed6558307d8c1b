// Reading a renderer's queue for a handoff and writing it into another
// renderer's queue, through the queue commands of the XML interface.
#include "nmc/lm_nmc_handoff_queue.h"

#include <cstdlib>
#include <cstring>

#include "base/upnp_xml.h"

namespace {

std::string text_of(upnp_xml_node *object, const char *name) {
  const char *value = upnp_xml_find_tag_value(object->children, name);
  return value != nullptr ? value : "";
}

bool truth(const char *text) { return text != nullptr && (std::strcmp(text, "true") == 0 || std::strcmp(text, "1") == 0); }

}  // namespace

uint32_t nmc_handoff_read_queue(const nmc_dmr_target &renderer, nmc_handoff_queue *queue) {
  *queue = nmc_handoff_queue();
  nmc_dmr_reply info;
  uint32_t code = nmc_dmr_command("GetQueueInfo", renderer.index, {{"QueueID", renderer.udn}}, &info);
  if (code != 0) return code;
  const char *current = info.value("CurrentIndex");
  queue->current = current != nullptr ? std::atoi(current) : -1;
  const char *mode = info.value("PlayMode");
  queue->play_mode = mode != nullptr ? mode : "";
  queue->repeat = truth(info.value("Repeat"));
  queue->consume = truth(info.value("Consume"));
  queue->active = truth(info.value("Active"));
  const char *count = info.value("Count");
  if (count == nullptr || std::atoi(count) <= 0) {
    queue->current = -1;
    return 0;
  }
  nmc_dmr_reply browse;
  code = nmc_dmr_command("BrowseQueue", renderer.index, {{"QueueID", renderer.udn}, {"StartIndex", "0"}}, &browse);
  if (code != 0) return code;
  upnp_xml_node *first = browse.tree != nullptr ? upnp_xml_find_tag(browse.tree->children, "Object") : nullptr;
  for (upnp_xml_node *object = first; object != nullptr; object = upnp_xml_find_next_tag(object, "Object")) {
    nmc_handoff_entry entry;
    entry.bookmark = text_of(object, "Bookmark");
    entry.server_udn = text_of(object, "ServerUDN");
    entry.object_id = text_of(object, "ObjectID");
    entry.url = text_of(object, "URL");
    entry.metadata = text_of(object, "MetaData");
    queue->entries.push_back(std::move(entry));
  }
  if (queue->current >= static_cast<int>(queue->entries.size())) queue->current = -1;
  return 0;
}

uint32_t nmc_handoff_read_track(const nmc_dmr_target &renderer, nmc_handoff_queue *queue) {
  *queue = nmc_handoff_queue();
  nmc_dmr_reply reply;
  uint32_t code = nmc_dmr_command("GetPositionInfo", renderer.index, {}, &reply);
  if (code != 0) return code;
  const char *uri = reply.value("TrackURI");
  if (uri == nullptr || uri[0] == '\0') return 9;
  nmc_handoff_entry entry;
  entry.url = uri;
  const char *metadata = reply.value("TrackMetaData");
  if (metadata != nullptr && std::strcmp(metadata, "NOT_IMPLEMENTED") != 0) entry.metadata = metadata;
  queue->entries.push_back(std::move(entry));
  queue->current = 0;
  queue->active = true;
  queue->play_mode = "Normal";
  return 0;
}

uint32_t nmc_handoff_write_queue(const nmc_dmr_target &renderer, const std::vector<nmc_handoff_entry> &entries) {
  nmc_dmr_reply reply;
  uint32_t code = nmc_dmr_command("ClearQueue", renderer.index, {{"QueueID", renderer.udn}}, &reply);
  if (code != 0) return code;
  for (size_t i = 0; i < entries.size(); ++i) {
    const nmc_handoff_entry &entry = entries[i];
    std::vector<std::pair<std::string, std::string>> params{{"QueueID", renderer.udn}};
    if (!entry.bookmark.empty()) params.emplace_back("Bookmark", entry.bookmark);
    if (!entry.server_udn.empty()) {
      params.emplace_back("ServerUDN", entry.server_udn);
      params.emplace_back("ObjectID", entry.object_id);
    }
    if (!entry.url.empty()) params.emplace_back("URL", entry.url);
    params.emplace_back("MetaData", entry.metadata);
    params.emplace_back("Index", std::to_string(i));
    nmc_dmr_reply added;
    code = nmc_dmr_command("AddToQueue", renderer.index, params, &added);
    if (code != 0) return code;
  }
  return 0;
}

uint32_t nmc_handoff_play_queue(const nmc_dmr_target &renderer, const nmc_handoff_queue &like, int start) {
  // A shuffled queue is copied in its playing order; shuffling it again
  // would move the entry that plays.
  std::string mode = like.play_mode.empty() || like.play_mode == "SHUFFLE" || like.play_mode == "RANDOM"
                         ? "Normal"
                         : like.play_mode;
  nmc_dmr_reply reply;
  return nmc_dmr_command("PlayQueue", renderer.index,
                         {{"QueueID", renderer.udn},
                          {"StartIndex", std::to_string(start)},
                          {"PlayMode", mode},
                          {"Repeat", like.repeat ? "true" : "false"},
                          {"Consume", like.consume ? "true" : "false"}},
                         &reply);
}

std::string nmc_handoff_entry_title(const nmc_handoff_entry &entry) {
  if (entry.metadata.empty()) return "";
  upnp_xml_node *tree = upnp_xml_parse(entry.metadata.c_str());
  const char *title = tree != nullptr ? upnp_xml_find_tag_value(tree, "dc:title") : nullptr;
  std::string text = title != nullptr ? title : "";
  upnp_xml_release(tree);
  return text;
}
