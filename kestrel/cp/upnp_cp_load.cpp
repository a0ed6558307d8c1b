// The loader ("CP_LOAD_DEVICE_INFO"): fetches and parses a device's
// description and service descriptions without the lock, then commits the
// result under the lock when the slot still holds the same device.
#include <cstdio>
#include <cstring>

#include "base/upnp_local_addr.h"
#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "base/upnp_thread.h"
#include "cp/upnp_cp_internal.h"

namespace {

struct LoadJob {
  int kind;
  int index;
};

bool same_text(const char *a, const char *b) { return a != nullptr && b != nullptr && std::strcmp(a, b) == 0; }

// Drops a device whose load failed: freed completely from state 2, deleted
// otherwise (lock held).
void drop_device(upnp_cp_device *d, int index) {
  if (d->state == UPNP_CP_STATE_LOADING) cp_free_device(d);
  else cp_delete_device_locked(d, index);
}

// A description above the bound is not asked for a second time.
char *fetch_description(const char *url) {
  char *body = nullptr;
  int too_large = 0;
  for (int attempt = 0; attempt < 2 && body == nullptr && !too_large && upnp_cp_is_running(); ++attempt)
    body = cp_fetch_text(url, &too_large);
  return body;
}

// What the service fetches of one load share: whether a service description
// passed the bound (the device is then not added, as with a description
// above it; the services after it are not fetched).
struct ScpdFetch {
  int too_large = 0;
};

upnp_xml_node *fetch_scpd(const char *url, void *context) {
  auto *fetch = static_cast<ScpdFetch *>(context);
  if (fetch->too_large) return nullptr;
  char *text = cp_fetch_text(url, &fetch->too_large);
  if (text != nullptr && text[0] == '\0') {
    upnp_free_impl(text);
    text = nullptr;
  }
  if (text == nullptr && !fetch->too_large && upnp_cp_is_running()) {
    Sleep(100);
    text = cp_fetch_text(url, &fetch->too_large);
  }
  if (fetch->too_large) {
    upnp_free_impl(text);
    return nullptr;
  }
  if (text == nullptr || text[0] == '\0') {
    upnp_log_impl(LOG_LEVEL_WARNING, LOG_SYSTEM, "getServiceXML", "getServiceXML: Cannot receive service XML from %s", url);
    upnp_free_impl(text);
    return nullptr;
  }
  upnp_xml_node *tree = upnp_xml_parse(text);
  if (tree == nullptr)
    upnp_log_impl(LOG_LEVEL_WARNING, LOG_SYSTEM, "getServiceXML", "getServiceXML: Cannot parse service XML from %s", url);
  upnp_free_impl(text);
  return tree;
}

// The loopback form of a location on a local address other than 127.0.0.1.
char *loopback_location(const char *location, const char *host) {
  const char *at = std::strstr(location, host);
  if (at == nullptr) return nullptr;
  size_t size = std::strlen(location) - std::strlen(host) + 10;
  char *copy = static_cast<char *>(upnp_malloc_impl(size));
  if (copy == nullptr) return nullptr;
  std::snprintf(copy, size, "%.*s127.0.0.1%s", static_cast<int>(at - location), location, at + std::strlen(host));
  return copy;
}

struct Loaded {
  upnp_xml_node *root = nullptr;
  upnp_cp_description_fields fields{};
  char *urlbase = nullptr;
  void *kind_record = nullptr;
  bool used_loopback = false;
};

// Everything done without the lock. False when nothing usable came of it.
void load(const char *location, const char *loopback, const char *udn, int kind, Loaded *out) {
  const char *kind_name = upnp_cp_kind_name(kind);
  char *text = nullptr;
  if (loopback != nullptr) {
    text = fetch_description(loopback);
    if (text == nullptr || text[0] == '\0') {
      upnp_log_impl(LOG_LEVEL_INFO, LOG_SYSTEM, "loadDeviceInfo", "Cannot get device description from %s instead of %s",
                    loopback, location);
      upnp_free_impl(text);
      text = nullptr;
    } else {
      out->used_loopback = true;
    }
  }
  if (text == nullptr) text = fetch_description(location);
  if (text == nullptr || text[0] == '\0') {
    upnp_log_impl(LOG_LEVEL_WARNING, LOG_SYSTEM, "loadDeviceInfo", "loadDeviceInfo: Cannot get device description for %s at %s",
                  udn, location);
    upnp_free_impl(text);
    return;
  }
  const char *used = out->used_loopback ? loopback : location;
  out->root = upnp_xml_parse(text);
  if (out->root == nullptr) {
    upnp_log_impl(LOG_LEVEL_WARNING, LOG_SYSTEM, "loadDeviceInfo", "loadDeviceInfo: Cannot parse device description of %s %s:\n%.512s",
                  udn, used, text);
    upnp_free_impl(text);
    return;
  }
  int found = cp_find_device_node(out->root, udn, kind, &out->fields);
  if (found == UPNP_CP_NOT_FOUND) {
    upnp_log_impl(LOG_LEVEL_WARNING, LOG_SYSTEM, "loadDeviceInfo", "loadDeviceInfo: %s %s at %s has no device node\n%.512s",
                  kind_name, udn, used, text);
  } else if (found != UPNP_CP_OK) {
    const char *got = upnp_xml_find_tag_value(out->root, "UDN");
    upnp_log_impl(LOG_LEVEL_WARNING, LOG_SYSTEM, "loadDeviceInfo",
                  "loadDeviceInfo: No/empty or different UDN in device description of %s at %s, expected %s, got %s",
                  kind_name, used, udn, got ? got : "");
  }
  upnp_free_impl(text);
  if (found != UPNP_CP_OK) return;
  if (!out->fields.name_from_friendly)
    upnp_log_impl(LOG_LEVEL_WARNING, LOG_SYSTEM, "loadDeviceInfo", "loadDeviceInfo:%s %s at %s has no device name", kind_name,
                  udn, used);
  out->urlbase = cp_url_base(out->root, used);
  if (out->urlbase == nullptr) {
    upnp_log_impl(LOG_LEVEL_ERROR, LOG_SYSTEM, "loadDeviceInfo", "loadDeviceInfo: Out of memory copying base URL");
    return;
  }
  ScpdFetch scpd;
  out->kind_record = cp_build_kind_record(out->fields.device_node, kind, out->urlbase, udn, used, fetch_scpd, &scpd);
  if (scpd.too_large) {
    upnp_log_impl(LOG_LEVEL_WARNING, LOG_SYSTEM, "loadDeviceInfo",
                  "loadDeviceInfo: Not adding %s %s at %s: a service description is larger than %u bytes", kind_name,
                  udn, used, UPNP_CP_MAX_DESCRIPTION_SIZE);
    cp_free_kind_record(out->kind_record, static_cast<uint32_t>(kind));
    out->kind_record = nullptr;
  }
}

void commit(int kind, int index, const char *location, const char *udn, const char *loopback, Loaded *loaded) {
  upnp_cp_device *d = cp_slot(index, kind);
  if (d == nullptr) return;
  const char *kind_name = upnp_cp_kind_name(kind);
  if (!same_text(d->udn, udn) || !same_text(d->location, location)) {
    upnp_log_impl(LOG_LEVEL_INFO, LOG_SYSTEM, "loadDevice", "loadDevice: Not adding %s %s, apparently changed while loading: %s/%s to %s/%s",
                  kind_name, udn, udn, location, d->udn ? d->udn : "", d->location ? d->location : "");
    return;
  }
  if (d->state == UPNP_CP_STATE_BYEBYE) {
    cp_delete_device_locked(d, index);
    return;
  }
  if (d->state != UPNP_CP_STATE_LOADING && d->state != UPNP_CP_STATE_RELOADING &&
      d->state != UPNP_CP_STATE_REVALIDATING) {
    upnp_log_impl(LOG_LEVEL_INFO, LOG_SYSTEM, "loadDevice", "loadDevice: Not adding %s %s/%s at %s, changed state to %u while loading",
                  kind_name, udn, d->name ? d->name : "", location, d->state);
    return;
  }
  if (loaded->used_loopback) {
    upnp_log_impl(LOG_LEVEL_INFO, LOG_SYSTEM, "loadDevice", "Using location %s instead of %s", loopback, location);
    char *copy = upnp_strdup_impl(loopback);
    if (copy != nullptr) {
      upnp_free_impl(d->location);
      d->location = copy;
    }
  }
  char *name = upnp_strdup_impl(loaded->fields.name);
  if (loaded->kind_record == nullptr || name == nullptr) {
    upnp_free_impl(name);
    drop_device(d, index);
    return;
  }
  cp_free_kind_record(d->kind_record, d->kind);
  upnp_xml_release(d->description);
  upnp_free_impl(d->urlbase);
  upnp_free_impl(d->name);
  d->description = loaded->root;
  d->device_node = loaded->fields.device_node;
  d->kind_record = loaded->kind_record;
  d->urlbase = loaded->urlbase;
  d->name = name;
  loaded->root = nullptr;
  loaded->kind_record = nullptr;
  loaded->urlbase = nullptr;
  cp_apply_renderer_quirks(d);
  if (d->state == UPNP_CP_STATE_RELOADING || d->state == UPNP_CP_STATE_REVALIDATING) {
    upnp_log_impl(LOG_LEVEL_INFO, LOG_SYSTEM, "loadDevice", "Updated %s %s %s (%s) in state %u at %s",
                  d->local ? "local" : "remote", kind_name, d->name, d->udn, d->state, d->urlbase);
    d->state = UPNP_CP_STATE_READY;
    return;
  }
  char host[256];
  unsigned int port = 0;
  char *server = nullptr;
  unsigned int server_port = 0;
  int reserved = 0;
  if (cp_split_http_url(d->urlbase, host, sizeof host, &port) &&
      upnp_get_matching_local_server(host, &server, &server_port, &reserved) == 0 && server != nullptr) {
    char callback[300];
    std::snprintf(callback, sizeof callback, "%s:%d", server, static_cast<int>(server_port));
    if (!same_text(callback, d->interface)) {
      upnp_log_impl(LOG_LEVEL_INFO, LOG_SYSTEM, "loadDevice", "Fixed callback from %s to %s for %s at %s",
                    d->interface ? d->interface : "", callback, d->name, d->urlbase);
      char *copy = upnp_strdup_impl(callback);
      if (copy != nullptr) {
        upnp_free_impl(d->interface);
        d->interface = copy;
      }
    }
  }
  upnp_free_impl(server);
  upnp_log_impl(LOG_LEVEL_INFO, LOG_SYSTEM, "loadDevice", "Added %s %s %s (%s) at %s", d->local ? "local" : "remote",
                kind_name, d->name, d->udn, d->urlbase);
  d->state = UPNP_CP_STATE_READY;
  cp_notify_locked(UPNP_CP_EVENT_ADDED, kind, index, d->name);
}

void *loader_thread(void *argument) {
  upnp_init_thread("CP_LOAD_DEVICE_INFO");
  LoadJob job = *static_cast<LoadJob *>(argument);
  upnp_free_impl(argument);
  Sleep(200);
  char *location = nullptr, *udn = nullptr, *loopback = nullptr;
  bool copied = false;
  if (upnp_cp_is_running() && upnp_cp_lock_section()) {
    upnp_cp_device *d = cp_slot(job.index, job.kind);
    if (d != nullptr && d->udn != nullptr && d->location != nullptr) {
      location = upnp_strdup_impl(d->location);
      udn = upnp_strdup_impl(d->udn);
      copied = location != nullptr && udn != nullptr;
      char host[256];
      unsigned int port = 0;
      if (copied && cp_split_http_url(location, host, sizeof host, &port) &&
          (std::strcmp(host, "127.0.0.1") == 0 || is_local_ip(host))) {
        d->local = 1;
        if (std::strcmp(host, "127.0.0.1") != 0) loopback = loopback_location(location, host);
      }
      if (!copied) {
        upnp_log_impl(LOG_LEVEL_ERROR, LOG_SYSTEM, "loadDeviceInfo", "loadDeviceInfo: Out of memory copying location/USN");
        drop_device(d, job.index);
      }
    }
    upnp_cp_unlock_section();
  }
  if (copied) {
    Loaded loaded;
    load(location, loopback, udn, job.kind, &loaded);
    if (upnp_cp_is_running() && upnp_cp_lock_section()) {
      if (loaded.root == nullptr || loaded.urlbase == nullptr) loaded.kind_record = nullptr;
      commit(job.kind, job.index, location, udn, loopback, &loaded);
      upnp_cp_unlock_section();
    }
    cp_free_kind_record(loaded.kind_record, static_cast<uint32_t>(job.kind));
    upnp_xml_release(loaded.root);
    upnp_free_impl(loaded.urlbase);
  }
  upnp_free_impl(location);
  upnp_free_impl(udn);
  upnp_free_impl(loopback);
  cp_worker_ended();
  return nullptr;
}

}  // namespace

void cp_start_loader(int kind, int index) {
  auto *job = static_cast<LoadJob *>(upnp_malloc_impl(sizeof(LoadJob)));
  if (job == nullptr) return;
  job->kind = kind;
  job->index = index;
  cp_worker_started();
  if (!upnp_start_detached_thread(loader_thread, job, UPNP_THREAD_LEVEL_DEFAULT)) {
    cp_worker_ended();
    upnp_free_impl(job);
  }
}
