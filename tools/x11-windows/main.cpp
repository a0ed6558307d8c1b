// zel_x11_windows: opens top-level windows on $DISPLAY and records, one line
// each, what happens to them, for zel's window tests and benchmark.
//   zel_x11_windows --log FILE [--many COUNT PREFIX] [FLAGS:TITLE ...]
// Each FLAGS:TITLE opens one window (FLAGS may be empty):
//   u  never mapped          i  minimised (iconic)     t  transient for the first window
//   o  override-redirect     n  no _NET_WM_PID         d  does not take WM_DELETE_WINDOW
//   l  title only in WM_NAME, typed STRING (Latin-1), without _NET_WM_NAME
// --many opens COUNT plain windows titled "PREFIX 1" ... after them.
// The log gets "window INDEX ID" per window (counted from 0), "ready" once
// every window is shown (or iconified), then "delete INDEX", "focus INDEX",
// "mapped INDEX", "unmapped INDEX", "destroyed INDEX" as they come, and
// "lost" when the server closes the connection (the program then ends). It
// ends with its parent.
#include <fcntl.h>
#include <sys/prctl.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Window {
  xcb_window_t id = 0;
  std::string flags;
  std::string title;
  bool Has(char flag) const { return flags.find(flag) != std::string::npos; }
};

int log_fd = -1;

void Log(const std::string& line) {
  const std::string text = line + "\n";
  if (write(log_fd, text.data(), text.size()) < 0) std::_Exit(3);
}

xcb_atom_t Intern(xcb_connection_t* c, const char* name) {
  xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
      c, xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
  const xcb_atom_t atom = reply != nullptr ? reply->atom : 0;
  std::free(reply);
  return atom;
}

uint32_t Word(xcb_connection_t* c, xcb_window_t window, xcb_atom_t property) {
  xcb_get_property_reply_t* reply = xcb_get_property_reply(
      c, xcb_get_property(c, 0, window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, 1), nullptr);
  uint32_t value = 0;
  if (reply != nullptr && reply->format == 32 && xcb_get_property_value_length(reply) >= 4) {
    value = *static_cast<uint32_t*>(xcb_get_property_value(reply));
  }
  std::free(reply);
  return value;
}

bool Viewable(xcb_connection_t* c, xcb_window_t window) {
  xcb_get_window_attributes_reply_t* reply =
      xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, window), nullptr);
  const bool viewable = reply != nullptr && reply->map_state == XCB_MAP_STATE_VIEWABLE;
  std::free(reply);
  return viewable;
}

}  // namespace

int main(int argc, char** argv) {
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  std::vector<Window> windows;
  const char* log_path = nullptr;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--log" && i + 1 < argc) {
      log_path = argv[++i];
    } else if (arg == "--many" && i + 2 < argc) {
      const int count = std::atoi(argv[i + 1]);
      for (int n = 1; n <= count; ++n)
        windows.push_back({0, "", std::string(argv[i + 2]) + " " + std::to_string(n)});
      i += 2;
    } else {
      const size_t colon = arg.find(':');
      if (colon == std::string::npos) {
        std::fprintf(stderr, "zel_x11_windows: FLAGS:TITLE expected, got '%s'\n", argv[i]);
        return 2;
      }
      windows.push_back({0, arg.substr(0, colon), arg.substr(colon + 1)});
    }
  }
  if (log_path == nullptr) {
    std::fprintf(stderr,
                 "usage: zel_x11_windows --log FILE [--many COUNT PREFIX] [FLAGS:TITLE ...]\n");
    return 2;
  }
  log_fd = open(log_path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  xcb_connection_t* c = xcb_connect(nullptr, nullptr);
  if (log_fd < 0 || xcb_connection_has_error(c) != 0) return 2;
  xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
  const xcb_atom_t net_wm_pid = Intern(c, "_NET_WM_PID");
  const xcb_atom_t net_wm_name = Intern(c, "_NET_WM_NAME");
  const xcb_atom_t utf8 = Intern(c, "UTF8_STRING");
  const xcb_atom_t protocols = Intern(c, "WM_PROTOCOLS");
  const xcb_atom_t delete_window = Intern(c, "WM_DELETE_WINDOW");
  const xcb_atom_t wm_state = Intern(c, "WM_STATE");
  const bool managed = Word(c, screen->root, Intern(c, "_NET_SUPPORTING_WM_CHECK")) != 0;
  const uint32_t pid = static_cast<uint32_t>(getpid());

  for (size_t i = 0; i < windows.size(); ++i) {
    Window& w = windows[i];
    w.id = xcb_generate_id(c);
    const uint32_t values[] = {screen->white_pixel, w.Has('o') ? 1u : 0u,
                               XCB_EVENT_MASK_FOCUS_CHANGE | XCB_EVENT_MASK_STRUCTURE_NOTIFY};
    xcb_create_window(c, XCB_COPY_FROM_PARENT, w.id, screen->root,
                      static_cast<int16_t>(10 + i % 50), static_cast<int16_t>(10 + i % 50), 120, 80,
                      1, XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
                      XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK, values);
    const auto set = [&](xcb_atom_t property, xcb_atom_t type, uint8_t format, uint32_t count,
                         const void* data) {
      xcb_change_property(c, XCB_PROP_MODE_REPLACE, w.id, property, type, format, count, data);
    };
    const auto length = static_cast<uint32_t>(w.title.size());
    if (w.Has('l')) {
      set(XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8, length, w.title.data());
    } else {
      set(net_wm_name, utf8, 8, length, w.title.data());
      set(XCB_ATOM_WM_NAME, utf8, 8, length, w.title.data());
    }
    if (!w.Has('n')) set(net_wm_pid, XCB_ATOM_CARDINAL, 32, 1, &pid);
    if (!w.Has('d')) set(protocols, XCB_ATOM_ATOM, 32, 1, &delete_window);
    static const char kClass[] = "zel-x11-windows\0Zel-x11-windows";
    set(XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8, sizeof kClass, kClass);
    // Hints: takes the input focus; starts iconic when asked.
    const uint32_t hints[9] = {1u | (w.Has('i') ? 2u : 0u), 1, w.Has('i') ? 3u : 1u};
    set(XCB_ATOM_WM_HINTS, XCB_ATOM_WM_HINTS, 32, 9, hints);
    if (w.Has('t') && i > 0) set(XCB_ATOM_WM_TRANSIENT_FOR, XCB_ATOM_WINDOW, 32, 1, &windows[0].id);
    if (w.Has('u')) continue;
    if (w.Has('i') && !managed) {
      // No window manager to iconify it: stay unmapped and say so.
      const uint32_t state[2] = {3, 0};
      set(wm_state, wm_state, 32, 2, state);
      continue;
    }
    xcb_map_window(c, w.id);
  }
  xcb_flush(c);
  for (size_t i = 0; i < windows.size(); ++i)
    Log("window " + std::to_string(i) + " " + std::to_string(windows[i].id));
  // Ready once every window is as asked (bounded: about ten seconds). A
  // window manager that is still starting may drop a map request: it is
  // asked again now and then.
  for (const Window& w : windows) {
    if (w.Has('u') || (w.Has('i') && !managed)) continue;
    for (int tries = 1; tries <= 1000; ++tries) {
      if (w.Has('i') ? Word(c, w.id, wm_state) == 3 : Viewable(c, w.id)) break;
      if (tries % 25 == 0) {
        xcb_map_window(c, w.id);
        xcb_flush(c);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  // Events that came while getting ready are not recorded.
  while (xcb_generic_event_t* event = xcb_poll_for_event(c)) std::free(event);
  Log("ready");

  const auto index_of = [&](xcb_window_t id) -> std::string {
    for (size_t i = 0; i < windows.size(); ++i) {
      if (windows[i].id == id) return std::to_string(i);
    }
    return "";
  };
  while (xcb_generic_event_t* event = xcb_wait_for_event(c)) {
    switch (event->response_type & 0x7F) {
      case XCB_CLIENT_MESSAGE: {
        const auto* message = reinterpret_cast<xcb_client_message_event_t*>(event);
        if (message->type == protocols && message->data.data32[0] == delete_window) {
          Log("delete " + index_of(message->window));
        }
        break;
      }
      case XCB_FOCUS_IN: {
        const auto* focus = reinterpret_cast<xcb_focus_in_event_t*>(event);
        if (focus->detail != XCB_NOTIFY_DETAIL_POINTER) Log("focus " + index_of(focus->event));
        break;
      }
      case XCB_MAP_NOTIFY:
        Log("mapped " + index_of(reinterpret_cast<xcb_map_notify_event_t*>(event)->window));
        break;
      case XCB_UNMAP_NOTIFY:
        Log("unmapped " + index_of(reinterpret_cast<xcb_unmap_notify_event_t*>(event)->window));
        break;
      case XCB_DESTROY_NOTIFY:
        Log("destroyed " + index_of(reinterpret_cast<xcb_destroy_notify_event_t*>(event)->window));
        break;
      default:
        break;
    }
    std::free(event);
  }
  Log("lost");
  return 0;
}
