#ifndef KESTREL_CP_UPNP_CP_AVT_URI_H
#define KESTREL_CP_UPNP_CP_AVT_URI_H

/* Handing an object to a renderer: the proxy base URLs and proxied URLs for
 * renderers that cannot reach a URL themselves, the metadata adaptations for
 * fussy renderers, and the sending of SetAVTransportURI /
 * SetNextAVTransportURI (with the best-choice forms that first choose the
 * `res` a renderer plays best, see upnp_cp_res.h).
 *
 * Metadata texts: DIDL-Lite documents travel as plain XML text (the SOAP
 * layer escapes every argument once when it builds the envelope). Functions
 * that take metadata also accept it in XML-escaped form ("&lt;DIDL-Lite
 * ..."): a text whose first non-blank character is not '<' is unescaped
 * before it is parsed. Metadata handed out is plain text in compliant form.
 *
 * Result codes: 0 success, 2 bad argument, 8 no memory, 9 nothing found or
 * nothing playable, 11 the control point's lock is not available, SOAP
 * failures as their UPnP error numbers. Out-parameters are cleared first;
 * texts handed out are accounted copies freed with upnp_free_impl. */

#include <stdint.h>

#include "base/upnp_xml.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Proxy base URLs ---- */

/* Proxy kinds: the application's base (set through the server side's proxy
 * switch), the automatic one (the chosen proxy server's), and "the
 * application's, else the automatic one" (only for reading). */
#define UPNP_CP_PROXY_APPLICATION 1
#define UPNP_CP_PROXY_AUTOMATIC 2
#define UPNP_CP_PROXY_ANY 3

/* Kind 1 sets the application's base, 2 the automatic one; an empty or
 * missing URL clears it. A URL that is not an http URL is refused with 2, as
 * is any other kind. The bases do not depend on the control point running:
 * they may be set while it is stopped and survive its stop and start. */
int upnp_cp_set_proxy_base(const char *url, int kind);
/* A copy of the base of `kind` (1, 2 or 3) in *base_out: 0, 9 when there is
 * none, 2 for another kind or without base_out, 8 without memory. */
int upnp_cp_get_proxy_base(int kind, char **base_out);

/* ---- Proxied URLs ---- */

/* The embedded proxy URL: the proxy base without its trailing '/', then '/',
 * then the URL to play percent-encoded (every byte but A-Z a-z 0-9 '-' '_'
 * '~' becomes %XX with upper-case digits, so the encoded part holds no '.'
 * and no '/'), then, when an extension is given, '.' and the extension:
 *
 *   base "http://10.0.0.2:9000/proxy", URL "http://example.com/a.mp3",
 *   extension "mp3" ->
 *   "http://10.0.0.2:9000/proxy/http%3A%2F%2Fexample%2Ecom%2Fa%2Emp3.mp3"
 *
 * A proxy decodes it by taking the last path segment, splitting it at its
 * only '.' (if any) and percent-decoding the part before it. The extension
 * must consist of letters and digits only (at most 15); another one is left
 * out. A new accounted text, or none without memory, without base or with
 * a missing or empty URL. */
char *upnp_util_create_embedded_url(const char *base, const char *url, const char *extension);
/* The inverse for a proxy: `embedded` must start with `base` (trailing '/'
 * of the base ignored) followed by '/'. *url_out receives the decoded URL,
 * *extension_out (when given) the extension or none. 0, 2 when the text is
 * not of that form (or decodes to a text with a zero byte), 8 without
 * memory. */
int upnp_util_parse_embedded_url(const char *base, const char *embedded, char **url_out, char **extension_out);

/* The extension that identifies URLs of the known media sites whose URLs
 * carry no file extension ("mp4" for the video site, "jpg" for the photo
 * sites), or none. The host patterns are configuration data (see
 * upnp_cp_proxy_sites.cpp). */
const char *upnp_cp_proxy_site_extension(const char *url);

/* The extension of the file name in an http URL's path (query and fragment
 * ignored), copied into buffer; 0, 9 when there is none or it is not made of
 * letters and digits, 10 when it does not fit. */
int upnp_cp_url_file_extension(const char *url, char *buffer, unsigned int size);

/* The URL as a renderer reaches it through the proxy at `base`: a
 * home-network URL stays; any other gets the embedded form with the
 * extension chosen from, in this order, the URL file name's own extension
 * (when its MIME type is known and neither "application/octet-stream" nor a
 * "text/" type), the given MIME type (none allowed), the protocolInfo of the
 * `res` of `metadata` (a DIDL-Lite tree, none allowed) whose URL is `url`
 * (else its first `res` with a protocolInfo), the known media sites. *out
 * receives a new text (the URL itself when it stays): 0, 2 without base, URL
 * or out, 8 without memory. */
int getProxiedUrl(const char *base, const char *url, const char *mime_type, const upnp_xml_node *metadata,
                  char **out);

/* ---- Metadata adaptations ---- */

/* The DLNA JPEG profile for a picture size: "JPEG_TN" up to 160x160,
 * "JPEG_SM" up to 640x480, "JPEG_MED" up to 1024x768, "JPEG_LRG" above;
 * none when a side is 0 (unknown). */
const char *upnp_cp_jpeg_profile(unsigned int width, unsigned int height);

/* The flags value that the flag adaptation adds. */
#define UPNP_CP_DEFAULT_DLNA_FLAGS "01700000000000000000000000000000"
/* The duration given to playable resources that have none. */
#define UPNP_CP_DEFAULT_DURATION "99:59:59"

/* The protocolInfo adaptation of a `res` node for renderers that insist on
 * DLNA parameters (see upnp_cp_metadata_fix.cpp). 1 when the node changed,
 * 0 when not, -1 without memory (the node is then unchanged). */
int fixUpResElem(upnp_xml_node *res);
/* Gives a non-image `res` without a "duration" attribute the duration
 * "99:59:59". 1 when added, 0 when not needed, -1 without memory. */
int fixDuration(upnp_xml_node *res);

/* Whether a renderer model needs the adaptations above (modelName starting
 * with "Samsung DTV"). */
int upnp_cp_model_needs_dlna_fixes(const char *model_name);

/* The reduced-filter renderers: manufacturer "Roku", or beginning with
 * "Sonos" or "Samsung". */
int upnp_cp_manufacturer_is_reduced_filter(const char *manufacturer);
/* The same for the renderer at `index` (its manufacturer attribute). */
int upnp_cp_is_reduced_filter_renderer(int index);
/* The fields such renderers get (also their Browse filter). */
extern const char upnp_cp_reduced_filter[];

/* Reduces the first item (or else container) element of a DIDL-Lite tree
 * (the DIDL-Lite root or the element itself): `res` children are kept only
 * when their URL has the same path and query as `url`; other children only
 * when named in upnp_cp_reduced_filter. Returns the number of children
 * dropped, or -1 when the tree holds no item or container. */
int upnp_cp_reduce_metadata(upnp_xml_node *didl, const char *url);

/* Plain DIDL-Lite text from metadata that may be XML-escaped (see the top of
 * this header): 0 with *out a new text, 2 without metadata, 8 without
 * memory. */
int upnp_cp_metadata_plain(const char *metadata, char **out);

/* The device-free core of upnp_cp_proxy_metadata: the model's adaptations
 * (with `adapt`) and, with a proxy base, the proxying of `url` and (when all
 * of them are outside the home network) of every `res` URL of `metadata`.
 * *url_out receives the URL to play when it changed, *metadata_out the
 * compliant plain text when the metadata changed (each none otherwise: use
 * what was given). 0, 2 without URL, 8 without memory (outputs none). */
int upnp_cp_adapt_metadata(const char *model_name, const char *proxy_base, const char *url, const char *metadata,
                           int adapt, char **url_out, char **metadata_out);
/* The same for the renderer at `index` (its modelName) with the proxy base
 * of `proxy_kind` (0: no proxying). */
int upnp_cp_proxy_metadata(int index, const char *url, const char *metadata, int proxy_kind, int adapt,
                           char **url_out, char **metadata_out);

/* ---- Sending ---- */

/* Adapts (automatic proxy base, adaptations on), reduces or re-writes the
 * metadata in compliant form, and sends SetNextAVTransportURI (next) or
 * Stop, a 50 ms pause and SetAVTransportURI. The local renderer
 * (UPNP_CP_LOCAL_RENDERER_INDEX) does not exist in this build: 9. */
int putAVTransportURI(int index, int next, const char *url, const char *metadata);
int upnp_cp_put_AVTransportURI(int index, const char *url, const char *metadata);
/* The same, then Play. */
int upnp_cp_play_AVTransportURI(int index, const char *url, const char *metadata);

/* ---- Best-choice forms ---- */

/* Browses the object (filter upnp_cp_reduced_filter for reduced-filter
 * renderers, "*" otherwise), chooses its best `res` for the renderer and
 * sends its URL with the object's metadata. *tree_out (when given) receives
 * the browsed tree, *res_out (when given) the chosen res inside it. Nothing
 * playable: 9 and nothing is sent. */
int upnp_cp_put_best_AVTransportURI(int index, int server, const char *object_id, upnp_xml_node **tree_out,
                                    upnp_xml_node **res_out);
int upnp_cp_put_best_NextAVTransportURI(int index, int server, const char *object_id, upnp_xml_node **tree_out,
                                        upnp_xml_node **res_out);
/* next 0: the current track, else the next one. */
int upnp_cp_set_best_AVTransportURI(int index, int next, int server, const char *object_id,
                                    upnp_xml_node **tree_out, upnp_xml_node **res_out);
/* The same from DIDL-Lite text the caller holds. */
int upnp_cp_put_best_AVTransportURI2(int index, int next, const char *didl, upnp_xml_node **tree_out,
                                     upnp_xml_node **res_out);
/* upnp_cp_put_best_AVTransportURI2 for the current track, then Play. */
int upnp_cp_play_best_AVTransportURI3(int index, const char *didl, upnp_xml_node **tree_out,
                                      upnp_xml_node **res_out);

#ifdef __cplusplus
}
#endif

#endif
