#ifndef KESTREL_HTTP_HTTP_METHODS_H
#define KESTREL_HTTP_HTTP_METHODS_H

/* The request methods the stack knows, with the type bit the server uses to
 * route requests. A line matches an entry when it begins with the method name
 * (case-sensitive); OPTIONS shares HEAD's type. */

#ifdef __cplusplus
extern "C" {
#endif

enum HTTP_method_type {
  HTTP_METHOD_UNKNOWN = 0,
  HTTP_METHOD_GET = 1,
  HTTP_METHOD_HEAD = 2,
  HTTP_METHOD_POST = 4,
  HTTP_METHOD_SUBSCRIBE = 8,
  HTTP_METHOD_UNSUBSCRIBE = 16,
  HTTP_METHOD_NOTIFY = 32
};

typedef struct HTTP_method_entry {
  const char *name;
  unsigned int length;
  unsigned int type;
} HTTP_method_entry;

/* The table, terminated by an entry with a null name. */
extern const HTTP_method_entry HTTP_method_table[];

/* Type value of the method that the text begins with, 0 when none. */
unsigned int HTTP_get_method_type(const char *text);

#ifdef __cplusplus
}
#endif

#endif
