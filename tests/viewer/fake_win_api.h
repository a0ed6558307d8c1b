// A scripted table of the Windows operations: fake processes with memory
// images, modules, windows, files and version resources, so that the PSAPI
// and Toolhelp sources run on any platform.
#pragma once

#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "source/win/win_api.h"

namespace zel::test {

using namespace zel::win;

struct FakeModule {
  std::string base_name;
  std::string file_name;  // as the platform reports it (may need normalising)
  uint64_t base = 0;
  DWORD size = 0;
};

struct FakeRegion {
  std::vector<uint8_t> bytes;
  bool committed = true;
};

struct FakeProcessImage {
  DWORD id = 0;
  bool openable = true;
  bool modules_readable = true;
  DWORD priority_class = 0x20;
  DWORD denied_access = 0;  // OpenProcess fails when asked for any of these bits
  DWORD parent = 0;
  uint64_t peb = 0;
  std::vector<FakeModule> modules;
  std::map<uint64_t, FakeRegion> memory;  // region base -> contents
  // Toolhelp.
  DWORD module_id = 0;
  std::string exe_file;
};

struct FakeWindow {
  DWORD owner = 0;
  LONG style = 0;
  std::string title;
  std::vector<int> children;  // indexes into windows
};

class FakeWinApi : public WinApi {
 public:
  FakeWinApi();
  ~FakeWinApi() override;

  // Script.
  DWORD version = 0x0A;  // NT family, major 10
  std::map<std::string, std::set<std::string>> loaded;    // module -> exports
  std::map<std::string, std::set<std::string>> loadable;  // loaded on demand
  std::vector<FakeProcessImage> processes;
  std::map<std::string, std::string> environment;
  std::vector<FakeWindow> windows;
  std::vector<int> top_level;
  std::map<std::string, std::vector<uint8_t>> files;
  std::map<std::string, std::map<std::string, std::string>> version_info;
  NTSTATUS query_status = 0;
  DWORD enum_processes_limit = 0;  // 0: no limit
  // VDM: machine ID -> tasks {thread ID, module name, file name}.
  struct Task {
    DWORD thread_id;
    std::string module_name;
    std::string file_name;
  };
  std::map<DWORD, std::vector<Task>> vdm_machines;
  // Legacy family shared memory and own process database.
  ULONG_PTR own_database = 0x81234560;
  DWORD own_id = 0x77;
  std::map<uint64_t, FakeRegion> shared_memory;

  // Observations.
  std::vector<std::string> calls;  // names of bound functions called
  std::vector<std::string> load_library_calls;
  std::vector<std::string> privilege_adjusted;
  std::vector<DWORD> open_access;  // access values asked of OpenProcess
  int open_handles = 0;
  std::vector<std::pair<UINT, WPARAM>> messages;
  HWND foreground = nullptr;

  // Helpers for scripts.
  FakeProcessImage& AddProcess(DWORD id, const std::string& name, const std::string& path);
  int AddWindow(DWORD owner, LONG style, const std::string& title, int parent = -1);
  static HWND WindowHandle(int index) { return reinterpret_cast<HWND>(static_cast<uintptr_t>(index + 100)); }
  FakeProcessImage* Find(DWORD id);
  // Writes a process environment block and process parameters at the
  // addresses given, with a command line and environment, in the layout of
  // the pointer size.
  void WriteParams(FakeProcessImage& p, size_t pointer_size, const std::u16string& command_line,
                   const std::u16string& environment_block, uint64_t environment_region_size);

  // WinApi.
  DWORD GetVersion() override { return version; }
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
  HANDLE GetCurrentProcess() override { return reinterpret_cast<HANDLE>(-1); }
  DWORD GetCurrentProcessId() override { return own_id; }
  DWORD GetEnvironmentVariableA(const char* name, char* buffer, DWORD size) override;
  int WideCharToMultiByte(UINT code_page, DWORD flags, const WCHAR* wide, int wide_count,
                          char* text, int text_size, const char*, BOOL*) override;
  HANDLE CreateFileA(const char* name, DWORD, DWORD, void*, DWORD, DWORD, HANDLE) override;
  DWORD GetFileSize(HANDLE file, DWORD* high) override;
  HANDLE CreateFileMappingA(HANDLE file, void*, DWORD, DWORD, DWORD, const char*) override;
  void* MapViewOfFile(HANDLE mapping, DWORD, DWORD, DWORD, SIZE_T) override;
  BOOL UnmapViewOfFile(const void*) override { return 1; }
  DWORD GetFileVersionInfoSizeA(const char* path, DWORD* handle) override;
  BOOL GetFileVersionInfoA(const char* path, DWORD handle, DWORD size, void* data) override;
  BOOL VerQueryValueA(const void* block, const char* sub_block, void** value,
                      UINT* length) override;
  HWND GetDesktopWindow() override { return reinterpret_cast<HWND>(1); }
  HWND GetWindow(HWND window, UINT command) override;
  DWORD GetWindowThreadProcessId(HWND window, DWORD* process_id) override;
  LONG GetWindowLongA(HWND window, int index) override;
  int GetWindowTextA(HWND window, char* text, int size) override;
  LRESULT SendMessageA(HWND, UINT message, WPARAM wparam, LPARAM) override {
    messages.emplace_back(message, wparam);
    return 0;
  }
  BOOL SetForegroundWindow(HWND window) override {
    foreground = window;
    return 1;
  }
  // Actions: results to give and what was done.
  BOOL set_priority_result = 1;
  BOOL terminate_result = 1;
  std::vector<std::pair<DWORD, DWORD>> priority_set;  // process ID, class
  std::vector<std::pair<DWORD, UINT>> terminated;     // process ID, exit code
  BOOL SetPriorityClass(HANDLE process, DWORD priority_class) override;
  BOOL TerminateProcess(HANDLE process, UINT exit_code) override;
  DWORD wait_code = 0;
  // Codes of the next single waits (then wait_code); their time-outs.
  std::vector<DWORD> single_wait_codes;
  std::vector<DWORD> single_wait_timeouts;
  DWORD WaitForSingleObject(HANDLE handle, DWORD timeout_ms) override;
  // The last multiple wait.
  DWORD last_wait_count = 0;
  BOOL last_wait_all = 0;
  DWORD last_wait_timeout = 0;
  DWORD WaitForMultipleObjectsEx(DWORD count, const HANDLE* handles, BOOL wait_all,
                                 DWORD timeout_ms, BOOL) override;
  ULONG_PTR OwnProcessDatabase() override { return own_database; }
  BOOL ReadOwnMemory(ULONG_PTR address, void* buffer, SIZE_T size) override;

  // Handles.
  struct Object {
    enum Kind { kProcess, kSnapshotProcesses, kSnapshotModules, kFile, kMapping, kToken } kind;
    DWORD id = 0;
    std::string name;
    size_t cursor = 0;
  };
  std::map<uintptr_t, Object> objects;
  uintptr_t next_handle = 0x1000;
  HANDLE NewHandle(Object object);
  Object* Get(HANDLE handle);
  HWND WindowAt(int index) const;
  int IndexOf(HWND window) const;
};

// Little-endian writers for memory images.
void Put(std::vector<uint8_t>& bytes, size_t offset, uint64_t value, size_t width);

}  // namespace zel::test
