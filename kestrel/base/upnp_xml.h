#ifndef KESTREL_BASE_UPNP_XML_H
#define KESTREL_BASE_UPNP_XML_H

/* The library's XML tree: a small non-validating parser that turns a text
 * into element nodes, and the functions that build, search, copy and release
 * such trees. Escaping lives in upnp_xml_escape.h, writing in
 * upnp_xml_write.h.
 *
 * Every node, attribute and text of a tree is accounted memory owned by the
 * tree. A parse takes them from a shared block store of its own (see
 * `arena`), so texts of a parsed tree must never be freed or reallocated on
 * their own: change names and values only with upnp_xml_set_name,
 * upnp_xml_set_value and upnp_xml_set_attribute_value, and release records
 * only with upnp_xml_release / upnp_xml_release_attributes. Any part of a
 * tree may be released, kept or moved into another tree on its own; the
 * store goes back when its last record is released, so a small part kept
 * for long holds the whole document's store (keep a upnp_xml_copy_node
 * instead). Trees are not shared between threads. */

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

struct upnp_xml_arena;

/* Bits of `arena_texts`: which texts live in the record's block store. */
#define UPNP_XML_ARENA_NAME 1u
#define UPNP_XML_ARENA_VALUE 2u

typedef struct upnp_xml_attribute {
  char *name;
  char *value; /* unescaped */
  struct upnp_xml_attribute *next;
  struct upnp_xml_arena *arena; /* block store of a parsed record, or none */
  unsigned arena_texts;
} upnp_xml_attribute;

typedef struct upnp_xml_node {
  char *name;
  /* The element's own character data, unescaped; set only when the element
   * holds text and no child elements (none otherwise). */
  char *value;
  upnp_xml_attribute *attributes; /* reverse document order after a parse */
  struct upnp_xml_node *next;     /* next sibling */
  struct upnp_xml_node *children; /* first child */
  /* How many bytes of the source text the parse of this element used,
   * counted from the text that parse started at. */
  uint32_t consumed;
  unsigned arena_texts;
  struct upnp_xml_arena *arena; /* block store of a parsed record, or none */
} upnp_xml_node;

/* Deepest nesting the parser accepts; one level more fails the whole parse. */
#define UPNP_XML_MAX_DEPTH 100
/* Attributes read from one start tag; the rest of the tag is skipped. */
#define UPNP_XML_MAX_ATTRIBUTES 100

/* Parses the first element of a zero-terminated text (depth 0). Text before
 * the first element (declaration, comments, processing instructions) is
 * skipped, everything after its end is ignored. Returns the root or none. */
upnp_xml_node *upnp_xml_parse(const char *text);

/* The same over the first `length` bytes of `text`; never reads beyond them
 * and needs no terminating zero (a zero byte within them ends the text). */
upnp_xml_node *upnp_xml_parse_len(const char *text, size_t length);

/* The recursive parser: one element at the start of `text` (after any
 * leading non-element text) at nesting `depth`. `*error` is set when the
 * depth limit was hit; then none is returned all the way up. */
upnp_xml_node *upnp_xml_parse_with_depth(const char *text, size_t length, int depth, int *error);

/* Releases the node, its attributes, its children and all following
 * siblings. None is accepted. */
void upnp_xml_release(upnp_xml_node *node);
void upnp_xml_release_attributes(upnp_xml_attribute *list);

/* New records holding copies of the texts (value may be none). */
upnp_xml_node *upnp_xml_new_node(const char *name, const char *value);
upnp_xml_attribute *upnp_xml_new_attribute(const char *name, const char *value);
/* Appends `node` (with any siblings it has) at the end of the parent's
 * children. Returns 0, or -1 when either is none. */
int upnp_xml_add_as_subnode(upnp_xml_node *parent, upnp_xml_node *node);

/* Replace a text with a copy of `text` (none allowed for values). Returns 0,
 * or -1 when memory ran out (the old text is then kept). */
int upnp_xml_set_name(upnp_xml_node *node, const char *text);
int upnp_xml_set_value(upnp_xml_node *node, const char *text);
int upnp_xml_set_attribute_value(upnp_xml_attribute *attribute, const char *text);
/* Puts a new attribute at the head of the node's list. Returns it, or none. */
upnp_xml_attribute *upnp_xml_add_attribute(upnp_xml_node *node, const char *name, const char *value);

/* Depth-first search in document order starting at `node`: the node, its
 * subtree, then its following siblings and their subtrees. */
upnp_xml_node *upnp_xml_find_tag(upnp_xml_node *node, const char *name);
/* The same search starting at the node's next sibling. */
upnp_xml_node *upnp_xml_find_next_tag(upnp_xml_node *node, const char *name);
/* The found element's value (none when absent or without value). */
const char *upnp_xml_find_tag_value(upnp_xml_node *node, const char *name);
/* atoi of the value; 0 when absent. */
int upnp_xml_find_tag_value_int(upnp_xml_node *node, const char *name);
/* Decimal value; `def` when absent or when the value does not start with a
 * digit. Values too large for the type saturate at its maximum. */
uint32_t upnp_xml_find_tag_value_uint(upnp_xml_node *node, const char *name, uint32_t def);
uint64_t upnp_xml_find_tag_value_uint64(upnp_xml_node *node, const char *name, uint64_t def);
upnp_xml_attribute *upnp_xml_find_attribute(upnp_xml_attribute *list, const char *name);
const char *upnp_xml_find_attribute_value(upnp_xml_node *node, const char *name);
/* Appends, in document order, every element named `name` (searched as in
 * upnp_xml_find_tag) to the array `*array` of `*count` node references,
 * growing it with upnp_realloc_impl (the array must be none or come from an
 * earlier call); the caller frees the array (not the
 * nodes) with upnp_free_impl. Returns the number of nodes added, or -1 when
 * memory ran out (the array then holds what was added before). */
int upnp_xml_find_all_nodes(upnp_xml_node *node, const char *name, upnp_xml_node ***array,
                            uint32_t *count);

/* Copies: the node with its following siblings and all subtrees; one node
 * with its subtree but no siblings; an attribute list in its order. None on
 * allocation failure (nothing is leaked). */
upnp_xml_node *upnp_xml_copy_tree(const upnp_xml_node *node);
upnp_xml_node *upnp_xml_copy_node(const upnp_xml_node *node);
upnp_xml_attribute *upnp_xml_copy_attributes(const upnp_xml_attribute *list);
/* Appends a copy of `tree` (the node and its subtree) as the parent's last
 * child. Returns the copy, or none. */
upnp_xml_node *upnp_xml_copy_to_subnode(upnp_xml_node *parent, const upnp_xml_node *tree);

#ifdef __cplusplus
}
#endif

#endif
