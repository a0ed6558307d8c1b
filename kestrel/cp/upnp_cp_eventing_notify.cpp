// The NOTIFY handler: bounded reading of the event body, the NT/NTS/SID/SEQ
// checks, finding the subscribed service with its sequence rules, and the
// hand-over of accepted events to the queue.
#include <sys/socket.h>
#include <sys/time.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <string>

#include "base/upnp_local_addr.h"
#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "base/upnp_socket.h"
#include "base/upnp_thread.h"
#include "base/upnp_xml.h"
#include "cp/upnp_cp_eventing.h"
#include "cp/upnp_cp_eventing_internal.h"
#include "cp/upnp_cp_internal.h"
#include "http/http_client.h"
#include "http/http_io.h"
#include "http/http_parse.h"

namespace {

std::atomic<uint64_t> g_counters[CP_EV_COUNTERS];
std::atomic<int> g_waiting_second_tries{0};

enum FindResult { kFound, kNoService, kNoSid, kDuplicate, kOutOfSequence, kForeign };

struct Match {
  int index = -1;
  int kind = 0;
  unsigned int service = 0;
  uint32_t sequence = 0;
};

// 0 with the body read (or none sent), 413 when it is above the bound.
int read_body(HTTP_connection *c) {
  if (c->body != nullptr) return c->length > static_cast<int64_t>(UPNP_CP_MAX_EVENT_BODY) ? 413 : 0;
  const bool chunked = HTTP_parse_header_chunked(c->header) != 0;
  const int64_t announced = HTTP_parse_header_size(c->header);
  if (!chunked && announced <= 0) return 0;
  c->close = 1;  // whatever happens, the rest of this connection is not framed for us
  if (!chunked && announced > static_cast<int64_t>(UPNP_CP_MAX_EVENT_BODY)) return 413;
  timeval tv{UPNP_CP_GENA_IO_TIMEOUT_MS / 1000, 0};
  setsockopt(c->socket, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  uint64_t length = 0;
  bool too_large = false;
  if (chunked) {
    // The connection closes after the reply, so a trailer is left unread.
    too_large = http_read_chunked_body(c->socket, UPNP_CP_MAX_EVENT_BODY, &c->body, &length) == HTTP_CHUNKED_TOO_LARGE;
  } else {
    c->body = HTTP_receive_body_with_length(c->socket, c->header, &length);
  }
  c->length = static_cast<int64_t>(length);
  return too_large ? 413 : 0;
}

// The value of a header field (blanks skipped), or none.
const char *field_value(const char *header, const char *name) {
  const char *field = HTTP_find_nocase(header, name);
  if (field == nullptr) return nullptr;
  const char *value = field + std::strlen(name);
  while (*value == ' ' || *value == '\t') ++value;
  return value;
}

bool host_is(const char *url, const char *peer) {
  char host[256];
  unsigned int port = 0;
  return url != nullptr && cp_split_http_url(url, host, sizeof host, &port) && std::strcmp(host, peer) == 0;
}

// Whether the event may come from peer: the device's own host, or for a
// device on this machine 127.0.0.1 and our own interface addresses.
bool from_device(const upnp_cp_device *d, const char *peer) {
  if (host_is(d->urlbase, peer) || host_is(d->location, peer)) return true;
  if (d->local) return std::strcmp(peer, "127.0.0.1") == 0 || is_local_ip(peer);
  return false;
}

const char *service_name(unsigned int service) {
  return service == UPNP_CP_SERVICE_AVT ? "AVTransport"
         : service == UPNP_CP_SERVICE_RC ? "RenderingControl"
                                         : "ContentDirectory";
}

// The sequence rules against the matched record (lock held).
FindResult check_sequence(upnp_cp_service *s, uint32_t event_sequence, const char *name, uint32_t *effective) {
  if (event_sequence == 0xFFFFFFFFu) {
    *effective = event_sequence;
    return kFound;
  }
  uint32_t sequence = event_sequence + s->synthetic_count;
  *effective = sequence;
  if (sequence == 0xFFFFFFFFu) return kOutOfSequence;
  const uint32_t last = s->sequence;
  if (last == 0xFFFFFFFFu || last == 0xFFFFFFFEu || sequence > last || (sequence == last && (s->quirks & 1u))) {
    s->sequence = sequence;
    return kFound;
  }
  if (sequence == last) {
    upnp_log_impl(LOG_LEVEL_INFO, LOG_EVENTING, "upnp_eventing_notify", "Dropping duplicate event no %u for %s",
                  sequence, name);
    return kDuplicate;
  }
  upnp_log_impl(LOG_LEVEL_INFO, LOG_EVENTING, "upnp_eventing_notify", "Event out of sequence for %s: last: %u - current: %u",
                name, last, sequence);
  if (sequence < 8000 && sequence + 8000 < last) {
    upnp_log_impl(LOG_LEVEL_INFO, LOG_EVENTING, "upnp_eventing_notify", "Assuming wrap-around for %s", name);
    s->sequence = sequence;
    return kFound;
  }
  upnp_log_impl(LOG_LEVEL_INFO, LOG_EVENTING, "upnp_eventing_notify", "Dropping out of sequence event for %s", name);
  return kOutOfSequence;
}

bool sid_matches(const upnp_cp_service &s, const char *sid) {
  return s.subscribed_at != 0 && s.sid != nullptr && std::strcmp(s.sid, sid) == 0;
}

FindResult find_device(const char *body, const char *sid, uint32_t event_sequence, const char *peer, Match *match) {
  unsigned int bits = upnp_cp_get_event_service(body);
  if (bits == 0) {
    upnp_log_impl(LOG_LEVEL_INFO, LOG_EVENTING, "upnp_eventing_notify", "Could not identify service of event %s:\n%s",
                  sid, body);
    return kNoService;
  }
  if (!upnp_cp_lock_section()) return kNoSid;
  FindResult result = kNoSid;
  upnp_cp_device *device = nullptr;
  upnp_cp_service *service = nullptr;
  int kind = (bits & UPNP_CP_SERVICE_CDS) ? UPNP_CP_KIND_SERVER : UPNP_CP_KIND_RENDERER;
  upnp_cp_table *table = cp_table(kind);
  for (int i = 0; table != nullptr && i < table->size && service == nullptr; ++i) {
    upnp_cp_device *d = &table->slots[i];
    if (!cp_is_usable(d)) continue;
    if (kind == UPNP_CP_KIND_SERVER) {
      auto *r = static_cast<upnp_cp_server_record *>(d->kind_record);
      if (sid_matches(r->cds, sid)) service = &r->cds, match->service = UPNP_CP_SERVICE_CDS;
    } else {
      auto *r = static_cast<upnp_cp_renderer_record *>(d->kind_record);
      if ((bits & UPNP_CP_SERVICE_AVT) && sid_matches(r->avt, sid)) {
        service = &r->avt, match->service = UPNP_CP_SERVICE_AVT;
      } else if ((bits & UPNP_CP_SERVICE_RC) && sid_matches(r->rc, sid)) {
        service = &r->rc, match->service = UPNP_CP_SERVICE_RC;
      }
    }
    if (service != nullptr) {
      device = d;
      match->index = i;
      match->kind = kind;
    }
  }
  if (service == nullptr) {
    upnp_log_impl(LOG_LEVEL_INFO, LOG_EVENTING, "upnp_eventing_notify", "No device found for event %s with sequence %u",
                  sid, event_sequence);
  } else if (!from_device(device, peer)) {
    upnp_log_impl(LOG_LEVEL_WARNING, LOG_EVENTING, "upnp_eventing_notify",
                  "Event for %s of %s came from foreign address %s", service_name(match->service),
                  device->name ? device->name : "", peer);
    result = kForeign;
  } else {
    std::string name = std::string(device->name ? device->name : "") + " " + service_name(match->service);
    result = check_sequence(service, event_sequence, name.c_str(), &match->sequence);
    if (result == kFound && match->service == UPNP_CP_SERVICE_AVT) {
      int state = upnp_cp_get_event_TransportState(body);
      if (state >= 0) static_cast<upnp_cp_renderer_record *>(device->kind_record)->transport_state = static_cast<uint32_t>(state);
    }
  }
  upnp_cp_unlock_section();
  return result;
}

int reply(HTTP_connection *c, int status) {
  c->content_type = HTTP_HTML_CONTENT_TYPE;
  return HTTP_send_error_code(c, status);
}

int refuse(HTTP_connection *c, int status, cp_eventing_counter counter) {
  cp_eventing_count(counter);
  reply(c, status);
  return 1;
}

// A second try is worth its wait only while one of our exchanges may still be
// storing the SID; and only a few may wait at once.
bool may_try_again() {
  if (!cp_subscription_exchange_recent()) return false;
  if (g_waiting_second_tries.fetch_add(1) >= UPNP_CP_MAX_EVENT_RETRIES) {
    g_waiting_second_tries.fetch_sub(1);
    return false;
  }
  return true;
}

}  // namespace

void cp_eventing_count(cp_eventing_counter counter) { g_counters[counter].fetch_add(1); }

void cp_eventing_reset_stats(void) {
  for (std::atomic<uint64_t> &c : g_counters) c.store(0);
}

extern "C" void upnp_cp_eventing_get_stats(upnp_cp_eventing_stats *out) {
  if (out == nullptr) return;
  out->accepted = g_counters[CP_EV_ACCEPTED].load();
  out->refused_malformed = g_counters[CP_EV_MALFORMED].load();
  out->refused_unknown_sid = g_counters[CP_EV_UNKNOWN_SID].load();
  out->refused_sequence = g_counters[CP_EV_SEQUENCE].load();
  out->refused_foreign = g_counters[CP_EV_FOREIGN].load();
  out->refused_unidentified = g_counters[CP_EV_UNIDENTIFIED].load();
  out->refused_too_large = g_counters[CP_EV_TOO_LARGE].load();
  out->second_tries = g_counters[CP_EV_SECOND_TRIES].load();
}

extern "C" int upnp_eventing_notify(HTTP_connection *c) {
  if (c == nullptr) return 1;
  if (read_body(c) == 413) {
    upnp_log_impl(LOG_LEVEL_WARNING, LOG_EVENTING, __func__, "Event body from %s above %u bytes refused",
                  c->peer_address, UPNP_CP_MAX_EVENT_BODY);
    c->close = 1;
    return refuse(c, 413, CP_EV_TOO_LARGE);
  }
  if (c->body == nullptr) return 1;
  upnp_log_impl(LOG_LEVEL_DEBUG, LOG_EVENTING, __func__, "CP Notification Header:\n%s", c->header);
  upnp_log_impl(LOG_LEVEL_DEBUG, LOG_EVENTING, __func__, "CP Notification Body:\n%s", c->body);
  const char *nt = field_value(c->header, "\nNT:");
  const char *nts = field_value(c->header, "\nNTS:");
  if (nt == nullptr || nts == nullptr) {
    upnp_log_impl(LOG_LEVEL_WARNING, LOG_EVENTING, __func__, "Event is missing a valid NT entry:\n%s", c->header);
    return refuse(c, 400, CP_EV_MALFORMED);
  }
  char *sid = upnp_cp_get_SID(c->header);
  uint32_t sequence = 0;
  bool well_formed = std::strncmp(nt, "upnp:event", 10) == 0 && std::strncmp(nts, "upnp:propchange", 15) == 0 &&
                     sid != nullptr && upnp_cp_get_event_sequence(c->header, &sequence);
  if (well_formed) {
    // The body must be a whole XML document: it parses and its root element
    // is closed (a cut or garbled body is no event).
    upnp_xml_node *tree = upnp_xml_parse_len(c->body, static_cast<size_t>(c->length));
    well_formed = tree != nullptr && tree->name != nullptr &&
                  std::strstr(c->body, ("</" + std::string(tree->name)).c_str()) != nullptr;
    upnp_xml_release(tree);
  }
  if (!well_formed) {
    upnp_log_impl(LOG_LEVEL_WARNING, LOG_EVENTING, __func__, "Event malformed or contains no SEQ from %s:\n%s",
                  c->peer_address, c->header);
    upnp_free_impl(sid);
    return refuse(c, 412, CP_EV_MALFORMED);
  }
  Match match;
  FindResult found = find_device(c->body, sid, sequence, c->peer_address, &match);
  if (found == kNoSid && may_try_again()) {
    Sleep(250);
    found = find_device(c->body, sid, sequence, c->peer_address, &match);
    g_waiting_second_tries.fetch_sub(1);
    if (found == kFound) cp_eventing_count(CP_EV_SECOND_TRIES);
  }
  if (found != kFound) {
    upnp_log_impl(LOG_LEVEL_INFO, LOG_EVENTING, __func__, "Event contains unknown SID from %s:\n%s", c->peer_address,
                  c->header);
    upnp_free_impl(sid);
    cp_eventing_counter counter = found == kNoService  ? CP_EV_UNIDENTIFIED
                                  : found == kForeign  ? CP_EV_FOREIGN
                                  : found == kNoSid    ? CP_EV_UNKNOWN_SID
                                                       : CP_EV_SEQUENCE;
    return refuse(c, 412, counter);
  }
  upnp_free_impl(sid);
  int status = upnp_cp_add_subscription_event(c->body, match.sequence, match.index, match.kind, match.service);
  if (status == 200) cp_eventing_count(CP_EV_ACCEPTED);
  int result = reply(c, status);
  upnp_cp_notification_callback callback = cp_eventing_notification_callback();
  if (status == 200 && callback != nullptr) result = callback(c, 200);
  return result;
}
