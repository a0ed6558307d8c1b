// The command-line parser: option letters and long names, argument rules,
// conflicts, every message, and the help text.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "command_line.h"
#include "error_stream.h"
#include "fake_source.h"
#include "options.h"
#include "priority.h"

namespace zel {
namespace {

using test::ReadAll;

struct Parsed {
  std::optional<int> code;
  std::string out;
  std::string err;
};

Parsed Parse(Options& o, std::vector<std::string> words, bool newer = true) {
  FILE* out = std::tmpfile();
  FILE* err = std::tmpfile();
  Parsed p;
  {
    ErrorStream errors(err);
    o.words = std::move(words);
    p.code = ParseCommandLine(o, errors, out, newer);
  }
  p.out = ReadAll(out);
  p.err = ReadAll(err);
  std::fclose(out);
  std::fclose(err);
  return p;
}

const char kHint[] = "zel: Use 'zel -h' for help\n";

TEST(CommandLine, LettersCombineAndFoldToLowerCase) {
  Options o;
  Parsed p = Parse(o, {"-eF", "/Q", "-i", "-N"});
  EXPECT_FALSE(p.code);
  EXPECT_TRUE(o.extended);
  EXPECT_TRUE(o.force);
  EXPECT_TRUE(o.quiet);
  EXPECT_TRUE(o.by_id);
  EXPECT_TRUE(o.negated_count);
  EXPECT_EQ(o.plain_argument_count, 0);
}

TEST(CommandLine, PlainArgumentsAndLoneDashes) {
  Options o;
  Parsed p = Parse(o, {"a", "-", "/", "b", ""});
  EXPECT_FALSE(p.code);
  EXPECT_EQ(o.plain_argument_count, 3);  // "a", "b" and the empty word
}

TEST(CommandLine, BareImpliesQuiet) {
  Options o;
  Parse(o, {"-b"});
  EXPECT_TRUE(o.bare);
  EXPECT_TRUE(o.quiet);
}

TEST(CommandLine, LongNamesArePrefixesInTableOrder) {
  struct Case {
    const char* word;
    bool Options::*flag;
  };
  const Case cases[] = {{"--e", &Options::extended},  {"--ex", &Options::extended},
                        {"--extend", &Options::extended}, {"--exi", &Options::wait_for_exit},
                        {"--EXIT", &Options::wait_for_exit}, {"--b", &Options::bare},
                        {"--f", &Options::force},    {"--i", &Options::by_id},
                        {"--l", &Options::long_view}, {"--n", &Options::negated_count},
                        {"--q", &Options::quiet},    {"--r", &Options::repeat},
                        {"--t", &Options::tree},     {"--w", &Options::window_filter}};
  for (const Case& c : cases) {
    Options o;
    Parsed p = Parse(o, {c.word});
    EXPECT_FALSE(p.code) << c.word;
    EXPECT_TRUE(o.*c.flag) << c.word;
  }
  Options modes;
  Parse(modes, {"--g"});
  EXPECT_EQ(modes.mode, 'g');
  Options k;
  Parse(k, {"--k"});
  EXPECT_EQ(k.action, 'k');
  Options a;
  Parse(a, {"--a"});
  EXPECT_EQ(a.action, 'a');
}

TEST(CommandLine, LongOptionsNeverTakeGluedArguments) {
  Options o;
  Parsed p = Parse(o, {"--exit", "--repeat", "--long", "--window", "--tree", "--close"});
  EXPECT_FALSE(p.code);
  EXPECT_TRUE(o.wait_for_exit);
  EXPECT_FALSE(o.wait_for_all);
  EXPECT_EQ(o.repeat_threshold, kDefaultRepeatThreshold);
  EXPECT_FALSE(o.command_line_mask);
  EXPECT_FALSE(o.window_title_mask);
  EXPECT_STREQ(o.tree_root, "");
  EXPECT_EQ(o.close_command, 0);
}

TEST(CommandLine, LongDelayPriorityUsageTakeTheNextWord) {
  Options o;
  Parsed p = Parse(o, {"--delay", "2000", "--priority", "idle", "--usage", "libc*", "x"});
  EXPECT_FALSE(p.code);
  EXPECT_EQ(o.delay, 2000);
  EXPECT_EQ(o.priority_class, kIdlePriorityClass);
  EXPECT_STREQ(o.module_mask, "libc*");
  EXPECT_EQ(o.plain_argument_count, 1);
  EXPECT_EQ(o.used_as_argument, (std::vector<bool>{false, true, false, true, false, true, false}));
}

TEST(CommandLine, InvalidLongNames) {
  for (const char* word : {"--", "--bogus", "/-zz", "--exita"}) {
    Options o;
    Parsed p = Parse(o, {word});
    ASSERT_TRUE(p.code) << word;
    EXPECT_EQ(*p.code, 2);
    EXPECT_EQ(p.err, "\nzel: Invalid option '" + std::string(word + 2) + "'\n" + kHint);
  }
}

TEST(CommandLine, InvalidLetters) {
  for (const char* word : {"-z", "-o", "-ey"}) {
    Options o;
    Parsed p = Parse(o, {word});
    ASSERT_TRUE(p.code);
    EXPECT_EQ(*p.code, 2);
    EXPECT_EQ(p.err, std::string("\nzel: Invalid option '") + word[std::string(word).size() - 1] +
                         "'\n" + kHint);
  }
}

TEST(CommandLine, ConflictingActions) {
  for (const std::vector<std::string>& words :
       {std::vector<std::string>{"-kk", "x"}, {"-k", "-p", "h", "x"}, {"-a", "-c"}, {"-p", "n", "-k"}}) {
    Options o;
    Parsed p = Parse(o, words);
    ASSERT_TRUE(p.code);
    EXPECT_EQ(*p.code, 2);
    EXPECT_EQ(p.err, std::string("zel: Conflicting actions\n") + kHint);
  }
}

TEST(CommandLine, ConflictingOptionsAfterAMode) {
  for (const std::vector<std::string>& words :
       {std::vector<std::string>{"-m", "-s", "x"}, {"-m", "-h"}, {"-m", "-n"}, {"-gg"}, {"-s", "-z"}}) {
    Options o;
    Parsed p = Parse(o, words);
    ASSERT_TRUE(p.code);
    EXPECT_EQ(*p.code, 2);
    EXPECT_EQ(p.err, std::string("zel: Conflicting options\n") + kHint);
    EXPECT_EQ(p.out, "");
  }
  // The order matters: -n before the mode is accepted, and letters that
  // never conflict are accepted after a mode.
  Options o;
  EXPECT_FALSE(Parse(o, {"-n", "-m", "-efiqlwdrbxut"}).code);
  EXPECT_EQ(o.mode, 'm');
}

TEST(CommandLine, CloseCommandIsGluedSignedNumber) {
  Options a;
  Parse(a, {"-c-32"});
  EXPECT_EQ(a.action, 'c');
  EXPECT_EQ(a.close_command, -32);
  Options b;
  Parse(b, {"-c1001x"});
  EXPECT_EQ(b.close_command, 1001);
  Options c;
  Parsed p = Parse(c, {"-cka"});  // the rest of the word is the argument
  EXPECT_FALSE(p.code);
  EXPECT_EQ(c.close_command, 0);
  EXPECT_EQ(c.action, 'c');
}

TEST(CommandLine, DelayGluedOrNextWord) {
  Options a;
  Parse(a, {"-d", "2000", "calc.exe"});
  EXPECT_EQ(a.delay, 2000);
  EXPECT_EQ(a.plain_argument_count, 1);
  Options b;
  Parse(b, {"-d500"});
  EXPECT_EQ(b.delay, 500);
  Options c;
  Parse(c, {"-d"});  // no next word: unchanged
  EXPECT_EQ(c.delay, 0);
  Options d;
  Parse(d, {"-d500", "-d", ""});  // empty text: unchanged
  EXPECT_EQ(d.delay, 500);
  EXPECT_EQ(d.plain_argument_count, 0);
}

TEST(CommandLine, PriorityNamesAndPrefixes) {
  const std::pair<const char*, uint32_t> cases[] = {
      {"n", kNormalPriorityClass},         {"b", kBelowNormalPriorityClass},
      {"a", kAboveNormalPriorityClass},    {"i", kIdlePriorityClass},
      {"h", kHighPriorityClass},           {"r", kRealtimePriorityClass},
      {"HIGH", kHighPriorityClass},        {"real time", kRealtimePriorityClass},
      {"Below Normal", kBelowNormalPriorityClass}};
  for (const auto& [text, value] : cases) {
    Options glued;
    EXPECT_FALSE(Parse(glued, {std::string("-p") + text}).code) << text;
    EXPECT_EQ(glued.priority_class, value) << text;
    Options next;
    EXPECT_FALSE(Parse(next, {"-p", text}).code) << text;
    EXPECT_EQ(next.priority_class, value) << text;
  }
}

TEST(CommandLine, InvalidPriorityClass) {
  for (const std::vector<std::string>& words :
       {std::vector<std::string>{"-p"}, {"-px"}, {"-p", "Highest"}, {"-p", ""}}) {
    Options o;
    Parsed p = Parse(o, words);
    ASSERT_TRUE(p.code);
    EXPECT_EQ(*p.code, 2);
    const std::string text = words.size() > 1 ? words[1] : words[0].substr(2);
    EXPECT_EQ(p.err, "\nzel: Invalid priority class '" + text + "'\n" + kHint);
  }
}

TEST(CommandLine, NewerSystemClassesOnOlderSystems) {
  Options o;
  Parsed p = Parse(o, {"-pb"}, /*newer=*/false);
  ASSERT_TRUE(p.code);
  EXPECT_EQ(p.err,
            std::string("\nzel: Below Normal priority class is available only on Windows 2000 or "
                        "higher\n\nzel: Invalid priority class 'b'\n") +
                kHint);
  Options n;
  EXPECT_FALSE(Parse(n, {"-pn"}, false).code);
}

TEST(CommandLine, RepeatThresholdOnlyFromDigitsOrMinus) {
  Options a;
  Parse(a, {"-r0"});
  EXPECT_TRUE(a.repeat);
  EXPECT_EQ(a.repeat_threshold, 0);
  Options b;
  Parse(b, {"-r-2"});
  EXPECT_EQ(b.repeat_threshold, -2);
  Options c;
  Parsed p = Parse(c, {"-rf"});
  EXPECT_FALSE(p.code);
  EXPECT_TRUE(c.force);
  EXPECT_EQ(c.repeat_threshold, kDefaultRepeatThreshold);
}

TEST(CommandLine, WaitForAll) {
  Options a;
  Parse(a, {"-xa"});
  EXPECT_TRUE(a.wait_for_all);
  Options b;
  Parse(b, {"-xAe"});
  EXPECT_TRUE(b.wait_for_all);
  EXPECT_TRUE(b.extended);
  Options c;
  Parse(c, {"-xe"});
  EXPECT_TRUE(c.wait_for_exit);
  EXPECT_FALSE(c.wait_for_all);
  EXPECT_TRUE(c.extended);
}

TEST(CommandLine, MasksAndRoots) {
  Options o;
  Parse(o, {"-l*/S", "-wTitle*", "-tinit", "-uoleaut*.dll"});
  EXPECT_EQ(o.command_line_mask.value_or(""), "*/S");
  EXPECT_EQ(o.window_title_mask.value_or(""), "Title*");
  EXPECT_STREQ(o.tree_root, "init");
  EXPECT_STREQ(o.module_mask, "oleaut*.dll");
  Options bare;
  Parse(bare, {"-l", "-w", "-t", "-u"});
  EXPECT_TRUE(bare.long_view && bare.window_filter && bare.tree && bare.usage_filter);
  EXPECT_FALSE(bare.command_line_mask);
  EXPECT_STREQ(bare.module_mask, "*");
  Options next;
  Parse(next, {"-u", "libc*", "bash"});
  EXPECT_STREQ(next.module_mask, "libc*");
  EXPECT_EQ(next.plain_argument_count, 1);
}

TEST(CommandLine, LongWordsAreBounded) {
  const std::string huge(10000, 'm');
  Options o;
  Parsed p = Parse(o, {"-u" + huge, "-t" + huge, "-l" + huge, "-w" + huge, "-d" + huge, huge});
  EXPECT_FALSE(p.code);
  EXPECT_EQ(std::string(o.module_mask), huge.substr(0, 259));
  EXPECT_EQ(std::string(o.tree_root), huge.substr(0, 260));
  EXPECT_EQ(o.command_line_mask->size(), 10000u);
  Options u;
  Parse(u, {"-u", huge});
  EXPECT_EQ(std::string(u.module_mask).size(), 259u);
  Options bad;
  Parsed q = Parse(bad, {"--" + huge});
  ASSERT_TRUE(q.code);
  EXPECT_NE(q.err.find(huge), std::string::npos);
  Options pr;
  Parsed r = Parse(pr, {"-p" + huge});
  ASSERT_TRUE(r.code);
  EXPECT_EQ(*r.code, 2);
}

TEST(CommandLine, InputFile) {
  char name[] = "/tmp/zel_input_XXXXXX";
  const int fd = mkstemp(name);
  ASSERT_GE(fd, 0);
  close(fd);
  Options o;
  Parsed p = Parse(o, {std::string("-@") + name});
  EXPECT_FALSE(p.code);
  EXPECT_TRUE(o.read_input);
  EXPECT_NE(o.input_file, nullptr);
  std::remove(name);

  Options missing;
  Parsed m = Parse(missing, {"-@/nonexistent/zel-input", "-e"});
  EXPECT_FALSE(m.code);  // parsing goes on
  EXPECT_TRUE(missing.extended);
  EXPECT_EQ(missing.input_file, nullptr);
  EXPECT_EQ(m.err, "\nzel: Unable to open file for input '/nonexistent/zel-input'\n");
}

// The whole help text, all 62 lines: the first line is empty, the line
// after -x's has 24 leading blanks, the -r line ends with a blank, and the
// misspellings are the program's own.
const char kHelpText[] =
    "\n"
    "zel displays information about the running processes.\n"
    "zel v 3.11.1.1\n"
    "\n"
    "Usage: zel -[<MODE>] -[<OPTIONS>] <ARGUMENTS>...-[<OPTIONS>]\n"
    "\n"
    "Modes:\n"
    "  -s       --summary   show usage for the specified MODULE\n"
    "  -h,-?    --help      display this help information\n"
    "\n"
    "Actions:\n"
    "  -k       --kill      kill process\n"
    "  -a       --activate  brings process main window in the foreground\n"
    "  -c       --close     close (send WM_CLOSE) to the PROCESS\n"
    "  -p[nihr] --priority  set priority to \"Normal\", \"Idle\", \"High\", \"Real Time\"\n"
    "    [ba]               \"Below Normal\" and \"Above Normal\" only on W2K or higher\n"
    "\n"
    "Output Options:\n"
    "  -e,      --extend    show additional information if available\n"
    "  -l,      --long      show command line (can also be a filter)\n"
    "  -q,      --quiet     supress headers and produce a tab-separated list\n"
    "  -b       --bare      show process ID only ()\n"
    "\n"
    "Input Options:\n"
    "  -f,      --force     never prompt\n"
    "  -i,      --id        use process ID instead of the PROCESS name\n"
    "\n"
    "Filters:\n"
    "  -l[mask] --long      include processes with command line matching mask\n"
    "  -w[mask] --window    show processes with visible windows matching mask,\n"
    "                       -e includes in search also invisible windows\n"
    "  -u[mask] --usage     show processes using modules that matches mask\n"
    "  -t[root] --tree      display process tree starting starting from the root\n"
    "\n"
    "Extra Information Options:\n"
    "  -g       --getenv    get startup environment for the  PROCESS\n"
    "  -m       --module    show modules used by specified PROCESS\n"
    "\n"
    "Execution Options:\n"
    "  -d[time] --delay     delay time in milliseconds before executing command\n"
    "  -r[err]  --repeat    repeat command in a cycle, while (%ERRORLEVEL% > err) \n"
    "  -n       --number    %ERRORLEVEL% = negated number of matched processes\n"
    "  -x[a]    --exit      wait for the process completion (exit)\n"
    "                        'a' flag waits for all processes, -d sets time-out\n"
    "  -@[file_name]        read arguments from specified file or from\n"
    "                       standard input after processing the command line\n"
    "\n"
    "Arguments can contain '*' and '?' wildcards.\n"
    "\n"
    "Use return code (%ERRORLEVEL%) in batch files:\n"
    "    0 - process found (negated number of processes if -n is specified)\n"
    "    1 - empty result set, 2 - programm error\n"
    "\n"
    "Examples:\n"
    "  zel myprocess.exe        get process ID for myprocess.exe.\n"
    "  zel -e                   get extended list of running processes.\n"
    "  zel -k sleep*            kill all processes starting with \"sleep\"\n"
    "  zel -m -e explorer.exe   get extended information about explorer's modules\n"
    "  zel -u oleaut*.dll       list of all processes that use matching dll\n"
    "  zel -ph w*.exe           set priority to hight for all matching processes\n"
    "  zel explorer.exe -l\"*/S\" looks for explorer process with /S switch\n"
    "  zel -r0 -d2000 calc.exe \"2>nul\" checks every 2 seconds if calc.exe is running\n";

TEST(CommandLine, Help) {
  for (const char* word : {"-h", "-?", "--help", "--he", "/H"}) {
    Options o;
    Parsed p = Parse(o, {word, "-k"});
    ASSERT_TRUE(p.code) << word;
    EXPECT_EQ(*p.code, 1);
    EXPECT_EQ(p.err, "");
    EXPECT_EQ(p.out, kHelpText) << word;
  }
}

TEST(ErrorStreamRedirect, WordsAreEmptiedAndLastOpenWins) {
  char first[] = "/tmp/zel_err_XXXXXX";
  close(mkstemp(first));
  {
    FILE* f = std::fopen(first, "w");
    std::fputs("old\n", f);
    std::fclose(f);
  }
  std::vector<std::string> words = {"x", std::string("2>>") + first, "2>/nonexistent/dir/file"};
  ErrorStream errors(stderr);
  errors.Redirect(words);
  EXPECT_EQ(words, (std::vector<std::string>{"x", "", ""}));
  errors.Write("new\n");
  errors.Flush();
  FILE* f = std::fopen(first, "r");
  EXPECT_EQ(ReadAll(f), "old\nnew\n");  // appended; the failed open did not win
  std::fclose(f);

  std::vector<std::string> truncate = {std::string("2>") + first};
  ErrorStream second(stderr);
  second.Redirect(truncate);
  second.Write("only\n");
  second.Flush();
  f = std::fopen(first, "r");
  EXPECT_EQ(ReadAll(f), "only\n");
  std::fclose(f);
  std::remove(first);
}

}  // namespace
}  // namespace zel
