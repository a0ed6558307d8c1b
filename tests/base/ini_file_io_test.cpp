// The ini file on disk: the exact written text, UTF-16 files read and written
// back as UTF-16, failed writes, default files, the data directory and the
// application's obfuscation hooks.
#include "ini_test_util.h"

#include "base/platform/upnp_appdata_dir.h"
#include "base/upnp_mem.h"

#include <algorithm>
#include <csignal>
#include <cstring>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::string utf16le(const std::u16string &text) {
  std::string bytes = "\xFF\xFE";
  for (char16_t c : text) {
    bytes += static_cast<char>(c & 0xFF);
    bytes += static_cast<char>(c >> 8);
  }
  return bytes;
}

const char kHeader8[] =
    "#! LumetMedia ini file / charset UTF-8\n"
    "#! Change settings by commandline or by editing this file\n"
    "#! Do not add space characters before or after equal sign!\n"
    "\n"
    "[main]\n";

// Leaves only friendlyname, nicrestart and httpport of the base table visible
// and adds one property without help text.
void small_table() {
  for (unsigned int key = 0; key <= UPNP_INI_MAX_KEY; ++key) {
    if (key != INI_FRIENDLYNAME && key != INI_NICRESTART && key != INI_HTTPPORT) upnp_ini_file_hideProperty(key, 1);
  }
  upnp_ini_file_create_property(100, "extra", "a,b", nullptr, 1, 0, 0, 0);
}

TEST_F(IniTest, WrittenTextOfASmallTable) {
  ASSERT_EQ(parse({}), 0);
  small_table();
  upnp_ini_file_setPropertyByKey(INI_FRIENDLYNAME, "Living room");
  ASSERT_EQ(upnp_ini_file_write_properties(), 0);
  EXPECT_EQ(read_file(ini_file()), std::string(kHeader8) +
                                       "# Visible name in the network\n"
                                       "friendlyname=Living room\n"
                                       "\n"
                                       "# Watch changes in machine's network conf (1: yes, 0: no)\n"
                                       "nicrestart=1\n"
                                       "\n"
                                       "# Port of the http server\n"
                                       "httpport=\n"
                                       "\n"
                                       "extra=a,b\n"
                                       "\n");
  EXPECT_FALSE(fs::exists(ini_file().string() + ".tmp"));
}

TEST_F(IniTest, WrittenFileReadsBackTheSame) {
  ASSERT_EQ(parse({"-friendlyname", "Kitchen", "-vlevel", "2", "-ip", "192.0.2.1"}), 0);
  ASSERT_EQ(upnp_ini_file_write_properties(), 0);
  std::string first = read_file(ini_file());
  // Every visible row with its help text; hidden rows stay out.
  EXPECT_NE(first.find("# Log level (0:debug, 1:trace, 2:info, 3:warning, 4:error, 5:critical)\nvlevel=2\n\n"),
            std::string::npos);
  EXPECT_NE(first.find("# Stack size in bytes per thread on Linux. Default: 196608\nstack_size=196608\n\n"),
            std::string::npos);
  EXPECT_EQ(first.find("appdata="), std::string::npos);
  EXPECT_EQ(first.find("ininame="), std::string::npos);
  EXPECT_EQ(first.find("read_only="), std::string::npos);

  restart_store();
  ASSERT_EQ(parse({}), 0);
  EXPECT_EQ(value(INI_FRIENDLYNAME), "Kitchen");
  EXPECT_EQ(value(INI_IP), "192.0.2.1");
  EXPECT_EQ(value(INI_VLEVEL), "2");
  EXPECT_FALSE(upnp_ini_file_isModified(INI_SSDPTTL));
  ASSERT_EQ(upnp_ini_file_write_properties(), 0);
  EXPECT_EQ(read_file(ini_file()), first);
}

// A row added to the client table later (subscription_timeout) comes last:
// an ini file written before it existed is read with every value kept, and
// written back with only that row appended.
TEST_F(IniTest, AFileWrittenBeforeALaterRowKeepsItsTextAndGainsTheRowAtTheEnd) {
  const std::string row =
      "# Time in s to request for event subscriptions of devices. Default: 300\nsubscription_timeout=300\n\n";
  upnp_ini_file_dmc_init();
  ASSERT_EQ(parse({"-revalidate_time", "20", "-max_supported_ruis", "7"}), 0);
  ASSERT_EQ(upnp_ini_file_write_properties(), 0);
  std::string now = read_file(dir_ / "lumet-client.ini");
  ASSERT_GT(now.size(), row.size());
  ASSERT_EQ(now.substr(now.size() - row.size()), row);
  const std::string before = now.substr(0, now.size() - row.size());
  EXPECT_EQ(before.size() - before.rfind("max_supported_ruis=7\n\n"), std::strlen("max_supported_ruis=7\n\n"));

  for (const std::string &extra : {std::string(), std::string("subscription_timeout=600\n")}) {
    restart_store();
    upnp_ini_file_dmc_init();
    write_file(dir_ / "lumet-client.ini", before + extra);
    ASSERT_EQ(parse({}), 0);
    EXPECT_EQ(value(INI_REVALIDATE_TIME), "20");
    EXPECT_EQ(value(INI_MAX_SUPPORTED_RUIS), "7");
    EXPECT_EQ(upnp_ini_file_getInt(INI_SUBSCRIPTION_TIMEOUT), extra.empty() ? 300 : 600);
    ASSERT_EQ(upnp_ini_file_write_properties(), 0);
    std::string expected = extra.empty() ? now : before + row.substr(0, row.find('=') + 1) + "600\n\n";
    EXPECT_EQ(read_file(dir_ / "lumet-client.ini"), expected);
  }
}

TEST_F(IniTest, Utf16FileIsReadAndWrittenBackAsUtf16) {
  write_file(ini_file(), utf16le(u"#! LumetMedia ini file / charset UTF-16\r\n[main]\r\nfriendlyname=K\u00fcche \u266b\r\n"
                                 u"httpport=8000\r\n"));
  ASSERT_EQ(parse({}), 0);
  EXPECT_EQ(value(INI_FRIENDLYNAME), "K\xC3\xBC" "che \xE2\x99\xAB");
  EXPECT_EQ(value(INI_HTTPPORT), "8000");
  small_table();
  ASSERT_EQ(upnp_ini_file_write_properties(), 0);
  std::string written = read_file(ini_file());
  EXPECT_EQ(written, utf16le(u"#! LumetMedia ini file / charset UTF-16\n"
                             u"#! Change settings by commandline or by editing this file\n"
                             u"#! Do not add space characters before or after equal sign!\n"
                             u"\n"
                             u"[main]\n"
                             u"# Visible name in the network\n"
                             u"friendlyname=K\u00fcche \u266b\n"
                             u"\n"
                             u"# Watch changes in machine's network conf (1: yes, 0: no)\n"
                             u"nicrestart=1\n"
                             u"\n"
                             u"# Port of the http server\n"
                             u"httpport=8000\n"
                             u"\n"
                             u"extra=a,b\n"
                             u"\n"));
}

TEST_F(IniTest, TinyOrMissingFilesAreIgnored) {
  write_file(ini_file(), "x");
  ASSERT_EQ(parse({}), 0);
  EXPECT_EQ(value(INI_FRIENDLYNAME), "<none>");
  restart_store();
  write_file(ini_file(), "\xFF\xFE");
  ASSERT_EQ(parse({}), 0);
  EXPECT_EQ(value(INI_FRIENDLYNAME), "<none>");
  restart_store();
  write_file(ini_file(), std::string("ip=1\0friendlyname=z\0", 21));
  ASSERT_EQ(parse({}), 0);
  EXPECT_EQ(value(INI_IP), "1");
  EXPECT_EQ(value(INI_FRIENDLYNAME), "z");
}

TEST_F(IniTest, ReadOnlyLeavesTheFileAlone) {
  write_file(ini_file(), "friendlyname=old\n");
  ASSERT_EQ(parse({"-read_only", "1"}), 0);
  upnp_ini_file_setPropertyByKey(INI_FRIENDLYNAME, "new");
  EXPECT_EQ(upnp_ini_file_write_properties(), 0);
  EXPECT_EQ(read_file(ini_file()), "friendlyname=old\n");
}

TEST_F(IniTest, UnwritableFolderIsReported) {
  ASSERT_EQ(parse({}), 0);
  write_file(dir_ / "plainfile", "x");
  upnp_ini_file_setPropertyByKey(INI_INIPATH, (dir_ / "plainfile").c_str());
  upnp_log_set_sources(LOG_SYSTEM);
  testing::internal::CaptureStdout();
  EXPECT_EQ(upnp_ini_file_write_properties(), -1);
  std::string out = testing::internal::GetCapturedStdout();
  upnp_log_set_sources(0);
  EXPECT_NE(out.find("[Error] - LOG_SYSTEM: ini file \"" + (dir_ / "plainfile" / "lumetmedia.ini").string() +
                     "\" not writable! ***"),
            std::string::npos)
      << out;
}

// In a child process: writes the store with a file size limit of 64 bytes
// and reports whether the old file survived.
void write_with_small_file_limit(const fs::path &file, const std::string &old_text) {
  std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit limit;
  limit.rlim_cur = 64;
  limit.rlim_max = 64;
  setrlimit(RLIMIT_FSIZE, &limit);
  int result = upnp_ini_file_write_properties();
  std::ifstream in(file, std::ios::binary);
  std::stringstream all;
  all << in.rdbuf();
  bool kept = all.str() == old_text;
  bool no_temporary = !fs::exists(file.string() + ".tmp");
  std::fprintf(stderr, "result=%d kept=%d no_temporary=%d\n", result, kept, no_temporary);
  std::fflush(stderr);
  // _Exit: nothing at exit (leak checks, buffered files) runs under the size limit.
  std::_Exit(result == -1 && kept && no_temporary ? 0 : 1);
}

// A write that fails half way (the file size limit of the process is hit)
// leaves the old file as it was and no temporary file behind.
TEST_F(IniTest, FailedWriteKeepsTheOldFile) {
  const std::string old_text = "friendlyname=old\n";
  write_file(ini_file(), old_text);
  ASSERT_EQ(parse({"-friendlyname", "a much longer name than the old one"}), 0);
  EXPECT_EXIT(write_with_small_file_limit(ini_file(), old_text), ::testing::ExitedWithCode(0),
              "result=-1 kept=1 no_temporary=1");
  // Without the limit the same write succeeds.
  ASSERT_EQ(upnp_ini_file_write_properties(), 0);
  EXPECT_NE(read_file(ini_file()).find("friendlyname=a much longer name than the old one\n"), std::string::npos);
}

TEST_F(IniTest, ResetDeletesTheFile) {
  ASSERT_EQ(parse({}), 0);
  ASSERT_EQ(upnp_ini_file_write_properties(), 0);
  EXPECT_TRUE(fs::exists(ini_file()));
  upnp_ini_file_reset();
  EXPECT_FALSE(fs::exists(ini_file()));
}

TEST_F(IniTest, DefaultFileFromTheProgramFolder) {
  fs::create_directories(dir_ / "bin");
  write_file(dir_ / "bin" / "defaults.ini", "friendlyname=Shipped\n");
  upnp_ini_file_add_default_file("defaults.ini");
  upnp_log_set_sources(LOG_SYSTEM);
  upnp_log_set_level(LOG_LEVEL_INFO);
  testing::internal::CaptureStdout();
  ASSERT_EQ(parse({}, (dir_ / "bin" / "prog").string()), 0);
  std::string out = testing::internal::GetCapturedStdout();
  upnp_log_set_sources(0);
  EXPECT_EQ(value(INI_FRIENDLYNAME), "Shipped");
  EXPECT_EQ(read_file(ini_file()), "friendlyname=Shipped\n");
  EXPECT_NE(out.find("exisiting ini file " + (dir_ / "bin" / "defaults.ini").string() + " copied to " +
                     ini_file().string()),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("reading ini settings from " + ini_file().string()), std::string::npos);
  EXPECT_NE(out.find("LOG_SYSTEM: friendlyname = Shipped\n"), std::string::npos);

  // An existing ini file is not replaced; a default in the ini folder wins
  // over the program folder.
  restart_store();
  upnp_ini_file_add_default_file("defaults.ini");
  write_file(ini_file(), "friendlyname=Mine\n");
  ASSERT_EQ(parse({}, (dir_ / "bin" / "prog").string()), 0);
  EXPECT_EQ(value(INI_FRIENDLYNAME), "Mine");
  restart_store();
  fs::remove(ini_file());
  write_file(dir_ / "defaults.ini", "friendlyname=Local\n");
  upnp_ini_file_add_default_file("defaults.ini");
  ASSERT_EQ(parse({}, (dir_ / "bin" / "prog").string()), 0);
  EXPECT_EQ(value(INI_FRIENDLYNAME), "Local");
}

TEST(AppDataRoot, PlatformRule) {
  EXPECT_EQ(upnp_app_data_root(true, "/data", "/home/u"), "/var/lumetmedia");
  EXPECT_EQ(upnp_app_data_root(false, "/data/xdg", "/home/u"), "/data/xdg");
  EXPECT_EQ(upnp_app_data_root(false, "relative", "/home/u"), "/home/u/.local/share");
  EXPECT_EQ(upnp_app_data_root(false, "", "/home/u/"), "/home/u/.local/share");
  EXPECT_EQ(upnp_app_data_root(false, nullptr, nullptr), "");
  if (geteuid() == 0) {
    EXPECT_EQ(getAppDataDir(), "/var/lumetmedia");
  }
}

TEST_F(IniTest, RemovableMediaIsNotCreatedWhenAbsent) {
  fs::path absent = dir_ / "usb" / ".Lumet" / "data";
  upnp_ini_file_setPropertyByKey(INI_APPDATA, absent.c_str());
  upnp_ini_file_init_DATA_Dir();
  EXPECT_FALSE(fs::exists(dir_ / "usb"));
  EXPECT_EQ(value(INI_INIPATH), absent.string());

  fs::create_directory(dir_ / "usb");
  upnp_ini_file_init_DATA_Dir();
  EXPECT_TRUE(fs::is_directory(absent));

  fs::path plain = dir_ / "plain" / "data";
  upnp_ini_file_setPropertyByKey(INI_APPDATA, plain.c_str());
  upnp_ini_file_init_DATA_Dir();
  EXPECT_TRUE(fs::is_directory(plain));
  // inipath was set already and stays.
  EXPECT_EQ(value(INI_INIPATH), absent.string());
}

// The application's hooks: friendlyname is restricted, its name is written
// as "x_" + name and its value reversed.
char *reversed(const char *text) {
  std::string r(text);
  std::reverse(r.begin(), r.end());
  return upnp_strdup_impl(r.c_str());
}
int restricted(unsigned int key) { return key == INI_FRIENDLYNAME ? 1 : 0; }
char *obfuscated(const char *name) { return upnp_strdup_impl((std::string("x_") + name).c_str()); }
char *translated(const char *name) {
  return std::strncmp(name, "x_", 2) == 0 ? upnp_strdup_impl(name + 2) : nullptr;
}

TEST_F(IniTest, ObfuscationHooks) {
  upnp_ini_set_obfuscation(restricted, obfuscated, translated, reversed, reversed, nullptr);
  ASSERT_EQ(parse({"-friendlyname", "terces"}), 0);
  EXPECT_EQ(value(INI_FRIENDLYNAME), "secret");
  ASSERT_EQ(upnp_ini_file_write_properties(), 0);
  std::string text = read_file(ini_file());
  EXPECT_NE(text.find("[main]\nx_friendlyname=terces\n\n# IP address"), std::string::npos) << text;
  char *all = upnp_ini_file_get_all_properties();
  ASSERT_NE(all, nullptr);
  EXPECT_EQ(std::string(all).find("friendlyname"), std::string::npos);
  upnp_free_impl(all);

  restart_store();
  ASSERT_EQ(parse({}), 0);
  EXPECT_EQ(value(INI_FRIENDLYNAME), "secret");
  // Without a decrypt hook a restricted property cannot be set.
  upnp_ini_set_obfuscation(restricted, nullptr, nullptr, nullptr, nullptr, nullptr);
  EXPECT_EQ(upnp_ini_file_setPropertyByKey(INI_FRIENDLYNAME, "plain"), 0);
  EXPECT_EQ(value(INI_FRIENDLYNAME), "secret");
}

}  // namespace
