// zel.exe's -g and -m views of real processes under Wine: the start-up
// environment of a child started with known values, the modules of a process
// with bases and sizes, and version strings (zel.exe's own among them).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <map>

#include "harness.h"

#include <tlhelp32.h>

namespace zeltest {
namespace {

class ZelViews : public ::testing::Test {
 protected:
  Scratch scratch;
  Helpers helpers{scratch};
  ZelRun Run(const std::string& args) { return RunZel(scratch, args); }
};

std::vector<std::string> OwnEnvironmentPlus(const std::vector<std::string>& extra) {
  std::vector<std::string> env;
  char* block = GetEnvironmentStringsA();
  for (const char* p = block; *p; p += std::strlen(p) + 1) env.emplace_back(p);
  FreeEnvironmentStringsA(block);
  env.insert(env.end(), extra.begin(), extra.end());
  return env;
}

TEST_F(ZelViews, EnvironmentOfAChildStartedWithKnownValues) {
  Started c = helpers.Child("zge" + Tag() + ".exe", 60000, "",
                            OwnEnvironmentPlus({"ZELTEST_ALPHA=first value", "=ZELTEST:=hidden", "ZELTEST_B=z"}));
  ZelRun r = Run("-g " + c.name);
  EXPECT_EQ(r.code, 0u) << r.err;
  std::vector<std::string> lines = Lines(r.out);
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[0], Format("  Environment information for  '%s' (%u)", c.name.c_str(), c.id));
  EXPECT_TRUE(Has(r.out, "\nZELTEST_ALPHA=first value\n")) << r.out;
  EXPECT_TRUE(Has(r.out, "\n" + Format("%-15s\n", "ZELTEST_B=z"))) << r.out;
  EXPECT_FALSE(Has(r.out, "=ZELTEST:")) << r.out;
  // Quiet: no heading, one entry a line.
  ZelRun q = Run("-q -g " + c.name);
  EXPECT_FALSE(Has(q.out, "Environment information"));
  EXPECT_TRUE(Has(q.out, "ZELTEST_B=z\n"));
}

TEST_F(ZelViews, ModulesWithBasesSizesAndPaths) {
  Started c = helpers.Child("zgm" + Tag() + ".exe", 60000);
  ZelRun r = Run("-m " + c.name);
  EXPECT_EQ(r.code, 0u) << r.err;
  std::vector<std::string> lines = Lines(r.out);
  ASSERT_GE(lines.size(), 4u) << r.out;
  EXPECT_EQ(lines[0], Format("  Module information for  '%s'(%u)", c.name.c_str(), c.id));
  EXPECT_EQ(lines[1], "  MODULE          BASE     SIZE     PATH");
  // Module lines are name, base (hexadecimal), size and path, and agree with
  // the platform's own module snapshot.
  struct Shown {
    unsigned long long base = 0, size = 0;
  };
  std::map<std::string, Shown> shown;
  for (size_t i = 2; i < lines.size(); ++i) {
    char name[260];
    Shown s;
    ASSERT_EQ(std::sscanf(lines[i].c_str(), "%259s %llx %llu", name, &s.base, &s.size), 3) << lines[i];
    shown[name] = s;
  }
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, c.id);
  ASSERT_NE(snap, INVALID_HANDLE_VALUE);
  MODULEENTRY32 me;
  me.dwSize = sizeof me;
  size_t checked = 0;
  for (BOOL ok = Module32First(snap, &me); ok; ok = Module32Next(snap, &me)) {
    auto it = shown.find(me.szModule);
    if (it == shown.end()) continue;
    EXPECT_EQ(it->second.base, static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(me.modBaseAddr)))
        << me.szModule;
    EXPECT_EQ(it->second.size, me.modBaseSize) << me.szModule;
    ++checked;
  }
  CloseHandle(snap);
  EXPECT_EQ(checked, shown.size());
  EXPECT_EQ(shown.count(c.name), 1u);
  EXPECT_EQ(shown.count("kernel32.dll"), 1u);
  EXPECT_EQ(lines[2].substr(0, c.name.size()), c.name);
  EXPECT_EQ(lines[2].substr(lines[2].size() - c.path.size()), c.path);
}

TEST_F(ZelViews, ModulesWithVersionStringsOfZelItself) {
  ZelRun r = Run("-m -e zel.exe");
  EXPECT_EQ(r.code, 0u) << r.err;
  std::string own;
  for (const std::string& line : Lines(r.out)) {
    if (line.rfind("zel.exe ", 0) == 0) own = line;
  }
  ASSERT_FALSE(own.empty()) << r.out;
  const std::string path = ZelPath();
  EXPECT_TRUE(Has(own, Format(" %-40s  3.11.1.1             Zel Viewer: shows and acts on running processes", path.c_str())))
      << own;
  // Wine's own modules carry version resources too.
  EXPECT_TRUE(Has(r.out, "Wine")) << r.out;
}

TEST_F(ZelViews, ModeWithoutPatternIsAnError) {
  ZelRun r = Run("-m");
  EXPECT_EQ(r.code, 2u);
  EXPECT_EQ(r.err, "zel: Missing argument(s)\nzel: Use 'zel -h' for help\n");
}

}  // namespace
}  // namespace zeltest
