#define NOMINMAX
#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>
#include <winternl.h>

#include <cstddef>

#include "win32_api.h"

namespace zel::win {

// The sources read the platform's records through their own declarations:
// they must agree with the system headers, field for field.
static_assert(sizeof(DWORD) == sizeof(::DWORD) && sizeof(LONG) == sizeof(::LONG));
static_assert(sizeof(WCHAR) == sizeof(::WCHAR) && sizeof(SIZE_T) == sizeof(::SIZE_T));
static_assert(sizeof(PROCESSENTRY32) == sizeof(::PROCESSENTRY32));
static_assert(offsetof(PROCESSENTRY32, th32ModuleID) == offsetof(::PROCESSENTRY32, th32ModuleID));
static_assert(offsetof(PROCESSENTRY32, th32ParentProcessID) ==
              offsetof(::PROCESSENTRY32, th32ParentProcessID));
static_assert(offsetof(PROCESSENTRY32, szExeFile) == offsetof(::PROCESSENTRY32, szExeFile));
static_assert(sizeof(MODULEENTRY32) == sizeof(::MODULEENTRY32));
static_assert(offsetof(MODULEENTRY32, modBaseAddr) == offsetof(::MODULEENTRY32, modBaseAddr));
static_assert(offsetof(MODULEENTRY32, modBaseSize) == offsetof(::MODULEENTRY32, modBaseSize));
static_assert(offsetof(MODULEENTRY32, szModule) == offsetof(::MODULEENTRY32, szModule));
static_assert(offsetof(MODULEENTRY32, szExePath) == offsetof(::MODULEENTRY32, szExePath));
static_assert(sizeof(MODULEINFO) == sizeof(::MODULEINFO));
static_assert(offsetof(MODULEINFO, SizeOfImage) == offsetof(::MODULEINFO, SizeOfImage));
static_assert(sizeof(MEMORY_BASIC_INFORMATION) == sizeof(::MEMORY_BASIC_INFORMATION));
static_assert(offsetof(MEMORY_BASIC_INFORMATION, RegionSize) ==
              offsetof(::MEMORY_BASIC_INFORMATION, RegionSize));
static_assert(offsetof(MEMORY_BASIC_INFORMATION, State) == offsetof(::MEMORY_BASIC_INFORMATION, State));
static_assert(sizeof(PROCESS_BASIC_INFORMATION) == sizeof(::PROCESS_BASIC_INFORMATION));
static_assert(offsetof(PROCESS_BASIC_INFORMATION, PebBaseAddress) ==
              offsetof(::PROCESS_BASIC_INFORMATION, PebBaseAddress));
static_assert(offsetof(PROCESS_BASIC_INFORMATION, InheritedFromUniqueProcessId) ==
              offsetof(::PROCESS_BASIC_INFORMATION, InheritedFromUniqueProcessId));
static_assert(sizeof(TOKEN_PRIVILEGES) == sizeof(::TOKEN_PRIVILEGES));

namespace {

template <typename To, typename From>
To As(From value) {
  return reinterpret_cast<To>(value);
}

}  // namespace

DWORD Win32Api::GetVersion() { return ::GetVersion(); }

HMODULE Win32Api::GetModuleHandleA(const char* name) { return ::GetModuleHandleA(name); }

HMODULE Win32Api::LoadLibraryA(const char* name) { return ::LoadLibraryA(name); }

FARPROC Win32Api::GetProcAddress(HMODULE module, const char* name) {
  // Through the generic function type, which converts to every other.
  return As<FARPROC>(As<void (*)()>(::GetProcAddress(static_cast<::HMODULE>(module), name)));
}

HANDLE Win32Api::OpenProcess(DWORD access, BOOL inherit, DWORD process_id) {
  return ::OpenProcess(access, inherit, process_id);
}

BOOL Win32Api::CloseHandle(HANDLE handle) { return ::CloseHandle(handle); }

DWORD Win32Api::GetPriorityClass(HANDLE process) { return ::GetPriorityClass(process); }

BOOL Win32Api::ReadProcessMemory(HANDLE process, const void* address, void* buffer, SIZE_T size,
                                 SIZE_T* read) {
  return ::ReadProcessMemory(process, address, buffer, size, As<::SIZE_T*>(read));
}

SIZE_T Win32Api::VirtualQueryEx(HANDLE process, const void* address,
                                MEMORY_BASIC_INFORMATION* info, SIZE_T size) {
  return ::VirtualQueryEx(process, address, As<::MEMORY_BASIC_INFORMATION*>(info), size);
}

HANDLE Win32Api::GetCurrentProcess() { return ::GetCurrentProcess(); }

DWORD Win32Api::GetCurrentProcessId() { return ::GetCurrentProcessId(); }

DWORD Win32Api::GetEnvironmentVariableA(const char* name, char* buffer, DWORD size) {
  return ::GetEnvironmentVariableA(name, buffer, size);
}

int Win32Api::WideCharToMultiByte(UINT code_page, DWORD flags, const WCHAR* wide, int wide_count,
                                  char* text, int text_size, const char* default_char,
                                  BOOL* used_default) {
  return ::WideCharToMultiByte(code_page, flags, As<const wchar_t*>(wide), wide_count, text,
                               text_size, default_char, used_default);
}

HANDLE Win32Api::CreateFileA(const char* name, DWORD access, DWORD share, void* security,
                             DWORD disposition, DWORD flags, HANDLE template_file) {
  return ::CreateFileA(name, access, share, static_cast<SECURITY_ATTRIBUTES*>(security), disposition,
                       flags, template_file);
}

DWORD Win32Api::GetFileSize(HANDLE file, DWORD* high) {
  return ::GetFileSize(file, As<::DWORD*>(high));
}

HANDLE Win32Api::CreateFileMappingA(HANDLE file, void* security, DWORD protect, DWORD size_high,
                                    DWORD size_low, const char* name) {
  return ::CreateFileMappingA(file, static_cast<SECURITY_ATTRIBUTES*>(security), protect, size_high,
                              size_low, name);
}

void* Win32Api::MapViewOfFile(HANDLE mapping, DWORD access, DWORD offset_high, DWORD offset_low,
                              SIZE_T size) {
  return ::MapViewOfFile(mapping, access, offset_high, offset_low, size);
}

BOOL Win32Api::UnmapViewOfFile(const void* view) { return ::UnmapViewOfFile(view); }

DWORD Win32Api::GetFileVersionInfoSizeA(const char* path, DWORD* handle) {
  return ::GetFileVersionInfoSizeA(path, As<::DWORD*>(handle));
}

BOOL Win32Api::GetFileVersionInfoA(const char* path, DWORD handle, DWORD size, void* data) {
  return ::GetFileVersionInfoA(path, handle, size, data);
}

BOOL Win32Api::VerQueryValueA(const void* block, const char* sub_block, void** value,
                              UINT* length) {
  return ::VerQueryValueA(block, sub_block, value, length);
}

HWND Win32Api::GetDesktopWindow() { return ::GetDesktopWindow(); }

HWND Win32Api::GetWindow(HWND window, UINT command) {
  return ::GetWindow(static_cast<::HWND>(window), command);
}

DWORD Win32Api::GetWindowThreadProcessId(HWND window, DWORD* process_id) {
  return ::GetWindowThreadProcessId(static_cast<::HWND>(window), As<::DWORD*>(process_id));
}

LONG Win32Api::GetWindowLongA(HWND window, int index) {
  return ::GetWindowLongA(static_cast<::HWND>(window), index);
}

int Win32Api::GetWindowTextA(HWND window, char* text, int size) {
  return ::GetWindowTextA(static_cast<::HWND>(window), text, size);
}

LRESULT Win32Api::SendMessageA(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  return ::SendMessageA(static_cast<::HWND>(window), message, wparam, lparam);
}

BOOL Win32Api::SetForegroundWindow(HWND window) {
  return ::SetForegroundWindow(static_cast<::HWND>(window));
}

BOOL Win32Api::SetPriorityClass(HANDLE process, DWORD priority_class) {
  return ::SetPriorityClass(process, priority_class);
}

BOOL Win32Api::TerminateProcess(HANDLE process, UINT exit_code) {
  return ::TerminateProcess(process, exit_code);
}

DWORD Win32Api::WaitForSingleObject(HANDLE handle, DWORD timeout_ms) {
  return ::WaitForSingleObject(handle, timeout_ms);
}

DWORD Win32Api::WaitForMultipleObjectsEx(DWORD count, const HANDLE* handles, BOOL wait_all,
                                         DWORD timeout_ms, BOOL alertable) {
  return ::WaitForMultipleObjectsEx(count, handles, wait_all, timeout_ms, alertable);
}

// The thread information block's process pointer: the process database on
// the legacy family (which is 32-bit only); a 64-bit build never asks.
ULONG_PTR Win32Api::OwnProcessDatabase() {
  ULONG_PTR value = 0;
#if defined(_WIN64)
  __asm__("movq %%gs:0x60, %0" : "=r"(value));
#else
  __asm__("movl %%fs:0x30, %0" : "=r"(value));
#endif
  return value;
}

// A read of the own address space through the memory-reading call, which
// reports an access fault as failure instead of raising it.
BOOL Win32Api::ReadOwnMemory(ULONG_PTR address, void* buffer, SIZE_T size) {
  ::SIZE_T read = 0;
  return ::ReadProcessMemory(::GetCurrentProcess(), As<const void*>(address), buffer, size, &read) &&
         read == size;
}

}  // namespace zel::win
