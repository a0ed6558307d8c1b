// Recognition of clients: header marks, the known-clients list by address
// with fixation, device descriptions and browse parameters.
#include <string>

#include "clientdb_test_util.h"
#include "http/http_client.h"

using cdbtest::take;

namespace {

// Slot 0 reserved, 1 fallback, 2 generic DLNA, then types exercising the rules.
const char *kDb =
    "# test types\n"
    ">>\nHH:ReservedMark\n"                     // 0
    ">>\nNA:Fallback\n"                         // 1
    ">>\nHH:DLNADOC/1.50\nNA:DLNA client\n"     // 2
    ">>\nHH:MediaBox\nNA:Box A\nDV:Music\n"     // 3
    ">>\nHH:mediabox/2\nNA:Box B\n"             // 4
    ">>\nH2:ExactCase\nNA:Exact\n"              // 5
    ">>\nHH:Pinned\nNA:Pinned\nDB:FIX\n"        // 6
    ">>\nHH:Sticky\nH2:StickyModel\nNA:Sticky\nDB:FIXPC\n"  // 7
    ">>\nHH:Other\nH2:ignoredBecauseHH\nNA:Other\n"          // 8
    ">>\nDD:<modelName>Frame</modelName>\nD2:<manufacturer>FW</manufacturer>\nD3:<v>3</v>\nHH:FrameUA\nNA:Frame\n"  // 9
    ">>\nDD:<modelName>Frame</modelName>\nNA:Frame any\nDB:FIXPC\nH2:FrameModel\n"  // 10
    ">>\nHB:AVR\nMB:<BrowseFlag>BrowseDirectChildren</BrowseFlag><RequestCount>50</RequestCount>\nNA:AVR 50\n"  // 11
    ">>\nHB:AVR\nMB:<browseflag>BrowseDirectChildren</browseflag><RequestCount>100</RequestCount>\nNA:AVR 100\n"  // 12
    ">>\n";

std::string request(const std::string &agent, const std::string &line = "GET /content/1.mp3 HTTP/1.1") {
  return line + "\r\nHost: 10.0.0.1:9000\r\nUser-Agent: " + agent + "\r\n\r\n";
}

const char *kUrl = "http://10.0.0.1:9000/";

}  // namespace

class RecognizeTest : public ClientDbTest {
 protected:
  void SetUp() override {
    ClientDbTest::SetUp();
    ASSERT_EQ(load(kDb), 13);
  }
  uint32_t header_type(const std::string &header, int *fixation = nullptr) {
    uint32_t type = 999;
    int fix = -1;
    if (!upnp_client_db_check_header(header.c_str(), &type, &fix, nullptr, nullptr, nullptr)) return 999;
    if (fixation != nullptr) *fixation = fix;
    return type;
  }
};

TEST_F(RecognizeTest, HeaderMarkIgnoresCaseSecondMarkDoesNot) {
  EXPECT_EQ(header_type(request("MEDIABOX player")), 3u);
  EXPECT_EQ(header_type(request("ExactCase/1")), 5u);
  EXPECT_EQ(header_type(request("exactcase/1")), 999u);
  // "H2:" is used only when there is no "HH:".
  EXPECT_EQ(header_type(request("ignoredBecauseHH")), 999u);
}

TEST_F(RecognizeTest, LaterUnfixedMatchWinsAFixedOneWinsAtOnce) {
  // Both 3 ("MediaBox") and 4 ("mediabox/2") occur: the later one is kept.
  int fixation = -1;
  EXPECT_EQ(header_type(request("MediaBox/2.0"), &fixation), 4u);
  EXPECT_EQ(fixation, 0);
  // 2 occurs too but comes earlier.
  EXPECT_EQ(header_type(request("DLNADOC/1.50 MediaBox/1")), 3u);
  // A fixed type wins even against a later unfixed one.
  EXPECT_EQ(header_type(request("Pinned MediaBox/2"), &fixation), 6u);
  EXPECT_EQ(fixation, 1);
  EXPECT_EQ(header_type(request("Sticky Pinned"), &fixation), 6u);
  EXPECT_EQ(header_type(request("Sticky"), &fixation), 7u);
  EXPECT_EQ(fixation, 2);
}

TEST_F(RecognizeTest, MatchOnlyInSlotZeroIsNotFound) {
  EXPECT_EQ(header_type(request("ReservedMark")), 999u);
  uint32_t type = 42;
  EXPECT_FALSE(upnp_client_db_check_header(request("ReservedMark").c_str(), &type, nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(type, 42u);
}

TEST_F(RecognizeTest, HeaderRecognitionHandsOutMarksAndName) {
  uint32_t type = 0;
  int fixation = -1;
  char *first = nullptr, *second = nullptr, *name = nullptr;
  ASSERT_TRUE(upnp_client_db_check_header(request("Sticky").c_str(), &type, &fixation, &first, &second, &name));
  EXPECT_EQ(take(first), "Sticky");
  EXPECT_EQ(take(second), "StickyModel");
  EXPECT_EQ(take(name), "Sticky");
  ASSERT_TRUE(upnp_client_db_check_header(request("ExactCase").c_str(), &type, &fixation, &first, &second, &name));
  EXPECT_EQ(take(first), "ExactCase");
  EXPECT_EQ(take(second), "ExactCase");
  EXPECT_EQ(take(name), "Exact");
}

TEST_F(RecognizeTest, OwnRequestsAndMissingInputAreNobodys) {
  EXPECT_EQ(upnp_client_db_add_by_ip(kUrl, "10.0.0.1", request("MediaBox", "GET /rpc/x HTTP/1.1").c_str()), 0u);
  EXPECT_EQ(upnp_client_db_add_by_ip(kUrl, "10.0.0.1", "M-SEARCH * HTTP/1.1\r\n\r\n"), 0u);
  EXPECT_EQ(upnp_client_db_add_by_ip(kUrl, "", request("MediaBox").c_str()), 0u);
  EXPECT_EQ(upnp_client_db_add_by_ip(kUrl, "10.0.0.5", ""), 0u);
  EXPECT_EQ(upnp_client_db_add_by_ip(nullptr, "10.0.0.5", request("MediaBox").c_str()), 0u);
  // Another client may ask for those paths.
  EXPECT_EQ(upnp_client_db_add_by_ip(kUrl, "10.0.0.5", request("MediaBox", "GET /rpc/x HTTP/1.1").c_str()), 3u);
}

TEST_F(RecognizeTest, WithoutMacTheHeaderDecidesOrTheFallback) {
  EXPECT_EQ(upnp_client_db_add_by_ip(kUrl, "10.0.0.7", request("MediaBox").c_str()), 3u);
  EXPECT_EQ(upnp_client_db_add_by_ip(kUrl, "10.0.0.7", request("unknown").c_str()), 1u);
  EXPECT_EQ(take(upnp_get_connected_client_list()), "<none>");
}

TEST_F(RecognizeTest, NewClientGetsARecordAndUnknownOnesTheGenericType) {
  cdbtest::mac_table()["10.0.0.8"] = "00:11:22:33:44:55";
  cdbtest::mac_table()["10.0.0.9"] = "00:11:22:33:44:66";
  upnp_client_db_add_view("Music");
  EXPECT_EQ(upnp_client_db_add_by_ip(kUrl, "10.0.0.8", request("MediaBox").c_str()), 3u);
  EXPECT_EQ(upnp_client_db_add_by_ip(kUrl, "10.0.0.9", request("nothing known").c_str()), 2u);
  const std::string list = take(upnp_get_connected_client_list());
  EXPECT_EQ(list,
            "2\n00:11:22:33:44:66\n10.0.0.9\n\n1\nDLNA client\n\n\n\n0\n##########\n"
            "3\n00:11:22:33:44:55\n10.0.0.8\n\n1\nBox A\n\n\nMusic\n1\n##########\n");
  EXPECT_EQ(take(upnp_client_db_get_updated_view(3)), "Music");
  EXPECT_EQ(take(upnp_client_get_friendlyname(2)), "DLNA client");
}

TEST_F(RecognizeTest, UnfixedRecordFollowsTheHeader) {
  cdbtest::mac_table()["10.0.0.8"] = "00:11:22:33:44:55";
  EXPECT_EQ(upnp_client_db_add_by_ip(kUrl, "10.0.0.8", request("MediaBox").c_str()), 3u);
  EXPECT_EQ(upnp_client_db_add_by_ip(kUrl, "10.0.0.8", request("ExactCase").c_str()), 5u);
  // A header that recognises nothing keeps the record's type.
  EXPECT_EQ(upnp_client_db_add_by_ip(kUrl, "10.0.0.8", request("plain").c_str()), 5u);
  const std::string list = take(upnp_get_connected_client_list());
  EXPECT_EQ(list.find("Box A"), std::string::npos);
  EXPECT_NE(list.find("Exact"), std::string::npos);
}

TEST_F(RecognizeTest, FixationOneKeepsTheTypeWhateverTheHeader) {
  cdbtest::mac_table()["10.0.0.8"] = "00:11:22:33:44:55";
  EXPECT_EQ(upnp_client_db_add_by_ip(kUrl, "10.0.0.8", request("Pinned").c_str()), 6u);
  EXPECT_EQ(upnp_client_db_add_by_ip(kUrl, "10.0.0.8", request("MediaBox").c_str()), 6u);
  EXPECT_EQ(upnp_client_db_add_by_ip(kUrl, "10.0.0.8", request("Sticky").c_str()), 6u);
}

TEST_F(RecognizeTest, FixationTwoHoldsOnlyWhileAMarkAppears) {
  cdbtest::mac_table()["10.0.0.8"] = "00:11:22:33:44:55";
  EXPECT_EQ(upnp_client_db_add_by_ip(kUrl, "10.0.0.8", request("Sticky").c_str()), 7u);
  // The marks are compared case-sensitively for the record.
  EXPECT_EQ(upnp_client_db_add_by_ip(kUrl, "10.0.0.8", request("x StickyModel MediaBox").c_str()), 7u);
  // No mark: an unfixed recognition does not move a fixation-2 record ...
  EXPECT_EQ(upnp_client_db_add_by_ip(kUrl, "10.0.0.8", request("MediaBox").c_str()), 7u);
  // ... a fixed one does.
  EXPECT_EQ(upnp_client_db_add_by_ip(kUrl, "10.0.0.8", request("Pinned").c_str()), 6u);
  EXPECT_EQ(upnp_client_db_add_by_ip(kUrl, "10.0.0.8", request("Sticky").c_str()), 6u);
}

TEST_F(RecognizeTest, AfterRestartAClientIsFoundByMacThenByAddress) {
  upnp_client_db_set_autoenable(0);
  cdbtest::mac_table()["10.0.0.8"] = "00:11:22:33:44:55";
  EXPECT_EQ(upnp_client_db_add_by_ip(kUrl, "10.0.0.8", request("Pinned").c_str()), 6u);
  upnp_client_db_exit();
  ASSERT_EQ(load(kDb), 13);
  // The device now has another address; its MAC finds the record.
  cdbtest::mac_table().clear();
  cdbtest::mac_table()["10.0.0.20"] = "00:11:22:33:44:55";
  EXPECT_EQ(upnp_client_db_add_by_ip(kUrl, "10.0.0.20", request("MediaBox").c_str()), 6u);
  const std::string list = take(upnp_get_connected_client_list());
  EXPECT_NE(list.find("10.0.0.20"), std::string::npos);
  EXPECT_EQ(list.find("10.0.0.8\n"), std::string::npos);
  // Now active: found by address even without a MAC lookup.
  cdbtest::mac_table().clear();
  EXPECT_EQ(upnp_client_db_add_by_ip(kUrl, "10.0.0.20", request("MediaBox").c_str()), 6u);
}

TEST_F(RecognizeTest, DescriptionMarksAllMustOccurAndTheFirstMatchWins) {
  uint32_t type = 999;
  int fixation = -1;
  char *first = nullptr, *second = nullptr;
  const std::string full = "<root><modelName>Frame</modelName><manufacturer>FW</manufacturer><v>3</v></root>";
  ASSERT_TRUE(upnp_client_db_match_description(full.c_str(), &type, &fixation, &first, &second));
  EXPECT_EQ(type, 9u);
  EXPECT_EQ(fixation, 0);
  EXPECT_EQ(take(first), "FrameUA");
  EXPECT_EQ(take(second), "<none>");
  // Without D3 the first entry fails; the second one (only DD) matches.
  ASSERT_TRUE(upnp_client_db_match_description("<modelName>Frame</modelName><manufacturer>FW</manufacturer>", &type,
                                               &fixation, &first, &second));
  EXPECT_EQ(type, 10u);
  EXPECT_EQ(fixation, 2);
  EXPECT_EQ(take(first), "<none>");
  EXPECT_EQ(take(second), "FrameModel");
  type = 999;
  EXPECT_FALSE(upnp_client_db_match_description("<modelName>Other</modelName>", &type, &fixation, &first, &second));
  EXPECT_EQ(type, 999u);
}

TEST_F(RecognizeTest, SsdpAnnouncementRecordsTheDeviceOnce) {
  static int fetches = 0;
  fetches = 0;
  g_cdb_fetch = [](const char *url) -> char * {
    ++fetches;
    if (std::string(url) != "http://10.0.0.30:49152/desc.xml") return nullptr;
    return upnp_strdup_impl(
        "<?xml version=\"1.0\"?><root><device><friendlyName>Kitchen frame</friendlyName>"
        "<modelName>Frame</modelName><iconList><icon><mimetype>image/png</mimetype><url>/i.png</url></icon>"
        "<icon><mimetype>image/jpeg</mimetype><url>/i.jpg</url></icon></iconList></device></root>");
  };
  cdbtest::mac_table()["10.0.0.30"] = "AA:BB:CC:DD:EE:01";
  const char *alive =
      "NOTIFY * HTTP/1.1\r\nLOCATION: http://10.0.0.30:49152/desc.xml\r\nNT: upnp:rootdevice\r\n"
      "USN: uuid:12345678-aaaa-bbbb-cccc-000000000001::upnp:rootdevice\r\n\r\n";
  upnp_client_db_check_client(alive);
  upnp_client_db_check_client(alive);
  EXPECT_EQ(fetches, 1);
  EXPECT_EQ(take(upnp_get_connected_client_list()),
            "10\nAA:BB:CC:DD:EE:01\n10.0.0.30\nuuid:12345678-aaaa-bbbb-cccc-000000000001\n1\nKitchen frame\n/i.png\n"
            "image/png\n\n0\n##########\n");
  // Remote-UI devices and announcements without USN are left alone.
  upnp_client_db_check_client("LOCATION: http://10.0.0.30:1/x\r\nUSN: uuid:RemoteUI-Client-Embedded-Device-1\r\n");
  upnp_client_db_check_client("LOCATION: http://10.0.0.31:1/x\r\n");
  EXPECT_EQ(fetches, 1);
  g_cdb_fetch = HTTP_get;
}

TEST_F(RecognizeTest, BrowseParametersRecogniseAndFixTheClient) {
  cdbtest::mac_table()["10.0.0.8"] = "00:11:22:33:44:55";
  EXPECT_EQ(upnp_client_db_add_by_ip(kUrl, "10.0.0.8", request("AVR").c_str()), 2u);
  uint32_t type = 999;
  const std::string header = request("avr-unit");
  // RequestCount 100 fails the first entry; tags of the second are found ignoring case.
  ASSERT_TRUE(upnp_client_db_match_by_browse("browsedirectchildren", "0", "*", "0", "100", nullptr, &type,
                                             "10.0.0.8", header.c_str()));
  EXPECT_EQ(type, 12u);
  EXPECT_EQ(upnp_client_db_add_by_ip(kUrl, "10.0.0.8", request("MediaBox").c_str()), 12u);
  ASSERT_TRUE(upnp_client_db_match_by_browse("BrowseDirectChildren", nullptr, nullptr, nullptr, "50", nullptr, &type,
                                             nullptr, header.c_str()));
  EXPECT_EQ(type, 11u);
  type = 999;
  EXPECT_FALSE(upnp_client_db_match_by_browse("BrowseMetadata", nullptr, nullptr, nullptr, nullptr, nullptr, &type,
                                              nullptr, header.c_str()));
  EXPECT_FALSE(upnp_client_db_match_by_browse("BrowseDirectChildren", nullptr, nullptr, nullptr, "50", nullptr, &type,
                                              nullptr, request("other").c_str()));
  EXPECT_EQ(type, 999u);
}
