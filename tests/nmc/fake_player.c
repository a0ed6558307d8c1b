/* The fake host player (see fake_player.h). */
#include "fake_player.h"

#include <pthread.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

#include "base/upnp_mem.h"
#include "nmc/lm_dmrcp.h"
#include "nmc/lm_ldmr.h"

/* Guards the player's state; never held while an event is reported. */
static pthread_mutex_t g_lock = PTHREAD_MUTEX_INITIALIZER;
static uint32_t g_state = LM_DMR_STOPPED;
static uint64_t g_clock_ms;
static uint64_t g_started_at;  /* clock when playing began, minus the position then */
static uint64_t g_paused_position;
static uint64_t g_duration_ms = 200000;
static uint64_t g_size = 2000000;
static uint64_t g_seek_target;
static uint32_t g_seek_kind;
static uint32_t g_refuse_time, g_refuse_bytes;
static uint32_t g_volume = 40;
static int32_t g_volume_db = -20;
static int g_mute;
static int g_real_clock;
static int g_shut_down;
static uint32_t g_call_back_context;
static int g_called_back;
static char g_uri[1024];
static char g_metadata[4096];
static char g_next_uri[1024];
static char g_actions[128] = "Play,Stop,Pause,Seek";
static uint32_t g_calls[28];

static uint64_t now_ms(void) {
  if (!g_real_clock) return g_clock_ms;
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (uint64_t)t.tv_sec * 1000u + (uint64_t)t.tv_nsec / 1000000u;
}

static uint64_t position_locked(void) {
  if (g_state != LM_DMR_PLAYING) return g_paused_position;
  uint64_t position = now_ms() - g_started_at;
  return g_duration_ms > 0 && position > g_duration_ms ? g_duration_ms : position;
}

static void count(int slot) {
  pthread_mutex_lock(&g_lock);
  ++g_calls[slot];
  pthread_mutex_unlock(&g_lock);
}

static lm_nmc_result_t copy_out(const char *text, uint32_t size, char *out) {
  if (out == NULL || size == 0) return 2;
  if (strlen(text) + 1 > size) return 10;
  strcpy(out, text);
  return 0;
}

static void set_state(uint32_t state) {
  pthread_mutex_lock(&g_lock);
  uint64_t position = position_locked();
  g_state = state;
  if (state == LM_DMR_PLAYING) {
    g_started_at = now_ms() - position;
  } else {
    g_paused_position = state == LM_DMR_STOPPED ? 0 : position;
  }
  pthread_mutex_unlock(&g_lock);
  lm_ldmr_event_state(state);
  lm_ldmr_img_event_state(state);
}

static lm_nmc_result_t get_protocol_info(uint32_t size, char *out) {
  count(0);
  return copy_out("http-get:*:audio/mpeg:*,http-get:*:audio/L16:*,http-get:*:image/jpeg:*", size, out);
}
static lm_nmc_result_t get_device_info(uint32_t size, char *out) {
  count(1);
  return copy_out("<manufacturer>Fake &amp; Sons</manufacturer><modelName>Fake Player</modelName>", size, out);
}
static lm_nmc_result_t get_state(uint32_t *state, uint64_t *position, uint64_t *duration, uint64_t *byte_position,
                                 uint64_t *byte_size) {
  count(2);
  pthread_mutex_lock(&g_lock);
  *state = g_state;
  *position = position_locked();
  *duration = g_duration_ms;
  *byte_size = g_size;
  *byte_position = g_duration_ms > 0 ? *position * g_size / g_duration_ms : 0;
  pthread_mutex_unlock(&g_lock);
  return 0;
}
static lm_nmc_result_t get_icon_count(uint32_t *n) {
  count(3);
  *n = 1;
  return 0;
}
static lm_nmc_result_t get_icon_info(uint32_t icon, uint32_t size, char *out) {
  count(4);
  return icon == 0 ? copy_out("<mimetype>image/png</mimetype><width>48</width><height>48</height>", size, out) : 9;
}
/* A 40000-byte icon of 'I's. */
static lm_nmc_result_t get_icon(uint32_t icon, uint64_t offset, uint32_t size, char *out, uint32_t *got) {
  count(5);
  *got = 0;
  if (icon != 0) return 9;
  uint64_t left = offset < 40000 ? 40000 - offset : 0;
  *got = (uint32_t)(left < size ? left : size);
  memset(out, 'I', *got);
  return 0;
}
static lm_nmc_result_t get_volume_percent(uint32_t *v) {
  count(6);
  pthread_mutex_lock(&g_lock);
  *v = g_volume;
  pthread_mutex_unlock(&g_lock);
  return 0;
}
static lm_nmc_result_t get_volume_db(int32_t *v) {
  count(7);
  pthread_mutex_lock(&g_lock);
  *v = g_volume_db;
  pthread_mutex_unlock(&g_lock);
  return 0;
}
static lm_nmc_result_t set_volume_percent(uint32_t v) {
  count(8);
  pthread_mutex_lock(&g_lock);
  g_volume = v;
  pthread_mutex_unlock(&g_lock);
  lm_ldmr_event_volume(fake_player_state(), v, g_volume_db);
  return 0;
}
static lm_nmc_result_t set_volume_db(int32_t v) {
  count(9);
  pthread_mutex_lock(&g_lock);
  g_volume_db = v;
  pthread_mutex_unlock(&g_lock);
  return 0;
}
static lm_nmc_result_t get_volume_db_range(int32_t *low, int32_t *high) {
  count(10);
  *low = -60;
  *high = 0;
  return 0;
}
static lm_nmc_result_t get_mute(int32_t *on) {
  count(11);
  pthread_mutex_lock(&g_lock);
  *on = g_mute;
  pthread_mutex_unlock(&g_lock);
  return 0;
}
static lm_nmc_result_t set_mute(int32_t on) {
  count(12);
  pthread_mutex_lock(&g_lock);
  g_mute = on;
  pthread_mutex_unlock(&g_lock);
  lm_ldmr_event_mute(fake_player_state(), on);
  return 0;
}
static lm_nmc_result_t set_play_info(const char *uri, const char *metadata) {
  count(13);
  pthread_mutex_lock(&g_lock);
  snprintf(g_uri, sizeof g_uri, "%s", uri);
  snprintf(g_metadata, sizeof g_metadata, "%s", metadata);
  pthread_mutex_unlock(&g_lock);
  lm_ldmr_event_playinfo(fake_player_state(), uri, metadata);
  return 0;
}
static lm_nmc_result_t get_play_info(uint32_t uri_size, char *uri, uint32_t metadata_size, char *metadata) {
  count(14);
  pthread_mutex_lock(&g_lock);
  lm_nmc_result_t result = copy_out(g_uri, uri_size, uri);
  if (result == 0) result = copy_out(g_metadata, metadata_size, metadata);
  pthread_mutex_unlock(&g_lock);
  return result;
}
static lm_nmc_result_t set_next_play_info(const char *uri, const char *metadata) {
  count(15);
  pthread_mutex_lock(&g_lock);
  snprintf(g_next_uri, sizeof g_next_uri, "%s", uri);
  pthread_mutex_unlock(&g_lock);
  lm_ldmr_event_next_playinfo(fake_player_state(), uri, metadata);
  return 0;
}
static lm_nmc_result_t get_next_play_info(uint32_t uri_size, char *uri, uint32_t metadata_size, char *metadata) {
  count(16);
  pthread_mutex_lock(&g_lock);
  lm_nmc_result_t result = copy_out(g_next_uri, uri_size, uri);
  pthread_mutex_unlock(&g_lock);
  return result != 0 ? result : copy_out("", metadata_size, metadata);
}
static lm_nmc_result_t set_property(const char *name, const char *value) {
  count(17);
  if (strcmp(name, "DmrPropCurrentTransportActions") != 0) return 9;
  pthread_mutex_lock(&g_lock);
  snprintf(g_actions, sizeof g_actions, "%s", value);
  pthread_mutex_unlock(&g_lock);
  return 0;
}
static lm_nmc_result_t get_property(const char *name, uint32_t size, char *out) {
  count(18);
  if (strcmp(name, "DmrPropCurrentTransportActions") == 0) {
    pthread_mutex_lock(&g_lock);
    lm_nmc_result_t result = copy_out(g_actions, size, out);
    pthread_mutex_unlock(&g_lock);
    return result;
  }
  if (strcmp(name, "DmrPropBrightness") == 0) return copy_out("70", size, out);
  return 9;
}
static lm_nmc_result_t play(void) {
  count(19);
  pthread_mutex_lock(&g_lock);
  uint32_t context = g_call_back_context;
  pthread_mutex_unlock(&g_lock);
  if (context != 0) {
    uint32_t n = 0;
    char *name = lm_ldmr_get_name();
    int ok = lm_dmrcp_get_count(context, &n) == 0 && name != NULL;
    upnp_free_impl(name);
    lm_ldmr_event_status(LM_DMR_TRANSITIONING, "OK");
    pthread_mutex_lock(&g_lock);
    g_called_back = ok;
    pthread_mutex_unlock(&g_lock);
  }
  set_state(LM_DMR_PLAYING);
  return 0;
}
static lm_nmc_result_t pause_hook(int resume) {
  count(20);
  set_state(resume ? LM_DMR_PLAYING : LM_DMR_PAUSED_PLAYBACK);
  return 0;
}
static lm_nmc_result_t stop(void) {
  count(21);
  set_state(LM_DMR_STOPPED);
  return 0;
}
static lm_nmc_result_t next(void) {
  count(22);
  return 0;
}
static lm_nmc_result_t previous(void) {
  count(23);
  return 0;
}
static lm_nmc_result_t seek(uint32_t kind, uint64_t target) {
  pthread_mutex_lock(&g_lock);
  uint32_t refused = kind == 2 ? g_refuse_time : g_refuse_bytes;
  if (refused == 0) {
    g_seek_kind = kind;
    g_seek_target = target;
    uint64_t position = kind == 2 ? target : (g_size > 0 ? target * g_duration_ms / g_size : 0);
    if (g_state == LM_DMR_PLAYING) g_started_at = now_ms() - position;
    else g_paused_position = position;
  }
  pthread_mutex_unlock(&g_lock);
  return refused;
}
static lm_nmc_result_t seek_bytes(uint64_t target) {
  count(24);
  return seek(1, target);
}
static lm_nmc_result_t seek_time(uint64_t target) {
  count(25);
  return seek(2, target);
}
static lm_nmc_result_t shutdown_hook(void) {
  count(26);
  pthread_mutex_lock(&g_lock);
  g_shut_down = 1;
  pthread_mutex_unlock(&g_lock);
  return 0;
}
static lm_nmc_result_t ioctl_hook(const char *command, uint32_t size, char *out) {
  count(27);
  return strcmp(command, "FakeVersion") == 0 ? copy_out("fake 1.0", size, out) : 9;
}

#define PICK(slot, fn) ((mask & (1u << (slot))) ? (fn) : NULL)

static void reset(void) {
  pthread_mutex_lock(&g_lock);
  g_state = LM_DMR_STOPPED;
  g_clock_ms = 0;
  g_started_at = 0;
  g_paused_position = 0;
  g_duration_ms = 200000;
  g_size = 2000000;
  g_seek_kind = 0;
  g_seek_target = 0;
  g_refuse_time = g_refuse_bytes = 0;
  g_volume = 40;
  g_mute = 0;
  g_shut_down = 0;
  g_uri[0] = g_metadata[0] = g_next_uri[0] = '\0';
  snprintf(g_actions, sizeof g_actions, "%s", "Play,Stop,Pause,Seek");
  memset(g_calls, 0, sizeof g_calls);
  pthread_mutex_unlock(&g_lock);
}

void fake_player_install(uint32_t mask) {
  reset();
  lm_ldmr_set_hooks(PICK(0, get_protocol_info), PICK(1, get_device_info), PICK(2, get_state),
                    PICK(3, get_icon_count), PICK(4, get_icon_info), PICK(5, get_icon),
                    PICK(6, get_volume_percent), PICK(7, get_volume_db), PICK(8, set_volume_percent),
                    PICK(9, set_volume_db), PICK(10, get_volume_db_range), PICK(11, get_mute), PICK(12, set_mute),
                    PICK(13, set_play_info), PICK(14, get_play_info), PICK(15, set_next_play_info),
                    PICK(16, get_next_play_info), PICK(17, set_property), PICK(18, get_property), PICK(19, play),
                    PICK(20, pause_hook), PICK(21, stop), PICK(22, next), PICK(23, previous), PICK(24, seek_bytes),
                    PICK(25, seek_time), PICK(26, shutdown_hook), PICK(27, ioctl_hook));
}

void fake_player_install_image(uint32_t mask) {
  reset();
  lm_ldmr_img_set_hooks(PICK(0, get_protocol_info), PICK(1, get_device_info), PICK(2, get_state),
                        PICK(3, get_icon_count), PICK(4, get_icon_info), PICK(5, get_icon), PICK(6, set_play_info),
                        PICK(7, get_play_info), PICK(8, set_next_play_info), PICK(9, get_next_play_info),
                        PICK(10, set_property), PICK(11, get_property), PICK(12, play), PICK(13, pause_hook),
                        PICK(14, stop), PICK(15, next), PICK(16, previous), PICK(17, shutdown_hook),
                        PICK(18, ioctl_hook));
}

void fake_player_advance(uint64_t ms) {
  pthread_mutex_lock(&g_lock);
  g_clock_ms += ms;
  int ended = g_state == LM_DMR_PLAYING && g_duration_ms > 0 && now_ms() - g_started_at >= g_duration_ms;
  pthread_mutex_unlock(&g_lock);
  if (ended) set_state(LM_DMR_STOPPED);
}

void fake_player_use_real_clock(int on) {
  pthread_mutex_lock(&g_lock);
  g_real_clock = on;
  pthread_mutex_unlock(&g_lock);
}

uint32_t fake_player_calls(int slot) {
  pthread_mutex_lock(&g_lock);
  uint32_t n = slot >= 0 && slot < 28 ? g_calls[slot] : 0;
  pthread_mutex_unlock(&g_lock);
  return n;
}

void fake_player_clear_calls(void) {
  pthread_mutex_lock(&g_lock);
  memset(g_calls, 0, sizeof g_calls);
  pthread_mutex_unlock(&g_lock);
}

void fake_player_refuse_seeks(uint32_t time_code, uint32_t byte_code) {
  pthread_mutex_lock(&g_lock);
  g_refuse_time = time_code;
  g_refuse_bytes = byte_code;
  g_seek_kind = 0;
  g_seek_target = 0;
  pthread_mutex_unlock(&g_lock);
}

void fake_player_set_track(uint64_t duration_ms, uint64_t size) {
  pthread_mutex_lock(&g_lock);
  g_duration_ms = duration_ms;
  g_size = size;
  pthread_mutex_unlock(&g_lock);
}

void fake_player_last_seek(uint32_t *kind, uint64_t *target) {
  pthread_mutex_lock(&g_lock);
  *kind = g_seek_kind;
  *target = g_seek_target;
  pthread_mutex_unlock(&g_lock);
}

uint32_t fake_player_state(void) {
  pthread_mutex_lock(&g_lock);
  uint32_t state = g_state;
  pthread_mutex_unlock(&g_lock);
  return state;
}

uint64_t fake_player_position_ms(void) {
  pthread_mutex_lock(&g_lock);
  uint64_t position = position_locked();
  pthread_mutex_unlock(&g_lock);
  return position;
}

static int read_int(const int *field) {
  pthread_mutex_lock(&g_lock);
  int value = *field;
  pthread_mutex_unlock(&g_lock);
  return value;
}

uint32_t fake_player_volume(void) {
  pthread_mutex_lock(&g_lock);
  uint32_t volume = g_volume;
  pthread_mutex_unlock(&g_lock);
  return volume;
}
int fake_player_mute(void) { return read_int(&g_mute); }
int fake_player_shut_down(void) { return read_int(&g_shut_down); }
void fake_player_call_back(uint32_t context) {
  pthread_mutex_lock(&g_lock);
  g_call_back_context = context;
  g_called_back = 0;
  pthread_mutex_unlock(&g_lock);
}
int fake_player_called_back(void) { return read_int(&g_called_back); }
