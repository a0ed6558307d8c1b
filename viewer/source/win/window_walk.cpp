// Top-level windows of a process and the search for its main window.
#include <initializer_list>

#include "../../text.h"
#include "../../wildcard.h"
#include "win_source.h"

namespace zel::win {

namespace {

// Guards the walks against window lists that change under them and loop.
constexpr int kMaxWindows = 65536;
constexpr int kMaxDepth = 64;

bool HasSysMenuAndVisible(LONG style) {
  return (style & kWsSysMenu) != 0 && (style & kWsVisible) != 0;
}

}  // namespace

std::vector<KeptWindow> WinSource::CollectWindows(const ProcessRecord& record, const char* mask,
                                                  bool include_hidden) {
  std::vector<KeptWindow> kept;
  HWND window = api_.GetWindow(api_.GetDesktopWindow(), kGwChild);
  for (int n = 0; window != nullptr && n < kMaxWindows;
       ++n, window = api_.GetWindow(window, kGwHwndNext)) {
    if (!include_hidden && !HasSysMenuAndVisible(api_.GetWindowLongA(window, kGwlStyle))) {
      continue;
    }
    DWORD owner = 0;
    api_.GetWindowThreadProcessId(window, &owner);
    if (owner != record.process_id) continue;
    char title[kMaxPath + 1] = {};
    const int length = api_.GetWindowTextA(window, title, static_cast<int>(kMaxPath));
    title[length > 0 && length < static_cast<int>(kMaxPath) ? length : kMaxPath - 1] = '\0';
    if (length <= 0) title[0] = '\0';
    if (title[0] == '\0') continue;
    if (mask != nullptr && !WildcardMatch(title, mask)) continue;
    for (char* c = title; *c != '\0'; ++c) {
      const unsigned char u = static_cast<unsigned char>(*c);
      if ((u < 0x20 && u != '\t') || u >= 0x80) *c = ' ';
    }
    kept.push_back({reinterpret_cast<WindowId>(window), title});
  }
  return kept;
}

HWND WinSource::SearchMainWindow(HWND first, DWORD process_id, LONG exclude, int depth) {
  if (depth > kMaxDepth) return nullptr;
  int n = 0;
  for (HWND window = first; window != nullptr && n < kMaxWindows;
       window = api_.GetWindow(window, kGwHwndNext), ++n) {
    DWORD owner = 0;
    api_.GetWindowThreadProcessId(window, &owner);
    if (owner == process_id) {
      const LONG style = api_.GetWindowLongA(window, kGwlStyle);
      if (HasSysMenuAndVisible(style) && (style & exclude) == 0) return window;
    } else if (HWND found = SearchMainWindow(api_.GetWindow(window, kGwChild), process_id,
                                             exclude, depth + 1)) {
      return found;
    }
  }
  return nullptr;
}

WindowId WinSource::FindMainWindow(uint32_t process_id) {
  const HWND first = api_.GetWindow(api_.GetDesktopWindow(), kGwChild);
  for (const LONG exclude : {static_cast<LONG>(0xA0000000u), static_cast<LONG>(0x20000000), 0}) {
    if (HWND found = SearchMainWindow(first, process_id, exclude, 0)) {
      return reinterpret_cast<WindowId>(found);
    }
  }
  return 0;
}

}  // namespace zel::win
