// Reading "clients.db": both passes, the limits, keyword values, option
// tests, valued lookups and the special MIME types; and the shipped file.
#include <string>

#include <memory>

#include "clientdb_test_util.h"
#include "http/http_mime.h"
#include "http/http_server.h"

using cdbtest::take;

namespace {

std::string entries(int count) {
  std::string text = "# many entries\n";
  for (int i = 0; i < count; ++i) text += ">>\nNA:type" + std::to_string(i) + "\n";
  return text + ">>\n";
}

}  // namespace

TEST_F(ClientDbTest, EntriesBetweenMarkersFillSlotsInOrderAndTheTailIsNoEntry) {
  EXPECT_EQ(load("head\n>>\nNA:zero\n>>\nNA:one\nAV:M\n>>\nNA:two\n>>\nNA:tail without end marker\n"), 3);
  char buf[64];
  ASSERT_TRUE(upnp_client_db_getKeyword(0, "NA:", buf, sizeof buf));
  EXPECT_STREQ(buf, "zero");
  ASSERT_TRUE(upnp_client_db_getKeyword(2, "NA:", buf, sizeof buf));
  EXPECT_STREQ(buf, "two");
  EXPECT_FALSE(upnp_client_db_getKeyword(3, "NA:", buf, sizeof buf));
  EXPECT_STREQ(buf, "");
  EXPECT_TRUE(upnp_client_db_is_musicclient(1));
  EXPECT_FALSE(upnp_client_db_is_musicclient(0));
  // The description's last character (its line feed) is dropped.
  EXPECT_EQ(std::string(g_clientDescription[1]), ">>\nNA:one\nAV:M");
  EXPECT_EQ(take(upnp_client_db_get_table()), "000,zero,001,one,002,two");
}

TEST_F(ClientDbTest, TooManyEntriesKeepTheFirst199AndTheProcessRuns) {
  // A critical message would end the process without an exit function;
  // none is registered here, so the test itself proves the process lives.
  EXPECT_EQ(load(entries(250)), 199);
  char buf[32];
  ASSERT_TRUE(upnp_client_db_getKeyword(198, "NA:", buf, sizeof buf));
  EXPECT_STREQ(buf, "type198");
  EXPECT_FALSE(upnp_client_db_getKeyword(199, "NA:", buf, sizeof buf));
  EXPECT_FALSE(upnp_client_db_supports_option(200, "NA:"));
}

TEST_F(ClientDbTest, ExactlyAFullTableLoadsEverything) {
  EXPECT_EQ(load(entries(199)), 199);
  EXPECT_EQ(upnp_client_db_type_count(), 199);
}

TEST_F(ClientDbTest, TruncatedOrMalformedFilesLoadWhatIsComplete) {
  const char *texts[] = {"", ">", ">>", ">>>", ">>>>", ">>\n", "MT:", "MT:mp3", "MT:mp3 ", "MT:,,, ,",
                         ">>\nHH:", ">>\nNA:a\n>>", ">>\nXM:AASCALE", ">>\nXM:DLNA\n>>\n", ">>MT:a, b\n>>\n"};
  for (const char *t : texts) {
    upnp_client_db_exit();
    load(t);
    for (uint32_t type = 0; type < 3; ++type) {
      take(upnp_client_db_albumart_scaling(type));
      take(upnp_client_db_get_description_file(type));
      upnp_client_db_DLNA_version(type);
      upnp_client_db_needs_special_mime_type(type, "b");
    }
  }
  upnp_client_db_exit();
  EXPECT_EQ(load(">>\nNA:a\n>>\n"), 1);
  // The last byte is cut off: a closing marker without its line feed is lost.
  upnp_client_db_exit();
  EXPECT_EQ(load(">>\nNA:a\n>>"), 0);
  upnp_client_db_exit();
  EXPECT_EQ(load(">>\nNA:a\n>>\nNA:b\n>>"), 1);
}

TEST_F(ClientDbTest, KeywordValuesAreCaseSensitiveAndEndAtControlAndHighBytes) {
  load(">>\nhh:lower\nHH:Upper Value\tafter tab\nNA:caf\xc3\xa9 bar\nDV:\n>>\n");
  char buf[64];
  ASSERT_TRUE(upnp_client_db_getKeyword(0, "HH:", buf, sizeof buf));
  EXPECT_STREQ(buf, "Upper Value");
  ASSERT_TRUE(upnp_client_db_getKeyword(0, "NA:", buf, sizeof buf));
  EXPECT_STREQ(buf, "caf");
  // An empty value is not a value.
  EXPECT_FALSE(upnp_client_db_getKeyword(0, "DV:", buf, sizeof buf));
  // Cut to the buffer.
  char small[4];
  ASSERT_TRUE(upnp_client_db_getKeyword(0, "HH:", small, sizeof small));
  EXPECT_STREQ(small, "Upp");
}

TEST_F(ClientDbTest, KeywordReadDuringShutdownYieldsOneCharacter) {
  load(">>\nHH:Upper Value\n>>\n");
  upnp_server_set_state(UPNP_SERVER_STOPPED);
  char buf[64];
  EXPECT_TRUE(upnp_client_db_getKeyword(0, "HH:", buf, sizeof buf));
  EXPECT_STREQ(buf, "U");
  upnp_server_set_state(UPNP_SERVER_RUNNING);
  EXPECT_TRUE(upnp_client_db_getKeyword(0, "HH:", buf, sizeof buf));
  EXPECT_STREQ(buf, "Upper Value");
}

TEST_F(ClientDbTest, OptionTestIsAPlainSubstringTest) {
  load(">>\nDB:FIXPC\nHP:chunkedX\n>>\nhp:CHUNKED\n>>\n");
  EXPECT_TRUE(upnp_client_db_supports_option(0, "DB:FIX"));
  EXPECT_TRUE(upnp_client_db_supports_chunked(0));
  EXPECT_FALSE(upnp_client_db_supports_chunked(1));
  EXPECT_FALSE(upnp_client_db_supports_option(1, "DB:FIX"));
  // Empty slots and numbers beyond the table.
  EXPECT_FALSE(upnp_client_db_supports_option(150, ">>"));
  EXPECT_FALSE(upnp_client_db_supports_option(100000, ">>"));
}

TEST_F(ClientDbTest, ValuedLookups) {
  load(">>\nXM:DLNA10\nXM:MAX=1234x\nTP:maxitems,300\r\nTP:other,1\nTR:MPEG_PS, AVC  \t\nFR:JPEG_TN\n"
       "XM:AASCALE=160x160,JPEG_TN#rest\nDF:desc.xml\nWB:mobile view\nDV:Music\n>>\n"
       "XM:DLNA15\n>>\nXM:DLNANO\nXM:moov_not_supported\n>>\nXM:DLNA2\nXM:MAX=99999999999999\n>>\n");
  EXPECT_EQ(upnp_client_db_DLNA_version(0), 10);
  EXPECT_EQ(upnp_client_db_DLNA_version(1), 15);
  EXPECT_EQ(upnp_client_db_DLNA_version(2), -1);
  EXPECT_EQ(upnp_client_db_DLNA_version(3), 0);
  EXPECT_EQ(upnp_client_db_DLNA_version(4), 0);
  EXPECT_EQ(upnp_client_db_DLNA_version(500), 0);
  EXPECT_EQ(upnp_client_db_get_value(0, "XM:MAX="), 1234);
  EXPECT_EQ(upnp_client_db_get_value(1, "XM:MAX="), 0);
  EXPECT_EQ(upnp_client_db_get_value(3, "XM:MAX="), 2147483647);
  EXPECT_EQ(take(upnp_client_db_get_extra_params(0, "maxitems")), "300");
  EXPECT_EQ(take(upnp_client_db_get_extra_params(0, "other")), "1");
  EXPECT_EQ(take(upnp_client_db_get_extra_params(0, "none")), "<none>");
  EXPECT_EQ(take(upnp_client_db_get_supported_transcoding_profiles(0)), "MPEG_PS, AVC");
  EXPECT_EQ(take(upnp_client_db_get_fake_res_profiles(0)), "JPEG_TN");
  EXPECT_EQ(take(upnp_client_db_albumart_scaling(0)), "160x160,JPEG_TN");
  EXPECT_EQ(take(upnp_client_db_get_description_file(0)), "desc.xml");
  EXPECT_EQ(take(upnp_client_db_get_webbrowse(0)), "mobile view");
  EXPECT_EQ(take(upnp_client_db_get_default_view(0)), "Music");
  EXPECT_EQ(take(upnp_client_db_get_default_view(1)), "<none>");
  EXPECT_TRUE(upnp_client_db_supports_moov_at_the_end(0));
  EXPECT_FALSE(upnp_client_db_supports_moov_at_the_end(2));
}

TEST_F(ClientDbTest, AlbumArtScalingIsLimitedTo63Characters) {
  load(">>\nXM:AASCALE=" + std::string(100, 'x') + "\n>>\n");
  EXPECT_EQ(take(upnp_client_db_albumart_scaling(0)), std::string(63, 'x'));
}

TEST_F(ClientDbTest, DefaultViewCountsOnlyWhenItIsAConfiguredView) {
  load(">>\nDV:Music\n>>\nDV:Mus\n>>\n");
  EXPECT_EQ(take(upnp_client_db_dv(0)), "<none>");
  upnp_client_db_add_view("Folders");
  upnp_client_db_add_view("Music");
  EXPECT_EQ(take(upnp_client_db_dv(0)), "Music");
  // Only whole view names count.
  EXPECT_EQ(take(upnp_client_db_dv(1)), "<none>");
}

TEST_F(ClientDbTest, MimeTableFromAllListsWithDedupe) {
  load("MT:mp4,m4v video/mp4\n>>\nMT:mkv video/x-matroska\nMT:MP4 video/mp4\n>>\nMT:mp4,m4v video/mp4\n>>\n");
  int filled = 0;
  for (int i = 0; i < UPNP_CLIENT_DB_MIME_SLOTS; ++i) filled += g_strMimeTable[i] != nullptr;
  // mp4, m4v, mkv, MP4: the repeated list adds nothing.
  EXPECT_EQ(filled, 4);
  EXPECT_STREQ(upnp_client_db_special_mime_type_get_extension("video/mp4"), "mp4");
  EXPECT_STREQ(upnp_client_db_special_mime_type_get_extension("video/x-matroska"), "mkv");
  EXPECT_EQ(upnp_client_db_special_mime_type_get_extension("video/mp"), nullptr);
  EXPECT_STREQ(upnp_client_db_get_from_mime_type_table("video/x-matroska; extra"), "video/x-matroska");
  // Per type: the extension must stand as a list item, any case.
  EXPECT_STREQ(upnp_client_db_needs_special_mime_type(1, "M4V"), "video/mp4");
  EXPECT_STREQ(upnp_client_db_needs_special_mime_type(0, "mkv"), "video/x-matroska");
  EXPECT_STREQ(upnp_client_db_needs_special_mime_type(0, "mp4"), "video/mp4");
  EXPECT_EQ(upnp_client_db_needs_special_mime_type(0, "mk"), nullptr);
  EXPECT_EQ(upnp_client_db_needs_special_mime_type(0, "m4v"), nullptr);
  EXPECT_EQ(upnp_client_db_needs_special_mime_type(1, "mkv"), nullptr);
}

TEST_F(ClientDbTest, MimeTableCutsTextsAndDropsPairsBeyond100Slots) {
  EXPECT_EQ(load(""), 0);
  const std::string long_type = "type/" + std::string(100, 'a');
  EXPECT_EQ(upnp_client_db_add_mime_table("abcdefghijkl", long_type.c_str()), 1);
  EXPECT_STREQ(g_strExtTable[0], "abcdefghi");
  EXPECT_EQ(strlen(g_strMimeTable[0]), 63u);
  EXPECT_EQ(upnp_client_db_add_mime_table("a,b", "x/y z"), 1);
  EXPECT_STREQ(g_strExtTable[1], "a");
  EXPECT_STREQ(g_strMimeTable[1], "x/y");
  EXPECT_EQ(upnp_client_db_add_mime_table("a", "x/y"), 0);
  for (int i = 2; i < UPNP_CLIENT_DB_MIME_SLOTS; ++i) {
    EXPECT_EQ(upnp_client_db_add_mime_table(("e" + std::to_string(i)).c_str(), "m/t"), 1);
  }
  EXPECT_EQ(upnp_client_db_add_mime_table("late", "m/t"), 0);
  EXPECT_EQ(upnp_client_db_special_mime_type_get_extension("late"), nullptr);
  EXPECT_STREQ(g_strExtTable[99], "e99");
}

TEST_F(ClientDbTest, QuirkTokensMapToTheirQuestions) {
  struct {
    const char *token;
    int (*query)(uint32_t);
  } flags[] = {{"HP:1.0RESPONSE", upnp_client_db_needs_1_0_response},
               {"DX:REDSONIC", upnp_client_db_redsonic_compliant},
               {"XM:NOBYTES_IN_TIMESEEK_RESPONSE", upnp_client_db_nobytes_in_timeseek_response},
               {"XM:FORCE_4TH_FIELD", upnp_client_db_needs_4th_field},
               {"NA:PSP", upnp_client_db_is_psp},
               {"XM:noutf8", upnp_client_db_no_utf},
               {"ET:NO", upnp_client_db_suppress_events}};
  std::string text;
  for (const auto &f : flags) text += std::string(">>\n") + f.token + "\n";
  load(text + ">>\n");
  for (uint32_t i = 0; i < sizeof flags / sizeof flags[0]; ++i) {
    for (uint32_t j = 0; j < sizeof flags / sizeof flags[0]; ++j) {
      EXPECT_EQ(flags[j].query(i), i == j ? 1 : 0) << flags[j].token << " on type " << i;
    }
  }
}

TEST_F(ClientDbTest, ShippedFileHoldsTheTypeNumbersOthersRelyOn) {
  const int count = load_shipped();
  ASSERT_GT(count, 19);
  uint32_t type = 0;
  int fixation = -1;
  // Slot 0 never answers; type 1 is the named fallback.
  char buf[128];
  EXPECT_FALSE(upnp_client_db_getKeyword(0, "HH:", buf, sizeof buf));
  ASSERT_TRUE(upnp_client_db_getKeyword(1, "NA:", buf, sizeof buf));
  EXPECT_FALSE(upnp_client_db_getKeyword(1, "HH:", buf, sizeof buf));
  // The generic DLNA type.
  ASSERT_TRUE(upnp_client_db_check_header("GET / HTTP/1.1\r\nUser-Agent: x DLNADOC/1.50\r\n", &type, &fixation,
                                          nullptr, nullptr, nullptr));
  EXPECT_EQ(type, 2u);
  ASSERT_TRUE(upnp_client_db_getKeyword(19, "NA:", buf, sizeof buf));
  EXPECT_STREQ(buf, "RTP music player");
  // Every kind of key occurs somewhere.
  const char *keys[] = {"HH:", "H2:", "NA:", "DD:", "D2:", "D3:", "HB:", "MB:", "DB:FIX", "DB:FIXPC", "DV:",
                        "WB:", "DF:", "TR:", "FR:", "TP:", "XM:AASCALE", "MT:", "XM:DLNA10", "XM:DLNA15",
                        "XM:DLNANO"};
  for (const char *k : keys) {
    bool found = false;
    for (int i = 0; i < count && !found; ++i) found = upnp_client_db_supports_option((uint32_t)i, k);
    EXPECT_TRUE(found) << k;
  }
  EXPECT_NE(upnp_client_db_special_mime_type_get_extension("video/x-matroska"), nullptr);
}

TEST_F(ClientDbTest, ShippedFileCarriesEveryQuirkToken) {
  const int count = load_shipped();
  int (*queries[])(uint32_t) = {
      upnp_client_db_is_musicclient, upnp_client_db_supports_chunked, upnp_client_db_allways_close_connection,
      upnp_client_db_wmc_compliant, upnp_client_db_needs_philips_srt_style, upnp_client_db_needs_4_x_style_IDs,
      upnp_client_db_max_didl_255, upnp_client_db_can_not_work_with_embedded_albumart,
      upnp_client_can_not_register_device, upnp_client_db_suppress_events, upnp_client_db_no_utf8_sort,
      upnp_client_db_redsonic_compliant, upnp_client_db_ignore_sort, upnp_client_db_needs_absolute_uris,
      upnp_client_db_needs_content_length_for_live, upnp_client_db_needs_psp_style_content_length,
      upnp_client_db_needs_1_0_response, upnp_client_db_needs_1_0_proxyresponse, upnp_client_db_noproxyurl,
      upnp_client_db_give_roku_search, upnp_client_db_no_utf, upnp_client_db_force_res,
      upnp_client_db_force_videobitrate, upnp_client_db_nobitrate, upnp_client_db_philips_search,
      upnp_client_db_force_mp4_profile, upnp_client_db_add_time_to_date, upnp_client_db_add_albumart_as_res,
      upnp_client_supports_featurelist_soap, upnp_client_db_viera_divxprofile,
      upnp_client_db_give_no_transcoded_pictures, upnp_client_db_allow_unlimited_xml,
      upnp_client_db_exact_protocolinfo, upnp_client_db_restrict_upload_to_known_protocolinfos,
      upnp_client_db_nobytes_in_timeseek_response, upnp_client_db_is_psp, upnp_client_db_supports_icy_data,
      upnp_client_db_needs_duration, upnp_client_db_needs_4th_field, upnp_client_db_no_artist_role_composer,
      upnp_client_db_validated_search_criteria, upnp_client_db_validated_sort, upnp_client_db_no_keyframe_seek,
      upnp_client_db_allow_update};
  int index = 0;
  for (auto q : queries) {
    bool found = false;
    for (int i = 0; i < count && !found; ++i) found = q((uint32_t)i) != 0;
    EXPECT_TRUE(found) << "query " << index;
    EXPECT_FALSE(q(1)) << "the fallback type has no quirks (query " << index << ")";
    ++index;
  }
  bool moov = false;
  for (int i = 0; i < count; ++i) moov = moov || !upnp_client_db_supports_moov_at_the_end((uint32_t)i);
  EXPECT_TRUE(moov);
}

TEST_F(ClientDbTest, MissingClientsDbLeavesEveryQuestionAtItsDefault) {
  register_upnp_resource_get_function(nullptr);
  upnp_set_EXE_Name("/nonexistent/program");
  EXPECT_EQ(upnp_client_db_init(), 0);
  EXPECT_FALSE(upnp_client_db_needs_1_0_response(1));
  uint32_t type = 77;
  EXPECT_FALSE(upnp_client_db_check_header("User-Agent: DLNADOC/1.50\r\n", &type, nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(type, 77u);
  EXPECT_EQ(take(upnp_client_db_get_table()), "<none>");
}

TEST_F(ClientDbTest, HttpMimeLookupsAskTheClientDatabase) {
  load(">>\nMT:mkv video/x-special-mkv\n>>\nNA:plain\n>>\n");
  auto connection = std::make_unique<HTTP_connection>();
  connection->client = 0;
  EXPECT_STREQ(HTTP_get_mime_type(connection.get(), "MKV"), "video/x-special-mkv");
  connection->client = 1;
  EXPECT_STRNE(HTTP_get_mime_type(connection.get(), "mkv"), "video/x-special-mkv");
  EXPECT_STREQ(HTTP_get_extension_by_mime_type("video/x-special-mkv"), "mkv");
}

TEST_F(ClientDbTest, FullTablesAreReportedInTheLog) {
  const std::filesystem::path log = dir_ / "cdb-log.txt";
  ASSERT_EQ(upnp_log_init(log.c_str()), 1);
  upnp_log_set_sources(LOG_CLIENT_DB);
  upnp_log_set_level(2);
  std::string text = entries(200);
  // Each list has a comma, so the first pass reads on to the next list.
  for (int i = 0; i < 51; ++i) text += "MT:a" + std::to_string(i) + ",b" + std::to_string(i) + " type/x\n";
  load(text);
  upnp_log_flush();
  const std::string lines = cdbtest::read_file(log);
  upnp_log_exit();
  upnp_log_set_sources(0);
  upnp_log_set_level(5);
  const size_t too_many = lines.find("Too much clients in clients.db");
  ASSERT_NE(too_many, std::string::npos) << lines;
  // An error, not a critical message that would end the process.
  const size_t line_start = lines.rfind('\n', too_many) + 1;
  EXPECT_NE(lines.substr(line_start, too_many - line_start).find("[Error]"), std::string::npos) << lines;
  EXPECT_NE(lines.find("MIME TYPE TABLE FULL!"), std::string::npos);
}
