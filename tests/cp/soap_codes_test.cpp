// Result-code texts, names, error extraction from fault bodies and the
// request envelopes.
#include <gtest/gtest.h>

#include <string>

#include "base/upnp_mem.h"
#include "base/upnp_xml.h"
#include "cp/upnp_soap_internal.h"

namespace {

std::string take(upnp_string *s) {
  std::string r = s ? upnp_string_get_cstring(s) : "<none>";
  upnp_string_free(s);
  return r;
}

TEST(SoapCodes, ControlPointTableIsSearchedBeforeTheStacks) {
  upnp_set_errmsgs(nullptr);
  EXPECT_STREQ("No such object", upnp_get_errmsg(701));
  EXPECT_STREQ("Success", upnp_get_errmsg(0));
  EXPECT_STREQ("Bad request", upnp_get_errmsg(6));  // not in the stack's table
  upnp_set_errmsgs(upnp_cp_errmsgs());
  EXPECT_STREQ("Transition not available", upnp_get_errmsg(701));
  EXPECT_STREQ("Seek mode not supported or no such container", upnp_get_errmsg(710));
  EXPECT_STREQ("No error", upnp_get_errmsg(0));
  EXPECT_STREQ("No response", upnp_get_errmsg(6));
  EXPECT_STREQ("Could not get upload response - success/failure unknown", upnp_get_errmsg(24));
  EXPECT_STREQ("Invalid InstanceID", upnp_get_errmsg(718));
  EXPECT_STREQ("Illegal seek target", upnp_get_errmsg(711));
  EXPECT_STREQ("Access denied", upnp_get_errmsg(801));
  EXPECT_STREQ("Bad request", upnp_get_errmsg(999));
  EXPECT_STREQ("Bad request", upnp_get_errmsg(-5));
  EXPECT_STREQ("Out of memory", upnp_get_errmsg(8));
}

TEST(SoapCodes, HttpStatusOfResultCodes) {
  EXPECT_EQ(200, upnp_client_get_http_error(0, 1));
  EXPECT_EQ(0, upnp_client_get_http_error(0, 0));
  EXPECT_EQ(402, upnp_client_get_http_error(1, 0));
  EXPECT_EQ(402, upnp_client_get_http_error(2, 0));
  EXPECT_EQ(402, upnp_client_get_http_error(10, 0));
  EXPECT_EQ(500, upnp_client_get_http_error(8, 0));
  EXPECT_EQ(602, upnp_client_get_http_error(13, 0));
  EXPECT_EQ(501, upnp_client_get_http_error(6, 0));
  EXPECT_EQ(718, upnp_client_get_http_error(718, 1));
  EXPECT_EQ(200, upnp_client_get_http_error(200, 0));
}

TEST(SoapCodes, Names) {
  EXPECT_STREQ("REL_TIME", upnp_seek_unit_text(4));
  EXPECT_STREQ("X_DLNA_REL_BYTE", upnp_seek_unit_text(10));
  EXPECT_STREQ("NOT_IMPLEMENTED", upnp_seek_unit_text(11));
  EXPECT_EQ(8u, upnp_seek_unit_index("tape-index"));
  EXPECT_EQ(65535u, upnp_seek_unit_index("TAPE"));
  EXPECT_EQ(65535u, upnp_seek_unit_index(nullptr));
  EXPECT_STREQ("INTRO", upnp_play_mode_text(6));
  EXPECT_EQ(nullptr, upnp_play_mode_text(7));
  EXPECT_EQ(3, upnp_transport_state_index("paused_playback"));
  EXPECT_EQ(6, upnp_transport_state_index("NO_MEDIA_PRESENT"));
  EXPECT_EQ(-1, upnp_transport_state_index("PLAYING "));
  EXPECT_EQ(-1, upnp_transport_state_index(nullptr));
  EXPECT_STREQ("TRANSITIONING", upnp_transport_state_text(2));
  EXPECT_EQ(nullptr, upnp_transport_state_text(7));
}

TEST(SoapCodes, ErrorCodeOfFaultBodies) {
  EXPECT_EQ(718u, upnp_soap_error_code("<s:Fault><detail><UPnPError><errorCode>718</errorCode>"));
  EXPECT_EQ(701u, upnp_soap_error_code("<errorCode xmlns=\"x\">701</errorCode>"));
  // A prefixed element counts only for 801.
  EXPECT_EQ(0u, upnp_soap_error_code("<u:errorCode>718</u:errorCode>"));
  EXPECT_EQ(801u, upnp_soap_error_code("<u:errorCode>801</u:errorCode>"));
  // Occurrences not opened by '<' or ':' are skipped, and so is the very start.
  EXPECT_EQ(0u, upnp_soap_error_code("errorCode>718"));
  EXPECT_EQ(402u, upnp_soap_error_code("<a>errorCode is 5</a><errorCode>402</errorCode>"));
  EXPECT_EQ(0u, upnp_soap_error_code("<errorCode"));
  EXPECT_EQ(0u, upnp_soap_error_code("<ok/>"));
  EXPECT_EQ(0u, upnp_soap_error_code(nullptr));
}

TEST(SoapEnvelope, FixedFrameWithArgumentsInOrder) {
  upnp_soap_arg args[] = {{"InstanceID", "0"}, {"Speed", "1"}};
  EXPECT_EQ(
      "<?xml version=\"1.0\" encoding=\"utf-8\"?><s:Envelope "
      "s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\" "
      "xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\"><s:Body><u:Play "
      "xmlns:u=\"urn:schemas-upnp-org:service:AVTransport:1\"><InstanceID>0</InstanceID><Speed>1</Speed></u:Play>"
      "</s:Body></s:Envelope>",
      take(upnp_soap_envelope(UPNP_SERVICE_AVT, "Play", args, 2)));
  EXPECT_EQ("<none>", take(upnp_soap_envelope(32, "Play", args, 2)));
}

TEST(SoapEnvelope, ArgumentsAreEscapedAndRoundTrip) {
  const std::string title = "Rock & Roll <Live> \"1\" 'x' \xc3\x9c" "n\xc3\xaf" "code";
  upnp_soap_arg args[] = {{"ObjectID", title.c_str()}, {"Empty", nullptr}};
  std::string env = take(upnp_soap_envelope(UPNP_SERVICE_CDS, "Browse", args, 2));
  EXPECT_EQ(std::string::npos, env.find("<Live>"));
  EXPECT_NE(std::string::npos, env.find("Rock &amp; Roll &lt;Live&gt;"));
  EXPECT_NE(std::string::npos, env.find("<Empty></Empty>"));
  upnp_xml_node *tree = upnp_xml_parse(env.c_str());
  ASSERT_NE(nullptr, tree);
  EXPECT_STREQ(title.c_str(), upnp_xml_find_tag_value(tree, "ObjectID"));
  upnp_xml_release(tree);
}

TEST(SoapEnvelope, PrefixSuffixAndOneArgumentRequest) {
  std::string r = take(getSoapRequest("<u:GetSortCapabilities x=\"%s\"/>", "y"));
  EXPECT_EQ(0u, r.find("<?xml version=\"1.0\" encoding=\"utf-8\"?><s:Envelope s:encodingStyle="));
  EXPECT_NE(std::string::npos, r.find("<s:Body><u:GetSortCapabilities x=\"y\"/></s:Body></s:Envelope>"));
  upnp_string *p = getSoapPrefix(10);
  ASSERT_NE(nullptr, p);
  EXPECT_EQ(std::string("<s:Body>"), std::string(p->buffer + p->length - 8));
  EXPECT_EQ("<none>", take(getSoapSuffix(nullptr)));
  upnp_string_free(p);
}

TEST(SoapEnvelope, SoapActionHeader) {
  char *h = upnp_soap_action_header(UPNP_SERVICE_RCS, "GetVolume");
  EXPECT_STREQ("\"urn:schemas-upnp-org:service:RenderingControl:1#GetVolume\"", h);
  upnp_free_impl(h);
  h = upnp_soap_action_header(UPNP_SERVICE_RUIS, "GetCompatibleUIs");
  EXPECT_STREQ("\"urn:schemas-upnp-org:service:RemoteUIServer:1#GetCompatibleUIs\"", h);
  upnp_free_impl(h);
  h = upnp_soap_action_header(64, "Odd");
  EXPECT_STREQ("Odd", h);
  upnp_free_impl(h);
}

TEST(SoapEnvelope, TransportMetadataFromAnItem) {
  upnp_xml_node *item = upnp_xml_parse(
      "<item id=\"1$2\" parentID=\"1\"><dc:title>A &amp; B &lt;c&gt;</dc:title>"
      "<res protocolInfo=\"http-get:*:audio/mpeg:*\">http://h/x?a=1&amp;b=2</res></item>");
  ASSERT_NE(nullptr, item);
  char *meta = upnp_control_create_AVTransportURIMetaData(item);
  ASSERT_NE(nullptr, meta);
  std::string m = meta;
  EXPECT_EQ(0u, m.find("<DIDL-Lite xmlns=\"urn:schemas-upnp-org:metadata-1-0/DIDL-Lite\" xmlns:dc="));
  upnp_xml_node *back = upnp_xml_parse(meta);
  ASSERT_NE(nullptr, back);
  EXPECT_STREQ("A & B <c>", upnp_xml_find_tag_value(back, "dc:title"));
  EXPECT_STREQ("http://h/x?a=1&b=2", upnp_xml_find_tag_value(back, "res"));
  upnp_xml_release(back);
  upnp_free_impl(meta);
  upnp_xml_release(item);
  EXPECT_EQ(nullptr, upnp_control_create_AVTransportURIMetaData(nullptr));
}

}  // namespace

namespace {

std::string text(upnp_string *s) {
  std::string r = s ? upnp_string_get_cstring(s) : "<none>";
  upnp_string_free(s);
  return r;
}

TEST(SoapTranslate, LocalAddressOfAnotherNetworkIsReplacedEverywhere) {
  const char *local[] = {"10.0.0.5", "192.168.1.5"};
  upnp_string *uri = nullptr, *meta = nullptr;
  EXPECT_EQ(1, upnp_soap_translate_addresses("http://10.0.0.5:9000/a?h=10.0.0.5", "<res>http://10.0.0.5:9000/a</res>",
                                             local, 2, "192.168.1.5", &uri, &meta));
  EXPECT_EQ("http://192.168.1.5:9000/a?h=192.168.1.5", text(uri));
  EXPECT_EQ("<res>http://192.168.1.5:9000/a</res>", text(meta));
  // Already the renderer's side, a foreign host, an address followed by a
  // digit, or nothing known about the renderer: unchanged.
  EXPECT_EQ(0, upnp_soap_translate_addresses("http://192.168.1.5/a", nullptr, local, 2, "192.168.1.5", &uri, &meta));
  EXPECT_EQ(0, upnp_soap_translate_addresses("http://10.0.0.50/a", nullptr, local, 2, "192.168.1.5", &uri, &meta));
  EXPECT_EQ(0, upnp_soap_translate_addresses("http://110.0.0.5/a", nullptr, local, 2, "192.168.1.5", &uri, &meta));
  EXPECT_EQ(0, upnp_soap_translate_addresses("http://10.0.0.5/a", nullptr, local, 2, "", &uri, &meta));
  EXPECT_EQ(nullptr, uri);
  EXPECT_EQ(nullptr, meta);
  EXPECT_EQ(1, upnp_soap_translate_addresses("http://10.0.0.5/a", nullptr, local, 2, "192.168.1.5", &uri, &meta));
  EXPECT_EQ("http://192.168.1.5/a", text(uri));
  EXPECT_EQ(nullptr, meta);
}

}  // namespace
