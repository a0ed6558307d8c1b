// Handing objects to renderers: the DLNA fixes for the renderers that need
// them (flags, JPEG profiles by resolution, duration), the reduction for the
// reduced-filter renderers, proxying of the metadata, and the sending to a
// renderer of the device table whose AVTransport is a SOAP server on
// 127.0.0.1 (order of Stop / SetAVTransportURI / Play, escaping).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "base/upnp_mem.h"
#include "base/upnp_xml_escape.h"
#include "base/upnp_xml_write.h"
#include "cp/upnp_cp.h"
#include "cp/upnp_cp_avt_uri.h"
#include "cp_test_util.h"
#include "soap_test_util.h"

using cp_test::CpTest;

namespace {

const std::string kFlags = "DLNA.ORG_FLAGS=01700000000000000000000000000000";

using test_support::take_text;

std::string attr(upnp_xml_node *node, const char *name) {
  const char *v = node != nullptr ? upnp_xml_find_attribute_value(node, name) : nullptr;
  return v != nullptr ? v : "<none>";
}

// One res with the given attributes, run through fixUpResElem and
// fixDuration; the resulting protocolInfo.
struct Fixed {
  int flags_changed;
  int duration_added;
  std::string protocol_info;
  std::string duration;
};

Fixed fix(const std::string &protocol_info, const std::string &extra = "") {
  std::string text = "<res protocolInfo=\"" + protocol_info + "\"" + extra + ">http://10.0.0.1/x</res>";
  upnp_xml_node *res = upnp_xml_parse(text.c_str());
  Fixed f{fixUpResElem(res), fixDuration(res), attr(res, "protocolInfo"), attr(res, "duration")};
  upnp_xml_release(res);
  return f;
}

TEST(JpegProfile, TableAtItsBoundaries) {
  EXPECT_STREQ("JPEG_TN", upnp_cp_jpeg_profile(160, 160));
  EXPECT_STREQ("JPEG_TN", upnp_cp_jpeg_profile(1, 1));
  EXPECT_STREQ("JPEG_SM", upnp_cp_jpeg_profile(161, 120));
  EXPECT_STREQ("JPEG_SM", upnp_cp_jpeg_profile(120, 161));
  EXPECT_STREQ("JPEG_SM", upnp_cp_jpeg_profile(640, 480));
  EXPECT_STREQ("JPEG_MED", upnp_cp_jpeg_profile(641, 480));
  EXPECT_STREQ("JPEG_MED", upnp_cp_jpeg_profile(640, 481));
  EXPECT_STREQ("JPEG_MED", upnp_cp_jpeg_profile(1024, 768));
  EXPECT_STREQ("JPEG_LRG", upnp_cp_jpeg_profile(1025, 768));
  EXPECT_STREQ("JPEG_LRG", upnp_cp_jpeg_profile(1024, 769));
  EXPECT_STREQ("JPEG_LRG", upnp_cp_jpeg_profile(4096, 4096));
  EXPECT_STREQ("JPEG_LRG", upnp_cp_jpeg_profile(4097, 5000));
  EXPECT_EQ(nullptr, upnp_cp_jpeg_profile(0, 600));
  EXPECT_EQ(nullptr, upnp_cp_jpeg_profile(800, 0));
}

TEST(FixUpRes, Mp3GetsOpAndFlagsAndADuration) {
  Fixed f = fix("http-get:*:audio/mpeg:DLNA.ORG_PN=MP3");
  EXPECT_EQ(1, f.flags_changed);
  EXPECT_EQ("http-get:*:audio/mpeg:DLNA.ORG_PN=MP3;DLNA.ORG_OP=01;" + kFlags, f.protocol_info);
  EXPECT_EQ(1, f.duration_added);
  EXPECT_EQ("99:59:59", f.duration);
}

TEST(FixUpRes, JpegWithoutProfileGetsTheProfileOfItsResolution) {
  Fixed f = fix("http-get:*:image/jpeg:*", " resolution=\"800x600\"");
  EXPECT_EQ("http-get:*:image/jpeg:DLNA.ORG_PN=JPEG_MED;DLNA.ORG_OP=01;" + kFlags, f.protocol_info);
  EXPECT_EQ(0, f.duration_added);  // pictures have no duration
  EXPECT_EQ("<none>", f.duration);
  EXPECT_EQ("http-get:*:image/jpeg:DLNA.ORG_PN=JPEG_TN;DLNA.ORG_OP=01;" + kFlags,
            fix("http-get:*:image/jpeg:*", " resolution=\"160x120\"").protocol_info);
  EXPECT_EQ("http-get:*:image/jpeg:DLNA.ORG_PN=JPEG_LRG;DLNA.ORG_OP=01;" + kFlags,
            fix("http-get:*:image/jpeg:*", " resolution=\"6000x4000\"").protocol_info);
  // Without a known resolution only the flags are added.
  EXPECT_EQ("http-get:*:image/jpeg:DLNA.ORG_OP=01;" + kFlags, fix("http-get:*:image/jpeg:*").protocol_info);
  EXPECT_EQ("http-get:*:image/jpeg:DLNA.ORG_OP=01;" + kFlags,
            fix("http-get:*:image/jpeg:*", " resolution=\"wide\"").protocol_info);
}

TEST(FixUpRes, PresentOperationsGetOnlyTheFlags) {
  EXPECT_EQ("http-get:*:video/mpeg:DLNA.ORG_PN=MPEG_PS_PAL;DLNA.ORG_OP=10;" + kFlags,
            fix("http-get:*:video/mpeg:DLNA.ORG_PN=MPEG_PS_PAL;DLNA.ORG_OP=10").protocol_info);
  // A fourth field already ending in ';' or empty is not given another one.
  EXPECT_EQ("http-get:*:audio/mpeg:DLNA.ORG_PN=MP3;DLNA.ORG_OP=01;" + kFlags,
            fix("http-get:*:audio/mpeg:DLNA.ORG_PN=MP3;").protocol_info);
  EXPECT_EQ("http-get:*:audio/mpeg:DLNA.ORG_OP=01;" + kFlags, fix("http-get:*:audio/mpeg:").protocol_info);
}

TEST(FixUpRes, JpegWithFlagsButNoProfileGetsTheProfileAppended) {
  Fixed f = fix("http-get:*:image/jpeg:DLNA.ORG_OP=01;DLNA.ORG_FLAGS=00f00000000000000000000000000000",
                " resolution=\"640x480\"");
  EXPECT_EQ(1, f.flags_changed);
  EXPECT_EQ("http-get:*:image/jpeg:DLNA.ORG_OP=01;DLNA.ORG_FLAGS=00f00000000000000000000000000000;DLNA.ORG_PN=JPEG_SM",
            f.protocol_info);
  // Nothing to add without a resolution: unchanged.
  Fixed g = fix("http-get:*:image/jpeg:DLNA.ORG_FLAGS=00f00000000000000000000000000000");
  EXPECT_EQ(0, g.flags_changed);
  EXPECT_EQ("http-get:*:image/jpeg:DLNA.ORG_FLAGS=00f00000000000000000000000000000", g.protocol_info);
}

TEST(FixUpRes, CompleteOrUnusableTextsStay) {
  std::string full = "http-get:*:audio/mpeg:DLNA.ORG_PN=MP3;DLNA.ORG_OP=01;" + kFlags;
  Fixed f = fix(full, " duration=\"0:03:10.000\"");
  EXPECT_EQ(0, f.flags_changed);
  EXPECT_EQ(0, f.duration_added);
  EXPECT_EQ(full, f.protocol_info);
  EXPECT_EQ("0:03:10.000", f.duration);
  EXPECT_EQ(0, fix("audio/mpeg").flags_changed);
  // An empty duration is given the default like a missing one.
  Fixed empty = fix(full, " duration=\"\"");
  EXPECT_EQ(1, empty.duration_added);
  EXPECT_EQ("99:59:59", empty.duration);
  EXPECT_EQ(0, fixUpResElem(nullptr));
  EXPECT_EQ(0, fixDuration(nullptr));
}

TEST(Models, WhoGetsWhat) {
  EXPECT_TRUE(upnp_cp_model_needs_dlna_fixes("Samsung DTV DMR"));
  EXPECT_FALSE(upnp_cp_model_needs_dlna_fixes("samsung DTV"));
  EXPECT_FALSE(upnp_cp_model_needs_dlna_fixes("Samsung BD"));
  EXPECT_FALSE(upnp_cp_model_needs_dlna_fixes(nullptr));
  EXPECT_TRUE(upnp_cp_manufacturer_is_reduced_filter("Roku"));
  EXPECT_FALSE(upnp_cp_manufacturer_is_reduced_filter("Roku Inc."));
  EXPECT_TRUE(upnp_cp_manufacturer_is_reduced_filter("Sonos, Inc."));
  EXPECT_TRUE(upnp_cp_manufacturer_is_reduced_filter("Samsung Electronics"));
  EXPECT_FALSE(upnp_cp_manufacturer_is_reduced_filter("Denon"));
  EXPECT_FALSE(upnp_cp_manufacturer_is_reduced_filter(nullptr));
}

const char kSong[] =
    "<DIDL-Lite xmlns=\"urn:schemas-upnp-org:metadata-1-0/DIDL-Lite/\" xmlns:dc=\"http://purl.org/dc/elements/1.1/\" "
    "xmlns:upnp=\"urn:schemas-upnp-org:metadata-1-0/upnp/\">"
    "<item id=\"64$0$1\" parentID=\"64$0\" restricted=\"1\">"
    "<dc:title>Tom &amp; Jerry &lt;Live&gt;</dc:title><dc:creator>Band</dc:creator>"
    "<upnp:artist>Band</upnp:artist><upnp:album>Album</upnp:album><dc:date>2009-01-01</dc:date>"
    "<upnp:originalTrackNumber>3</upnp:originalTrackNumber>"
    "<upnp:albumArtURI>http://127.0.0.1:8200/AlbumArt/7.jpg</upnp:albumArtURI>"
    "<upnp:class>object.item.audioItem.musicTrack</upnp:class>"
    "<res protocolInfo=\"http-get:*:audio/x-flac:*\" size=\"30000\">http://127.0.0.1:8200/MediaItems/22.flac</res>"
    "<res protocolInfo=\"http-get:*:audio/mpeg:DLNA.ORG_PN=MP3\" size=\"3000\">"
    "http://127.0.0.1:8200/MediaItems/22.mp3?q=1&amp;r=2</res>"
    "<desc id=\"x\" nameSpace=\"urn:x\">d</desc>"
    "</item></DIDL-Lite>";

std::vector<std::string> child_names(upnp_xml_node *tree) {
  std::vector<std::string> names;
  upnp_xml_node *item = upnp_xml_find_tag(tree, "item");
  if (item == nullptr) item = upnp_xml_find_tag(tree, "container");
  for (upnp_xml_node *c = item ? item->children : nullptr; c != nullptr; c = c->next) names.push_back(c->name);
  return names;
}

TEST(Reduce, SonosKeepsTheListedFieldsAndTheResBeingPlayed) {
  upnp_xml_node *tree = upnp_xml_parse(kSong);
  // The host may differ (address translation); path and query decide.
  EXPECT_EQ(5, upnp_cp_reduce_metadata(tree, "http://10.1.1.1:8200/MediaItems/22.mp3?q=1&r=2"));
  EXPECT_EQ((std::vector<std::string>{"dc:title", "upnp:artist", "upnp:album", "upnp:albumArtURI", "upnp:class",
                                      "res"}),
            child_names(tree));
  EXPECT_EQ("http://127.0.0.1:8200/MediaItems/22.mp3?q=1&r=2", std::string(upnp_xml_find_tag(tree, "res")->value));
  EXPECT_EQ(0, upnp_cp_reduce_metadata(tree, "http://10.1.1.1:8200/MediaItems/22.mp3?q=1&r=2"));
  upnp_xml_release(tree);
}

TEST(Reduce, AnotherPathDropsEveryResAndContainersAreReducedToo) {
  upnp_xml_node *tree = upnp_xml_parse(kSong);
  EXPECT_EQ(6, upnp_cp_reduce_metadata(tree, "http://127.0.0.1:8200/MediaItems/22.mp3"));
  EXPECT_EQ(nullptr, upnp_xml_find_tag(tree, "res"));
  upnp_xml_release(tree);
  tree = upnp_xml_parse(
      "<DIDL-Lite><container id=\"1\" childCount=\"3\"><dc:title>Box</dc:title><upnp:writer>W</upnp:writer>"
      "<upnp:class>object.container.album</upnp:class></container></DIDL-Lite>");
  EXPECT_EQ(1, upnp_cp_reduce_metadata(tree, "http://a/b"));
  EXPECT_EQ((std::vector<std::string>{"dc:title", "upnp:class"}), child_names(tree));
  upnp_xml_release(tree);
  tree = upnp_xml_parse("<DIDL-Lite><other/></DIDL-Lite>");
  EXPECT_EQ(-1, upnp_cp_reduce_metadata(tree, "http://a/b"));
  upnp_xml_release(tree);
}

TEST(MetadataPlain, EscapedAndPlainFormsGiveTheSameText) {
  char *escaped = upnp_xml_escape_cond(kSong, 0);
  char *a = nullptr;
  char *b = nullptr;
  ASSERT_EQ(0, upnp_cp_metadata_plain(escaped, &a));
  ASSERT_EQ(0, upnp_cp_metadata_plain(kSong, &b));
  EXPECT_EQ(std::string(kSong), take_text(a));
  EXPECT_EQ(std::string(kSong), take_text(b));
  upnp_free_impl(escaped);
}

struct Adapted {
  int rc;
  std::string url;
  std::string metadata;
};

Adapted adapt(const char *model, const char *base, const char *url, const char *metadata, int on = 1) {
  char *u = nullptr;
  char *m = nullptr;
  int rc = upnp_cp_adapt_metadata(model, base, url, metadata, on, &u, &m);
  return Adapted{rc, take_text(u), take_text(m)};
}

TEST(Adapt, SamsungDtvMp3AndJpegAsSent) {
  const char *didl =
      "<DIDL-Lite><item id=\"1\"><dc:title>Song</dc:title>"
      "<res protocolInfo=\"http-get:*:audio/mpeg:DLNA.ORG_PN=MP3\">http://127.0.0.1:8200/a.mp3</res>"
      "<res protocolInfo=\"http-get:*:image/jpeg:*\" resolution=\"800x600\">http://127.0.0.1:8200/a.jpg</res>"
      "</item></DIDL-Lite>";
  Adapted a = adapt("Samsung DTV DMR", nullptr, "http://127.0.0.1:8200/a.mp3", didl);
  ASSERT_EQ(0, a.rc);
  EXPECT_EQ("<none>", a.url);
  upnp_xml_node *tree = upnp_xml_parse(a.metadata.c_str());
  ASSERT_NE(nullptr, tree);
  upnp_xml_node *mp3 = upnp_xml_find_tag(tree, "res");
  upnp_xml_node *jpeg = upnp_xml_find_next_tag(mp3, "res");
  EXPECT_EQ("http-get:*:audio/mpeg:DLNA.ORG_PN=MP3;DLNA.ORG_OP=01;" + kFlags, attr(mp3, "protocolInfo"));
  EXPECT_EQ("99:59:59", attr(mp3, "duration"));
  EXPECT_EQ("http-get:*:image/jpeg:DLNA.ORG_PN=JPEG_MED;DLNA.ORG_OP=01;" + kFlags, attr(jpeg, "protocolInfo"));
  EXPECT_EQ("<none>", attr(jpeg, "duration"));
  upnp_xml_release(tree);
}

TEST(Adapt, OtherModelsAndAdaptationsOffLeaveEverything) {
  EXPECT_EQ("<none>", adapt("Crafted", nullptr, "http://127.0.0.1/a.mp3", kSong).metadata);
  EXPECT_EQ("<none>", adapt("Samsung DTV DMR", nullptr, "http://127.0.0.1/a.mp3", kSong, 0).metadata);
  EXPECT_EQ(2, adapt("Samsung DTV DMR", nullptr, nullptr, kSong).rc);
  // Metadata that cannot be parsed is left to the caller.
  Adapted bad = adapt("Samsung DTV DMR", nullptr, "http://127.0.0.1/a.mp3", "not xml");
  EXPECT_EQ(0, bad.rc);
  EXPECT_EQ("<none>", bad.metadata);
}

class AdaptWithProxy : public CpTest {
 protected:
  void SetUp() override {
    CpTest::SetUp();
    ASSERT_EQ(0, upnp_cp_start(0, 0));  // home network prefixes
  }
};

TEST_F(AdaptWithProxy, OutsideUrlsAreProxiedAndHomeNetworkOnesStay) {
  const char *base = "http://10.9.9.9:9000/p";
  const char *outside =
      "<DIDL-Lite><item id=\"1\"><dc:title>Radio</dc:title>"
      "<res protocolInfo=\"http-get:*:audio/mpeg:*\">http://example.com/live</res>"
      "<res protocolInfo=\"http-get:*:audio/x-flac:*\">http://example.com/hq</res></item></DIDL-Lite>";
  Adapted a = adapt("Crafted", base, "http://example.com/live", outside);
  ASSERT_EQ(0, a.rc);
  EXPECT_EQ("http://10.9.9.9:9000/p/http%3A%2F%2Fexample%2Ecom%2Flive.mp3", a.url);
  upnp_xml_node *tree = upnp_xml_parse(a.metadata.c_str());
  upnp_xml_node *first = upnp_xml_find_tag(tree, "res");
  ASSERT_NE(nullptr, first);
  EXPECT_STREQ("http://10.9.9.9:9000/p/http%3A%2F%2Fexample%2Ecom%2Flive.mp3", first->value);
  EXPECT_STREQ("http://10.9.9.9:9000/p/http%3A%2F%2Fexample%2Ecom%2Fhq.flac", upnp_xml_find_next_tag(first, "res")->value);
  upnp_xml_release(tree);

  // One res in the home network: the res URLs stay, the metadata is not
  // rewritten; the URL to play still goes through the proxy.
  const char *mixed =
      "<DIDL-Lite><item id=\"1\"><res protocolInfo=\"http-get:*:audio/mpeg:*\">http://example.com/live</res>"
      "<res protocolInfo=\"http-get:*:audio/mpeg:*\">http://127.0.0.1:8200/live.mp3</res></item></DIDL-Lite>";
  Adapted b = adapt("Crafted", base, "http://example.com/live", mixed);
  EXPECT_EQ("http://10.9.9.9:9000/p/http%3A%2F%2Fexample%2Ecom%2Flive.mp3", b.url);
  EXPECT_EQ("<none>", b.metadata);
  Adapted c = adapt("Crafted", base, "http://127.0.0.1:8200/live.mp3", mixed);
  EXPECT_EQ("<none>", c.url);
}

// ---- Sending to a renderer of the device table.


struct Call {
  SoapRequest request;
  std::chrono::steady_clock::time_point at;
};

class Sending : public CpTest {
 protected:
  void SetUp() override {
    CpTest::SetUp();
    ASSERT_EQ(0, upnp_cp_start(0, 0));
    soap_.reset(new SoapServer([this](const SoapRequest &r) {
      {
        std::lock_guard<std::mutex> hold(mutex_);
        calls_.push_back(Call{r, std::chrono::steady_clock::now()});
      }
      if (r.soap_action.find("#SetAVTransportURI") != std::string::npos && set_fault_ != 0) {
        return SoapServer::fault(set_fault_);
      }
      std::string action = r.soap_action.substr(r.soap_action.find('#') + 1);
      action = action.substr(0, action.size() - 1);
      std::lock_guard<std::mutex> hold(mutex_);
      if (action == "Browse") {
        char *escaped = upnp_xml_escape_cond(browse_result_.c_str(), 0);
        std::string result = escaped;
        upnp_free_impl(escaped);
        return SoapServer::ok("<u:BrowseResponse xmlns:u=\"urn:schemas-upnp-org:service:ContentDirectory:1\"><Result>" +
                              result + "</Result><NumberReturned>1</NumberReturned><TotalMatches>1</TotalMatches>"
                              "<UpdateID>1</UpdateID></u:BrowseResponse>");
      }
      if (action == "GetProtocolInfo") {
        return SoapServer::ok("<u:GetProtocolInfoResponse xmlns:u=\"urn:schemas-upnp-org:service:ConnectionManager:1\">"
                              "<Source></Source><Sink>" + sink_ + "</Sink></u:GetProtocolInfoResponse>");
      }
      return SoapServer::ok("<u:" + action + "Response xmlns:u=\"urn:schemas-upnp-org:service:AVTransport:1\"/>");
    }));
  }
  void TearDown() override {
    upnp_cp_set_proxy_base(nullptr, UPNP_CP_PROXY_AUTOMATIC);
    CpTest::TearDown();
    soap_.reset();
  }

  // A renderer with the given manufacturer and model whose services are
  // controlled at the SOAP server. Returns its index.
  int renderer(const std::string &tail, const std::string &manufacturer, const std::string &model) {
    return device(tail, UPNP_CP_KIND_RENDERER, manufacturer, model);
  }
  int device(const std::string &tail, int kind, const std::string &manufacturer, const std::string &model) {
    std::string udn = "uuid:device-avt-" + tail;
    std::string services;
    std::vector<std::vector<std::string>> names = {{"ConnectionManager", "CM"}, {"RenderingControl", "RC"},
                                                   {"AVTransport", "AVT"}};
    if (kind == UPNP_CP_KIND_SERVER) names = {{"ConnectionManager", "CM"}, {"ContentDirectory", "CDS"}};
    for (auto &n : names) {
      services += std::string("<service><serviceType>urn:schemas-upnp-org:service:") + n[0] +
                  ":1</serviceType><serviceId>urn:upnp-org:serviceId:" + n[1] + "</serviceId><controlURL>" +
                  soap_->base() + "/" + tail + "/" + n[1] + "</controlURL><eventSubURL>/" + tail + "/" + n[1] +
                  "/event</eventSubURL><SCPDURL>/" + tail + "/" + n[1] + ".xml</SCPDURL></service>";
    }
    server_.put("/" + tail + "/CM.xml", cp_test::scpd({"GetProtocolInfo"}));
    server_.put("/" + tail + "/RC.xml", cp_test::scpd({"GetVolume", "SetVolume"}));
    server_.put("/" + tail + "/CDS.xml", cp_test::scpd({"Browse"}));
    server_.put("/" + tail + "/AVT.xml",
                cp_test::scpd({"SetAVTransportURI", "SetNextAVTransportURI", "Stop", "Play", "GetTransportInfo"}));
    server_.put("/" + tail + "/desc.xml",
                "<?xml version=\"1.0\"?><root xmlns=\"urn:schemas-upnp-org:device-1-0\"><specVersion><major>1</major>"
                "<minor>0</minor></specVersion><device><deviceType>urn:schemas-upnp-org:device:" +
                    std::string(kind == UPNP_CP_KIND_SERVER ? "MediaServer" : "MediaRenderer") +
                    ":1</deviceType><friendlyName>Device " + tail + "</friendlyName><manufacturer>" + manufacturer +
                    "</manufacturer><modelName>" + model + "</modelName><UDN>" + udn + "</UDN><serviceList>" +
                    services + "</serviceList></device></root>");
    std::string location = server_.url("/" + tail + "/desc.xml");
    return add_ready(udn, kind, location);
  }

  // AVTransport calls, in order.
  std::vector<Call> avt_calls() {
    std::lock_guard<std::mutex> hold(mutex_);
    std::vector<Call> out;
    for (const Call &c : calls_) {
      if (c.request.soap_action.find("AVTransport:1#") != std::string::npos) out.push_back(c);
    }
    return out;
  }
  static std::string action(const Call &c) {
    std::string a = c.request.soap_action.substr(c.request.soap_action.find('#') + 1);
    return a.substr(0, a.size() - 1);
  }
  static std::string element(const Call &c, const std::string &name) {
    size_t start = c.request.body.find("<" + name + ">");
    size_t end = c.request.body.find("</" + name + ">");
    if (start == std::string::npos || end == std::string::npos) return "<missing>";
    start += name.size() + 2;
    return c.request.body.substr(start, end - start);
  }
  // The DIDL-Lite text the renderer received (the element unescaped once).
  static std::string metadata(const Call &c, const char *name = "CurrentURIMetaData") {
    std::string escaped = element(c, name);
    std::vector<char> text(escaped.begin(), escaped.end());
    text.push_back('\0');
    upnp_xml_unescape(text.data());
    return text.data();
  }

  void serve(const std::string &browse_result, const std::string &sink) {
    std::lock_guard<std::mutex> hold(mutex_);
    browse_result_ = browse_result;
    sink_ = sink;
  }
  std::vector<Call> calls_named(const std::string &name) {
    std::lock_guard<std::mutex> hold(mutex_);
    std::vector<Call> out;
    for (const Call &c : calls_) {
      if (action(c) == name) out.push_back(c);
    }
    return out;
  }

  std::unique_ptr<SoapServer> soap_;
  std::mutex mutex_;
  std::vector<Call> calls_;
  std::atomic<int> set_fault_{0};
  std::string browse_result_;
  std::string sink_;
};

TEST_F(Sending, StopPauseThenSetWithTheMetadataEscapedOnce) {
  int r = renderer("acme01", "Acme", "Player 1");
  ASSERT_GE(r, 0);
  const char *url = "http://127.0.0.1:8200/MediaItems/22.mp3?q=1&r=2";
  ASSERT_EQ(0, upnp_cp_put_AVTransportURI(r, url, kSong));
  auto calls = avt_calls();
  ASSERT_EQ(2u, calls.size());
  EXPECT_EQ("Stop", action(calls[0]));
  EXPECT_EQ("SetAVTransportURI", action(calls[1]));
  EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(calls[1].at - calls[0].at).count(), 45);
  EXPECT_EQ("http://127.0.0.1:8200/MediaItems/22.mp3?q=1&amp;r=2", element(calls[1], "CurrentURI"));
  // The title's entities are escaped once in DIDL-Lite and once more in the
  // envelope.
  EXPECT_NE(std::string::npos,
            calls[1].request.body.find("&lt;dc:title&gt;Tom &amp;amp; Jerry &amp;lt;Live&amp;gt;&lt;/dc:title&gt;"))
      << calls[1].request.body;
  std::string sent = metadata(calls[1]);
  upnp_xml_node *tree = upnp_xml_parse(sent.c_str());
  ASSERT_NE(nullptr, tree) << sent;
  EXPECT_STREQ("Tom & Jerry <Live>", upnp_xml_find_tag_value(tree, "dc:title"));
  // Not a reduced-filter renderer: every field is sent (in compliant form).
  EXPECT_EQ(11u, child_names(tree).size());
  upnp_xml_release(tree);
}

TEST_F(Sending, EscapedMetadataIsSentLikePlainMetadata) {
  int r = renderer("acme02", "Acme", "Player 1");
  ASSERT_GE(r, 0);
  char *escaped = upnp_xml_escape_cond(kSong, 0);
  ASSERT_EQ(0, upnp_cp_put_AVTransportURI(r, "http://127.0.0.1:8200/x.mp3", escaped));
  ASSERT_EQ(0, upnp_cp_put_AVTransportURI(r, "http://127.0.0.1:8200/x.mp3", kSong));
  upnp_free_impl(escaped);
  auto calls = avt_calls();
  ASSERT_EQ(4u, calls.size());
  EXPECT_EQ(calls[1].request.body, calls[3].request.body);
}

TEST_F(Sending, SonosGetsTheReducedMetadata) {
  int r = renderer("sonos1", "Sonos, Inc.", "Sonos PLAY:5");
  ASSERT_GE(r, 0);
  ASSERT_EQ(0, upnp_cp_put_AVTransportURI(r, "http://127.0.0.1:8200/MediaItems/22.flac", kSong));
  auto calls = avt_calls();
  ASSERT_EQ(2u, calls.size());
  upnp_xml_node *tree = upnp_xml_parse(metadata(calls[1]).c_str());
  EXPECT_EQ((std::vector<std::string>{"dc:title", "upnp:artist", "upnp:album", "upnp:albumArtURI", "upnp:class",
                                      "res"}),
            child_names(tree));
  EXPECT_STREQ("http://127.0.0.1:8200/MediaItems/22.flac", upnp_xml_find_tag_value(tree, "res"));
  upnp_xml_release(tree);
}

TEST_F(Sending, SamsungDtvGetsFixesAndReduction) {
  int r = renderer("samsg1", "Samsung Electronics", "Samsung DTV DMR");
  ASSERT_GE(r, 0);
  ASSERT_EQ(0, upnp_cp_put_AVTransportURI(r, "http://127.0.0.1:8200/MediaItems/22.mp3?q=1&r=2", kSong));
  auto calls = avt_calls();
  ASSERT_EQ(2u, calls.size());
  upnp_xml_node *tree = upnp_xml_parse(metadata(calls[1]).c_str());
  upnp_xml_node *res = upnp_xml_find_tag(tree, "res");
  ASSERT_NE(nullptr, res);
  EXPECT_EQ(nullptr, upnp_xml_find_next_tag(res, "res"));
  EXPECT_EQ("http-get:*:audio/mpeg:DLNA.ORG_PN=MP3;DLNA.ORG_OP=01;" + kFlags, attr(res, "protocolInfo"));
  EXPECT_EQ("99:59:59", attr(res, "duration"));
  EXPECT_EQ("3000", attr(res, "size"));
  upnp_xml_release(tree);
}

TEST_F(Sending, NextTrackIsSetWithoutStop) {
  int r = renderer("acme03", "Acme", "Player 1");
  ASSERT_GE(r, 0);
  ASSERT_EQ(0, putAVTransportURI(r, 1, "http://127.0.0.1:8200/n.mp3", nullptr));
  auto calls = avt_calls();
  ASSERT_EQ(1u, calls.size());
  EXPECT_EQ("SetNextAVTransportURI", action(calls[0]));
  EXPECT_EQ("http://127.0.0.1:8200/n.mp3", element(calls[0], "NextURI"));
  EXPECT_EQ("", element(calls[0], "NextURIMetaData"));
}

TEST_F(Sending, PlayFollowsASuccessfulSetOnly) {
  int r = renderer("acme04", "Acme", "Player 1");
  ASSERT_GE(r, 0);
  ASSERT_EQ(0, upnp_cp_play_AVTransportURI(r, "http://127.0.0.1:8200/p.mp3", kSong));
  set_fault_ = 714;
  EXPECT_EQ(714, upnp_cp_play_AVTransportURI(r, "http://127.0.0.1:8200/q.mp3", kSong));
  std::vector<std::string> order;
  for (const Call &c : avt_calls()) order.push_back(action(c));
  EXPECT_EQ((std::vector<std::string>{"Stop", "SetAVTransportURI", "Play", "Stop", "SetAVTransportURI"}), order);
}

TEST_F(Sending, AutomaticProxyRoutesOutsideUrls) {
  int r = renderer("acme05", "Acme", "Player 1");
  ASSERT_GE(r, 0);
  ASSERT_EQ(0, upnp_cp_set_proxy_base("http://127.0.0.1:9/proxy", UPNP_CP_PROXY_AUTOMATIC));
  ASSERT_EQ(0, upnp_cp_put_AVTransportURI(r, "http://example.com/live", nullptr));
  // The application's base is not used for sending.
  ASSERT_EQ(0, upnp_cp_set_proxy_base(nullptr, UPNP_CP_PROXY_AUTOMATIC));
  ASSERT_EQ(0, upnp_cp_set_proxy_base("http://127.0.0.1:9/app", UPNP_CP_PROXY_APPLICATION));
  ASSERT_EQ(0, upnp_cp_put_AVTransportURI(r, "http://example.com/live", nullptr));
  upnp_cp_set_proxy_base(nullptr, UPNP_CP_PROXY_APPLICATION);
  auto calls = avt_calls();
  ASSERT_EQ(4u, calls.size());
  EXPECT_EQ("http://127.0.0.1:9/proxy/http%3A%2F%2Fexample%2Ecom%2Flive", element(calls[1], "CurrentURI"));
  EXPECT_EQ("http://example.com/live", element(calls[3], "CurrentURI"));
}

TEST_F(Sending, LocalRendererAndMissingUrlSendNothing) {
  int r = renderer("acme06", "Acme", "Player 1");
  ASSERT_GE(r, 0);
  EXPECT_EQ(9, upnp_cp_put_AVTransportURI(UPNP_CP_LOCAL_RENDERER_INDEX, "http://127.0.0.1/a.mp3", kSong));
  EXPECT_EQ(2, upnp_cp_put_AVTransportURI(r, nullptr, kSong));
  EXPECT_EQ(2, upnp_cp_put_AVTransportURI(r, "", kSong));
  EXPECT_TRUE(avt_calls().empty());
}

TEST_F(Sending, UnparsableMetadataIsSentAsGiven) {
  int r = renderer("acme07", "Acme", "Player 1");
  ASSERT_GE(r, 0);
  ASSERT_EQ(0, upnp_cp_put_AVTransportURI(r, "http://127.0.0.1:8200/a.mp3", "<DIDL-Lite><item"));
  auto calls = avt_calls();
  ASSERT_EQ(2u, calls.size());
  EXPECT_EQ("&lt;DIDL-Lite&gt;&lt;item", element(calls[1], "CurrentURIMetaData"));
}

// ---- Best-choice forms.

const char kSink[] = "http-get:*:audio/mpeg:DLNA.ORG_PN=MP3,http-get:*:image/jpeg:*";

TEST_F(Sending, BestResOfABrowsedObjectIsSentWithItsMetadata) {
  serve(kSong, kSink);
  int s = device("srv001", UPNP_CP_KIND_SERVER, "Acme", "Store");
  int r = renderer("acme10", "Acme", "Player 1");
  ASSERT_GE(s, 0);
  ASSERT_GE(r, 0);
  upnp_xml_node *tree = nullptr;
  upnp_xml_node *res = nullptr;
  ASSERT_EQ(0, upnp_cp_put_best_AVTransportURI(r, s, "64$0$1", &tree, &res));
  ASSERT_NE(nullptr, res);
  EXPECT_STREQ("http://127.0.0.1:8200/MediaItems/22.mp3?q=1&r=2", res->value);
  EXPECT_EQ(res, upnp_xml_find_next_tag(upnp_xml_find_tag(tree, "res"), "res"));
  upnp_xml_release(tree);
  auto browse = calls_named("Browse");
  ASSERT_EQ(1u, browse.size());
  EXPECT_EQ("*", element(browse[0], "Filter"));
  auto calls = avt_calls();
  ASSERT_EQ(2u, calls.size());
  EXPECT_EQ("SetAVTransportURI", action(calls[1]));
  EXPECT_EQ("http://127.0.0.1:8200/MediaItems/22.mp3?q=1&amp;r=2", element(calls[1], "CurrentURI"));
  upnp_xml_node *sent = upnp_xml_parse(metadata(calls[1]).c_str());
  EXPECT_STREQ("Tom & Jerry <Live>", upnp_xml_find_tag_value(sent, "dc:title"));
  upnp_xml_release(sent);
}

TEST_F(Sending, ReducedFilterRendererBrowsesWithTheReducedList) {
  serve(kSong, kSink);
  int s = device("srv002", UPNP_CP_KIND_SERVER, "Acme", "Store");
  int r = renderer("sonos2", "Sonos, Inc.", "Sonos ZP90");
  ASSERT_GE(s, 0);
  ASSERT_GE(r, 0);
  ASSERT_EQ(0, upnp_cp_put_best_NextAVTransportURI(r, s, "64$0$1", nullptr, nullptr));
  auto browse = calls_named("Browse");
  ASSERT_EQ(1u, browse.size());
  EXPECT_NE(std::string::npos, element(browse[0], "Filter").find(upnp_cp_reduced_filter));
  auto calls = avt_calls();
  ASSERT_EQ(1u, calls.size());
  EXPECT_EQ("SetNextAVTransportURI", action(calls[0]));
  upnp_xml_node *sent = upnp_xml_parse(metadata(calls[0], "NextURIMetaData").c_str());
  EXPECT_EQ((std::vector<std::string>{"dc:title", "upnp:artist", "upnp:album", "upnp:albumArtURI", "upnp:class",
                                      "res"}),
            child_names(sent));
  upnp_xml_release(sent);
}

TEST_F(Sending, NothingPlayableSendsNothing) {
  serve(kSong, "http-get:*:video/mp4:*");
  int s = device("srv003", UPNP_CP_KIND_SERVER, "Acme", "Store");
  int r = renderer("acme11", "Acme", "Player 1");
  ASSERT_GE(s, 0);
  ASSERT_GE(r, 0);
  upnp_xml_node *tree = reinterpret_cast<upnp_xml_node *>(1);
  EXPECT_EQ(9, upnp_cp_put_best_AVTransportURI(r, s, "64$0$1", &tree, nullptr));
  EXPECT_EQ(nullptr, tree);
  EXPECT_EQ(9, upnp_cp_play_best_AVTransportURI3(r, kSong, nullptr, nullptr));
  EXPECT_EQ(2, upnp_cp_put_best_AVTransportURI(r, s, nullptr, nullptr, nullptr));
  EXPECT_TRUE(avt_calls().empty());
}

TEST_F(Sending, BestFromDidlTextThenPlay) {
  serve("", kSink);
  int r = renderer("acme12", "Acme", "Player 1");
  ASSERT_GE(r, 0);
  const char *didl =
      "<DIDL-Lite><item id=\"9\"><dc:title>Pic</dc:title><upnp:class>object.item.imageItem.photo</upnp:class>"
      "<res protocolInfo=\"http-get:*:image/png:*\">http://127.0.0.1:8200/p.png</res>"
      "<res protocolInfo=\"http-get:*:image/jpeg:*\" resolution=\"800x600\">http://127.0.0.1:8200/p.jpg</res>"
      "</item></DIDL-Lite>";
  char *escaped = upnp_xml_escape_cond(didl, 0);
  upnp_xml_node *tree = nullptr;
  upnp_xml_node *res = nullptr;
  ASSERT_EQ(0, upnp_cp_play_best_AVTransportURI3(r, escaped, &tree, &res));
  upnp_free_impl(escaped);
  ASSERT_NE(nullptr, res);
  EXPECT_STREQ("http://127.0.0.1:8200/p.jpg", res->value);
  upnp_xml_release(tree);
  std::vector<std::string> order;
  for (const Call &c : avt_calls()) order.push_back(action(c));
  EXPECT_EQ((std::vector<std::string>{"Stop", "SetAVTransportURI", "Play"}), order);
  EXPECT_EQ("http://127.0.0.1:8200/p.jpg", element(avt_calls()[1], "CurrentURI"));
  ASSERT_EQ(0, upnp_cp_put_best_AVTransportURI2(r, 1, didl, nullptr, nullptr));
  EXPECT_EQ("SetNextAVTransportURI", action(avt_calls().back()));
}

}  // namespace
