// Test program for zel's window actions: opens top-level windows with known
// titles and records, one line each, the close, command and system-command
// messages that reach them.
//
//   zel_test_windows.exe <record file> <title prefix> <layout>
//
// Layouts (tag: title):
//   single     main: "<prefix> Main"
//   minimised  min:  "<prefix> Minimised" (shown minimised)
//   pair       main, then min (so the minimised one is above it)
//   full       main, min, hidden: "<prefix> Hidden" (never shown), and
//              ctrl: "<prefix> Ctrl" + 0x01 + "Chars" + 0xE9 (visible)
//
// Record lines: "ready" once all windows exist, then "<tag> WM_COMMAND <id>",
// "<tag> WM_SYSCOMMAND 0x<code>", "<tag> WM_CLOSE". System commands go on to
// the default handling (so close closes, restore restores). The program ends
// when its last window is destroyed, when killed, or after two minutes.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

std::string g_record;
int g_live = 0;
const UINT kLifetimeMs = 120000;

void Record(const std::string& line) {
  HANDLE f = CreateFileA(g_record.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return;
  std::string text = line + "\n";
  DWORD written = 0;
  WriteFile(f, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(f);
}

std::string TagOf(HWND w) {
  const char* tag = static_cast<const char*>(GetPropA(w, "zel_test_tag"));
  return tag ? tag : "?";
}

LRESULT CALLBACK WindowProc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
  char line[96];
  switch (msg) {
    case WM_COMMAND:
      std::snprintf(line, sizeof line, "%s WM_COMMAND %u", TagOf(w).c_str(), static_cast<unsigned>(LOWORD(wp)));
      Record(line);
      return 0;
    case WM_SYSCOMMAND:
      // The low four bits of a system command are the system's own.
      std::snprintf(line, sizeof line, "%s WM_SYSCOMMAND 0x%04X", TagOf(w).c_str(),
                    static_cast<unsigned>(wp & 0xFFF0));
      Record(line);
      break;
    case WM_CLOSE:
      Record(TagOf(w) + " WM_CLOSE");
      break;
    case WM_DESTROY:
      RemovePropA(w, "zel_test_tag");
      if (--g_live == 0) PostQuitMessage(0);
      return 0;
    default:
      break;
  }
  return DefWindowProcA(w, msg, wp, lp);
}

HWND Open(const char* tag, const std::string& title, int show) {
  HWND w = CreateWindowExA(0, "ZelTestWindow", title.c_str(), WS_OVERLAPPEDWINDOW, 40 + 30 * g_live,
                           40 + 30 * g_live, 320, 200, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
  if (!w) return nullptr;
  SetPropA(w, "zel_test_tag", const_cast<char*>(tag));
  ++g_live;
  if (show >= 0) ShowWindow(w, show);
  return w;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: zel_test_windows <record file> <title prefix> single|minimised|full\n");
    return 2;
  }
  g_record = argv[1];
  const std::string prefix = argv[2];
  const std::string layout = argv[3];

  WNDCLASSA wc = {};
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = "ZelTestWindow";
  wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  if (!RegisterClassA(&wc)) return 4;

  HWND first = nullptr;
  if (layout == "single" || layout == "pair" || layout == "full") first = Open("main", prefix + " Main", SW_SHOWNORMAL);
  if (layout == "minimised" || layout == "pair" || layout == "full") {
    HWND w = Open("min", prefix + " Minimised", SW_SHOWMINNOACTIVE);
    if (!first) first = w;
  }
  if (layout == "full") {
    Open("hidden", prefix + " Hidden", -1);
    Open("ctrl", prefix + " Ctrl\x01" "Chars\xE9", SW_SHOWNOACTIVATE);
  }
  if (!first || (layout == "full" && g_live != 4)) {
    Record("no windows");
    return 5;
  }
  const UINT_PTR lifetime = SetTimer(nullptr, 0, kLifetimeMs, nullptr);
  Record("ready");

  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    if (msg.message == WM_TIMER && msg.hwnd == nullptr && msg.wParam == lifetime) {
      Record("lifetime over");
      return 3;
    }
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  Record("exit");
  return static_cast<int>(msg.wParam);
}
