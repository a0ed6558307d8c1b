#ifndef KESTREL_CP_UPNP_CP_RES_H
#define KESTREL_CP_UPNP_CP_RES_H

/* Resource selection: which `res` element of a DIDL-Lite object a renderer
 * plays best, matched against the renderer's sink protocolInfo list (and, for
 * pictures, its screen resolution), and whether a renderer can play an object
 * or a URL at all.
 *
 * Result codes: 0 success (or "playable"), 2 bad argument, 8 no memory,
 * 9 nothing found / nothing playable, SOAP failures as their UPnP error
 * numbers. Out-parameters are cleared first. Texts handed out are accounted
 * copies freed with upnp_free_impl; trees are released with
 * upnp_xml_release. A `res` handed out by the choosing functions points into
 * the tree that was passed in or handed out alongside (never free it on its
 * own), except for upnp_cp_get_orig_res, which hands out a copy. */

#include <stdint.h>

#include "base/upnp_xml.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- protocolInfo texts ---- */

/* The four-field DLNA text "protocol:network:MIME type:additional info". */

/* Copies the n-th field (0..3) of a protocolInfo into buffer (the fourth
 * field runs to the end of the text). 0, 9 when the text has fewer fields,
 * 10 when the field does not fit, 2 without text or buffer. */
int upnp_cp_pi_get_field(const char *protocol_info, int field, char *buffer, unsigned int size);
/* The MIME type (third field) of a protocolInfo; as upnp_cp_pi_get_field. */
int upnp_cp_pi_get_mime_type(const char *protocol_info, char *buffer, unsigned int size);
/* The value of the "DLNA.ORG_PN=" parameter (up to ';', ',' or the end). 0, 9
 * when there is none, 10 when it does not fit, 2 without text or buffer. */
int upnp_cp_pi_get_profile(const char *protocol_info, char *buffer, unsigned int size);
/* Width and height of a resolution text "WxH" (decimal, each 1..65535).
 * 1 when both were read, 0 otherwise (outputs 0 then). */
int upnp_cp_parse_resolution(const char *text, unsigned int *width_out, unsigned int *height_out);

/* ---- Renderer lists ---- */

/* The extra sink protocolInfo entries of the renderer at `index` derived
 * from its modelName and its reported list (see upnp_cp_res_extra.cpp): the
 * known-device table, the Thomson rewrite, the WAV entries for L16
 * renderers and the Matroska entry for "video/x-mkv" renderers, joined with
 * ','. 0 with *extra_out set, 9 when there is nothing to add (*extra_out
 * none), 8 without memory, 2 without extra_out. */
int upnp_cp_get_extra_ProtocolInfo(int index, const char *reported, char **extra_out);
/* The same for a given modelName (none: no table entry); the device-free
 * core of upnp_cp_get_extra_ProtocolInfo. */
int upnp_cp_get_extra_ProtocolInfo_for_model(const char *model_name, const char *reported, char **extra_out);

/* The renderer's sink list: the cached list, else asked from the renderer
 * (GetProtocolInfo, with the extra entries appended). The local renderer
 * (UPNP_CP_LOCAL_RENDERER_INDEX) is not available in this build: 9. */
int upnp_cp_get_protocolinfo(int index, char **list_out);

/* ---- Matching one res ---- */

/* Candidate slots filled while the `res` elements of one object are
 * examined. */
typedef struct upnp_cp_res_slots {
  upnp_xml_node *best;
  upnp_xml_node *ok;
  upnp_xml_node *transcoded;
  uint64_t transcoded_pixels; /* 0: no size known for the slot's res */
  upnp_xml_node *thumbnail;
  uint64_t thumbnail_pixels;
  upnp_xml_node *wrong_type;
  /* Whether "renderer protocol info" was logged for this examination. */
  int renderer_logged;
} upnp_cp_res_slots;

/* Matches one `res` (node `res`, its protocolInfo `protocol_info`) against
 * renderer_list (none: every res is OK) with the expected type text
 * (":audio/" etc., or none) and the screen size (0: unknown), and places it
 * into the slots. 1 when the res was best or OK, 0 otherwise; *is_best_out
 * (when given) receives 1 for a best match that kept being best. */
int getMatch(const char *renderer_list, const char *protocol_info, const char *type, unsigned int screen_width,
             unsigned int screen_height, upnp_xml_node *res, upnp_cp_res_slots *slots, int *is_best_out);

/* The expected type text of a upnp:class (":audio/", ":image/", ":video/"),
 * or none. */
const char *strClassToTypeTable(const char *upnp_class);

/* ---- Choosing ---- */

/* The device-free core of upnp_cp_get_best_res: chooses among the `res`
 * elements of the first item (or container) of `didl` for renderer_list
 * (none: every res is OK) and the screen size (0x0: unknown). With res_out
 * none only playability is answered: 0 playable, 9 not. A scaled-up picture
 * copy may be inserted into the tree (after the thumbnail it was made from)
 * and chosen. */
int upnp_cp_choose_res(const char *renderer_list, unsigned int screen_width, unsigned int screen_height,
                       upnp_xml_node *didl, upnp_xml_node **res_out);
/* upnp_cp_choose_res with the renderer's screen size from the device table
 * (renderer -1: no renderer, no screen). */
int upnp_cp_get_best_res(int renderer, const char *renderer_list, upnp_xml_node *didl, upnp_xml_node **res_out);
/* Without a renderer: every res is OK; *res_out receives a copy of the chosen
 * node (release with upnp_xml_release). */
int upnp_cp_get_orig_res(const char *didl_text, upnp_xml_node **res_out);

/* The scaled-up copy of a JPEG thumbnail whose URL scales ("scale=WxH"):
 * URL with "scale=1920x1080" and "_LRG", size fetched when the res has one,
 * the new URL checked with an information request, protocolInfo with the
 * "_LRG" profile and the proportional resolution. The copy is inserted after
 * `thumbnail` and handed out; none when no copy can be made. */
upnp_xml_node *createScaledUpImageRes(upnp_xml_node *thumbnail);

/* ---- For an object on a server ---- */

/* Browses the object's metadata from `server` with the filter built from
 * `filter` (none allowed), fetches the renderer's list and chooses.
 * *tree_out receives the parsed DIDL-Lite document, *res_out the chosen res
 * inside it, *didl_out (when given) the DIDL-Lite text as the server sent it
 * (plain, unescaped). Any out-pointer may be none, but res_out needs
 * tree_out (2 otherwise); with res_out none only playability is answered. */
int upnp_cp_get_supported_res2(int renderer, int server, const char *object_id, const char *filter,
                               upnp_xml_node **tree_out, upnp_xml_node **res_out, char **didl_out);
/* upnp_cp_get_supported_res2 without filter and DIDL text. */
int upnp_cp_get_supported_res(int renderer, int server, const char *object_id, upnp_xml_node **tree_out,
                              upnp_xml_node **res_out);
/* 0 when the renderer can play one res of the object, else 9 or the failure
 * code. */
int upnp_cp_renderer_can_play_object(int renderer, int server, const char *object_id);
/* Chooses in a DIDL-Lite tree that the caller holds. */
int upnp_cp_get_supported_res3(int renderer, upnp_xml_node *tree, upnp_xml_node **res_out);
/* Parses DIDL-Lite text (plain) and chooses; *tree_out receives the tree
 * (res_out needs tree_out; with res_out none only playability). */
int upnp_cp_get_supported_res4(int renderer, const char *didl_text, upnp_xml_node **tree_out,
                               upnp_xml_node **res_out);

/* 0 when the renderer's list supports "http-get:*:<MIME type of url>:"; 9
 * when not; 2 for anything but an http URL. */
int upnp_cp_renderer_can_play_url(int renderer, const char *url);
/* The device-free core: the same against a given list. */
int upnp_cp_list_can_play_url(const char *renderer_list, const char *url);

#ifdef __cplusplus
}
#endif

#endif
