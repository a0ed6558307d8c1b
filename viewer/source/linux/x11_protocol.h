// The part of the X C binding's interface (libxcb 1.x, libxcb-res 0.x) that
// zel uses, declared here so that zel builds without any X package: the
// libraries are bound at run time. The layouts are the binding's stable ABI;
// tests/viewer/x11_protocol_test.cpp holds them against the binding's own
// headers.
#pragma once

#include <cstdint>

namespace zel::x11::xcb {

struct Connection;  // opaque
struct Extension;   // opaque
struct Screen {     // variable length: step with ScreenNext
  uint32_t root;
};
struct Setup {
  uint8_t status;
  uint8_t pad0;
  uint16_t protocol_major_version;
  uint16_t protocol_minor_version;
  uint16_t length;
  uint32_t release_number;
  uint32_t resource_id_base;
  uint32_t resource_id_mask;
};
struct ScreenIterator {
  Screen* data;
  int rem;
  int index;
};

// Every request answers a cookie: the request's sequence number.
struct Cookie {
  unsigned int sequence;
};

struct InternAtomReply {
  uint8_t response_type;
  uint8_t pad0;
  uint16_t sequence;
  uint32_t length;
  uint32_t atom;
};
struct GetPropertyReply {
  uint8_t response_type;
  uint8_t format;
  uint16_t sequence;
  uint32_t length;
  uint32_t type;
  uint32_t bytes_after;
  uint32_t value_len;
  uint8_t pad0[12];
};
struct GetWindowAttributesReply {
  uint8_t response_type;
  uint8_t backing_store;
  uint16_t sequence;
  uint32_t length;
  uint32_t visual;
  uint16_t window_class;
  uint8_t bit_gravity;
  uint8_t win_gravity;
  uint32_t backing_planes;
  uint32_t backing_pixel;
  uint8_t save_under;
  uint8_t map_is_installed;
  uint8_t map_state;
  uint8_t override_redirect;
  uint32_t colormap;
  uint32_t all_event_masks;
  uint32_t your_event_mask;
  uint16_t do_not_propagate_mask;
  uint8_t pad0[2];
};
struct QueryExtensionReply {
  uint8_t response_type;
  uint8_t pad0;
  uint16_t sequence;
  uint32_t length;
  uint8_t present;
  uint8_t major_opcode;
  uint8_t first_event;
  uint8_t first_error;
};
struct ResQueryVersionReply {
  uint8_t response_type;
  uint8_t pad0;
  uint16_t sequence;
  uint32_t length;
  uint16_t server_major;
  uint16_t server_minor;
};
struct QueryTreeReply;          // read through its accessors
struct GetInputFocusReply;      // only waited for
struct ResQueryClientIdsReply;  // read through its iterator
struct ResClientIdSpec {
  uint32_t client;
  uint32_t mask;
};
struct ResClientIdValue {
  ResClientIdSpec spec;
  uint32_t length;
};
struct ResClientIdValueIterator {
  ResClientIdValue* data;
  int rem;
  int index;
};
struct ClientMessageEvent {
  uint8_t response_type;
  uint8_t format;
  uint16_t sequence;
  uint32_t window;
  uint32_t type;
  uint32_t data32[5];
};

// Predefined atoms and protocol values.
inline constexpr uint32_t kAtomAtom = 4;
inline constexpr uint32_t kAtomCardinal = 6;
inline constexpr uint32_t kAtomString = 31;
inline constexpr uint32_t kAtomWindow = 33;
inline constexpr uint32_t kAtomWmName = 39;
inline constexpr uint32_t kAtomWmTransientFor = 68;
inline constexpr uint32_t kAnyPropertyType = 0;
inline constexpr uint8_t kMapStateViewable = 2;
inline constexpr uint8_t kClientMessage = 33;
inline constexpr uint32_t kNoEventMask = 0;
inline constexpr uint32_t kSubstructureNotifyMask = 0x80000;
inline constexpr uint32_t kSubstructureRedirectMask = 0x100000;
inline constexpr uint16_t kConfigStackMode = 64;
inline constexpr uint32_t kStackModeAbove = 0;
inline constexpr uint8_t kInputFocusPointerRoot = 1;
inline constexpr uint32_t kCurrentTime = 0;
inline constexpr uint8_t kPropModeReplace = 0;
inline constexpr uint32_t kResLocalClientPidMask = 2;

// The functions, by their types.
using ConnectFn = Connection* (*)(const char* display, int* screen);
using ConnectionHasErrorFn = int (*)(Connection*);
using DisconnectFn = void (*)(Connection*);
using FlushFn = int (*)(Connection*);
using GetSetupFn = const Setup* (*)(Connection*);
using SetupRootsIteratorFn = ScreenIterator (*)(const Setup*);
using ScreenNextFn = void (*)(ScreenIterator*);
using GetExtensionDataFn = const QueryExtensionReply* (*)(Connection*, Extension*);
using InternAtomFn = Cookie (*)(Connection*, uint8_t only_if_exists, uint16_t length,
                                const char* name);
using InternAtomReplyFn = InternAtomReply* (*)(Connection*, Cookie, void** error);
using QueryTreeFn = Cookie (*)(Connection*, uint32_t window);
using QueryTreeReplyFn = QueryTreeReply* (*)(Connection*, Cookie, void** error);
using QueryTreeChildrenFn = uint32_t* (*)(const QueryTreeReply*);
using QueryTreeChildrenLengthFn = int (*)(const QueryTreeReply*);
using GetPropertyFn = Cookie (*)(Connection*, uint8_t remove, uint32_t window, uint32_t property,
                                 uint32_t type, uint32_t offset, uint32_t units);
using GetPropertyReplyFn = GetPropertyReply* (*)(Connection*, Cookie, void** error);
using GetPropertyValueFn = void* (*)(const GetPropertyReply*);
using GetPropertyValueLengthFn = int (*)(const GetPropertyReply*);  // in bytes
using GetWindowAttributesFn = Cookie (*)(Connection*, uint32_t window);
using GetWindowAttributesReplyFn = GetWindowAttributesReply* (*)(Connection*, Cookie, void** error);
using GetInputFocusFn = Cookie (*)(Connection*);
using GetInputFocusReplyFn = GetInputFocusReply* (*)(Connection*, Cookie, void** error);
using SendEventFn = Cookie (*)(Connection*, uint8_t propagate, uint32_t destination,
                               uint32_t event_mask, const char* event);
using SetInputFocusFn = Cookie (*)(Connection*, uint8_t revert_to, uint32_t window, uint32_t time);
using WindowRequestFn = Cookie (*)(Connection*, uint32_t window);  // map, unmap, destroy
using ConfigureWindowFn = Cookie (*)(Connection*, uint32_t window, uint16_t mask,
                                     const void* values);
using ChangePropertyFn = Cookie (*)(Connection*, uint8_t mode, uint32_t window, uint32_t property,
                                    uint32_t type, uint8_t format, uint32_t count,
                                    const void* data);
using ResQueryVersionFn = Cookie (*)(Connection*, uint8_t major, uint8_t minor);
using ResQueryVersionReplyFn = ResQueryVersionReply* (*)(Connection*, Cookie, void** error);
using ResQueryClientIdsFn = Cookie (*)(Connection*, uint32_t count, const ResClientIdSpec*);
using ResQueryClientIdsReplyFn = ResQueryClientIdsReply* (*)(Connection*, Cookie, void** error);
using ResQueryClientIdsIdsIteratorFn = ResClientIdValueIterator (*)(const ResQueryClientIdsReply*);
using ResClientIdValueNextFn = void (*)(ResClientIdValueIterator*);
using ResClientIdValueValueFn = uint32_t* (*)(const ResClientIdValue*);
using ResClientIdValueValueLengthFn = int (*)(const ResClientIdValue*);

}  // namespace zel::x11::xcb
