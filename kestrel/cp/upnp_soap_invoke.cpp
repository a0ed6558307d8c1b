// invokeSoapAction: resolve the device and service under the device table's
// lock, refuse what the device does not offer or mishandles, post the
// envelope (once more after a fast failure), read the UPnP error code and
// invalidate a device that does not answer.
#include <atomic>
#include <cstring>

#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "base/upnp_thread.h"
#include "cp/upnp_soap_internal.h"
#include "http/http_client.h"

namespace {

std::atomic<const upnp_soap_device_access *> g_access{&g_upnp_soap_device_table};
std::atomic<unsigned long long> g_calls{0};

// A failure that comes this fast is taken for a dropped connection and the
// request is sent once more.
constexpr uint64_t kFastFailureMs = 500;
constexpr unsigned kRetryPauseMs = 20;

const char *kind_name(int kind) {
  switch (kind) {
    case UPNP_KIND_SERVER: return "server";
    case UPNP_KIND_RENDERER: return "renderer";
    case UPNP_KIND_RUIS: return "ruis";
    default: return "unknown";
  }
}

}  // namespace

void upnp_soap_set_device_access(const upnp_soap_device_access *access) {
  g_access.store(access ? access : &g_upnp_soap_device_table);
}

void upnp_soap_target_free(upnp_soap_target *target) {
  if (!target) return;
  upnp_free_impl(target->base);
  upnp_free_impl(target->rest);
  upnp_free_impl(target->name);
  target->base = target->rest = target->name = nullptr;
}

int upnp_soap_scpd_has_action(const upnp_xml_node *scpd, const char *action) {
  if (!scpd || !action) return 0;
  upnp_xml_node *list = upnp_xml_find_tag(const_cast<upnp_xml_node *>(scpd), "actionList");
  if (!list) return 0;
  for (upnp_xml_node *a = list->children; a; a = a->next) {
    if (!a->name || std::strcmp(a->name, "action") != 0) continue;
    for (upnp_xml_node *c = a->children; c; c = c->next) {
      if (c->name && std::strcmp(c->name, "name") == 0 && c->value && std::strcmp(c->value, action) == 0) return 1;
    }
  }
  return 0;
}

char *upnp_soap_action_header(unsigned service, const char *action) {
  if (!action) return nullptr;
  const char *name = upnp_soap_service_name(service);
  upnp_string *s = nullptr;
  if (!name) {
    upnp_log_impl(LOG_LEVEL_WARNING, LOG_SYSTEM, __func__, "Unknown service type: %u", service);
    s = upnp_string_create(action, 0);
  } else {
    s = upnp_string_sprintf(nullptr, "\"urn:schemas-upnp-org:service:%s:1#%s\"", name, action);
  }
  char *text = upnp_string_copy_cstring(s);
  upnp_string_free(s);
  return text;
}

int upnp_soap_with_scpd(int index, int kind, unsigned service,
                        int (*fn)(const upnp_xml_node *scpd, void *context), void *context) {
  const upnp_soap_device_access *access = g_access.load();
  if (!access || !access->lock()) return UPNP_E_GOING_DOWN;
  upnp_soap_device_view view{};
  int rc = access->lookup(index, kind, service, &view);
  if (rc == 0) rc = fn(view.has_service ? view.scpd : nullptr, context);
  access->unlock();
  return rc;
}

int upnp_soap_with_view(int index, int kind, int (*fn)(const upnp_soap_device_view *view, void *context),
                        void *context) {
  const upnp_soap_device_access *access = g_access.load();
  if (!access || !access->lock()) return UPNP_E_GOING_DOWN;
  upnp_soap_device_view view{};
  int rc = access->lookup(index, kind, 0, &view);
  if (rc == 0) rc = fn(&view, context);
  access->unlock();
  return rc;
}

int upnp_soap_resolve(int index, int kind, unsigned service, unsigned broken_bit, const char *action,
                      upnp_soap_target *target) {
  *target = upnp_soap_target{};
  const upnp_soap_device_access *access = g_access.load();
  if (!access || !access->lock()) return UPNP_E_GOING_DOWN;
  upnp_soap_device_view view{};
  int rc = access->lookup(index, kind, service, &view);
  const char *name = view.name ? view.name : "";
  if (rc != 0) {
    upnp_log_impl(LOG_LEVEL_WARNING, LOG_SYSTEM, "invokeSoapAction", "no device info available for action %s for %s: %s",
                  action, kind_name(kind), upnp_get_errmsg(rc));
  } else if ((service == UPNP_SERVICE_RCS || service == UPNP_SERVICE_AVT || service == UPNP_SERVICE_CDS) &&
             (!view.has_service || !upnp_soap_scpd_has_action(view.scpd, action))) {
    upnp_log_impl(LOG_LEVEL_WARNING, LOG_SYSTEM, "invokeSoapAction", "action %s not available from %s", action, name);
    rc = UPNP_E_NOT_IMPLEMENTED;
  } else if (!view.has_service || !view.control_url || !*view.control_url || !view.url_base || !*view.url_base) {
    upnp_log_impl(LOG_LEVEL_WARNING, LOG_SYSTEM, "invokeSoapAction", "invokeSoapAction invalid state for %s", name);
    rc = UPNP_E_DEVICE_GONE;
  } else if (view.broken_actions & broken_bit) {
    upnp_log_impl(LOG_LEVEL_WARNING, LOG_SYSTEM, "invokeSoapAction",
                  "invokeSoapAction rejecting invocation of broken action %s for %s", action, name);
    rc = UPNP_E_BROKEN_ACTION;
  } else {
    const char *url = view.control_url;
    const char *cut = nullptr;
    if (std::strncmp(url, "http://", 7) == 0) {
      const char *slash = std::strrchr(url, '/');
      if (slash && slash - url >= 8) cut = slash;
    }
    if (cut) {
      target->base = static_cast<char *>(upnp_malloc_impl(static_cast<size_t>(cut - url) + 1));
      if (target->base) {
        std::memcpy(target->base, url, static_cast<size_t>(cut - url));
        target->base[cut - url] = '\0';
      }
      target->rest = upnp_strdup_impl(cut + 1);
    } else {
      target->base = upnp_strdup_impl(view.url_base);
      target->rest = upnp_strdup_impl(url);
    }
    target->name = upnp_strdup_impl(name);
    if (!target->base || !target->rest || !target->name) {
      upnp_soap_target_free(target);
      rc = UPNP_E_OUT_OF_MEMORY;
    }
  }
  access->unlock();
  return rc;
}

upnp_string *upnp_soap_post(const upnp_soap_target *target, unsigned service, const char *action,
                            const char *envelope, unsigned long long call) {
  char *header = upnp_soap_action_header(service, action);
  if (!header) return nullptr;
  uint64_t began = getSystemTime();
  char *body = nullptr;
  for (int attempt = 0; attempt < 2; ++attempt) {
    upnp_log_impl(LOG_LEVEL_TRACE, LOG_SYSTEM, "invokeSoapAction",
                  "invokeSoapAction(%llu) invoking HTTP_soap_action for %s at %s", call, action, target->name);
    body = HTTP_soap_action(target->base, target->rest, header, envelope);
    upnp_log_impl(LOG_LEVEL_TRACE, LOG_SYSTEM, "invokeSoapAction",
                  "invokeSoapAction(%llu) HTTP_soap_action returned for %s at %s", call, action, target->name);
    if (body || attempt == 1) break;
    uint64_t spent = getSystemTime() - began;
    if (spent > kFastFailureMs) {
      upnp_log_impl(LOG_LEVEL_WARNING, LOG_SYSTEM, "invokeSoapAction",
                    "invokeSoapAction(%llu) HTTP_soap_action no response for %s - no retry after %ums", call, action,
                    static_cast<unsigned>(spent));
      break;
    }
    upnp_log_impl(LOG_LEVEL_WARNING, LOG_SYSTEM, "invokeSoapAction",
                  "invokeSoapAction(%llu) HTTP_soap_action no response for %s - retrying", call, action);
    Sleep(kRetryPauseMs);
  }
  upnp_free_impl(header);
  if (!body) return nullptr;
  upnp_string *reply = upnp_string_create(body, 0);
  upnp_free_impl(body);
  return reply;
}

extern "C" int invokeSoapAction(int index, int kind, unsigned service, unsigned broken_bit, const char *action,
                                const char *envelope, upnp_string **reply_out) {
  if (reply_out) *reply_out = nullptr;
  unsigned long long call = ++g_calls;
  if (!action || !*action || !envelope) return UPNP_E_INVALID_PARAM;

  upnp_soap_target target{};
  int rc = upnp_soap_resolve(index, kind, service, broken_bit, action, &target);
  if (rc != 0) return rc;

  upnp_string *reply = upnp_soap_post(&target, service, action, envelope, call);
  if (!reply || reply->length < 5) {
    upnp_log_impl(LOG_LEVEL_WARNING, LOG_SYSTEM, "invokeSoapAction",
                  "invokeSoapAction(%llu)HTTP_soap_action invalid/no response for %s", call, target.name);
    upnp_string_free(reply);
    upnp_soap_target_free(&target);
    const upnp_soap_device_access *access = g_access.load();
    if (access && access->invalidate) access->invalidate(index, kind);
    return UPNP_E_NO_RESPONSE;
  }
  rc = static_cast<int>(upnp_soap_error_code(reply->buffer));
  upnp_log_impl(LOG_LEVEL_DEBUG, LOG_SYSTEM, "invokeSoapAction",
                "invokeSoapAction(%llu) HTTP_soap_action response code %u for %s, response:\n%s", call,
                static_cast<unsigned>(rc), target.name, reply->buffer);
  upnp_soap_target_free(&target);
  if (reply_out) *reply_out = reply;
  else upnp_string_free(reply);
  return rc;
}

extern "C" int invokeSoapAction2(int index, int kind, unsigned service, unsigned broken_bit, const char *action,
                                 upnp_string *envelope, upnp_string **reply_out) {
  if (reply_out) *reply_out = nullptr;
  if (!envelope || envelope->length == 0) {
    upnp_string_free(envelope);
    return UPNP_E_OUT_OF_MEMORY;
  }
  int rc = invokeSoapAction(index, kind, service, broken_bit, action, envelope->buffer, reply_out);
  upnp_string_free(envelope);
  return rc;
}
