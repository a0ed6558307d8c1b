// The choices of the X11 window binding over a table of windows, without a
// server: titles, the -w filter, the main window and the close commands.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "source/linux/x11_table.h"

namespace zel::x11 {
namespace {

TopWindow Window(uint32_t id, uint32_t pid, std::string title, bool viewable = true) {
  TopWindow w;
  w.id = id;
  w.process_id = pid;
  w.title = std::move(title);
  w.viewable = viewable;
  return w;
}

TEST(X11Table, TitleText) {
  const std::string long_ascii(kMaxTitle - 1, 'a');
  const struct {
    std::string bytes;
    bool utf8;
    std::string text;
  } cases[] = {
      {"Ünïcode", true, "Ünïcode"},
      {"Lat\xe9n", false, "Lat\xc3\xa9n"},          // Latin-1 é
      {long_ascii + "\xc3\xa9", true, long_ascii},  // é cut in two by the limit
      {long_ascii + "b\xc3", true, long_ascii + "b"},
      {long_ascii + "\xe9", false, long_ascii},  // é would need two bytes
      {std::string(400, 'x'), true, std::string(kMaxTitle, 'x')},
      {"", true, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(TitleText(c.bytes, c.utf8), c.text) << c.bytes;
}

TEST(X11Table, PrintableTitle) {
  const struct {
    std::string title, printed;
  } cases[] = {
      {"Ctl\x01x\ttab", "Ctl x\ttab"}, {"del\x7f", "del "},
      {"nel\xc2\x85!", "nel !"},   // C1 control: one blank for the character
      {"bad\xff\xc3(", "bad  ("},  // invalid bytes: one blank each
      {"\xed\xa0\x80", "   "},     // a surrogate is no character
      {"Ünïcode €", "Ünïcode €"},
  };
  for (const auto& c : cases) EXPECT_EQ(PrintableTitle(c.title), c.printed) << c.title;
}

TEST(X11Table, KeepWindows) {
  std::vector<TopWindow> table = {
      Window(1, 7, "Main"),  Window(2, 7, "Hidden", false),   Window(3, 7, ""),
      Window(4, 8, "Other"), Window(5, 7, "Mini\x02", false), Window(6, 7, "Tip")};
  table[4].iconic = true;
  table[5].override_redirect = true;
  const auto titles = [&](const char* mask, bool hidden) {
    std::vector<std::string> out;
    for (const KeptWindow& k : KeepWindows(table, 7, mask, hidden)) out.push_back(k.title);
    return out;
  };
  EXPECT_EQ(titles(nullptr, false), (std::vector<std::string>{"Main", "Mini "}));
  EXPECT_EQ(titles(nullptr, true), (std::vector<std::string>{"Main", "Hidden", "Mini ", "Tip"}));
  EXPECT_EQ(titles("*I*", true), (std::vector<std::string>{"Main", "Hidden", "Mini ", "Tip"}));
  EXPECT_EQ(titles("h*", true), (std::vector<std::string>{"Hidden"}));
  EXPECT_EQ(titles("", true), std::vector<std::string>{});  // an empty title never matches
  EXPECT_EQ(KeepWindows(table, 7, nullptr, false)[0].window, 1u);
}

TEST(X11Table, MainWindowAndStyle) {
  TopWindow tip = Window(1, 7, "tip");
  tip.override_redirect = true;
  TopWindow dialog = Window(2, 7, "dialog");
  dialog.transient = true;
  TopWindow mini = Window(3, 7, "mini", false);
  mini.iconic = true;
  const TopWindow main = Window(4, 7, "main");
  const TopWindow hidden = Window(5, 7, "hidden", false);
  const struct {
    std::vector<TopWindow> table;
    uint32_t chosen;  // 0: none
  } cases[] = {
      {{tip, dialog, mini, main}, 4},  // neither transient nor minimised first
      {{tip, mini, dialog}, 2},        // then not minimised
      {{tip, mini}, 3},                // then any visible managed window
      {{tip, hidden}, 0},              // override-redirect and unmapped never
      {{Window(6, 8, "other")}, 0},
  };
  for (const auto& c : cases) {
    const TopWindow* found = ChooseMainWindow(c.table, 7);
    EXPECT_EQ(found != nullptr ? found->id : 0u, c.chosen);
  }
  EXPECT_EQ(StyleOf(mini), kVisibleStyle | kSysMenuStyle | kMinimizedStyle);
  EXPECT_EQ(StyleOf(dialog), kVisibleStyle | kSysMenuStyle | kPopupStyle);
  EXPECT_EQ(StyleOf(tip), kVisibleStyle);
  EXPECT_EQ(StyleOf(hidden), kSysMenuStyle);
}

TEST(X11Table, TableOrderPutsClientsFirstTopmostFirst) {
  EXPECT_EQ(TableOrder({1, 2, 3}, {}), (std::vector<uint32_t>{3, 2, 1}));
  EXPECT_EQ(TableOrder({1, 2, 3}, {10, 3, 11}), (std::vector<uint32_t>{11, 3, 10, 2, 1}));
}

TEST(X11Table, CloseCommandsWithAnEquivalent) {
  const struct {
    int32_t command;
    bool window_filter, taken;
  } cases[] = {
      {0, false, true},    {0, true, true},           {-96, false, true},   {-32, false, true},
      {-288, false, true}, {-48, false, false},       {1001, false, false}, {1, true, false},
      {-32, true, false},  {INT32_MIN, false, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(HasEquivalent(c.command, c.window_filter), c.taken) << c.command;
  }
}

}  // namespace
}  // namespace zel::x11
