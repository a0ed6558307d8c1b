#ifndef KESTREL_BASE_UPNP_INI_FILE_H
#define KESTREL_BASE_UPNP_INI_FILE_H

/* The configuration store: numbered properties with a name, a default, a
 * current value and a help text, filled from (in order of precedence) the
 * command line, the ini file and the built-in defaults, and written back to
 * the ini file. One process-wide table behind one lock; while the store is
 * not initialised every getter gives none or 0 and every setter does nothing.
 *
 * Texts handed out as char * are copies the caller frees with upnp_free_impl;
 * const char * results are the stored texts themselves, valid until the
 * property changes or the store is released. */

#ifdef __cplusplus
extern "C" {
#endif

/* Property keys. */
enum upnp_ini_key {
  INI_FRIENDLYNAME = 0,
  INI_IP = 1,
  INI_NICRESTART = 2,
  INI_V = 3,
  INI_PLATFORM = 4,
  INI_HTTPPORT = 5,
  INI_ININAME = 6,
  INI_INIPATH = 7,
  INI_READ_ONLY = 8,
  INI_SSDPTTL = 9,
  INI_APPDATA = 13,
  INI_CLEARCLIENTSONRESTART = 14,
  INI_DISABLELOCALSSDP = 15,
  INI_ENABLETLS = 16,
  INI_NMCMODE = 17,
  INI_VLEVEL = 18,
  INI_STACK_SIZE = 19,
  INI_LANGUAGE = 20,
  INI_DISABLEBYEBYEATSTARTUP = 21,
  INI_PRESENTATION_URL = 33,
  INI_TELNETPORT = 34,
  INI_TELNETIP = 35,
  INI_MIXER = 36,
  INI_MAXVOLUME = 37,
  INI_VERSION = 38,
  INI_ENABLE_REGET = 39,
  INI_NO_PERSIST_CONN = 40,
  INI_MAP_SEEKPCT = 41,
  INI_REVALIDATE_TIME = 43,
  INI_MSEARCH_START_INTERVAL = 44,
  INI_MSEARCH_INTERVAL = 45,
  INI_MSEARCH_QUICK = 46,
  INI_EVENT_POLL_INTERVAL = 47,
  INI_DMR_STATE_POLL_INTERVAL = 48,
  INI_MAX_SUPPORTED_SERVER = 49,
  INI_MAX_SUPPORTED_RENDERER = 50,
  INI_MAX_SUPPORTED_RUIS = 51,
  INI_SUBSCRIPTION_TIMEOUT = 52
};

/* Keys run from 0 to UPNP_INI_MAX_KEY; the table holds at most
 * UPNP_INI_MAX_PROPS records. */
#define UPNP_INI_MAX_KEY 287
#define UPNP_INI_MAX_PROPS 287
#define UPNP_INI_NO_KEY 0xFFFFFFFFu
/* Command-line words that may be registered to be skipped. */
#define UPNP_INI_MAX_IGNORED_PARAMS 20

/* Property groups of clientInit. */
#define UPNP_INI_GROUP_RENDERER 1
#define UPNP_INI_GROUP_CONTROL_POINT 2

/* Results of upnp_ini_file_create_property. */
enum upnp_ini_create_result {
  INI_CREATE_OK = 0,
  INI_CREATE_KEY_EXISTS = 1,
  INI_CREATE_NAME_EXISTS = 2,
  INI_CREATE_NO_MEMORY = 3,
  INI_CREATE_NO_NAME = 5,
  INI_CREATE_NOT_INITIALIZED = 6,
  INI_CREATE_TABLE_FULL = 7
};

/* Reading. */
const char *upnp_ini_file_getString(unsigned int key);
int upnp_ini_file_getInt(unsigned int key);
int upnp_ini_file_getBoolean(unsigned int key);
int upnp_ini_file_isSet(unsigned int key);
int upnp_ini_file_isModified(unsigned int key);
unsigned int upnp_ini_file_getPropertyKey(const char *name);
const char *upnp_ini_file_getPropParamName(unsigned int key);
int upnp_ini_file_isValidKey(unsigned int key);
char *upnp_ini_file_get_next_CSV(unsigned int key, int index);
char *upnp_ini_file_get_all_properties(void);
const char *upnp_ini_file_get_ini_path(void);
const char *upnp_ini_file_get_EXE_Name(void);
const char *upnp_ini_file_get_EXE_Dir(void);
int upnp_ini_file_restartPending(void);
int upnp_ini_file_propertyIsHidden(unsigned int key);
int upnp_ini_file_propertyIsDisabled(unsigned int key);

/* Writing. The set functions return 1 when the stored value changed. */
int upnp_ini_file_setPropertyByKey(unsigned int key, const char *text);
int upnp_ini_file_setProperty(unsigned int key, const char *text, int forced, int overwrite);
int setPropertyByStringkey(const char *name, const char *text, int forced, int overwrite);
void upnp_ini_file_hideProperty(unsigned int key, int flag);
void upnp_ini_file_disableProperty(unsigned int key, int flag);
void upnp_ini_file_reset_restartPending(void);
/* Writes the ini file whole (to a temporary name, then renamed over the
 * old file, so a failed write leaves the old file as it was). Returns 0, or
 * -1 when the file could not be written; 0 as well when read_only is set. */
int upnp_ini_file_write_properties(void);
/* Reads the ini file into the store (not forced, no overwrite). */
void upnp_ini_file_read_properties(void);
/* Deletes the ini file. */
void upnp_ini_file_reset(void);

/* Set-up and release. */
int upnp_ini_file_init(void);
void upnp_ini_file_release(void);
void upnp_ini_file_release_on_exit(void);
void upnp_ini_file_dmr_init(void);
void upnp_ini_file_dmc_init(void);
void upnp_ini_file_client_init(void);
void upnp_ini_file_client_release(void);
int upnp_ini_file_create_property(unsigned int key, const char *name, const char *default_value, const char *help,
                                  int list, int hidden, int disabled, int restart);
/* Parses the words (the first is the program path), prepares the data
 * directory and reads the ini file. Returns 0, or 1 after printing the usage. */
int upnp_ini_file_parse_cmdline(int argc, const char *const *argv);
/* As upnp_ini_file_parse_cmdline, ending the process with status 1 when the
 * parser does not return 0. */
void upnp_ini_file_read_cmdline(int argc, const char *const *argv);
void upnp_ini_file_init_DATA_Dir(void);
void upnp_ini_file_add_default_file(const char *file_name);
/* Returns 1, or 0 when UPNP_INI_MAX_IGNORED_PARAMS are registered already. */
int upnp_ini_file_add_ignored_cmdline_param(const char *word);
void upnp_ini_file_set_default_appname(const char *name);
void upnp_set_EXE_Name(const char *path);
int upnp_ini_file_set_client_port(void);

/* The application's hooks for restricted properties. Texts returned by the
 * hooks are allocated with upnp_malloc_impl and freed by the store. */
typedef int (*upnp_ini_is_restricted_cb)(unsigned int key);
typedef char *(*upnp_ini_get_obfuscated_name_cb)(const char *name);
typedef char *(*upnp_ini_translate_obfuscated_name_cb)(const char *obfuscated_name);
typedef char *(*upnp_ini_decrypt_cb)(const char *text);
typedef char *(*upnp_ini_encrypt_cb)(const char *text);
typedef int (*upnp_ini_is_encrypted_cb)(const char *text);
void upnp_ini_set_obfuscation(upnp_ini_is_restricted_cb is_restricted, upnp_ini_get_obfuscated_name_cb get_obfuscated_name,
                              upnp_ini_translate_obfuscated_name_cb translate_obfuscated_name, upnp_ini_decrypt_cb decrypt,
                              upnp_ini_encrypt_cb encrypt, upnp_ini_is_encrypted_cb is_encrypted);

#ifdef __cplusplus
}
#endif

#endif
