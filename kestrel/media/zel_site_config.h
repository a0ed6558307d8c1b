#ifndef KESTREL_MEDIA_ZEL_SITE_CONFIG_H
#define KESTREL_MEDIA_ZEL_SITE_CONFIG_H

/* The remote sites the media object model talks to or recognises, as
 * configuration properties of their own (created in the configuration store
 * on first use, keys ZEL_SITE_KEY_FIRST and up). Each host property is
 * "host" or "host:port". While the store is not initialised the defaults
 * apply. */

enum zel_site_key {
  ZEL_SITE_VIDEO_WEB_HOST = 260,   /* "video_web_host": the video site's web pages */
  ZEL_SITE_VIDEO_INFO_HOST = 261,  /* "video_info_host": its video-information and stream requests */
  ZEL_SITE_VIDEO_DATA_HOST = 262,  /* "video_data_host": its data feed */
  ZEL_SITE_VIDEO_DOMAIN = 263,     /* "video_domain": the domain of its stream URLs */
  ZEL_SITE_IMAGE_SEARCH = 264,     /* "image_search_domain": thumbnails of the image search */
  ZEL_SITE_PHOTO_SITE = 265,       /* "photo_site_domain": the photo-sharing site */
  ZEL_SITE_SOCIAL = 266,           /* "social_domain": the social network */
  ZEL_SITE_SOCIAL_CDN = 267,       /* "social_cdn_domain": its content-delivery domain */
  ZEL_SITE_DATE_HOST = 268,        /* "date_host": the web server whose Date corrects the clock */
  ZEL_SITE_LAUNCH_COMMAND = 269    /* "launch_command": what the launcher runs (none by default) */
};

#define ZEL_SITE_KEY_FIRST 260
#define ZEL_SITE_KEY_LAST 269

/* The property's current value, or its default; "" for none. The text stays
 * valid until the next call for the same key on this thread. */
const char *zel_site_get(int key);
/* Creates the properties in the configuration store when it exists (again
 * after a restart of the store); harmless when they are there. */
void zel_site_register(void);

#endif
