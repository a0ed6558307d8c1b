// The "SSDP MSearch Send" thread of an interface entry: M-SEARCH requests in
// passes of two bursts, the waits between passes and the repetition.
#include <arpa/inet.h>
#include <cstring>
#include <netinet/in.h>

#include "base/upnp_log.h"
#include "base/upnp_socket.h"
#include "base/upnp_thread.h"
#include "ssdp/upnp_ssdp_internal.h"

namespace {

#define SSDP_SEARCH(mx, st)                                                                                   \
  "M-SEARCH * HTTP/1.1\r\nMX: " mx "\r\nST: " st "\r\nHOST: 239.255.255.250:1900\r\nMAN: \"ssdp:discover\"\r\n" \
  "\r\n"

const char *const kRequests[SSDP_REQ_COUNT] = {
    SSDP_SEARCH("3", "urn:schemas-upnp-org:device:RemoteUIServer:1"),
    SSDP_SEARCH("3", "urn:schemas-upnp-org:device:MediaRenderer:1"),
    SSDP_SEARCH("3", "urn:schemas-upnp-org:device:MediaServer:1"),
    SSDP_SEARCH("10", "urn:schemas-upnp-org:device:MediaRenderer:1"),
    SSDP_SEARCH("10", "urn:schemas-upnp-org:device:MediaServer:1"),
    SSDP_SEARCH("3", "urn:schemas-upnp-org:device:RemoteUIClient:1"),
    SSDP_SEARCH("10", "urn:schemas-upnp-org:device:InternetGatewayDevice:1"),
};

constexpr unsigned int kPacketPauseMs = 50;
constexpr unsigned int kBurstPauseMs = 200;
constexpr unsigned int kRevalidationWaitMs = 10000;
constexpr unsigned int kWaitStepMs = 100;

struct SenderArgument {
  upnp_interface_entry *entry;
  unsigned int generation;
};

enum class Wait { kDone, kSearchNow, kEnd };

bool alive(const upnp_interface_entry *entry, unsigned int generation) {
  return ssdp_entry_current(entry, generation) && entry->search_socket.load() >= 0;
}

// A wait in 100 ms steps that a search request cuts short and the end of the
// socket or generation ends.
Wait wait_for(upnp_interface_entry *entry, unsigned int generation, unsigned int milliseconds) {
  for (unsigned int waited = 0; waited < milliseconds; waited += kWaitStepMs) {
    unsigned int step = milliseconds - waited < kWaitStepMs ? milliseconds - waited : kWaitStepMs;
    Sleep(step);
    if (!alive(entry, generation)) return Wait::kEnd;
    if (entry->search_now.load()) return Wait::kSearchNow;
  }
  return Wait::kDone;
}

bool send_request(upnp_interface_entry *entry, int request) {
  sockaddr_in group;
  std::memset(&group, 0, sizeof group);
  group.sin_family = AF_INET;
  group.sin_port = htons(SSDP_PORT);
  inet_pton(AF_INET, SSDP_MULTICAST_ADDRESS, &group.sin_addr);
  const char *text = kRequests[request];
  // Sent under the socket lock: the socket cannot be closed meanwhile.
  std::lock_guard<std::mutex> hold(entry->socket_lock);
  int s = entry->search_socket.load();
  if (s < 0) return false;
  if (upnp_sendto(s, text, std::strlen(text), 0, &group) < 0) {
    upnp_log_impl(LOG_LEVEL_DEBUG, LOG_SSDP, "SSDP MSearch Send", "M-SEARCH not sent on %s: %s", entry->address,
                  getLastSocketError());
  }
  return true;
}

// Two bursts; false when the thread has to end.
bool run_pass(upnp_interface_entry *entry, unsigned int generation) {
  const bool revalidation = entry->revalidation.load() != 0;
  for (int burst = 0; burst < 2; ++burst) {
    for (int request : ssdp_burst_requests(revalidation)) {
      if (!alive(entry, generation) || !send_request(entry, request)) return false;
      Sleep(kPacketPauseMs);
    }
    Sleep(kBurstPauseMs);
    if (!alive(entry, generation)) return false;
  }
  return true;
}

// The initial passes, then the repetitions; false when the thread has to end.
bool run_search(upnp_interface_entry *entry, unsigned int generation) {
  const int passes = entry->revalidation.load() ? 2 : 3;
  for (int done = 0;;) {
    if (!run_pass(entry, generation)) return false;
    entry->search_now.store(0);
    if (++done >= passes) break;
    unsigned int pause;
    if (entry->revalidation.load()) {
      pause = kRevalidationWaitMs;
    } else if (g_ssdp_search.initial_interval_ms.load() >= 1000) {
      pause = g_ssdp_search.initial_interval_ms.load();
    } else {
      break;
    }
    if (wait_for(entry, generation, pause) == Wait::kEnd) return false;
  }
  for (;;) {
    unsigned int repeat = g_ssdp_search.repeat_interval_ms.load();
    if (repeat == 0) return true;
    if (wait_for(entry, generation, repeat) == Wait::kEnd) return false;
    if (!run_pass(entry, generation)) return false;
    entry->search_now.store(0);
  }
}

void *sender_thread(void *argument) {
  upnp_init_thread("SSDP MSearch Send");
  SenderArgument *arg = static_cast<SenderArgument *>(argument);
  upnp_interface_entry *entry = arg->entry;
  const unsigned int generation = arg->generation;
  delete arg;
  for (;;) {
    bool ended = !run_search(entry, generation);
    // A search asked for after the last pass is not lost: the decision to
    // end is taken under the same lock under which a search wakes a running
    // sender or starts a new one.
    ssdp_lock();
    if (!ended && entry->search_now.load() && ssdp_entry_current(entry, generation)) {
      entry->search_now.store(0);
      ssdp_unlock();
      continue;
    }
    entry->sender_running.store(0);
    ssdp_unlock();
    return nullptr;
  }
}

}  // namespace

const char *ssdp_request_text(int request) {
  return request >= 0 && request < SSDP_REQ_COUNT ? kRequests[request] : nullptr;
}

std::vector<int> ssdp_burst_requests(bool revalidation) {
  std::vector<int> order;
  if (!revalidation) {
    if (g_ssdp_search.remoteui_server.load()) order.push_back(SSDP_REQ_REMOTEUI_SERVER);
    if (g_ssdp_search.quick.load()) {
      if (g_ssdp_search.dmr.load()) order.push_back(SSDP_REQ_RENDERER_SHORT);
      if (g_ssdp_search.dms.load()) order.push_back(SSDP_REQ_SERVER_SHORT);
    }
  }
  if (g_ssdp_search.dmr.load()) order.push_back(SSDP_REQ_RENDERER);
  if (g_ssdp_search.dms.load()) order.push_back(SSDP_REQ_SERVER);
  if (!revalidation) {
    if (g_ssdp_search.remoteui_client.load()) order.push_back(SSDP_REQ_REMOTEUI_CLIENT);
    if (g_ssdp_search.igd.load()) order.push_back(SSDP_REQ_GATEWAY);
  }
  return order;
}

void ssdp_sender_kick(upnp_interface_entry *entry) {
  if (entry->sender_running.load()) {
    entry->search_now.store(1);
    return;
  }
  if (entry->sender_thread != UPNP_NO_THREAD) upnp_join_thread(entry->sender_thread, nullptr);
  entry->search_now.store(0);
  entry->sender_running.store(1);
  SenderArgument *arg = new SenderArgument{entry, entry->generation.load()};
  entry->sender_thread = upnp_start_joinable_thread(sender_thread, arg, UPNP_THREAD_LEVEL_DEFAULT);
  if (entry->sender_thread == UPNP_NO_THREAD) {
    delete arg;
    entry->sender_running.store(0);
  }
}
