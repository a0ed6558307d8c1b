#ifndef KESTREL_EXPORT_H
#define KESTREL_EXPORT_H

/* The library is built with hidden visibility: only what is marked
 * KESTREL_API leaves the shared object. The plain-function API is C-linkage. */
#define KESTREL_API __attribute__((visibility("default")))

#ifdef __cplusplus
#define KESTREL_EXTERN_C extern "C"
#else
#define KESTREL_EXTERN_C
#endif

#endif
