// Shared pieces of the SSDP tests: crafted datagrams, a log file to read
// back, and the interface entry the handler is given.
#ifndef TESTS_SSDP_SSDP_TEST_UTIL_H
#define TESTS_SSDP_SSDP_TEST_UTIL_H

#include <string>
#include <vector>

#include "ssdp/upnp_control_record.h"

namespace ssdp_test {

// A NOTIFY for `nt` with `nts`; `extra` lines (each ending in CR LF) go
// before the final empty line. Fields named in `omit` are left out.
std::string notify(const std::string &nt, const std::string &nts, const std::string &usn,
                   const std::string &location = "http://192.168.1.20:8200/rootDesc.xml",
                   const std::string &cache_control = "max-age=1800", const std::vector<std::string> &omit = {},
                   const std::string &extra = "");
// A search response for `st`.
std::string response(const std::string &st, const std::string &usn,
                     const std::string &location = "http://192.168.1.21:49494/desc.xml",
                     const std::string &cache_control = "max-age=1800", const std::vector<std::string> &omit = {});

// Every call recorded since the last reset (with a sequence above `after`).
std::vector<upnp_control_call> calls(unsigned long long after = 0);

// Logging to a temporary file at every level and source.
class LogFile {
 public:
  LogFile();
  ~LogFile();
  std::string text() const;
  int count(const std::string &needle) const;

 private:
  std::string dir_;
  std::string path_;
};

}  // namespace ssdp_test

#endif
