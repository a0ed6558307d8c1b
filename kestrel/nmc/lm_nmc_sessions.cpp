// The session list of the XML command interface.
#include "nmc/lm_nmc_sessions.h"

#include <cinttypes>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <vector>

namespace {

struct Session {
  int socket = -1;
  std::string client;  // peer address; empty for the API session
  uint64_t last_access = 0;
  bool api = false;
  bool polling = false;
};

// Guards the list: the manager start and exit change it, every query
// touches it.
std::mutex g_mutex;
std::vector<Session> g_sessions;

uint64_t now_seconds(void) { return static_cast<uint64_t>(std::time(nullptr)); }

}  // namespace

void nmc_sessions_start(void) {
  std::lock_guard<std::mutex> hold(g_mutex);
  g_sessions.clear();
  Session api;
  api.api = true;
  api.last_access = now_seconds();
  g_sessions.push_back(api);
}

void nmc_sessions_stop(void) {
  std::lock_guard<std::mutex> hold(g_mutex);
  g_sessions.clear();
}

void nmc_sessions_touch_api(void) {
  std::lock_guard<std::mutex> hold(g_mutex);
  for (Session &session : g_sessions) {
    if (session.api) session.last_access = now_seconds();
  }
}

std::string nmc_sessions_listing(void) {
  std::lock_guard<std::mutex> hold(g_mutex);
  std::string text;
  unsigned int number = 0;
  for (const Session &session : g_sessions) {
    time_t when = static_cast<time_t>(session.last_access);
    struct tm local = {};
    char date[32] = "";
    if (localtime_r(&when, &local) != nullptr) std::strftime(date, sizeof date, "%Y-%m-%d %H:%M:%S", &local);
    char line[512];
    std::snprintf(line, sizeof line, "%4u:\t%s\t%s / %" PRIu64 "\n", ++number,
                  session.client.empty() ? "---.---.---.---" : session.client.c_str(), date, session.last_access);
    text += line;
  }
  return text;
}
