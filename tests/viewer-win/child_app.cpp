// Test program for zel's listings, views and actions: a process with a known
// command line and environment that sleeps and ends by itself.
//
//   zel_test_child.exe <sleep ms> [spawn] [words...]
//
// Sleeps for the given time (at most two minutes) and ends with exit code 7.
// With "spawn" it first starts one copy of itself, with the same sleep and
// no further words, so that a process tree three levels deep exists.
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  DWORD ms = static_cast<DWORD>(std::strtoul(argv[1], nullptr, 10));
  if (ms > 120000) ms = 120000;
  if (argc > 2 && std::strcmp(argv[2], "spawn") == 0) {
    char self[MAX_PATH];
    if (!GetModuleFileNameA(nullptr, self, MAX_PATH)) return 4;
    std::string line = std::string("\"") + self + "\" " + argv[1];
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return 5;
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  }
  Sleep(ms);
  return 7;
}
