// The Windows operations the PSAPI and Toolhelp sources are written over.
// Shapes mirror the platform's functions and records so that the real
// binding (on Windows) forwards them one to one, while tests provide a
// scripted table. Record layouts follow the platform's: pointer-sized fields
// are pointer-sized, so the same definitions fit 32- and 64-bit builds.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32) && !defined(_WIN64)
#define ZEL_WINAPI __stdcall
#else
#define ZEL_WINAPI
#endif

namespace zel::win {

using BOOL = int;
using BYTE = uint8_t;
using WORD = uint16_t;
using DWORD = uint32_t;
using LONG = int32_t;
using ULONG = uint32_t;
using UINT = unsigned int;
using NTSTATUS = LONG;
using SIZE_T = size_t;
using ULONG_PTR = uintptr_t;
using WPARAM = uintptr_t;
using LPARAM = intptr_t;
using LRESULT = intptr_t;
using HANDLE = void*;
using HMODULE = void*;
using HWND = void*;
using WCHAR = char16_t;
using FARPROC = intptr_t(ZEL_WINAPI*)();

inline HANDLE const kInvalidHandle = reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1));

constexpr size_t kMaxPath = 260;
constexpr size_t kMaxModuleName = 256;

struct PROCESSENTRY32 {
  DWORD dwSize;
  DWORD cntUsage;
  DWORD th32ProcessID;
  ULONG_PTR th32DefaultHeapID;
  DWORD th32ModuleID;
  DWORD cntThreads;
  DWORD th32ParentProcessID;
  LONG pcPriClassBase;
  DWORD dwFlags;
  char szExeFile[kMaxPath];
};

struct MODULEENTRY32 {
  DWORD dwSize;
  DWORD th32ModuleID;
  DWORD th32ProcessID;
  DWORD GlblcntUsage;
  DWORD ProccntUsage;
  BYTE* modBaseAddr;
  DWORD modBaseSize;
  HMODULE hModule;
  char szModule[kMaxModuleName];
  char szExePath[kMaxPath];
};

struct MODULEINFO {
  void* lpBaseOfDll;
  DWORD SizeOfImage;
  void* EntryPoint;
};

struct MEMORY_BASIC_INFORMATION {
  void* BaseAddress;
  void* AllocationBase;
  DWORD AllocationProtect;
  SIZE_T RegionSize;
  DWORD State;
  DWORD Protect;
  DWORD Type;
};

struct PROCESS_BASIC_INFORMATION {
  NTSTATUS ExitStatus;
  void* PebBaseAddress;
  ULONG_PTR AffinityMask;
  LONG BasePriority;
  ULONG_PTR UniqueProcessId;
  ULONG_PTR InheritedFromUniqueProcessId;
};

struct LUID {
  DWORD LowPart;
  LONG HighPart;
};

struct LUID_AND_ATTRIBUTES {
  LUID Luid;
  DWORD Attributes;
};

struct TOKEN_PRIVILEGES {
  DWORD PrivilegeCount;
  LUID_AND_ATTRIBUTES Privileges[1];
};

// Platform constants the sources use.
constexpr DWORD kTh32csSnapProcess = 0x2;
constexpr DWORD kTh32csSnapModule = 0x8;
constexpr DWORD kQueryAndReadAccess = 1040;     // query information + read memory
constexpr DWORD kAllAccess = 2035711;           // full access (legacy family)
constexpr DWORD kTokenAdjustPrivileges = 32;
constexpr DWORD kMemCommit = 0x1000;
constexpr DWORD kGenericRead = 0x80000000;
constexpr DWORD kFileShareReadWrite = 3;
constexpr DWORD kOpenExisting = 3;
constexpr DWORD kPageReadOnly = 2;
constexpr DWORD kFileMapRead = 4;
constexpr UINT kGwHwndNext = 2;
constexpr UINT kGwChild = 5;
constexpr int kGwlStyle = -16;
constexpr LONG kWsSysMenu = 0x80000;
constexpr LONG kWsVisible = 0x10000000;
constexpr UINT kCpAcp = 0;
constexpr DWORD kWaitObject0 = 0;
constexpr DWORD kWaitAbandoned0 = 0x80;
constexpr DWORD kWaitTimeout = 0x102;
constexpr DWORD kWaitFailed = 0xFFFFFFFF;

// Functions bound at run time by module and function name.
using CreateToolhelp32SnapshotFn = HANDLE(ZEL_WINAPI*)(DWORD flags, DWORD process_id);
using Process32Fn = BOOL(ZEL_WINAPI*)(HANDLE snapshot, PROCESSENTRY32* entry);
using Module32Fn = BOOL(ZEL_WINAPI*)(HANDLE snapshot, MODULEENTRY32* entry);
using EnumProcessesFn = BOOL(ZEL_WINAPI*)(DWORD* ids, DWORD bytes, DWORD* needed);
using EnumProcessModulesFn = BOOL(ZEL_WINAPI*)(HANDLE process, HMODULE* modules, DWORD bytes,
                                               DWORD* needed);
using GetModuleTextFn = DWORD(ZEL_WINAPI*)(HANDLE process, HMODULE module, char* text,
                                          DWORD size);
using GetModuleInformationFn = BOOL(ZEL_WINAPI*)(HANDLE process, HMODULE module, MODULEINFO* info,
                                                 DWORD bytes);
using NtQueryInformationProcessFn = NTSTATUS(ZEL_WINAPI*)(HANDLE process, int info_class,
                                                          void* info, ULONG bytes,
                                                          ULONG* returned);
using ProcessEnumProc = BOOL(ZEL_WINAPI*)(DWORD process_id, DWORD attributes, LPARAM user);
using TaskEnumProcEx = BOOL(ZEL_WINAPI*)(DWORD thread_id, WORD module16, WORD task16,
                                         char* module_name, char* file_name, LPARAM user);
using VdmEnumProcessWowFn = int(ZEL_WINAPI*)(ProcessEnumProc callback, LPARAM user);
using VdmEnumTaskWowExFn = int(ZEL_WINAPI*)(DWORD process_id, TaskEnumProcEx callback,
                                           LPARAM user);
using OpenProcessTokenFn = BOOL(ZEL_WINAPI*)(HANDLE process, DWORD access, HANDLE* token);
using LookupPrivilegeValueAFn = BOOL(ZEL_WINAPI*)(const char* system, const char* name,
                                                  LUID* luid);
using AdjustTokenPrivilegesFn = BOOL(ZEL_WINAPI*)(HANDLE token, BOOL disable_all,
                                                  TOKEN_PRIVILEGES* state, DWORD bytes,
                                                  TOKEN_PRIVILEGES* previous, DWORD* returned);

// The operations imported directly. A port implements each with the
// platform's function of the same name.
class WinApi {
 public:
  virtual ~WinApi() = default;

  virtual DWORD GetVersion() = 0;
  virtual HMODULE GetModuleHandleA(const char* name) = 0;
  virtual HMODULE LoadLibraryA(const char* name) = 0;
  virtual FARPROC GetProcAddress(HMODULE module, const char* name) = 0;

  virtual HANDLE OpenProcess(DWORD access, BOOL inherit, DWORD process_id) = 0;
  virtual BOOL CloseHandle(HANDLE handle) = 0;
  virtual DWORD GetPriorityClass(HANDLE process) = 0;
  virtual BOOL ReadProcessMemory(HANDLE process, const void* address, void* buffer, SIZE_T size,
                                 SIZE_T* read) = 0;
  virtual SIZE_T VirtualQueryEx(HANDLE process, const void* address,
                                MEMORY_BASIC_INFORMATION* info, SIZE_T size) = 0;
  virtual HANDLE GetCurrentProcess() = 0;
  virtual DWORD GetCurrentProcessId() = 0;

  virtual DWORD GetEnvironmentVariableA(const char* name, char* buffer, DWORD size) = 0;
  virtual int WideCharToMultiByte(UINT code_page, DWORD flags, const WCHAR* wide, int wide_count,
                                  char* text, int text_size, const char* default_char,
                                  BOOL* used_default) = 0;

  virtual HANDLE CreateFileA(const char* name, DWORD access, DWORD share, void* security,
                             DWORD disposition, DWORD flags, HANDLE template_file) = 0;
  // Bounds the reads of a mapped view to the file's size.
  virtual DWORD GetFileSize(HANDLE file, DWORD* high) = 0;
  virtual HANDLE CreateFileMappingA(HANDLE file, void* security, DWORD protect, DWORD size_high,
                                    DWORD size_low, const char* name) = 0;
  virtual void* MapViewOfFile(HANDLE mapping, DWORD access, DWORD offset_high, DWORD offset_low,
                              SIZE_T size) = 0;
  virtual BOOL UnmapViewOfFile(const void* view) = 0;

  virtual DWORD GetFileVersionInfoSizeA(const char* path, DWORD* handle) = 0;
  virtual BOOL GetFileVersionInfoA(const char* path, DWORD handle, DWORD size, void* data) = 0;
  virtual BOOL VerQueryValueA(const void* block, const char* sub_block, void** value,
                              UINT* length) = 0;

  virtual HWND GetDesktopWindow() = 0;
  virtual HWND GetWindow(HWND window, UINT command) = 0;
  virtual DWORD GetWindowThreadProcessId(HWND window, DWORD* process_id) = 0;
  virtual LONG GetWindowLongA(HWND window, int index) = 0;
  virtual int GetWindowTextA(HWND window, char* text, int size) = 0;

  // Actions.
  virtual LRESULT SendMessageA(HWND window, UINT message, WPARAM wparam, LPARAM lparam) = 0;
  virtual BOOL SetForegroundWindow(HWND window) = 0;
  virtual BOOL SetPriorityClass(HANDLE process, DWORD priority_class) = 0;
  virtual BOOL TerminateProcess(HANDLE process, UINT exit_code) = 0;
  virtual DWORD WaitForSingleObject(HANDLE handle, DWORD timeout_ms) = 0;
  virtual DWORD WaitForMultipleObjectsEx(DWORD count, const HANDLE* handles, BOOL wait_all,
                                         DWORD timeout_ms, BOOL alertable) = 0;

  // Legacy family only: the own process database address from the thread
  // information block, and reads of the own (shared) address space that
  // report an access fault as FALSE instead of crashing.
  virtual ULONG_PTR OwnProcessDatabase() = 0;
  virtual BOOL ReadOwnMemory(ULONG_PTR address, void* buffer, SIZE_T size) = 0;
};

}  // namespace zel::win
