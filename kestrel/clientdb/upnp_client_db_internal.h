#ifndef KESTREL_CLIENTDB_UPNP_CLIENT_DB_INTERNAL_H
#define KESTREL_CLIENTDB_UPNP_CLIENT_DB_INTERNAL_H

/* Internal: module state of the client database shared by its files. */

#include <stddef.h>
#include <stdint.h>

#include <string>

#include "base/upnp_critsec.h"
#include "clientdb/upnp_client_db.h"

/* One known network client. Every text is owned by the record. */
struct upnp_known_client {
  uint32_t type;
  char *ip;
  char *first_mark;
  char *second_mark;
  char *friendly_name;
  char *mac;
  char *icon_url;
  char *icon_mime_type;
  char *udn;
  int enabled;
  int active; /* seen in this run; not persisted */
  int fixation;
  char *view;
  upnp_known_client *next;
};

/* A device UDN already examined through SSDP. */
struct upnp_discovered_udn {
  char *udn;
  upnp_discovered_udn *next;
};

/* Values of a client type's recognition keys, taken once when "clients.db"
 * is read (the descriptions do not change while the database runs). */
struct upnp_client_type_keys {
  std::string hh;       /* "HH:" value */
  std::string hh_lower; /* the same in lower case, for matching ignoring case */
  std::string h2;       /* "H2:" value */
  std::string name;     /* "NA:" value */
  std::string dd, d2, d3;
  std::string hb_lower; /* "HB:" value in lower case */
  std::string mb;       /* "MB:" value */
  int fixation = 0;     /* 2 "DB:FIXPC", 1 "DB:FIX", else 0 */
};

extern char *g_clientDescription[UPNP_CLIENT_DB_MAX_TYPES];
extern upnp_client_type_keys g_clientKeys[UPNP_CLIENT_DB_MAX_TYPES];
extern int g_clientTypeCount;
extern char *g_strMimeTable[UPNP_CLIENT_DB_MIME_SLOTS];
extern char *g_strExtTable[UPNP_CLIENT_DB_MIME_SLOTS];
extern upnp_known_client *g_pClients;
extern upnp_discovered_udn *g_pDiscoveredUDNs;
extern int32_t g_bClientAutoenable;
extern char g_strTreeDefaultView[128];
extern char *g_allViewNames;

/* The module lock; both calls do nothing while the lock does not exist. */
void cdb_lock(void);
void cdb_unlock(void);

/* ---- text helpers (upnp_client_db_text.cpp) ---- */
/* The description of a type: "" for an empty slot, none above 199. */
const char *cdb_description(uint32_t type);
/* First occurrence of needle in haystack ignoring ASCII case, or none. */
const char *cdb_find_nocase(const char *haystack, const char *needle);
/* Same, with the needle already in lower case and the haystack given as a
 * lower-case copy (the fast path of recognition). */
std::string cdb_lower(const char *text);
/* Keyword value of key in desc (see upnp_client_db_getKeyword). */
int cdb_keyword(const char *desc, const char *key, char *buffer, size_t size);
/* Keyword value as a std::string (empty when absent), read in full. */
std::string cdb_keyword_string(const char *desc, const char *key);
/* New accounted copy of text, none for none or when out of memory. */
char *cdb_dup(const char *text);
/* Replaces *field with a copy of text (none for none or an empty text). */
void cdb_set_text(char **field, const char *text);

/* ---- "clients.db" (upnp_client_db_file.cpp) ---- */
/* Reads both passes from a terminated text of `length` bytes. Returns the
 * number of client types loaded. */
int cdb_load_types(const char *text, size_t length);
/* Frees the descriptions, their keys and the MIME table. */
void cdb_free_types(void);

/* ---- known clients (upnp_client_db_clients.cpp) ---- */
upnp_known_client *cdb_client_new(void);
void cdb_client_free(upnp_known_client *client);
void cdb_clients_free_all(void);
void cdb_udns_free_all(void);
/* Unlinks client from the list and puts it at the head (under the lock). */
void cdb_move_to_head(upnp_known_client *client);
/* Sets the record's type-derived fields from a recognition result. */
void cdb_client_set_type(upnp_known_client *client, uint32_t type, int fixation, const char *first_mark,
                         const char *second_mark, const char *name);
/* Appends the upnp_print_client block of a record to out. */
void upnp_print_client(std::string &out, const upnp_known_client *client);

/* ---- recognition (upnp_client_db_recognize.cpp) ---- */
/* Looks up the MAC address of a neighbour (GetMACaddress by default). */
typedef int (*cdb_mac_lookup_function)(const char *ip, char *mac);
extern cdb_mac_lookup_function g_cdb_mac_lookup;
/* Fetches a document by URL (HTTP_get by default); the result is freed with
 * upnp_free_impl. */
typedef char *(*cdb_fetch_function)(const char *url);
extern cdb_fetch_function g_cdb_fetch;

/* ---- "clients.data" (upnp_client_db_data.cpp) ---- */
/* Path of "clients.data" in the data directory. */
std::string cdb_data_path(void);
/* The file content for the current list (auto-enable and 100-record rules). */
std::string cdb_serialize_clients(void);
/* Parses file content into records appended to the list in file order. Returns
 * the number of complete records read. */
int cdb_parse_clients(const char *data, size_t length);
void client_table_write(void);
void client_table_read(void);

#endif
