// The Linux port of the process source, over /proc, signals, setpriority
// and pidfds; windows are those of the X display named by DISPLAY.
#pragma once

#include <string>
#include <unordered_map>

#include "../process_source.h"
#include "x11_display.h"

namespace zel {

class ProcSource final : public ProcessSource {
 public:
  explicit ProcSource(std::string proc_root = "/proc");
  ~ProcSource() override;

  bool IsNewerSystem() const override { return true; }
  bool Bind() override;
  void EnablePrivilege(const char* name, uint32_t attributes) override;

  void EnumerateProcesses(const ProcessCallback& step) override;
  void EnumerateModules(uint32_t process_id, const ModuleCallback& callback) override;
  std::optional<std::string> ReadCommandLine(const ProcessRecord& record) override;
  void ReadEnvironment(const ProcessRecord& record, const TextCallback& print) override;
  std::vector<KeptWindow> CollectWindows(const ProcessRecord& record, const char* mask,
                                         bool include_hidden) override;
  WindowId FindMainWindow(uint32_t process_id) override;
  void ReadVersionStrings(const char* path, char* out) override;

  uint32_t WindowStyle(WindowId window) override;
  void SendWindowMessage(WindowId window, uint32_t message, uintptr_t parameter) override;
  void SetForegroundWindow(WindowId window) override;
  std::string RefuseCloseCommand(int32_t close_command, bool window_filter) override;

  ProcessHandle OpenProcess(uint32_t access, uint32_t process_id) override;
  void CloseProcess(ProcessHandle handle) override;
  bool TerminateProcess(ProcessHandle handle, uint32_t exit_code) override;
  bool SetPriorityClass(ProcessHandle handle, uint32_t priority_class) override;
  WaitResult WaitForProcess(ProcessHandle handle, uint32_t timeout_ms) override;
  WaitResult WaitForProcesses(const std::vector<ProcessHandle>& handles, bool all,
                              uint32_t timeout_ms) override;
  uint32_t CurrentProcessId() override;

  // Fills record from /proc/PID; false when the process has no directory.
  bool ReadRecord(uint32_t process_id, ProcessRecord& record);

 private:
  std::string PidPath(uint32_t process_id, const char* file) const;
  // The proc root, opened once: a listing opens thousands of files below it.
  int RootFd();
  bool ReadStat(uint32_t process_id, std::string& text);

  std::string root_;
  int root_fd_ = -1;
  std::unordered_map<ProcessHandle, uint32_t> open_;  // pidfd handle -> process ID
  x11::Display display_;
};

}  // namespace zel
