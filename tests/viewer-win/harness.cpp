#include "harness.h"

#include <tlhelp32.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace zeltest {

namespace {

int g_counter = 0;

// Whether the loader has mapped kernel32 into the process yet: before that
// its module list is empty.
bool Loaded(DWORD id) {
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, id);
  if (snap == INVALID_HANDLE_VALUE) return false;
  MODULEENTRY32 me;
  me.dwSize = sizeof me;
  bool found = false;
  for (BOOL ok = Module32First(snap, &me); ok && !found; ok = Module32Next(snap, &me)) {
    found = lstrcmpiA(me.szModule, "kernel32.dll") == 0;
  }
  CloseHandle(snap);
  return found;
}

std::string Quote(const std::string& s) { return "\"" + s + "\""; }

HANDLE OpenInheritable(const std::string& path, DWORD access, DWORD disposition) {
  SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
  return CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, disposition,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool WriteWhole(const std::string& path, const std::string& text) {
  HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  BOOL ok = text.empty() || WriteFile(f, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(f);
  return ok && written == text.size();
}

// The run-time library writes text streams with CR LF line ends.
std::string WithoutCarriageReturns(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out += text[i];
  }
  return out;
}

}  // namespace

std::string WindowsPath(const std::string& path) {
  if (path.size() > 1 && path[1] == ':') return path;
  std::string out = "Z:";
  for (char c : path) out += (c == '/') ? '\\' : c;
  return out;
}

std::string Tag() { return std::to_string(GetCurrentProcessId()); }

std::string ZelPath() { return WindowsPath(ZEL_EXE); }

Scratch::Scratch() {
  char temp[MAX_PATH];
  DWORD n = GetTempPathA(MAX_PATH, temp);
  std::string base = (n > 0 && n < MAX_PATH) ? std::string(temp) : std::string("C:\\");
  if (base.back() != '\\') base += '\\';
  dir_ = base + "zelw-" + Tag() + "-" + std::to_string(++g_counter);
  CreateDirectoryA(dir_.c_str(), nullptr);
}

Scratch::~Scratch() {
  // Files of programs that are still ending cannot go at once: retry briefly.
  for (int attempt = 0; attempt < 20; ++attempt) {
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((dir_ + "\\*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
      do {
        if (std::strcmp(fd.cFileName, ".") && std::strcmp(fd.cFileName, "..")) DeleteFileA(Path(fd.cFileName).c_str());
      } while (FindNextFileA(h, &fd));
      FindClose(h);
    }
    if (RemoveDirectoryA(dir_.c_str())) return;
    Sleep(100);
  }
}

Helpers::Helpers(const Scratch& scratch) : scratch_(scratch) {
  job_ = CreateJobObjectA(nullptr, nullptr);
  if (job_) {
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    SetInformationJobObject(job_, JobObjectExtendedLimitInformation, &limits, sizeof limits);
  }
}

Helpers::~Helpers() {
  for (Started& s : started_) {
    TerminateProcess(s.process, 1);
  }
  if (job_) {
    TerminateJobObject(job_, 1);
  }
  for (Started& s : started_) {
    WaitForSingleObject(s.process, 5000);
    CloseHandle(s.process);
  }
  if (job_) CloseHandle(job_);
}

Started Helpers::Start(const std::string& source, const std::string& name, const std::string& args,
                       const std::vector<std::string>& env) {
  Started s;
  s.name = name;
  s.path = scratch_.Path(name);
  if (!CopyFileA(WindowsPath(source).c_str(), s.path.c_str(), FALSE)) return s;
  std::string line = Quote(s.path) + (args.empty() ? "" : " " + args);
  std::string block;
  for (const std::string& e : env) block += e + '\0';
  block += '\0';
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, CREATE_SUSPENDED,
                      env.empty() ? nullptr : &block[0], nullptr, &si, &pi)) {
    return s;
  }
  if (job_) AssignProcessToJobObject(job_, pi.hProcess);
  ResumeThread(pi.hThread);
  CloseHandle(pi.hThread);
  s.process = pi.hProcess;
  s.id = pi.dwProcessId;
  started_.push_back(s);
  for (int i = 0; i < 200 && !Loaded(s.id); ++i) Sleep(25);
  return s;
}

Started Helpers::Child(const std::string& name, DWORD sleepMs, const std::string& words,
                       const std::vector<std::string>& env) {
  std::string args = std::to_string(sleepMs) + (words.empty() ? "" : " " + words);
  return Start(ZEL_TEST_CHILD_EXE, name, args, env);
}

Started Helpers::Windows(const std::string& name, const std::string& record, const std::string& prefix,
                         const std::string& layout) {
  Started s = Start(ZEL_TEST_WINDOWS_EXE, name, Quote(record) + " " + Quote(prefix) + " " + layout, {});
  if (!s.process) return s;
  // "ready", or "no windows" (without an X display) or an early end.
  for (int i = 0; i < 400; ++i) {
    const std::string text = ReadFileText(record);
    if (text.find("ready") != std::string::npos) return s;
    if (text.find("no windows") != std::string::npos || WaitForSingleObject(s.process, 50) == WAIT_OBJECT_0) break;
  }
  std::fprintf(stderr, "the window program opened no windows (is there an X display?)\n");
  TerminateProcess(s.process, 1);
  s.id = 0;
  return s;
}

ZelRun RunZel(const Scratch& scratch, const std::string& args, const std::string& input, DWORD timeoutMs) {
  ZelRun run;
  const std::string n = std::to_string(++g_counter);
  const std::string outPath = scratch.Path("zel-out-" + n), errPath = scratch.Path("zel-err-" + n),
                    inPath = scratch.Path("zel-in-" + n);
  WriteWhole(inPath, input);
  HANDLE in = OpenInheritable(inPath, GENERIC_READ, OPEN_EXISTING);
  HANDLE out = OpenInheritable(outPath, GENERIC_WRITE, CREATE_ALWAYS);
  HANDLE err = OpenInheritable(errPath, GENERIC_WRITE, CREATE_ALWAYS);
  std::string line = Quote(ZelPath()) + (args.empty() ? "" : " " + args);
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = in;
  si.hStdOutput = out;
  si.hStdError = err;
  PROCESS_INFORMATION pi = {};
  BOOL started = CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
  CloseHandle(in);
  CloseHandle(out);
  CloseHandle(err);
  if (!started) {
    run.code = 0xDEAD;
    run.err = "could not start zel.exe";
    return run;
  }
  if (WaitForSingleObject(pi.hProcess, timeoutMs) != WAIT_OBJECT_0) {
    run.timedOut = true;
    TerminateProcess(pi.hProcess, 0xDEAD);
    WaitForSingleObject(pi.hProcess, 5000);
  }
  GetExitCodeProcess(pi.hProcess, &run.code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  run.out = WithoutCarriageReturns(ReadFileText(outPath));
  run.err = WithoutCarriageReturns(ReadFileText(errPath));
  return run;
}

std::string ReadFileText(const std::string& path) {
  HANDLE f = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return "";
  std::string text;
  char buf[4096];
  DWORD got = 0;
  while (ReadFile(f, buf, sizeof buf, &got, nullptr) && got > 0) text.append(buf, got);
  CloseHandle(f);
  return text;
}

bool WaitForText(const std::string& path, const std::string& text, DWORD ms) {
  const DWORD start = GetTickCount();
  for (;;) {
    if (ReadFileText(path).find(text) != std::string::npos) return true;
    if (GetTickCount() - start >= ms) return false;
    Sleep(50);
  }
}

std::string Format(const char* format, ...) {
  char buf[2048];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buf, sizeof buf, format, args);
  va_end(args);
  return buf;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::string cur;
  for (char c : text) {
    if (c == '\n') {
      if (!cur.empty() && cur.back() == '\r') cur.pop_back();
      lines.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  if (!cur.empty()) lines.push_back(cur);
  return lines;
}

bool Ended(HANDLE process, DWORD ms) { return WaitForSingleObject(process, ms) == WAIT_OBJECT_0; }

DWORD FindChildOf(DWORD parent, DWORD ms) {
  const DWORD start = GetTickCount();
  for (;;) {
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snap != INVALID_HANDLE_VALUE) {
      PROCESSENTRY32 pe;
      pe.dwSize = sizeof pe;
      for (BOOL ok = Process32First(snap, &pe); ok; ok = Process32Next(snap, &pe)) {
        if (pe.th32ParentProcessID == parent && pe.th32ProcessID != parent) {
          CloseHandle(snap);
          return pe.th32ProcessID;
        }
      }
      CloseHandle(snap);
    }
    if (GetTickCount() - start >= ms) return 0;
    Sleep(50);
  }
}

HWND FindTitle(const std::string& title) { return FindWindowA(nullptr, title.c_str()); }

}  // namespace zeltest
