// What zel knows of the top-level windows of an X display after one look at
// the server, and the choices it makes over them: which windows a process
// shows under -w, which one is its main window, the style bits the actions
// read, and which close commands have an X11 equivalent. Free of any X call,
// so that it is tested without a server.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "../process_source.h"

namespace zel::x11 {

struct TopWindow {
  uint32_t id = 0;
  uint32_t process_id = 0;         // 0 when unknown
  std::string title;               // UTF-8, at most kMaxTitle bytes
  bool viewable = false;           // mapped, and every ancestor mapped
  bool iconic = false;             // WM_STATE says IconicState
  bool override_redirect = false;  // never managed by a window manager
  bool transient = false;          // WM_TRANSIENT_FOR names another window
};

// A title is read into 260 bytes with its terminator, as on Windows.
inline constexpr size_t kMaxTitle = kNameSize - 1;

// The windows' style bits as the actions read them: visible, system menu
// (a window a window manager manages), pop-up (a transient) and minimised.
inline constexpr uint32_t kVisibleStyle = 0x10000000;
inline constexpr uint32_t kSysMenuStyle = 0x00080000;
inline constexpr uint32_t kPopupStyle = 0x80000000;

// The minimise system command (-c-32 sends it); close and restore are the
// actions' own codes.
inline constexpr uintptr_t kMinimizeCode = 0xF020;

// "Visible": viewable, or iconified by the window manager (shown in its
// task list, as a minimised window is on Windows).
bool IsVisible(const TopWindow& window);
uint32_t StyleOf(const TopWindow& window);

// The text of a title property: UTF-8 as it stands (a broken sequence at
// the cut is dropped); any other type is read as Latin-1. Cut to kMaxTitle
// bytes on a character boundary.
std::string TitleText(std::string_view bytes, bool utf8);

// The title as listed: every control character (C0 but the tab, DEL, C1)
// and every byte that is not part of a valid UTF-8 sequence becomes one
// blank; other characters stay.
std::string PrintableTitle(std::string_view title);

// The process's windows in table order whose non-empty title matches mask
// (any title when mask is null); unless include_hidden only visible ones
// that a window manager would manage (no override-redirect).
std::vector<KeptWindow> KeepWindows(const std::vector<TopWindow>& table, uint32_t process_id,
                                    const char* mask, bool include_hidden);

// The process's main window: the first visible managed window that is
// neither transient nor minimised, else the first not minimised, else the
// first at all; nullptr when the process has no visible managed window.
const TopWindow* ChooseMainWindow(const std::vector<TopWindow>& table, uint32_t process_id);

// Table order: the window manager's clients topmost first (stacking is
// bottom to top, as the server and the window manager report it), then the
// root's other children, topmost first.
std::vector<uint32_t> TableOrder(const std::vector<uint32_t>& root_children,
                                 const std::vector<uint32_t>& client_stacking);

// Close commands: 0 closes; the system commands close (-96), minimise
// (-32) and restore (-288) have an equivalent when sent to the main window.
// Everything else, and any non-zero command together with -w (where it is
// sent as a window command), has none.
bool HasEquivalent(int32_t close_command, bool window_filter);

}  // namespace zel::x11
