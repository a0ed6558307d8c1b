#include <cstdio>

#include "command_line.h"

namespace zel {

namespace {

const char* const kHelpLines[] = {
    "",
    "zel displays information about the running processes.",
    "zel v 3.11.1.1",
    "",
    "Usage: zel -[<MODE>] -[<OPTIONS>] <ARGUMENTS>...-[<OPTIONS>]",
    "",
    "Modes:",
    "  -s       --summary   show usage for the specified MODULE",
    "  -h,-?    --help      display this help information",
    "",
    "Actions:",
    "  -k       --kill      kill process",
    "  -a       --activate  brings process main window in the foreground",
    "  -c       --close     close (send WM_CLOSE) to the PROCESS",
    "  -p[nihr] --priority  set priority to \"Normal\", \"Idle\", \"High\", \"Real Time\"",
    "    [ba]               \"Below Normal\" and \"Above Normal\" only on W2K or higher",
    "",
    "Output Options:",
    "  -e,      --extend    show additional information if available",
    "  -l,      --long      show command line (can also be a filter)",
    "  -q,      --quiet     supress headers and produce a tab-separated list",
    "  -b       --bare      show process ID only ()",
    "",
    "Input Options:",
    "  -f,      --force     never prompt",
    "  -i,      --id        use process ID instead of the PROCESS name",
    "",
    "Filters:",
    "  -l[mask] --long      include processes with command line matching mask",
    "  -w[mask] --window    show processes with visible windows matching mask,",
    "                       -e includes in search also invisible windows",
    "  -u[mask] --usage     show processes using modules that matches mask",
    "  -t[root] --tree      display process tree starting starting from the root",
    "",
    "Extra Information Options:",
    "  -g       --getenv    get startup environment for the  PROCESS",
    "  -m       --module    show modules used by specified PROCESS",
    "",
    "Execution Options:",
    "  -d[time] --delay     delay time in milliseconds before executing command",
    "  -r[err]  --repeat    repeat command in a cycle, while (%ERRORLEVEL% > err) ",
    "  -n       --number    %ERRORLEVEL% = negated number of matched processes",
    "  -x[a]    --exit      wait for the process completion (exit)",
    "                        'a' flag waits for all processes, -d sets time-out",
    "  -@[file_name]        read arguments from specified file or from",
    "                       standard input after processing the command line",
    "",
    "Arguments can contain '*' and '?' wildcards.",
    "",
    "Use return code (%ERRORLEVEL%) in batch files:",
    "    0 - process found (negated number of processes if -n is specified)",
    "    1 - empty result set, 2 - programm error",
    "",
    "Examples:",
    "  zel myprocess.exe        get process ID for myprocess.exe.",
    "  zel -e                   get extended list of running processes.",
    "  zel -k sleep*            kill all processes starting with \"sleep\"",
    "  zel -m -e explorer.exe   get extended information about explorer's modules",
    "  zel -u oleaut*.dll       list of all processes that use matching dll",
    "  zel -ph w*.exe           set priority to hight for all matching processes",
    "  zel explorer.exe -l\"*/S\" looks for explorer process with /S switch",
    "  zel -r0 -d2000 calc.exe \"2>nul\" checks every 2 seconds if calc.exe is running",
};

}  // namespace

void PrintHelp(FILE* out) {
  for (const char* line : kHelpLines) {
    std::fputs(line, out);
    std::fputc('\n', out);
  }
  std::fflush(out);
}

}  // namespace zel
