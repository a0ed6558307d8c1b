// The test programs themselves: the zel tests rely on the window program
// recording exactly what reaches it and on the child keeping its command line
// and environment, so a fault there must not pass for a fault of zel.
#include <gtest/gtest.h>

#include "harness.h"

namespace zeltest {
namespace {

TEST(TestPrograms, WindowProgramRecordsCommandsAndClosesOnSystemClose) {
  Scratch scratch;
  Helpers helpers(scratch);
  const std::string record = scratch.Path("record.txt");
  const std::string prefix = "Fixture " + Tag();
  Started w = helpers.Windows("zfix" + Tag() + ".exe", record, prefix, "single");
  ASSERT_NE(w.id, 0u) << "window program did not get ready";
  HWND main = FindTitle(prefix + " Main");
  ASSERT_NE(main, nullptr);
  DWORD owner = 0;
  GetWindowThreadProcessId(main, &owner);
  EXPECT_EQ(owner, w.id);
  SendMessageA(main, WM_COMMAND, 1234, 0);
  SendMessageA(main, WM_SYSCOMMAND, SC_CLOSE, 0);
  EXPECT_TRUE(Ended(w.process, 10000));
  const std::string text = ReadFileText(record);
  EXPECT_NE(text.find("main WM_COMMAND 1234\n"), std::string::npos) << text;
  EXPECT_NE(text.find("main WM_SYSCOMMAND 0xF060\nmain WM_CLOSE\n"), std::string::npos) << text;
  DWORD code = 1;
  GetExitCodeProcess(w.process, &code);
  EXPECT_EQ(code, 0u);
}

TEST(TestPrograms, WindowProgramFullLayoutHasFourWindowsOneMinimisedOneHidden) {
  Scratch scratch;
  Helpers helpers(scratch);
  const std::string prefix = "Layout " + Tag();
  Started w = helpers.Windows("zlay" + Tag() + ".exe", scratch.Path("r.txt"), prefix, "full");
  ASSERT_NE(w.id, 0u);
  HWND min = FindTitle(prefix + " Minimised");
  HWND hidden = FindTitle(prefix + " Hidden");
  ASSERT_NE(min, nullptr);
  ASSERT_NE(hidden, nullptr);
  EXPECT_TRUE(IsIconic(min));
  EXPECT_FALSE(IsWindowVisible(hidden));
  EXPECT_TRUE(IsWindowVisible(FindTitle(prefix + " Main")));
  EXPECT_NE(FindTitle(prefix + " Ctrl\x01" "Chars\xE9"), nullptr);
}

TEST(TestPrograms, ChildEndsWithSevenAfterItsSleep) {
  Scratch scratch;
  Helpers helpers(scratch);
  Started c = helpers.Child("zch" + Tag() + ".exe", 300, "alpha");
  ASSERT_NE(c.id, 0u);
  ASSERT_TRUE(Ended(c.process, 10000));
  DWORD code = 0;
  GetExitCodeProcess(c.process, &code);
  EXPECT_EQ(code, 7u);
}

TEST(TestPrograms, HelpersEndTheirProcessesAndGrandchildren) {
  Scratch scratch;
  HANDLE child = nullptr, grandchild = nullptr;
  {
    Helpers helpers(scratch);
    Started c = helpers.Child("zgc" + Tag() + ".exe", 60000, "spawn");
    ASSERT_NE(c.id, 0u);
    DuplicateHandle(GetCurrentProcess(), c.process, GetCurrentProcess(), &child, 0, FALSE, DUPLICATE_SAME_ACCESS);
    DWORD gc = FindChildOf(c.id, 10000);
    ASSERT_NE(gc, 0u) << "the child did not start its copy";
    grandchild = OpenProcess(SYNCHRONIZE, FALSE, gc);
    ASSERT_NE(grandchild, nullptr);
  }
  EXPECT_TRUE(Ended(child, 5000));
  EXPECT_TRUE(Ended(grandchild, 5000));
  CloseHandle(child);
  CloseHandle(grandchild);
}

}  // namespace
}  // namespace zeltest
