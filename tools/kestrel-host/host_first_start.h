// What the terminal mode says at a first start: no settings file yet (the
// defaults are used, and where the file will be written), no device
// information file beside the library (devices keep their own names).
#ifndef KESTREL_HOST_FIRST_START_H
#define KESTREL_HOST_FIRST_START_H

#include <string>
#include <vector>

namespace host {

// The component's settings file: LumetMedia/LumetPluginSettings.ini in the
// application-data folder ($KESTREL_APP_SUPPORT_DIR, else $XDG_DATA_HOME,
// else ~/.local/share).
std::string settings_file_path();

// The file a loaded library was read from (its link map's name), else
// fallback.
std::string loaded_file(void *handle, const std::string &fallback);

// The notes for files that are missing; none when both are there.
// library_path: the component library's path (deviceinfo.xml sits beside it).
std::vector<std::string> first_start_notes(const std::string &library_path);

}  // namespace host

#endif
