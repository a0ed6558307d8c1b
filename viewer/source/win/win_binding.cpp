#include "win_binding.h"

#include <initializer_list>

namespace zel::win {

namespace {

template <typename Fn>
bool Resolve(WinApi& api, HMODULE module, const char* name, Fn& out) {
  // Through the generic function type, which converts to every other.
  out = reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(api.GetProcAddress(module, name)));
  return out != nullptr;
}

bool Present(WinApi& api, HMODULE module, const char* name) {
  return api.GetProcAddress(module, name) != nullptr;
}

bool BindToolhelp(WinApi& api, BoundFunctions& b) {
  HMODULE kernel = api.GetModuleHandleA("KERNEL32.DLL");
  if (kernel == nullptr) return false;
  bool ok = Resolve(api, kernel, "CreateToolhelp32Snapshot", b.create_snapshot);
  ok &= Resolve(api, kernel, "Process32First", b.process_first);
  ok &= Resolve(api, kernel, "Process32Next", b.process_next);
  ok &= Resolve(api, kernel, "Module32First", b.module_first);
  ok &= Resolve(api, kernel, "Module32Next", b.module_next);
  // Required for the source to count as bound, though never called.
  for (const char* name : {"Thread32First", "Thread32Next", "Heap32ListFirst", "Heap32ListNext",
                           "Heap32First", "Heap32Next"}) {
    ok &= Present(api, kernel, name);
  }
  return ok;
}

bool BindPsapi(WinApi& api, BoundFunctions& b) {
  HMODULE psapi = api.GetModuleHandleA("PSAPI.DLL");
  if (psapi == nullptr) psapi = api.LoadLibraryA("PSAPI.DLL");
  if (psapi == nullptr) return false;
  bool ok = Resolve(api, psapi, "EnumProcesses", b.enum_processes);
  ok &= Resolve(api, psapi, "EnumProcessModules", b.enum_process_modules);
  ok &= Resolve(api, psapi, "GetModuleBaseNameA", b.get_module_base_name);
  ok &= Resolve(api, psapi, "GetModuleFileNameExA", b.get_module_file_name);
  ok &= Resolve(api, psapi, "GetModuleInformation", b.get_module_information);
  ok &= Present(api, psapi, "GetModuleFileNameExW");
  return ok;
}

}  // namespace

bool BindSourceFunctions(WinApi& api, bool legacy_family, BoundFunctions& bound) {
  bound = BoundFunctions();
  const bool ok = legacy_family ? BindToolhelp(api, bound) : BindPsapi(api, bound);
  if (HMODULE ntdll = api.GetModuleHandleA("NTDLL.DLL")) {
    Resolve(api, ntdll, "NtQueryInformationProcess", bound.nt_query_information_process);
  }
  if (HMODULE vdm = api.LoadLibraryA("VDMDBG.DLL")) {
    // Used only as a pair.
    if (!Resolve(api, vdm, "VDMEnumProcessWOW", bound.vdm_enum_process_wow) ||
        !Resolve(api, vdm, "VDMEnumTaskWOWEx", bound.vdm_enum_task_wow_ex)) {
      bound.vdm_enum_process_wow = nullptr;
      bound.vdm_enum_task_wow_ex = nullptr;
    }
  }
  return ok;
}

void PrivilegeAdjuster::Enable(WinApi& api, const char* name, DWORD attributes) {
  if (!looked_up_) {
    looked_up_ = true;
    if (HMODULE advapi = api.GetModuleHandleA("ADVAPI32.DLL")) {
      Resolve(api, advapi, "OpenProcessToken", open_process_token_);
      Resolve(api, advapi, "LookupPrivilegeValueA", lookup_privilege_value_);
      Resolve(api, advapi, "AdjustTokenPrivileges", adjust_token_privileges_);
    }
  }
  if (open_process_token_ == nullptr || lookup_privilege_value_ == nullptr ||
      adjust_token_privileges_ == nullptr) {
    return;
  }
  HANDLE token = nullptr;
  if (!open_process_token_(api.GetCurrentProcess(), kTokenAdjustPrivileges, &token)) return;
  TOKEN_PRIVILEGES privileges = {};
  if (lookup_privilege_value_(nullptr, name, &privileges.Privileges[0].Luid)) {
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = attributes;
    adjust_token_privileges_(token, 0, &privileges, sizeof privileges, nullptr, nullptr);
  }
  api.CloseHandle(token);
}

}  // namespace zel::win
