// Out values and results of the component's methods: strings handed to the
// host as copies of the XPCOM allocator, and a guard that keeps exceptions of
// the object model from crossing into the host.
#ifndef KESTREL_XPCOM_ZEL_XPCOM_OUT_H
#define KESTREL_XPCOM_ZEL_XPCOM_OUT_H

#include <new>

#include "xpcom_supports.h"

// *out becomes a copy of text ("" for none) made with the host's allocator.
// NS_ERROR_NULL_POINTER without an out pointer, NS_ERROR_OUT_OF_MEMORY when
// the copy cannot be made (*out then stays null).
nsresult zel_xpcom_clone_out(const char *text, char **out);

// Runs body and answers its result; an exception thrown under it becomes
// NS_ERROR_OUT_OF_MEMORY (allocation) or NS_ERROR_FAILURE (any other).
template <typename Body>
nsresult zel_xpcom_guard(Body body) {
  try {
    return body();
  } catch (const std::bad_alloc &) {
    return NS_ERROR_OUT_OF_MEMORY;
  } catch (...) {
    return NS_ERROR_FAILURE;
  }
}

#endif
