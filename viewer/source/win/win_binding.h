// Run-time binding of the process sources' functions by module and function
// name, and the privilege adjustment.
#pragma once

#include "win_api.h"

namespace zel::win {

struct BoundFunctions {
  // Toolhelp ("KERNEL32.DLL", only when already loaded).
  CreateToolhelp32SnapshotFn create_snapshot = nullptr;
  Process32Fn process_first = nullptr;
  Process32Fn process_next = nullptr;
  Module32Fn module_first = nullptr;
  Module32Fn module_next = nullptr;
  // PSAPI ("PSAPI.DLL", loaded on demand).
  EnumProcessesFn enum_processes = nullptr;
  EnumProcessModulesFn enum_process_modules = nullptr;
  GetModuleTextFn get_module_base_name = nullptr;
  GetModuleTextFn get_module_file_name = nullptr;
  GetModuleInformationFn get_module_information = nullptr;
  // Optional.
  NtQueryInformationProcessFn nt_query_information_process = nullptr;
  VdmEnumProcessWowFn vdm_enum_process_wow = nullptr;
  VdmEnumTaskWowExFn vdm_enum_task_wow_ex = nullptr;
};

// Binds the Toolhelp functions (legacy family) or the PSAPI functions, then
// the optional ones. Returns whether the chosen source is complete.
bool BindSourceFunctions(WinApi& api, bool legacy_family, BoundFunctions& bound);

// Enables a privilege for the own process through "ADVAPI32.DLL" when it is
// already loaded. The functions are looked up on the first call only.
class PrivilegeAdjuster {
 public:
  void Enable(WinApi& api, const char* name, DWORD attributes);

 private:
  bool looked_up_ = false;
  OpenProcessTokenFn open_process_token_ = nullptr;
  LookupPrivilegeValueAFn lookup_privilege_value_ = nullptr;
  AdjustTokenPrivilegesFn adjust_token_privileges_ = nullptr;
};

}  // namespace zel::win
