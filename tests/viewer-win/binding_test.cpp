// The real binding of the Windows operations, through the process source that
// zel.exe uses, on real processes and windows under Wine.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "harness.h"
#include "source/make_source.h"
#include "source/process_source.h"

namespace zeltest {
namespace {

using zel::ProcessHandle;
using zel::ProcessRecord;
using zel::ProcessSource;
using zel::WaitOutcome;

std::unique_ptr<ProcessSource> BoundSource() {
  std::unique_ptr<ProcessSource> source = zel::MakePlatformSource();
  EXPECT_TRUE(source->Bind());
  return source;
}

std::optional<ProcessRecord> FindRecord(ProcessSource& source, DWORD id) {
  std::optional<ProcessRecord> found;
  source.EnumerateProcesses([&](const ProcessRecord& r) {
    if (r.process_id == id) found = r;
  });
  return found;
}

std::vector<std::string> OwnEnvironmentPlus(const std::vector<std::string>& extra) {
  std::vector<std::string> env;
  char* block = GetEnvironmentStringsA();
  for (const char* p = block; *p; p += std::strlen(p) + 1) env.emplace_back(p);
  FreeEnvironmentStringsA(block);
  env.insert(env.end(), extra.begin(), extra.end());
  return env;
}

class Binding : public ::testing::Test {
 protected:
  Scratch scratch;
  Helpers helpers{scratch};
  std::unique_ptr<ProcessSource> source = BoundSource();
};

TEST_F(Binding, NewerSystemAndPsapiLoadedOnDemand) {
  EXPECT_TRUE(source->IsNewerSystem());
  EXPECT_NE(GetModuleHandleA("PSAPI.DLL"), nullptr);
}

TEST_F(Binding, ChildRecordHasNameParentPathPriorityAndBlock) {
  Started c = helpers.Child("zrec" + Tag() + ".exe", 60000);
  ASSERT_NE(c.id, 0u);
  std::optional<ProcessRecord> r = FindRecord(*source, c.id);
  ASSERT_TRUE(r.has_value());
  EXPECT_EQ(r->flags, 0u);
  EXPECT_EQ(std::string(r->name), c.name);
  EXPECT_EQ(r->parent_id, GetCurrentProcessId());
  EXPECT_EQ(lstrcmpiA(r->path, c.path.c_str()), 0) << r->path << " vs " << c.path;
  EXPECT_EQ(r->priority_class, static_cast<uint32_t>(NORMAL_PRIORITY_CLASS));
  EXPECT_NE(r->environment_block, 0u);
}

// Wine differs: a process started from Linux (this test program, started by
// CTest) has no parent; on Windows it would have the starting process's ID.
TEST_F(Binding, WineDiffers_ProcessStartedFromLinuxHasParentZero) {
  std::optional<ProcessRecord> self = FindRecord(*source, GetCurrentProcessId());
  ASSERT_TRUE(self.has_value());
  EXPECT_EQ(self->parent_id, 0u);
  EXPECT_EQ(self->path[0], 'Z') << self->path;
}

TEST_F(Binding, CommandLineReadAtThePlatformOffsets) {
  Started c = helpers.Child("zcmd" + Tag() + ".exe", 60000, "alpha \"beta gamma\" --x=1");
  ASSERT_NE(c.id, 0u);
  std::optional<ProcessRecord> r = FindRecord(*source, c.id);
  ASSERT_TRUE(r.has_value());
  std::optional<std::string> line = source->ReadCommandLine(*r);
  ASSERT_TRUE(line.has_value());
  EXPECT_EQ(*line, "\"" + c.path + "\" 60000 alpha \"beta gamma\" --x=1");
}

TEST_F(Binding, EnvironmentReadWithoutEqualsEntries) {
  Started c = helpers.Child("zenv" + Tag() + ".exe", 60000, "",
                            OwnEnvironmentPlus({"ZELTEST_ALPHA=first value", "=ZELTEST:=hidden entry",
                                                "ZELTEST_LAST=z"}));
  ASSERT_NE(c.id, 0u);
  std::optional<ProcessRecord> r = FindRecord(*source, c.id);
  ASSERT_TRUE(r.has_value());
  std::vector<std::string> printed;
  source->ReadEnvironment(*r, [&](const char* s) { printed.emplace_back(s); });
  EXPECT_NE(std::find(printed.begin(), printed.end(), "ZELTEST_ALPHA=first value"), printed.end());
  EXPECT_NE(std::find(printed.begin(), printed.end(), "ZELTEST_LAST=z"), printed.end());
  for (const std::string& s : printed) EXPECT_NE(s[0], '=') << s;
}

TEST_F(Binding, ModulesStartWithTheExecutableAndHaveBasesAndSizes) {
  Started c = helpers.Child("zmod" + Tag() + ".exe", 60000);
  ASSERT_NE(c.id, 0u);
  std::vector<zel::ModuleEntry> modules;
  source->EnumerateModules(c.id, [&](const zel::ModuleEntry& m) { modules.push_back(m); });
  ASSERT_GE(modules.size(), 3u);
  EXPECT_EQ(std::string(modules[0].name), c.name);
  EXPECT_EQ(lstrcmpiA(modules[0].path, c.path.c_str()), 0);
  bool kernel = false;
  for (const zel::ModuleEntry& m : modules) {
    EXPECT_NE(m.base, 0u) << m.name;
    EXPECT_GT(m.size, 0u) << m.name;
    if (lstrcmpiA(m.name, "kernel32.dll") == 0) {
      kernel = true;
      EXPECT_EQ(reinterpret_cast<uintptr_t>(GetModuleHandleA("kernel32.dll")), m.base);
    }
  }
  EXPECT_TRUE(kernel);
}

TEST_F(Binding, VersionStringsOfZelItself) {
  char text[zel::kVersionTextSize];
  source->ReadVersionStrings(ZelPath().c_str(), text);
  EXPECT_EQ(std::string(text), " 3.11.1.1             Zel Viewer: shows and acts on running processes");
  source->ReadVersionStrings((scratch.Dir() + "\\missing.exe").c_str(), text);
  EXPECT_EQ(std::string(text), "");
}

TEST_F(Binding, MainWindowPrefersTheOneNotMinimised) {
  const std::string prefix = "Pair " + Tag();
  Started w = helpers.Windows("zpair" + Tag() + ".exe", scratch.Path("r.txt"), prefix, "pair");
  ASSERT_NE(w.id, 0u);
  HWND main = FindTitle(prefix + " Main"), min = FindTitle(prefix + " Minimised");
  ASSERT_NE(main, nullptr);
  // The minimised window lies above the other one, so the order of the
  // searches decides.
  HWND first = nullptr;
  for (HWND h = GetWindow(GetDesktopWindow(), GW_CHILD); h && !first; h = GetWindow(h, GW_HWNDNEXT)) {
    DWORD owner = 0;
    GetWindowThreadProcessId(h, &owner);
    if (owner == w.id && IsWindowVisible(h)) first = h;
  }
  ASSERT_EQ(first, min);
  EXPECT_EQ(source->FindMainWindow(w.id), reinterpret_cast<zel::WindowId>(main));
  EXPECT_NE(source->WindowStyle(reinterpret_cast<zel::WindowId>(min)) & zel::kMinimizedStyle, 0u);
  EXPECT_EQ(source->WindowStyle(reinterpret_cast<zel::WindowId>(main)) & zel::kMinimizedStyle, 0u);
}

TEST_F(Binding, RestoreAndForegroundReachAMinimisedWindow) {
  const std::string prefix = "Restore " + Tag();
  const std::string record = scratch.Path("r.txt");
  Started w = helpers.Windows("zres" + Tag() + ".exe", record, prefix, "minimised");
  ASSERT_NE(w.id, 0u);
  const zel::WindowId found = source->FindMainWindow(w.id);
  ASSERT_EQ(found, reinterpret_cast<zel::WindowId>(FindTitle(prefix + " Minimised")));
  source->SendWindowMessage(found, zel::kSysCommandMessage, zel::kRestoreCode);
  EXPECT_NE(ReadFileText(record).find("min WM_SYSCOMMAND 0xF120\n"), std::string::npos);
  EXPECT_FALSE(IsIconic(reinterpret_cast<HWND>(found)));
  source->SetForegroundWindow(found);
  EXPECT_EQ(GetForegroundWindow(), reinterpret_cast<HWND>(found));
}

TEST_F(Binding, CommandThenSystemCloseReachTheWindow) {
  const std::string prefix = "Close " + Tag();
  const std::string record = scratch.Path("r.txt");
  Started w = helpers.Windows("zclo" + Tag() + ".exe", record, prefix, "single");
  ASSERT_NE(w.id, 0u);
  const zel::WindowId found = source->FindMainWindow(w.id);
  ASSERT_NE(found, 0u);
  source->SendWindowMessage(found, zel::kCommandMessage, 1001);
  source->SendWindowMessage(found, zel::kSysCommandMessage, zel::kSysCommandBase + 32);
  source->SendWindowMessage(found, zel::kSysCommandMessage, zel::kCloseCode);
  EXPECT_TRUE(Ended(w.process, 10000));
  EXPECT_EQ(ReadFileText(record),
            "ready\nmain WM_COMMAND 1001\nmain WM_SYSCOMMAND 0xF020\nmain WM_SYSCOMMAND 0xF060\nmain WM_CLOSE\n"
            "exit\n");
}

TEST_F(Binding, TerminateWithAllOnesExitCode) {
  Started c = helpers.Child("zkil" + Tag() + ".exe", 60000);
  ASSERT_NE(c.id, 0u);
  const ProcessHandle h = source->OpenProcess(zel::kTerminateAccess, c.id);
  ASSERT_NE(h, 0);
  EXPECT_TRUE(source->TerminateProcess(h, 0xFFFFFFFF));
  // Terminate access alone does not allow waiting.
  source->CloseProcess(h);
  ASSERT_TRUE(Ended(c.process, 5000));
  DWORD code = 0;
  GetExitCodeProcess(c.process, &code);
  EXPECT_EQ(code, 0xFFFFFFFFu);
}

TEST_F(Binding, WaitForProcessTimesOutThenSignals) {
  Started c = helpers.Child("zwt" + Tag() + ".exe", 1500);
  ASSERT_NE(c.id, 0u);
  const ProcessHandle h = source->OpenProcess(zel::kSynchronizeAccess, c.id);
  ASSERT_NE(h, 0);
  EXPECT_EQ(source->WaitForProcess(h, 100).outcome, WaitOutcome::kTimeout);
  EXPECT_EQ(source->WaitForProcess(h, 5000).outcome, WaitOutcome::kSignaled);
  source->CloseProcess(h);
}

TEST_F(Binding, OpenProcessOfAnEndedIdFails) {
  Started c = helpers.Child("zend" + Tag() + ".exe", 10);
  ASSERT_TRUE(Ended(c.process, 5000));
  // Our own handle keeps the ID's object; a fresh open of a gone ID fails.
  EXPECT_EQ(source->OpenProcess(zel::kSynchronizeAccess, 0xFFFFFFF0u), 0);
}

TEST_F(Binding, SetPriorityClassSeenByEnumeration) {
  Started c = helpers.Child("zpri" + Tag() + ".exe", 60000);
  ASSERT_NE(c.id, 0u);
  const ProcessHandle h = source->OpenProcess(zel::kSetInformationAccess, c.id);
  ASSERT_NE(h, 0);
  EXPECT_TRUE(source->SetPriorityClass(h, BELOW_NORMAL_PRIORITY_CLASS));
  source->CloseProcess(h);
  EXPECT_EQ(GetPriorityClass(c.process), static_cast<DWORD>(BELOW_NORMAL_PRIORITY_CLASS));
  std::optional<ProcessRecord> r = FindRecord(*source, c.id);
  ASSERT_TRUE(r.has_value());
  EXPECT_EQ(r->priority_class, static_cast<uint32_t>(BELOW_NORMAL_PRIORITY_CLASS));
}

class Wait : public Binding {};

TEST_F(Wait, AnyGivesTheIndexOfTheEndedProcess) {
  Started slow = helpers.Child("zws" + Tag() + ".exe", 60000);
  Started quick = helpers.Child("zwq" + Tag() + ".exe", 500);
  std::vector<ProcessHandle> handles = {source->OpenProcess(zel::kSynchronizeAccess, slow.id),
                                        source->OpenProcess(zel::kSynchronizeAccess, quick.id)};
  zel::WaitResult r = source->WaitForProcesses(handles, false, 10000);
  EXPECT_EQ(r.outcome, WaitOutcome::kSignaled);
  EXPECT_EQ(r.index, 1u);
  r = source->WaitForProcesses(handles, true, 300);
  EXPECT_EQ(r.outcome, WaitOutcome::kTimeout);
  for (ProcessHandle h : handles) source->CloseProcess(h);
}

TEST_F(Wait, AllEndsWhenEveryProcessHasEnded) {
  Started a = helpers.Child("zwa" + Tag() + ".exe", 300);
  Started b = helpers.Child("zwb" + Tag() + ".exe", 900);
  std::vector<ProcessHandle> handles = {source->OpenProcess(zel::kSynchronizeAccess, a.id),
                                        source->OpenProcess(zel::kSynchronizeAccess, b.id)};
  EXPECT_EQ(source->WaitForProcesses(handles, true, 10000).outcome, WaitOutcome::kSignaled);
  EXPECT_TRUE(Ended(b.process, 0));
  for (ProcessHandle h : handles) source->CloseProcess(h);
}

TEST_F(Wait, SixtyFourHandlesAreTheLimit) {
  Started c = helpers.Child("zw64" + Tag() + ".exe", 60000);
  std::vector<ProcessHandle> handles;
  for (int i = 0; i < 65; ++i) handles.push_back(source->OpenProcess(zel::kSynchronizeAccess, c.id));
  EXPECT_EQ(std::count(handles.begin(), handles.end(), 0), 0);
  std::vector<ProcessHandle> sixty_four(handles.begin(), handles.begin() + 64);
  EXPECT_EQ(source->WaitForProcesses(sixty_four, false, 100).outcome, WaitOutcome::kTimeout);
  EXPECT_EQ(source->WaitForProcesses(handles, false, 100).outcome, WaitOutcome::kFailed);
  for (ProcessHandle h : handles) source->CloseProcess(h);
}

TEST_F(Wait, AnEmptyHandleFailsTheWait) {
  Started c = helpers.Child("zwe" + Tag() + ".exe", 200);
  std::vector<ProcessHandle> handles = {source->OpenProcess(zel::kSynchronizeAccess, c.id), 0};
  EXPECT_EQ(source->WaitForProcesses(handles, false, 5000).outcome, WaitOutcome::kFailed);
  source->CloseProcess(handles[0]);
}

DWORD WINAPI TakeMutexAndEnd(void* mutex) {
  WaitForSingleObject(static_cast<HANDLE>(mutex), INFINITE);
  return 0;  // ends without releasing it: abandoned
}

TEST_F(Wait, AnAbandonedObjectGivesItsIndex) {
  Started c = helpers.Child("zwm" + Tag() + ".exe", 60000);
  HANDLE mutex = CreateMutexA(nullptr, FALSE, nullptr);
  HANDLE thread = CreateThread(nullptr, 0, TakeMutexAndEnd, mutex, 0, nullptr);
  ASSERT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
  CloseHandle(thread);
  std::vector<ProcessHandle> handles = {source->OpenProcess(zel::kSynchronizeAccess, c.id),
                                        reinterpret_cast<ProcessHandle>(mutex)};
  zel::WaitResult r = source->WaitForProcesses(handles, false, 5000);
  EXPECT_EQ(r.outcome, WaitOutcome::kAbandoned);
  EXPECT_EQ(r.index, 1u);
  source->CloseProcess(handles[0]);
  CloseHandle(mutex);
}

}  // namespace
}  // namespace zeltest
