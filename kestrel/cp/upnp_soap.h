#ifndef KESTREL_CP_UPNP_SOAP_H
#define KESTREL_CP_UPNP_SOAP_H

/* UPnP actions: the control point's result codes and their texts, the one
 * central invocation (device and service resolution, refusals, SOAPACTION,
 * retry after a fast failure, UPnP error extraction, invalidation of a device
 * that does not answer) and one thin function per action of AVTransport,
 * RenderingControl, ConnectionManager, ContentDirectory and RemoteUIServer.
 *
 * Every function returns a result code: 0, a control-point code (1 to 24,
 * 200) or the device's UPnP error code (400 to 801). Out-parameters are
 * cleared first; texts handed out are accounted copies that the caller frees
 * with upnp_free_impl, trees are released with upnp_xml_release; an
 * out-pointer that is not given is skipped.
 *
 * Argument texts are plain text: every in-argument is XML-escaped when the
 * envelope is built, so titles, URIs and DIDL-Lite metadata are passed as
 * they are (not pre-escaped). */

#include <stdint.h>

#include "base/upnp_string.h"
#include "base/upnp_xml.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Result codes ---- */
#define UPNP_E_SUCCESS 0
#define UPNP_E_INVALID_INDEX 1
#define UPNP_E_INVALID_PARAM 2
#define UPNP_E_DEVICE_GONE 3
#define UPNP_E_DEVICE_NOT_ACTIVE 4
#define UPNP_E_INVALID_DEVICE 5
#define UPNP_E_NO_RESPONSE 6
#define UPNP_E_BAD_RESPONSE 7
#define UPNP_E_OUT_OF_MEMORY 8
#define UPNP_E_NOT_FOUND 9
#define UPNP_E_BUFFER_TOO_SMALL 10
#define UPNP_E_GOING_DOWN 11
#define UPNP_E_DUPLICATE 12
#define UPNP_E_NOT_IMPLEMENTED 13
#define UPNP_E_FAILED 14
#define UPNP_E_ABORTED 20
#define UPNP_E_BROKEN_ACTION 21
#define UPNP_E_OUT_OF_RESOURCES 22
#define UPNP_E_CONNECTION_LOST 23
#define UPNP_E_UPLOAD_UNKNOWN 24
#define UPNP_E_OK 200

/* Service identifiers (bits). */
#define UPNP_SERVICE_CM 1u
#define UPNP_SERVICE_RCS 2u
#define UPNP_SERVICE_AVT 4u
#define UPNP_SERVICE_CDS 8u
#define UPNP_SERVICE_RUIS 16u

/* Broken-action bits: actions that a device's quirk may forbid. */
#define UPNP_BROKEN_GET_POSITION_INFO 1u
#define UPNP_BROKEN_GET_MEDIA_INFO 2u

/* Device kinds. */
#define UPNP_KIND_SERVER 1
#define UPNP_KIND_RENDERER 2
#define UPNP_KIND_RUIS 3

/* One (code, text) pair of a result-code table; a table ends with a negative
 * code or a missing text. */
typedef struct upnp_errmsg {
  int code;
  const char *text;
} upnp_errmsg;

/* The text of a code: the installed table first, then the stack's own; a
 * code in neither reads "Bad request". */
const char *upnp_get_errmsg(int code);
/* Installs the table searched first (none: only the stack's table). The
 * table must live as long as it is installed. */
void upnp_set_errmsgs(const upnp_errmsg *table);
/* The control point's table (installed at start of the control point). */
const upnp_errmsg *upnp_cp_errmsgs(void);
/* HTTP status for a result code: codes above 99 unchanged; 0 gives 200 with
 * ok_is_200, else 0; 1, 2 and 10 give 402; 8 gives 500; 13 gives 602;
 * anything else 501. */
int upnp_client_get_http_error(int code, int ok_is_200);

/* ---- Names ---- */
#define UPNP_SEEK_TRACK_NR 0u
#define UPNP_SEEK_ABS_COUNT 1u
#define UPNP_SEEK_ABS_TIME 2u
#define UPNP_SEEK_REL_COUNT 3u
#define UPNP_SEEK_REL_TIME 4u
#define UPNP_SEEK_X_DLNA_REL_BYTE 10u
/* Seek unit text ("NOT_IMPLEMENTED" above 10) and index (ignoring case;
 * 65535 when unknown). */
const char *upnp_seek_unit_text(unsigned unit);
unsigned upnp_seek_unit_index(const char *text);
/* Play mode text (none above 6). */
const char *upnp_play_mode_text(unsigned mode);
/* Transport state index 0..6 of a text (ignoring case), -1 otherwise; and
 * the text of an index (none when outside). */
int upnp_transport_state_index(const char *text);
const char *upnp_transport_state_text(int state);

/* ---- Envelopes ---- */
/* A new buffer holding the XML declaration and the opening elements up to
 * s:Body, with at least `capacity` bytes; none when memory ran out. */
upnp_string *getSoapPrefix(uint32_t capacity);
/* Appends the closing "</s:Body></s:Envelope>" (none when memory ran out). */
upnp_string *getSoapSuffix(upnp_string *buffer);
/* A whole envelope around one body formatted from `format` with one text
 * argument (inserted as it is). */
upnp_string *getSoapRequest(const char *format, const char *argument);

/* ---- Invocation ---- */
/* Sends `envelope` as `action` of `service` to the device at `index` of
 * `kind`. On 0 or a UPnP error code, *reply_out (when given) receives the
 * reply body. */
int invokeSoapAction(int index, int kind, unsigned service, unsigned broken_bit, const char *action,
                     const char *envelope, upnp_string **reply_out);
/* The same with the envelope in a buffer, which it always frees; a missing
 * or empty buffer gives 8. */
int invokeSoapAction2(int index, int kind, unsigned service, unsigned broken_bit, const char *action,
                      upnp_string *envelope, upnp_string **reply_out);

/* ---- AVTransport (renderers) ---- */
int upnp_play(int index);
int upnp_pause(int index);
int upnp_stop(int index);
int upnp_next(int index);
int upnp_previous(int index);
/* unit above 10 or an empty target: 2. */
int upnp_control_seek(int index, unsigned unit, const char *target);
int upnp_control_seek_byte(int index, uint64_t bytes);
int upnp_control_seek_count(int index, int absolute, uint32_t count);
/* Target "%02d:%02d:%02d" (milliseconds dropped, hours not limited). */
int upnp_control_seek_time(int index, int absolute, uint64_t ms);
/* mode above 6: 2. */
int upnp_set_PlayMode(int index, unsigned mode);
/* metadata: plain DIDL-Lite text, or none. */
int upnp_set_AVTransportURI(int index, const char *uri, const char *metadata);
int upnp_set_NextAVTransportURI(int index, const char *uri, const char *metadata);
int upnp_set_CurrentTrackURI(int index, const char *uri);
int upnp_get_PositionInfo(int index, int *track, char **track_duration, char **track_metadata, char **track_uri,
                          char **rel_time, char **abs_time, int *rel_count, int *abs_count);
int upnp_get_TransportInfo(int index, char **state, char **status, char **speed);
int upnp_get_MediaInfo(int index, int *nr_tracks, char **media_duration, char **current_uri,
                       char **current_metadata, char **next_uri, char **next_metadata, char **play_medium,
                       char **record_medium, char **write_status);
int upnp_get_current_transport_actions(int index, char **actions);
int upnp_control_getDlnaBytePositionInfo(int index, uint64_t *rel, uint64_t *abs, uint64_t *size);
int upnp_getduration(int index, char **out);
int upnp_getposition(int index, char **out);
int upnp_get_CurrentTrackURI(int index, char **out);
int upnp_get_AVTransportURI(int index, char **out);
int upnp_gettransportinfo(int index, char **state);
/* Transport state index, -1 when unknown or on failure. */
int upnp_gettransportstate(int index);
/* The allowed values of A_ARG_TYPE_SeekMode joined with ','; an empty text
 * when the renderer lists none. */
int upnp_control_getSupportedSeekModes(int index, uint32_t size, char *buffer);
/* DIDL-Lite document (plain text) for SetAVTransportURI from an item tree;
 * none when the written item holds no element. Free with upnp_free_impl. */
char *upnp_control_create_AVTransportURIMetaData(const upnp_xml_node *item);

/* ---- RenderingControl (renderers) ---- */
int upnp_set_Volume(int index, unsigned volume);
int upnp_set_VolumeDB(int index, int volume);
int upnp_set_Mute(int index, int on);
int upnp_cp_getVolume(int index, unsigned *volume);
int upnp_getvolumedb(int index, int *volume);
int upnp_getvolumedb_range(int index, int *min, int *max);
int upnp_cp_getMute(int index, int *on);
int upnp_cp_getLoudness(int index, int *on);
int upnp_cp_setLoudness(int index, int on);
int upnp_cp_getContrast(int index, unsigned *value);
int upnp_cp_setContrast(int index, unsigned value);
int upnp_cp_getBrightness(int index, unsigned *value);
int upnp_cp_setBrightness(int index, unsigned value);
/* The value, or -1 on failure (mute: 1 or 0). */
int upnp_getvolume(int index);
int upnp_getmute(int index);
/* "maximum" of the allowed range of a RenderingControl state variable; 100
 * when the variable or range is missing; 500 without a SCPD. */
int upnp_control_getRCSMaximumValue(int index, const char *variable, unsigned *out);
int upnp_control_getMaximumVolume(int index, unsigned *out);

/* ---- ConnectionManager (servers and renderers) ---- */
/* Source of a server, Sink of a renderer. */
int upnp_get_NonCachedProtocolInfo(int index, int kind, char **out);

/* ---- ContentDirectory (servers) ---- */
/* The whole reply as a tree (Result holds the DIDL-Lite text, unescaped). */
int upnp_control_browse(int index, const char *id, const char *filter, uint32_t start, uint32_t count,
                        const char *sort, upnp_xml_node **tree);
int upnp_control_browse_metadata(int index, const char *id, const char *filter, const char *sort,
                                 upnp_xml_node **tree);
int upnp_control_search(int index, const char *container, const char *filter, uint32_t start, uint32_t count,
                        const char *sort, const char *criteria, upnp_xml_node **tree);
/* Tag values are plain XML fragments ("<dc:title>x</dc:title>"). */
int upnp_control_update_object(int index, const char *id, const char *current, const char *replacement);
int upnp_control_destroy_object(int index, const char *id);
int upnp_control_create_reference(int index, const char *container, const char *id, char **new_id);
int upnp_cp_get_SearchCapabilities(int index, char **out);
int upnp_cp_get_SortCapabilities(int index, char **out);
int upnp_cp_get_SystemUpdateID(int index, unsigned *out);
/* Renames through UpdateObject from the object's current dc:title. */
int upnp_control_rename_object(int index, const char *id, const char *title);
/* The property of an object's metadata: its whole element (whole set) or its
 * content, as the server's (escaped) text. */
int upnp_cp_get_object_property(int index, const char *id, const char *property, int whole, char **out);

/* CreateObject: one DIDL-Lite item (title, class, one res) in container.
 * didl_attributes, item_attributes and res_attributes are extra attribute
 * text (" a=\"b\"", written as given), extra_item_elements extra elements
 * (XML, written as given); title, upnp_class, protocol_info and res_text are
 * plain text. On success *object_id receives the new object's ID and
 * *result_tree the parsed DIDL-Lite Result. */
int upnp_control_create_object(int index, const char *container, const char *didl_attributes, const char *title,
                               const char *upnp_class, const char *protocol_info, const char *extra_item_elements,
                               const char *item_attributes, const char *res_attributes, const char *res_text,
                               int resume_upload, upnp_xml_node **result_tree, char **object_id);
int upnp_control_create_item(int index, const char *container, const char *title, const char *upnp_class,
                             const char *protocol_info, const char *res_text, int resume_upload,
                             upnp_xml_node **result_tree, char **object_id);
/* A playlist object (class object.container.playlistContainer). */
int upnp_cp_create_playlist(int index, const char *title, const char *container, upnp_xml_node **result_tree,
                            char **object_id);
/* upnp:originalTrackNumber of an object (0 when below 1 or missing). */
int upnp_cp_get_playlist_item_position(int index, const char *id, unsigned *position);
/* Changes upnp:originalTrackNumber from old_position (0: none) to
 * new_position; nothing is sent when they are equal. */
int updatePosition(int index, const char *id, unsigned old_position, unsigned new_position);

/* ---- RemoteUIServer ---- */
int upnp_get_compatible_uis(int index, const char *profile, const char *filter, char **out);

/* ---- Reading replies (also for callers that hold a reply body) ---- */
/* The UPnP error code of a reply body: an unprefixed errorCode element's
 * number; a prefixed one counts only when it is 801; 0 otherwise. */
unsigned upnp_soap_error_code(const char *reply);

#ifdef __cplusplus
}
#endif

#endif
