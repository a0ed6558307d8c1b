// "clients.data" written and read back, its limits and damaged files, and
// the administration calls that change the known-clients list.
#include <string>

#include "clientdb_test_util.h"

using cdbtest::read_file;
using cdbtest::take;
using cdbtest::write_file;

namespace {

const char *kDb = ">>\n>>\nNA:Fallback\n>>\nHH:DLNADOC/1.50\nNA:DLNA\n>>\nHH:Box\nH2:BoxModel\nNA:Box\nDV:Music\n>>\n";

std::string field(const std::string &text) {
  char length[8];
  snprintf(length, sizeof length, "%03zu", text.size());
  return length + text + "\n";
}

std::string record(const std::string &name, const std::string &mac, const std::string &ip, int type, int enabled,
                   int fixation, const std::string &view = "") {
  char number[16];
  std::string r = field(name) + field(mac) + field(ip) + field("uuid:x") + field("Box") + field("") +
                  field("/icon.png") + field("image/png");
  snprintf(number, sizeof number, "%03d", type);
  r += field(number);
  snprintf(number, sizeof number, "%01d", enabled);
  r += field(number);
  snprintf(number, sizeof number, "%03d", fixation);
  r += field(number);
  return r + field(view) + field("0");
}

}  // namespace

class DataTest : public ClientDbTest {
 protected:
  void SetUp() override {
    ClientDbTest::SetUp();
    ASSERT_EQ(load(kDb), 4);
  }
  void restart() {
    upnp_client_db_exit();
    ASSERT_EQ(load(kDb), 4);
  }
};

TEST_F(DataTest, WrittenFileReadsBackIdentically) {
  upnp_client_db_set_autoenable(0);
  cdbtest::mac_table()["10.0.0.8"] = "00:11:22:33:44:55";
  cdbtest::mac_table()["10.0.0.9"] = "00:11:22:33:44:66";
  upnp_client_db_add_view("Music");
  ASSERT_EQ(upnp_client_db_add_by_ip("http://10.0.0.1/", "10.0.0.8", "GET / HTTP/1.1\r\nUser-Agent: Box\r\n"), 3u);
  ASSERT_EQ(upnp_client_db_add_by_ip("http://10.0.0.1/", "10.0.0.9", "GET / HTTP/1.1\r\nX: y\r\n"), 2u);
  const std::string first = read_file(data_path());
  ASSERT_FALSE(first.empty());
  // The newest record comes first.
  EXPECT_EQ(first.substr(0, 8), "004DLNA\n");
  const std::string list = take(upnp_get_connected_client_list());
  restart();
  // Same records, same order, same listing (apart from the activity flag).
  EXPECT_EQ(take(upnp_get_connected_client_list()), list);
  // Writing the loaded list gives the same bytes.
  client_table_write();
  EXPECT_EQ(read_file(data_path()), first);
}

TEST_F(DataTest, FieldFormatIsExact) {
  upnp_client_db_set_autoenable(0);
  take(upnp_client_add("aa:bb:cc:dd:ee:ff", 3, 1, nullptr));
  EXPECT_EQ(read_file(data_path()), field("Box") + field("AA:BB:CC:DD:EE:FF") + field("") + field("") + field("Box") +
                                        field("BoxModel") + field("") + field("") + field("003") + field("1") +
                                        field("001") + field("") + field("1"));
}

TEST_F(DataTest, FileRecordsKeepTheirOrder) {
  write_file(data_path(), record("one", "00:00:00:00:00:01", "10.0.0.1", 3, 1, 1) +
                              record("two", "00:00:00:00:00:02", "10.0.0.2", 2, 0, 0, "Videos"));
  restart();
  const std::string list = take(upnp_get_connected_client_list());
  EXPECT_LT(list.find("one"), list.find("two"));
  EXPECT_FALSE(upnp_client_db_access_allowed("10.0.0.2"));
  EXPECT_TRUE(upnp_client_db_access_allowed("10.0.0.1"));
  EXPECT_EQ(take(upnp_client_db_get_updated_view(2)), "Videos");
}

TEST_F(DataTest, DamagedFilesKeepOnlyCompleteRecords) {
  const std::string good = record("one", "00:00:00:00:00:01", "10.0.0.1", 3, 1, 1);
  const std::string cases[] = {good + good.substr(0, 40), good + "-01abc\n", good + "0x5", good + "999short",
                               good + std::string("\0\0\0", 3), good + record("two", "m", "i", 1, 1, 1).substr(1)};
  for (const std::string &c : cases) {
    write_file(data_path(), c);
    restart();
    const std::string list = take(upnp_get_connected_client_list());
    EXPECT_NE(list.find("one"), std::string::npos);
    EXPECT_EQ(list.find("two"), std::string::npos);
    EXPECT_EQ(list.find("##########", list.find("##########") + 1), std::string::npos) << "one record only";
  }
  write_file(data_path(), "garbage");
  restart();
  EXPECT_EQ(take(upnp_get_connected_client_list()), "<none>");
}

TEST_F(DataTest, AtMost100RecordsAreWritten) {
  upnp_client_db_set_autoenable(0);
  for (int i = 0; i < 120; ++i) {
    char mac[18];
    snprintf(mac, sizeof mac, "00:00:00:00:%02X:%02X", i / 256, i % 256);
    take(upnp_client_add(mac, 3, 1, nullptr));
  }
  restart();
  const std::string list = take(upnp_get_connected_client_list());
  size_t records = 0;
  for (size_t at = list.find("##########"); at != std::string::npos; at = list.find("##########", at + 1)) ++records;
  EXPECT_EQ(records, 100u);
  // The most recent ones are kept.
  EXPECT_NE(list.find("00:00:00:00:00:77"), std::string::npos);
  EXPECT_EQ(list.find("00:00:00:00:00:13\n"), std::string::npos);
}

TEST_F(DataTest, AutoEnableSkipsAutomaticRecordsWithoutAViewOfTheirOwn) {
  upnp_client_db_set_autoenable(1);
  upnp_client_db_set_defaultview("Folders");
  cdbtest::mac_table()["10.0.0.8"] = "00:11:22:33:44:55";
  cdbtest::mac_table()["10.0.0.9"] = "00:11:22:33:44:66";
  upnp_client_db_add_view("Music");
  upnp_client_db_add_by_ip("http://10.0.0.1/", "10.0.0.8", "GET / HTTP/1.1\r\nUser-Agent: Box\r\n");  // view Music
  upnp_client_db_add_by_ip("http://10.0.0.1/", "10.0.0.9", "GET / HTTP/1.1\r\nX: y\r\n");  // no view
  take(upnp_client_add("00:00:00:00:00:01", 2, 1, nullptr));  // fixed
  const std::string data = read_file(data_path());
  EXPECT_NE(data.find("00:11:22:33:44:55"), std::string::npos);
  EXPECT_EQ(data.find("00:11:22:33:44:66"), std::string::npos);
  EXPECT_NE(data.find("00:00:00:00:00:01"), std::string::npos);
  // The same records are all kept with auto-enable off.
  upnp_client_db_set_autoenable(0);
  take(upnp_client_delete("00:00:00:00:00:01"));
  EXPECT_NE(read_file(data_path()).find("00:11:22:33:44:66"), std::string::npos);
}

TEST_F(DataTest, LongTextsAreCutToTheFieldLimit) {
  upnp_client_db_set_autoenable(0);
  take(upnp_client_add("00:00:00:00:00:01", 3, 1, std::string(1500, 'v').c_str()));
  take(upnp_client_add("00:00:00:00:00:01", 3, 1, std::string(1500, 'v').c_str()));
  restart();
  EXPECT_EQ(take(upnp_client_db_get_updated_view(3)), std::string(999, 'v'));
}

TEST_F(DataTest, ClientAddChecksTheMacAndUpdatesOnlyWhatChanged) {
  EXPECT_EQ(take(upnp_client_add("00:11:22:33:44:GG", 3, 1, nullptr)), "invalid MAC address");
  EXPECT_EQ(take(upnp_client_add("00:11:22:33:44:55:", 3, 1, nullptr)), "invalid MAC address");
  EXPECT_EQ(take(upnp_client_add("00-11-22-33-44-55", 3, 1, nullptr)), "invalid MAC address");
  EXPECT_EQ(take(upnp_client_add(nullptr, 3, 1, nullptr)), "invalid MAC address");
  EXPECT_FALSE(std::filesystem::exists(data_path()));
  upnp_client_db_set_autoenable(0);
  upnp_client_db_set_defaultview("Folders");
  EXPECT_EQ(take(upnp_client_add("0a:0b:0c:0d:0e:0f", 3, 0, nullptr)),
            "3\n0A:0B:0C:0D:0E:0F\n\n\n0\nBox\n\n\nFolders\n1\n##########\n");
  EXPECT_FALSE(upnp_client_db_access_allowed(nullptr));
  // A view equal to the default view is stored as none.
  EXPECT_EQ(take(upnp_client_add("0A:0B:0C:0D:0E:0F", 3, 0, "Videos")),
            "3\n0A:0B:0C:0D:0E:0F\n\n\n0\nBox\n\n\nVideos\n1\n##########\n");
  take(upnp_client_add("0A:0B:0C:0D:0E:0F", 3, 0, "Folders"));
  EXPECT_EQ(take(upnp_client_db_get_updated_view(3)), "<none>");
  // A new type takes the type's marks and name, fixed.
  EXPECT_EQ(take(upnp_client_add("0A:0B:0C:0D:0E:0F", 2, 1, nullptr)),
            "2\n0A:0B:0C:0D:0E:0F\n\n\n1\nDLNA\n\n\nFolders\n0\n##########\n");
  EXPECT_EQ(take(upnp_client_delete("0A:0B:0C:0D:0E:0F")), "deleted!");
  EXPECT_EQ(take(upnp_client_delete("0A:0B:0C:0D:0E:0F")), "not found!");
}

TEST_F(DataTest, AccessAndEnableByField) {
  upnp_client_db_set_autoenable(0);
  EXPECT_FALSE(upnp_client_db_access_allowed(nullptr));
  EXPECT_FALSE(upnp_client_db_access_allowed("10.0.0.8"));
  cdbtest::mac_table()["10.0.0.8"] = "00:11:22:33:44:55";
  upnp_client_db_add_by_ip("http://10.0.0.1/", "10.0.0.8", "GET / HTTP/1.1\r\nUser-Agent: Box\r\n");
  EXPECT_FALSE(upnp_client_db_access_allowed("10.0.0.8"));
  EXPECT_EQ(take(upnp_client_enable_by_ip("10.0.0.8", 1)).substr(0, 2), "3\n");
  EXPECT_TRUE(upnp_client_db_access_allowed("10.0.0.8"));
  // Nothing changed: no listing.
  EXPECT_EQ(take(upnp_client_enable_by_mac("00:11:22:33:44:55", 1)), "<none>");
  EXPECT_EQ(take(upnp_client_enable_by_friendlyname("Bo", 0)), "<none>");
  EXPECT_NE(take(upnp_client_enable_by_friendlyname("Box", 0)), "<none>");
  EXPECT_FALSE(upnp_client_db_access_allowed("10.0.0.8"));
  EXPECT_EQ(take(upnp_client_enable_by_udn("uuid:none", 1)), "<none>");
  upnp_client_db_set_autoenable(1);
  EXPECT_TRUE(upnp_client_db_access_allowed("10.0.0.99"));
  EXPECT_FALSE(upnp_client_db_access_allowed("10.0.0.8"));
}

TEST_F(DataTest, RtpClientQuestionAndClearOnRestart) {
  EXPECT_FALSE(upnp_client_db_have_netgear_rtp_client());
  write_file(data_path(), record("rtp", "00:00:00:00:00:19", "10.0.0.19", 19, 1, 1));
  restart();
  EXPECT_TRUE(upnp_client_db_have_netgear_rtp_client());
  upnp_ini_file_setPropertyByKey(INI_CLEARCLIENTSONRESTART, "1");
  restart();
  EXPECT_FALSE(upnp_client_db_have_netgear_rtp_client());
  EXPECT_FALSE(std::filesystem::exists(data_path()));
}
