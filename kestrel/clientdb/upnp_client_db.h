#ifndef KESTREL_CLIENTDB_UPNP_CLIENT_DB_H
#define KESTREL_CLIENTDB_UPNP_CLIENT_DB_H

/* The client recognition database.
 *
 * Two halves behind one module lock:
 * - the client-type table, read once by upnp_client_db_init from the
 *   resource "clients.db": up to 199 client-type descriptions (a type number
 *   is the position of its entry in that file, 0-based) plus a table of
 *   special MIME types;
 * - the known-clients list: one record per network client (IP and MAC
 *   address, recognised type, how firmly the type is fixed, access flag,
 *   content view, identity details), persisted in "clients.data" in the
 *   data directory and rewritten after every change.
 *
 * Type 1 is the fallback type of unrecognised clients; type 19 is the type
 * upnp_client_db_have_netgear_rtp_client asks about.
 *
 * Texts handed out as char * are new accounted copies (free with
 * upnp_free_impl); const char * results point into the MIME table, which
 * does not change between upnp_client_db_init and upnp_client_db_exit.
 * Every function may be called before init or after exit: it then works
 * without the lock on empty tables (getters give none, 0 or false). */

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Slots of the client-type table; slots 0 .. UPNP_CLIENT_DB_MAX_TYPES - 2
 * can be filled, the last one stays empty. */
#define UPNP_CLIENT_DB_MAX_TYPES 200
/* Slots of the special MIME table. */
#define UPNP_CLIENT_DB_MIME_SLOTS 100
/* Records written to "clients.data" at most. */
#define UPNP_CLIENT_DB_MAX_SAVED 100
/* Type of unrecognised clients. */
#define UPNP_CLIENT_DB_FALLBACK_TYPE 1
/* Type of the RTP client (upnp_client_db_have_netgear_rtp_client). */
#define UPNP_CLIENT_DB_RTP_CLIENT_TYPE 19

/* Fixation of a client's recognised type. */
enum upnp_client_fixation {
  UPNP_CLIENT_FIX_AUTO = 0,    /* found automatically, re-checked */
  UPNP_CLIENT_FIX_FIXED = 1,   /* fixed ("DB:FIX") */
  UPNP_CLIENT_FIX_BY_MARK = 2  /* fixed while a mark keeps appearing ("DB:FIXPC") */
};

/* ---- Start and stop ---------------------------------------------------- */

/* Creates the lock if needed; deletes "clients.data" when the configuration
 * property clearclientsonrestart is set; clears all tables; reads
 * "clients.db" (MIME table, then the client types); then reads
 * "clients.data". Returns the number of client types loaded. */
int upnp_client_db_init(void);
/* Frees both lists, the descriptions, the MIME table and the view names and
 * deletes the lock. */
void upnp_client_db_exit(void);
/* Free both lists and delete "clients.data". */
void reset_clients(void);
void clear_clients(void);

/* ---- Recognition ------------------------------------------------------- */

/* Type of the client behind a request (called by the HTTP server for every
 * request): `local_url` the server's own base URL, `ip` the peer's dotted
 * address, `header` the request header text. 0 when the request is not to
 * be attributed to a client (missing input, or the host's own requests for
 * its configuration pages, resources or searches). */
uint32_t upnp_client_db_add_by_ip(const char *local_url, const char *ip, const char *header);
/* Examines an SSDP announcement on a detached thread (on a copy). */
void upnp_client_db_add_by_ssdp_alive(const char *announcement);
/* The examination itself, synchronously: location URL and UDN from the
 * announcement, MAC of the host, device description fetched once per UDN
 * and run through the description marks. */
void upnp_client_db_check_client(const char *announcement);
/* Recognition by browse parameters (each may be none). On a match *type is
 * set (left unchanged otherwise) and, when `ip` names a known client of a
 * different type, that record is fixed to the new type. Returns 1 on a
 * match, else 0. */
int upnp_client_db_match_by_browse(const char *browse_flag, const char *object_id, const char *filter,
                                   const char *starting_index, const char *request_count,
                                   const char *sort_criteria, uint32_t *type, const char *ip,
                                   const char *header);
/* Recognition by header marks. Returns 1 when a type was found. Out texts
 * (each may be none) are new copies or none. */
int upnp_client_db_check_header(const char *header, uint32_t *type, int *fixation, char **first_mark,
                                char **second_mark, char **name);
/* Fetches the device description at `url` and runs it through the
 * description marks. Returns 0 when the description could not be fetched,
 * else 1; *type and *fixation are set only on a match. Out texts are new
 * copies or none. */
int upnp_client_db_check_device_description(const char *url, char **friendly_name, char **second_mark,
                                            char **first_mark, char **icon_url, char **icon_mime_type,
                                            uint32_t *type, int *fixation);
/* The same match over a description document already in memory (1 on a
 * match). */
int upnp_client_db_match_description(const char *document, uint32_t *type, int *fixation,
                                     char **first_mark, char **second_mark);

/* ---- Access and administration (changes rewrite "clients.data") -------- */

int upnp_client_db_access_allowed(const char *ip);
void upnp_client_db_set_autoenable(int flag);
int upnp_client_db_get_autoenable(void);
/* Listing of every record whose field equals `text` exactly and whose
 * enabled flag changed (upnp_print_client format); none when none changed. */
char *upnp_client_enable_by_ip(const char *text, int flag);
char *upnp_client_enable_by_mac(const char *text, int flag);
char *upnp_client_enable_by_udn(const char *text, int flag);
char *upnp_client_enable_by_friendlyname(const char *text, int flag);
/* Listing of the added or updated record, or "invalid MAC address". */
char *upnp_client_add(const char *mac, uint32_t type, int enabled, const char *view);
/* "deleted!" or "not found!". */
char *upnp_client_delete(const char *mac);
/* Listing of all records (none when there are none). */
char *upnp_get_connected_client_list(void);
char *upnp_client_get_friendlyname(uint32_t type);
/* "%03d,%s" per filled slot with a display name, joined with ","; or none. */
char *upnp_client_db_get_table(void);
int upnp_client_db_have_netgear_rtp_client(void);
/* Number of client types loaded from "clients.db". */
int upnp_client_db_type_count(void);

/* ---- Views ------------------------------------------------------------- */

void upnp_client_db_set_defaultview(const char *name);
void upnp_client_db_add_view(const char *name);
char *upnp_client_db_get_default_view(uint32_t type);
char *upnp_client_db_dv(uint32_t type);
char *upnp_client_db_get_updated_view(uint32_t type);

/* ---- Description reading ---------------------------------------------- */

/* Keyword value of `key` (three characters, case-sensitive) in the
 * description of `type`, copied into buffer (size bytes, terminated).
 * Returns 1 when a non-empty value is present. */
int upnp_client_db_getKeyword(uint32_t type, const char *key, char *buffer, size_t size);
/* Whether the description of `type` contains `token` as a plain substring. */
int upnp_client_db_supports_option(uint32_t type, const char *token);

/* ---- Valued lookups ---------------------------------------------------- */

/* 10, 15, -1 ("XM:DLNANO") or 0. */
int upnp_client_db_DLNA_version(uint32_t type);
/* Decimal number right after `key`, 0 when absent. */
int upnp_client_db_get_value(uint32_t type, const char *key);
char *upnp_client_db_get_extra_params(uint32_t type, const char *name);
char *upnp_client_db_get_description_file(uint32_t type);
char *upnp_client_db_get_webbrowse(uint32_t type);
char *upnp_client_db_get_supported_transcoding_profiles(uint32_t type);
char *upnp_client_db_get_fake_res_profiles(uint32_t type);
char *upnp_client_db_albumart_scaling(uint32_t type);
int upnp_client_db_supports_moov_at_the_end(uint32_t type);

/* ---- Special MIME types ------------------------------------------------ */

/* Adds a pair (1 added, 0 duplicate, dropped or full). */
int upnp_client_db_add_mime_table(const char *extension, const char *mime_type);
const char *upnp_client_db_get_from_mime_type_table(const char *text);
const char *upnp_client_db_needs_special_mime_type(uint32_t type, const char *extension);
const char *upnp_client_db_special_mime_type_get_extension(const char *mime_type);

/* ---- Quirk flags (option tests on the type's description) -------------- */

int upnp_client_db_is_musicclient(uint32_t type);                    /* "AV:M" */
int upnp_client_db_supports_chunked(uint32_t type);                  /* "HP:chunked" */
int upnp_client_db_allways_close_connection(uint32_t type);          /* "HP:close" */
int upnp_client_db_wmc_compliant(uint32_t type);                     /* "DX:WMC" */
int upnp_client_db_needs_philips_srt_style(uint32_t type);           /* "XM:PHILIPSSRT" */
int upnp_client_db_needs_4_x_style_IDs(uint32_t type);               /* "XM:TV4IDS" */
int upnp_client_db_max_didl_255(uint32_t type);                      /* "XM:DIDL255" */
int upnp_client_db_can_not_work_with_embedded_albumart(uint32_t type); /* "XM:NOEMBEDDEDALBUMART" */
int upnp_client_can_not_register_device(uint32_t type);              /* "XM:CANNOTREGISTERDEVICE" */
int upnp_client_db_suppress_events(uint32_t type);                   /* "ET:NO" */
int upnp_client_db_no_utf8_sort(uint32_t type);                      /* "XM:NOUTF8SORT" */
/* Persistent connections for HTTP/1.0 requests; special header for
 * requests naming "redsonic". */
int upnp_client_db_redsonic_compliant(uint32_t type);                /* "DX:REDSONIC" */
int upnp_client_db_ignore_sort(uint32_t type);                       /* "XM:IGNORESORT" */
int upnp_client_db_needs_absolute_uris(uint32_t type);               /* "DX:ABSOLUTEURI" */
int upnp_client_db_needs_content_length_for_live(uint32_t type);     /* "HP:LIVEWITHLENGTH" */
int upnp_client_db_needs_psp_style_content_length(uint32_t type);    /* "HP:LIVEPSPLENGTH" */
/* HTTP/1.0 requests are answered with an "HTTP/1.0 " status line. */
int upnp_client_db_needs_1_0_response(uint32_t type);                /* "HP:1.0RESPONSE" */
int upnp_client_db_needs_1_0_proxyresponse(uint32_t type);           /* "HP:1.0PROXYRESPONSE" */
int upnp_client_db_noproxyurl(uint32_t type);                        /* "XM:NOPROXYURL" */
int upnp_client_db_give_roku_search(uint32_t type);                  /* "SC:roku" */
int upnp_client_db_no_utf(uint32_t type);                            /* "XM:noutf8" */
int upnp_client_db_force_res(uint32_t type);                         /* "XM:FORCERES" */
int upnp_client_db_force_videobitrate(uint32_t type);                /* "XM:FORCE_VIDEOBITRATE" */
int upnp_client_db_nobitrate(uint32_t type);                         /* "XM:NOBITRATE" */
int upnp_client_db_philips_search(uint32_t type);                    /* "XM:PHILIPSSEARCH" */
int upnp_client_db_force_mp4_profile(uint32_t type);                 /* "DL:MP4DLNA" */
int upnp_client_db_add_time_to_date(uint32_t type);                  /* "XM:DATETIME" */
int upnp_client_db_add_albumart_as_res(uint32_t type);               /* "XM:AARES" */
int upnp_client_supports_featurelist_soap(uint32_t type);            /* "DX:SAMSUNGFEATLIST" */
int upnp_client_db_viera_divxprofile(uint32_t type);                 /* "XM:VIERA_DIVXPROFILE" */
int upnp_client_db_give_no_transcoded_pictures(uint32_t type);       /* "XM:NOTRPICS" */
int upnp_client_db_allow_unlimited_xml(uint32_t type);               /* "XM:UNLIMITED" */
int upnp_client_db_exact_protocolinfo(uint32_t type);                /* "XM:EXACTPROTOCOLINFO" */
int upnp_client_db_restrict_upload_to_known_protocolinfos(uint32_t type); /* "XM:RESTRICTEDUPLOAD" */
/* Time-seek response header without the byte range. */
int upnp_client_db_nobytes_in_timeseek_response(uint32_t type);      /* "XM:NOBYTES_IN_TIMESEEK_RESPONSE" */
int upnp_client_db_is_psp(uint32_t type);                            /* "NA:PSP" */
int upnp_client_db_supports_icy_data(uint32_t type);                 /* "OS:supports_icy" */
int upnp_client_db_needs_duration(uint32_t type);                    /* "XM:FORCE_DURATION" */
/* DLNA profile for non-DLNA MP4 URLs. */
int upnp_client_db_needs_4th_field(uint32_t type);                   /* "XM:FORCE_4TH_FIELD" */
int upnp_client_db_no_artist_role_composer(uint32_t type);           /* "XM:NOARTISTROLECOMPOSER" */
int upnp_client_db_validated_search_criteria(uint32_t type);         /* "XM:VALIDATEDSEARCHCRITERIA" */
int upnp_client_db_validated_sort(uint32_t type);                    /* "XM:VALIDATEDSORT" */
int upnp_client_db_no_keyframe_seek(uint32_t type);                  /* "XM:NO_KEYFRAME_SEEK" */
int upnp_client_db_allow_update(uint32_t type);                      /* "XM:ALLOW_UPDATE" */

#ifdef __cplusplus
}
#endif

#endif
