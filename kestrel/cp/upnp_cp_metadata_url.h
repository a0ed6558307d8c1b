#ifndef KESTREL_CP_UPNP_CP_METADATA_URL_H
#define KESTREL_CP_UPNP_CP_METADATA_URL_H

/* DIDL-Lite metadata for a bare URL: one item whose resource is the URL and
 * whose dc:title is the given title (empty for none), both escaped. The item
 * class and the resource's protocolInfo follow the URL's file extension
 * (audio, image, video, or a general object with "*" as MIME type). A new
 * accounted text (free with upnp_free_impl); none for a null or empty URL or
 * when memory runs out. */

#ifdef __cplusplus
extern "C" {
#endif

char *upnp_cp_create_metadata_from_url(const char *url, const char *title);

#ifdef __cplusplus
}
#endif

#endif
