// The PSAPI and Toolhelp sources over the scripted Windows operations.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_win_api.h"
#include "source/win/win_source.h"
#include "text.h"

namespace zel {
namespace {

using test::FakeProcessImage;
using test::FakeWinApi;
using test::Put;
using win::WinSource;

std::vector<ProcessRecord> Enumerate(WinSource& source) {
  std::vector<ProcessRecord> records;
  source.EnumerateProcesses([&](const ProcessRecord& r) { records.push_back(r); });
  return records;
}

constexpr win::DWORD kLegacy = 0x80000004;  // legacy family, major 4
constexpr win::LONG kShown = 0x10080000;    // system menu + visible

TEST(WinBinding, PsapiIsLoadedOnDemand) {
  FakeWinApi api;
  WinSource source(api);
  EXPECT_FALSE(source.IsLegacyFamily());
  EXPECT_TRUE(source.IsNewerSystem());
  EXPECT_TRUE(source.Bind());
  EXPECT_EQ(api.load_library_calls, (std::vector<std::string>{"PSAPI.DLL", "VDMDBG.DLL"}));
}

TEST(WinBinding, PsapiNeedsAllSixFunctions) {
  FakeWinApi api;
  api.loadable["PSAPI.DLL"].erase("GetModuleFileNameExW");
  EXPECT_FALSE(WinSource(api).Bind());
  FakeWinApi none;
  none.loadable.clear();
  EXPECT_FALSE(WinSource(none).Bind());
}

TEST(WinBinding, ToolhelpOnlyFromTheLoadedKernel) {
  FakeWinApi api;
  api.version = kLegacy;
  WinSource source(api);
  EXPECT_TRUE(source.IsLegacyFamily());
  EXPECT_FALSE(source.IsNewerSystem());
  EXPECT_TRUE(source.Bind());
  EXPECT_EQ(api.load_library_calls, (std::vector<std::string>{"VDMDBG.DLL"}));

  FakeWinApi missing;
  missing.version = kLegacy;
  missing.loaded["KERNEL32.DLL"].erase("Heap32Next");  // never called, still required
  EXPECT_FALSE(WinSource(missing).Bind());

  FakeWinApi unloaded;
  unloaded.version = kLegacy;
  unloaded.loaded.erase("KERNEL32.DLL");
  unloaded.loadable["KERNEL32.DLL"] = {"CreateToolhelp32Snapshot"};
  EXPECT_FALSE(WinSource(unloaded).Bind());
}

TEST(WinBinding, PrivilegeOnceThroughLoadedAdvapi) {
  FakeWinApi api;
  WinSource source(api);
  source.Bind();
  source.EnablePrivilege("SeDebugPrivilege", 2);
  source.EnablePrivilege("SeDebugPrivilege", 2);
  EXPECT_EQ(api.privilege_adjusted, (std::vector<std::string>{"1:20:2", "1:20:2"}));
  EXPECT_EQ(api.open_handles, 0);  // the token was closed

  FakeWinApi no_advapi;
  no_advapi.loaded.erase("ADVAPI32.DLL");
  no_advapi.loadable["ADVAPI32.DLL"] = no_advapi.loadable["PSAPI.DLL"];
  WinSource quiet(no_advapi);
  quiet.EnablePrivilege("SeDebugPrivilege", 2);
  EXPECT_TRUE(no_advapi.privilege_adjusted.empty());
  EXPECT_TRUE(no_advapi.load_library_calls.empty());  // not loaded on demand
}

TEST(PsapiSource, RecordsAndPlaceholders) {
  FakeWinApi api;
  api.environment["SystemRoot"] = "C:\\WINDOWS";
  FakeProcessImage& normal = api.AddProcess(100, "app.exe", "\\SystemRoot\\system32\\app.exe");
  normal.parent = 4;
  normal.peb = 0x7ffd0000;
  normal.priority_class = 0x80;
  api.AddProcess(200, "locked.exe", "C:\\locked.exe").openable = false;
  api.AddProcess(300, "odd.exe", "C:\\odd.exe").modules_readable = false;
  api.processes.back().priority_class = 0x80;
  WinSource source(api);
  ASSERT_TRUE(source.Bind());
  const auto records = Enumerate(source);
  ASSERT_EQ(records.size(), 3u);
  EXPECT_STREQ(records[0].name, "app.exe");
  EXPECT_STREQ(records[0].path, "C:\\WINDOWS\\system32\\app.exe");
  EXPECT_EQ(records[0].parent_id, 4u);
  EXPECT_EQ(records[0].environment_block, 0x7ffd0000u);
  EXPECT_EQ(records[0].priority_class, 0x80u);
  EXPECT_EQ(records[0].flags, 0u);
  EXPECT_STREQ(records[1].name, "[Access denied]");
  EXPECT_EQ(records[1].flags, kDetailsUnavailable);
  EXPECT_EQ(records[1].priority_class, 0u);
  EXPECT_STREQ(records[1].path, "");
  EXPECT_STREQ(records[2].name, "[Unknown]");
  EXPECT_EQ(records[2].flags, kDetailsUnavailable);
  EXPECT_EQ(records[2].priority_class, 0u);  // stays 0 without the module list
  EXPECT_EQ(api.open_handles, 0);
  for (const win::DWORD access : api.open_access) EXPECT_EQ(access, 1040u);
}

TEST(PsapiSource, BasicInformationIsOptional) {
  FakeWinApi api;
  api.loaded.erase("NTDLL.DLL");
  api.AddProcess(100, "app.exe", "C:\\app.exe").parent = 4;
  WinSource source(api);
  source.Bind();
  const auto records = Enumerate(source);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].parent_id, 0u);
  FakeWinApi failing;
  failing.query_status = static_cast<win::NTSTATUS>(0xC0000022u);
  failing.AddProcess(100, "app.exe", "C:\\app.exe").parent = 4;
  WinSource other(failing);
  other.Bind();
  EXPECT_EQ(Enumerate(other)[0].parent_id, 0u);
}

TEST(PsapiSource, PathNormalisation) {
  FakeWinApi api;
  api.environment["SystemRoot"] = "C:\\WINDOWS";
  api.environment["Long"] = std::string(250, 'L');
  WinSource source(api);
  auto normalise = [&](const std::string& in, size_t size = kPathSize) {
    char buffer[kPathSize] = {};
    CopyBounded(buffer, kPathSize, in.c_str());
    source.NormalizePath(buffer, size);
    return std::string(buffer);
  };
  EXPECT_EQ(normalise("\\??\\C:\\x\\y.dll"), "C:\\x\\y.dll");
  EXPECT_EQ(normalise("\\SystemRoot\\System32\\ntdll.dll"), "C:\\WINDOWS\\System32\\ntdll.dll");
  EXPECT_EQ(normalise("\\\\server\\share\\a.dll"), "\\\\server\\share\\a.dll");
  EXPECT_EQ(normalise("C:\\plain.dll"), "C:\\plain.dll");
  EXPECT_EQ(normalise("\\Unknown\\a.dll"), "\\Unknown\\a.dll");
  EXPECT_EQ(normalise("\\SystemRoot"), "\\SystemRoot");  // no backslash after it
  EXPECT_EQ(normalise("\\"), "\\");
  // Does not fit: kept as it is.
  EXPECT_EQ(normalise("\\Long\\" + std::string(9, 'r')), "\\Long\\" + std::string(9, 'r'));
  EXPECT_EQ(normalise("\\Long\\" + std::string(8, 'r')), std::string(250, 'L') + "\\rrrrrrrr");
  EXPECT_EQ(normalise("\\SystemRoot\\abc", 14), "\\SystemRoot\\abc");
  EXPECT_EQ(normalise("\\SystemRoot\\abc", 15), "C:\\WINDOWS\\abc");
}

TEST(PsapiSource, SixteenBitTasks) {
  FakeWinApi api;
  api.loadable["VDMDBG.DLL"] = {"VDMEnumProcessWOW", "VDMEnumTaskWOWEx"};
  api.AddProcess(100, "ntvdm.exe", "C:\\ntvdm.exe");
  api.vdm_machines[100] = {{501, "WRITE", "C:\\WINDOWS\\WRITE.EXE"}, {502, "PLAIN", "PLAIN.EXE"}};
  WinSource source(api);
  source.Bind();
  const auto records = Enumerate(source);
  ASSERT_EQ(records.size(), 3u);
  EXPECT_STREQ(records[1].name, "  WRITE.EXE");
  EXPECT_EQ(records[1].process_id, 501u);
  EXPECT_EQ(records[1].parent_id, 100u);
  EXPECT_STREQ(records[1].path, "C:\\WINDOWS\\WRITE.EXE");
  EXPECT_STREQ(records[2].name, "  PLAIN");  // no backslash: the module name
}

TEST(PsapiSource, ModulesOfAProcess) {
  FakeWinApi api;
  api.environment["SystemRoot"] = "C:\\WINDOWS";
  FakeProcessImage& p = api.AddProcess(100, "app.exe", "C:\\app.exe");
  p.modules.push_back({"ntdll.dll", "\\SystemRoot\\System32\\ntdll.dll", 0x77000000, 0x1000});
  p.modules.push_back({std::string(400, 'n'), std::string(400, 'p'), 0x78000000, 0x2000});
  WinSource source(api);
  source.Bind();
  std::vector<ModuleEntry> modules;
  source.EnumerateModules(100, [&](const ModuleEntry& m) { modules.push_back(m); });
  ASSERT_EQ(modules.size(), 3u);
  EXPECT_STREQ(modules[1].path, "C:\\WINDOWS\\System32\\ntdll.dll");
  EXPECT_EQ(modules[1].base, 0x77000000u);
  EXPECT_EQ(modules[1].size, 0x1000u);
  EXPECT_EQ(std::string(modules[2].name).size(), 255u);
  EXPECT_EQ(std::string(modules[2].path).size(), 259u);
  modules.clear();
  api.processes[0].openable = false;
  source.EnumerateModules(100, [&](const ModuleEntry& m) { modules.push_back(m); });
  EXPECT_TRUE(modules.empty());
  EXPECT_EQ(api.open_handles, 0);
}

class ParamsTest : public ::testing::TestWithParam<size_t> {};

TEST_P(ParamsTest, CommandLineAndEnvironment) {
  const size_t ps = GetParam();
  FakeWinApi api;
  FakeProcessImage& p = api.AddProcess(100, "app.exe", "C:\\app.exe");
  static const char16_t kEnv[] = u"=C:=C:\\\0PATH=C:\\bin\0TEMP=C:\\tmp\0";
  api.WriteParams(p, ps, u"app.exe /S \u00e9", std::u16string(kEnv, sizeof kEnv / 2), 0x1000);
  WinSource source(api, ps == 4 ? win::kParams32 : win::kParams64);
  source.Bind();
  const auto records = Enumerate(source);
  const auto line = source.ReadCommandLine(records[0]);
  ASSERT_TRUE(line);
  EXPECT_EQ(*line, "app.exe /S ?");
  std::vector<std::string> printed;
  source.ReadEnvironment(records[0], [&](const char* v) { printed.push_back(v); });
  // Entries beginning with '=' are not shown.
  EXPECT_EQ(printed, (std::vector<std::string>{"PATH=C:\\bin", "TEMP=C:\\tmp"}));
  EXPECT_EQ(api.open_handles, 0);
}

INSTANTIATE_TEST_SUITE_P(PointerSizes, ParamsTest, ::testing::Values(4, 8));

TEST(PsapiSource, EnvironmentStopsAtTheRegionEnd) {
  FakeWinApi api;
  FakeProcessImage& p = api.AddProcess(100, "app.exe", "C:\\app.exe");
  // Exactly fills its region, without a terminating empty string.
  api.WriteParams(p, 8, u"x", u"AB=1", 8);
  WinSource source(api, win::kParams64);
  source.Bind();
  const auto record = Enumerate(source)[0];
  std::vector<std::string> printed;
  source.ReadEnvironment(record, [&](const char* v) { printed.push_back(v); });
  EXPECT_EQ(printed, (std::vector<std::string>{"AB=1"}));
}

TEST(PsapiSource, EnvironmentIsCutAt65536Bytes) {
  FakeWinApi api;
  FakeProcessImage& p = api.AddProcess(100, "app.exe", "C:\\app.exe");
  std::u16string big = u"A=" + std::u16string(40000, u'a');  // 80004 bytes, no terminator
  api.WriteParams(p, 8, u"x", big, 0x20000);
  WinSource source(api, win::kParams64);
  source.Bind();
  std::vector<std::string> printed;
  source.ReadEnvironment(Enumerate(source)[0], [&](const char* v) { printed.push_back(v); });
  ASSERT_EQ(printed.size(), 1u);
  EXPECT_EQ(printed[0].size(), 32768u);
}

TEST(PsapiSource, MissingParamsGiveNothing) {
  FakeWinApi api;
  FakeProcessImage& p = api.AddProcess(100, "app.exe", "C:\\app.exe");
  api.WriteParams(p, 8, u"cmd", u"\0X=1", 0x100);  // begins with a zero character
  WinSource source(api, win::kParams64);
  source.Bind();
  ProcessRecord record = Enumerate(source)[0];
  std::vector<std::string> printed;
  source.ReadEnvironment(record, [&](const char* v) { printed.push_back(v); });
  EXPECT_TRUE(printed.empty());
  // Reserved (not committed) environment region.
  api.processes[0].memory[0x40000].committed = false;
  source.ReadEnvironment(record, [&](const char* v) { printed.push_back(v); });
  EXPECT_TRUE(printed.empty());
  // Short read of the parameters.
  api.processes[0].memory[0x20000].bytes.resize(100);
  EXPECT_FALSE(source.ReadCommandLine(record));
  // No environment block address.
  record.environment_block = 0;
  EXPECT_FALSE(source.ReadCommandLine(record));
  api.processes[0].openable = false;
  EXPECT_FALSE(source.ReadCommandLine(Enumerate(source)[0]));
  EXPECT_EQ(api.open_handles, 0);
}

TEST(PsapiSource, CommandLineLengthBeyondCapacityIsBounded) {
  FakeWinApi api;
  FakeProcessImage& p = api.AddProcess(100, "app.exe", "C:\\app.exe");
  api.WriteParams(p, 8, u"abcd", u"A=1", 0x100);
  // A length larger than the capacity: only the capacity is read and used.
  Put(p.memory[0x20000].bytes, 0x70, 0xFFFE, 2);
  WinSource source(api, win::kParams64);
  source.Bind();
  const auto line = source.ReadCommandLine(Enumerate(source)[0]);
  ASSERT_TRUE(line);
  EXPECT_EQ(*line, "abcd");
}

TEST(ToolhelpSource, RecordsNamesAndSkips) {
  FakeWinApi api;
  api.version = kLegacy;
  FakeProcessImage& plain = api.AddProcess(10, "PLAIN.EXE", "C:\\APP\\PLAIN.EXE");
  plain.parent = 1;
  plain.priority_class = 0x80;
  plain.exe_file = "c:\\app\\plain.exe";  // same path, other case
  FakeProcessImage& ne = api.AddProcess(11, "KRNL386.EXE", "C:\\WIN\\KRNL386.EXE");
  ne.exe_file = "C:\\WIN\\WRITE.EXE";
  FakeProcessImage& fallback = api.AddProcess(12, "MOD.EXE", "C:\\MOD.EXE");
  fallback.exe_file = "C:\\OTHER.EXE";  // no NE file: the module name
  api.AddProcess(13, "LOST.EXE", "C:\\LOST.EXE").module_id = 99;  // no such module: skipped
  FakeProcessImage& locked = api.AddProcess(14, "LOCKED.EXE", "C:\\LOCKED.EXE");
  locked.openable = false;
  locked.exe_file = std::string(300, 'Z');  // unterminated in its record

  std::vector<uint8_t> file(0x200, 0);
  file[0] = 'M';
  file[1] = 'Z';
  Put(file, 60, 0x80, 4);
  file[0x80] = 'N';
  file[0x81] = 'E';
  Put(file, 0x80 + 38, 0x40, 2);
  file[0xC0] = 5;
  std::memcpy(&file[0xC1], "WRITE", 5);
  api.files["C:\\WIN\\WRITE.EXE"] = file;

  WinSource source(api);
  ASSERT_TRUE(source.Bind());
  const auto records = Enumerate(source);
  ASSERT_EQ(records.size(), 4u);
  EXPECT_STREQ(records[0].name, "PLAIN.EXE");
  EXPECT_EQ(records[0].parent_id, 1u);
  EXPECT_EQ(records[0].priority_class, 0x80u);
  EXPECT_STREQ(records[0].path, "c:\\app\\plain.exe");
  EXPECT_STREQ(records[1].name, "WRITE");
  EXPECT_STREQ(records[2].name, "MOD.EXE");
  EXPECT_EQ(records[3].process_id, 14u);
  EXPECT_EQ(records[3].priority_class, 0u);
  EXPECT_EQ(std::string(records[3].path), std::string(259, 'Z'));
  for (const ProcessRecord& r : records) EXPECT_EQ(r.flags, 0u);
  for (const win::DWORD access : api.open_access) EXPECT_EQ(access, 2035711u);
  EXPECT_EQ(api.open_handles, 0);

  std::vector<ModuleEntry> modules;
  source.EnumerateModules(10, [&](const ModuleEntry& m) { modules.push_back(m); });
  ASSERT_EQ(modules.size(), 1u);
  EXPECT_STREQ(modules[0].name, "PLAIN.EXE");
  EXPECT_EQ(modules[0].base, 0x400000u + 10 * 0x10000u);
}

TEST(ToolhelpSource, NeModuleNameRejectsBrokenFiles) {
  FakeWinApi api;
  WinSource source(api);
  char name[kNameSize];
  auto with = [&](std::vector<uint8_t> bytes) {
    api.files["F"] = std::move(bytes);
    return source.ReadNeModuleName("F", name, sizeof name);
  };
  std::vector<uint8_t> good(0x100, 0);
  good[0] = 'M';
  good[1] = 'Z';
  Put(good, 60, 0x40, 4);
  good[0x40] = 'N';
  good[0x41] = 'E';
  Put(good, 0x40 + 38, 0x40, 2);
  good[0x80] = 3;
  std::memcpy(&good[0x81], "ABC", 3);
  EXPECT_TRUE(with(good));
  EXPECT_STREQ(name, "ABC");

  std::vector<uint8_t> bad = good;
  bad[0] = 'X';
  EXPECT_FALSE(with(bad));
  bad = good;
  bad[0x41] = 'X';  // a PE or other header
  EXPECT_FALSE(with(bad));
  bad = good;
  Put(bad, 60, 0x7FFFFFF0, 4);  // header beyond the file
  EXPECT_FALSE(with(bad));
  bad = good;
  Put(bad, 0x40 + 38, 0xFFFF, 2);  // name table beyond the file
  EXPECT_FALSE(with(bad));
  bad = good;
  bad[0x80] = 255;  // name longer than the rest of the file: cut at its end
  EXPECT_TRUE(with(bad));
  EXPECT_EQ(std::string(name).substr(0, 3), "ABC");
  EXPECT_FALSE(with({'M', 'Z'}));
  EXPECT_FALSE(source.ReadNeModuleName("missing", name, sizeof name));
  char small[3];
  EXPECT_TRUE(with(good));
  EXPECT_TRUE(source.ReadNeModuleName("F", small, sizeof small));
  EXPECT_STREQ(small, "AB");
  EXPECT_EQ(api.open_handles, 0);
}

TEST(ToolhelpSource, CommandLineAndEnvironmentFromProcessDatabases) {
  FakeWinApi api;
  api.version = kLegacy;
  api.AddProcess(0x55, "APP.EXE", "C:\\APP.EXE");
  WinSource source(api);
  source.Bind();
  const win::ULONG_PTR database = (api.own_database ^ api.own_id) ^ 0x55;
  test::FakeRegion db;
  Put(db.bytes, 64, 0x9000, 4);
  api.shared_memory[database] = db;
  test::FakeRegion env_db;
  Put(env_db.bytes, 0, 0xA000, 4);
  Put(env_db.bytes, 8, 0xB000, 4);
  api.shared_memory[0x9000] = env_db;
  test::FakeRegion env;
  const char block[] = "=C:=C:\\\0PATH=C:\\DOS\0\0";
  env.bytes.assign(block, block + sizeof block);
  api.shared_memory[0xA000] = env;
  test::FakeRegion line;
  const char text[] = "APP.EXE /X";
  line.bytes.assign(text, text + sizeof text);
  api.shared_memory[0xB000] = line;

  const ProcessRecord record = Enumerate(source)[0];
  EXPECT_EQ(source.ReadCommandLine(record).value_or("?"), "APP.EXE /X");
  std::vector<std::string> printed;
  source.ReadEnvironment(record, [&](const char* v) { printed.push_back(v); });
  // All strings are shown here, those beginning with '=' too.
  EXPECT_EQ(printed, (std::vector<std::string>{"=C:=C:\\", "PATH=C:\\DOS"}));

  // An access fault on the way gives nothing.
  api.shared_memory.erase(0xB000);
  EXPECT_FALSE(source.ReadCommandLine(record));
  api.shared_memory.erase(database);
  printed.clear();
  source.ReadEnvironment(record, [&](const char* v) { printed.push_back(v); });
  EXPECT_TRUE(printed.empty());
}

TEST(Windows, TitlesOfAProcess) {
  FakeWinApi api;
  api.AddWindow(7, kShown, "First\x01title\t\xe9");
  api.AddWindow(8, kShown, "Other process");
  api.AddWindow(7, 0x10000000, "Visible without menu");
  api.AddWindow(7, kShown, "");
  api.AddWindow(7, kShown, "Second");
  api.AddWindow(7, kShown, std::string(1000, 'T'));
  WinSource source(api);
  ProcessRecord record;
  record.process_id = 7;
  auto titles = [&](const char* mask, bool hidden) {
    std::vector<std::string> out;
    for (const KeptWindow& w : source.CollectWindows(record, mask, hidden)) out.push_back(w.title);
    return out;
  };
  EXPECT_EQ(titles(nullptr, false), (std::vector<std::string>{"First title\t ", "Second",
                                                              std::string(259, 'T')}));
  EXPECT_EQ(titles("s*", false), (std::vector<std::string>{"Second"}));
  EXPECT_EQ(titles("*menu", true), (std::vector<std::string>{"Visible without menu"}));
  EXPECT_EQ(titles("", false), std::vector<std::string>{});  // empty titles never match
}

TEST(Windows, MainWindowSearch) {
  FakeWinApi api;
  const int other = api.AddWindow(8, kShown, "Other");
  const int popup = api.AddWindow(7, kShown | static_cast<win::LONG>(0x80000000u), "Popup");
  const int child = api.AddWindow(7, kShown, "Child of other", other);
  WinSource source(api);
  // The first search excludes pop-ups and finds the child of the other
  // process's window.
  EXPECT_EQ(source.FindMainWindow(7), reinterpret_cast<WindowId>(FakeWinApi::WindowHandle(child)));
  api.windows[child].style |= 0x20000000;  // minimised: the pop-up wins
  EXPECT_EQ(source.FindMainWindow(7), reinterpret_cast<WindowId>(FakeWinApi::WindowHandle(popup)));
  api.windows[popup].style |= 0x20000000;  // both minimised: the first in walk order
  EXPECT_EQ(source.FindMainWindow(7), reinterpret_cast<WindowId>(FakeWinApi::WindowHandle(child)));
  EXPECT_EQ(source.FindMainWindow(9), 0u);
  api.windows[popup].style = 0;  // hidden, without menu
  EXPECT_EQ(source.FindMainWindow(7), reinterpret_cast<WindowId>(FakeWinApi::WindowHandle(child)));
  // Children of a window of the process itself are not searched.
  FakeWinApi nested;
  const int own = nested.AddWindow(7, 0, "Own hidden");
  const int inner = nested.AddWindow(7, kShown, "Inner", own);
  (void)inner;
  WinSource second(nested);
  EXPECT_EQ(second.FindMainWindow(7), 0u);
}

TEST(Windows, MessagesAndActions) {
  FakeWinApi api;
  const int w = api.AddWindow(7, kShown | 0x20000000, "Doc");
  WinSource source(api);
  const WindowId id = reinterpret_cast<WindowId>(FakeWinApi::WindowHandle(w));
  EXPECT_EQ(source.WindowStyle(id) & kMinimizedStyle, kMinimizedStyle);
  source.SendWindowMessage(id, kSysCommandMessage, kRestoreCode);
  source.SetForegroundWindow(id);
  ASSERT_EQ(api.messages.size(), 1u);
  EXPECT_EQ(api.messages[0].first, 0x112u);
  EXPECT_EQ(api.messages[0].second, 0xF120u);
  EXPECT_EQ(api.foreground, FakeWinApi::WindowHandle(w));
}

TEST(Version, StringsOfAModuleFile) {
  FakeWinApi api;
  api.version_info["C:\\zel.exe"] = {
      {"\\VarFileInfo\\Translation", std::string("\x09\x04\xb0\x04", 4)},
      {"\\StringFileInfo\\040904b0\\FileVersion", "3.11.1.1"},
      {"\\StringFileInfo\\040904b0\\FileDescription", "Zel Viewer"}};
  api.version_info["C:\\long.dll"] = {
      {"\\VarFileInfo\\Translation", std::string("\x07\x04\xe4\x04", 4)},
      {"\\StringFileInfo\\040704e4\\FileVersion", std::string(400, 'v')},
      {"\\StringFileInfo\\040704e4\\FileDescription", std::string(400, 'd')}};
  api.version_info["C:\\none.dll"] = {};
  WinSource source(api);
  char out[kVersionTextSize];
  source.ReadVersionStrings("C:\\zel.exe", out);
  EXPECT_STREQ(out, " 3.11.1.1             Zel Viewer");
  source.ReadVersionStrings("C:\\long.dll", out);
  EXPECT_EQ(std::string(out), " " + std::string(400, 'v'));  // the second does not fit
  source.ReadVersionStrings("C:\\none.dll", out);
  EXPECT_STREQ(out, "");
  source.ReadVersionStrings("C:\\missing.dll", out);
  EXPECT_STREQ(out, "");
}

TEST(Waits, PlatformCodesMapToOutcomes) {
  FakeWinApi api;
  api.AddProcess(1, "a", "a");
  api.AddProcess(2, "b", "b");
  WinSource source(api);
  std::vector<ProcessHandle> handles = {source.OpenProcess(kSynchronizeAccess, 1),
                                        source.OpenProcess(kSynchronizeAccess, 2)};
  api.wait_code = 1;
  WaitResult r = source.WaitForProcesses(handles, false, 100);
  EXPECT_EQ(r.outcome, WaitOutcome::kSignaled);
  EXPECT_EQ(r.index, 1u);
  api.wait_code = 0x81;
  r = source.WaitForProcesses(handles, false, 100);
  EXPECT_EQ(r.outcome, WaitOutcome::kAbandoned);
  EXPECT_EQ(r.index, 1u);
  api.wait_code = 0x102;
  EXPECT_EQ(source.WaitForProcesses(handles, true, 100).outcome, WaitOutcome::kTimeout);
  handles.push_back(0);  // an empty handle fails the wait
  EXPECT_EQ(source.WaitForProcesses(handles, true, 100).outcome, WaitOutcome::kFailed);
  handles.pop_back();
  api.wait_code = 5;  // index beyond the set
  EXPECT_EQ(source.WaitForProcesses(handles, false, 100).outcome, WaitOutcome::kFailed);
  for (const ProcessHandle h : handles) source.CloseProcess(h);
  EXPECT_EQ(api.open_handles, 0);
}

}  // namespace
}  // namespace zel
