#include "x11_table.h"

#include <unordered_set>

#include "../../wildcard.h"

namespace zel::x11 {

namespace {

// Length of the valid UTF-8 sequence at text[at], or 0 when it is not one
// (overlong forms, surrogates and values past U+10FFFF included).
size_t SequenceLength(std::string_view text, size_t at) {
  const unsigned char lead = static_cast<unsigned char>(text[at]);
  if (lead < 0x80) return 1;
  size_t length = 0;
  uint32_t value = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    value = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    value = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    value = lead & 0x07;
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  for (size_t i = 1; i < length; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[at + i]);
    if ((c & 0xC0) != 0x80) return 0;
    value = (value << 6) | (c & 0x3F);
  }
  if ((length == 3 && (value < 0x800 || (value >= 0xD800 && value <= 0xDFFF))) ||
      (length == 4 && (value < 0x10000 || value > 0x10FFFF))) {
    return 0;
  }
  return length;
}

}  // namespace

bool IsVisible(const TopWindow& window) { return window.viewable || window.iconic; }

uint32_t StyleOf(const TopWindow& window) {
  uint32_t style = 0;
  if (IsVisible(window)) style |= kVisibleStyle;
  if (!window.override_redirect) style |= kSysMenuStyle;
  if (window.transient) style |= kPopupStyle;
  if (window.iconic) style |= kMinimizedStyle;
  return style;
}

std::string TitleText(std::string_view bytes, bool utf8) {
  std::string text;
  if (utf8) {
    text.assign(bytes.substr(0, kMaxTitle));
    // Drop a sequence cut in two by the limit (or by the property's end).
    size_t start = text.size();
    while (start > 0 && (static_cast<unsigned char>(text[start - 1]) & 0xC0) == 0x80 &&
           text.size() - start < 3) {
      --start;
    }
    if (start > 0 && static_cast<unsigned char>(text[start - 1]) >= 0xC0 &&
        SequenceLength(text, start - 1) == 0) {
      text.resize(start - 1);
    }
    return text;
  }
  for (const char c : bytes) {
    const unsigned char u = static_cast<unsigned char>(c);
    const size_t width = u < 0x80 ? 1 : 2;
    if (text.size() + width > kMaxTitle) break;
    if (u < 0x80) {
      text += c;
    } else {
      text += static_cast<char>(0xC0 | (u >> 6));
      text += static_cast<char>(0x80 | (u & 0x3F));
    }
  }
  return text;
}

std::string PrintableTitle(std::string_view title) {
  std::string out;
  out.reserve(title.size());
  for (size_t at = 0; at < title.size();) {
    const size_t length = SequenceLength(title, at);
    const unsigned char lead = static_cast<unsigned char>(title[at]);
    const bool control =
        (length == 1 && ((lead < 0x20 && lead != '\t') || lead == 0x7F)) ||
        (length == 2 && lead == 0xC2 && static_cast<unsigned char>(title[at + 1]) < 0xA0);
    if (length == 0 || control) {
      out += ' ';
      at += length == 0 ? 1 : length;
    } else {
      out.append(title, at, length);
      at += length;
    }
  }
  return out;
}

std::vector<KeptWindow> KeepWindows(const std::vector<TopWindow>& table, uint32_t process_id,
                                    const char* mask, bool include_hidden) {
  std::vector<KeptWindow> kept;
  for (const TopWindow& window : table) {
    if (window.process_id != process_id || window.title.empty()) continue;
    // As on Windows: visible windows with a system menu unless -e.
    if (!include_hidden && (!IsVisible(window) || window.override_redirect)) continue;
    if (mask != nullptr && !WildcardMatch(window.title.c_str(), mask)) continue;
    kept.push_back({window.id, PrintableTitle(window.title)});
  }
  return kept;
}

const TopWindow* ChooseMainWindow(const std::vector<TopWindow>& table, uint32_t process_id) {
  for (const uint32_t exclude : {kPopupStyle | kMinimizedStyle, kMinimizedStyle, 0u}) {
    for (const TopWindow& window : table) {
      if (window.process_id != process_id) continue;
      const uint32_t style = StyleOf(window);
      if ((style & kVisibleStyle) != 0 && (style & kSysMenuStyle) != 0 && (style & exclude) == 0) {
        return &window;
      }
    }
  }
  return nullptr;
}

std::vector<uint32_t> TableOrder(const std::vector<uint32_t>& root_children,
                                 const std::vector<uint32_t>& client_stacking) {
  std::vector<uint32_t> order;
  std::unordered_set<uint32_t> seen;
  for (auto it = client_stacking.rbegin(); it != client_stacking.rend(); ++it) {
    if (seen.insert(*it).second) order.push_back(*it);
  }
  for (auto it = root_children.rbegin(); it != root_children.rend(); ++it) {
    if (seen.insert(*it).second) order.push_back(*it);
  }
  return order;
}

bool HasEquivalent(int32_t close_command, bool window_filter) {
  if (close_command == 0) return true;
  if (window_filter || close_command > 0) return false;
  const int64_t code = static_cast<int64_t>(kSysCommandBase) - close_command;
  return code == static_cast<int64_t>(kCloseCode) || code == static_cast<int64_t>(kMinimizeCode) ||
         code == static_cast<int64_t>(kRestoreCode);
}

}  // namespace zel::x11
