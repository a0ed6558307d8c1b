#ifndef KESTREL_MEDIA_ZEL_MEDIA_TYPES_H
#define KESTREL_MEDIA_ZEL_MEDIA_TYPES_H

#include <stdint.h>

/* What a media item holds. MT_ANY serves a probe item and server objects of
 * any other class. */
typedef uint32_t MEDIA_ITEM_TYPE;
enum : uint32_t { MT_MUSIC = 0, MT_PHOTO = 1, MT_VIDEO = 2, MT_ANY = 3 };

/* Where a media item comes from. */
typedef uint32_t MEDIA_ITEM_ORIGIN;
enum : uint32_t { MO_SERVER = 0, MO_URL = 1 };

/* "MUSIC", "PHOTO", and "VIDEO" for every other value. */
const char *ZelMediaItemTypeText(MEDIA_ITEM_TYPE type);

#endif
