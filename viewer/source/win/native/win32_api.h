// The real table of Windows operations: each one forwards to the platform's
// function of the same name. Only the functions of the process sources
// (Toolhelp, PSAPI, NTDLL, VDMDBG, ADVAPI32) are bound by name at run time,
// in win_binding.cpp; everything here is imported.
#pragma once

#include "../win_api.h"

namespace zel::win {

class Win32Api final : public WinApi {
 public:
  DWORD GetVersion() override;
  HMODULE GetModuleHandleA(const char* name) override;
  HMODULE LoadLibraryA(const char* name) override;
  FARPROC GetProcAddress(HMODULE module, const char* name) override;

  HANDLE OpenProcess(DWORD access, BOOL inherit, DWORD process_id) override;
  BOOL CloseHandle(HANDLE handle) override;
  DWORD GetPriorityClass(HANDLE process) override;
  BOOL ReadProcessMemory(HANDLE process, const void* address, void* buffer, SIZE_T size,
                         SIZE_T* read) override;
  SIZE_T VirtualQueryEx(HANDLE process, const void* address, MEMORY_BASIC_INFORMATION* info,
                        SIZE_T size) override;
  HANDLE GetCurrentProcess() override;
  DWORD GetCurrentProcessId() override;

  DWORD GetEnvironmentVariableA(const char* name, char* buffer, DWORD size) override;
  int WideCharToMultiByte(UINT code_page, DWORD flags, const WCHAR* wide, int wide_count,
                          char* text, int text_size, const char* default_char,
                          BOOL* used_default) override;

  HANDLE CreateFileA(const char* name, DWORD access, DWORD share, void* security,
                     DWORD disposition, DWORD flags, HANDLE template_file) override;
  DWORD GetFileSize(HANDLE file, DWORD* high) override;
  HANDLE CreateFileMappingA(HANDLE file, void* security, DWORD protect, DWORD size_high,
                            DWORD size_low, const char* name) override;
  void* MapViewOfFile(HANDLE mapping, DWORD access, DWORD offset_high, DWORD offset_low,
                      SIZE_T size) override;
  BOOL UnmapViewOfFile(const void* view) override;

  DWORD GetFileVersionInfoSizeA(const char* path, DWORD* handle) override;
  BOOL GetFileVersionInfoA(const char* path, DWORD handle, DWORD size, void* data) override;
  BOOL VerQueryValueA(const void* block, const char* sub_block, void** value,
                      UINT* length) override;

  HWND GetDesktopWindow() override;
  HWND GetWindow(HWND window, UINT command) override;
  DWORD GetWindowThreadProcessId(HWND window, DWORD* process_id) override;
  LONG GetWindowLongA(HWND window, int index) override;
  int GetWindowTextA(HWND window, char* text, int size) override;

  LRESULT SendMessageA(HWND window, UINT message, WPARAM wparam, LPARAM lparam) override;
  BOOL SetForegroundWindow(HWND window) override;
  BOOL SetPriorityClass(HANDLE process, DWORD priority_class) override;
  BOOL TerminateProcess(HANDLE process, UINT exit_code) override;
  DWORD WaitForSingleObject(HANDLE handle, DWORD timeout_ms) override;
  DWORD WaitForMultipleObjectsEx(DWORD count, const HANDLE* handles, BOOL wait_all,
                                 DWORD timeout_ms, BOOL alertable) override;

  ULONG_PTR OwnProcessDatabase() override;
  BOOL ReadOwnMemory(ULONG_PTR address, void* buffer, SIZE_T size) override;
};

}  // namespace zel::win
