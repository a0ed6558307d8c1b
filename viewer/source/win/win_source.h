// The Windows process sources: PSAPI on NT-family systems, Toolhelp on the
// legacy family, both written over the WinApi table.
#pragma once

#include <string>

#include "../process_source.h"
#include "win_api.h"
#include "win_binding.h"

namespace zel::win {

// Where the process parameters, the command line and the environment lie in
// another process's memory; the platform's own record layout.
struct ParamsLayout {
  size_t pointer_size;            // 4 or 8
  size_t params_pointer_offset;   // in the process environment block
  size_t params_read_size;        // bytes of the parameters read at once
  size_t command_line_offset;     // counted wide string: length, capacity, address
  size_t command_line_buffer_offset;
  size_t environment_offset;      // address of the environment block
};

inline constexpr ParamsLayout kParams32 = {4, 16, 144, 64, 68, 72};
inline constexpr ParamsLayout kParams64 = {8, 0x20, 0x88, 0x70, 0x78, 0x80};

// Largest environment read from another process.
inline constexpr size_t kEnvironmentLimit = 65536;

class WinSource final : public ProcessSource {
 public:
  explicit WinSource(WinApi& api, const ParamsLayout& layout = sizeof(void*) == 8 ? kParams64
                                                                                   : kParams32);

  bool IsNewerSystem() const override { return newer_system_; }
  bool IsLegacyFamily() const { return legacy_family_; }
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

  ProcessHandle OpenProcess(uint32_t access, uint32_t process_id) override;
  void CloseProcess(ProcessHandle handle) override;
  bool TerminateProcess(ProcessHandle handle, uint32_t exit_code) override;
  bool SetPriorityClass(ProcessHandle handle, uint32_t priority_class) override;
  WaitResult WaitForProcess(ProcessHandle handle, uint32_t timeout_ms) override;
  WaitResult WaitForProcesses(const std::vector<ProcessHandle>& handles, bool all,
                              uint32_t timeout_ms) override;
  uint32_t CurrentProcessId() override;

  // The 16-bit (NE) module name of an executable file into buffer.
  bool ReadNeModuleName(const char* path, char* buffer, size_t size);
  // Rewrites a module path as read from another process (see the .cpp).
  void NormalizePath(char* path, size_t size);

 private:
  void EnumeratePsapi(const ProcessCallback& step);
  void EnumerateWowTasks(const ProcessCallback& step);
  void EnumerateToolhelp(const ProcessCallback& step);
  void ModulesPsapi(uint32_t process_id, const ModuleCallback& callback);
  void ModulesToolhelp(uint32_t process_id, const ModuleCallback& callback);

  // PSAPI: reads the process parameters; false when unavailable.
  bool ReadParams(HANDLE process, const ProcessRecord& record, std::string& params);
  std::string WideToText(const WCHAR* wide, size_t count);
  // Toolhelp: the environment database of another process, 0 on a fault.
  ULONG_PTR LegacyEnvironmentDatabase(uint32_t process_id);
  bool ReadLegacyString(ULONG_PTR address, std::string& text);
  uint64_t ReadPointer(const std::string& bytes, size_t offset) const;

  HWND SearchMainWindow(HWND first, DWORD process_id, LONG exclude, int depth);

  WinApi& api_;
  ParamsLayout layout_;
  bool legacy_family_;
  bool newer_system_;
  BoundFunctions bound_;
  PrivilegeAdjuster privilege_;
};

}  // namespace zel::win
