// The configuration store: precedence of command line, ini file and default,
// the set rules, the command-line parser, lists and property creation.
#include "ini_test_util.h"

#include "base/upnp_log.h"
#include "base/upnp_mem.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

TEST_F(IniTest, CommandLineBeatsIniFileBeatsDefault) {
  write_file(ini_file(), "httpport=8000\n");
  ASSERT_EQ(parse({"-httpport", "9000"}), 0);
  EXPECT_EQ(value(INI_HTTPPORT), "9000");
  EXPECT_EQ(upnp_ini_file_getInt(INI_HTTPPORT), 9000);

  restart_store();
  ASSERT_EQ(parse({}), 0);
  EXPECT_EQ(value(INI_HTTPPORT), "8000");

  restart_store();
  std::filesystem::remove(ini_file());
  ASSERT_EQ(parse({}), 0);
  EXPECT_EQ(value(INI_HTTPPORT), "<none>");
  EXPECT_EQ(upnp_ini_file_getInt(INI_HTTPPORT), 0);
  EXPECT_EQ(value(INI_SSDPTTL), "4");
}

TEST_F(IniTest, WordsWithoutValues) {
  ASSERT_EQ(parse({"-nicrestart", "-v", "4", "stray", "--vlevel", "2"}), 0);
  EXPECT_EQ(value(INI_NICRESTART), "");
  EXPECT_TRUE(upnp_ini_file_isModified(INI_NICRESTART));
  EXPECT_EQ(upnp_ini_file_getBoolean(INI_NICRESTART), 0);
  EXPECT_EQ(value(INI_V), "4");
  EXPECT_EQ(value(INI_VLEVEL), "2");
  // v and vlevel drive the logger.
  EXPECT_EQ(upnp_log_get_sources(), 4u);
  EXPECT_EQ(upnp_log_get_level(), 2);
  // The command line's changes do not leave a restart pending.
  EXPECT_EQ(upnp_ini_file_restartPending(), 0);
}

TEST_F(IniTest, IniFileLines) {
  write_file(ini_file(),
             "#! header\n[main]\nfriendlyname = x\nip=10.0.0.1 \n#language=de\nplatform=a=b\r\n"
             "unknown=1\nnmcmode\n=3\nssdpttl=4\nmaxvolume=50\n");
  ASSERT_EQ(parse({}), 0);
  // "friendlyname " (with its blank) is no property.
  EXPECT_EQ(value(INI_FRIENDLYNAME), "<none>");
  EXPECT_EQ(value(INI_IP), "10.0.0.1 ");
  EXPECT_EQ(value(INI_LANGUAGE), "en");
  EXPECT_EQ(value(INI_PLATFORM), "a=b");
  EXPECT_EQ(value(INI_NMCMODE), "1");
  // A value equal to the default is not stored as a change.
  EXPECT_EQ(value(INI_SSDPTTL), "4");
  EXPECT_FALSE(upnp_ini_file_isModified(INI_SSDPTTL));
  // maxvolume is a renderer property, not created here.
  EXPECT_FALSE(upnp_ini_file_isValidKey(INI_MAXVOLUME));
}

TEST_F(IniTest, HiddenPropertiesAreNotSetFromTheFile) {
  write_file(ini_file(), "ininame=other.ini\nread_only=1\nfriendlyname=Den\n");
  ASSERT_EQ(parse({}), 0);
  EXPECT_EQ(value(INI_ININAME), "lumetmedia.ini");
  EXPECT_EQ(value(INI_READ_ONLY), "0");
  EXPECT_EQ(value(INI_FRIENDLYNAME), "Den");
}

TEST_F(IniTest, RestartMark) {
  EXPECT_EQ(upnp_ini_file_restartPending(), 0);
  // To the default: no restart, nor for a property without the mark.
  upnp_ini_file_setPropertyByKey(INI_SSDPTTL, "4");
  setPropertyByStringkey("vlevel", "4", 0, 0);
  upnp_ini_file_setPropertyByKey(INI_NICRESTART, "0");
  EXPECT_EQ(upnp_ini_file_restartPending(), 0);
  upnp_ini_file_setPropertyByKey(INI_FRIENDLYNAME, "");
  EXPECT_EQ(upnp_ini_file_restartPending(), 0);
  // To another value: restart.
  upnp_ini_file_setPropertyByKey(INI_SSDPTTL, "2");
  EXPECT_EQ(upnp_ini_file_restartPending(), 1);
  upnp_ini_file_reset_restartPending();
  EXPECT_EQ(upnp_ini_file_restartPending(), 0);
  // Setting the same value again changes nothing.
  EXPECT_EQ(upnp_ini_file_setPropertyByKey(INI_SSDPTTL, "2"), 0);
  EXPECT_EQ(upnp_ini_file_restartPending(), 0);
  // Dropping the value is a change.
  EXPECT_EQ(upnp_ini_file_setPropertyByKey(INI_SSDPTTL, nullptr), 1);
  EXPECT_EQ(upnp_ini_file_restartPending(), 1);
  EXPECT_EQ(value(INI_SSDPTTL), "4");
}

TEST_F(IniTest, BooleanReading) {
  struct Case {
    const char *text;
    int expected;
  } cases[] = {{"0", 0}, {"00", 0}, {"", 0}, {nullptr, 0}, {"no", 1}, {"1", 1}, {"yes", 1}, {" 0", 1}};
  for (const Case &c : cases) {
    upnp_ini_file_setPropertyByKey(INI_FRIENDLYNAME, c.text);
    EXPECT_EQ(upnp_ini_file_getBoolean(INI_FRIENDLYNAME), c.expected) << (c.text ? c.text : "none");
    EXPECT_EQ(upnp_ini_file_isSet(INI_FRIENDLYNAME), c.expected) << (c.text ? c.text : "none");
  }
  upnp_ini_file_setPropertyByKey(INI_FRIENDLYNAME, "12abc");
  EXPECT_EQ(upnp_ini_file_getInt(INI_FRIENDLYNAME), 12);
  upnp_ini_file_setPropertyByKey(INI_FRIENDLYNAME, "-5");
  EXPECT_EQ(upnp_ini_file_getInt(INI_FRIENDLYNAME), -5);
}

const char kUsage[] =
    "\n"
    "usage: /opt/app/prog\n"
    "\n"
    "       all params from the .ini file can be used as an option, preceded by a -\n"
    "       e.g. /opt/app/prog -v 255\n"
    "       -inifile path and filename of ini file\n"
    "       -inipath path to ini file\n"
    "       -ininame filename of ini file\n";

TEST_F(IniTest, HelpPrintsUsage) {
  testing::internal::CaptureStdout();
  EXPECT_EQ(parse({"-v", "1", "--help", "-httpport", "7"}, "/opt/app/prog"), 1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), kUsage);
  // Parsing stopped at the help word.
  EXPECT_EQ(value(INI_V), "1");
  EXPECT_EQ(value(INI_HTTPPORT), "<none>");
}

TEST_F(IniTest, QuestionMarkEndsReadCmdlineWithStatusOne) {
  const char *argv[] = {"prog", "-?"};
  EXPECT_EXIT(upnp_ini_file_read_cmdline(2, argv), ::testing::ExitedWithCode(1), "");
}

TEST_F(IniTest, ProgramPathAndIgnoredWords) {
  for (int i = 0; i < UPNP_INI_MAX_IGNORED_PARAMS - 1; ++i) {
    EXPECT_EQ(upnp_ini_file_add_ignored_cmdline_param("-unused"), 1);
  }
  EXPECT_EQ(upnp_ini_file_add_ignored_cmdline_param("-psn_0_42"), 1);
  EXPECT_EQ(upnp_ini_file_add_ignored_cmdline_param("-more"), 0);
  ASSERT_EQ(parse({"-psn_0_42", "-friendlyname", "Hall", "-nosuch", "1", "-more", "x"}, "/usr/bin/app"), 0);
  EXPECT_EQ(value(INI_FRIENDLYNAME), "Hall");
  EXPECT_STREQ(upnp_ini_file_get_EXE_Name(), "/usr/bin/app");
  EXPECT_STREQ(upnp_ini_file_get_EXE_Dir(), "/usr/bin");
}

TEST_F(IniTest, IniFileOption) {
  std::filesystem::path sub = dir_ / "conf" / "deep";
  ASSERT_EQ(parse({"-inifile", (sub / "my.ini").string()}), 0);
  EXPECT_EQ(value(INI_INIPATH), sub.string());
  EXPECT_EQ(value(INI_ININAME), "my.ini");
  EXPECT_STREQ(upnp_ini_file_get_ini_path(), (sub / "my.ini").c_str());
  // Building the path created its folder.
  EXPECT_TRUE(std::filesystem::is_directory(sub));
  // inipath defaults to appdata.
  restart_store();
  ASSERT_EQ(parse({}), 0);
  EXPECT_EQ(value(INI_INIPATH), dir_.string());
  EXPECT_STREQ(upnp_ini_file_get_ini_path(), ini_file().c_str());
}

TEST_F(IniTest, SetRules) {
  // Hidden: only forced.
  EXPECT_EQ(setPropertyByStringkey("ininame", "x.ini", 0, 1), 0);
  EXPECT_EQ(setPropertyByStringkey("ININAME", "x.ini", 1, 1), 1);
  EXPECT_EQ(value(INI_ININAME), "x.ini");
  // Disabled: never.
  upnp_ini_file_disableProperty(INI_LANGUAGE, 1);
  EXPECT_EQ(upnp_ini_file_propertyIsDisabled(INI_LANGUAGE), 1);
  EXPECT_EQ(upnp_ini_file_setPropertyByKey(INI_LANGUAGE, "de"), 0);
  upnp_ini_file_disableProperty(INI_LANGUAGE, 0);
  EXPECT_EQ(upnp_ini_file_setPropertyByKey(INI_LANGUAGE, "de"), 1);
  // Without overwrite an existing value stays.
  EXPECT_EQ(setPropertyByStringkey("language", "fr", 0, 0), 0);
  EXPECT_EQ(value(INI_LANGUAGE), "de");
  // Without overwrite, the default and the empty text store no value.
  EXPECT_EQ(setPropertyByStringkey("platform", "Apple", 0, 0), 0);
  EXPECT_FALSE(upnp_ini_file_isModified(INI_PLATFORM));
  EXPECT_EQ(setPropertyByStringkey("friendlyname", "", 0, 0), 0);
  EXPECT_FALSE(upnp_ini_file_isModified(INI_FRIENDLYNAME));
  // None over none changes nothing.
  EXPECT_EQ(upnp_ini_file_setPropertyByKey(INI_IP, nullptr), 0);
  // Unknown names and keys.
  EXPECT_EQ(setPropertyByStringkey("nosuch", "1", 1, 1), 0);
  EXPECT_EQ(upnp_ini_file_setPropertyByKey(250, "1"), 0);
  EXPECT_EQ(upnp_ini_file_getPropertyKey("NoSuch"), UPNP_INI_NO_KEY);
  EXPECT_EQ(upnp_ini_file_getPropertyKey("HttpPort"), static_cast<unsigned>(INI_HTTPPORT));
  EXPECT_STREQ(upnp_ini_file_getPropParamName(INI_STACK_SIZE), "stack_size");
  EXPECT_EQ(upnp_ini_file_propertyIsHidden(INI_APPDATA), 1);
  EXPECT_EQ(upnp_ini_file_propertyIsHidden(INI_HTTPPORT), 0);
  EXPECT_EQ(upnp_ini_file_propertyIsHidden(250), 1);
  EXPECT_EQ(upnp_ini_file_propertyIsDisabled(250), 1);
  upnp_ini_file_hideProperty(INI_HTTPPORT, 1);
  EXPECT_EQ(setPropertyByStringkey("httpport", "1", 0, 1), 0);
}

TEST_F(IniTest, VlevelFollowsTheValueInEffect) {
  upnp_ini_file_setPropertyByKey(INI_VLEVEL, "1");
  EXPECT_EQ(upnp_log_get_level(), 1);
  upnp_ini_file_setPropertyByKey(INI_VLEVEL, nullptr);
  EXPECT_EQ(upnp_log_get_level(), 4);
  upnp_ini_file_setPropertyByKey(INI_V, "255");
  EXPECT_EQ(upnp_log_get_sources(), 255u);
  upnp_ini_file_setPropertyByKey(INI_V, nullptr);
  EXPECT_EQ(upnp_log_get_sources(), 0u);
}

TEST_F(IniTest, GettersBeforeInitGiveNone) {
  upnp_ini_file_release_on_exit();
  EXPECT_EQ(upnp_ini_file_getString(INI_PLATFORM), nullptr);
  EXPECT_EQ(upnp_ini_file_getInt(INI_STACK_SIZE), 0);
  EXPECT_EQ(upnp_ini_file_isValidKey(INI_PLATFORM), 0);
  EXPECT_EQ(upnp_ini_file_setPropertyByKey(INI_PLATFORM, "x"), 0);
  EXPECT_EQ(upnp_ini_file_create_property(200, "x", nullptr, nullptr, 0, 0, 0, 0), INI_CREATE_NOT_INITIALIZED);
  EXPECT_EQ(upnp_ini_file_get_all_properties(), nullptr);
  // Counted: two inits need two releases.
  upnp_ini_file_init();
  upnp_ini_file_init();
  upnp_ini_file_release();
  EXPECT_STREQ(upnp_ini_file_getString(INI_PLATFORM), "Apple");
  upnp_ini_file_release();
  EXPECT_EQ(upnp_ini_file_getString(INI_PLATFORM), nullptr);
  upnp_ini_file_init();
}

TEST_F(IniTest, ReleaseFreesEverything) {
  upnp_ini_file_release_on_exit();
  int64_t before = upnp_mem_used();
  upnp_ini_file_init();
  upnp_ini_file_client_init();
  upnp_ini_file_add_default_file("none.ini");
  upnp_ini_file_add_ignored_cmdline_param("-psn");
  write_file(ini_file(), "friendlyname=Den\nlanguage=de\n");
  ASSERT_EQ(parse({"-httpport", "9000", "-v", "1"}), 0);
  ASSERT_EQ(upnp_ini_file_create_property(200, "servers", "a,b,c", nullptr, 1, 0, 0, 0), INI_CREATE_OK);
  upnp_free_impl(upnp_ini_file_get_next_CSV(200, 1));
  upnp_ini_file_setPropertyByKey(200, "d,e");
  upnp_free_impl(upnp_ini_file_get_next_CSV(200, 0));
  EXPECT_GT(upnp_mem_used(), before);
  upnp_ini_file_release();
  EXPECT_EQ(upnp_mem_used(), before);
  upnp_ini_file_init();
}

TEST_F(IniTest, CreatePropertyErrors) {
  EXPECT_EQ(upnp_ini_file_create_property(200, "", nullptr, nullptr, 0, 0, 0, 0), INI_CREATE_NO_NAME);
  EXPECT_EQ(upnp_ini_file_create_property(200, nullptr, nullptr, nullptr, 0, 0, 0, 0), INI_CREATE_NO_NAME);
  EXPECT_EQ(upnp_ini_file_create_property(INI_V, "fresh", nullptr, nullptr, 0, 0, 0, 0), INI_CREATE_KEY_EXISTS);
  EXPECT_EQ(upnp_ini_file_create_property(200, "HTTPPORT", nullptr, nullptr, 0, 0, 0, 0), INI_CREATE_NAME_EXISTS);
  EXPECT_EQ(upnp_ini_file_create_property(200, "fresh", "d", "h", 0, 1, 0, 1), INI_CREATE_OK);
  EXPECT_EQ(value(200), "d");
  EXPECT_EQ(upnp_ini_file_propertyIsHidden(200), 1);
  // Fill the table: 287 records at most.
  int created = 20;  // 19 base rows and "fresh"
  unsigned int key = 0;
  int result = INI_CREATE_OK;
  while (result == INI_CREATE_OK && key <= UPNP_INI_MAX_KEY) {
    if (!upnp_ini_file_isValidKey(key)) {
      result = upnp_ini_file_create_property(key, ("p" + std::to_string(key)).c_str(), nullptr, nullptr, 0, 0, 0, 0);
      if (result == INI_CREATE_OK) ++created;
    }
    ++key;
  }
  EXPECT_EQ(result, INI_CREATE_TABLE_FULL);
  EXPECT_EQ(created, UPNP_INI_MAX_PROPS);
  // Texts handed out earlier survive the table's growth.
  const char *platform = upnp_ini_file_getString(INI_PLATFORM);
  EXPECT_STREQ(platform, "Apple");
}

TEST_F(IniTest, Lists) {
  ASSERT_EQ(upnp_ini_file_create_property(200, "servers", "a, b,,  c", nullptr, 1, 0, 0, 0), INI_CREATE_OK);
  const char *expected[] = {"a", "b", nullptr, "c", nullptr};
  for (int i = 0; i < 5; ++i) {
    char *element = upnp_ini_file_get_next_CSV(200, i);
    if (expected[i] == nullptr) {
      EXPECT_EQ(element, nullptr) << i;
    } else {
      ASSERT_NE(element, nullptr) << i;
      EXPECT_STREQ(element, expected[i]);
    }
    upnp_free_impl(element);
  }
  EXPECT_EQ(upnp_ini_file_get_next_CSV(200, -1), nullptr);
  // A change drops the cached split.
  upnp_ini_file_setPropertyByKey(200, "x,y");
  char *second = upnp_ini_file_get_next_CSV(200, 1);
  ASSERT_NE(second, nullptr);
  EXPECT_STREQ(second, "y");
  upnp_free_impl(second);
  // One element: the current value.
  upnp_ini_file_setPropertyByKey(200, "single");
  char *only = upnp_ini_file_get_next_CSV(200, 0);
  ASSERT_NE(only, nullptr);
  EXPECT_STREQ(only, "single");
  upnp_free_impl(only);
  EXPECT_EQ(upnp_ini_file_get_next_CSV(200, 1), nullptr);
  // Not a list: index 0 is a copy of the current value, none when unmodified.
  EXPECT_EQ(upnp_ini_file_get_next_CSV(INI_PLATFORM, 0), nullptr);
  upnp_ini_file_setPropertyByKey(INI_PLATFORM, "Linux,x");
  char *platform = upnp_ini_file_get_next_CSV(INI_PLATFORM, 0);
  ASSERT_NE(platform, nullptr);
  EXPECT_STREQ(platform, "Linux,x");
  upnp_free_impl(platform);
  EXPECT_EQ(upnp_ini_file_get_next_CSV(INI_PLATFORM, 1), nullptr);
}

TEST_F(IniTest, AllProperties) {
  upnp_ini_file_setPropertyByKey(INI_FRIENDLYNAME, "Den");
  char *all = upnp_ini_file_get_all_properties();
  ASSERT_NE(all, nullptr);
  std::string text = all;
  upnp_free_impl(all);
  EXPECT_EQ(text.rfind("friendlyname=Den\r\nip=\r\nnicrestart=1\r\nv=0\r\nplatform=Apple\r\nhttpport=\r\n"
                       "ininame=lumetmedia.ini\r\ninipath=\r\n",
                       0),
            0u)
      << text;
  EXPECT_NE(text.find("\r\nlanguage=en\r\n"), std::string::npos);
  EXPECT_EQ(text.size() - text.rfind("language=en\r\n"), std::strlen("language=en\r\n"));
}

TEST_F(IniTest, ClientGroups) {
  upnp_ini_file_dmc_init();
  EXPECT_EQ(value(INI_ININAME), "lumet-client.ini");
  EXPECT_TRUE(upnp_ini_file_isValidKey(INI_MSEARCH_QUICK));
  EXPECT_TRUE(upnp_ini_file_isValidKey(INI_VERSION));
  EXPECT_FALSE(upnp_ini_file_isValidKey(INI_MAXVOLUME));
  EXPECT_EQ(value(INI_MAP_SEEKPCT), "auto");
  EXPECT_EQ(upnp_ini_file_propertyIsHidden(INI_VERSION), 1);
  // Adding the renderer group creates only the rows not created yet and
  // leaves ininame as it is.
  upnp_ini_file_setPropertyByKey(INI_ININAME, "keep.ini");
  testing::internal::CaptureStdout();
  upnp_log_set_sources(LOG_SYSTEM);
  upnp_ini_file_dmr_init();
  upnp_log_set_sources(0);
  EXPECT_EQ(testing::internal::GetCapturedStdout().find("Error in creating"), std::string::npos);
  EXPECT_TRUE(upnp_ini_file_isValidKey(INI_MAXVOLUME));
  EXPECT_EQ(value(INI_MAXVOLUME), "100");
  EXPECT_EQ(value(INI_ININAME), "keep.ini");
  // Creating a row twice is reported.
  testing::internal::CaptureStdout();
  upnp_log_set_sources(LOG_SYSTEM);
  upnp_ini_file_client_release();
  upnp_ini_file_dmr_init();
  upnp_log_set_sources(0);
  EXPECT_NE(testing::internal::GetCapturedStdout().find("Error in creating ini file property presentation_url : 1"),
            std::string::npos);
}

TEST_F(IniTest, ClientPort) {
  EXPECT_EQ(upnp_ini_file_set_client_port(), 9020);
  EXPECT_EQ(value(INI_HTTPPORT), "9020");
  upnp_ini_file_setPropertyByKey(INI_HTTPPORT, "9000");
  EXPECT_EQ(upnp_ini_file_set_client_port(), 9000);
}

}  // namespace
