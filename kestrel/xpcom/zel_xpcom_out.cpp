// Out strings of the component's methods.
#include "xpcom/zel_xpcom_out.h"

#include "xpcom_memory.h"

nsresult zel_xpcom_clone_out(const char *text, char **out) {
  if (out == nullptr) return NS_ERROR_NULL_POINTER;
  *out = NS_StringClone(text != nullptr ? text : "");
  return *out != nullptr ? NS_OK : NS_ERROR_OUT_OF_MEMORY;
}
