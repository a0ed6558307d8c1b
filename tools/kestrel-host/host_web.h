// --web: the library's local web API switched on before the component is
// created, and its base URL printed once the controller's servers run.
#ifndef TOOLS_KESTREL_HOST_HOST_WEB_H
#define TOOLS_KESTREL_HOST_HOST_WEB_H

#include <string>

#include "host_load.h"

namespace host {

// Calls the library's lm_nmc_enable_web_api(1) (and its loopback-only
// setting for the log and upload commands when asked); false when the
// library does not export it.
bool enable_web_api(const Library &lib, bool local_admin);
// Waits up to wait_ms for the API's base URL and prints it ("web" record);
// false when none came. With url_file, also writes the URL and a newline
// into that file (whole: written beside it, then renamed).
bool report_web_api(const Library &lib, int wait_ms, const std::string &url_file = std::string());

}  // namespace host

#endif
