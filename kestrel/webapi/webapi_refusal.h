#ifndef KESTREL_WEBAPI_WEBAPI_REFUSAL_H
#define KESTREL_WEBAPI_WEBAPI_REFUSAL_H

/* The UPnP error a device answered while a request ran ("701 Transition not
 * available"), so that the failed reply can name it in an "X-NMC-Error"
 * header beside its fixed body. The controller passes a device's refusal
 * through as its UPnP code (400 to 999); the words are the code's meaning
 * for the side that refused (701 and 710 mean other things to a server than
 * to a renderer).
 *
 * A request runs on one server thread from its first controller call to its
 * reply, so the note is kept per thread: nothing is shared between
 * requests, and the reply takes (and clears) the note of its own request. */

#include <string>

#include "nmc/lm_nmc.h"

enum webapi_side { WEBAPI_SIDE_RENDERER, WEBAPI_SIDE_SERVER };

/* Notes the code when it is a device's UPnP error; returns it unchanged. */
lm_nmc_result_t webapi_refusal_note(lm_nmc_result_t code, webapi_side side);
/* Forgets any note of this thread (a new request begins). */
void webapi_refusal_clear(void);
/* The noted words, or empty; the note is cleared. */
std::string webapi_refusal_take(void);
/* "CODE TEXT" for a device's UPnP error; empty for any other code. */
std::string webapi_refusal_words(lm_nmc_result_t code, webapi_side side);

#endif
