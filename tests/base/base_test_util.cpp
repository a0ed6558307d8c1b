#include "base_test_util.h"

#include "base/upnp_base_log.h"

namespace {

std::mutex g_lines_lock;
std::vector<LoggedLine> g_lines;

void observe(int level, const char *function, const char *text) {
  std::lock_guard<std::mutex> hold(g_lines_lock);
  g_lines.push_back({level, function ? function : "", text ? text : ""});
}

}  // namespace

LogRecorder::LogRecorder() {
  clear();
  upnp_base_log_set_observer(observe);
}

LogRecorder::~LogRecorder() { upnp_base_log_set_observer(nullptr); }

std::vector<LoggedLine> LogRecorder::lines() const {
  std::lock_guard<std::mutex> hold(g_lines_lock);
  return g_lines;
}

int LogRecorder::count(const std::string &text) const {
  int n = 0;
  for (const auto &line : lines()) n += line.text == text;
  return n;
}

int LogRecorder::count_prefix(const std::string &prefix) const {
  int n = 0;
  for (const auto &line : lines()) n += line.text.compare(0, prefix.size(), prefix) == 0;
  return n;
}

void LogRecorder::clear() {
  std::lock_guard<std::mutex> hold(g_lines_lock);
  g_lines.clear();
}
