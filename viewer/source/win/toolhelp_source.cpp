// The Toolhelp source of the legacy family: process and module snapshots,
// command line and environment from the process databases of the shared
// address space.
#include "../../text.h"
#include "win_source.h"

namespace zel::win {

namespace {

// Longest command line or environment read from another process's database.
constexpr size_t kLegacyTextLimit = 65536;

}  // namespace

void WinSource::EnumerateToolhelp(const ProcessCallback& step) {
  if (bound_.create_snapshot == nullptr) return;
  HANDLE snapshot = bound_.create_snapshot(kTh32csSnapProcess, 0);
  if (snapshot == kInvalidHandle || snapshot == nullptr) return;
  PROCESSENTRY32 process = {};
  process.dwSize = sizeof process;
  ProcessRecord record;
  for (BOOL more = bound_.process_first(snapshot, &process); more;
       more = bound_.process_next(snapshot, &process)) {
    // The executable module: the one whose module ID is the process's.
    MODULEENTRY32 module = {};
    module.dwSize = sizeof module;
    bool found = false;
    HANDLE modules = bound_.create_snapshot(kTh32csSnapModule, process.th32ProcessID);
    if (modules != kInvalidHandle && modules != nullptr) {
      for (BOOL next = bound_.module_first(modules, &module); next && !found;
           next = bound_.module_next(modules, &module)) {
        found = module.th32ModuleID == process.th32ModuleID;
        if (found) break;
      }
      api_.CloseHandle(modules);
    }
    if (!found) continue;

    record = ProcessRecord();
    HANDLE handle = api_.OpenProcess(kAllAccess, 0, process.th32ProcessID);
    if (handle != nullptr) {
      record.priority_class = api_.GetPriorityClass(handle);
      api_.CloseHandle(handle);
    }
    record.process_id = process.th32ProcessID;
    record.parent_id = process.th32ParentProcessID;
    CopyBoundedN(record.path, sizeof record.path, process.szExeFile, sizeof process.szExeFile);
    char module_path[kMaxPath + 1] = {};
    CopyBoundedN(module_path, sizeof module_path, module.szExePath, sizeof module.szExePath);
    if (EqualNoCase(record.path, module_path) ||
        !ReadNeModuleName(record.path, record.name, sizeof record.name)) {
      CopyBoundedN(record.name, sizeof record.name, module.szModule, sizeof module.szModule);
    }
    step(record);
  }
  api_.CloseHandle(snapshot);
}

void WinSource::ModulesToolhelp(uint32_t process_id, const ModuleCallback& callback) {
  if (bound_.create_snapshot == nullptr) return;
  HANDLE snapshot = bound_.create_snapshot(kTh32csSnapModule, process_id);
  if (snapshot == kInvalidHandle || snapshot == nullptr) return;
  MODULEENTRY32 module = {};
  module.dwSize = sizeof module;
  ModuleEntry entry;
  for (BOOL more = bound_.module_first(snapshot, &module); more;
       more = bound_.module_next(snapshot, &module)) {
    entry = ModuleEntry();
    CopyBoundedN(entry.name, sizeof entry.name, module.szModule, sizeof module.szModule);
    CopyBoundedN(entry.path, sizeof entry.path, module.szExePath, sizeof module.szExePath);
    entry.base = reinterpret_cast<uintptr_t>(module.modBaseAddr);
    entry.size = module.modBaseSize;
    callback(entry);
  }
  api_.CloseHandle(snapshot);
}

// The own process database XOR the own ID is the system's key; the key XOR
// another ID is that process's database. Its word at 64 points to the
// environment database.
ULONG_PTR WinSource::LegacyEnvironmentDatabase(uint32_t process_id) {
  const ULONG_PTR key = api_.OwnProcessDatabase() ^ api_.GetCurrentProcessId();
  const ULONG_PTR database = key ^ process_id;
  uint32_t environment_database = 0;
  if (!api_.ReadOwnMemory(database + 64, &environment_database, sizeof environment_database)) {
    return 0;
  }
  return environment_database;
}

bool WinSource::ReadLegacyString(ULONG_PTR address, std::string& text) {
  text.clear();
  char c = 0;
  while (text.size() < kLegacyTextLimit) {
    if (!api_.ReadOwnMemory(address + text.size(), &c, 1)) return false;
    if (c == '\0') return true;
    text += c;
  }
  return true;  // cut at the limit
}

}  // namespace zel::win
