// Resource selection through the device table: the extra sink entries of
// known renderer models, the renderer's list as GetProtocolInfo gives it,
// choosing for an object browsed from a server (Browse filter rules), the
// screen size of a known picture frame, and the can-play answers. Devices are
// crafted descriptions on 127.0.0.1 whose ConnectionManager and
// ContentDirectory control URLs point at a SOAP server of the test.
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "base/upnp_mem.h"
#include "cp/upnp_cp.h"
#include "cp/upnp_cp_res.h"
#include "cp/upnp_soap.h"
#include "cp_test_util.h"
#include "soap_test_util.h"

using cp_test::CpTest;

namespace {

std::string escaped(const std::string &text) {
  std::string out;
  for (char c : text) {
    if (c == '&') out += "&amp;";
    else if (c == '<') out += "&lt;";
    else if (c == '>') out += "&gt;";
    else if (c == '"') out += "&quot;";
    else out += c;
  }
  return out;
}

using test_support::take_text;

std::string between(const std::string &text, const std::string &open, const std::string &close) {
  size_t a = text.find(open);
  if (a == std::string::npos) return "<missing>";
  a += open.size();
  return text.substr(a, text.find(close, a) - a);
}

const std::string kPhoto =
    "<DIDL-Lite xmlns=\"urn:schemas-upnp-org:metadata-1-0/DIDL-Lite/\" xmlns:dc=\"http://purl.org/dc/elements/1.1/\" "
    "xmlns:upnp=\"urn:schemas-upnp-org:metadata-1-0/upnp/\"><item id=\"3$1$4\" parentID=\"3$1\" restricted=\"1\">"
    "<dc:title>Harbour</dc:title><upnp:class>object.item.imageItem.photo</upnp:class>"
    "<res protocolInfo=\"http-get:*:image/jpeg:DLNA.ORG_PN=JPEG_LRG;DLNA.ORG_OP=01\" resolution=\"1600x1200\">"
    "http://127.0.0.1:8200/MediaItems/41.jpg</res>"
    "<res protocolInfo=\"http-get:*:image/jpeg:DLNA.ORG_PN=JPEG_MED;DLNA.ORG_OP=01\" resolution=\"800x480\">"
    "http://127.0.0.1:8200/Resized/41.jpg?width=800</res></item></DIDL-Lite>";
const std::string kSong =
    "<DIDL-Lite><item id=\"64$0$2\"><dc:title>Song</dc:title><upnp:class>object.item.audioItem.musicTrack</upnp:class>"
    "<res protocolInfo=\"http-get:*:audio/mpeg:DLNA.ORG_PN=MP3\">http://127.0.0.1:8200/MediaItems/22.mp3</res>"
    "</item></DIDL-Lite>";

class ResDevice : public CpTest {
 protected:
  ResDevice()
      : soap_([this](const SoapRequest &r) {
          {
            std::lock_guard<std::mutex> hold(mutex_);
            seen_.push_back(r);
          }
          if (r.soap_action.find("#GetProtocolInfo") != std::string::npos) {
            std::string sink = r.path.find("frame") != std::string::npos ? "http-get:*:image/jpeg:*"
                                                                         : "http-get:*:audio/mpeg:*";
            return SoapServer::ok("<u:GetProtocolInfoResponse xmlns:u=\"urn:schemas-upnp-org:service:"
                                  "ConnectionManager:1\"><Source></Source><Sink>" +
                                  sink + "</Sink></u:GetProtocolInfoResponse>");
          }
          if (r.soap_action.find("#Browse") != std::string::npos) {
            std::string id = between(r.body, "<ObjectID>", "</ObjectID>");
            if (id == "missing") return SoapServer::fault(701, "No such object");
            const std::string &didl = id == "64$0$2" ? kSong : kPhoto;
            return SoapServer::ok("<u:BrowseResponse xmlns:u=\"urn:schemas-upnp-org:service:ContentDirectory:1\">"
                                  "<Result>" +
                                  escaped(didl) +
                                  "</Result><NumberReturned>1</NumberReturned><TotalMatches>1</TotalMatches>"
                                  "<UpdateID>5</UpdateID></u:BrowseResponse>");
          }
          return SoapServer::fault(401, "Invalid Action");
        }) {}
  void SetUp() override {
    CpTest::SetUp();
    ASSERT_EQ(upnp_cp_start(0, 0), 0);
  }
  // A device whose CM (and CDS) control URLs are the SOAP server's
  // /<path>/cm and /<path>/cds; model replaces the model name, extra goes
  // into the device element.
  int add(const std::string &udn, int kind, const std::string &path, const std::string &model,
          const std::string &extra = "") {
    serve_device(udn, kind, "Crafted " + path);
    std::string tail = udn.substr(udn.size() - 6);
    std::vector<std::string> services =
        kind == 1 ? std::vector<std::string>{"CM", "CDS"} : std::vector<std::string>{"CM", "RC", "AVT"};
    std::string text = cp_test::description(
        udn, kind == 1 ? "urn:schemas-upnp-org:device:MediaServer:1" : "urn:schemas-upnp-org:device:MediaRenderer:1",
        "Crafted " + path, services, extra);
    text.replace(text.find("<modelName>Crafted</modelName>"), 30, "<modelName>" + model + "</modelName>");
    for (const char *service : {"CM", "CDS"}) {
      std::string relative = "<controlURL>/" + tail + "/" + service + "/control</controlURL>";
      size_t at = text.find(relative);
      if (at == std::string::npos) continue;
      std::string lower = service == std::string("CM") ? "cm" : "cds";
      text.replace(at, relative.size(), "<controlURL>" + soap_.base() + "/" + path + "/" + lower + "</controlURL>");
    }
    server_.put("/" + tail + "/" + path + ".xml", text);
    std::string location = server_.url("/" + tail + "/" + path + ".xml");
    return add_ready(udn, kind, location);
  }
  int kiss() { return add("uuid:renderer-0be001", 2, "kiss", "KiSS"); }
  int frame() {
    return add("uuid:renderer-0be002", 2, "frame", "Ubicom Digital Photo Frame", "<UPC>00000-00001</UPC>");
  }
  int server() { return add("uuid:server-0be003", 1, "server", "Crafted"); }
  std::vector<SoapRequest> browses() {
    std::lock_guard<std::mutex> hold(mutex_);
    std::vector<SoapRequest> out;
    for (const SoapRequest &r : seen_)
      if (r.soap_action.find("#Browse") != std::string::npos) out.push_back(r);
    return out;
  }

  std::mutex mutex_;
  std::vector<SoapRequest> seen_;
  SoapServer soap_;
};

TEST_F(ResDevice, KnownModelGetsItsExtraEntriesAppended) {
  int r = kiss();
  ASSERT_GE(r, 0);
  char *list = nullptr;
  ASSERT_EQ(upnp_cp_get_protocolinfo(r, &list), 0);
  EXPECT_EQ(take_text(list), "http-get:*:audio/mpeg:*,http-get:*:image/jpeg:*");
  char *extra = nullptr;
  ASSERT_EQ(upnp_cp_get_extra_ProtocolInfo(r, "http-get:*:audio/L16:*", &extra), 0);
  EXPECT_EQ(take_text(extra),
            "http-get:*:image/jpeg:*,http-get:*:audio/x-wav:*,http-get:*:audio/wav:*,http-get:*:audio/wave:*");
  // A model without a table entry and nothing to derive: nothing.
  int f = frame();
  ASSERT_GE(f, 0);
  EXPECT_EQ(upnp_cp_get_extra_ProtocolInfo(f, "http-get:*:image/jpeg:*", &extra), UPNP_CP_NOT_FOUND);
  EXPECT_EQ(extra, nullptr);
  ASSERT_EQ(upnp_cp_get_protocolinfo(f, &list), 0);
  EXPECT_EQ(take_text(list), "http-get:*:image/jpeg:*");
}

TEST_F(ResDevice, LocalRendererHasNoListInThisBuild) {
  char *list = reinterpret_cast<char *>(1);
  EXPECT_EQ(upnp_cp_get_protocolinfo(UPNP_CP_LOCAL_RENDERER_INDEX, &list), UPNP_CP_NOT_FOUND);
  EXPECT_EQ(list, nullptr);
  EXPECT_EQ(upnp_cp_renderer_can_play_url(UPNP_CP_LOCAL_RENDERER_INDEX, "http://127.0.0.1/a.mp3"), UPNP_CP_NOT_FOUND);
}

TEST_F(ResDevice, ObjectFromTheServerIsChosenForTheFramesScreen) {
  int s = server();
  int f = frame();
  int k = kiss();
  ASSERT_GE(s, 0);
  ASSERT_GE(f, 0);
  ASSERT_GE(k, 0);
  unsigned w = 0, h = 0;
  ASSERT_EQ(upnp_cp_get_renderer_resolution(f, &w, &h), 0);
  ASSERT_EQ(w, 800u);
  upnp_xml_node *tree = nullptr, *chosen = nullptr;
  char *didl = nullptr;
  ASSERT_EQ(upnp_cp_get_supported_res2(f, s, "3$1$4", "*", &tree, &chosen, &didl), 0);
  ASSERT_NE(chosen, nullptr);
  EXPECT_STREQ(chosen->value, "http://127.0.0.1:8200/Resized/41.jpg?width=800");
  EXPECT_STREQ(tree->name, "DIDL-Lite");
  EXPECT_EQ(upnp_xml_find_tag(tree, "res")->next, chosen);
  EXPECT_EQ(take_text(didl), kPhoto);
  upnp_xml_release(tree);
  // KiSS has no screen size: the first (large) picture, through its extra
  // JPEG entry.
  ASSERT_EQ(upnp_cp_get_supported_res(k, s, "3$1$4", &tree, &chosen), 0);
  EXPECT_STREQ(chosen->value, "http://127.0.0.1:8200/MediaItems/41.jpg");
  upnp_xml_release(tree);
  // Can play: the frame plays no MP3, KiSS does.
  EXPECT_EQ(upnp_cp_renderer_can_play_object(f, s, "64$0$2"), UPNP_CP_NOT_FOUND);
  EXPECT_EQ(upnp_cp_renderer_can_play_object(k, s, "64$0$2"), 0);
  EXPECT_EQ(upnp_cp_renderer_can_play_object(k, s, "3$1$4"), 0);
}

TEST_F(ResDevice, BrowseFilterRules) {
  int s = server();
  int k = kiss();
  ASSERT_GE(s, 0);
  ASSERT_GE(k, 0);
  const char *filters[] = {nullptr, "", "*", "dc:title,upnp:artist", "res,res@protocolInfo,upnp:class,dc:creator"};
  for (const char *filter : filters) EXPECT_EQ(upnp_cp_get_supported_res2(k, s, "64$0$2", filter, nullptr, nullptr, nullptr), 0);
  std::vector<SoapRequest> seen = browses();
  ASSERT_EQ(seen.size(), 5u);
  EXPECT_EQ(between(seen[0].body, "<Filter>", "</Filter>"), "res,res@protocolInfo,upnp:class");
  EXPECT_EQ(between(seen[1].body, "<Filter>", "</Filter>"), "res,res@protocolInfo,upnp:class");
  EXPECT_EQ(between(seen[2].body, "<Filter>", "</Filter>"), "*");
  EXPECT_EQ(between(seen[3].body, "<Filter>", "</Filter>"), "res,res@protocolInfo,upnp:class,dc:title,upnp:artist,res");
  EXPECT_EQ(between(seen[4].body, "<Filter>", "</Filter>"), "res,res@protocolInfo,upnp:class,dc:creator,res");
  EXPECT_EQ(between(seen[0].body, "<BrowseFlag>", "</BrowseFlag>"), "BrowseMetadata");
}

TEST_F(ResDevice, FailuresAndRefusals) {
  int s = server();
  int k = kiss();
  ASSERT_GE(s, 0);
  ASSERT_GE(k, 0);
  upnp_xml_node *tree = reinterpret_cast<upnp_xml_node *>(1), *chosen = reinterpret_cast<upnp_xml_node *>(1);
  char *didl = reinterpret_cast<char *>(1);
  // The server's UPnP error comes back as it is.
  EXPECT_EQ(upnp_cp_get_supported_res2(k, s, "missing", nullptr, &tree, &chosen, &didl), 701);
  EXPECT_EQ(tree, nullptr);
  EXPECT_EQ(chosen, nullptr);
  EXPECT_EQ(didl, nullptr);
  // A chosen res cannot be handed out without its tree.
  EXPECT_EQ(upnp_cp_get_supported_res2(k, s, "3$1$4", nullptr, nullptr, &chosen, nullptr), UPNP_CP_INVALID_PARAMETER);
  EXPECT_EQ(upnp_cp_get_supported_res2(k, s, nullptr, nullptr, &tree, &chosen, nullptr), UPNP_CP_INVALID_PARAMETER);
  // An unknown renderer index.
  EXPECT_NE(upnp_cp_get_supported_res2(77, s, "3$1$4", nullptr, &tree, &chosen, nullptr), 0);
  EXPECT_EQ(tree, nullptr);
}

TEST_F(ResDevice, DidlTextAndTreesOfTheCaller) {
  int f = frame();
  ASSERT_GE(f, 0);
  upnp_xml_node *tree = nullptr, *chosen = nullptr;
  ASSERT_EQ(upnp_cp_get_supported_res4(f, kPhoto.c_str(), &tree, &chosen), 0);
  EXPECT_STREQ(chosen->value, "http://127.0.0.1:8200/Resized/41.jpg?width=800");
  upnp_xml_node *again = nullptr;
  ASSERT_EQ(upnp_cp_get_supported_res3(f, tree, &again), 0);
  EXPECT_EQ(again, chosen);
  upnp_xml_release(tree);
  EXPECT_EQ(upnp_cp_get_supported_res4(f, kSong.c_str(), &tree, &chosen), UPNP_CP_NOT_FOUND);
  EXPECT_EQ(tree, nullptr);
  EXPECT_EQ(chosen, nullptr);
  EXPECT_EQ(upnp_cp_get_supported_res4(f, kSong.c_str(), nullptr, nullptr), UPNP_CP_NOT_FOUND);
  EXPECT_EQ(upnp_cp_get_supported_res4(f, kPhoto.c_str(), nullptr, nullptr), 0);
  EXPECT_EQ(upnp_cp_renderer_can_play_url(f, "http://127.0.0.1:8200/x.jpg"), 0);
  EXPECT_EQ(upnp_cp_renderer_can_play_url(f, "http://127.0.0.1:8200/x.mp3"), UPNP_CP_NOT_FOUND);
  EXPECT_EQ(upnp_cp_renderer_can_play_url(f, "file:///x.jpg"), UPNP_CP_INVALID_PARAMETER);
}

// ---- The table and the derived entries, device-free ----

TEST(ResExtraEntries, ModelTableThomsonWavAndMatroska) {
  upnp_mem_init();
  char *extra = nullptr;
  const std::string wav = "http-get:*:audio/x-wav:*,http-get:*:audio/wav:*,http-get:*:audio/wave:*";
  ASSERT_EQ(upnp_cp_get_extra_ProtocolInfo_for_model("NP1100", "http-get:*:audio/mpeg:*", &extra), 0);
  EXPECT_EQ(take_text(extra), wav);
  ASSERT_EQ(upnp_cp_get_extra_ProtocolInfo_for_model("NOXON iRadio 2", "", &extra), 0);
  EXPECT_EQ(take_text(extra), wav);
  ASSERT_EQ(upnp_cp_get_extra_ProtocolInfo_for_model("S-32/52", nullptr, &extra), 0);
  EXPECT_EQ(take_text(extra), "http-get:*:audio/x-flac:*," + wav);
  ASSERT_EQ(upnp_cp_get_extra_ProtocolInfo_for_model("AVR-3808", nullptr, &extra), 0);
  EXPECT_EQ(take_text(extra), "http-get:*:audio/x-flac:*," + wav);
  const std::string wd =
      "http-get:*:audio/mp4:*,http-get:*:audio/vnd.dlna.adts:*,http-get:*:audio/x-aac:*,http-get:*:video/3gpp:*,"
      "http-get:*:audio/x-flac:*,http-get:*:video/x-matroska:*,http-get:*:video/quicktime:*,http-get:*:audio/L16:*";
  for (const char *model : {"WD TV HD Live", "WD TV Live Plus", "WD TV Live Hub"}) {
    ASSERT_EQ(upnp_cp_get_extra_ProtocolInfo_for_model(model, "http-get:*:video/mpeg:*", &extra), 0);
    EXPECT_EQ(take_text(extra), wd);
  }
  // The name must match exactly.
  EXPECT_EQ(upnp_cp_get_extra_ProtocolInfo_for_model("WD TV Live", "http-get:*:video/mpeg:*", &extra),
            UPNP_CP_NOT_FOUND);
  EXPECT_EQ(upnp_cp_get_extra_ProtocolInfo_for_model("kiss", "", &extra), UPNP_CP_NOT_FOUND);
  // Thomson: its own list with "*:*:" made http-get.
  ASSERT_EQ(upnp_cp_get_extra_ProtocolInfo_for_model("Thomson DLNA DMR", "*:*:audio/mpeg:*,*:*:image/jpeg:*", &extra),
            0);
  EXPECT_EQ(take_text(extra), "http-get:*:audio/mpeg:*,http-get:*:image/jpeg:*");
  // L16 without wav, and mkv without matroska, add their entries in order.
  ASSERT_EQ(upnp_cp_get_extra_ProtocolInfo_for_model(nullptr, "http-get:*:audio/L16:*,http-get:*:video/x-mkv:*", &extra),
            0);
  EXPECT_EQ(take_text(extra), wav + ",http-get:*:video/x-matroska:*");
  EXPECT_EQ(upnp_cp_get_extra_ProtocolInfo_for_model(nullptr, "http-get:*:audio/L16:*,http-get:*:audio/x-wav:*", &extra),
            UPNP_CP_NOT_FOUND);
  EXPECT_EQ(upnp_cp_get_extra_ProtocolInfo_for_model(
                nullptr, "http-get:*:video/x-mkv:*,http-get:*:video/x-matroska:*", &extra),
            UPNP_CP_NOT_FOUND);
  // A table entry and a derived one together.
  ASSERT_EQ(upnp_cp_get_extra_ProtocolInfo_for_model("KiSS", "http-get:*:video/x-mkv:*", &extra), 0);
  EXPECT_EQ(take_text(extra), "http-get:*:image/jpeg:*,http-get:*:video/x-matroska:*");
  EXPECT_EQ(upnp_cp_get_extra_ProtocolInfo_for_model("KiSS", "", nullptr), UPNP_CP_INVALID_PARAMETER);
}

}  // namespace
