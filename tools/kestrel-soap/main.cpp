// kestrel-soap: drives the lab's media server and renderers by hand through
// the library's UPnP actions. It starts the control point without its
// network stack (no SSDP), adds the devices whose description URLs it is
// given (by default the lab's, from the LAB_* variables) and runs one
// command. Run it inside the lab only: tests/lab/lab.sh run kestrel-soap ...
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/upnp_ini_file.h"
#include "base/upnp_mem.h"
#include "base/upnp_string.h"
#include "base/upnp_thread.h"
#include "base/upnp_xml.h"
#include "base/upnp_xml_escape.h"
#include "cp/upnp_cp.h"
#include "cp/upnp_cp_internal.h"
#include "cp/upnp_soap.h"

namespace {

const char kUsage[] =
    "usage: kestrel-soap [--server DESC UDN] [--renderer DESC UDN] COMMAND [ARGS]\n"
    "commands (server):   browse ID [PAGE]        all children of ID, PAGE at a time (default 50)\n"
    "                     search ID CRITERIA      Search below ID\n"
    "                     searchcaps\n"
    "                     protocol-info server|renderer\n"
    "commands (renderer): play URI [TITLE]        SetAVTransportURI (with DIDL-Lite metadata) + Play\n"
    "                     pause | stop | resume\n"
    "                     seek TARGET [UNIT]      Seek (unit REL_TIME unless given)\n"
    "                     position | transport | media\n"
    "                     volume [N] | mute [0|1]\n"
    "Devices default to LAB_SERVER_DESC/_UDN and LAB_RENDERER_DESC/_UDN.\n";

const char *env(const char *name) {
  const char *v = std::getenv(name);
  return v && *v ? v : nullptr;
}

std::string text_or(const char *p, const char *fallback = "") { return p ? p : fallback; }

int report(const char *what, int rc) {
  if (rc != 0) std::fprintf(stderr, "kestrel-soap: %s: %d %s\n", what, rc, upnp_get_errmsg(rc));
  return rc;
}

// Adds a device and waits (bounded) until it is usable; its index or -1.
int add_and_wait(const char *desc, const char *udn, int kind) {
  if (!desc || !udn) return -1;
  std::string iface = text_or(env("LAB_ADDR"), "127.0.0.1") + ":9000";
  cp_add_device(desc, udn, iface.c_str(), 1800, kind);
  for (int i = 0; i < 200; ++i) {
    int index = upnp_control_get_device_index(udn, kind);
    if (index >= 0 && upnp_cp_isValidIndex(index, kind) == 1) {
      upnp_cp_device *d = nullptr;
      int ok = 0;
      if (upnp_cp_lock_section()) {
        ok = getDeviceInfo(index, kind, 1, 1, &d) == 0;
        upnp_cp_unlock_section();
      }
      if (ok) return index;
    }
    Sleep(50);
  }
  std::fprintf(stderr, "kestrel-soap: %s %s did not become usable\n", upnp_cp_kind_name(kind), udn);
  return -1;
}

std::string didl(const char *title, const char *uri) {
  std::string t = title, u = uri;
  auto esc = [](const std::string &s) {
    char *e = upnp_xml_escape_cond(s.c_str(), 0);
    std::string r = e ? e : "";
    upnp_free_impl(e);
    return r;
  };
  return "<DIDL-Lite xmlns=\"urn:schemas-upnp-org:metadata-1-0/DIDL-Lite/\" "
         "xmlns:dc=\"http://purl.org/dc/elements/1.1/\" xmlns:upnp=\"urn:schemas-upnp-org:metadata-1-0/upnp/\">"
         "<item id=\"1\" parentID=\"0\" restricted=\"1\"><dc:title>" +
         esc(t) + "</dc:title><upnp:class>object.item.audioItem.musicTrack</upnp:class>"
                  "<res protocolInfo=\"http-get:*:*:*\">" +
         esc(u) + "</res></item></DIDL-Lite>";
}

// Prints the entries of one Browse/Search reply; the number returned.
int print_entries(upnp_xml_node *reply, unsigned *total) {
  *total = upnp_xml_find_tag_value_uint(reply, "TotalMatches", 0);
  const char *result = upnp_xml_find_tag_value(reply, "Result");
  upnp_xml_node *doc = result ? upnp_xml_parse(result) : nullptr;
  int n = 0;
  for (upnp_xml_node *e = doc ? doc->children : nullptr; e; e = e->next) {
    if (!e->name || (std::strcmp(e->name, "item") != 0 && std::strcmp(e->name, "container") != 0)) continue;
    ++n;
    const char *id = upnp_xml_find_attribute_value(e, "id");
    std::printf("%s\t%s\t%s\t%s\n", e->name, text_or(id).c_str(),
                text_or(upnp_xml_find_tag_value(e->children, "dc:title")).c_str(),
                text_or(upnp_xml_find_tag_value(e->children, "res")).c_str());
  }
  upnp_xml_release(doc);
  return n;
}

int page_through(int server, const char *id, const char *criteria, unsigned page) {
  unsigned start = 0, total = 0;
  do {
    upnp_xml_node *reply = nullptr;
    int rc = criteria ? upnp_control_search(server, id, "*", start, page, nullptr, criteria, &reply)
                      : upnp_control_browse(server, id, "*", start, page, nullptr, &reply);
    if (report(criteria ? "Search" : "Browse", rc)) return rc;
    int n = print_entries(reply, &total);
    upnp_xml_release(reply);
    if (n == 0) break;
    start += static_cast<unsigned>(n);
  } while (start < total);
  std::fprintf(stderr, "kestrel-soap: %u of %u entries\n", start, total);
  return 0;
}

int run(int server, int renderer, const std::vector<std::string> &a) {
  const std::string &cmd = a[0];
  auto need = [&](int index, const char *what) {
    if (index < 0) std::fprintf(stderr, "kestrel-soap: no %s\n", what);
    return index >= 0;
  };
  if (cmd == "browse" && a.size() >= 2) {
    if (!need(server, "server")) return 2;
    return page_through(server, a[1].c_str(), nullptr, a.size() > 2 ? std::atoi(a[2].c_str()) : 50);
  }
  if (cmd == "search" && a.size() >= 3) {
    if (!need(server, "server")) return 2;
    return page_through(server, a[1].c_str(), a[2].c_str(), 50);
  }
  if (cmd == "searchcaps") {
    if (!need(server, "server")) return 2;
    char *caps = nullptr;
    int rc = report("GetSearchCapabilities", upnp_cp_get_SearchCapabilities(server, &caps));
    if (!rc) std::printf("%s\n", caps);
    upnp_free_impl(caps);
    return rc;
  }
  if (cmd == "protocol-info" && a.size() >= 2) {
    bool r = a[1] == "renderer";
    int index = r ? renderer : server;
    if (!need(index, a[1].c_str())) return 2;
    char *info = nullptr;
    int rc = report("GetProtocolInfo",
                    upnp_get_NonCachedProtocolInfo(index, r ? UPNP_KIND_RENDERER : UPNP_KIND_SERVER, &info));
    if (!rc) std::printf("%s\n", info);
    upnp_free_impl(info);
    return rc;
  }
  if (!need(renderer, "renderer")) return 2;
  if (cmd == "play" && a.size() >= 2) {
    std::string meta = didl(a.size() > 2 ? a[2].c_str() : "Track", a[1].c_str());
    int rc = report("SetAVTransportURI", upnp_set_AVTransportURI(renderer, a[1].c_str(), meta.c_str()));
    return rc ? rc : report("Play", upnp_play(renderer));
  }
  if (cmd == "resume") return report("Play", upnp_play(renderer));
  if (cmd == "pause") return report("Pause", upnp_pause(renderer));
  if (cmd == "stop") return report("Stop", upnp_stop(renderer));
  if (cmd == "seek" && a.size() >= 2) {
    unsigned unit = a.size() > 2 ? upnp_seek_unit_index(a[2].c_str()) : UPNP_SEEK_REL_TIME;
    return report("Seek", upnp_control_seek(renderer, unit, a[1].c_str()));
  }
  if (cmd == "position") {
    int track = 0;
    char *dur = nullptr, *uri = nullptr, *rel = nullptr;
    int rc = report("GetPositionInfo",
                    upnp_get_PositionInfo(renderer, &track, &dur, nullptr, &uri, &rel, nullptr, nullptr, nullptr));
    if (!rc) std::printf("track %d\t%s / %s\t%s\n", track, rel, dur, uri);
    upnp_free_impl(dur);
    upnp_free_impl(uri);
    upnp_free_impl(rel);
    return rc;
  }
  if (cmd == "transport") {
    char *state = nullptr, *status = nullptr, *speed = nullptr;
    int rc = report("GetTransportInfo", upnp_get_TransportInfo(renderer, &state, &status, &speed));
    if (!rc) std::printf("%s\t%s\t%s\n", state, status, speed);
    upnp_free_impl(state);
    upnp_free_impl(status);
    upnp_free_impl(speed);
    return rc;
  }
  if (cmd == "media") {
    char *uri = nullptr, *meta = nullptr;
    int rc = report("GetMediaInfo", upnp_get_MediaInfo(renderer, nullptr, nullptr, &uri, &meta, nullptr, nullptr,
                                                       nullptr, nullptr, nullptr));
    if (!rc) std::printf("%s\n%s\n", uri, meta);
    upnp_free_impl(uri);
    upnp_free_impl(meta);
    return rc;
  }
  if (cmd == "volume") {
    if (a.size() >= 2) {
      int rc = report("SetVolume", upnp_set_Volume(renderer, static_cast<unsigned>(std::atoi(a[1].c_str()))));
      if (rc) return rc;
    }
    unsigned v = 0;
    int rc = report("GetVolume", upnp_cp_getVolume(renderer, &v));
    if (!rc) std::printf("%u\n", v);
    return rc;
  }
  if (cmd == "mute") {
    if (a.size() >= 2) {
      int rc = report("SetMute", upnp_set_Mute(renderer, std::atoi(a[1].c_str())));
      if (rc) return rc;
    }
    int on = 0;
    int rc = report("GetMute", upnp_cp_getMute(renderer, &on));
    if (!rc) std::printf("%d\n", on);
    return rc;
  }
  std::fputs(kUsage, stderr);
  return 2;
}

}  // namespace

int main(int argc, char **argv) {
  const char *sdesc = env("LAB_SERVER_DESC"), *sudn = env("LAB_SERVER_UDN");
  const char *rdesc = env("LAB_RENDERER_DESC"), *rudn = env("LAB_RENDERER_UDN");
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--server") == 0 && i + 2 < argc) {
      sdesc = argv[++i];
      sudn = argv[++i];
    } else if (std::strcmp(argv[i], "--renderer") == 0 && i + 2 < argc) {
      rdesc = argv[++i];
      rudn = argv[++i];
    } else {
      args.push_back(argv[i]);
    }
  }
  if (args.empty()) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  upnp_mem_init();
  upnp_ini_file_init();
  upnp_ini_file_dmc_init();
  upnp_set_errmsgs(upnp_cp_errmsgs());
  upnp_cp_start(0, 0);
  bool server_cmd = args[0] == "browse" || args[0] == "search" || args[0] == "searchcaps" ||
                    (args[0] == "protocol-info" && args.size() > 1 && args[1] == "server");
  int server = server_cmd ? add_and_wait(sdesc, sudn, UPNP_KIND_SERVER) : -1;
  int renderer = server_cmd ? -1 : add_and_wait(rdesc, rudn, UPNP_KIND_RENDERER);
  int rc = run(server, renderer, args);
  upnp_control_exit();
  upnp_ini_file_release();
  return rc == 0 ? 0 : 1;
}
