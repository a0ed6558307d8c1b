#ifndef KESTREL_NMC_LM_DMSCP_INTERNAL_H
#define KESTREL_NMC_LM_DMSCP_INTERNAL_H

/* The server side of the controller: a server context's level stack, its
 * page caches and what the server browsing modules share. Not exported.
 *
 * A context's server state lives in its context record and is only touched
 * while the context is held (nmc_context_find), so every operation on one
 * context runs alone, network requests included. */

#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

#include "base/upnp_string.h"
#include "base/upnp_xml.h"
#include "nmc/lm_nmc.h"

struct nmc_context;
struct nmc_dms_ahead;

struct nmc_xml_release_tree {
  void operator()(upnp_xml_node *node) const { upnp_xml_release(node); }
};
using nmc_xml_tree = std::unique_ptr<upnp_xml_node, nmc_xml_release_tree>;

/* Level types. */
#define NMC_LEVEL_CONTAINER 0
#define NMC_LEVEL_SERVERS 1
#define NMC_LEVEL_SEARCH 2
#define NMC_LEVEL_BOOKMARK 3

/* The bottom level's cursor while it stands on the server under removal. */
#define NMC_DMS_REMOVED_POSITION 0x7FFFFFFEu
/* Page sizes: the default and the largest a context may ask for. */
#define NMC_DMS_DEFAULT_PAGE 50u
#define NMC_DMS_MAX_PAGE 500u
/* A bookmark rebuilds at most this many levels above the server list; a
 * longer one falls back to one level for the object's parent. */
#define NMC_DMS_MAX_BOOKMARK_LEVELS 64u

struct nmc_dms_level {
  uint32_t index = 0;
  int type = NMC_LEVEL_CONTAINER;
  uint32_t count = 0;
  bool count_known = false;
  std::string title;
  std::string object_id;
  std::string criteria;
  std::string sort;
  uint64_t update_id = 0;
  // The last page: the parsed DIDL-Lite document and its object nodes.
  nmc_xml_tree page_tree;
  std::vector<upnp_xml_node *> page;
  uint32_t page_first = 0;
  // The next pages of a walk while another thread reads them (see
  // lm_dmscp_ahead.h; at most two); dropped with the page, kept when the
  // cursor moves on to one of them.
  std::vector<std::shared_ptr<nmc_dms_ahead>> aheads;
  // The object under the cursor, cached for current_index: a node of the
  // page or of current_owned.
  upnp_xml_node *current = nullptr;
  nmc_xml_tree current_owned;
  uint32_t current_index = 0;

  void drop_page();
  void drop_current();
};

struct nmc_dms_state {
  // Device index of the server the context stands on, -1 for none.
  int server = -1;
  std::string server_udn;
  // The server-list position saved while the server is being removed.
  uint32_t removal_position = 0;
  // The update identifier of the server as the context last took it.
  uint64_t update_id = 0;
  uint32_t page_size = NMC_DMS_DEFAULT_PAGE;
  std::string sort;
  std::vector<std::unique_ptr<nmc_dms_level>> levels;

  nmc_dms_level &top() { return *levels.back(); }
  // Cuts the stack down to the server list.
  void cut_to_servers();
};

/* ---- Contexts (lm_dmscp_context.cpp). ---- */
/* The global page size (50 until "SetDMSItemCache ... global"). */
uint32_t nmc_dms_global_page_size(void);
/* Sets it; every context whose size equalled the old one takes the new. */
void nmc_dms_set_global_page_size(uint32_t size);
/* The server state of a held context, created with its bottom level on
 * first use; none when memory ran out. */
nmc_dms_state *nmc_dms_state_of(nmc_context *context);
/* Runs op on the held server context: 11 when the controller cannot run, 1
 * for no such server context, 8 when memory ran out; no exception leaves. */
template <typename Op>
lm_nmc_result_t nmc_dms_with_context(uint32_t id, Op op);
/* The same plumbing for code that is not a template. */
lm_nmc_result_t nmc_dms_run(uint32_t id, lm_nmc_result_t (*op)(nmc_dms_state &, void *), void *argument);
/* 500 with the log line when the context has lost its levels. */
lm_nmc_result_t nmc_dms_check_levels(uint32_t id, nmc_dms_state &state);

/* ---- Servers (lm_dmscp_servers.cpp). ---- */
struct nmc_dms_server {
  int index = -1;
  std::string udn;
  int kind = 0;
  // "<server><name>..</name>...</server>"
  std::string info;
  uint64_t update_id = 0;
};
/* The server's entry with its information built (once per server); false
 * when the server is not known or its information cannot be had. */
bool nmc_dms_server_get(int index, nmc_dms_server *out);
/* The update identifier last reported for a server. */
void nmc_dms_server_set_update_id(const std::string &udn, uint64_t update_id);
/* Forgets a server's built information (its removal). */
void nmc_dms_server_forget(const std::string &udn);
/* The name of a known kind ("unknown" for 0 and out of range). */
const char *nmc_dms_kind_name(int kind);
/* The kind of a server from its information values and the header of its
 * baseURL (empty when none was fetched). */
int nmc_dms_detect_kind(const std::string &manufacturer, const std::string &model_number,
                        const std::string &base_url_header);
/* The value of an element of the server information text, "" when absent. */
std::string nmc_dms_info_value(const std::string &info, const char *name);

/* ---- Requests and pages (lm_dmscp_page.cpp). ---- */
struct nmc_dms_reply {
  uint32_t code = 0;
  uint32_t total = 0;
  uint32_t returned = 0;
  // The server claimed no total: total counts the objects up to this page.
  bool total_guessed = false;
  nmc_xml_tree didl;
  std::vector<upnp_xml_node *> objects;
};
/* How many "BrowseSimple" and "SearchSimple" commands contexts have sent. */
uint64_t nmc_dms_requests(void);
/* One "BrowseSimple" command; browse_flag "BrowseDirectChildren" or
 * "BrowseMetadata". */
lm_nmc_result_t nmc_dms_browse(int server, const std::string &object_id, const char *browse_flag,
                               const char *filter, const std::string &sort, uint32_t start, uint32_t count,
                               nmc_dms_reply *reply);
/* The object under the cursor of the top level (a node the level owns). */
lm_nmc_result_t nmc_dms_current(nmc_dms_state &state, upnp_xml_node **object, bool refresh = false);
/* The number of entries of the top level. */
lm_nmc_result_t nmc_dms_count(nmc_dms_state &state, uint32_t *count);
/* Moves the cursor of the current level to `index` (9 past its count). */
lm_nmc_result_t nmc_dms_go_index(nmc_dms_state &state, uint32_t index);
/* The page command of a browse or search level from entry `start` (the
 * context's page size). */
std::string nmc_dms_page_command(const nmc_dms_state &state, const nmc_dms_level &level, uint32_t start);
/* Runs one page command and reads its answer by the page rules; start is
 * the index of the first wanted entry. */
lm_nmc_result_t nmc_dms_request(const std::string &command, uint32_t start, nmc_dms_reply *reply);
/* Its two halves: the command sent (false when it got no answer, which
 * nmc_dms_request answers 6), and the answer read (decoded in place). */
bool nmc_dms_send(const std::string &command, std::string *text);
lm_nmc_result_t nmc_dms_read_answer(std::string &text, uint32_t start, nmc_dms_reply *reply);
/* Entry i of a browse or search level through its page cache. */
lm_nmc_result_t nmc_dms_page_entry(nmc_dms_state &state, nmc_dms_level &level, uint32_t i, upnp_xml_node **object);
/* A container's size as the server tells it. */
lm_nmc_result_t nmc_dms_container_size(int server, const std::string &object_id, uint32_t *count);

/* ---- Navigation (lm_dmscp_navigate.cpp). ---- */
/* Going home; clear_server also clears the context's server. */
void nmc_dms_go_home(nmc_dms_state &state, bool clear_server);
lm_nmc_result_t nmc_dms_go_directory(nmc_dms_state &state);
lm_nmc_result_t nmc_dms_go_parent(nmc_dms_state &state);
/* A new level on top of the stack. */
nmc_dms_level &nmc_dms_push(nmc_dms_state &state, int type, const std::string &title, const std::string &object_id);

/* ---- Bookmarks (lm_dmscp_bookmark_text.cpp, lm_dmscp_bookmark.cpp). ---- */
/* A part with "\" and "," escaped by a backslash. */
std::string nmc_bookmark_escape(const std::string &part);
/* Splits at unescaped commas and unescapes each part ("\," and "\\"; a
 * backslash before anything else stays as it is). */
std::vector<std::string> nmc_bookmark_split(const std::string &text);
/* The bookmark of the object under the cursor; with_id false puts "-" in
 * place of the object's own identifier (not at the server list). */
lm_nmc_result_t nmc_dms_bookmark(nmc_dms_state &state, bool with_id, std::string *bookmark);
lm_nmc_result_t nmc_dms_go_bookmark(nmc_dms_state &state, const char *bookmark);
/* Puts the context at an object of a server: object_part an identifier or
 * "-", rest the level parts after it (may be empty); go_into enters the
 * object when it is a container. */
lm_nmc_result_t nmc_dms_go_object(nmc_dms_state &state, int server, const std::string &object_part,
                                  const std::vector<std::string> &rest, bool go_into);
/* Stands the context on a server at the server list. */
void nmc_dms_stand_on_server(nmc_dms_state &state, int server);

/* ---- Search and sort (lm_dmscp_criteria.cpp). ---- */
/* Search criteria from a simple query (or the query itself). */
std::string nmc_dms_search_criteria(const std::string &query);
/* Sort criteria from a simple sort text (or the text itself). */
std::string nmc_dms_sort_criteria(const std::string &text);

/* ---- Well-known bookmarks (lm_dmscp_wellknown.cpp). ---- */
/* The object identifier of a well-known bookmark for a server kind; false
 * when the kind's tables have no row for it. root_walk is set when the
 * row came from the root table. */
bool nmc_dms_translate_wellknown(int kind, const std::string &bookmark, std::string *object_id, bool *root_walk);
/* The keys a kind lists as its well-known bookmarks. */
std::vector<std::string> nmc_dms_wellknown_keys(int kind);
lm_nmc_result_t nmc_dms_go_wellknown(nmc_dms_state &state, const std::string &bookmark);

/* ---- Metadata (lm_dmscp_extract.cpp). ---- */
struct nmc_dms_key {
  std::string name;
  std::string attribute;
  bool count = false;
};
/* "Name[@attribute][.Count]"; 2 for an empty key or another suffix. */
lm_nmc_result_t nmc_dms_parse_key(const char *key, nmc_dms_key *parsed);
/* Whether a name is one of the server information's device fields. */
bool nmc_dms_is_device_field(const std::string &name);
/* One property of an object node (or of a server information tree) at an
 * occurrence; 9 for no value. ".Count" answers the occurrences. */
lm_nmc_result_t nmc_dms_extract_key(upnp_xml_node *object, const nmc_dms_key &key, uint32_t occurrence,
                                    std::string *value);
/* "1"/"0" of a computed resource attribute from a protocolInfo; false when
 * the name is not one of them. */
bool nmc_dms_resource_capability(const char *name, const char *protocol_info, std::string *value);
/* The property name an object's element is reported under (its tag when
 * it has none). */
std::string nmc_dms_property_name(const char *tag);

/* ---- Metadata (lm_dmscp_metadata.cpp). ---- */
/* One property of the object under the cursor, or of its server's
 * information (device fields, and element names the object lacks). */
lm_nmc_result_t nmc_dms_extract(nmc_dms_state &state, const char *key, uint32_t occurrence, std::string *value);
/* Appends the metadata text of an object of the top level to `text`
 * (DIDL-Lite wrapped, except at the server list); none when memory ran out
 * (the string is then freed). */
upnp_string *nmc_dms_metadata_text(nmc_dms_state &state, upnp_xml_node *object, upnp_string *text);

/* ---- Template body. ---- */
#include "nmc/lm_nmc_internal.h"

template <typename Op>
lm_nmc_result_t nmc_dms_with_context(uint32_t id, Op op) {
  struct Call {
    Op *op;
    static lm_nmc_result_t run(nmc_dms_state &state, void *self) { return (*static_cast<Call *>(self)->op)(state); }
  } call{&op};
  return nmc_dms_run(id, &Call::run, &call);
}

#endif
