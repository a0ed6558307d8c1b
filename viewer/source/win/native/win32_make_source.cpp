// zel.exe's process source: the Windows sources over the real operations,
// reading other processes' parameters at the layout of this build's word size.
#define NOMINMAX
#include <windows.h>
#include <winternl.h>

#include <cstddef>

#include "../../make_source.h"
#include "../win_source.h"
#include "win32_api.h"

namespace zel {

namespace {

#if defined(_WIN64)
constexpr const win::ParamsLayout& kLayout = win::kParams64;
#else
constexpr const win::ParamsLayout& kLayout = win::kParams32;
#endif

// The offsets the sources use are the platform's own.
static_assert(kLayout.pointer_size == sizeof(void*));
static_assert(kLayout.params_pointer_offset == offsetof(::PEB, ProcessParameters));
static_assert(kLayout.command_line_offset == offsetof(::RTL_USER_PROCESS_PARAMETERS, CommandLine));
static_assert(kLayout.command_line_buffer_offset ==
              offsetof(::RTL_USER_PROCESS_PARAMETERS, CommandLine) + offsetof(::UNICODE_STRING, Buffer));

}  // namespace

std::unique_ptr<ProcessSource> MakePlatformSource() {
  static win::Win32Api api;
  return std::make_unique<win::WinSource>(api, kLayout);
}

}  // namespace zel
