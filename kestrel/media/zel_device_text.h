#ifndef KESTREL_MEDIA_ZEL_DEVICE_TEXT_H
#define KESTREL_MEDIA_ZEL_DEVICE_TEXT_H

/* Reading one metadata field of a device or object through a controller
 * context, whole: the buffer grows while the controller answers that the text
 * does not fit, up to ZEL_DEVICE_TEXT_MAX bytes, so a long friendly name is
 * never lost to a small first buffer. */

#include <stdint.h>

#include <string>

#include "nmc/lm_nmc.h"

#define ZEL_DEVICE_TEXT_MAX 8192u

typedef lm_nmc_result_t (*ZelExtractMetadataFn)(uint32_t context, const char *key, uint32_t occurrence,
                                                uint32_t size, char *buffer);

/* True with *out set to the whole value; false (and *out empty) when the
 * controller has none or it is longer than the bound. */
bool ZelReadContextText(ZelExtractMetadataFn extract, uint32_t context, const char *key, std::string *out);

#endif
