// The site properties: their rows in the configuration store and the
// defaults that apply while the store is not initialised.
#include "media/zel_site_config.h"

#include <string>

#include "base/upnp_ini_file.h"

namespace {

struct SiteRow {
  int key;
  const char *name;
  const char *def;
  const char *help;
};

const SiteRow kRows[] = {
    {ZEL_SITE_VIDEO_WEB_HOST, "video_web_host", "www.youtube.com", "Web host of the video site (host[:port])"},
    {ZEL_SITE_VIDEO_INFO_HOST, "video_info_host", "www.youtube.com",
     "Host of the video site's information and stream requests (host[:port])"},
    {ZEL_SITE_VIDEO_DATA_HOST, "video_data_host", "gdata.youtube.com", "Host of the video site's data feed"},
    {ZEL_SITE_VIDEO_DOMAIN, "video_domain", "youtube.com", "Domain of the video site's stream URLs"},
    {ZEL_SITE_IMAGE_SEARCH, "image_search_domain", "gstatic.com", "Static-content domain of the image search"},
    {ZEL_SITE_PHOTO_SITE, "photo_site_domain", "static.flickr.com", "Domain of the photo-sharing site"},
    {ZEL_SITE_SOCIAL, "social_domain", "facebook.com", "Domain of the social network"},
    {ZEL_SITE_SOCIAL_CDN, "social_cdn_domain", "fbcdn.net", "Content-delivery domain of the social network"},
    {ZEL_SITE_DATE_HOST, "date_host", "www.lumetmedia.com", "Web server whose Date header corrects the clock"},
    {ZEL_SITE_LAUNCH_COMMAND, "launch_command", nullptr,
     "Command that opens an application for the library (the path follows as $1; none by default)"},
};

const SiteRow *row_of(int key) {
  for (const SiteRow &row : kRows) {
    if (row.key == key) return &row;
  }
  return nullptr;
}

}  // namespace

void zel_site_register(void) {
  for (const SiteRow &row : kRows) {
    if (upnp_ini_file_isValidKey(static_cast<unsigned int>(row.key))) continue;
    // Fails quietly while the store does not exist: the defaults apply.
    upnp_ini_file_create_property(static_cast<unsigned int>(row.key), row.name, row.def, row.help, 0, 0, 0, 0);
  }
}

const char *zel_site_get(int key) {
  // A copy per thread: the stored text may change under a caller on another
  // thread as soon as the store's lock is let go.
  thread_local std::string value[ZEL_SITE_KEY_LAST - ZEL_SITE_KEY_FIRST + 1];
  const SiteRow *row = row_of(key);
  if (!row) return "";
  zel_site_register();
  std::string &slot = value[key - ZEL_SITE_KEY_FIRST];
  // Without the store (or without the row) the default applies; a property
  // set to nothing in the store stays nothing.
  const char *text = upnp_ini_file_getString(static_cast<unsigned int>(key));
  if (text) {
    slot = text;
  } else if (upnp_ini_file_isValidKey(static_cast<unsigned int>(key))) {
    slot.clear();
  } else {
    slot = row->def ? row->def : "";
  }
  return slot.c_str();
}
