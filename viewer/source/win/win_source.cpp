#include "win_source.h"

namespace zel::win {

namespace {

HANDLE ToHandle(ProcessHandle handle) { return reinterpret_cast<HANDLE>(handle); }
HWND ToWindow(WindowId window) { return reinterpret_cast<HWND>(window); }

WaitResult FromWaitCode(DWORD code, size_t count) {
  WaitResult result;
  if (code == kWaitTimeout) {
    result.outcome = WaitOutcome::kTimeout;
  } else if (code < kWaitObject0 + count) {
    result.outcome = WaitOutcome::kSignaled;
    result.index = code - kWaitObject0;
  } else if (code >= kWaitAbandoned0 && code < kWaitAbandoned0 + count) {
    result.outcome = WaitOutcome::kAbandoned;
    result.index = code - kWaitAbandoned0;
  }
  return result;
}

}  // namespace

WinSource::WinSource(WinApi& api, const ParamsLayout& layout) : api_(api), layout_(layout) {
  // Packed version: high bit for the legacy family, major version in the
  // low byte.
  const DWORD version = api_.GetVersion();
  legacy_family_ = (version & 0x80000000u) != 0;
  newer_system_ = (version & 0xFFu) > 4;
}

bool WinSource::Bind() { return BindSourceFunctions(api_, legacy_family_, bound_); }

void WinSource::EnablePrivilege(const char* name, uint32_t attributes) {
  privilege_.Enable(api_, name, attributes);
}

void WinSource::EnumerateProcesses(const ProcessCallback& step) {
  if (legacy_family_) {
    EnumerateToolhelp(step);
  } else {
    EnumeratePsapi(step);
  }
}

void WinSource::EnumerateModules(uint32_t process_id, const ModuleCallback& callback) {
  if (legacy_family_) {
    ModulesToolhelp(process_id, callback);
  } else {
    ModulesPsapi(process_id, callback);
  }
}

uint32_t WinSource::WindowStyle(WindowId window) {
  return static_cast<uint32_t>(api_.GetWindowLongA(ToWindow(window), kGwlStyle));
}

void WinSource::SendWindowMessage(WindowId window, uint32_t message, uintptr_t parameter) {
  api_.SendMessageA(ToWindow(window), message, parameter, 0);
}

void WinSource::SetForegroundWindow(WindowId window) {
  api_.SetForegroundWindow(ToWindow(window));
}

ProcessHandle WinSource::OpenProcess(uint32_t access, uint32_t process_id) {
  return reinterpret_cast<ProcessHandle>(api_.OpenProcess(access, 0, process_id));
}

void WinSource::CloseProcess(ProcessHandle handle) { api_.CloseHandle(ToHandle(handle)); }

bool WinSource::TerminateProcess(ProcessHandle handle, uint32_t exit_code) {
  return api_.TerminateProcess(ToHandle(handle), exit_code) != 0;
}

bool WinSource::SetPriorityClass(ProcessHandle handle, uint32_t priority_class) {
  return api_.SetPriorityClass(ToHandle(handle), priority_class) != 0;
}

WaitResult WinSource::WaitForProcess(ProcessHandle handle, uint32_t timeout_ms) {
  return FromWaitCode(api_.WaitForSingleObject(ToHandle(handle), timeout_ms), 1);
}

WaitResult WinSource::WaitForProcesses(const std::vector<ProcessHandle>& handles, bool all,
                                       uint32_t timeout_ms) {
  std::vector<HANDLE> raw;
  raw.reserve(handles.size());
  for (const ProcessHandle handle : handles) raw.push_back(ToHandle(handle));
  const DWORD code = api_.WaitForMultipleObjectsEx(static_cast<DWORD>(raw.size()), raw.data(),
                                                   all ? 1 : 0, timeout_ms, 0);
  return FromWaitCode(code, raw.size());
}

uint32_t WinSource::CurrentProcessId() { return api_.GetCurrentProcessId(); }

}  // namespace zel::win
