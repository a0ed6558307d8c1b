#ifndef KESTREL_CP_UPNP_CP_SEEK_H
#define KESTREL_CP_UPNP_CP_SEEK_H

/* Seeking a renderer by percent of the current track, by relative byte
 * position, and finding the `res` of a DIDL-Lite object that a renderer
 * plays. Result codes as in upnp_soap.h. */

#include <stdint.h>

#include "base/upnp_xml.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Abilities (bits) and kinds of a percent seek. */
#define UPNP_CP_SEEK_ABLE_BYTES 1u
#define UPNP_CP_SEEK_ABLE_TIME 2u
#define UPNP_CP_SEEK_KIND_BYTES 1u
#define UPNP_CP_SEEK_KIND_TIME 2u

/* Seeks the renderer to `percent` (capped at 100) of its current track: by
 * bytes when it can seek by bytes and the size is known, else (also when
 * the byte seek was refused) by time when the duration is known. What it
 * learns comes from GetPositionInfo, the track's metadata (or `metadata`,
 * plain DIDL-Lite text, when given) and a HEAD request to the track's URI.
 * Outputs (each may be none, all start at 0): the abilities found, the kind
 * of seek made, its target (bytes or milliseconds), the duration in
 * milliseconds and the size in bytes. 1 for an invalid renderer, 710 when
 * no seek could be made, the renderer's error when the seek it tried failed. */
int upnp_cp_seek_pct(int renderer, unsigned percent, const char *metadata, unsigned *abilities_out,
                     unsigned *kind_out, uint64_t *target_out, uint64_t *duration_out, uint64_t *size_out);
/* A relative byte seek in the renderer's own unit: "X_DLNA_REL_BYTE" when
 * its seek modes list it, else "REL_COUNT" when listed, else 13. */
int upnp_cp_seek_rel_byte(int renderer, uint64_t bytes);
/* The `res` element of the DIDL-Lite tree whose URI is `uri` (leading and
 * trailing blanks ignored); none when no res matches. Points into the tree. */
upnp_xml_node *upnp_cp_get_selected_res(upnp_xml_node *didl, const char *uri);

/* "H:MM:SS" with an optional fraction (".mmm" or "F0/F1") to milliseconds;
 * 0 when the text is no time ("NOT_IMPLEMENTED", empty), 1 otherwise. */
int upnp_cp_time_to_ms(const char *text, uint64_t *ms_out);
/* Milliseconds as "H:MM:SS" (hours not limited) into buffer. */
void upnp_cp_ms_to_time(uint64_t ms, char *buffer, unsigned size);

#ifdef __cplusplus
}
#endif

#endif
