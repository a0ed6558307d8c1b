// What zel reads from executable files: the 16-bit module name of an NE
// executable and the version strings of a module.
#include <cstdio>
#include <cstring>
#include <vector>

#include "../../text.h"
#include "win_source.h"

namespace zel::win {

namespace {

uint32_t Little32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

uint16_t Little16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

// Every read of the view is checked against the file's size: a header
// offset pointing outside the file counts as failure, not as a fault.
bool NeNameFromView(const uint8_t* view, uint64_t size, char* buffer, size_t buffer_size) {
  if (size < 64 || view[0] != 'M' || view[1] != 'Z') return false;
  const uint64_t header = Little32(view + 60);
  if (header + 40 > size) return false;
  if (view[header] != 'N' || view[header + 1] != 'E') return false;
  const uint64_t table = header + Little16(view + header + 38);
  if (table + 1 > size) return false;
  size_t length = view[table];
  if (table + 1 + length > size) length = static_cast<size_t>(size - table - 1);
  CopyBoundedN(buffer, buffer_size, reinterpret_cast<const char*>(view + table + 1), length);
  return true;
}

struct VersionKey {
  const char* name;
  const char* format;
};

const VersionKey kVersionKeys[] = {
    {"FileVersion", " %-20s"},
    {"FileDescription", " %s"},
};

}  // namespace

bool WinSource::ReadNeModuleName(const char* path, char* buffer, size_t size) {
  HANDLE file = api_.CreateFileA(path, kGenericRead, kFileShareReadWrite, nullptr, kOpenExisting,
                                 0, nullptr);
  if (file == kInvalidHandle || file == nullptr) return false;
  bool ok = false;
  DWORD high = 0;
  const DWORD low = api_.GetFileSize(file, &high);
  const uint64_t file_size = low == 0xFFFFFFFFu ? 0 : (static_cast<uint64_t>(high) << 32) | low;
  HANDLE mapping = api_.CreateFileMappingA(file, nullptr, kPageReadOnly, 0, 0, nullptr);
  if (mapping != nullptr) {
    const void* view = api_.MapViewOfFile(mapping, kFileMapRead, 0, 0, 0);
    if (view != nullptr) {
      ok = NeNameFromView(static_cast<const uint8_t*>(view), file_size, buffer, size);
      api_.UnmapViewOfFile(view);
    }
    api_.CloseHandle(mapping);
  }
  api_.CloseHandle(file);
  return ok;
}

void WinSource::ReadVersionStrings(const char* path, char* out) {
  out[0] = '\0';
  DWORD handle = 0;
  const DWORD size = api_.GetFileVersionInfoSizeA(path, &handle);
  if (size == 0) return;
  std::vector<uint8_t> data(size);
  if (!api_.GetFileVersionInfoA(path, handle, size, data.data())) return;
  void* value = nullptr;
  UINT length = 0;
  if (!api_.VerQueryValueA(data.data(), "\\VarFileInfo\\Translation", &value, &length) ||
      value == nullptr || length < 4) {
    return;
  }
  const uint8_t* pair = static_cast<const uint8_t*>(value);
  char prefix[64];
  std::snprintf(prefix, sizeof prefix, "\\StringFileInfo\\%04x%04x", Little16(pair),
                Little16(pair + 2));
  size_t used = 0;
  for (const VersionKey& key : kVersionKeys) {
    char query[128];
    std::snprintf(query, sizeof query, "%s\\%s", prefix, key.name);
    value = nullptr;
    length = 0;
    if (!api_.VerQueryValueA(data.data(), query, &value, &length) || value == nullptr) continue;
    char text[kVersionTextSize];
    CopyBoundedN(text, sizeof text, static_cast<const char*>(value), length);
    char piece[kVersionTextSize];
    const int n = std::snprintf(piece, sizeof piece, key.format, text);
    if (n < 0) continue;
    const size_t piece_length = std::strlen(piece);
    if (used + piece_length < kVersionTextSize) {
      std::memcpy(out + used, piece, piece_length + 1);
      used += piece_length;
    }
  }
}

}  // namespace zel::win
