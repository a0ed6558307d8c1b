#include "support_log_file.h"

#include "base/upnp_log.h"

namespace test_support {

LogFile::LogFile() : dir_("kestrel-test-log"), path_((dir_.path() / "log.txt").string()) {
  upnp_log_init(path_.c_str());
  upnp_log_set_level(LOG_LEVEL_DEBUG);
  upnp_log_set_sources(0xFFFFFFFFu);
  upnp_log_set_force_flush(1);
}

LogFile::~LogFile() { upnp_log_exit(); }

std::string LogFile::text() const {
  upnp_log_flush();
  return read_file(path_);
}

int LogFile::count(const std::string &needle) const {
  std::string all = text();
  int n = 0;
  for (size_t at = all.find(needle); at != std::string::npos; at = all.find(needle, at + 1)) ++n;
  return n;
}

}  // namespace test_support
