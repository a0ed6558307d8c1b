// A scripted ProcessSource for the tests of the pass loop and the listing,
// and a runner that captures zel's output streams.
#pragma once

#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "driver.h"
#include "source/process_source.h"
#include "text.h"

namespace zel::test {

struct FakeProcess {
  ProcessRecord record;
  std::optional<std::string> command_line;
  std::vector<std::string> environment;
  std::vector<std::string> module_names;
  std::vector<ModuleEntry> modules;  // reported after the bare names
  std::vector<std::string> window_titles;
};

inline FakeProcess MakeProcess(uint32_t id, const char* name, uint32_t parent = 0,
                               uint32_t flags = 0) {
  FakeProcess p;
  p.record.process_id = id;
  p.record.parent_id = parent;
  p.record.flags = flags;
  p.record.priority_class = 0x20;
  CopyBounded(p.record.name, name);
  std::string path = std::string("/usr/bin/") + name;
  CopyBounded(p.record.path, path.c_str());
  return p;
}

class FakeSource : public ProcessSource {
 public:
  std::vector<FakeProcess> processes;
  bool bind_ok = true;
  bool newer = true;
  int enumerations = 0;
  // Called before each enumeration with its number (1, 2, ...); may change
  // the processes.
  std::function<void(int)> before_enumeration;
  WaitResult wait_result{WaitOutcome::kSignaled, 0};
  size_t last_wait_count = 0;
  bool last_wait_all = false;
  uint32_t last_wait_timeout = 0;
  int open_handles = 0;
  std::vector<std::pair<uintptr_t, uintptr_t>> sent;  // message, parameter

  bool IsNewerSystem() const override { return newer; }
  bool Bind() override { return bind_ok; }
  void EnablePrivilege(const char*, uint32_t) override {}
  void EnumerateProcesses(const ProcessCallback& step) override {
    ++enumerations;
    if (before_enumeration) before_enumeration(enumerations);
    for (const FakeProcess& p : processes) step(p.record);
  }
  const FakeProcess* Find(uint32_t id) const {
    for (const FakeProcess& p : processes) {
      if (p.record.process_id == id) return &p;
    }
    return nullptr;
  }
  void EnumerateModules(uint32_t id, const ModuleCallback& callback) override {
    if (const FakeProcess* p = Find(id)) {
      for (const std::string& name : p->module_names) {
        ModuleEntry entry;
        CopyBounded(entry.name, name.c_str());
        callback(entry);
      }
      for (const ModuleEntry& entry : p->modules) callback(entry);
    }
  }
  std::optional<std::string> ReadCommandLine(const ProcessRecord& record) override {
    const FakeProcess* p = Find(record.process_id);
    return p ? p->command_line : std::nullopt;
  }
  void ReadEnvironment(const ProcessRecord& record, const TextCallback& print) override {
    if (const FakeProcess* p = Find(record.process_id)) {
      for (const std::string& s : p->environment) print(s.c_str());
    }
  }
  std::vector<KeptWindow> CollectWindows(const ProcessRecord& record, const char*,
                                         bool) override {
    std::vector<KeptWindow> kept;
    if (const FakeProcess* p = Find(record.process_id)) {
      for (const std::string& t : p->window_titles) kept.push_back({kept.size() + 1, t});
    }
    return kept;
  }
  WindowId FindMainWindow(uint32_t) override { return 0; }
  void ReadVersionStrings(const char*, char* out) override { out[0] = '\0'; }
  uint32_t WindowStyle(WindowId) override { return 0; }
  void SendWindowMessage(WindowId, uint32_t message, uintptr_t parameter) override {
    sent.emplace_back(message, parameter);
  }
  void SetForegroundWindow(WindowId) override {}
  // Refuses every non-zero close command with this message when not empty.
  std::string close_refusal;
  std::vector<std::pair<int32_t, bool>> refusal_asked;  // command, window filter
  std::string RefuseCloseCommand(int32_t command, bool window_filter) override {
    refusal_asked.emplace_back(command, window_filter);
    return command != 0 ? close_refusal : std::string();
  }
  ProcessHandle OpenProcess(uint32_t, uint32_t id) override {
    if (Find(id) == nullptr) return 0;
    ++open_handles;
    return static_cast<ProcessHandle>(id);
  }
  void CloseProcess(ProcessHandle) override { --open_handles; }
  std::vector<uint32_t> terminated;
  bool TerminateProcess(ProcessHandle handle, uint32_t) override {
    terminated.push_back(static_cast<uint32_t>(handle));
    return true;
  }
  bool SetPriorityClass(ProcessHandle, uint32_t) override { return true; }
  WaitResult WaitForProcess(ProcessHandle, uint32_t) override { return wait_result; }
  WaitResult WaitForProcesses(const std::vector<ProcessHandle>& handles, bool all,
                              uint32_t timeout) override {
    last_wait_count = handles.size();
    last_wait_all = all;
    last_wait_timeout = timeout;
    return wait_result;
  }
  uint32_t CurrentProcessId() override { return 1; }
};

inline std::string ReadAll(FILE* file) {
  std::string text;
  std::rewind(file);
  char buffer[4096];
  size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, n);
  return text;
}

struct RunResult {
  int code = 0;
  std::string out;
  std::string err;
};

inline RunResult RunWith(ProcessSource& source, std::vector<std::string> words,
                         const std::string& input = std::string()) {
  FILE* out = std::tmpfile();
  FILE* err = std::tmpfile();
  FILE* in = std::tmpfile();
  std::fwrite(input.data(), 1, input.size(), in);
  std::rewind(in);
  DriverStreams streams;
  streams.out = out;
  streams.err = err;
  streams.in = in;
  RunResult result;
  result.code = RunZel(std::move(words), source, streams);
  result.out = ReadAll(out);
  result.err = ReadAll(err);
  std::fclose(out);
  std::fclose(err);
  std::fclose(in);
  return result;
}

}  // namespace zel::test
