// The slot table of the host and the generic call through it.
#include "host_slots.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "host_output.h"
#include "xpcom_memory.h"

namespace host {

namespace {

// Parameter kinds: s in string, i signed 32-bit, u unsigned 32-bit, a string
// array (its count is the u before it), o observer; out values: I signed,
// U unsigned, S string, L count and string array.
struct Param {
  char kind;
  std::string name;
};

// The values of one call, in parameter order.
struct Values {
  std::vector<std::string> strings;
  std::vector<bool> null_string;
  std::vector<long long> numbers;
  std::vector<std::vector<std::string>> arrays;
  std::vector<std::vector<const char *>> array_ptrs;
  std::vector<bool> null_array;
  std::vector<iZelControlPoint2XPComObserver *> observers;
  std::vector<PRInt32> out_int;
  std::vector<PRUint32> out_uint;
  std::vector<char *> out_str;
  std::vector<PRUint32> out_count;
  std::vector<char **> out_list;

  explicit Values(size_t n)
      : strings(n), null_string(n), numbers(n), arrays(n), array_ptrs(n), null_array(n), observers(n),
        out_int(n), out_uint(n), out_str(n), out_count(n), out_list(n) {}

  const char *s(size_t k) const { return null_string[k] ? nullptr : strings[k].c_str(); }
  PRInt32 i(size_t k) const { return static_cast<PRInt32>(numbers[k]); }
  PRUint32 u(size_t k) const { return static_cast<PRUint32>(numbers[k]); }
  const char **a(size_t k) { return null_array[k] ? nullptr : array_ptrs[k].data(); }
  iZelControlPoint2XPComObserver *o(size_t k) const { return observers[k]; }
  PRInt32 *I(size_t k) { return &out_int[k]; }
  PRUint32 *U(size_t k) { return &out_uint[k]; }
  char **S(size_t k) { return &out_str[k]; }
};

using C = iZelControlPoint2XPCom;
using Invoke = nsresult (*)(C *, Values &);

struct Slot {
  const char *name;
  const char *params;  // "kind:name kind:name ..."
  Invoke invoke;
};

// Slot order of the interface; the invokers pass each value as its type.
const Slot kSlots[] = {
    {"GetNumRenderers", "I:count", [](C *c, Values &v) { return c->GetNumRenderers(v.I(0)); }},
    {"GetRendererInfo", "i:index S:info", [](C *c, Values &v) { return c->GetRendererInfo(v.i(0), v.S(1)); }},
    {"GetRendererInfoFromBookmark", "s:bookmark S:info",
     [](C *c, Values &v) { return c->GetRendererInfoFromBookmark(v.s(0), v.S(1)); }},
    {"SetRendererInfo", "s:bookmark s:name i:icon",
     [](C *c, Values &v) { return c->SetRendererInfo(v.s(0), v.s(1), v.i(2)); }},
    {"GetRendererPlayState", "s:bookmark S:state",
     [](C *c, Values &v) { return c->GetRendererPlayState(v.s(0), v.S(1)); }},
    {"CanRendererPlayItem", "s:bookmark s:url I:canPlay",
     [](C *c, Values &v) { return c->CanRendererPlayItem(v.s(0), v.s(1), v.I(2)); }},
    {"GetNumServers", "I:count", [](C *c, Values &v) { return c->GetNumServers(v.I(0)); }},
    {"GetServerInfo", "i:index S:info", [](C *c, Values &v) { return c->GetServerInfo(v.i(0), v.S(1)); }},
    {"GetServerInfoFromBookmark", "s:bookmark S:info",
     [](C *c, Values &v) { return c->GetServerInfoFromBookmark(v.s(0), v.S(1)); }},
    {"GetNumMusicItems", "s:bookmark I:count", [](C *c, Values &v) { return c->GetNumMusicItems(v.s(0), v.I(1)); }},
    {"GetMusicItem", "s:bookmark i:index S:info",
     [](C *c, Values &v) { return c->GetMusicItem(v.s(0), v.i(1), v.S(2)); }},
    {"PlayItem", "s:bookmark u:type s:name s:url I:ok",
     [](C *c, Values &v) { return c->PlayItem(v.s(0), v.u(1), v.s(2), v.s(3), v.I(4)); }},
    {"PlayIndex", "s:bookmark u:index I:ok", [](C *c, Values &v) { return c->PlayIndex(v.s(0), v.u(1), v.I(2)); }},
    {"Pause", "s:bookmark", [](C *c, Values &v) { return c->Pause(v.s(0)); }},
    {"Resume", "s:bookmark", [](C *c, Values &v) { return c->Resume(v.s(0)); }},
    {"SetQueue", "s:bookmark u:type u:count a:names a:urls",
     [](C *c, Values &v) { return c->SetQueue(v.s(0), v.u(1), v.u(2), v.a(3), v.a(4)); }},
    {"AddToQueue", "s:bookmark u:type u:count a:names a:urls",
     [](C *c, Values &v) { return c->AddToQueue(v.s(0), v.u(1), v.u(2), v.a(3), v.a(4)); }},
    {"StopRenderer", "s:bookmark", [](C *c, Values &v) { return c->StopRenderer(v.s(0)); }},
    {"SetSlideshowInterval", "u:seconds", [](C *c, Values &v) { return c->SetSlideshowInterval(v.u(0)); }},
    {"GetCurrentQueueIndex", "s:bookmark I:index",
     [](C *c, Values &v) { return c->GetCurrentQueueIndex(v.s(0), v.I(1)); }},
    {"GetNumItemsInQueue", "s:bookmark I:count",
     [](C *c, Values &v) { return c->GetNumItemsInQueue(v.s(0), v.I(1)); }},
    {"GetVolume", "s:bookmark I:volume", [](C *c, Values &v) { return c->GetVolume(v.s(0), v.I(1)); }},
    {"SetVolume", "s:bookmark u:volume", [](C *c, Values &v) { return c->SetVolume(v.s(0), v.u(1)); }},
    {"GetMute", "s:bookmark I:mute", [](C *c, Values &v) { return c->GetMute(v.s(0), v.I(1)); }},
    {"SetMute", "s:bookmark u:mute", [](C *c, Values &v) { return c->SetMute(v.s(0), v.u(1)); }},
    {"StartPlaylistServer", "", [](C *c, Values &) { return c->StartPlaylistServer(); }},
    {"GetPlaylistList", "L:list",
     [](C *c, Values &v) { return c->GetPlaylistList(&v.out_count[0], &v.out_list[0]); }},
    {"CreatePlaylist", "s:name u:type U:id", [](C *c, Values &v) { return c->CreatePlaylist(v.s(0), v.u(1), v.U(2)); }},
    {"DeletePlaylist", "u:id", [](C *c, Values &v) { return c->DeletePlaylist(v.u(0)); }},
    {"AddItemsToPlaylist", "u:id u:count a:names a:urls",
     [](C *c, Values &v) { return c->AddItemsToPlaylist(v.u(0), v.u(1), v.a(2), v.a(3)); }},
    {"DeleteItemFromPlaylist", "u:id u:index",
     [](C *c, Values &v) { return c->DeleteItemFromPlaylist(v.u(0), v.u(1)); }},
    {"MoveItemInPlaylist", "u:id u:from u:to",
     [](C *c, Values &v) { return c->MoveItemInPlaylist(v.u(0), v.u(1), v.u(2)); }},
    {"RenamePlaylist", "u:id s:name", [](C *c, Values &v) { return c->RenamePlaylist(v.u(0), v.s(1)); }},
    {"RenameItemInPlaylist", "u:id u:index s:name",
     [](C *c, Values &v) { return c->RenameItemInPlaylist(v.u(0), v.u(1), v.s(2)); }},
    {"SetProgramOption", "s:name s:value", [](C *c, Values &v) { return c->SetProgramOption(v.s(0), v.s(1)); }},
    {"GetProgramOption", "s:name S:value", [](C *c, Values &v) { return c->GetProgramOption(v.s(0), v.S(1)); }},
    {"GetMediaTypeForSite", "s:url U:type", [](C *c, Values &v) { return c->GetMediaTypeForSite(v.s(0), v.U(1)); }},
    {"GetYouTubeItemName", "s:url S:name", [](C *c, Values &v) { return c->GetYouTubeItemName(v.s(0), v.S(1)); }},
    {"GetStreamableURL", "s:url S:streamable",
     [](C *c, Values &v) { return c->GetStreamableURL(v.s(0), v.S(1)); }},
    {"GetCurrentDate", "S:date", [](C *c, Values &v) { return c->GetCurrentDate(v.S(0)); }},
    {"GetLocalServerVersion", "S:version", [](C *c, Values &v) { return c->GetLocalServerVersion(v.S(0)); }},
    {"GetLocalServerFullVersionString", "S:version",
     [](C *c, Values &v) { return c->GetLocalServerFullVersionString(v.S(0)); }},
    {"AddControlPointObserver", "o:observer",
     [](C *c, Values &v) { return c->AddControlPointObserver(v.o(0)); }},
    {"RemoveControlPointObserver", "o:observer",
     [](C *c, Values &v) { return c->RemoveControlPointObserver(v.o(0)); }},
    {"AddRendererObserver", "o:observer", [](C *c, Values &v) { return c->AddRendererObserver(v.o(0)); }},
    {"RemoveRendererObserver", "o:observer",
     [](C *c, Values &v) { return c->RemoveRendererObserver(v.o(0)); }},
};
const size_t kSlotCount = sizeof kSlots / sizeof kSlots[0];
static_assert(sizeof kSlots / sizeof kSlots[0] == 46, "the interface has 46 methods after nsISupports");

std::vector<Param> params_of(const Slot &slot) {
  std::vector<Param> params;
  const char *p = slot.params;
  while (*p != '\0') {
    Param param{p[0], ""};
    p += 2;
    while (*p != '\0' && *p != ' ') param.name += *p++;
    if (*p == ' ') ++p;
    params.push_back(param);
  }
  return params;
}

const Slot *find_slot(const std::string &name) {
  for (size_t k = 0; k < kSlotCount; ++k)
    if (name == kSlots[k].name) return &kSlots[k];
  return nullptr;
}

bool parse_number(const Token &t, bool is_signed, long long &out, std::string &error) {
  const std::string &s = t.text;
  if (s.empty()) {
    error = "empty number";
    return false;
  }
  errno = 0;
  char *end = nullptr;
  if (is_signed) {
    long long v = std::strtoll(s.c_str(), &end, 0);
    if (*end != '\0' || end == s.c_str()) {
      error = "\"" + s + "\" is not a number";
      return false;
    }
    if (errno == ERANGE || v < -2147483648LL || v > 2147483647LL) {
      error = "number out of range (signed 32-bit): " + s;
      return false;
    }
    out = v;
    return true;
  }
  if (s[0] == '-' || s[0] == '+') {
    error = s[0] == '-' ? "number out of range (unsigned 32-bit): " + s : "\"" + s + "\" is not a number";
    return false;
  }
  unsigned long long v = std::strtoull(s.c_str(), &end, 0);
  if (*end != '\0' || end == s.c_str()) {
    error = "\"" + s + "\" is not a number";
    return false;
  }
  if (errno == ERANGE || v > 4294967295ULL) {
    error = "number out of range (unsigned 32-bit): " + s;
    return false;
  }
  out = static_cast<long long>(v);
  return true;
}

std::string json_list(const std::vector<std::string> &items) {
  std::string out = "[";
  for (size_t k = 0; k < items.size(); ++k) out += (k ? "," : "") + json_string(items[k]);
  return out + "]";
}

std::string text_list(const std::vector<std::string> &items) {
  std::string out = "[";
  for (size_t k = 0; k < items.size(); ++k) out += (k ? " " : "") + quoted(items[k]);
  return out + "]";
}

void refuse(const std::string &method, const std::string &why) { say("error", method + ": " + why + " (not called)"); }

}  // namespace

const OutValue *CallResult::out(const std::string &name) const {
  for (const OutValue &v : outs)
    if (v.name == name) return &v;
  return nullptr;
}

int slot_number(const std::string &method) {
  for (size_t k = 0; k < kSlotCount; ++k)
    if (method == kSlots[k].name) return static_cast<int>(k) + 1;
  return 0;
}

std::vector<std::string> slot_signatures() {
  std::vector<std::string> out;
  for (size_t k = 0; k < kSlotCount; ++k) {
    std::string sig = std::string(kSlots[k].name) + "(";
    bool first = true;
    for (const Param &p : params_of(kSlots[k])) {
      const char *type = "";
      switch (p.kind) {
        case 's': type = "string "; break;
        case 'i': type = "int "; break;
        case 'u': type = "unsigned "; break;
        case 'a': type = "string[] "; break;
        case 'o': type = "observer "; break;
        case 'I': type = "out int "; break;
        case 'U': type = "out unsigned "; break;
        case 'S': type = "out string "; break;
        case 'L': type = "out unsigned count, out string[] "; break;
      }
      sig += (first ? "" : ", ") + std::string(type) + p.name;
      first = false;
    }
    out.push_back(sig + ")");
  }
  return out;
}

std::string result_name(nsresult rv) {
  switch (rv) {
    case NS_OK: return "NS_OK";
    case NS_ERROR_NOT_IMPLEMENTED: return "NS_ERROR_NOT_IMPLEMENTED";
    case NS_NOINTERFACE: return "NS_NOINTERFACE";
    case NS_ERROR_NULL_POINTER: return "NS_ERROR_NULL_POINTER";
    case NS_ERROR_ABORT: return "NS_ERROR_ABORT";
    case NS_ERROR_FAILURE: return "NS_ERROR_FAILURE";
    case NS_ERROR_UNEXPECTED: return "NS_ERROR_UNEXPECTED";
    case NS_ERROR_OUT_OF_MEMORY: return "NS_ERROR_OUT_OF_MEMORY";
    case NS_ERROR_INVALID_ARG: return "NS_ERROR_INVALID_ARG";
    case NS_ERROR_NO_AGGREGATION: return "NS_ERROR_NO_AGGREGATION";
    case NS_ERROR_NOT_AVAILABLE: return "NS_ERROR_NOT_AVAILABLE";
    case NS_ERROR_FACTORY_NOT_REGISTERED: return "NS_ERROR_FACTORY_NOT_REGISTERED";
    case NS_ERROR_NOT_INITIALIZED: return "NS_ERROR_NOT_INITIALIZED";
    case NS_ERROR_ILLEGAL_DURING_SHUTDOWN: return "NS_ERROR_ILLEGAL_DURING_SHUTDOWN";
  }
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08x", rv);
  return buf;
}

CallResult call_slot(iZelControlPoint2XPCom *component, const std::string &method, const std::vector<Token> &args,
                     const ObserverLookup &observers) {
  CallResult result;
  const Slot *slot = find_slot(method);
  if (slot == nullptr) {
    refuse(method, "unknown method (\"help\" lists them)");
    return result;
  }
  std::vector<Param> params = params_of(*slot);
  Values v(params.size());
  std::vector<std::string> shown_json, shown_text;
  size_t next = 0;
  size_t wanted = 0;
  for (const Param &p : params)
    if (std::strchr("siuao", p.kind) != nullptr) ++wanted;
  std::string error;
  for (size_t k = 0; k < params.size(); ++k) {
    const Param &p = params[k];
    if (std::strchr("IUSL", p.kind) != nullptr) continue;
    if (next >= args.size()) {
      refuse(method, "wrong argument count: " + std::to_string(wanted) + " expected (" +
                         slot_signatures()[static_cast<size_t>(slot - kSlots)] + ")");
      return result;
    }
    const Token &t = args[next];
    if (p.kind == 'a') {
      if (!t.bracket && !t.quoted && t.text == "null") {
        v.null_array[k] = true;
        ++next;
        shown_json.push_back("null");
        shown_text.push_back("null");
        continue;
      }
      if (!t.bracket || t.text != "[") {
        refuse(method, p.name + ": a string array [ ... ] or null expected");
        return result;
      }
      ++next;
      while (next < args.size() && !(args[next].bracket && args[next].text == "]")) {
        if (args[next].bracket) {
          refuse(method, p.name + ": arrays do not nest");
          return result;
        }
        v.arrays[k].push_back(args[next++].text);
      }
      if (next >= args.size()) {
        refuse(method, p.name + ": unclosed [");
        return result;
      }
      ++next;
      // The count is the unsigned before the first array; the component
      // reads that many entries, so no array may hold fewer.
      size_t count_index = k;
      while (count_index > 0 && params[count_index].kind != 'u') --count_index;
      if (v.numbers[count_index] > static_cast<long long>(v.arrays[k].size())) {
        refuse(method, p.name + ": holds " + std::to_string(v.arrays[k].size()) + " strings, count says " +
                           std::to_string(v.numbers[count_index]));
        return result;
      }
      for (const std::string &s : v.arrays[k]) v.array_ptrs[k].push_back(s.c_str());
      v.array_ptrs[k].push_back(nullptr);
      shown_json.push_back(json_list(v.arrays[k]));
      shown_text.push_back(text_list(v.arrays[k]));
      continue;
    }
    if (t.bracket) {
      refuse(method, p.name + ": unexpected " + t.text);
      return result;
    }
    ++next;
    switch (p.kind) {
      case 's':
        if (!t.quoted && t.text == "null") {
          v.null_string[k] = true;
          shown_json.push_back("null");
          shown_text.push_back("null");
        } else {
          v.strings[k] = t.text;
          shown_json.push_back(json_string(t.text));
          shown_text.push_back(quoted(t.text));
        }
        break;
      case 'i':
      case 'u':
        if (!parse_number(t, p.kind == 'i', v.numbers[k], error)) {
          refuse(method, p.name + ": " + error);
          return result;
        }
        shown_json.push_back(std::to_string(v.numbers[k]));
        shown_text.push_back(std::to_string(v.numbers[k]));
        break;
      case 'o':
        if (!t.quoted && t.text == "null") {
          v.observers[k] = nullptr;
        } else {
          v.observers[k] = observers ? observers(t.text) : nullptr;
          if (v.observers[k] == nullptr) {
            refuse(method, "no observer named " + quoted(t.text));
            return result;
          }
        }
        shown_json.push_back(json_string(t.text));
        shown_text.push_back(t.text);
        break;
    }
  }
  if (next != args.size()) {
    refuse(method, "wrong argument count: " + std::to_string(wanted) + " expected (" +
                       slot_signatures()[static_cast<size_t>(slot - kSlots)] + ")");
    return result;
  }

  result.made = true;
  result.rv = slot->invoke(component, v);

  std::string out_json = "{", out_text;
  for (size_t k = 0; k < params.size(); ++k) {
    const Param &p = params[k];
    if (std::strchr("IUSL", p.kind) == nullptr) continue;
    OutValue o;
    o.name = p.name;
    std::string j, t;
    if (p.kind == 'I' || p.kind == 'U') {
      o.is_number = true;
      o.number = p.kind == 'I' ? v.out_int[k] : static_cast<long long>(v.out_uint[k]);
      j = t = std::to_string(o.number);
    } else if (p.kind == 'S') {
      o.is_null = v.out_str[k] == nullptr;
      if (!o.is_null) o.text = v.out_str[k];
      NS_Free(v.out_str[k]);
      j = o.is_null ? "null" : json_string(o.text);
      t = o.is_null ? "null" : quoted(o.text);
    } else {
      char **list = v.out_list[k];
      o.is_null = list == nullptr;
      o.number = v.out_count[k];
      for (PRUint32 e = 0; list != nullptr && e < v.out_count[k]; ++e) {
        o.list.push_back(list[e] != nullptr ? list[e] : "");
        NS_Free(list[e]);
      }
      NS_Free(list);
      j = o.is_null ? "null" : json_list(o.list);
      t = "count=" + std::to_string(v.out_count[k]) + " " + p.name + "=" + (o.is_null ? "null" : text_list(o.list));
      out_json += (out_json.size() > 1 ? "," : "") + json_string("count") + ":" + std::to_string(v.out_count[k]);
    }
    out_json += (out_json.size() > 1 ? "," : "") + json_string(p.name) + ":" + j;
    out_text += (out_text.empty() ? "" : " ") + (p.kind == 'L' ? t : p.name + "=" + t);
    result.outs.push_back(o);
  }
  out_json += "}";

  std::string args_json = "[", args_text;
  for (size_t k = 0; k < shown_json.size(); ++k) {
    args_json += (k ? "," : "") + shown_json[k];
    args_text += (k ? " " : "") + shown_text[k];
  }
  args_json += "]";
  char code[16];
  std::snprintf(code, sizeof code, "0x%08x", result.rv);
  Record r("call");
  r.str("method", method).num("slot", slot - kSlots + 1).raw("args", args_json, "(" + args_text + ")");
  r.str("result", result_name(result.rv)).str("code", code).raw("out", out_json, "{" + out_text + "}");
  emit(r);
  return result;
}

}  // namespace host
