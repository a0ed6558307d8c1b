#include "fake_win_api.h"

#include <algorithm>

namespace zel::test {

namespace {

FakeWinApi* g_fake = nullptr;

bool Bytes(const std::map<uint64_t, FakeRegion>& memory, uint64_t address, void* buffer,
           size_t size, size_t* copied) {
  *copied = 0;
  auto it = memory.upper_bound(address);
  if (it == memory.begin()) return false;
  --it;
  const uint64_t offset = address - it->first;
  if (!it->second.committed || offset >= it->second.bytes.size()) return false;
  const size_t available = it->second.bytes.size() - static_cast<size_t>(offset);
  const size_t n = std::min(size, available);
  std::memcpy(buffer, it->second.bytes.data() + offset, n);
  *copied = n;
  return n == size;
}

// Bound functions: plain functions that forward to the current fake.
HANDLE ZEL_WINAPI FakeCreateSnapshot(DWORD flags, DWORD id) {
  g_fake->calls.push_back("CreateToolhelp32Snapshot");
  FakeWinApi::Object o{flags == kTh32csSnapProcess ? FakeWinApi::Object::kSnapshotProcesses
                                                   : FakeWinApi::Object::kSnapshotModules,
                       id, {}, 0};
  if (o.kind == FakeWinApi::Object::kSnapshotModules && g_fake->Find(id) == nullptr) {
    return kInvalidHandle;
  }
  return g_fake->NewHandle(o);
}

BOOL ProcessEntry(HANDLE snapshot, PROCESSENTRY32* entry, bool first) {
  FakeWinApi::Object* o = g_fake->Get(snapshot);
  if (o == nullptr || entry->dwSize != sizeof(PROCESSENTRY32)) return 0;
  if (first) o->cursor = 0;
  if (o->cursor >= g_fake->processes.size()) return 0;
  const FakeProcessImage& p = g_fake->processes[o->cursor++];
  entry->th32ProcessID = p.id;
  entry->th32ParentProcessID = p.parent;
  entry->th32ModuleID = p.module_id;
  std::memset(entry->szExeFile, 0, sizeof entry->szExeFile);
  std::memcpy(entry->szExeFile, p.exe_file.data(),
              std::min(p.exe_file.size(), sizeof entry->szExeFile));  // may be unterminated
  return 1;
}

BOOL ZEL_WINAPI FakeProcessFirst(HANDLE s, PROCESSENTRY32* e) { return ProcessEntry(s, e, true); }
BOOL ZEL_WINAPI FakeProcessNext(HANDLE s, PROCESSENTRY32* e) { return ProcessEntry(s, e, false); }

BOOL ModuleEntry(HANDLE snapshot, MODULEENTRY32* entry, bool first) {
  FakeWinApi::Object* o = g_fake->Get(snapshot);
  if (o == nullptr || entry->dwSize != sizeof(MODULEENTRY32)) return 0;
  FakeProcessImage* p = g_fake->Find(o->id);
  if (first) o->cursor = 0;
  if (p == nullptr || o->cursor >= p->modules.size()) return 0;
  const size_t index = o->cursor++;
  const FakeModule& m = p->modules[index];
  entry->th32ModuleID = static_cast<DWORD>(index + 1);  // module IDs count from 1
  entry->th32ProcessID = p->id;
  entry->modBaseAddr = reinterpret_cast<BYTE*>(static_cast<uintptr_t>(m.base));
  entry->modBaseSize = m.size;
  std::memset(entry->szModule, 0, sizeof entry->szModule);
  std::memset(entry->szExePath, 0, sizeof entry->szExePath);
  std::memcpy(entry->szModule, m.base_name.data(), std::min(m.base_name.size(), sizeof entry->szModule));
  std::memcpy(entry->szExePath, m.file_name.data(), std::min(m.file_name.size(), sizeof entry->szExePath));
  return 1;
}

BOOL ZEL_WINAPI FakeModuleFirst(HANDLE s, MODULEENTRY32* e) { return ModuleEntry(s, e, true); }
BOOL ZEL_WINAPI FakeModuleNext(HANDLE s, MODULEENTRY32* e) { return ModuleEntry(s, e, false); }

BOOL ZEL_WINAPI FakeEnumProcesses(DWORD* ids, DWORD bytes, DWORD* needed) {
  g_fake->calls.push_back("EnumProcesses");
  size_t n = 0;
  for (const FakeProcessImage& p : g_fake->processes) {
    if ((n + 1) * sizeof(DWORD) > bytes) break;
    ids[n++] = p.id;
  }
  *needed = static_cast<DWORD>(n * sizeof(DWORD));
  return 1;
}

FakeProcessImage* ProcessOf(HANDLE handle) {
  FakeWinApi::Object* o = g_fake->Get(handle);
  if (o == nullptr || o->kind != FakeWinApi::Object::kProcess) return nullptr;
  return g_fake->Find(o->id);
}

BOOL ZEL_WINAPI FakeEnumProcessModules(HANDLE process, HMODULE* modules, DWORD bytes,
                                       DWORD* needed) {
  FakeProcessImage* p = ProcessOf(process);
  if (p == nullptr || !p->modules_readable) return 0;
  for (size_t i = 0; i < p->modules.size() && (i + 1) * sizeof(HMODULE) <= bytes; ++i) {
    modules[i] = reinterpret_cast<HMODULE>(static_cast<uintptr_t>(p->modules[i].base));
  }
  *needed = static_cast<DWORD>(p->modules.size() * sizeof(HMODULE));
  return 1;
}

const FakeModule* ModuleOf(FakeProcessImage* p, HMODULE module) {
  if (p == nullptr) return nullptr;
  for (const FakeModule& m : p->modules) {
    if (m.base == reinterpret_cast<uintptr_t>(module)) return &m;
  }
  return nullptr;
}

// The platform truncates to size - 1 and terminates.
DWORD CopyOut(const std::string& text, char* out, DWORD size) {
  if (size == 0) return 0;
  const size_t n = std::min<size_t>(text.size(), size - 1);
  std::memcpy(out, text.data(), n);
  out[n] = '\0';
  return static_cast<DWORD>(n);
}

DWORD ZEL_WINAPI FakeBaseName(HANDLE process, HMODULE module, char* text, DWORD size) {
  const FakeModule* m = ModuleOf(ProcessOf(process), module);
  return m ? CopyOut(m->base_name, text, size) : 0;
}

DWORD ZEL_WINAPI FakeFileName(HANDLE process, HMODULE module, char* text, DWORD size) {
  const FakeModule* m = ModuleOf(ProcessOf(process), module);
  return m ? CopyOut(m->file_name, text, size) : 0;
}

BOOL ZEL_WINAPI FakeModuleInformation(HANDLE process, HMODULE module, MODULEINFO* info, DWORD) {
  const FakeModule* m = ModuleOf(ProcessOf(process), module);
  if (m == nullptr) return 0;
  info->lpBaseOfDll = reinterpret_cast<void*>(static_cast<uintptr_t>(m->base));
  info->SizeOfImage = m->size;
  return 1;
}

NTSTATUS ZEL_WINAPI FakeQuery(HANDLE process, int info_class, void* info, ULONG bytes, ULONG*) {
  FakeProcessImage* p = ProcessOf(process);
  if (p == nullptr || info_class != 0 || bytes < sizeof(PROCESS_BASIC_INFORMATION)) {
    return static_cast<NTSTATUS>(0xC0000005u);
  }
  if (g_fake->query_status < 0) return g_fake->query_status;
  auto* basic = static_cast<PROCESS_BASIC_INFORMATION*>(info);
  basic->PebBaseAddress = reinterpret_cast<void*>(static_cast<uintptr_t>(p->peb));
  basic->InheritedFromUniqueProcessId = p->parent;
  return 0;
}

int ZEL_WINAPI FakeVdmProcesses(ProcessEnumProc callback, LPARAM user) {
  for (const auto& [machine, tasks] : g_fake->vdm_machines) {
    if (callback(machine, 0, user)) break;
  }
  return static_cast<int>(g_fake->vdm_machines.size());
}

int ZEL_WINAPI FakeVdmTasks(DWORD machine, TaskEnumProcEx callback, LPARAM user) {
  auto it = g_fake->vdm_machines.find(machine);
  if (it == g_fake->vdm_machines.end()) return 0;
  for (FakeWinApi::Task task : it->second) {
    if (callback(task.thread_id, 1, 2, task.module_name.data(), task.file_name.data(), user)) {
      break;
    }
  }
  return static_cast<int>(it->second.size());
}

BOOL ZEL_WINAPI FakeOpenToken(HANDLE, DWORD access, HANDLE* token) {
  if (access != kTokenAdjustPrivileges) return 0;
  *token = g_fake->NewHandle({FakeWinApi::Object::kToken, 0, {}, 0});
  return 1;
}

BOOL ZEL_WINAPI FakeLookupPrivilege(const char* system, const char* name, LUID* luid) {
  if (system != nullptr) return 0;
  luid->LowPart = 20;
  g_fake->calls.push_back(std::string("LookupPrivilegeValueA:") + name);
  return 1;
}

BOOL ZEL_WINAPI FakeAdjustToken(HANDLE token, BOOL disable_all, TOKEN_PRIVILEGES* state, DWORD,
                                TOKEN_PRIVILEGES*, DWORD*) {
  if (g_fake->Get(token) == nullptr || disable_all) return 0;
  g_fake->privilege_adjusted.push_back(std::to_string(state->PrivilegeCount) + ":" +
                                       std::to_string(state->Privileges[0].Luid.LowPart) + ":" +
                                       std::to_string(state->Privileges[0].Attributes));
  return 1;
}

intptr_t ZEL_WINAPI FakePresentOnly() { return 0; }

template <typename Fn>
FARPROC Generic(Fn fn) {
  return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(fn));
}

FARPROC Trampoline(const std::string& name) {
  static const std::map<std::string, FARPROC> table = {
      {"CreateToolhelp32Snapshot", Generic(FakeCreateSnapshot)},
      {"Process32First", Generic(FakeProcessFirst)},
      {"Process32Next", Generic(FakeProcessNext)},
      {"Module32First", Generic(FakeModuleFirst)},
      {"Module32Next", Generic(FakeModuleNext)},
      {"EnumProcesses", Generic(FakeEnumProcesses)},
      {"EnumProcessModules", Generic(FakeEnumProcessModules)},
      {"GetModuleBaseNameA", Generic(FakeBaseName)},
      {"GetModuleFileNameExA", Generic(FakeFileName)},
      {"GetModuleInformation", Generic(FakeModuleInformation)},
      {"NtQueryInformationProcess", Generic(FakeQuery)},
      {"VDMEnumProcessWOW", Generic(FakeVdmProcesses)},
      {"VDMEnumTaskWOWEx", Generic(FakeVdmTasks)},
      {"OpenProcessToken", Generic(FakeOpenToken)},
      {"LookupPrivilegeValueA", Generic(FakeLookupPrivilege)},
      {"AdjustTokenPrivileges", Generic(FakeAdjustToken)},
  };
  auto it = table.find(name);
  return it != table.end() ? it->second : Generic(FakePresentOnly);
}

}  // namespace

void Put(std::vector<uint8_t>& bytes, size_t offset, uint64_t value, size_t width) {
  if (bytes.size() < offset + width) bytes.resize(offset + width);
  for (size_t i = 0; i < width; ++i) bytes[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

FakeWinApi::FakeWinApi() {
  g_fake = this;
  loaded["KERNEL32.DLL"] = {"CreateToolhelp32Snapshot", "Process32First", "Process32Next",
                            "Module32First", "Module32Next", "Thread32First", "Thread32Next",
                            "Heap32ListFirst", "Heap32ListNext", "Heap32First", "Heap32Next"};
  loaded["NTDLL.DLL"] = {"NtQueryInformationProcess"};
  loaded["ADVAPI32.DLL"] = {"OpenProcessToken", "LookupPrivilegeValueA", "AdjustTokenPrivileges"};
  loadable["PSAPI.DLL"] = {"EnumProcesses", "EnumProcessModules", "GetModuleBaseNameA",
                           "GetModuleFileNameExA", "GetModuleInformation", "GetModuleFileNameExW"};
}

FakeWinApi::~FakeWinApi() {
  if (g_fake == this) g_fake = nullptr;
}

FakeProcessImage& FakeWinApi::AddProcess(DWORD id, const std::string& name,
                                         const std::string& path) {
  FakeProcessImage p;
  p.id = id;
  p.module_id = 1;
  p.exe_file = path;
  p.modules.push_back({name, path, 0x400000 + id * 0x10000ull, 0x8000});
  processes.push_back(p);
  return processes.back();
}

FakeProcessImage* FakeWinApi::Find(DWORD id) {
  for (FakeProcessImage& p : processes) {
    if (p.id == id) return &p;
  }
  return nullptr;
}

void FakeWinApi::WriteParams(FakeProcessImage& p, size_t ps, const std::u16string& command_line,
                             const std::u16string& environment_block,
                             uint64_t environment_region_size) {
  const uint64_t params = 0x20000;
  const uint64_t text = 0x30000;
  const uint64_t env = 0x40000;
  p.peb = 0x10000;
  FakeRegion peb;
  Put(peb.bytes, ps == 4 ? 16 : 0x20, params, ps);
  peb.bytes.resize(0x100);
  p.memory[p.peb] = peb;
  FakeRegion parameters;
  parameters.bytes.resize(0x100);
  const size_t cl = ps == 4 ? 64 : 0x70;
  Put(parameters.bytes, cl, command_line.size() * 2, 2);
  Put(parameters.bytes, cl + 2, command_line.size() * 2 + 2, 2);
  Put(parameters.bytes, ps == 4 ? 68 : 0x78, text, ps);
  Put(parameters.bytes, ps == 4 ? 72 : 0x80, env, ps);
  p.memory[params] = parameters;
  FakeRegion line;
  line.bytes.resize(command_line.size() * 2 + 2);
  std::memcpy(line.bytes.data(), command_line.data(), command_line.size() * 2);
  p.memory[text] = line;
  FakeRegion block;
  block.bytes.resize(environment_region_size);
  std::memcpy(block.bytes.data(), environment_block.data(),
              std::min<size_t>(environment_block.size() * 2, environment_region_size));
  p.memory[env] = block;
}

HMODULE FakeWinApi::GetModuleHandleA(const char* name) {
  auto it = loaded.find(name);
  return it == loaded.end() ? nullptr : reinterpret_cast<HMODULE>(const_cast<std::string*>(&it->first));
}

HMODULE FakeWinApi::LoadLibraryA(const char* name) {
  load_library_calls.push_back(name);
  if (loaded.count(name) == 0) {
    auto it = loadable.find(name);
    if (it == loadable.end()) return nullptr;
    loaded[name] = it->second;
  }
  return GetModuleHandleA(name);
}

FARPROC FakeWinApi::GetProcAddress(HMODULE module, const char* name) {
  for (const auto& [module_name, exports] : loaded) {
    if (reinterpret_cast<HMODULE>(const_cast<std::string*>(&module_name)) != module) continue;
    if (exports.count(name) == 0) return nullptr;
    return Trampoline(name);
  }
  return nullptr;
}

HANDLE FakeWinApi::NewHandle(Object object) {
  const uintptr_t handle = next_handle;
  next_handle += 4;
  objects[handle] = object;
  ++open_handles;
  return reinterpret_cast<HANDLE>(handle);
}

FakeWinApi::Object* FakeWinApi::Get(HANDLE handle) {
  auto it = objects.find(reinterpret_cast<uintptr_t>(handle));
  return it == objects.end() ? nullptr : &it->second;
}

HANDLE FakeWinApi::OpenProcess(DWORD access, BOOL, DWORD id) {
  open_access.push_back(access);
  FakeProcessImage* p = Find(id);
  if (p == nullptr || !p->openable || (access & p->denied_access) != 0) return nullptr;
  return NewHandle({Object::kProcess, id, {}, 0});
}

BOOL FakeWinApi::CloseHandle(HANDLE handle) {
  if (objects.erase(reinterpret_cast<uintptr_t>(handle)) == 0) return 0;
  --open_handles;
  return 1;
}

DWORD FakeWinApi::GetPriorityClass(HANDLE process) {
  FakeProcessImage* p = ProcessOf(process);
  return p ? p->priority_class : 0;
}

BOOL FakeWinApi::ReadProcessMemory(HANDLE process, const void* address, void* buffer, SIZE_T size,
                                   SIZE_T* read) {
  FakeProcessImage* p = ProcessOf(process);
  size_t copied = 0;
  const bool ok = p != nullptr &&
                  Bytes(p->memory, reinterpret_cast<uintptr_t>(address), buffer, size, &copied);
  if (read != nullptr) *read = copied;
  return ok ? 1 : 0;
}

SIZE_T FakeWinApi::VirtualQueryEx(HANDLE process, const void* address,
                                  MEMORY_BASIC_INFORMATION* info, SIZE_T) {
  FakeProcessImage* p = ProcessOf(process);
  if (p == nullptr) return 0;
  const uint64_t where = reinterpret_cast<uintptr_t>(address);
  auto it = p->memory.upper_bound(where);
  if (it == p->memory.begin()) return 0;
  --it;
  if (where >= it->first + it->second.bytes.size()) return 0;
  *info = MEMORY_BASIC_INFORMATION();
  info->BaseAddress = reinterpret_cast<void*>(static_cast<uintptr_t>(it->first));
  info->RegionSize = it->second.bytes.size();
  info->State = it->second.committed ? kMemCommit : 0x2000;
  return sizeof *info;
}

DWORD FakeWinApi::GetEnvironmentVariableA(const char* name, char* buffer, DWORD size) {
  auto it = environment.find(name);
  if (it == environment.end()) return 0;
  if (it->second.size() + 1 > size) return static_cast<DWORD>(it->second.size() + 1);
  std::memcpy(buffer, it->second.c_str(), it->second.size() + 1);
  return static_cast<DWORD>(it->second.size());
}

int FakeWinApi::WideCharToMultiByte(UINT, DWORD, const WCHAR* wide, int count, char* text,
                                    int size, const char*, BOOL*) {
  if (size == 0) return count;
  const int n = std::min(count, size);
  for (int i = 0; i < n; ++i) text[i] = wide[i] < 0x80 ? static_cast<char>(wide[i]) : '?';
  return n;
}

HANDLE FakeWinApi::CreateFileA(const char* name, DWORD access, DWORD share, void*,
                               DWORD disposition, DWORD, HANDLE) {
  if (files.count(name) == 0 || access != kGenericRead || share != kFileShareReadWrite ||
      disposition != kOpenExisting) {
    return kInvalidHandle;
  }
  return NewHandle({Object::kFile, 0, name, 0});
}

DWORD FakeWinApi::GetFileSize(HANDLE file, DWORD* high) {
  Object* o = Get(file);
  if (high != nullptr) *high = 0;
  return o ? static_cast<DWORD>(files[o->name].size()) : 0xFFFFFFFF;
}

HANDLE FakeWinApi::CreateFileMappingA(HANDLE file, void*, DWORD, DWORD, DWORD, const char*) {
  Object* o = Get(file);
  if (o == nullptr || files[o->name].empty()) return nullptr;
  return NewHandle({Object::kMapping, 0, o->name, 0});
}

void* FakeWinApi::MapViewOfFile(HANDLE mapping, DWORD, DWORD, DWORD, SIZE_T) {
  Object* o = Get(mapping);
  return o ? files[o->name].data() : nullptr;
}

DWORD FakeWinApi::GetFileVersionInfoSizeA(const char* path, DWORD* handle) {
  *handle = 0;
  return version_info.count(path) ? 64 : 0;
}

BOOL FakeWinApi::GetFileVersionInfoA(const char* path, DWORD, DWORD size, void* data) {
  if (version_info.count(path) == 0 || size < 64) return 0;
  // The block remembers which file it came from.
  std::memset(data, 0, size);
  const auto* key = &version_info.find(path)->first;
  std::memcpy(data, &key, sizeof key);
  return 1;
}

BOOL FakeWinApi::VerQueryValueA(const void* block, const char* sub_block, void** value,
                                UINT* length) {
  const std::string* key = nullptr;
  std::memcpy(&key, block, sizeof key);
  auto& values = version_info[*key];
  auto it = values.find(sub_block);
  if (it == values.end()) return 0;
  *value = it->second.data();
  *length = static_cast<UINT>(it->second.size() + 1);
  return 1;
}

HWND FakeWinApi::WindowAt(int index) const {
  return index >= 0 && index < static_cast<int>(windows.size()) ? WindowHandle(index) : nullptr;
}

int FakeWinApi::IndexOf(HWND window) const {
  const int index = static_cast<int>(reinterpret_cast<uintptr_t>(window)) - 100;
  return index >= 0 && index < static_cast<int>(windows.size()) ? index : -1;
}

int FakeWinApi::AddWindow(DWORD owner, LONG style, const std::string& title, int parent) {
  windows.push_back({owner, style, title, {}});
  const int index = static_cast<int>(windows.size()) - 1;
  if (parent < 0) {
    top_level.push_back(index);
  } else {
    windows[parent].children.push_back(index);
  }
  return index;
}

HWND FakeWinApi::GetWindow(HWND window, UINT command) {
  if (window == GetDesktopWindow()) {
    return command == kGwChild && !top_level.empty() ? WindowAt(top_level[0]) : nullptr;
  }
  const int index = IndexOf(window);
  if (index < 0) return nullptr;
  if (command == kGwChild) {
    return windows[index].children.empty() ? nullptr : WindowAt(windows[index].children[0]);
  }
  // Next sibling: among the top level or the parent's children.
  auto next_in = [&](const std::vector<int>& list) -> HWND {
    auto it = std::find(list.begin(), list.end(), index);
    if (it == list.end() || it + 1 == list.end()) return nullptr;
    return WindowAt(*(it + 1));
  };
  if (std::find(top_level.begin(), top_level.end(), index) != top_level.end()) {
    return next_in(top_level);
  }
  for (const FakeWindow& w : windows) {
    if (std::find(w.children.begin(), w.children.end(), index) != w.children.end()) {
      return next_in(w.children);
    }
  }
  return nullptr;
}

DWORD FakeWinApi::GetWindowThreadProcessId(HWND window, DWORD* process_id) {
  const int index = IndexOf(window);
  if (process_id != nullptr) *process_id = index >= 0 ? windows[index].owner : 0;
  return index >= 0 ? 1 : 0;
}

LONG FakeWinApi::GetWindowLongA(HWND window, int which) {
  const int index = IndexOf(window);
  return index >= 0 && which == kGwlStyle ? windows[index].style : 0;
}

int FakeWinApi::GetWindowTextA(HWND window, char* text, int size) {
  const int index = IndexOf(window);
  if (index < 0 || size <= 0) return 0;
  return static_cast<int>(CopyOut(windows[index].title, text, static_cast<DWORD>(size)));
}

BOOL FakeWinApi::SetPriorityClass(HANDLE process, DWORD priority_class) {
  const Object* object = Get(process);
  if (object == nullptr || object->kind != Object::kProcess || !set_priority_result) return 0;
  priority_set.emplace_back(object->id, priority_class);
  return 1;
}

BOOL FakeWinApi::TerminateProcess(HANDLE process, UINT exit_code) {
  const Object* object = Get(process);
  if (object == nullptr || object->kind != Object::kProcess || !terminate_result) return 0;
  terminated.emplace_back(object->id, exit_code);
  return 1;
}

DWORD FakeWinApi::WaitForSingleObject(HANDLE handle, DWORD timeout_ms) {
  single_wait_timeouts.push_back(timeout_ms);
  if (Get(handle) == nullptr) return kWaitFailed;
  if (single_wait_codes.empty()) return wait_code;
  const DWORD code = single_wait_codes.front();
  single_wait_codes.erase(single_wait_codes.begin());
  return code;
}

DWORD FakeWinApi::WaitForMultipleObjectsEx(DWORD count, const HANDLE* handles, BOOL wait_all,
                                           DWORD timeout_ms, BOOL) {
  last_wait_count = count;
  last_wait_all = wait_all;
  last_wait_timeout = timeout_ms;
  // The platform's limits: at most 64 handles, none of them empty.
  if (count == 0 || count > 64) return kWaitFailed;
  for (DWORD i = 0; i < count; ++i) {
    if (Get(handles[i]) == nullptr) return kWaitFailed;
  }
  return wait_code;
}

BOOL FakeWinApi::ReadOwnMemory(ULONG_PTR address, void* buffer, SIZE_T size) {
  size_t copied = 0;
  return Bytes(shared_memory, address, buffer, size, &copied) ? 1 : 0;
}

}  // namespace zel::test
