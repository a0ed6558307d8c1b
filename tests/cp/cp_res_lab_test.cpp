// Resource selection against the lab's real peers (run through
// tests/lab/lab.sh run): the real renderer's sink list as the table gives it,
// and the choice for every track, picture and video of the real media server,
// each chosen URL checked with an information request to the server.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/upnp_ini_file.h"
#include "base/upnp_mem.h"
#include "base/upnp_socket.h"
#include "base/upnp_thread.h"
#include "base/upnp_xml.h"
#include "cp/upnp_cp.h"
#include "cp/upnp_cp_internal.h"
#include "cp/upnp_cp_res.h"
#include "cp/upnp_soap.h"
#include "cp_lab_util.h"
#include "http/http_client.h"

using cp_lab::env;

namespace {

struct Res {
  std::string url, protocol_info, resolution, size;
};

struct Object {
  std::string kind, id, title, upnp_class;
  std::vector<Res> res;
};

class ResLab : public cp_lab::LabDevices {
 protected:
  // The children of a container (at most 200, enough for the lab's folders).
  static std::vector<Object> children(const std::string &id) {
    std::vector<Object> out;
    upnp_xml_node *reply = nullptr;
    int rc = upnp_control_browse(server_, id.c_str(), "*", 0, 200, nullptr, &reply);
    EXPECT_EQ(rc, 0) << upnp_get_errmsg(rc);
    const char *result = upnp_xml_find_tag_value(reply, "Result");
    upnp_xml_node *doc = result ? upnp_xml_parse(result) : nullptr;
    for (upnp_xml_node *e = doc ? doc->children : nullptr; e; e = e->next) {
      if (!e->name) continue;
      Object o;
      o.kind = e->name;
      const char *v = upnp_xml_find_attribute_value(e, "id");
      o.id = v ? v : "";
      v = upnp_xml_find_tag_value(e->children, "dc:title");
      o.title = v ? v : "";
      v = upnp_xml_find_tag_value(e->children, "upnp:class");
      o.upnp_class = v ? v : "";
      for (upnp_xml_node *c = e->children; c; c = c->next) {
        if (!c->name || std::strcmp(c->name, "res") != 0) continue;
        auto attr = [c](const char *name) {
          const char *a = upnp_xml_find_attribute_value(c, name);
          return std::string(a ? a : "");
        };
        o.res.push_back({c->value ? c->value : "", attr("protocolInfo"), attr("resolution"), attr("size")});
      }
      out.push_back(o);
    }
    upnp_xml_release(doc);
    upnp_xml_release(reply);
    return out;
  }

  static std::string container(const std::string &path) {
    std::string id = "0";
    size_t from = 0;
    while (true) {
      size_t slash = path.find('/', from);
      std::string title = path.substr(from, slash == std::string::npos ? std::string::npos : slash - from);
      std::string next;
      for (const Object &o : children(id))
        if (o.kind == "container" && o.title == title) next = o.id;
      if (next.empty()) return "";
      id = next;
      if (slash == std::string::npos) return id;
      from = slash + 1;
    }
  }

  // The res chosen for the lab renderer, "" when none.
  static std::string chosen(const Object &o, upnp_xml_node **res_copy = nullptr) {
    upnp_xml_node *tree = nullptr, *res = nullptr;
    int rc = upnp_cp_get_supported_res2(renderer_, server_, o.id.c_str(), "*", &tree, &res, nullptr);
    EXPECT_EQ(rc, 0) << o.title << ": " << upnp_get_errmsg(rc);
    std::string url = res && res->value ? res->value : "";
    if (res_copy) *res_copy = res ? upnp_xml_copy_node(res) : nullptr;
    upnp_xml_release(tree);
    return url;
  }

  // HEAD: the status and Content-Length the server answers for url.
  static int head(const std::string &url, long long *length) {
    *length = -1;
    int s = HTTP_open(url.c_str());
    if (s < 0) return 0;
    setSockOptReceiveTimeout(s, 5000);
    int status = 0;
    char header[HTTP_HEADER_BUFFER_SIZE];
    if (HTTP_head_request(s, url.c_str(), nullptr) == 0 && HTTP_get_header(s, header, sizeof header) > 0) {
      status = HTTP_parse_header_response(header);
      *length = HTTP_parse_header_size(header);
    }
    upnp_socket_close(s);
    return status;
  }
};

TEST_F(ResLab, RendererListIsTheRealAnswer) {
  ASSERT_GE(renderer_, 0);
  char *list = nullptr;
  ASSERT_EQ(upnp_cp_get_protocolinfo(renderer_, &list), 0);
  std::string text = list;
  upnp_free_impl(list);
  EXPECT_NE(text.find("http-get:*:audio/mpeg:*"), std::string::npos);
  EXPECT_NE(text.find("http-get:*:audio/x-flac:*"), std::string::npos);
  EXPECT_NE(text.find("http-get:*:image/jpeg:*"), std::string::npos);
  // It names L16 and WAV: nothing extra applies.
  char *extra = nullptr;
  EXPECT_EQ(upnp_cp_get_extra_ProtocolInfo(renderer_, text.c_str(), &extra), UPNP_CP_NOT_FOUND);
  std::string url = env("LAB_HTTP_URL") + "/media/x.mp3";
  EXPECT_EQ(upnp_cp_renderer_can_play_url(renderer_, url.c_str()), 0) << url;
  EXPECT_EQ(upnp_cp_renderer_can_play_url(renderer_, "http://169.254.77.1/x.docx"), UPNP_CP_NOT_FOUND);
}

TEST_F(ResLab, EveryTrackGetsItsOnlyResource) {
  ASSERT_GE(server_, 0);
  ASSERT_GE(renderer_, 0);
  std::string music = container("Music/All Music");
  ASSERT_FALSE(music.empty());
  std::vector<Object> tracks = children(music);
  ASSERT_GE(tracks.size(), 3u);
  for (const Object &t : tracks) {
    ASSERT_EQ(t.res.size(), 1u) << t.title;
    upnp_xml_node *res = nullptr;
    EXPECT_EQ(chosen(t, &res), t.res[0].url) << t.title;
    long long length = 0;
    EXPECT_EQ(head(t.res[0].url, &length), 200) << t.res[0].url;
    if (!t.res[0].size.empty()) {
      EXPECT_EQ(std::to_string(length), t.res[0].size) << t.title;
    }
    upnp_xml_release(res);
    EXPECT_EQ(upnp_cp_renderer_can_play_object(renderer_, server_, t.id.c_str()), 0) << t.title;
  }
}

TEST_F(ResLab, PicturesGetTheirOriginalNotAResizedCopy) {
  ASSERT_GE(server_, 0);
  ASSERT_GE(renderer_, 0);
  std::string pictures = container("Pictures/All Pictures");
  ASSERT_FALSE(pictures.empty());
  std::vector<Object> photos = children(pictures);
  ASSERT_GE(photos.size(), 3u);
  int with_copies = 0;
  for (const Object &p : photos) {
    ASSERT_FALSE(p.res.empty()) << p.title;
    with_copies += p.res.size() > 1 ? 1 : 0;
    // The server's original comes first; the resized copies are converted
    // (CI=1) thumbnails. No screen is known for the lab renderer.
    EXPECT_NE(p.res[0].protocol_info.find("DLNA.ORG_CI=0"), std::string::npos) << p.title;
    EXPECT_EQ(chosen(p), p.res[0].url) << p.title;
    long long length = 0;
    EXPECT_EQ(head(p.res[0].url, &length), 200) << p.res[0].url;
  }
  EXPECT_GE(with_copies, 2);
}

TEST_F(ResLab, VideoIsChosenExactlyWhenTheRendererNamesItsType) {
  ASSERT_GE(server_, 0);
  ASSERT_GE(renderer_, 0);
  std::string videos = container("Video/All Video");
  ASSERT_FALSE(videos.empty());
  std::vector<Object> clips = children(videos);
  ASSERT_GE(clips.size(), 1u);
  const Res &only = clips[0].res.at(0);
  // The server names AVI by a MIME type of its choice for this client
  // ("video/avi" or "video/x-msvideo"); the renderer lists only the latter.
  char mime[128];
  ASSERT_EQ(upnp_cp_pi_get_mime_type(only.protocol_info.c_str(), mime, sizeof mime), 0);
  char *list = nullptr;
  ASSERT_EQ(upnp_cp_get_protocolinfo(renderer_, &list), 0);
  bool listed = std::string(list).find(std::string("http-get:*:") + mime + ":") != std::string::npos;
  upnp_free_impl(list);
  upnp_xml_node *tree = nullptr, *res = nullptr;
  int rc = upnp_cp_get_supported_res2(renderer_, server_, clips[0].id.c_str(), nullptr, &tree, &res, nullptr);
  if (listed) {
    ASSERT_EQ(rc, 0);
    EXPECT_STREQ(res->value, only.url.c_str());
  } else {
    EXPECT_EQ(rc, UPNP_CP_NOT_FOUND) << mime;
    EXPECT_EQ(res, nullptr);
  }
  upnp_xml_release(tree);
  // Without a renderer the original res is chosen all the same.
  upnp_xml_node *reply = nullptr;
  ASSERT_EQ(upnp_control_browse_metadata(server_, clips[0].id.c_str(), "*", nullptr, &reply), 0);
  const char *didl = upnp_xml_find_tag_value(reply, "Result");
  ASSERT_NE(didl, nullptr);
  upnp_xml_node *orig = nullptr;
  ASSERT_EQ(upnp_cp_get_orig_res(didl, &orig), 0);
  EXPECT_STREQ(orig->value, only.url.c_str());
  upnp_xml_release(orig);
  upnp_xml_release(reply);
}

}  // namespace
