#ifndef KESTREL_NMC_LM_NMC_QUEUE_H
#define KESTREL_NMC_LM_NMC_QUEUE_H

/* Renderer queues: the shared list of queues (queue-list lock), each queue
 * with its own lock, its entries and the play state of its renderer.
 *
 * Entries are never used through pointers across a network request: a
 * caller copies what it needs under the queue's lock, releases the lock for
 * the request, and finds the entry again by its number afterwards. Queues
 * are shared records, so a thread that still works on a queue that was
 * released (or taken out at the stop) holds a valid record; the `released`
 * mark tells it to leave. */

#include <stdint.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "nmc/lm_nmc.h"
#include "nmc/lm_nmc_api.h"

/* Queue events (callback identifiers) and their "EventType" names. */
#define NMC_QUEUE_STOPPED 0u
#define NMC_QUEUE_PLAYING 1u
#define NMC_QUEUE_CLEARED 1001u
#define NMC_QUEUE_SHUFFLED 1002u
#define NMC_QUEUE_ITEM_REMOVED 1003u
#define NMC_QUEUE_ITEM_ADDED 1004u
#define NMC_QUEUE_ITEM_MOVED 1005u
const char *nmc_queue_event_name(uint32_t event);

/* Play modes. */
#define NMC_QUEUE_MODE_NORMAL 0u
#define NMC_QUEUE_MODE_SHUFFLE 1u
#define NMC_QUEUE_MODE_REPEAT_ONE 2u
#define NMC_QUEUE_MODE_REPEAT_ALL 3u
#define NMC_QUEUE_MODE_RANDOM 4u
#define NMC_QUEUE_MODE_DIRECT_1 5u
#define NMC_QUEUE_MODE_NONE 65535u

/* 99:59:59, a duration that means "unknown". */
#define NMC_QUEUE_UNKNOWN_DURATION 359999000ull

/* Result codes of the queue beyond lm_nmc.h. */
#define NMC_QUEUE_EXISTS 12u
#define NMC_QUEUE_USER_STOPPED 20u

/* A local file shared through the library's HTTP server for a queued
 * entry: the share ends when the last copy of the entry goes
 * (lm_nmc_queue_share.cpp). */
struct nmc_queue_share;
std::shared_ptr<nmc_queue_share> nmc_queue_share_of(const std::string &url);

struct nmc_queue_entry {
  uint64_t id = 0;  // number that names the entry while it lives
  std::string bookmark;
  std::string server_udn;
  std::string object_id;
  std::string metadata;
  std::string url;
  std::shared_ptr<nmc_queue_share> share;  // set when url names a shared local file
};

struct nmc_queue_play {
  int renderer = -1;
  uint64_t current = 0;    // entry number, 0 none
  uint64_t following = 0;  // the entry after a removed current one
  uint32_t mode = NMC_QUEUE_MODE_NORMAL;
  uint16_t interval = 3;
  uint16_t transit_wait = 20;
  uint64_t start_ms = 0;
  uint64_t expected_size = 0;
  uint64_t duration_ms = 0;
  uint64_t last_event_ms = 0;
  uint64_t transitioning_ms = 0;
  int last_state = -1;
  bool repeat = false;
  bool consume = false;
  bool playing = false;
  bool slideshow = false;
  bool slideshow_paused = false;
  bool own_transition = false;
  bool user_stopped = false;
  bool stopped_sent = false;
  // The user stopped while the controller was changing tracks: the next
  // PLAYING is answered with Stop.
  bool stop_pending = false;
  // The slideshow timer that belongs to the queue (0: none); a timer whose
  // number is no longer this one leaves.
  uint64_t slideshow_timer = 0;
  uint64_t last_advance_ms = 0;
};

/* fn(queueId, rendererIndex, event, currentIndex, pending, flag). */
typedef void (*nmc_queue_event_fn)(const char *queue_id, int renderer, uint32_t event, uint32_t current_index,
                                   uint32_t pending, int flag);
/* The owner's release callback, called with 2 for each play state at exit. */
typedef void (*nmc_queue_release_fn)(void *owner, int what);

struct nmc_queue {
  std::recursive_mutex lock;
  std::string id;
  std::vector<nmc_queue_entry> entries;
  uint64_t next_entry = 1;
  nmc_queue_play play;
  void *owner = nullptr;
  nmc_queue_event_fn callback = nullptr;
  nmc_queue_release_fn release = nullptr;
  bool released = false;
};
using nmc_queue_ref = std::shared_ptr<nmc_queue>;

/* ---- The shared list (lm_nmc_queue_list.cpp). ---- */
/* Opens the list and starts the worker ("DMR Position Polling"). */
void nmc_queue_start(void);
/* Stops the worker and the slideshow timers (bounded), takes the list out
 * under its lock, waits 100 ms and frees every queue. */
void nmc_queue_exit(void);
/* 0, 12 when the identifier is taken, 2 for an empty one, 11 while the list
 * is closed. */
lm_nmc_result_t nmc_queue_create(const std::string &id, int renderer);
/* The queue, or none (also while the list is closed). */
nmc_queue_ref nmc_queue_find(const std::string &id);
nmc_queue_ref nmc_queue_of_renderer(int renderer);
bool nmc_queue_list_open(void);
std::vector<std::string> nmc_queue_ids(void);
/* Takes the queue out of the list; false when unknown. */
bool nmc_queue_release_id(const std::string &id);
/* "%llu-%u" from the time in milliseconds and a running counter. */
std::string nmc_queue_new_id(void);

/* ---- Entries (lm_nmc_queue_entries.cpp); call with the queue locked. ---- */
/* Position of the entry number, -1 when it is not there. */
int nmc_queue_position(const nmc_queue &queue, uint64_t entry);
/* Play index and pending count by the rules of the queue events. */
void nmc_queue_play_index(const nmc_queue &queue, int *index, uint32_t *pending);
/* Inserts at position (clamped to the end); the position used. */
uint32_t nmc_queue_insert(nmc_queue &queue, nmc_queue_entry entry, uint32_t position);
/* Removes the entry at position; a removed current entry leaves the entry
 * after it as the following one. */
bool nmc_queue_remove_at(nmc_queue &queue, uint32_t position);
void nmc_queue_clear_entries(nmc_queue &queue);
/* Moves count entries from start to target (-1: the end). */
bool nmc_queue_move(nmc_queue &queue, uint32_t start, uint32_t count, int target);
/* Re-links the entries in a random order (thread-safe generator). */
void nmc_queue_shuffle(nmc_queue &queue);
/* A random number below count (0 for 0), safe across threads. */
uint32_t nmc_queue_random_below(uint32_t count);
/* Sets a play mode: 0 done (also when already in force), 2 for RANDOM and
 * values above 5. */
lm_nmc_result_t nmc_queue_set_mode(nmc_queue &queue, uint32_t mode);
/* The mode of a name ("NORMAL", "Shuffle", ..., ignoring case); false when
 * unknown. */
bool nmc_queue_mode_of(const char *name, uint32_t *mode);
const char *nmc_queue_mode_name(uint32_t mode);
/* Finished for the mode: DIRECT_1, or REPEAT_ONE with consume. */
bool nmc_queue_finished_mode(const nmc_queue_play &play);

/* ---- Events (lm_nmc_queue_events.cpp). ---- */
struct nmc_queue_event_out {
  bool send = false;
  std::string id;
  int renderer = -1;
  uint32_t event = 0;
  uint32_t index = 0;
  uint32_t pending = 0;
  nmc_queue_event_fn callback = nullptr;
};
/* Prepares an event under the queue's lock ("Playing" not while stopped by
 * the user, "Stopped" not twice in a row); sent by nmc_queue_event_send
 * with no lock held. */
nmc_queue_event_out nmc_queue_event_make(nmc_queue &queue, uint32_t event);
void nmc_queue_event_send(const nmc_queue_event_out &out);
/* make + send (takes the queue's lock itself). */
void nmc_queue_raise(const nmc_queue_ref &queue, uint32_t event);

/* ---- Playing (lm_nmc_queue_play.cpp); no lock held by the caller. ---- */
/* Plays the current entry, else the following, else the first; on 9 or a
 * code of 300 and above the next playable one. Sets the playing flag. */
lm_nmc_result_t nmc_queue_play_current(const nmc_queue_ref &queue);
/* Plays the next playable entry (REPEAT_ONE with same: the current one). */
lm_nmc_result_t nmc_queue_play_next(const nmc_queue_ref &queue, bool same);
/* "SkipQueueObject": "next", "previous", "current", "first", "last"; with
 * play set a renderer that is PLAYING plays it at once and any other only
 * gets its URI. */
lm_nmc_result_t nmc_queue_skip(const nmc_queue_ref &queue, const char *where, bool play);
/* Makes the entry at position current; with set_uri the renderer gets its
 * URI without playing. */
lm_nmc_result_t nmc_queue_reposition(const nmc_queue_ref &queue, uint32_t position, bool set_uri);

/* ---- The renderer (lm_nmc_queue_renderer.cpp). ---- */
struct nmc_queue_item {
  std::string url;
  std::string metadata;
  std::string server_udn;
  std::string object_id;
};
/* Sends the entry to the renderer and plays it (play false: only sets the
 * URI). *metadata_out receives the metadata used (for duration and kind). */
lm_nmc_result_t nmc_queue_renderer_send(int renderer, const nmc_queue_item &item, bool play,
                                        std::string *metadata_out);
lm_nmc_result_t nmc_queue_renderer_stop(int renderer);
/* The renderer's transport state, -1 when it cannot be read. */
int nmc_queue_renderer_state(int renderer);
/* Position and duration (ms) of the current track. */
lm_nmc_result_t nmc_queue_renderer_position(int renderer, uint64_t *position_ms, uint64_t *duration_ms);

/* ---- Renderer events and position polls (lm_nmc_queue_events_in.cpp). ---- */
/* A new transport state for the renderer's queue: handled on the worker
 * thread, never on the caller's. */
void nmc_queue_post_state(int renderer, int state);
/* A "CurrentTrackDuration" (ms) for a non-slideshow queue. */
void nmc_queue_post_duration(int renderer, uint64_t duration_ms);
/* Schedules a position poll due_ms from now (replacing an older one). */
void nmc_queue_schedule_poll(int renderer, uint64_t due_ms);
/* The handling itself (worker thread; tests call it directly). */
void nmc_queue_handle_state(int renderer, int state);
void nmc_queue_poll_position(int renderer);
/* Whether a STOPPED ended the track early (someone else stopped it). */
bool nmc_queue_foreign_stop(const nmc_queue_play &play, int previous_state, uint64_t now_ms);
/* The worker thread: started by nmc_queue_start, joined by nmc_queue_exit. */
void nmc_queue_worker_start(void);
void nmc_queue_worker_stop(void);

/* ---- Slideshow timer (lm_nmc_queue_slideshow.cpp). ---- */
/* Starts the queue's timer when none runs (false when it could not). */
bool nmc_queue_slideshow_start(const nmc_queue_ref &queue);
/* Joins every timer with the core's bound. */
void nmc_queue_slideshow_join_all(void);

/* ---- XML commands (lm_nmc_queue_commands.cpp). ---- */
/* The handler of a queue command, none for another name. */
nmc_api_handler nmc_api_find_queue_command(const char *name);

/* ---- Links with the renderer commands (lm_nmc_queue_links.cpp). ---- */
/* "Play": clears the marks of a stop by the user and a paused slideshow. */
void nmc_queue_mark_play(int renderer);
/* "Pause": marks a running slideshow paused; true when one runs. */
bool nmc_queue_mark_pause(int renderer);
/* "Pause" answered code: a slideshow whose renderer refused Pause with 701
 * or 13 counts as paused (0), with a PAUSED_PLAYBACK state synthesised. */
lm_nmc_result_t nmc_queue_pause_result(int renderer, bool slideshow, lm_nmc_result_t code);
/* "Stop": a playing queue stops (user stop, "Stopped" event). */
void nmc_queue_mark_stop(int renderer);
/* Whether the renderer's queue runs a paused slideshow. */
bool nmc_queue_slideshow_is_paused(int renderer);
/* The same for a local renderer only (a network renderer tells its own
 * state). */
bool nmc_queue_local_slideshow_paused(int renderer);
/* A local renderer's update text ("<TransportState val=.../>" ...) for its
 * queue. */
void nmc_queue_local_update(int renderer, const std::string &text);
/* The local renderer's position after a state query (state above 0). */
void nmc_queue_local_position(int renderer, uint64_t position_ms);
/* The renderer went away: its slideshow ends. */
void nmc_queue_renderer_gone(int renderer);
/* "DMRIsQueueControlled": "true" or "false" from the queue's play state. */
lm_nmc_result_t nmc_queue_ioctl_is_controlled(uint32_t context, const char *argument, uint32_t size, char *out);

/* Helpers shared by the queue files (lm_nmc_queue_text.cpp). */
/* "H:MM:SS[.fff]" in ms; 0 when it is not a time. */
uint64_t nmc_queue_parse_time(const char *text);
/* From DIDL-Lite metadata: the first res's duration (ms) and 95 % of its
 * size, and whether it is an image. */
void nmc_queue_metadata_facts(const std::string &metadata, uint64_t *duration_ms, uint64_t *size, bool *image);
/* Splits a server bookmark into UDN and object part (commas escaped "\,");
 * false with fewer than two parts. */
bool nmc_queue_split_bookmark(const char *bookmark, std::string *udn, std::string *object_id);

#endif
