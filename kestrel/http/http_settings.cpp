// Client settings: user agent (with its lock) and the connection and SOAP
// time-outs. The time-outs are atomics and the user agent sits behind a small
// mutex of its own, so that exchanges on any thread read a whole value.
#include "http/http_settings.h"

#include <atomic>
#include <cstring>
#include <mutex>

namespace {

std::mutex g_agent_mutex;
char g_agent[HTTP_USER_AGENT_MAX + 1] = {0};
bool g_agent_locked = false;
bool g_agent_set = false;

std::atomic<unsigned int> g_connection_timeout{30};
std::atomic<unsigned int> g_soap_timeout{40};

void store_agent(const char *text) {
  size_t n = text ? std::strlen(text) : 0;
  if (n > HTTP_USER_AGENT_MAX) n = HTTP_USER_AGENT_MAX;
  if (n) std::memcpy(g_agent, text, n);
  g_agent[n] = '\0';
  g_agent_locked = true;
  g_agent_set = true;
}

}  // namespace

extern "C" void HTTP_set_default_user_agent(const char *text) {
  std::lock_guard<std::mutex> hold(g_agent_mutex);
  if (g_agent_locked) return;
  store_agent(text);
}

extern "C" void HTTP_make_user_agent_settable(void) {
  std::lock_guard<std::mutex> hold(g_agent_mutex);
  g_agent_locked = false;
}

extern "C" void HTTP_get_default_user_agent(char *buffer, unsigned int size) {
  if (!buffer || size == 0) return;
  std::lock_guard<std::mutex> hold(g_agent_mutex);
  if (!g_agent_set && !g_agent_locked) store_agent(HTTP_FALLBACK_USER_AGENT);
  size_t n = std::strlen(g_agent);
  if (n >= size) n = size - 1;
  std::memcpy(buffer, g_agent, n);
  buffer[n] = '\0';
}

extern "C" unsigned int HTTP_set_connection_timeout(unsigned int seconds) {
  return g_connection_timeout.exchange(seconds);
}

extern "C" unsigned int HTTP_set_soap_timeout(unsigned int seconds) {
  return g_soap_timeout.exchange(seconds);
}

extern "C" unsigned int HTTP_get_connection_timeout(void) { return g_connection_timeout.load(); }

extern "C" unsigned int HTTP_get_soap_timeout(void) { return g_soap_timeout.load(); }
