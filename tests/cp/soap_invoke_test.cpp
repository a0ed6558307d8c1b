// Invocation against SOAP servers on 127.0.0.1 through a stand-in device
// table: resolution and refusals, SOAPACTION and target URL, retry after a
// fast failure, invalidation, UPnP errors and the actions' out-arguments.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "base/upnp_mem.h"
#include "cp/upnp_soap_internal.h"
#include "soap_test_util.h"
#include "support_mem.h"

namespace {

const std::vector<std::string> kAvtActions = {"Play", "Pause", "Stop", "Seek", "SetAVTransportURI",
                                              "GetPositionInfo", "GetTransportInfo", "GetMediaInfo",
                                              "X_DLNA_GetBytePositionInfo"};
const std::vector<std::string> kRcsActions = {"GetVolume", "SetVolume", "GetMute", "SetMute", "GetVolumeDBRange"};
const std::vector<std::string> kCdsActions = {"Browse", "Search", "UpdateObject", "GetSystemUpdateID",
                                              "CreateReference", "CreateObject"};

class SoapInvoke : public ::testing::Test {
 protected:
  void serve(SoapServer::Reply reply) {
    server.reset(new SoapServer(std::move(reply)));
    table.device().url_base = server->base() + "/dev";
  }
  void renderer() {
    table.add_service(UPNP_SERVICE_AVT, "/ctl/avt", kAvtActions,
                      "<stateVariable><name>A_ARG_TYPE_SeekMode</name><allowedValueList>"
                      "<allowedValue>REL_TIME</allowedValue><allowedValue>X_DLNA_REL_BYTE</allowedValue>"
                      "</allowedValueList></stateVariable>");
    table.add_service(UPNP_SERVICE_RCS, "ctl/rcs", kRcsActions,
                      "<stateVariable><name>Volume</name><allowedValueRange><minimum>0</minimum>"
                      "<maximum>64</maximum></allowedValueRange></stateVariable>");
    table.add_service(UPNP_SERVICE_CM, "/ctl/cm", {});
  }
  void server_kind() {
    table.add_service(UPNP_SERVICE_CDS, "/ctl/cds", kCdsActions);
    table.add_service(UPNP_SERVICE_CM, "/ctl/cm", {});
  }
  std::vector<SoapRequest> requests() { return server ? server->requests() : std::vector<SoapRequest>{}; }

  FakeDeviceTable table;
  std::unique_ptr<SoapServer> server;
};

using test_support::take_text;

TEST_F(SoapInvoke, PlaySendsHeaderPathAndEnvelope) {
  serve([](const SoapRequest &) { return SoapServer::ok("<u:PlayResponse xmlns:u=\"x\"/>"); });
  renderer();
  EXPECT_EQ(0, upnp_play(3));
  EXPECT_EQ(3, table.device().last_index);
  EXPECT_EQ(UPNP_KIND_RENDERER, table.device().last_kind);
  auto r = requests();
  ASSERT_EQ(1u, r.size());
  EXPECT_EQ("/ctl/avt", r[0].path);
  EXPECT_EQ("\"urn:schemas-upnp-org:service:AVTransport:1#Play\"", r[0].soap_action);
  EXPECT_NE(std::string::npos, r[0].body.find("<InstanceID>0</InstanceID><Speed>1</Speed></u:Play>"));
}

TEST_F(SoapInvoke, RelativeControlUrlJoinsTheUrlBaseAndAbsoluteOneIsSplit) {
  serve([](const SoapRequest &) { return SoapServer::ok("<u:R><CurrentVolume>7</CurrentVolume></u:R>"); });
  renderer();
  unsigned v = 0;
  EXPECT_EQ(0, upnp_cp_getVolume(0, &v));
  EXPECT_EQ(7u, v);
  table.device().services[UPNP_SERVICE_RCS].control_url = server->base() + "/abs/path/rcs";
  EXPECT_EQ(0, upnp_cp_getVolume(0, &v));
  auto r = requests();
  ASSERT_EQ(2u, r.size());
  EXPECT_EQ("/dev/ctl/rcs", r[0].path);
  EXPECT_EQ("/abs/path/rcs", r[1].path);
  EXPECT_NE(std::string::npos, r[0].body.find("<InstanceID>0</InstanceID><Channel>Master</Channel></u:GetVolume>"));
}

TEST_F(SoapInvoke, ActionNotOfferedIsRefusedWithoutTraffic) {
  serve([](const SoapRequest &) { return SoapServer::ok(""); });
  renderer();
  EXPECT_EQ(UPNP_E_NOT_IMPLEMENTED, upnp_next(0));
  EXPECT_EQ(UPNP_E_NOT_IMPLEMENTED, upnp_cp_setLoudness(0, 1));
  // No SCPD at all for the service.
  table.device().services.erase(UPNP_SERVICE_CDS);
  EXPECT_EQ(UPNP_E_NOT_IMPLEMENTED, upnp_control_destroy_object(0, "1"));
  // ConnectionManager needs no SCPD entry.
  table.device().services[UPNP_SERVICE_CM].control_url = "";
  char *out = nullptr;
  EXPECT_EQ(UPNP_E_DEVICE_GONE, upnp_get_NonCachedProtocolInfo(0, UPNP_KIND_SERVER, &out));
  EXPECT_EQ(nullptr, out);
  EXPECT_TRUE(requests().empty());
  EXPECT_EQ(0, table.device().invalidations.load());
}

TEST_F(SoapInvoke, BrokenActionAndLookupFailuresAreRefused) {
  serve([](const SoapRequest &) { return SoapServer::ok(""); });
  renderer();
  table.device().broken = UPNP_BROKEN_GET_POSITION_INFO | UPNP_BROKEN_GET_MEDIA_INFO;
  char *t = reinterpret_cast<char *>(1);
  EXPECT_EQ(UPNP_E_BROKEN_ACTION, upnp_getposition(0, &t));
  EXPECT_EQ(nullptr, t);
  EXPECT_EQ(UPNP_E_BROKEN_ACTION, upnp_get_AVTransportURI(0, &t));
  table.device().lookup_rc = UPNP_E_DEVICE_GONE;
  EXPECT_EQ(UPNP_E_DEVICE_GONE, upnp_play(0));
  table.device().lookup_rc = 0;
  table.device().url_base = "";
  EXPECT_EQ(UPNP_E_DEVICE_GONE, upnp_play(0));
  table.device().lock_available = false;
  EXPECT_EQ(UPNP_E_GOING_DOWN, upnp_play(0));
  EXPECT_EQ(UPNP_E_INVALID_PARAM, invokeSoapAction(0, 2, UPNP_SERVICE_AVT, 0, nullptr, "x", nullptr));
  EXPECT_EQ(UPNP_E_OUT_OF_MEMORY, invokeSoapAction2(0, 2, UPNP_SERVICE_AVT, 0, "Play", nullptr, nullptr));
  EXPECT_TRUE(requests().empty());
}

TEST_F(SoapInvoke, NoControlPointMeansGoingDown) {
  upnp_soap_set_device_access(nullptr);
  EXPECT_EQ(UPNP_E_GOING_DOWN, upnp_stop(0));
}

TEST_F(SoapInvoke, FastFailureIsRetriedOnceThenTheDeviceIsInvalidated) {
  serve([](const SoapRequest &) { return std::string(); });  // closes at once
  renderer();
  EXPECT_EQ(UPNP_E_NO_RESPONSE, upnp_pause(0));
  EXPECT_EQ(2u, requests().size());
  EXPECT_EQ(1, table.device().invalidations.load());
}

TEST_F(SoapInvoke, FastFailureThenAnswerSucceeds) {
  std::atomic<int> n{0};
  serve([&n](const SoapRequest &) {
    return n++ == 0 ? std::string() : SoapServer::ok("<u:R><CurrentMute>true</CurrentMute></u:R>");
  });
  renderer();
  int on = 0;
  EXPECT_EQ(0, upnp_cp_getMute(0, &on));
  EXPECT_EQ(1, on);
  EXPECT_EQ(2u, requests().size());
  EXPECT_EQ(0, table.device().invalidations.load());
}

TEST_F(SoapInvoke, SlowFailureIsNotRetried) {
  serve([](const SoapRequest &) {
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    return std::string();
  });
  renderer();
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(UPNP_E_NO_RESPONSE, upnp_stop(0));
  EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(650));
  EXPECT_EQ(1u, requests().size());
  EXPECT_EQ(1, table.device().invalidations.load());
}

TEST_F(SoapInvoke, ShortReplyCountsAsNoResponse) {
  serve([](const SoapRequest &) { return http_response("200 OK", "<a/>"); });
  renderer();
  EXPECT_EQ(UPNP_E_NO_RESPONSE, upnp_stop(0));
  EXPECT_EQ(1, table.device().invalidations.load());
}

TEST_F(SoapInvoke, UpnpErrorsComeBackWithTheReply) {
  serve([](const SoapRequest &r) {
    if (r.body.find("<Target>") != std::string::npos) return SoapServer::fault(711, "Illegal seek target");
    return SoapServer::fault(718);
  });
  renderer();
  EXPECT_EQ(711, upnp_control_seek_time(0, 0, 5000));
  EXPECT_STREQ("Illegal seek target", upnp_get_errmsg(711));
  upnp_string *reply = nullptr;
  upnp_string *env = upnp_soap_envelope(UPNP_SERVICE_AVT, "Stop", nullptr, 0);
  EXPECT_EQ(718, invokeSoapAction2(0, 2, UPNP_SERVICE_AVT, 0, "Stop", env, &reply));
  ASSERT_NE(nullptr, reply);
  EXPECT_NE(std::string::npos, std::string(reply->buffer).find("<errorCode>718</errorCode>"));
  upnp_string_free(reply);
  // Getters hand out nothing on an error.
  char *state = reinterpret_cast<char *>(1);
  EXPECT_EQ(718, upnp_gettransportinfo(0, &state));
  EXPECT_EQ(nullptr, state);
  EXPECT_EQ(-1, upnp_gettransportstate(0));
  EXPECT_EQ(-1, upnp_getvolume(0));
  EXPECT_EQ(0, table.device().invalidations.load());
}

TEST_F(SoapInvoke, SeekTargetsAndRefusals) {
  serve([](const SoapRequest &) { return SoapServer::ok("<u:SeekResponse/>"); });
  renderer();
  EXPECT_EQ(0, upnp_control_seek_time(0, 1, (1 * 3600 + 2 * 60 + 3) * 1000ull + 999));
  EXPECT_EQ(0, upnp_control_seek_time(0, 0, 125ull * 3600 * 1000));
  EXPECT_EQ(0, upnp_control_seek_byte(0, 5000000000ull));
  EXPECT_EQ(0, upnp_control_seek_count(0, 0, 4));
  EXPECT_EQ(UPNP_E_INVALID_PARAM, upnp_control_seek(0, 11, "1"));
  EXPECT_EQ(UPNP_E_INVALID_PARAM, upnp_control_seek(0, 2, ""));
  EXPECT_EQ(UPNP_E_INVALID_PARAM, upnp_set_PlayMode(0, 7));
  auto r = requests();
  ASSERT_EQ(4u, r.size());
  EXPECT_NE(std::string::npos, r[0].body.find("<Unit>ABS_TIME</Unit><Target>01:02:03</Target>"));
  EXPECT_NE(std::string::npos, r[1].body.find("<Unit>REL_TIME</Unit><Target>125:00:00</Target>"));
  EXPECT_NE(std::string::npos, r[2].body.find("<Unit>X_DLNA_REL_BYTE</Unit><Target>5000000000</Target>"));
  EXPECT_NE(std::string::npos, r[3].body.find("<Unit>REL_COUNT</Unit><Target>4</Target>"));
}

TEST_F(SoapInvoke, TransportUriEscapesUriAndMetadata) {
  serve([](const SoapRequest &) { return SoapServer::ok("<u:SetAVTransportURIResponse/>"); });
  renderer();
  const char *uri = "http://169.254.77.1/a?x=1&y=\"2\"";
  const char *meta = "<DIDL-Lite><item><dc:title>Rock &amp; Roll &lt;Live&gt;</dc:title></item></DIDL-Lite>";
  EXPECT_EQ(0, upnp_set_AVTransportURI(0, uri, meta));
  EXPECT_EQ(0, upnp_set_CurrentTrackURI(0, "http://h/b"));
  EXPECT_EQ(UPNP_E_INVALID_PARAM, upnp_set_AVTransportURI(0, nullptr, nullptr));
  auto r = requests();
  ASSERT_EQ(2u, r.size());
  upnp_xml_node *tree = upnp_xml_parse(r[0].body.c_str());
  ASSERT_NE(nullptr, tree);
  EXPECT_STREQ(uri, upnp_xml_find_tag_value(tree, "CurrentURI"));
  EXPECT_STREQ(meta, upnp_xml_find_tag_value(tree, "CurrentURIMetaData"));
  upnp_xml_release(tree);
  EXPECT_NE(std::string::npos, r[1].body.find("<CurrentURIMetaData></CurrentURIMetaData>"));
}

TEST_F(SoapInvoke, PositionTransportAndMediaInfo) {
  serve([](const SoapRequest &r) {
    if (r.soap_action.find("#GetPositionInfo") != std::string::npos)
      return SoapServer::ok(
          "<u:GetPositionInfoResponse xmlns:u=\"urn:schemas-upnp-org:service:AVTransport:1\"><Track>2</Track>"
          "<TrackDuration>0:03:10</TrackDuration><TrackMetaData>&lt;DIDL-Lite/&gt;</TrackMetaData>"
          "<TrackURI>http://h/t.mp3</TrackURI><RelTime>0:00:12</RelTime><AbsTime>NOT_IMPLEMENTED</AbsTime>"
          "<RelCount>2147483647</RelCount><AbsCount>-1</AbsCount></u:GetPositionInfoResponse>");
    if (r.soap_action.find("#GetTransportInfo") != std::string::npos)
      return SoapServer::ok(
          "<u:GetTransportInfoResponse><CurrentTransportState>PAUSED_PLAYBACK</CurrentTransportState>"
          "<CurrentTransportStatus>OK</CurrentTransportStatus><CurrentSpeed>1</CurrentSpeed>"
          "</u:GetTransportInfoResponse>");
    if (r.soap_action.find("#X_DLNA") != std::string::npos)
      return SoapServer::ok("<X_DLNA_GetBytePositionInfoResponse><RelByte>10</RelByte><AbsByte>20</AbsByte>"
                            "<TrackSize>8000000000</TrackSize></X_DLNA_GetBytePositionInfoResponse>");
    return SoapServer::ok("<u:GetMediaInfoResponse><NrTracks>1</NrTracks><CurrentURI>http://h/c</CurrentURI>"
                          "<NextURI></NextURI><NextURIMetadata>n</NextURIMetadata></u:GetMediaInfoResponse>");
  });
  renderer();
  int track = 0, rel = 0, abs = 0;
  char *dur = nullptr, *meta = nullptr, *uri = nullptr, *reltime = nullptr, *abstime = nullptr;
  ASSERT_EQ(0, upnp_get_PositionInfo(0, &track, &dur, &meta, &uri, &reltime, &abstime, &rel, &abs));
  EXPECT_EQ(2, track);
  EXPECT_EQ(2147483647, rel);
  EXPECT_EQ(-1, abs);
  EXPECT_EQ("0:03:10", take_text(dur));
  EXPECT_EQ("<DIDL-Lite/>", take_text(meta));
  EXPECT_EQ("http://h/t.mp3", take_text(uri));
  EXPECT_EQ("0:00:12", take_text(reltime));
  EXPECT_EQ("NOT_IMPLEMENTED", take_text(abstime));
  EXPECT_EQ(3, upnp_gettransportstate(0));
  char *state = nullptr, *status = nullptr, *speed = nullptr;
  ASSERT_EQ(0, upnp_get_TransportInfo(0, &state, &status, &speed));
  EXPECT_EQ("PAUSED_PLAYBACK", take_text(state));
  EXPECT_EQ("OK", take_text(status));
  EXPECT_EQ("1", take_text(speed));
  int n = 0;
  char *cur = nullptr, *next = nullptr, *next_meta = nullptr, *medium = nullptr;
  ASSERT_EQ(0, upnp_get_MediaInfo(0, &n, nullptr, &cur, nullptr, &next, &next_meta, &medium, nullptr, nullptr));
  EXPECT_EQ(1, n);
  EXPECT_EQ("http://h/c", take_text(cur));
  EXPECT_EQ("", take_text(next));
  EXPECT_EQ("n", take_text(next_meta));
  EXPECT_EQ("", take_text(medium));  // missing: empty
  uint64_t a = 0, b = 0, size = 0;
  ASSERT_EQ(0, upnp_control_getDlnaBytePositionInfo(0, &a, &b, &size));
  EXPECT_EQ(10u, a);
  EXPECT_EQ(20u, b);
  EXPECT_EQ(8000000000u, size);
}

TEST_F(SoapInvoke, BytePositionNeedsItsUnprefixedResponseElement) {
  serve([](const SoapRequest &) {
    return SoapServer::ok(
        "<u:X_DLNA_GetBytePositionInfoResponse><RelByte>10</RelByte></u:X_DLNA_GetBytePositionInfoResponse>");
  });
  renderer();
  uint64_t a = 7;
  EXPECT_EQ(UPNP_E_BAD_RESPONSE, upnp_control_getDlnaBytePositionInfo(0, &a, nullptr, nullptr));
  EXPECT_EQ(0u, a);
}

TEST_F(SoapInvoke, OutArgumentRules) {
  std::atomic<int> step{0};
  serve([&step](const SoapRequest &) {
    switch (step++) {
      case 0: return SoapServer::ok("<u:R><CurrentMute>No</CurrentMute></u:R>");
      case 1: return SoapServer::ok("<u:R><CurrentMute>2</CurrentMute></u:R>");
      case 2: return SoapServer::ok("<u:R><CurrentMute>maybe</CurrentMute></u:R>");
      case 3: return SoapServer::ok("<u:R><u:CurrentVolume>5</u:CurrentVolume></u:R>");  // prefixed: no match
      case 4: return SoapServer::ok("<u:R><CurrentVolume>x5</CurrentVolume></u:R>");
      case 5: return SoapServer::ok("<u:R><MinValue>-7680</MinValue><MaxValue>0</MaxValue></u:R>");
      case 6: return SoapServer::ok("<u:R><MinValue>-7680</MinValue></u:R>");
      default: return http_response("200 OK", "not xml at all");
    }
  });
  renderer();
  int on = -1;
  EXPECT_EQ(0, upnp_cp_getMute(0, &on));
  EXPECT_EQ(0, on);
  EXPECT_EQ(0, upnp_cp_getMute(0, &on));
  EXPECT_EQ(1, on);
  EXPECT_EQ(UPNP_E_BAD_RESPONSE, upnp_cp_getMute(0, &on));
  EXPECT_EQ(0, on);
  unsigned v = 9;
  EXPECT_EQ(UPNP_E_BAD_RESPONSE, upnp_cp_getVolume(0, &v));
  EXPECT_EQ(0u, v);
  EXPECT_EQ(UPNP_E_BAD_RESPONSE, upnp_cp_getVolume(0, &v));
  int lo = 1, hi = 1;
  EXPECT_EQ(0, upnp_getvolumedb_range(0, &lo, &hi));
  EXPECT_EQ(-7680, lo);
  EXPECT_EQ(0, hi);
  EXPECT_EQ(UPNP_E_BAD_RESPONSE, upnp_getvolumedb_range(0, &lo, &hi));
  EXPECT_EQ(0, lo);
  EXPECT_EQ(UPNP_E_BAD_RESPONSE, upnp_getvolume(0) == -1 ? UPNP_E_BAD_RESPONSE : 0);
}

TEST_F(SoapInvoke, VolumeAndMuteSetters) {
  serve([](const SoapRequest &) { return SoapServer::ok("<u:R/>"); });
  renderer();
  EXPECT_EQ(0, upnp_set_Volume(0, 42));
  EXPECT_EQ(0, upnp_set_Mute(0, 5));
  auto r = requests();
  ASSERT_EQ(2u, r.size());
  EXPECT_NE(std::string::npos,
            r[0].body.find("<InstanceID>0</InstanceID><Channel>Master</Channel><DesiredVolume>42</DesiredVolume>"));
  EXPECT_NE(std::string::npos, r[1].body.find("<DesiredMute>1</DesiredMute>"));
  EXPECT_EQ("\"urn:schemas-upnp-org:service:RenderingControl:1#SetMute\"", r[1].soap_action);
}

TEST_F(SoapInvoke, ScpdDerivedValues) {
  serve([](const SoapRequest &) { return SoapServer::ok(""); });
  renderer();
  unsigned max = 0;
  EXPECT_EQ(0, upnp_control_getMaximumVolume(0, &max));
  EXPECT_EQ(64u, max);
  EXPECT_EQ(0, upnp_control_getRCSMaximumValue(0, "Brightness", &max));
  EXPECT_EQ(100u, max);
  char modes[64];
  EXPECT_EQ(0, upnp_control_getSupportedSeekModes(0, sizeof modes, modes));
  EXPECT_STREQ("REL_TIME,X_DLNA_REL_BYTE", modes);
  EXPECT_EQ(UPNP_E_BUFFER_TOO_SMALL, upnp_control_getSupportedSeekModes(0, 12, modes));
  EXPECT_STREQ("", modes);
  table.device().services.erase(UPNP_SERVICE_RCS);
  EXPECT_EQ(0, upnp_control_getMaximumVolume(0, &max));
  EXPECT_EQ(500u, max);
  EXPECT_TRUE(requests().empty());
}

TEST_F(SoapInvoke, BrowseAndSearch) {
  serve([](const SoapRequest &r) {
    if (r.soap_action.find("#Search") != std::string::npos)
      return SoapServer::ok("<u:SearchResponse><Result></Result><NumberReturned>0</NumberReturned>"
                            "<TotalMatches>0</TotalMatches></u:SearchResponse>");
    return SoapServer::ok(
        "<u:BrowseResponse xmlns:u=\"urn:schemas-upnp-org:service:ContentDirectory:1\"><Result>"
        "&lt;DIDL-Lite&gt;&lt;item id=&quot;64$1&quot;&gt;&lt;dc:title&gt;Rock &amp;amp; Roll&lt;/dc:title&gt;"
        "&lt;/item&gt;&lt;/DIDL-Lite&gt;</Result><NumberReturned>1</NumberReturned>"
        "<TotalMatches>2000</TotalMatches><UpdateID>5</UpdateID></u:BrowseResponse>");
  });
  server_kind();
  upnp_xml_node *tree = nullptr;
  ASSERT_EQ(0, upnp_control_browse(4, "64", "*", 50, 50, nullptr, &tree));
  ASSERT_NE(nullptr, tree);
  EXPECT_EQ(UPNP_KIND_SERVER, table.device().last_kind);
  EXPECT_STREQ("2000", upnp_xml_find_tag_value(tree, "TotalMatches"));
  upnp_xml_node *didl = upnp_xml_parse(upnp_xml_find_tag_value(tree, "Result"));
  ASSERT_NE(nullptr, didl);
  EXPECT_STREQ("Rock & Roll", upnp_xml_find_tag_value(didl, "dc:title"));
  upnp_xml_release(didl);
  upnp_xml_release(tree);
  ASSERT_EQ(0, upnp_control_search(4, "0", "dc:title", 0, 10, "+dc:title", "dc:title contains \"a&b\"", &tree));
  upnp_xml_release(tree);
  auto r = requests();
  ASSERT_EQ(2u, r.size());
  EXPECT_NE(std::string::npos,
            r[0].body.find("<ObjectID>64</ObjectID><BrowseFlag>BrowseDirectChildren</BrowseFlag><Filter>*</Filter>"
                           "<StartingIndex>50</StartingIndex><RequestedCount>50</RequestedCount>"
                           "<SortCriteria></SortCriteria>"));
  EXPECT_NE(std::string::npos,
            r[1].body.find("<ContainerID>0</ContainerID><SearchCriteria>dc:title contains &quot;a&amp;b&quot;"
                           "</SearchCriteria><Filter>dc:title</Filter><StartingIndex>0</StartingIndex>"));
  EXPECT_EQ("/ctl/cds", r[1].path);
}

TEST_F(SoapInvoke, UnparsableBrowseReplyIsBadResponse) {
  serve([](const SoapRequest &) { return http_response("200 OK", "garbage without elements"); });
  server_kind();
  upnp_xml_node *tree = reinterpret_cast<upnp_xml_node *>(1);
  EXPECT_EQ(UPNP_E_BAD_RESPONSE, upnp_control_browse(0, "0", nullptr, 0, 0, nullptr, &tree));
  EXPECT_EQ(nullptr, tree);
}

TEST_F(SoapInvoke, RenameReadsTheOldTitleAndObjectProperty) {
  serve([](const SoapRequest &r) {
    if (r.soap_action.find("#UpdateObject") != std::string::npos) return SoapServer::ok("<u:UpdateObjectResponse/>");
    return SoapServer::ok(
        "<u:BrowseResponse><Result>&lt;DIDL-Lite&gt;&lt;item id=&quot;7&quot;&gt;&lt;dc:title&gt;A &amp;amp; B"
        "&lt;/dc:title&gt;&lt;upnp:originalTrackNumber&gt;3&lt;/upnp:originalTrackNumber&gt;&lt;/item&gt;"
        "&lt;/DIDL-Lite&gt;</Result></u:BrowseResponse>");
  });
  server_kind();
  EXPECT_EQ(0, upnp_control_rename_object(0, "7", "C <D>"));
  auto r = requests();
  ASSERT_EQ(2u, r.size());
  EXPECT_NE(std::string::npos, r[0].body.find("<BrowseFlag>BrowseMetadata</BrowseFlag><Filter>dc:title</Filter>"));
  upnp_xml_node *tree = upnp_xml_parse(r[1].body.c_str());
  ASSERT_NE(nullptr, tree);
  EXPECT_STREQ("<dc:title>A &amp; B</dc:title>", upnp_xml_find_tag_value(tree, "CurrentTagValue"));
  EXPECT_STREQ("<dc:title>C &lt;D&gt;</dc:title>", upnp_xml_find_tag_value(tree, "NewTagValue"));
  upnp_xml_release(tree);
  char *p = nullptr;
  EXPECT_EQ(0, upnp_cp_get_object_property(0, "7", "upnp:originalTrackNumber", 0, &p));
  EXPECT_EQ("3", take_text(p));
  EXPECT_EQ(0, upnp_cp_get_object_property(0, "7", "dc:title", 1, &p));
  EXPECT_EQ("&lt;dc:title&gt;A &amp;amp; B&lt;/dc:title&gt;", take_text(p));
  EXPECT_EQ(UPNP_E_NOT_FOUND, upnp_cp_get_object_property(0, "7", "dc:creator", 0, &p));
  EXPECT_EQ(nullptr, p);
}

TEST_F(SoapInvoke, ProtocolInfoCapabilitiesAndReference) {
  serve([](const SoapRequest &r) {
    if (r.soap_action.find("#GetProtocolInfo") != std::string::npos)
      return SoapServer::ok("<u:GetProtocolInfoResponse><Source>http-get:*:audio/mpeg:*</Source>"
                            "<Sink>http-get:*:audio/flac:*</Sink></u:GetProtocolInfoResponse>");
    if (r.soap_action.find("#GetSystemUpdateID") != std::string::npos)
      return SoapServer::ok("<u:R><Id>12</Id></u:R>");
    return SoapServer::ok("<u:R><Other>1</Other></u:R>");
  });
  server_kind();
  char *out = nullptr;
  EXPECT_EQ(0, upnp_get_NonCachedProtocolInfo(0, UPNP_KIND_SERVER, &out));
  EXPECT_EQ("http-get:*:audio/mpeg:*", take_text(out));
  EXPECT_EQ(0, upnp_get_NonCachedProtocolInfo(0, UPNP_KIND_RENDERER, &out));
  EXPECT_EQ("http-get:*:audio/flac:*", take_text(out));
  EXPECT_EQ(UPNP_E_INVALID_PARAM, upnp_get_NonCachedProtocolInfo(0, 3, &out));
  unsigned id = 0;
  EXPECT_EQ(0, upnp_cp_get_SystemUpdateID(0, &id));
  EXPECT_EQ(12u, id);
  EXPECT_EQ(UPNP_E_BAD_RESPONSE, upnp_control_create_reference(0, "1", "2", &out));
  EXPECT_EQ(nullptr, out);
  auto r = requests();
  ASSERT_GE(r.size(), 1u);
  EXPECT_EQ("/ctl/cm", r[0].path);
  EXPECT_EQ("\"urn:schemas-upnp-org:service:ConnectionManager:1#GetProtocolInfo\"", r[0].soap_action);
}

TEST_F(SoapInvoke, CompatibleUisOfARemoteUiServer) {
  std::atomic<int> step{0};
  serve([&step](const SoapRequest &) {
    return step++ == 0 ? SoapServer::ok("<u:R><UIListing>&lt;uilist/&gt;</UIListing></u:R>")
                       : SoapServer::ok("<u:R><UIListing></UIListing></u:R>");
  });
  table.device().services[UPNP_SERVICE_RUIS] = FakeService{"/ctl/ruis", ""};
  char *out = nullptr;
  EXPECT_EQ(0, upnp_get_compatible_uis(0, "<profile a=\"1\"/>", "*", &out));
  EXPECT_EQ("<uilist/>", take_text(out));
  EXPECT_EQ(UPNP_E_BAD_RESPONSE, upnp_get_compatible_uis(0, "", "*", &out));
  EXPECT_EQ(nullptr, out);
  auto r = requests();
  ASSERT_EQ(2u, r.size());
  EXPECT_EQ(UPNP_KIND_RUIS, table.device().last_kind);
  EXPECT_NE(std::string::npos, r[0].body.find("<InputDeviceProfile>&lt;profile a=&quot;1&quot;/&gt;"));
}

TEST_F(SoapInvoke, CreateObjectSendsOneEscapedItemAndReadsIdAndResult) {
  std::atomic<int> step{0};
  serve([&step](const SoapRequest &) {
    switch (step++) {
      case 0:
        return SoapServer::ok(
            "<u:CreateObjectResponse><ObjectID>64$9</ObjectID><Result>&lt;DIDL-Lite&gt;&lt;item id=&quot;64$9&quot;"
            "&gt;&lt;dc:title&gt;A &amp;amp; B&lt;/dc:title&gt;&lt;/item&gt;&lt;/DIDL-Lite&gt;</Result>"
            "</u:CreateObjectResponse>");
      case 1: return SoapServer::ok("<u:CreateObjectResponse><Result>x</Result></u:CreateObjectResponse>");
      default: return SoapServer::fault(713);
    }
  });
  server_kind();
  upnp_xml_node *tree = nullptr;
  char *id = nullptr;
  ASSERT_EQ(0, upnp_control_create_object(0, "64", " x:a=\"1\"", "A & B", "object.item.audioItem",
                                          "http-get:*:audio/mpeg:*", "<upnp:album>C</upnp:album>", " z=\"2\"",
                                          " size=\"10\"", "", 1, &tree, &id));
  EXPECT_EQ("64$9", take_text(id));
  ASSERT_NE(nullptr, tree);
  EXPECT_STREQ("A & B", upnp_xml_find_tag_value(tree, "dc:title"));
  upnp_xml_release(tree);
  auto r = requests();
  ASSERT_EQ(1u, r.size());
  EXPECT_EQ(0u, r[0].body.find("<?xml version=\"1.0\" encoding=\"utf-8\"?><s:Envelope xmlns:s="));
  upnp_xml_node *env = upnp_xml_parse(r[0].body.c_str());
  ASSERT_NE(nullptr, env);
  EXPECT_STREQ("64", upnp_xml_find_tag_value(env, "ContainerID"));
  // Elements holds the DIDL-Lite document escaped once.
  upnp_xml_node *didl = upnp_xml_parse(upnp_xml_find_tag_value(env, "Elements"));
  ASSERT_NE(nullptr, didl);
  EXPECT_STREQ("1", upnp_xml_find_attribute_value(didl, "x:a"));
  upnp_xml_node *item = upnp_xml_find_tag(didl, "item");
  ASSERT_NE(nullptr, item);
  EXPECT_STREQ("", upnp_xml_find_attribute_value(item, "id"));
  EXPECT_STREQ("64", upnp_xml_find_attribute_value(item, "parentID"));
  EXPECT_STREQ("0", upnp_xml_find_attribute_value(item, "restricted"));
  EXPECT_STREQ("2", upnp_xml_find_attribute_value(item, "z"));
  EXPECT_STREQ("A & B", upnp_xml_find_tag_value(didl, "dc:title"));
  EXPECT_STREQ("C", upnp_xml_find_tag_value(didl, "upnp:album"));
  upnp_xml_node *res = upnp_xml_find_tag(didl, "res");
  ASSERT_NE(nullptr, res);
  EXPECT_STREQ("1", upnp_xml_find_attribute_value(res, "dlna:resumeUpload"));
  EXPECT_STREQ("10", upnp_xml_find_attribute_value(res, "size"));
  upnp_xml_release(didl);
  upnp_xml_release(env);
  // No ObjectID, then a server error.
  EXPECT_EQ(UPNP_E_BAD_RESPONSE, upnp_cp_create_playlist(0, "P", "0", &tree, &id));
  EXPECT_EQ(nullptr, id);
  EXPECT_EQ(nullptr, tree);
  EXPECT_EQ(713, upnp_control_create_item(0, "0", "T", "object.item", "", "", 0, &tree, &id));
  EXPECT_NE(std::string::npos, requests()[1].body.find("object.container.playlistContainer"));
}

TEST_F(SoapInvoke, PlaylistItemPosition) {
  serve([](const SoapRequest &r) {
    if (r.soap_action.find("#UpdateObject") != std::string::npos) return SoapServer::ok("<u:R/>");
    return SoapServer::ok("<u:BrowseResponse><Result>&lt;item&gt;&lt;upnp:originalTrackNumber&gt;12"
                          "&lt;/upnp:originalTrackNumber&gt;&lt;/item&gt;</Result></u:BrowseResponse>");
  });
  server_kind();
  unsigned pos = 0;
  EXPECT_EQ(0, upnp_cp_get_playlist_item_position(0, "5", &pos));
  EXPECT_EQ(12u, pos);
  EXPECT_EQ(0, updatePosition(0, "5", 3, 3));
  EXPECT_EQ(0, updatePosition(0, "5", 0, 4));
  EXPECT_EQ(0, updatePosition(0, "5", 4, 5));
  auto r = requests();
  ASSERT_EQ(3u, r.size());
  EXPECT_NE(std::string::npos,
            r[1].body.find("<CurrentTagValue></CurrentTagValue><NewTagValue>&lt;upnp:originalTrackNumber&gt;4"));
  EXPECT_NE(std::string::npos, r[2].body.find("<CurrentTagValue>&lt;upnp:originalTrackNumber&gt;4&lt;/"));
}

}  // namespace
