// Command line and start-up environment of another process.
#include <cstring>
#include <vector>

#include "../../text.h"
#include "win_source.h"

namespace zel::win {

namespace {

constexpr size_t kLegacyEnvironmentLimit = 65536;

bool ReadExactly(WinApi& api, HANDLE process, uint64_t address, void* buffer, size_t size) {
  SIZE_T read = 0;
  return api.ReadProcessMemory(process, reinterpret_cast<const void*>(address), buffer, size,
                               &read) &&
         read == size;
}

uint16_t Read16(const std::string& bytes, size_t offset) {
  return static_cast<uint16_t>(static_cast<uint8_t>(bytes[offset]) |
                               (static_cast<uint8_t>(bytes[offset + 1]) << 8));
}

}  // namespace

uint64_t WinSource::ReadPointer(const std::string& bytes, size_t offset) const {
  uint64_t value = 0;
  for (size_t i = layout_.pointer_size; i-- > 0;) {
    value = (value << 8) | static_cast<uint8_t>(bytes[offset + i]);
  }
  return value;
}

std::string WinSource::WideToText(const WCHAR* wide, size_t count) {
  if (count == 0) return std::string();
  const int n = static_cast<int>(count);
  const int size = api_.WideCharToMultiByte(kCpAcp, 0, wide, n, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return std::string();
  std::string text(static_cast<size_t>(size), '\0');
  const int written =
      api_.WideCharToMultiByte(kCpAcp, 0, wide, n, text.data(), size, nullptr, nullptr);
  text.resize(written > 0 ? static_cast<size_t>(written) : 0);
  // The conversion of a counted string carries no terminator; cut at an
  // embedded one all the same.
  text.resize(std::strlen(text.c_str()));
  return text;
}

// Reads the process parameters through the environment block address of the
// record (the process environment block).
bool WinSource::ReadParams(HANDLE process, const ProcessRecord& record, std::string& params) {
  if (record.environment_block == 0) return false;
  std::string block(layout_.params_pointer_offset + layout_.pointer_size, '\0');
  if (!ReadExactly(api_, process, record.environment_block, block.data(), block.size())) {
    return false;
  }
  const uint64_t address = ReadPointer(block, layout_.params_pointer_offset);
  params.assign(layout_.params_read_size, '\0');
  return ReadExactly(api_, process, address, params.data(), params.size());
}

std::optional<std::string> WinSource::ReadCommandLine(const ProcessRecord& record) {
  if (legacy_family_) {
    const ULONG_PTR database = LegacyEnvironmentDatabase(record.process_id);
    uint32_t address = 0;
    std::string text;
    if (database == 0 || !api_.ReadOwnMemory(database + 8, &address, sizeof address) ||
        !ReadLegacyString(address, text)) {
      return std::nullopt;
    }
    return text;
  }
  HANDLE process = api_.OpenProcess(kQueryAndReadAccess, 0, record.process_id);
  if (process == nullptr) return std::nullopt;
  std::optional<std::string> result;
  std::string params;
  if (ReadParams(process, record, params)) {
    const uint16_t length = Read16(params, layout_.command_line_offset);
    const uint16_t capacity = Read16(params, layout_.command_line_offset + 2);
    const uint64_t address = ReadPointer(params, layout_.command_line_buffer_offset);
    std::vector<WCHAR> wide(capacity / sizeof(WCHAR) + 1, 0);
    if (capacity == 0) {
      result = std::string();
    } else if (ReadExactly(api_, process, address, wide.data(), capacity)) {
      // The length never reaches past what was read.
      size_t count = length / sizeof(WCHAR);
      if (count > capacity / sizeof(WCHAR)) count = capacity / sizeof(WCHAR);
      result = WideToText(wide.data(), count);
    }
  }
  api_.CloseHandle(process);
  return result;
}

void WinSource::ReadEnvironment(const ProcessRecord& record, const TextCallback& print) {
  if (legacy_family_) {
    const ULONG_PTR database = LegacyEnvironmentDatabase(record.process_id);
    uint32_t address = 0;
    if (database == 0 || !api_.ReadOwnMemory(database, &address, sizeof address)) return;
    std::string text;
    size_t total = 0;
    // Every string is shown, those beginning with '=' too.
    while (total < kLegacyEnvironmentLimit && ReadLegacyString(address + total, text) &&
           !text.empty()) {
      print(text.c_str());
      total += text.size() + 1;
    }
    return;
  }
  HANDLE process = api_.OpenProcess(kQueryAndReadAccess, 0, record.process_id);
  if (process == nullptr) return;
  std::string params;
  MEMORY_BASIC_INFORMATION region = {};
  if (ReadParams(process, record, params)) {
    const uint64_t address = ReadPointer(params, layout_.environment_offset);
    const void* where = reinterpret_cast<const void*>(address);
    if (api_.VirtualQueryEx(process, where, &region, sizeof region) != 0 &&
        region.State == kMemCommit) {
      const uint64_t region_end =
          reinterpret_cast<uintptr_t>(region.BaseAddress) + region.RegionSize;
      uint64_t readable = region_end > address ? region_end - address : 0;
      if (readable > kEnvironmentLimit) readable = kEnvironmentLimit;
      const size_t count = static_cast<size_t>(readable) / sizeof(WCHAR);
      std::vector<WCHAR> wide(count + 1, 0);  // one more: always terminated
      SIZE_T read = 0;
      if (count > 0 &&
          api_.ReadProcessMemory(process, where, wide.data(), count * sizeof(WCHAR), &read) &&
          wide[0] != 0) {
        size_t available = read / sizeof(WCHAR);
        if (available > count) available = count;
        size_t pos = 0;
        while (pos < available && wide[pos] != 0) {
          size_t end = pos;
          while (end < available && wide[end] != 0) ++end;
          const std::string text = WideToText(wide.data() + pos, end - pos);
          if (text.empty() || text[0] != '=') print(text.c_str());
          pos = end + 1;
        }
      }
    }
  }
  api_.CloseHandle(process);
}

}  // namespace zel::win
