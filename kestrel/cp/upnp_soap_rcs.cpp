// RenderingControl actions of renderers.
#include <cstdio>
#include <cstdlib>
#include <cctype>
#include <cstring>

#include "base/upnp_mem.h"
#include "cp/upnp_soap_internal.h"

namespace {

constexpr int kRenderer = UPNP_KIND_RENDERER;

int set_value(int index, const char *action, const char *arg, const char *value, bool channel) {
  upnp_soap_arg with_channel[] = {{"InstanceID", "0"}, {"Channel", "Master"}, {arg, value}};
  upnp_soap_arg without[] = {{"InstanceID", "0"}, {arg, value}};
  return channel ? upnp_soap_call(index, kRenderer, UPNP_SERVICE_RCS, 0, action, with_channel, 3, nullptr)
                 : upnp_soap_call(index, kRenderer, UPNP_SERVICE_RCS, 0, action, without, 2, nullptr);
}

int set_unsigned(int index, const char *action, const char *arg, unsigned value, bool channel) {
  char text[16];
  std::snprintf(text, sizeof text, "%u", value);
  return set_value(index, action, arg, text, channel);
}

// Calls a getter and hands back its parsed reply.
int get(int index, const char *action, bool channel, upnp_xml_node **tree) {
  *tree = nullptr;
  upnp_soap_arg args[] = {{"InstanceID", "0"}, {"Channel", "Master"}};
  upnp_string *reply = nullptr;
  int rc = upnp_soap_call(index, kRenderer, UPNP_SERVICE_RCS, 0, action, args, channel ? 2 : 1, &reply);
  if (rc == 0) {
    *tree = upnp_xml_parse(upnp_string_get_cstring(reply));
    if (!*tree) rc = UPNP_E_BAD_RESPONSE;
  }
  upnp_string_free(reply);
  return rc;
}

int get_digit(int index, const char *action, const char *out_name, bool channel, unsigned *out) {
  if (out) *out = 0;
  upnp_xml_node *tree = nullptr;
  int rc = get(index, action, channel, &tree);
  if (rc == 0) rc = upnp_soap_out_digit(tree, out_name, out);
  upnp_xml_release(tree);
  return rc;
}

int get_bool(int index, const char *action, const char *out_name, int *out) {
  if (out) *out = 0;
  upnp_xml_node *tree = nullptr;
  int rc = get(index, action, true, &tree);
  if (rc == 0) rc = upnp_soap_out_bool(tree, out_name, out);
  upnp_xml_release(tree);
  return rc;
}

// A signed decimal value that must be present.
int signed_value(upnp_xml_node *tree, const char *name, int *out) {
  const char *v = upnp_soap_out_text(tree, name);
  if (!v || !(std::isdigit(static_cast<unsigned char>(*v)) || *v == '-' || *v == '+')) return UPNP_E_BAD_RESPONSE;
  if (out) *out = std::atoi(v);
  return 0;
}

}  // namespace

extern "C" int upnp_set_Volume(int index, unsigned volume) {
  return set_unsigned(index, "SetVolume", "DesiredVolume", volume, true);
}

extern "C" int upnp_set_VolumeDB(int index, int volume) {
  char text[16];
  std::snprintf(text, sizeof text, "%d", volume);
  return set_value(index, "SetVolumeDB", "DesiredVolume", text, true);
}

extern "C" int upnp_set_Mute(int index, int on) {
  return set_value(index, "SetMute", "DesiredMute", on ? "1" : "0", true);
}

extern "C" int upnp_cp_setLoudness(int index, int on) {
  return set_value(index, "SetLoudness", "DesiredLoudness", on ? "1" : "0", true);
}

extern "C" int upnp_cp_setContrast(int index, unsigned value) {
  return set_unsigned(index, "SetContrast", "DesiredContrast", value, false);
}

extern "C" int upnp_cp_setBrightness(int index, unsigned value) {
  return set_unsigned(index, "SetBrightness", "DesiredBrightness", value, false);
}

extern "C" int upnp_cp_getVolume(int index, unsigned *volume) {
  return get_digit(index, "GetVolume", "CurrentVolume", true, volume);
}

extern "C" int upnp_cp_getContrast(int index, unsigned *value) {
  return get_digit(index, "GetContrast", "CurrentContrast", false, value);
}

extern "C" int upnp_cp_getBrightness(int index, unsigned *value) {
  return get_digit(index, "GetBrightness", "CurrentBrightness", false, value);
}

extern "C" int upnp_cp_getMute(int index, int *on) { return get_bool(index, "GetMute", "CurrentMute", on); }

extern "C" int upnp_cp_getLoudness(int index, int *on) {
  return get_bool(index, "GetLoudness", "CurrentLoudness", on);
}

extern "C" int upnp_getvolumedb(int index, int *volume) {
  if (volume) *volume = 0;
  upnp_xml_node *tree = nullptr;
  int rc = get(index, "GetVolumeDB", true, &tree);
  if (rc == 0) rc = signed_value(tree, "CurrentVolume", volume);
  upnp_xml_release(tree);
  return rc;
}

extern "C" int upnp_getvolumedb_range(int index, int *min, int *max) {
  if (min) *min = 0;
  if (max) *max = 0;
  upnp_xml_node *tree = nullptr;
  int rc = get(index, "GetVolumeDBRange", true, &tree);
  int lo = 0, hi = 0;
  if (rc == 0) rc = signed_value(tree, "MinValue", &lo);
  if (rc == 0) rc = signed_value(tree, "MaxValue", &hi);
  if (rc == 0) {
    if (min) *min = lo;
    if (max) *max = hi;
  }
  upnp_xml_release(tree);
  return rc;
}

extern "C" int upnp_getvolume(int index) {
  unsigned v = 0;
  return upnp_cp_getVolume(index, &v) == 0 ? static_cast<int>(v) : -1;
}

extern "C" int upnp_getmute(int index) {
  int on = 0;
  return upnp_cp_getMute(index, &on) == 0 ? (on ? 1 : 0) : -1;
}

namespace {

struct maximum_query {
  const char *variable;
  unsigned value;
};

int read_maximum(const upnp_xml_node *scpd, void *context) {
  maximum_query *q = static_cast<maximum_query *>(context);
  if (!scpd) {
    q->value = 500;
    return 0;
  }
  q->value = 100;
  upnp_xml_node *vars = upnp_xml_find_tag(const_cast<upnp_xml_node *>(scpd), "serviceStateTable");
  for (upnp_xml_node *v = vars ? vars->children : nullptr; v; v = v->next) {
    const char *name = upnp_xml_find_tag_value(v->children, "name");
    if (!name || std::strcmp(name, q->variable) != 0) continue;
    upnp_xml_node *range = upnp_xml_find_tag(v->children, "allowedValueRange");
    const char *max = range ? upnp_xml_find_tag_value(range->children, "maximum") : nullptr;
    if (max && std::isdigit(static_cast<unsigned char>(*max))) {
      unsigned long n = std::strtoul(max, nullptr, 10);
      q->value = n > 0xffffffffUL ? 0xffffffffu : static_cast<unsigned>(n);
    } else if (max) {
      return UPNP_E_BAD_RESPONSE;
    }
    break;
  }
  return 0;
}

}  // namespace

extern "C" int upnp_control_getRCSMaximumValue(int index, const char *variable, unsigned *out) {
  if (out) *out = 0;
  if (!variable) return UPNP_E_INVALID_PARAM;
  maximum_query q{variable, 0};
  int rc = upnp_soap_with_scpd(index, kRenderer, UPNP_SERVICE_RCS, read_maximum, &q);
  if (rc == 0 && out) *out = q.value;
  return rc;
}

extern "C" int upnp_control_getMaximumVolume(int index, unsigned *out) {
  return upnp_control_getRCSMaximumValue(index, "Volume", out);
}
