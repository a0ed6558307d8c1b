// The device's refusal a request met, kept for the reply's "X-NMC-Error"
// header (see webapi_refusal.h).
#include "webapi/webapi_refusal.h"

#include "cp/upnp_soap.h"

namespace {

// Per thread: each request is served whole on one thread (see the header).
thread_local std::string t_noted;

bool is_upnp_error(lm_nmc_result_t code) { return code >= 400 && code <= 999; }

}  // namespace

std::string webapi_refusal_words(lm_nmc_result_t code, webapi_side side) {
  if (!is_upnp_error(code)) return std::string();
  const int number = static_cast<int>(code);
  const char *text = nullptr;
  // 701 and 710 mean one thing to a renderer's AVTransport (the control
  // point's own table) and another to a server's ContentDirectory; the
  // lookup below may find either, depending on the table installed.
  if (side == WEBAPI_SIDE_SERVER && number == 701) text = "No such object";
  else if (side == WEBAPI_SIDE_SERVER && number == 710) text = "No such container";
  for (const upnp_errmsg *e = upnp_cp_errmsgs(); side == WEBAPI_SIDE_RENDERER && e->text != nullptr; ++e) {
    if (e->code == number) text = e->text;
  }
  if (text == nullptr) text = upnp_get_errmsg(number);
  // A code the tables do not know is answered with their first entry (400's).
  if (text == nullptr || (number != 400 && text == upnp_get_errmsg(400))) text = "UPnP error";
  return std::to_string(number) + " " + text;
}

lm_nmc_result_t webapi_refusal_note(lm_nmc_result_t code, webapi_side side) {
  if (is_upnp_error(code)) t_noted = webapi_refusal_words(code, side);
  return code;
}

void webapi_refusal_clear(void) { t_noted.clear(); }

std::string webapi_refusal_take(void) {
  std::string words;
  words.swap(t_noted);
  return words;
}
