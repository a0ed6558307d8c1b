// kestrel-nmc's queue commands: add a server bookmark or a URL after the
// queue cursor, list the queue, play it (shuffle, repeat, repeat-one,
// consume), skip, clear, and print the queue events as they arrive.
#include "queue_commands.h"

#include <cstdlib>
#include <sstream>

#include "base/upnp_mem.h"
#include "cp/upnp_soap.h"
#include "nmc/lm_dmrcp.h"
#include "nmc/lm_queue.h"

namespace {

void (*g_print)(const std::string &) = nullptr;

std::string result(lm_nmc_result_t code) {
  const char *text = code == 0 ? "OK" : upnp_get_errmsg(static_cast<int>(code));
  return std::to_string(code) + " " + (text != nullptr ? text : "");
}

const char *event_name(uint32_t event) {
  switch (event) {
    case 0: return "Stopped";
    case 1: return "Playing";
    case 1001: return "cleared";
    case 1002: return "shuffled";
    case 1003: return "item_removed";
    case 1004: return "item_added";
    case 1005: return "item_moved";
    default: return "?";
  }
}

void on_queue(uint32_t context, uint32_t event, uint32_t index, uint32_t pending) {
  if (g_print != nullptr) {
    g_print("queue    ctx " + std::to_string(context) + " " + event_name(event) + " index " + std::to_string(index) +
            " pending " + std::to_string(pending));
  }
}

std::string escaped(const std::string &text) {
  std::string out;
  for (char c : text) out += c == '<' ? "&lt;" : c == '>' ? "&gt;" : c == '&' ? "&amp;" : c == '"' ? "&quot;" : std::string(1, c);
  return out;
}

// Minimal DIDL-Lite for a URL: its title and one res (MIME from the name).
std::string didl_of(const std::string &url, const std::string &title) {
  std::string mime = "audio/mpeg";
  if (url.size() > 4 && url.compare(url.size() - 4, 4, ".wav") == 0) mime = "audio/wav";
  if (url.size() > 4 && url.compare(url.size() - 4, 4, ".jpg") == 0) mime = "image/jpeg";
  const char *kind = mime == "image/jpeg" ? "object.item.imageItem.photo" : "object.item.audioItem.musicTrack";
  return "<DIDL-Lite xmlns=\"urn:schemas-upnp-org:metadata-1-0/DIDL-Lite/\" xmlns:dc=\"http://purl.org/dc/elements/1.1/\" "
         "xmlns:upnp=\"urn:schemas-upnp-org:metadata-1-0/upnp/\"><item id=\"url\" parentID=\"-1\" restricted=\"1\">"
         "<dc:title>" + escaped(title) + "</dc:title><upnp:class>" + kind +
         "</upnp:class><res protocolInfo=\"http-get:*:" + mime + ":*\">" + escaped(url) + "</res></item></DIDL-Lite>";
}

void list(uint32_t context, void (*print)(const std::string &)) {
  uint32_t count = 0;
  lm_nmc_result_t rc = lm_queue_get_count(context, &count);
  int32_t playing = -1;
  uint32_t pending = 0;
  lm_queue_get_playindex(context, &playing, &pending);
  print("queue    " + std::to_string(count) + " entries, playing " + std::to_string(playing) + ", pending " +
        std::to_string(pending) + " (" + result(rc) + ")");
  uint32_t cursor = 0;
  lm_queue_get_index(context, &cursor);
  for (uint32_t i = 0; i < count; ++i) {
    lm_queue_go_index(context, i);
    char title[512] = "";
    char where[1024] = "";
    lm_queue_extract_metadata(context, "dc:title", 0, sizeof title, title);
    if (lm_queue_get_bookmark(context, sizeof where, where) != 0) lm_queue_extract_metadata(context, "res", 0, sizeof where, where);
    print(std::string("queue    ") + (static_cast<int32_t>(i) == playing ? "> " : "  ") + std::to_string(i) + " " +
          title + "  " + where);
  }
  lm_queue_go_index(context, cursor);
}

}  // namespace

const char *queue_commands_help(void) {
  return "  queue                  list the renderer's queue\n"
         "  queue-add BOOKMARK     add a server object after the queue cursor\n"
         "  queue-add-url URL [TITLE]  add a URL after the queue cursor\n"
         "  queue-play [shuffle] [repeat] [repeat-one] [consume]\n"
         "  queue-skip next|previous|current\n"
         "  queue-clear | queue-go N\n";
}

void queue_commands_listen(uint32_t context, void (*print)(const std::string &)) {
  g_print = print;
  lm_queue_register_callback(context, on_queue);
}

bool queue_commands_run(uint32_t context, const std::string &command, void (*print)(const std::string &)) {
  std::istringstream words(command);
  std::string name;
  words >> name;
  if (name.compare(0, 5, "queue") != 0) return false;
  std::string rest;
  std::getline(words >> std::ws, rest);
  const std::string prefix = "queue    " + command + " -> ";
  if (name == "queue") {
    list(context, print);
  } else if (name == "queue-add") {
    print(prefix + result(lm_queue_add_bookmark(context, rest.c_str())));
  } else if (name == "queue-add-url") {
    std::string url = rest.substr(0, rest.find(' '));
    std::string title = rest.size() > url.size() ? rest.substr(url.size() + 1) : url.substr(url.rfind('/') + 1);
    print(prefix + result(lm_queue_add_metadata(context, url.c_str(), didl_of(url, title).c_str())));
  } else if (name == "queue-play") {
    uint32_t flags = 0;
    std::istringstream options(rest);
    std::string option;
    while (options >> option) {
      if (option == "shuffle") flags |= LM_DMR_PLAY_SHUFFLE;
      else if (option == "repeat") flags |= LM_DMR_PLAY_REPEAT;
      else if (option == "repeat-one") flags |= LM_DMR_PLAY_REPEAT_ONE;
      else if (option == "consume") flags |= LM_DMR_PLAY_CONSUME;
    }
    lm_queue_go_index(context, 0);
    print(prefix + result(lm_dmrcp_play(context, flags)));
  } else if (name == "queue-skip") {
    char udn[256] = "";
    lm_dmrcp_get_bookmark(context, sizeof udn, udn);
    std::string xml = "<SkipQueueObject><QueueID>" + escaped(udn) + "</QueueID><Direction>" + escaped(rest) +
                      "</Direction></SkipQueueObject>";
    char *response = lm_nmc_api_query(xml.c_str(), 1);
    print(prefix + (response != nullptr ? response : "(none)"));
    upnp_free_impl(response);
  } else if (name == "queue-clear") {
    print(prefix + result(lm_queue_clear(context)));
  } else if (name == "queue-go") {
    print(prefix + result(lm_queue_go_index(context, static_cast<uint32_t>(std::strtoul(rest.c_str(), nullptr, 10)))));
  } else {
    return false;
  }
  return true;
}
