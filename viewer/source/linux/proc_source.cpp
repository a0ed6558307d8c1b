#include "proc_source.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <system_error>
#include <thread>

#include "../../text.h"
#include "proc_parse.h"

#ifndef SYS_pidfd_open
#define SYS_pidfd_open 434
#endif
#ifndef SYS_pidfd_send_signal
#define SYS_pidfd_send_signal 424
#endif

namespace zel {

namespace {

// Reads an open /proc file to its end and closes it. With `one_line`, a
// short read that ends a line is the end: the kernel hands a one-line file
// whole to a buffer that holds it, so no second read is needed to see it.
bool ReadAll(int fd, std::string& text, bool one_line) {
  if (fd < 0) return false;
  text.clear();
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      ::close(fd);
      return false;
    }
    text.append(buffer, static_cast<size_t>(n));
    if (n == 0 || (one_line && static_cast<size_t>(n) < sizeof buffer && buffer[n - 1] == '\n')) break;
  }
  ::close(fd);
  return true;
}

// Reads a whole (small or large) /proc file; false when it cannot be opened.
bool ReadFile(const std::string& path, std::string& text) {
  return ReadAll(::open(path.c_str(), O_RDONLY | O_CLOEXEC), text, false);
}

int FdOf(ProcessHandle handle) { return static_cast<int>(handle - 1); }
ProcessHandle HandleOf(int fd) { return static_cast<ProcessHandle>(fd) + 1; }

}  // namespace

ProcSource::ProcSource(std::string proc_root) : root_(std::move(proc_root)) {}

ProcSource::~ProcSource() {
  for (const auto& [handle, pid] : open_) ::close(FdOf(handle));
  if (root_fd_ >= 0) ::close(root_fd_);
}

int ProcSource::RootFd() {
  if (root_fd_ < 0) root_fd_ = ::open(root_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  return root_fd_;
}

// /proc/PID/stat, relative to the proc root: one lookup and one read.
bool ProcSource::ReadStat(uint32_t process_id, std::string& text) {
  const int root = RootFd();
  if (root < 0) return ReadFile(PidPath(process_id, "stat"), text);
  const std::string name = std::to_string(process_id) + "/stat";
  return ReadAll(::openat(root, name.c_str(), O_RDONLY | O_CLOEXEC), text, true);
}

std::string ProcSource::PidPath(uint32_t process_id, const char* file) const {
  std::string path = root_;
  path += '/';
  path += std::to_string(process_id);
  path += '/';
  path += file;
  return path;
}

bool ProcSource::Bind() {
  DIR* dir = ::opendir(root_.c_str());
  if (dir == nullptr) return false;
  bool any = false;
  while (const dirent* entry = ::readdir(dir)) {
    if (entry->d_name[0] >= '1' && entry->d_name[0] <= '9') {
      any = true;
      break;
    }
  }
  ::closedir(dir);
  return any;
}

void ProcSource::EnablePrivilege(const char*, uint32_t) {
  // Nothing to enable: what the user may see and do is decided per process.
}

bool ProcSource::ReadRecord(uint32_t process_id, ProcessRecord& record) {
  record = ProcessRecord();
  record.process_id = process_id;
  std::string text;
  std::optional<linux_proc::StatFields> stat;
  if (ReadStat(process_id, text)) stat = linux_proc::ParseStat(text);
  if (!stat) {
    record.flags = kDetailsUnavailable;
    CopyBounded(record.name, kAccessDeniedName);
    return true;
  }
  record.parent_id = stat->parent_id;
  record.priority_class = linux_proc::PriorityClassOf(stat->policy, stat->nice);
  // Kernel threads have no program file.
  char target[4096];
  ssize_t n = -1;
  if (!stat->kernel_thread) {
    const int root = RootFd();
    n = root >= 0 ? ::readlinkat(root, (std::to_string(process_id) + "/exe").c_str(), target, sizeof target - 1)
                  : ::readlink(PidPath(process_id, "exe").c_str(), target, sizeof target - 1);
  }
  if (n > 0) {
    target[n] = '\0';
    CopyBounded(record.path, target);
    CopyBounded(record.name, linux_proc::BaseName(std::string_view(target, n)).c_str());
  }
  if (record.name[0] == '\0') CopyBounded(record.name, stat->comm.c_str());
  return true;
}

void ProcSource::EnumerateProcesses(const ProcessCallback& step) {
  DIR* dir = ::opendir(root_.c_str());
  if (dir == nullptr) return;
  std::vector<uint32_t> ids;
  while (const dirent* entry = ::readdir(dir)) {
    uint32_t id = 0;
    if (entry->d_name[0] >= '1' && entry->d_name[0] <= '9' &&
        ParseUnsigned32(entry->d_name, &id)) {
      ids.push_back(id);
    }
  }
  ::closedir(dir);
  // Windows are read afresh once per enumeration, when first asked for.
  display_.Forget();
  // Most of a listing's time is the kernel's, building each /proc file: a
  // long list is read by two threads (each reading its half into records of
  // its own), then handed over in order.
  constexpr size_t kSharedFrom = 256;
  if (ids.size() >= kSharedFrom && RootFd() >= 0 && std::thread::hardware_concurrency() > 1) {
    std::vector<ProcessRecord> records(ids.size());
    std::vector<char> read(ids.size(), 0);
    auto read_range = [&](size_t from, size_t to) {
      for (size_t i = from; i < to; ++i) read[i] = ReadRecord(ids[i], records[i]) ? 1 : 0;
    };
    const size_t half = ids.size() / 2;
    std::thread other;
    try {
      other = std::thread(read_range, half, ids.size());
    } catch (const std::system_error&) {
      // No second thread: this one reads both halves.
    }
    read_range(0, half);
    if (other.joinable()) {
      other.join();
    } else {
      read_range(half, ids.size());
    }
    for (size_t i = 0; i < ids.size(); ++i) {
      if (read[i] != 0) step(records[i]);
    }
    return;
  }
  ProcessRecord record;
  for (const uint32_t id : ids) {
    if (ReadRecord(id, record)) step(record);
  }
}

void ProcSource::EnumerateModules(uint32_t process_id, const ModuleCallback& callback) {
  std::string text;
  if (!ReadFile(PidPath(process_id, "maps"), text)) return;
  ModuleEntry entry;
  for (const linux_proc::MappedFile& file : linux_proc::ParseMaps(text)) {
    entry = ModuleEntry();
    CopyBounded(entry.name, linux_proc::BaseName(file.path).c_str());
    CopyBounded(entry.path, file.path.c_str());
    entry.base = file.low;
    entry.size = file.high - file.low;
    callback(entry);
  }
}

std::optional<std::string> ProcSource::ReadCommandLine(const ProcessRecord& record) {
  std::string raw;
  if (!ReadFile(PidPath(record.process_id, "cmdline"), raw)) return std::nullopt;
  return linux_proc::JoinCommandLine(raw);
}

void ProcSource::ReadEnvironment(const ProcessRecord& record, const TextCallback& print) {
  std::string raw;
  if (!ReadFile(PidPath(record.process_id, "environ"), raw)) return;
  for (const std::string& variable : linux_proc::SplitEnvironment(raw)) print(variable.c_str());
}

std::vector<KeptWindow> ProcSource::CollectWindows(const ProcessRecord& record, const char* mask,
                                                   bool include_hidden) {
  return x11::KeepWindows(display_.Table(), record.process_id, mask, include_hidden);
}

WindowId ProcSource::FindMainWindow(uint32_t process_id) {
  const x11::TopWindow* main = x11::ChooseMainWindow(display_.Table(), process_id);
  return main != nullptr ? main->id : 0;
}

void ProcSource::ReadVersionStrings(const char*, char* out) { out[0] = '\0'; }

uint32_t ProcSource::WindowStyle(WindowId window) {
  const x11::TopWindow* top = display_.Find(static_cast<uint32_t>(window));
  return top != nullptr ? x11::StyleOf(*top) : 0;
}

void ProcSource::SendWindowMessage(WindowId window, uint32_t message, uintptr_t parameter) {
  // Window commands, and the system commands without an equivalent, were
  // refused before the pass (RefuseCloseCommand).
  if (message != kSysCommandMessage) return;
  const uint32_t id = static_cast<uint32_t>(window);
  if (parameter == kCloseCode) {
    display_.Close(id);
  } else if (parameter == kRestoreCode) {
    display_.Restore(id);
  } else if (parameter == x11::kMinimizeCode) {
    display_.Minimize(id);
  }
}

void ProcSource::SetForegroundWindow(WindowId window) {
  display_.Activate(static_cast<uint32_t>(window));
}

std::string ProcSource::RefuseCloseCommand(int32_t close_command, bool window_filter) {
  // Without a display zel sees no windows and refuses nothing, as before.
  if (x11::HasEquivalent(close_command, window_filter) || !display_.Connected()) return {};
  char message[256];
  if (window_filter) {
    std::snprintf(message, sizeof message,
                  "zel: Close command %d has no equivalent for X11 windows: with -w only -c "
                  "(close) is taken\n",
                  static_cast<int>(close_command));
  } else {
    std::snprintf(message, sizeof message,
                  "zel: Close command %d has no equivalent for X11 windows: -c closes, -c-32 "
                  "minimises, -c-96 closes and -c-288 restores\n",
                  static_cast<int>(close_command));
  }
  return message;
}

ProcessHandle ProcSource::OpenProcess(uint32_t access, uint32_t process_id) {
  const pid_t pid = static_cast<pid_t>(process_id);
  // Termination and priority changes are refused up front for processes
  // the user may not signal (another user's), as the platform's open with
  // those access rights would be. Waiting needs no permission.
  if ((access & (kTerminateAccess | kSetInformationAccess)) != 0 && ::kill(pid, 0) != 0 &&
      errno == EPERM) {
    return 0;
  }
  const long fd = ::syscall(SYS_pidfd_open, pid, 0);
  if (fd < 0) return 0;
  const ProcessHandle handle = HandleOf(static_cast<int>(fd));
  open_[handle] = process_id;
  return handle;
}

void ProcSource::CloseProcess(ProcessHandle handle) {
  if (open_.erase(handle) != 0) ::close(FdOf(handle));
}

bool ProcSource::TerminateProcess(ProcessHandle handle, uint32_t) {
  const auto it = open_.find(handle);
  if (it == open_.end()) return false;
  // The kernel ignores SIGKILL for kernel threads and for the namespace's
  // init; waiting for them to end would never end.
  if (it->second == 1) return false;
  std::string text;
  if (ReadFile(PidPath(it->second, "stat"), text)) {
    const std::optional<linux_proc::StatFields> stat = linux_proc::ParseStat(text);
    if (stat && stat->kernel_thread) return false;
  }
  return ::syscall(SYS_pidfd_send_signal, FdOf(handle), SIGKILL, nullptr, 0) == 0;
}

bool ProcSource::SetPriorityClass(ProcessHandle handle, uint32_t priority_class) {
  const auto it = open_.find(handle);
  const std::optional<int> nice = linux_proc::NiceOfPriorityClass(priority_class);
  if (it == open_.end() || !nice) return false;
  return ::setpriority(PRIO_PROCESS, static_cast<id_t>(it->second), *nice) == 0;
}

WaitResult ProcSource::WaitForProcess(ProcessHandle handle, uint32_t timeout_ms) {
  return WaitForProcesses({handle}, false, timeout_ms);
}

// Unlike the Windows wait, which refuses more than 64 handles, this one
// waits for as many processes as the wait list holds (256).
WaitResult ProcSource::WaitForProcesses(const std::vector<ProcessHandle>& handles, bool all,
                                        uint32_t timeout_ms) {
  WaitResult result;
  if (handles.empty()) return result;
  std::vector<pollfd> fds;
  std::vector<size_t> index;
  for (size_t i = 0; i < handles.size(); ++i) {
    // An empty or unknown handle fails the whole wait, as on the platform.
    if (open_.count(handles[i]) == 0) return result;
    fds.push_back({FdOf(handles[i]), POLLIN, 0});
    index.push_back(i);
  }
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    int wait_ms = -1;
    if (timeout_ms != kWaitInfinite) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      wait_ms = left > 0 ? static_cast<int>(left) : 0;
    }
    const int ready = ::poll(fds.data(), fds.size(), wait_ms);
    if (ready < 0) {
      if (errno == EINTR) continue;
      return result;
    }
    if (ready == 0) {
      result.outcome = WaitOutcome::kTimeout;
      return result;
    }
    for (size_t i = 0; i < fds.size();) {
      if ((fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) {
        ++i;
        continue;
      }
      if (!all) {
        result.outcome = WaitOutcome::kSignaled;
        result.index = index[i];
        return result;
      }
      result.index = index[i];
      fds.erase(fds.begin() + static_cast<long>(i));
      index.erase(index.begin() + static_cast<long>(i));
    }
    if (fds.empty()) {
      result.outcome = WaitOutcome::kSignaled;
      return result;
    }
  }
}

uint32_t ProcSource::CurrentProcessId() { return static_cast<uint32_t>(::getpid()); }

}  // namespace zel
