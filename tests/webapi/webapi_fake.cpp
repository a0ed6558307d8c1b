// The fake controller table (see webapi_fake.h).
#include "webapi_fake.h"

#include <cstdio>
#include <cstring>
#include <mutex>
#include <set>

namespace webapi_fake {
namespace {

// Requests of the threaded tests call in from several server threads.
std::mutex g_mutex;
std::vector<std::string> g_calls;
std::set<std::string> g_fail;
int g_open = 0;
uint32_t g_next = 1;
unsigned g_results = 0;
std::string g_bookmark = "item/1 a&b";

lm_nmc_result_t note(const std::string &call, const char *operation) {
  std::lock_guard<std::mutex> hold(g_mutex);
  g_calls.push_back(call);
  return g_fail.count(operation) ? 701u : LM_NMC_OK;
}

lm_nmc_result_t create(uint32_t *context) {
  std::lock_guard<std::mutex> hold(g_mutex);
  if (g_fail.count("create")) return LM_NMC_NO_FREE_CONTEXT;
  *context = 0x10000u + g_next++;
  ++g_open;
  g_calls.push_back("create");
  return LM_NMC_OK;
}
lm_nmc_result_t destroy(uint32_t) {
  std::lock_guard<std::mutex> hold(g_mutex);
  --g_open;
  g_calls.push_back("delete");
  return g_fail.count("delete") ? LM_NMC_INVALID_PARAMETER : LM_NMC_OK;
}
lm_nmc_result_t go_bookmark(uint32_t, const char *b) { return note(std::string("go_bookmark ") + b, "go_bookmark"); }
lm_nmc_result_t go_index(uint32_t, uint32_t i) { return note("go_index " + std::to_string(i), "go_index"); }
lm_nmc_result_t ioctl(uint32_t, const char *command, uint32_t size, char *out) {
  lm_nmc_result_t r = note(std::string("ioctl ") + command, "ioctl");
  if (std::strncmp(command, "DMRCanPlay", 10) == 0) return std::strstr(command, "playable") ? 0u : 714u;
  if (r == LM_NMC_OK && std::strcmp(command, "DMRGetSinkProtocolInfo") == 0) {
    // A list as renderers give it: spaces after commas, an empty entry.
    return std::snprintf(out, size, "%s", "http-get:*:audio/mpeg:*, http-get:*:audio/L16;rate=44100;channels=2:*,,"
                                          "http-get:*:audio/mpeg:DLNA.ORG_PN=MP3") < static_cast<int>(size)
               ? LM_NMC_OK
               : LM_NMC_BUFFER_TOO_SMALL;
  }
  if (r == LM_NMC_OK && size > 0) std::snprintf(out, size, "%s", "1.2.3");
  return r;
}
lm_nmc_result_t get_mute(uint32_t, int *on) {
  *on = 1;
  return note("get_mute", "get_mute");
}
lm_nmc_result_t set_mute(uint32_t, int on) { return note("set_mute " + std::to_string(on), "set_mute"); }
lm_nmc_result_t pause_(uint32_t, int r) { return note("pause " + std::to_string(r), "pause"); }
lm_nmc_result_t play(uint32_t, uint32_t mode) { return note("play " + std::to_string(mode), "play"); }
lm_nmc_result_t stop(uint32_t) { return note("stop", "stop"); }
lm_nmc_result_t seek_caps(uint32_t, uint32_t *bits) {
  *bits = 7;
  return note("get_seek_capabilities", "get_seek_capabilities");
}
lm_nmc_result_t seek_percent(uint32_t, uint32_t p) { return note("seek_percent " + std::to_string(p), "seek"); }
lm_nmc_result_t seek_bytes(uint32_t, int64_t p) { return note("seek_bytes " + std::to_string(p), "seek"); }
lm_nmc_result_t seek_time(uint32_t, int64_t p) { return note("seek_time " + std::to_string(p), "seek"); }
lm_nmc_result_t get_state(uint32_t, uint32_t *state, uint32_t ps, char *p, uint32_t ds, char *d) {
  *state = 1;
  std::snprintf(p, ps, "0:00:10");
  std::snprintf(d, ds, "0:03:00");
  return note("get_state", "get_state");
}
lm_nmc_result_t get_volume(uint32_t, uint32_t *v) {
  *v = 42;
  return note("get_volume_percent", "get_volume_percent");
}
lm_nmc_result_t set_volume(uint32_t, uint32_t v) { return note("set_volume_percent " + std::to_string(v), "volume"); }
lm_nmc_result_t get_db(uint32_t, int32_t *v) {
  *v = -12;
  return note("get_volume_db", "get_volume_db");
}
lm_nmc_result_t set_db(uint32_t, int32_t v) { return note("set_volume_db " + std::to_string(v), "volume"); }
lm_nmc_result_t db_range(uint32_t, int32_t *lo, int32_t *hi) {
  *lo = -60;
  *hi = 0;
  return note("get_volume_db_range", "get_volume_db_range");
}
lm_nmc_result_t playindex(uint32_t, int32_t *i, uint32_t *p) {
  *i = 3;
  *p = 5;
  return note("get_playindex", "get_playindex");
}
lm_nmc_result_t queue_go(uint32_t, uint32_t i) { return note("queue_go_index " + std::to_string(i), "queue_go_index"); }
lm_nmc_result_t add_bookmark(uint32_t, const char *b) { return note(std::string("add_bookmark ") + b, "add_bookmark"); }
lm_nmc_result_t add_metadata(uint32_t, const char *url, const char *metadata) {
  return note(std::string("add_metadata ") + (url ? url : "<none>") + " " + (metadata ? metadata : "<none>"),
              "add_metadata");
}
lm_nmc_result_t delete_item(uint32_t) { return note("delete_item", "delete_item"); }
lm_nmc_result_t move_to(uint32_t, uint32_t t) { return note("move_to " + std::to_string(t), "move_to"); }
lm_nmc_result_t clear(uint32_t) { return note("clear", "clear"); }
lm_nmc_result_t search(uint32_t, const char *q) { return note(std::string("search ") + q, "search"); }
lm_nmc_result_t count(uint32_t, uint32_t *n) {
  {
    std::lock_guard<std::mutex> hold(g_mutex);
    *n = g_results;
  }
  return note("get_count", "get_count");
}
lm_nmc_result_t metadata(uint32_t, uint32_t size, char *buffer) {
  std::snprintf(buffer, size, "<DIDL-Lite><item id=\"1\"><dc:title>T</dc:title></item></DIDL-Lite>");
  return note("get_metadata", "get_metadata");
}
lm_nmc_result_t extract(uint32_t, const char *, uint32_t, uint32_t size, char *buffer) {
  std::snprintf(buffer, size, "Song & \"Title\" <1>");
  return note("extract", "extract");
}
lm_nmc_result_t bookmark(uint32_t, uint32_t size, char *buffer) {
  {
    std::lock_guard<std::mutex> hold(g_mutex);
    std::snprintf(buffer, size, "%s", g_bookmark.c_str());
  }
  return note("get_bookmark", "get_bookmark");
}
int terminating(void) { return 0; }

const webapi_controller kFake = {
    create,     destroy,    go_bookmark, go_index,     ioctl,        get_mute,    set_mute, pause_,
    play,       stop,       seek_caps,   seek_percent, seek_bytes,   seek_time,   get_state, get_volume,
    set_volume, get_db,     set_db,      db_range,     ioctl,        playindex,   queue_go, add_bookmark,
    add_metadata, delete_item, move_to,  clear,        create,       destroy,     go_bookmark, search,
    count,      go_index,   metadata,    extract,      bookmark,     terminating,
};

}  // namespace

void install() {
  {
    std::lock_guard<std::mutex> hold(g_mutex);
    g_calls.clear();
    g_fail.clear();
    g_open = 0;
    g_results = 0;
    g_bookmark = "item/1 a&b";
  }
  webapi_controller_set(&kFake);
}
void remove() { webapi_controller_set(nullptr); }
std::vector<std::string> calls() {
  std::lock_guard<std::mutex> hold(g_mutex);
  return g_calls;
}
int open_contexts() {
  std::lock_guard<std::mutex> hold(g_mutex);
  return g_open;
}
void fail(const std::string &operation) {
  std::lock_guard<std::mutex> hold(g_mutex);
  g_fail.insert(operation);
}
void set_search_results(unsigned n) {
  std::lock_guard<std::mutex> hold(g_mutex);
  g_results = n;
}

void set_bookmark(const std::string &bookmark) {
  std::lock_guard<std::mutex> hold(g_mutex);
  g_bookmark = bookmark;
}

}  // namespace webapi_fake
