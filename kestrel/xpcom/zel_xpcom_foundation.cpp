// Accounted memory and the configuration store for the component's methods
// on the object model, brought up by the component when nothing else has.
#include "xpcom/zel_xpcom_foundation.h"

#include <cstdlib>
#include <mutex>

#include "base/upnp_ini_file.h"
#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "media/zel_site_config.h"
#include "media/zel_util.h"

namespace {

void bring_up() {
  // Made once, before the first accounted block; a later make is harmless.
  upnp_mem_init();
  // A store that is up (the controller's) has its ini file read already;
  // the site rows are added to it when missing.
  if (upnp_ini_file_isValidKey(INI_APPDATA)) {
    zel_site_register();
    return;
  }
  upnp_ini_file_init();
  // The component's reference goes when the library is unloaded or the
  // process ends, before the store's own table is destroyed.
  std::atexit(upnp_ini_file_release);
  char folder[4096];
  if (ZelUtil::GetLMAppDataPath(folder, sizeof folder)) {
    upnp_ini_file_setProperty(INI_APPDATA, folder, 1, 1);
    upnp_ini_file_setProperty(INI_INIPATH, folder, 1, 1);
  }
  // The rows first: the reader keeps only values of properties it knows.
  zel_site_register();
  upnp_ini_file_read_properties();
  const char *path = upnp_ini_file_get_ini_path();
  upnp_log_impl(LOG_LEVEL_INFO, LOG_SYSTEM, __func__, "component configuration from %s", path ? path : "(none)");
}

}  // namespace

void zel_xpcom_foundation_ready(void) {
  // The methods run on the host's main thread; the flag guards a host that
  // calls from another one all the same.
  static std::once_flag once;
  std::call_once(once, bring_up);
}
