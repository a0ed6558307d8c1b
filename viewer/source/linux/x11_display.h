// zel's connection to the X display named by DISPLAY: the table of
// top-level windows (read once per enumeration) and the commands zel gives
// them. Without an X library, without DISPLAY or without a server it stays
// unconnected and zel sees no windows.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "x11_protocol.h"
#include "x11_table.h"

namespace zel::x11 {

struct XcbLibrary;

class Display {
 public:
  Display() = default;
  Display(const Display&) = delete;
  Display& operator=(const Display&) = delete;
  ~Display();

  // Connects on first use; later calls answer the first result.
  bool Connected();

  // The top-level windows in table order (see TableOrder), read on the
  // first call after Forget(); empty when not connected.
  const std::vector<TopWindow>& Table();
  void Forget() { table_.reset(); }
  const TopWindow* Find(uint32_t window);

  // The close a user gives: WM_DELETE_WINDOW when the window takes it, else
  // the window manager's close, else (no window manager) the window is
  // destroyed, as a window that does not handle the close is on Windows.
  void Close(uint32_t window);
  // Iconify through the window manager; without one the window is unmapped
  // and marked iconic, so that Restore and Activate find it again.
  void Minimize(uint32_t window);
  void Restore(uint32_t window);
  // Raise and focus: _NET_ACTIVE_WINDOW with a window manager that offers
  // it, else map, raise and set the input focus.
  void Activate(uint32_t window);

 private:
  enum Atom {
    kNetWmPid,
    kNetWmName,
    kUtf8String,
    kWmState,
    kNetClientList,
    kNetClientListStacking,
    kNetSupportingWmCheck,
    kNetSupported,
    kNetActiveWindow,
    kNetCloseWindow,
    kWmProtocols,
    kWmDeleteWindow,
    kWmChangeState,
    kAtomCount
  };

  bool Connect();
  void ReadTable(std::vector<TopWindow>& table);
  std::vector<uint32_t> ReadWindowList(uint32_t window, uint32_t atom);
  std::vector<std::pair<uint32_t, uint32_t>> ReadClientPids();  // client base, PID
  // A window manager runs when the window its check property names names
  // itself; what it offers is its _NET_SUPPORTED list (read once).
  bool WindowManagerPresent();
  bool WindowManagerOffers(Atom atom);
  void SendToRoot(uint32_t window, Atom type, uint32_t d0, uint32_t d1, uint32_t d2);
  void SetWmState(uint32_t window, uint32_t state);
  void Sync();

  const XcbLibrary* lib_ = nullptr;
  xcb::Connection* connection_ = nullptr;
  std::optional<bool> connected_;
  uint32_t root_ = 0;
  uint32_t client_mask_ = 0;  // the client part of a resource ID
  bool resource_pids_ = false;
  uint32_t atoms_[kAtomCount] = {};
  std::optional<std::vector<uint32_t>> wm_supported_;
  std::optional<std::vector<TopWindow>> table_;
};

}  // namespace zel::x11
