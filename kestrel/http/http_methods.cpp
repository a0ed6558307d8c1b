// The request-method table shared by the header reader and the server.
#include "http/http_methods.h"

#include <cstring>

extern "C" const HTTP_method_entry HTTP_method_table[] = {
    {"GET", 3, HTTP_METHOD_GET},
    {"HEAD", 4, HTTP_METHOD_HEAD},
    {"OPTIONS", 7, HTTP_METHOD_HEAD},
    {"POST", 4, HTTP_METHOD_POST},
    {"SUBSCRIBE", 9, HTTP_METHOD_SUBSCRIBE},
    {"UNSUBSCRIBE", 11, HTTP_METHOD_UNSUBSCRIBE},
    {"NOTIFY", 6, HTTP_METHOD_NOTIFY},
    {nullptr, 0, HTTP_METHOD_UNKNOWN},
};

extern "C" unsigned int HTTP_get_method_type(const char *text) {
  if (!text) return HTTP_METHOD_UNKNOWN;
  for (const HTTP_method_entry *m = HTTP_method_table; m->name; ++m) {
    if (std::strncmp(text, m->name, m->length) == 0) return m->type;
  }
  return HTTP_METHOD_UNKNOWN;
}
