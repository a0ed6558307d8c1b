// Ctrl-C during the terminal mode's search-all and handoff, without a
// network: the library's cancellable calls and cancel flags are played by
// this test program (exported from it, found by the host's lookup in the
// running program). The fake calls wait until their flag is set, as the
// library's do for a server or renderer that does not answer.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "host_terminal_across.h"

namespace {

using SearchCallback = void (*)(uint32_t, const char *, const char *, uint32_t, uint32_t, uint32_t, void *);

// One flag at a time is enough here; number 5 when made.
std::atomic<bool> g_made{false};
std::atomic<bool> g_set{false};

bool wait_for_cancel() {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!g_set.load() && std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  return g_set.load();
}

void copy(const char *text, uint32_t size, char *buffer) { std::snprintf(buffer, size, "%s", text); }

}  // namespace

#define FAKE extern "C" __attribute__((visibility("default"))) uint32_t
FAKE lm_nmc_cancel_create(uint32_t *cancel) {
  g_made = true;
  g_set = false;
  *cancel = 5;
  return 0;
}
FAKE lm_nmc_cancel_set(uint32_t cancel) {
  if (cancel != 5 || !g_made.load()) return 1;
  g_set = true;
  return 0;
}
FAKE lm_nmc_cancel_delete(uint32_t cancel) {
  if (cancel != 5 || !g_made.load()) return 1;
  g_made = false;
  return 0;
}
// The calls without a cancel: found, but never the ones used here.
FAKE lm_nmc_search_all(const char *, uint32_t, SearchCallback, void *, uint32_t *) { return 9; }
FAKE lm_nmc_handoff(const char *, const char *, uint32_t, uint32_t size, char *report) {
  copy("handoff failed: not cancellable", size, report);
  return 6;
}
FAKE lm_nmc_search_all_cancellable(const char *, uint32_t, uint32_t cancel, SearchCallback callback, void *user,
                                   uint32_t *search) {
  if (cancel != 5) return 2;
  callback(1, "uuid:f", "Fast", 1, 2, 2, user);
  if (!wait_for_cancel()) return 6;
  *search = 1;
  return 0;
}
FAKE lm_nmc_search_all_get_count(uint32_t, uint32_t *count) {
  *count = 2;
  return 0;
}
FAKE lm_nmc_search_all_get_page(uint32_t, uint32_t, uint32_t, uint32_t size, char *buffer) {
  copy("0\tRock 1\tobject.item\tFast\tuuid:f,1\n1\tRock 2\tobject.item\tFast\tuuid:f,2\n", size, buffer);
  return 0;
}
FAKE lm_nmc_search_all_get_servers(uint32_t, uint32_t size, char *buffer) {
  copy("uuid:f\tFast\tanswered\t2\t\nuuid:h\tHangs\tno answer\t0\tcancelled before it answered\n", size, buffer);
  return 0;
}
FAKE lm_nmc_search_all_release(uint32_t) { return 0; }
FAKE lm_nmc_handoff_cancellable(const char *, const char *to, uint32_t, uint32_t cancel, uint32_t size, char *report) {
  if (cancel != 5 || !wait_for_cancel()) return 6;
  copy(("handoff failed: cancelled before \"" + std::string(to) + "\" played; \"Old\" keeps playing").c_str(), size,
       report);
  return 20;
}
#undef FAKE

namespace {

TEST(HostAcrossCancel, CtrlCEndsTheWaitOfASearchAndOfAHandoff) {
  host::Library self;
  self.handle = dlopen(nullptr, RTLD_NOW);
  std::vector<std::string> said;
  int calls = 0;
  host::TerminalAcross across(self, nullptr, [&](const char *kind, const std::string &text) {
    said.push_back(std::string(kind) + ": " + text);
  }, [&calls] {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return ++calls % 10 == 0;  // Ctrl-C every tenth look
  });
  const auto began = std::chrono::steady_clock::now();
  across.search("Rock");
  EXPECT_FALSE(g_made.load()) << "the flag outlived the search";
  const std::vector<std::string> searched = {
      "search: searching every server for \"Rock\" (Ctrl-C stops waiting)",
      "info: search-all: cancelled; the rows that arrived follow",
      "search: Fast answered (2 rows)",
      "search: Hangs no answer: cancelled before it answered",
      "entry: 1       Rock 1  (Fast)",
      "entry: 2       Rock 2  (Fast)",
      "search: 2 rows from 2 servers (\"play N\" plays a row)"};
  EXPECT_EQ(said, searched);
  said.clear();
  EXPECT_FALSE(across.handoff("uuid:old", "New"));
  EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(3));
  EXPECT_FALSE(g_made.load()) << "the flag outlived the handoff";
  const std::vector<std::string> handed = {
      "info: cancelling the handoff (the renderer in use keeps playing)",
      "error: handoff failed: cancelled before \"New\" played; \"Old\" keeps playing"};
  EXPECT_EQ(said, handed);
  dlclose(self.handle);
}

}  // namespace
