#include "x11_display.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "x11_library.h"

namespace zel::x11 {

namespace {

constexpr const char* kAtomNames[] = {"_NET_WM_PID",
                                      "_NET_WM_NAME",
                                      "UTF8_STRING",
                                      "WM_STATE",
                                      "_NET_CLIENT_LIST",
                                      "_NET_CLIENT_LIST_STACKING",
                                      "_NET_SUPPORTING_WM_CHECK",
                                      "_NET_SUPPORTED",
                                      "_NET_ACTIVE_WINDOW",
                                      "_NET_CLOSE_WINDOW",
                                      "WM_PROTOCOLS",
                                      "WM_DELETE_WINDOW",
                                      "WM_CHANGE_STATE"};

// 65 four-byte units hold a title of 260 bytes.
constexpr uint32_t kTitleUnits = 65;
// A window list longer than this is cut (a guard, not a limit met in use).
constexpr uint32_t kMaxListUnits = 1 << 16;
constexpr uint32_t kIconicState = 3;
constexpr uint32_t kNormalState = 1;
// Source indication of EWMH requests: a pager, which stands for the user
// and which window managers obey without focus-stealing prevention.
constexpr uint32_t kSourcePager = 2;

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};
template <typename T>
using Reply = std::unique_ptr<T, FreeDeleter>;

}  // namespace

Display::~Display() {
  if (connection_ != nullptr) lib_->disconnect(connection_);
}

bool Display::Connected() {
  if (!connected_) connected_ = Connect();
  return *connected_;
}

bool Display::Connect() {
  const char* name = std::getenv("DISPLAY");
  if (name == nullptr || name[0] == '\0') return false;
  lib_ = BindXcb();
  if (lib_ == nullptr) return false;
  int screen_number = 0;
  connection_ = lib_->connect(name, &screen_number);
  if (lib_->connection_has_error(connection_) != 0) {
    lib_->disconnect(connection_);
    connection_ = nullptr;
    return false;
  }
  const xcb::Setup* setup = lib_->get_setup(connection_);
  client_mask_ = ~setup->resource_id_mask;
  xcb::ScreenIterator screens = lib_->setup_roots_iterator(setup);
  for (int i = 0; i < screen_number && screens.rem > 1; ++i) lib_->screen_next(&screens);
  if (screens.rem == 0) return false;
  root_ = screens.data->root;

  xcb::Cookie cookies[kAtomCount];
  for (int i = 0; i < kAtomCount; ++i) {
    cookies[i] = lib_->intern_atom(
        connection_, 0, static_cast<uint16_t>(std::strlen(kAtomNames[i])), kAtomNames[i]);
  }
  xcb::Cookie version{};
  const xcb::QueryExtensionReply* extension =
      lib_->HasResource() ? lib_->get_extension_data(connection_, lib_->res_id) : nullptr;
  const bool has_extension = extension != nullptr && extension->present != 0;
  if (has_extension) version = lib_->res_query_version(connection_, 1, 2);
  for (int i = 0; i < kAtomCount; ++i) {
    Reply<xcb::InternAtomReply> atom(lib_->intern_atom_reply(connection_, cookies[i], nullptr));
    atoms_[i] = atom ? atom->atom : 0;
  }
  if (has_extension) {
    Reply<xcb::ResQueryVersionReply> reply(
        lib_->res_query_version_reply(connection_, version, nullptr));
    // Client IDs came with version 1.2.
    resource_pids_ = reply && (reply->server_major > 1 ||
                               (reply->server_major == 1 && reply->server_minor >= 2));
  }
  return lib_->connection_has_error(connection_) == 0;
}

const std::vector<TopWindow>& Display::Table() {
  if (!table_) {
    table_.emplace();
    if (Connected()) ReadTable(*table_);
  }
  return *table_;
}

const TopWindow* Display::Find(uint32_t window) {
  for (const TopWindow& top : Table()) {
    if (top.id == window) return &top;
  }
  return nullptr;
}

std::vector<uint32_t> Display::ReadWindowList(uint32_t window, uint32_t atom) {
  std::vector<uint32_t> list;
  if (atom == 0) return list;
  Reply<xcb::GetPropertyReply> reply(lib_->get_property_reply(
      connection_,
      lib_->get_property(connection_, 0, window, atom, xcb::kAtomWindow, 0, kMaxListUnits),
      nullptr));
  if (reply && reply->format == 32 && reply->type == xcb::kAtomWindow) {
    const auto* ids = static_cast<const uint32_t*>(lib_->get_property_value(reply.get()));
    list.assign(ids, ids + lib_->get_property_value_length(reply.get()) / 4);
  }
  return list;
}

std::vector<std::pair<uint32_t, uint32_t>> Display::ReadClientPids() {
  std::vector<std::pair<uint32_t, uint32_t>> pids;
  if (!resource_pids_) return pids;
  // One request for every client of the server.
  xcb::ResClientIdSpec all{0, xcb::kResLocalClientPidMask};
  Reply<xcb::ResQueryClientIdsReply> reply(lib_->res_query_client_ids_reply(
      connection_, lib_->res_query_client_ids(connection_, 1, &all), nullptr));
  if (!reply) return pids;
  for (xcb::ResClientIdValueIterator it = lib_->res_query_client_ids_ids_iterator(reply.get());
       it.rem > 0; lib_->res_client_id_value_next(&it)) {
    if ((it.data->spec.mask & xcb::kResLocalClientPidMask) == 0 ||
        lib_->res_client_id_value_value_length(it.data) < 1) {
      continue;
    }
    pids.emplace_back(it.data->spec.client & client_mask_,
                      *lib_->res_client_id_value_value(it.data));
  }
  return pids;
}

void Display::ReadTable(std::vector<TopWindow>& table) {
  std::vector<uint32_t> children;
  Reply<xcb::QueryTreeReply> tree(
      lib_->query_tree_reply(connection_, lib_->query_tree(connection_, root_), nullptr));
  if (tree) {
    const uint32_t* ids = lib_->query_tree_children(tree.get());
    children.assign(ids, ids + lib_->query_tree_children_length(tree.get()));
  }
  std::vector<uint32_t> clients = ReadWindowList(root_, atoms_[kNetClientListStacking]);
  if (clients.empty()) clients = ReadWindowList(root_, atoms_[kNetClientList]);
  const std::vector<uint32_t> order = TableOrder(children, clients);
  std::vector<std::pair<uint32_t, uint32_t>> client_pids = ReadClientPids();
  std::sort(client_pids.begin(), client_pids.end());

  // Every request for every window first, then the replies: one round trip
  // to the server for the whole table.
  struct Pending {
    xcb::Cookie attributes;
    xcb::Cookie pid, net_name, name, transient, state;
  };
  const auto property = [&](uint32_t window, uint32_t atom, uint32_t type, uint32_t units) {
    return lib_->get_property(connection_, 0, window, atom, type, 0, units);
  };
  std::vector<Pending> pending;
  pending.reserve(order.size());
  for (const uint32_t window : order) {
    pending.push_back({lib_->get_window_attributes(connection_, window),
                       property(window, atoms_[kNetWmPid], xcb::kAtomCardinal, 1),
                       property(window, atoms_[kNetWmName], atoms_[kUtf8String], kTitleUnits),
                       property(window, xcb::kAtomWmName, xcb::kAnyPropertyType, kTitleUnits),
                       property(window, xcb::kAtomWmTransientFor, xcb::kAtomWindow, 1),
                       property(window, atoms_[kWmState], atoms_[kWmState], 1)});
  }
  const auto reply_of = [&](xcb::Cookie cookie) {
    return Reply<xcb::GetPropertyReply>(lib_->get_property_reply(connection_, cookie, nullptr));
  };
  const auto first_word = [&](const Reply<xcb::GetPropertyReply>& reply) -> uint32_t {
    if (!reply || reply->format != 32 || lib_->get_property_value_length(reply.get()) < 4) return 0;
    return *static_cast<const uint32_t*>(lib_->get_property_value(reply.get()));
  };
  const auto text_of = [&](const Reply<xcb::GetPropertyReply>& reply) {
    if (!reply || reply->format != 8) return std::string_view();
    return std::string_view(static_cast<const char*>(lib_->get_property_value(reply.get())),
                            static_cast<size_t>(lib_->get_property_value_length(reply.get())));
  };
  table.reserve(order.size());
  for (size_t i = 0; i < order.size(); ++i) {
    Reply<xcb::GetWindowAttributesReply> attributes(
        lib_->get_window_attributes_reply(connection_, pending[i].attributes, nullptr));
    const auto pid = reply_of(pending[i].pid);
    const auto net_name = reply_of(pending[i].net_name);
    const auto name = reply_of(pending[i].name);
    const auto transient = reply_of(pending[i].transient);
    const auto state = reply_of(pending[i].state);
    if (!attributes) continue;  // destroyed meanwhile
    TopWindow top;
    top.id = order[i];
    top.viewable = attributes->map_state == xcb::kMapStateViewable;
    top.override_redirect = attributes->override_redirect != 0;
    top.transient = first_word(transient) != 0;
    top.iconic = first_word(state) == kIconicState;
    // The server's word on the owner first: it cannot be forged by the client.
    const auto owner = std::lower_bound(client_pids.begin(), client_pids.end(),
                                        std::make_pair(top.id & client_mask_, uint32_t{0}));
    if (owner != client_pids.end() && owner->first == (top.id & client_mask_)) {
      top.process_id = owner->second;
    } else {
      top.process_id = first_word(pid);
    }
    const std::string_view utf8 = text_of(net_name);
    if (!utf8.empty()) {
      top.title = TitleText(utf8, true);
    } else if (name) {
      top.title = TitleText(text_of(name), name->type == atoms_[kUtf8String]);
    }
    table.push_back(std::move(top));
  }
}

bool Display::WindowManagerPresent() {
  if (!wm_supported_) {
    wm_supported_.emplace();
    // A window manager is present when the window its check property names
    // names itself (a stale property of an ended one names a gone window).
    const std::vector<uint32_t> check = ReadWindowList(root_, atoms_[kNetSupportingWmCheck]);
    if (!check.empty()) {
      const std::vector<uint32_t> self = ReadWindowList(check[0], atoms_[kNetSupportingWmCheck]);
      if (!self.empty() && self[0] == check[0]) {
        Reply<xcb::GetPropertyReply> reply(lib_->get_property_reply(
            connection_,
            lib_->get_property(connection_, 0, root_, atoms_[kNetSupported], xcb::kAtomAtom, 0,
                               kMaxListUnits),
            nullptr));
        if (reply && reply->format == 32) {
          const auto* ids = static_cast<const uint32_t*>(lib_->get_property_value(reply.get()));
          wm_supported_->assign(ids, ids + lib_->get_property_value_length(reply.get()) / 4);
        }
      }
    }
  }
  return !wm_supported_->empty();
}

bool Display::WindowManagerOffers(Atom atom) {
  return WindowManagerPresent() && atoms_[atom] != 0 &&
         std::find(wm_supported_->begin(), wm_supported_->end(), atoms_[atom]) !=
             wm_supported_->end();
}

void Display::SendToRoot(uint32_t window, Atom type, uint32_t d0, uint32_t d1, uint32_t d2) {
  xcb::ClientMessageEvent event{};
  event.response_type = xcb::kClientMessage;
  event.format = 32;
  event.window = window;
  event.type = atoms_[type];
  event.data32[0] = d0;
  event.data32[1] = d1;
  event.data32[2] = d2;
  lib_->send_event(connection_, 0, root_,
                   xcb::kSubstructureRedirectMask | xcb::kSubstructureNotifyMask,
                   reinterpret_cast<const char*>(&event));
}

void Display::SetWmState(uint32_t window, uint32_t state) {
  const uint32_t value[2] = {state, 0};
  lib_->change_property(connection_, xcb::kPropModeReplace, window, atoms_[kWmState],
                        atoms_[kWmState], 32, 2, value);
}

// A round trip: every request sent before it has been carried out when it
// returns, as the platform's synchronous sends are.
void Display::Sync() {
  Reply<xcb::GetInputFocusReply> focus(
      lib_->get_input_focus_reply(connection_, lib_->get_input_focus(connection_), nullptr));
}

void Display::Close(uint32_t window) {
  if (!Connected()) return;
  Reply<xcb::GetPropertyReply> protocols(lib_->get_property_reply(
      connection_,
      lib_->get_property(connection_, 0, window, atoms_[kWmProtocols], xcb::kAtomAtom, 0, 64),
      nullptr));
  bool takes_delete = false;
  if (protocols && protocols->format == 32 && atoms_[kWmDeleteWindow] != 0) {
    const auto* ids = static_cast<const uint32_t*>(lib_->get_property_value(protocols.get()));
    const int count = lib_->get_property_value_length(protocols.get()) / 4;
    takes_delete = std::find(ids, ids + count, atoms_[kWmDeleteWindow]) != ids + count;
  }
  if (takes_delete) {
    xcb::ClientMessageEvent event{};
    event.response_type = xcb::kClientMessage;
    event.format = 32;
    event.window = window;
    event.type = atoms_[kWmProtocols];
    event.data32[0] = atoms_[kWmDeleteWindow];
    event.data32[1] = xcb::kCurrentTime;
    lib_->send_event(connection_, 0, window, xcb::kNoEventMask,
                     reinterpret_cast<const char*>(&event));
  } else if (WindowManagerOffers(kNetCloseWindow)) {
    SendToRoot(window, kNetCloseWindow, xcb::kCurrentTime, kSourcePager, 0);
  } else {
    lib_->destroy_window(connection_, window);
  }
  Sync();
}

void Display::Minimize(uint32_t window) {
  if (!Connected()) return;
  if (WindowManagerPresent()) {
    SendToRoot(window, kWmChangeState, kIconicState, 0, 0);
  } else {
    lib_->unmap_window(connection_, window);
    SetWmState(window, kIconicState);
  }
  Sync();
}

void Display::Restore(uint32_t window) {
  if (!Connected()) return;
  // Mapping an iconic window asks for its normal state (a window manager
  // gets it as a map request).
  const TopWindow* top = Find(window);
  if (!WindowManagerPresent() && top != nullptr && top->iconic) SetWmState(window, kNormalState);
  lib_->map_window(connection_, window);
  Sync();
}

void Display::Activate(uint32_t window) {
  if (!Connected()) return;
  if (WindowManagerOffers(kNetActiveWindow)) {
    SendToRoot(window, kNetActiveWindow, kSourcePager, xcb::kCurrentTime, 0);
  } else {
    const uint32_t above = xcb::kStackModeAbove;
    lib_->map_window(connection_, window);
    lib_->configure_window(connection_, window, xcb::kConfigStackMode, &above);
    lib_->set_input_focus(connection_, xcb::kInputFocusPointerRoot, window, xcb::kCurrentTime);
  }
  Sync();
}

}  // namespace zel::x11
