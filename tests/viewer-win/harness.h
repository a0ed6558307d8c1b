// Helpers for the Windows tests of zel: a scratch folder per test, test
// programs started under unique names (and ended with the test), and runs of
// zel.exe with captured output and exit code.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace zeltest {

// A build-tree path as the cross build knows it ("/a/b") as Wine shows it
// ("Z:\a\b"); a path that already has a drive is returned unchanged.
std::string WindowsPath(const std::string& path);

// This test process's ID as text, to make names unique per test.
std::string Tag();

// A fresh folder under the temporary folder, removed with its files.
class Scratch {
 public:
  Scratch();
  ~Scratch();
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;
  std::string Path(const std::string& name) const { return dir_ + "\\" + name; }
  const std::string& Dir() const { return dir_; }

 private:
  std::string dir_;
};

struct Started {
  HANDLE process = nullptr;
  DWORD id = 0;
  std::string name;  // file name, e.g. "zk1234.exe"
  std::string path;
};

// Starts copies of the test programs, each under its own file name in the
// scratch folder; every process still running, and its children, is ended
// when the Helpers go.
class Helpers {
 public:
  explicit Helpers(const Scratch& scratch);
  ~Helpers();
  Helpers(const Helpers&) = delete;
  Helpers& operator=(const Helpers&) = delete;

  // The sleeping child; `words` follow the sleep time on its command line.
  // `env` (when not empty) is its whole environment, one "NAME=value" each.
  Started Child(const std::string& name, DWORD sleepMs, const std::string& words = "",
                const std::vector<std::string>& env = {});
  // The window program with a record file, a title prefix and a layout
  // (single, minimised, full); returns once it has recorded "ready".
  Started Windows(const std::string& name, const std::string& record, const std::string& prefix,
                  const std::string& layout);

 private:
  Started Start(const std::string& source, const std::string& name, const std::string& args,
                const std::vector<std::string>& env);
  const Scratch& scratch_;
  HANDLE job_;
  std::vector<Started> started_;
};

struct ZelRun {
  DWORD code = 0;
  std::string out;
  std::string err;
  bool timedOut = false;
};

// Runs zel.exe with the given argument text (as typed after the program
// name), `input` as its standard input, and waits at most `timeoutMs`.
ZelRun RunZel(const Scratch& scratch, const std::string& args, const std::string& input = "",
              DWORD timeoutMs = 30000);

std::string ReadFileText(const std::string& path);
// Polls a file until it holds `text` or `ms` have passed.
bool WaitForText(const std::string& path, const std::string& text, DWORD ms);
std::vector<std::string> Lines(const std::string& text);
// Whether the process has ended within `ms`.
bool Ended(HANDLE process, DWORD ms);
// The top-level window with exactly this title, or null.
HWND FindTitle(const std::string& title);
// The ID of a process whose parent is `parent` (polled for up to `ms`), or 0.
DWORD FindChildOf(DWORD parent, DWORD ms);
// printf into a string (to build the lines zel is expected to print).
std::string Format(const char* format, ...);
// Whether `text` holds `part`.
inline bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }
// The path of the built zel.exe.
std::string ZelPath();

}  // namespace zeltest
