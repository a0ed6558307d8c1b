// zel.exe's listings of real processes under Wine: names, IDs, priorities,
// paths, command lines, module filters and exit codes.
#include <gtest/gtest.h>

#include "harness.h"

namespace zeltest {
namespace {

class ZelListing : public ::testing::Test {
 protected:
  Scratch scratch;
  Helpers helpers{scratch};
  ZelRun Run(const std::string& args) { return RunZel(scratch, args); }
};

TEST_F(ZelListing, NamesAndIdsOfMatchingProcesses) {
  Started a = helpers.Child("zla" + Tag() + ".exe", 60000);
  Started b = helpers.Child("zlb" + Tag() + ".exe", 60000);
  ZelRun r = Run("zl?" + Tag() + ".exe");
  EXPECT_EQ(r.code, 0u) << r.err;
  EXPECT_EQ(r.out, "\n" + Format("%-15s %8u \n", a.name.c_str(), a.id) + Format("%-15s %8u \n", b.name.c_str(), b.id));
  EXPECT_EQ(r.err, "");
}

TEST_F(ZelListing, NegatedCountIsTheExitCode) {
  helpers.Child("zna" + Tag() + ".exe", 60000);
  helpers.Child("znb" + Tag() + ".exe", 60000);
  EXPECT_EQ(Run("-n zn?" + Tag() + ".exe").code, static_cast<DWORD>(-2));
  EXPECT_EQ(Run("-n zna" + Tag() + ".exe").code, static_cast<DWORD>(-1));
}

TEST_F(ZelListing, NothingMatchingEndsWithOne) {
  ZelRun r = Run("nosuch" + Tag() + ".exe");
  EXPECT_EQ(r.code, 1u);
  EXPECT_EQ(r.err, "zel: No matching processes found\n");
}

TEST_F(ZelListing, ExtendedShowsPriorityAndPath) {
  Started c = helpers.Child("zle" + Tag() + ".exe", 60000);
  ZelRun r = Run("-e " + c.name);
  EXPECT_EQ(r.code, 0u) << r.err;
  EXPECT_EQ(r.out, "  PROCESS            PID PRIO     PATH\n" +
                       Format("%-15s %8u %-8s %s \n", c.name.c_str(), c.id, "Normal", c.path.c_str()));
  ASSERT_TRUE(SetPriorityClass(c.process, HIGH_PRIORITY_CLASS));
  EXPECT_TRUE(Has(Run("-e " + c.name).out, Format("%-8s %s \n", "High", c.path.c_str())));
}

TEST_F(ZelListing, QuietIsTabSeparatedAndBareIsIdsOnly) {
  Started c = helpers.Child("zlq" + Tag() + ".exe", 60000);
  EXPECT_EQ(Run("-q -e " + c.name).out, Format("%s\t%u\tNormal\t%s\t\n", c.name.c_str(), c.id, c.path.c_str()));
  EXPECT_EQ(Run("-b " + c.name).out, Format("%u\n", c.id));
}

TEST_F(ZelListing, ByIdInDecimalHexadecimalAndOctal) {
  Started c = helpers.Child("zli" + Tag() + ".exe", 60000);
  const std::string line = Format("%-15s %8u \n", c.name.c_str(), c.id);
  EXPECT_EQ(Run("-i " + Format("%u", c.id)).out, "\n" + line);
  EXPECT_EQ(Run("-i " + Format("0x%X", c.id)).out, "\n" + line);
  EXPECT_EQ(Run("-i " + Format("0%o", c.id)).out, "\n" + line);
  ZelRun bad = Run("-i 0");
  EXPECT_EQ(bad.code, 2u);
  EXPECT_EQ(bad.err, "\nzel: Invalid process ID '0'\nzel: Use 'zel -h' for help\n");
}

TEST_F(ZelListing, LongViewShowsTheCommandLineAndFiltersByIt) {
  Started c = helpers.Child("zll" + Tag() + ".exe", 60000, "alpha \"beta gamma\"");
  const std::string cmd = "\"" + c.path + "\" 60000 alpha \"beta gamma\"";
  ZelRun r = Run("-l " + c.name);
  EXPECT_EQ(r.code, 0u) << r.err;
  EXPECT_EQ(r.out, "  PROCESS            PID COMMAND LINE\n" + Format("%-15s %8u %s\n", c.name.c_str(), c.id, cmd.c_str()));
  EXPECT_EQ(Run("-l*beta* " + c.name).code, 0u);
  EXPECT_EQ(Run("-l*delta* " + c.name).code, 1u);
}

TEST_F(ZelListing, UsageFilterByLoadedModule) {
  Started c = helpers.Child("zlu" + Tag() + ".exe", 60000);
  EXPECT_EQ(Run("-b -u kernel32.dll " + c.name).out, Format("%u\n", c.id));
  EXPECT_EQ(Run("-b -u KERNEL3?.DLL " + c.name).out, Format("%u\n", c.id));
  EXPECT_EQ(Run("-u nosuch.dll " + c.name).code, 1u);
}

// Wine differs: there is no "System" process; Wine's own services are listed
// with their paths under C:\windows\system32.
TEST_F(ZelListing, WineDiffers_NoSystemProcessButWineServicesWithPaths) {
  ZelRun r = Run("-e");
  EXPECT_EQ(r.code, 0u) << r.err;
  EXPECT_TRUE(Has(r.out, "C:\\windows\\system32\\services.exe \n")) << r.out;
  EXPECT_TRUE(Has(r.out, "C:\\windows\\system32\\winedevice.exe \n")) << r.out;
  EXPECT_EQ(Run("System").code, 1u);
}

}  // namespace
}  // namespace zeltest
