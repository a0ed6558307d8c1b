// The one interface through which zel sees and acts on processes. Each
// platform provides it in its own folder: source/win/ (the PSAPI and Toolhelp
// sources over the Windows operations table) and source/linux/ (/proc).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace zel {

inline constexpr size_t kNameSize = 260;
inline constexpr size_t kPathSize = 260;
inline constexpr size_t kModuleNameSize = 256;
inline constexpr size_t kVersionTextSize = 512;

// Flag bit: details unavailable (the process could not be opened, or its
// module list could not be read).
inline constexpr uint32_t kDetailsUnavailable = 2;

inline constexpr char kAccessDeniedName[] = "[Access denied]";
inline constexpr char kUnknownName[] = "[Unknown]";

// One process of one enumeration; the receiver copies what it keeps.
struct ProcessRecord {
  uint32_t flags = 0;
  char name[kNameSize] = {};
  uint32_t process_id = 0;
  uint32_t parent_id = 0;            // 0 when unknown
  uint32_t priority_class = 0;       // platform class value, 0 when unknown
  uint64_t environment_block = 0;    // address in the other process, 0 when unknown
  char path[kPathSize] = {};         // empty when unknown
};

// One module of a process, handed to a callback and not stored.
struct ModuleEntry {
  char name[kModuleNameSize] = {};
  uint64_t base = 0;
  uint64_t size = 0;
  char path[kPathSize] = {};
};

using WindowId = uintptr_t;      // 0: none
using ProcessHandle = intptr_t;  // 0: none

struct KeptWindow {
  WindowId window = 0;
  std::string title;  // control characters already replaced by blanks
};

// Access rights asked of OpenProcess (the platform's values).
inline constexpr uint32_t kTerminateAccess = 0x0001;
inline constexpr uint32_t kSetInformationAccess = 0x0200;
inline constexpr uint32_t kSynchronizeAccess = 0x100000;

inline constexpr uint32_t kWaitInfinite = 0xFFFFFFFF;

enum class WaitOutcome { kSignaled, kAbandoned, kTimeout, kFailed };
struct WaitResult {
  WaitOutcome outcome = WaitOutcome::kFailed;
  size_t index = 0;  // which handle ended (signaled or abandoned)
};

// Window messages and codes the actions send.
inline constexpr uint32_t kCommandMessage = 0x111;
inline constexpr uint32_t kSysCommandMessage = 0x112;
inline constexpr uintptr_t kCloseCode = 0xF060;
inline constexpr uintptr_t kRestoreCode = 0xF120;
inline constexpr uintptr_t kSysCommandBase = 0xF000;
inline constexpr uint32_t kMinimizedStyle = 0x20000000;

class ProcessSource {
 public:
  using ProcessCallback = std::function<void(const ProcessRecord&)>;
  using ModuleCallback = std::function<void(const ModuleEntry&)>;
  using TextCallback = std::function<void(const char*)>;

  virtual ~ProcessSource() = default;

  // Platform facts, known before binding.
  virtual bool IsNewerSystem() const = 0;

  // Binds the platform's process interfaces; false ends zel with code 3.
  virtual bool Bind() = 0;
  // Enables a privilege for zel's own process; failure is silent.
  virtual void EnablePrivilege(const char* name, uint32_t attributes) = 0;

  // Calls step once per running process.
  virtual void EnumerateProcesses(const ProcessCallback& step) = 0;
  // Calls callback once per module of the process.
  virtual void EnumerateModules(uint32_t process_id, const ModuleCallback& callback) = 0;
  // The process's command line, or nothing.
  virtual std::optional<std::string> ReadCommandLine(const ProcessRecord& record) = 0;
  // Calls print once per start-up environment string to be shown.
  virtual void ReadEnvironment(const ProcessRecord& record, const TextCallback& print) = 0;
  // Top-level windows of the process whose non-empty title matches mask (any
  // title when mask is null); invisible ones too when include_hidden.
  virtual std::vector<KeptWindow> CollectWindows(const ProcessRecord& record, const char* mask,
                                                 bool include_hidden) = 0;
  // The process's main window, or 0.
  virtual WindowId FindMainWindow(uint32_t process_id) = 0;
  // Version strings of a module file into out (kVersionTextSize bytes);
  // empty when there are none.
  virtual void ReadVersionStrings(const char* path, char* out) = 0;

  // Windows.
  virtual uint32_t WindowStyle(WindowId window) = 0;
  virtual void SendWindowMessage(WindowId window, uint32_t message, uintptr_t parameter) = 0;
  virtual void SetForegroundWindow(WindowId window) = 0;
  // The message (with its "zel: " and line feed) with which the platform
  // refuses a close command that its windows have no equivalent for, given
  // before anything is done; empty when it takes the command.
  virtual std::string RefuseCloseCommand(int32_t /*close_command*/, bool /*window_filter*/) {
    return {};
  }

  // Process handles for the actions and the wait.
  virtual ProcessHandle OpenProcess(uint32_t access, uint32_t process_id) = 0;
  virtual void CloseProcess(ProcessHandle handle) = 0;
  virtual bool TerminateProcess(ProcessHandle handle, uint32_t exit_code) = 0;
  virtual bool SetPriorityClass(ProcessHandle handle, uint32_t priority_class) = 0;
  virtual WaitResult WaitForProcess(ProcessHandle handle, uint32_t timeout_ms) = 0;
  // Waits for any one (or all) of the handles; timeout_ms may be kWaitInfinite.
  virtual WaitResult WaitForProcesses(const std::vector<ProcessHandle>& handles, bool all,
                                      uint32_t timeout_ms) = 0;
  virtual uint32_t CurrentProcessId() = 0;
};

}  // namespace zel
