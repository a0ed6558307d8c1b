// Merged searches followed by a page's token: their progress while they
// run and their held result once they ended.
#include "webapi/webapi_across_progress.h"

#include <deque>
#include <mutex>
#include <vector>

#include "webapi/webapi_across.h"

namespace {

struct progress_slot {
  std::string token;
  std::string query;
  uint64_t generation = 0;
  const webapi_across_calls *calls = nullptr;
  std::string state = "searching";
  uint32_t answered = 0;
  uint32_t servers = 0;
  uint32_t rows = 0;
  uint32_t held = 0;  // the ended search kept for later pages
};

// The slots, oldest first, and the generation counter; request threads and
// the searching threads' callbacks meet here.
std::mutex g_lock;
std::deque<progress_slot> g_slots;
uint64_t g_generation = 0;

progress_slot *find(const std::string &token) {
  for (progress_slot &slot : g_slots) {
    if (slot.token == token) return &slot;
  }
  return nullptr;
}

// Servers listed in the search and those no longer searching, from its
// server lines ("UDN\tNAME\tSTATUS\tROWS\tWORDS").
void count_servers(const webapi_across_calls &calls, uint32_t search, uint32_t *answered, uint32_t *servers) {
  std::vector<char> text(64 * 1024);
  *answered = 0;
  *servers = 0;
  if (calls.get_servers(search, static_cast<uint32_t>(text.size()), text.data()) != 0) return;
  for (const char *line = text.data(); *line != '\0';) {
    const char *end = line;
    while (*end != '\0' && *end != '\n') ++end;
    std::string fields(line, end);
    size_t a = fields.find('\t');
    size_t b = a == std::string::npos ? a : fields.find('\t', a + 1);
    size_t c = b == std::string::npos ? b : fields.find('\t', b + 1);
    if (c != std::string::npos) {
      ++*servers;
      if (fields.compare(b + 1, c - b - 1, "searching") != 0) ++*answered;
    }
    line = *end == '\n' ? end + 1 : end;
  }
}

// Forgets the slot, releasing its held search. Lock held.
void drop(std::deque<progress_slot>::iterator it) {
  if (it->held != 0 && it->calls != nullptr) it->calls->release(it->held);
  g_slots.erase(it);
}

}  // namespace

bool webapi_progress_token_valid(const std::string &token) {
  if (token.empty() || token.size() > 32) return false;
  for (char c : token) {
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
    if (!ok) return false;
  }
  return true;
}

uint32_t webapi_progress_reuse(const std::string &token, const std::string &query) {
  std::lock_guard<std::mutex> hold(g_lock);
  progress_slot *slot = find(token);
  return slot != nullptr && slot->query == query ? slot->held : 0;
}

webapi_progress_ticket webapi_progress_begin(const std::string &token, const std::string &query,
                                             const webapi_across_calls *calls) {
  std::lock_guard<std::mutex> hold(g_lock);
  for (auto it = g_slots.begin(); it != g_slots.end(); ++it) {
    if (it->token == token) {
      drop(it);
      break;
    }
  }
  while (g_slots.size() >= WEBAPI_PROGRESS_HELD) drop(g_slots.begin());
  progress_slot slot;
  slot.token = token;
  slot.query = query;
  slot.generation = ++g_generation;
  slot.calls = calls;
  g_slots.push_back(slot);
  webapi_progress_ticket ticket;
  ticket.token = token;
  ticket.generation = slot.generation;
  ticket.calls = calls;
  return ticket;
}

void webapi_progress_callback(uint32_t search, const char *, const char *, uint32_t, uint32_t, uint32_t merged,
                              void *user) {
  const auto *ticket = static_cast<const webapi_progress_ticket *>(user);
  if (ticket == nullptr || ticket->calls == nullptr) return;
  uint32_t answered = 0;
  uint32_t servers = 0;
  count_servers(*ticket->calls, search, &answered, &servers);  // outside our lock: it calls the controller
  std::lock_guard<std::mutex> hold(g_lock);
  progress_slot *slot = find(ticket->token);
  if (slot == nullptr || slot->generation != ticket->generation) return;
  slot->answered = answered;
  slot->servers = servers;
  slot->rows = merged;
}

bool webapi_progress_finish(const webapi_progress_ticket &ticket, uint32_t search) {
  uint32_t answered = 0;
  uint32_t servers = 0;
  uint32_t rows = 0;
  if (search != 0 && ticket.calls != nullptr) {
    count_servers(*ticket.calls, search, &answered, &servers);
    ticket.calls->get_count(search, &rows);
  }
  std::lock_guard<std::mutex> hold(g_lock);
  progress_slot *slot = find(ticket.token);
  if (slot == nullptr || slot->generation != ticket.generation) return false;
  if (search == 0) {
    slot->state = "failed";
    return false;
  }
  slot->state = "done";
  slot->answered = answered;
  slot->servers = servers;
  slot->rows = rows;
  slot->held = search;
  return true;
}

std::string webapi_progress_text(const std::string &token) {
  std::lock_guard<std::mutex> hold(g_lock);
  const progress_slot *slot = find(token);
  if (slot == nullptr) return std::string();
  return slot->state + "\t" + std::to_string(slot->answered) + "\t" + std::to_string(slot->servers) + "\t" +
         std::to_string(slot->rows);
}

void webapi_progress_clear() {
  std::lock_guard<std::mutex> hold(g_lock);
  while (!g_slots.empty()) drop(g_slots.begin());
}
