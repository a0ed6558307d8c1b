// The queue commands of the XML interface: CreateQueue ... ReleaseQueue.
// Each names its queue by "QueueID"; a command with a missing or unknown
// queue, index or bookmark answers its error and leaves the queue as it was.
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "base/upnp_thread.h"
#include "cp/upnp_cp.h"
#include "nmc/lm_ldmr_ops.h"
#include "nmc/lm_nmc_api.h"
#include "nmc/lm_nmc_queue.h"
#include "nmc/lm_nmc_text.h"

namespace {

const size_t k_max_id = 256;

void fail(nmc_api_answer *answer, uint32_t code, const char *text) {
  answer->body.clear();
  answer->code = code;
  if (text != nullptr) answer->result_text = text;
}

const char *param(upnp_xml_node *command, const char *name) {
  return upnp_xml_find_tag_value(command->children, name);
}
bool has_param(upnp_xml_node *command, const char *name) {
  return upnp_xml_find_tag(command->children, name) != nullptr;
}

// A number parameter: false when missing or not a number.
bool number(upnp_xml_node *command, const char *name, long long *value) {
  const char *text = param(command, name);
  if (text == nullptr || (!std::isdigit(static_cast<unsigned char>(text[0])) && text[0] != '-')) return false;
  char *end = nullptr;
  *value = std::strtoll(text, &end, 10);
  return end != text && *end == '\0';
}

bool truth(const char *text) { return text != nullptr && (strcasecmp(text, "true") == 0 || std::strcmp(text, "1") == 0); }

// The queue of "QueueID"; answers the error itself when there is none.
nmc_queue_ref named_queue(upnp_xml_node *command, nmc_api_answer *answer) {
  const char *id = param(command, "QueueID");
  if (id == nullptr) {
    fail(answer, LM_NMC_INVALID_PARAMETER, "Missing QueueID");
    return nullptr;
  }
  if (id[0] == '\0' || std::strlen(id) > k_max_id) {
    fail(answer, LM_NMC_INVALID_PARAMETER, "Invalid QueueID");
    return nullptr;
  }
  if (!nmc_queue_list_open()) {
    fail(answer, LM_NMC_GOING_DOWN, nullptr);
    return nullptr;
  }
  nmc_queue_ref queue = nmc_queue_find(id);
  if (queue == nullptr) fail(answer, LM_NMC_INVALID_PARAMETER, "No such queue");
  return queue;
}

void add_element(nmc_api_answer *answer, const char *name, const std::string &value) {
  answer->body += std::string("<") + name + ">" + nmc_xml_escape(value.c_str()) + "</" + name + ">";
}

void create_queue(upnp_xml_node *command, nmc_api_answer *answer) {
  const char *given = param(command, "QueueID");
  if (given != nullptr && (given[0] == '\0' || std::strlen(given) > k_max_id)) {
    return fail(answer, LM_NMC_INVALID_PARAMETER, "Invalid QueueID");
  }
  long long renderer = -1;
  if (has_param(command, "RendererIndex") && !number(command, "RendererIndex", &renderer)) {
    return fail(answer, LM_NMC_INVALID_PARAMETER, nullptr);
  }
  std::string id = given != nullptr ? given : nmc_queue_new_id();
  answer->code = nmc_queue_create(id, static_cast<int>(renderer));
  if (answer->code == NMC_QUEUE_EXISTS && renderer >= 0) {
    // The renderer came back under a new index: its queue follows it.
    nmc_queue_ref queue = nmc_queue_find(id);
    if (queue != nullptr) {
      std::lock_guard<std::recursive_mutex> hold(queue->lock);
      queue->play.renderer = static_cast<int>(renderer);
    }
  }
  add_element(answer, "QueueID", id);
}

void get_queues(upnp_xml_node *, nmc_api_answer *answer) {
  if (!nmc_queue_list_open()) return fail(answer, LM_NMC_GOING_DOWN, nullptr);
  for (const std::string &id : nmc_queue_ids()) add_element(answer, "QueueID", id);
}

void queue_info(upnp_xml_node *command, nmc_api_answer *answer) {
  nmc_queue_ref queue = named_queue(command, answer);
  if (queue == nullptr) return;
  std::lock_guard<std::recursive_mutex> hold(queue->lock);
  const nmc_queue_play &play = queue->play;
  int index = -1;
  uint32_t pending = 0;
  nmc_queue_play_index(*queue, &index, &pending);
  answer->body = "<Count>" + std::to_string(queue->entries.size()) + "</Count><Active>" +
                 (play.playing ? "true" : "false") + "</Active><RendererIndex>" + std::to_string(play.renderer) +
                 "</RendererIndex><SlideshowInterval>" + std::to_string(play.interval) +
                 "</SlideshowInterval><SlideshowTransitWaitTime>" + std::to_string(play.transit_wait) +
                 "</SlideshowTransitWaitTime><PlayMode>" + nmc_queue_mode_name(play.mode) + "</PlayMode><Repeat>" +
                 (play.repeat ? "true" : "false") + "</Repeat><Consume>" + (play.consume ? "true" : "false") +
                 "</Consume><Slideshow>" + (play.slideshow ? "true" : "false") + "</Slideshow><CurrentIndex>" +
                 std::to_string(index) + "</CurrentIndex><Pending>" + std::to_string(pending) + "</Pending>";
}

void add_to_queue(upnp_xml_node *command, nmc_api_answer *answer) {
  nmc_queue_ref queue = named_queue(command, answer);
  if (queue == nullptr) return;
  nmc_queue_entry entry;
  const char *bookmark = param(command, "Bookmark");
  const char *url = param(command, "URL");
  const char *udn = param(command, "ServerUDN");
  const char *object = param(command, "ObjectID");
  const char *metadata = param(command, "MetaData");
  if (bookmark != nullptr) entry.bookmark = bookmark;
  if (url != nullptr) entry.url = url;
  if (metadata != nullptr) entry.metadata = metadata;
  if (udn != nullptr && udn[0] != '\0' && object != nullptr && object[0] != '\0') {
    entry.server_udn = udn;
    entry.object_id = object;
  } else if (!entry.bookmark.empty() && entry.url.empty() &&
             !nmc_queue_split_bookmark(bookmark, &entry.server_udn, &entry.object_id)) {
    return fail(answer, LM_NMC_INVALID_PARAMETER, "Invalid bookmark");
  }
  if (entry.url.empty() && entry.server_udn.empty()) return fail(answer, LM_NMC_INVALID_PARAMETER, "Missing URL or bookmark");
  if (entry.url.empty() && (entry.object_id.empty() || entry.object_id == "-")) {
    return fail(answer, LM_NMC_INVALID_PARAMETER, "Invalid bookmark");
  }
  long long index = -1;
  if (has_param(command, "Index") && (!number(command, "Index", &index) || index < 0)) {
    return fail(answer, LM_NMC_INVALID_PARAMETER, "Index invalid");
  }
  nmc_queue_event_out out;
  {
    std::lock_guard<std::recursive_mutex> hold(queue->lock);
    uint32_t position = index < 0 ? static_cast<uint32_t>(queue->entries.size()) : static_cast<uint32_t>(index);
    answer->index = static_cast<int>(nmc_queue_insert(*queue, std::move(entry), position));
    out = nmc_queue_event_make(*queue, NMC_QUEUE_ITEM_ADDED);
  }
  nmc_queue_event_send(out);
}

void remove_from_queue(upnp_xml_node *command, nmc_api_answer *answer) {
  nmc_queue_ref queue = named_queue(command, answer);
  if (queue == nullptr) return;
  long long index = -1;
  if (!number(command, "Index", &index) || index < 0) return fail(answer, LM_NMC_INVALID_PARAMETER, "Index invalid");
  nmc_queue_event_out out;
  {
    std::lock_guard<std::recursive_mutex> hold(queue->lock);
    if (index > 0xFFFFFFFFll || !nmc_queue_remove_at(*queue, static_cast<uint32_t>(index))) {
      return fail(answer, LM_NMC_INVALID_PARAMETER, "Index invalid");
    }
    out = nmc_queue_event_make(*queue, NMC_QUEUE_ITEM_REMOVED);
  }
  answer->index = static_cast<int>(index);
  nmc_queue_event_send(out);
}

void clear_queue(upnp_xml_node *command, nmc_api_answer *answer) {
  nmc_queue_ref queue = named_queue(command, answer);
  if (queue == nullptr) return;
  nmc_queue_event_out out;
  {
    std::lock_guard<std::recursive_mutex> hold(queue->lock);
    nmc_queue_clear_entries(*queue);
    out = nmc_queue_event_make(*queue, NMC_QUEUE_CLEARED);
  }
  nmc_queue_event_send(out);
}

void move_in_queue(upnp_xml_node *command, nmc_api_answer *answer) {
  nmc_queue_ref queue = named_queue(command, answer);
  if (queue == nullptr) return;
  long long count = 1;
  long long start = -1;
  long long target = -1;
  if ((has_param(command, "RequestCount") && !number(command, "RequestCount", &count)) ||
      !number(command, "StartIndex", &start) || !number(command, "TargetIndex", &target) || start < 0 || count < 1 ||
      target < -1 || start > 0xFFFFFFFFll || count > 0xFFFFFFFFll || target > 0x7FFFFFFFll) {
    return fail(answer, LM_NMC_INVALID_PARAMETER, "Index invalid");
  }
  nmc_queue_event_out out;
  {
    std::lock_guard<std::recursive_mutex> hold(queue->lock);
    if (!nmc_queue_move(*queue, static_cast<uint32_t>(start), static_cast<uint32_t>(count), static_cast<int>(target))) {
      return fail(answer, LM_NMC_INVALID_PARAMETER, "Index invalid");
    }
    out = nmc_queue_event_make(*queue, NMC_QUEUE_ITEM_MOVED);
  }
  nmc_queue_event_send(out);
}

std::string object_element(const nmc_queue_entry &entry, size_t index) {
  std::string text = "<Object index=\"" + std::to_string(index) + "\">";
  if (!entry.bookmark.empty()) text += "<Bookmark>" + nmc_xml_escape(entry.bookmark.c_str()) + "</Bookmark>";
  if (!entry.server_udn.empty()) {
    text += "<ServerUDN>" + nmc_xml_escape(entry.server_udn.c_str()) + "</ServerUDN><ObjectID>" +
            nmc_xml_escape(entry.object_id.c_str()) + "</ObjectID>";
  }
  if (!entry.url.empty()) text += "<URL>" + nmc_xml_escape(entry.url.c_str()) + "</URL>";
  return text + "<MetaData>" + nmc_xml_escape(entry.metadata.c_str()) + "</MetaData></Object>";
}

void browse_queue(upnp_xml_node *command, nmc_api_answer *answer) {
  nmc_queue_ref queue = named_queue(command, answer);
  if (queue == nullptr) return;
  long long start = 0;
  long long count = 0;
  if ((has_param(command, "StartIndex") && !number(command, "StartIndex", &start)) ||
      (has_param(command, "RequestCount") && !number(command, "RequestCount", &count)) || start < 0 || count < 0) {
    return fail(answer, LM_NMC_INVALID_PARAMETER, "Start index invalid");
  }
  std::lock_guard<std::recursive_mutex> hold(queue->lock);
  const size_t total = queue->entries.size();
  if (static_cast<unsigned long long>(start) >= total && !(start == 0 && total == 0)) {
    return fail(answer, LM_NMC_INVALID_PARAMETER, "Start index invalid");
  }
  size_t end = count == 0 || static_cast<unsigned long long>(start + count) > total
                   ? total
                   : static_cast<size_t>(start + count);
  for (size_t i = static_cast<size_t>(start); i < end; ++i) answer->body += object_element(queue->entries[i], i);
  answer->body += "<NumberReturned>" + std::to_string(end - static_cast<size_t>(start)) +
                  "</NumberReturned><TotalMatches>" + std::to_string(total) + "</TotalMatches>";
}

// The position of the entry named by "Bookmark" or by "ServerUDN" and
// "ObjectID"; -1 when not there, -2 when the command names none.
int find_object(const nmc_queue &queue, upnp_xml_node *command) {
  const char *bookmark = param(command, "Bookmark");
  const char *udn = param(command, "ServerUDN");
  const char *object = param(command, "ObjectID");
  if (bookmark != nullptr && bookmark[0] != '\0') {
    for (size_t i = 0; i < queue.entries.size(); ++i) {
      if (queue.entries[i].bookmark == bookmark) return static_cast<int>(i);
    }
    return -1;
  }
  if (udn == nullptr || object == nullptr || udn[0] == '\0') return -2;
  for (size_t i = 0; i < queue.entries.size(); ++i) {
    if (queue.entries[i].server_udn == udn && queue.entries[i].object_id == object) return static_cast<int>(i);
  }
  return -1;
}

void queue_contains(upnp_xml_node *command, nmc_api_answer *answer) {
  nmc_queue_ref queue = named_queue(command, answer);
  if (queue == nullptr) return;
  std::lock_guard<std::recursive_mutex> hold(queue->lock);
  int position = find_object(*queue, command);
  if (position == -2) return fail(answer, LM_NMC_INVALID_PARAMETER, "Missing bookmark");
  answer->body = std::string("<Contains>") + (position >= 0 ? "true" : "false") + "</Contains>";
}

void index_of_object(upnp_xml_node *command, nmc_api_answer *answer) {
  nmc_queue_ref queue = named_queue(command, answer);
  if (queue == nullptr) return;
  std::lock_guard<std::recursive_mutex> hold(queue->lock);
  int position = find_object(*queue, command);
  if (position == -2) return fail(answer, LM_NMC_INVALID_PARAMETER, "Missing bookmark");
  if (position < 0) return fail(answer, LM_NMC_NOT_FOUND, nullptr);
  answer->body = "<Object index=\"" + std::to_string(position) + "\"/>";
  answer->index = position;
}

void shuffle_queue(upnp_xml_node *command, nmc_api_answer *answer) {
  nmc_queue_ref queue = named_queue(command, answer);
  if (queue == nullptr) return;
  nmc_queue_event_out out;
  {
    std::lock_guard<std::recursive_mutex> hold(queue->lock);
    nmc_queue_shuffle(*queue);
    out = nmc_queue_event_make(*queue, NMC_QUEUE_SHUFFLED);
  }
  nmc_queue_event_send(out);
}

// "PlayMode": a mode name or its number.
bool mode_param(upnp_xml_node *command, uint32_t *mode) {
  const char *text = param(command, "PlayMode");
  if (text == nullptr) return false;
  if (nmc_queue_mode_of(text, mode)) return true;
  if (strcasecmp(text, "Normal") == 0) return (*mode = NMC_QUEUE_MODE_NORMAL), true;
  long long value = 0;
  if (!number(command, "PlayMode", &value) || value < 0 || value > 0xFFFF) return false;
  *mode = static_cast<uint32_t>(value);
  return true;
}

void change_play_mode(upnp_xml_node *command, nmc_api_answer *answer) {
  nmc_queue_ref queue = named_queue(command, answer);
  if (queue == nullptr) return;
  uint32_t mode = 0;
  if (!mode_param(command, &mode)) return fail(answer, LM_NMC_INVALID_PARAMETER, "Invalid PlayMode");
  std::lock_guard<std::recursive_mutex> hold(queue->lock);
  answer->code = nmc_queue_set_mode(*queue, mode);
}

void skip_object(upnp_xml_node *command, nmc_api_answer *answer) {
  nmc_queue_ref queue = named_queue(command, answer);
  if (queue == nullptr) return;
  const char *where = param(command, "Direction");
  if (where == nullptr) where = param(command, "Skip");
  if (where == nullptr) return fail(answer, LM_NMC_INVALID_PARAMETER, "Missing direction");
  const char *play = param(command, "Play");
  answer->code = nmc_queue_skip(queue, where, play == nullptr || truth(play));
  std::lock_guard<std::recursive_mutex> hold(queue->lock);
  int index = -1;
  uint32_t pending = 0;
  nmc_queue_play_index(*queue, &index, &pending);
  answer->body = "<CurrentIndex>" + std::to_string(index) + "</CurrentIndex>";
}

void play_queue(upnp_xml_node *command, nmc_api_answer *answer) {
  nmc_queue_ref queue = named_queue(command, answer);
  if (queue == nullptr) return;
  long long start = 0;
  const bool has_start = has_param(command, "StartIndex");
  if (has_start && !number(command, "StartIndex", &start)) return fail(answer, LM_NMC_INVALID_PARAMETER, "Start index invalid");
  long long renderer = -1;
  if (has_param(command, "RendererIndex") && !number(command, "RendererIndex", &renderer)) {
    return fail(answer, LM_NMC_INVALID_PARAMETER, nullptr);
  }
  long long value = 0;
  int target = -1;
  {
    std::lock_guard<std::recursive_mutex> hold(queue->lock);
    nmc_queue_play &play = queue->play;
    if (has_start && start >= 0 && static_cast<unsigned long long>(start) >= queue->entries.size() &&
        !queue->entries.empty()) {
      return fail(answer, LM_NMC_INVALID_PARAMETER, "Start index invalid");
    }
    if (renderer >= 0) play.renderer = static_cast<int>(renderer);
    uint32_t mode = 0;
    if (has_param(command, "PlayMode") && mode_param(command, &mode)) nmc_queue_set_mode(*queue, mode);
    if (number(command, "SlideshowInterval", &value) && value >= 0 && value <= 0xFFFF) {
      play.interval = static_cast<uint16_t>(value);
    }
    if (number(command, "SlideshowTransitWaitTime", &value) && value >= 0 && value <= 0xFFFF) {
      play.transit_wait = static_cast<uint16_t>(value);
    }
    if (has_param(command, "Repeat")) play.repeat = truth(param(command, "Repeat"));
    if (has_param(command, "Consume")) play.consume = truth(param(command, "Consume"));
    if (play.mode == NMC_QUEUE_MODE_SHUFFLE) nmc_queue_shuffle(*queue);
    target = play.renderer;
  }
  if (target < 0) return fail(answer, LM_NMC_INVALID_INDEX, "No index specified and no default set");
  if (has_start && start >= 0) nmc_queue_reposition(queue, static_cast<uint32_t>(start), false);
  if (!nmc_ldmr_is_local(target)) {
    upnp_control_enable_auto_subscription(target, 1, UPNP_CP_KIND_RENDERER);
    Sleep(50);
  }
  answer->code = nmc_queue_play_current(queue);
  bool slideshow = false;
  {
    std::lock_guard<std::recursive_mutex> hold(queue->lock);
    int index = -1;
    uint32_t pending = 0;
    nmc_queue_play_index(*queue, &index, &pending);
    answer->body = "<CurrentIndex>" + std::to_string(index) + "</CurrentIndex>";
    answer->index = target;
    slideshow = answer->code == LM_NMC_OK && queue->play.slideshow && queue->play.interval > 0;
    // The timer starts as if the renderer had reported PLAYING.
    if (slideshow) queue->play.last_event_ms = getSystemTime();
  }
  if (answer->code != LM_NMC_OK) return;
  nmc_queue_raise(queue, NMC_QUEUE_PLAYING);
  if (slideshow) nmc_queue_slideshow_start(queue);
}

void release_queue(upnp_xml_node *command, nmc_api_answer *answer) {
  nmc_queue_ref queue = named_queue(command, answer);
  if (queue == nullptr) return;
  if (!nmc_queue_release_id(queue->id)) fail(answer, LM_NMC_INVALID_PARAMETER, "No such queue");
}

struct Command {
  const char *name;
  nmc_api_handler handler;
};
const Command k_commands[] = {
    {"CreateQueue", create_queue},          {"GetQueues", get_queues},
    {"GetQueueInfo", queue_info},           {"GetPlayQueueInfo", queue_info},
    {"AddToQueue", add_to_queue},           {"RemoveFromQueue", remove_from_queue},
    {"ClearQueue", clear_queue},            {"MoveInQueueByIndex", move_in_queue},
    {"BrowseQueue", browse_queue},          {"QueueContainsObject", queue_contains},
    {"IndexOfQueueObject", index_of_object}, {"ShuffleQueue", shuffle_queue},
    {"ChangeQueuePlayMode", change_play_mode}, {"SkipQueueObject", skip_object},
    {"PlayQueue", play_queue},              {"ReleaseQueue", release_queue},
};

}  // namespace

nmc_api_handler nmc_api_find_queue_command(const char *name) {
  if (name == nullptr) return nullptr;
  for (const Command &command : k_commands) {
    if (std::strcmp(command.name, name) == 0) return command.handler;
  }
  return nullptr;
}
