// The PSAPI source: processes by ID, details through PSAPI and the native
// basic-information query, 16-bit tasks through VDMDBG.
#include <cstring>
#include <string>

#include "../../text.h"
#include "win_source.h"

namespace zel::win {

namespace {

constexpr size_t kMaxProcessIds = 2048;  // 8192 bytes of IDs
constexpr size_t kMaxModuleHandles = 1024;

// Terminates a buffer the platform filled.
void Terminate(char* buffer, size_t size, DWORD length) {
  buffer[length < size ? length : size - 1] = '\0';
}

struct WowContext {
  WinSource* source;
  const ProcessSource::ProcessCallback* step;
  VdmEnumTaskWowExFn enum_tasks;
  DWORD machine_id;
};

BOOL ZEL_WINAPI OnWowTask(DWORD thread_id, WORD, WORD, char* module_name, char* file_name,
                          LPARAM user) {
  const WowContext& context = *reinterpret_cast<const WowContext*>(user);
  ProcessRecord record;
  record.process_id = thread_id;
  record.parent_id = context.machine_id;
  const char* file = file_name != nullptr ? file_name : "";
  const char* slash = std::strrchr(file, '\\');
  const char* shown = slash != nullptr ? slash + 1 : (module_name != nullptr ? module_name : "");
  std::string name = "  ";
  name += shown;
  CopyBounded(record.name, name.c_str());
  CopyBounded(record.path, file);
  (*context.step)(record);
  return 0;  // go on
}

BOOL ZEL_WINAPI OnWowMachine(DWORD process_id, DWORD, LPARAM user) {
  WowContext context = *reinterpret_cast<const WowContext*>(user);
  context.machine_id = process_id;
  context.enum_tasks(process_id, OnWowTask, reinterpret_cast<LPARAM>(&context));
  return 0;
}

}  // namespace

void WinSource::EnumeratePsapi(const ProcessCallback& step) {
  DWORD ids[kMaxProcessIds] = {};
  DWORD needed = 0;
  if (bound_.enum_processes == nullptr) return;
  if (bound_.enum_processes(ids, sizeof ids, &needed)) {
    size_t count = needed / sizeof(DWORD);
    if (count > kMaxProcessIds) count = kMaxProcessIds;
    ProcessRecord record;
    for (size_t i = 0; i < count; ++i) {
      record = ProcessRecord();
      record.flags = kDetailsUnavailable;
      record.process_id = ids[i];
      HANDLE process = api_.OpenProcess(kQueryAndReadAccess, 0, ids[i]);
      if (process == nullptr) {
        CopyBounded(record.name, kAccessDeniedName);
      } else {
        if (bound_.nt_query_information_process != nullptr) {
          PROCESS_BASIC_INFORMATION info = {};
          ULONG returned = 0;
          if (bound_.nt_query_information_process(process, 0, &info, sizeof info, &returned) >=
              0) {
            record.parent_id = static_cast<uint32_t>(info.InheritedFromUniqueProcessId);
            record.environment_block = reinterpret_cast<uintptr_t>(info.PebBaseAddress);
          }
        }
        HMODULE first = nullptr;
        DWORD bytes = 0;
        if (bound_.enum_process_modules(process, &first, sizeof first, &bytes)) {
          Terminate(record.name, sizeof record.name,
                    bound_.get_module_base_name(process, first, record.name, sizeof record.name));
          record.priority_class = api_.GetPriorityClass(process);
          Terminate(record.path, sizeof record.path,
                    bound_.get_module_file_name(process, first, record.path, sizeof record.path));
          NormalizePath(record.path, sizeof record.path);
          record.flags &= ~kDetailsUnavailable;
        } else {
          CopyBounded(record.name, kUnknownName);
        }
        api_.CloseHandle(process);
      }
      step(record);
    }
  }
  EnumerateWowTasks(step);
}

void WinSource::EnumerateWowTasks(const ProcessCallback& step) {
  if (bound_.vdm_enum_process_wow == nullptr || bound_.vdm_enum_task_wow_ex == nullptr) return;
  WowContext context{this, &step, bound_.vdm_enum_task_wow_ex, 0};
  bound_.vdm_enum_process_wow(OnWowMachine, reinterpret_cast<LPARAM>(&context));
}

// A path read from another process: "\??\" prefixes are dropped, and a
// leading "\Component\" naming an environment variable of our own (such as
// the system root) is replaced by its value when the result fits. Paths not
// beginning with exactly one backslash (drive paths, "\\server") stay.
void WinSource::NormalizePath(char* path, size_t size) {
  if (path[0] != '\\' || path[1] == '\\') return;
  if (std::strncmp(path, "\\??\\", 4) == 0) {
    std::memmove(path, path + 4, std::strlen(path + 4) + 1);
    return;
  }
  const char* end = std::strchr(path + 1, '\\');
  if (end == nullptr || end == path + 1) return;
  const std::string component(path + 1, static_cast<size_t>(end - (path + 1)));
  const std::string rest(end + 1);
  char value[kMaxPath] = {};
  const DWORD length = api_.GetEnvironmentVariableA(component.c_str(), value, sizeof value);
  if (length == 0 || length >= sizeof value) return;
  value[length] = '\0';
  if (length + 1 + rest.size() >= size) return;
  std::string result(value, length);
  result += '\\';
  result += rest;
  CopyBounded(path, size, result.c_str());
}

void WinSource::ModulesPsapi(uint32_t process_id, const ModuleCallback& callback) {
  HANDLE process = api_.OpenProcess(kQueryAndReadAccess, 0, process_id);
  if (process == nullptr) return;
  HMODULE modules[kMaxModuleHandles] = {};
  DWORD needed = 0;
  if (bound_.enum_process_modules(process, modules, sizeof modules, &needed)) {
    size_t count = needed / sizeof(HMODULE);
    if (count > kMaxModuleHandles) count = kMaxModuleHandles;
    ModuleEntry entry;
    for (size_t i = 0; i < count; ++i) {
      entry = ModuleEntry();
      Terminate(entry.name, sizeof entry.name,
                bound_.get_module_base_name(process, modules[i], entry.name, sizeof entry.name));
      Terminate(entry.path, sizeof entry.path,
                bound_.get_module_file_name(process, modules[i], entry.path, sizeof entry.path));
      NormalizePath(entry.path, sizeof entry.path);
      MODULEINFO info = {};
      if (bound_.get_module_information(process, modules[i], &info, sizeof info)) {
        entry.base = reinterpret_cast<uintptr_t>(info.lpBaseOfDll);
        entry.size = info.SizeOfImage;
      }
      callback(entry);
    }
  }
  api_.CloseHandle(process);
}

}  // namespace zel::win
