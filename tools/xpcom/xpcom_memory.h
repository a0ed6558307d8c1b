// The allocator for memory that crosses an interface (out strings and
// arrays): whoever receives a block frees it with NS_Free. Live blocks are
// counted, so that a host can check at its end that every block came back.
#ifndef XPCOM_MEMORY_H
#define XPCOM_MEMORY_H

#include "xpcom_base.h"

extern "C" {
XPCOM_API void *NS_Alloc(size_t size);
// Like realloc: a null block is a new one; size 0 frees the block and
// answers null.
XPCOM_API void *NS_Realloc(void *block, size_t size);
XPCOM_API void NS_Free(void *block);
// A new block holding a copy of size bytes at data (nsMemory's clone).
XPCOM_API void *NS_Clone(const void *data, size_t size);
// A new block holding the text and its NUL; null for a null text.
XPCOM_API char *NS_StringClone(const char *text);
// Blocks handed out and not yet freed.
XPCOM_API int64_t NS_LiveBlocks(void);
}

#endif
