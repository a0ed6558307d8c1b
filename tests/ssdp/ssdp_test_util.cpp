#include "ssdp_test_util.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "base/upnp_log.h"

namespace ssdp_test {

namespace {

bool omitted(const std::vector<std::string> &omit, const std::string &name) {
  for (const std::string &o : omit) {
    if (o == name) return true;
  }
  return false;
}

std::string line(const std::vector<std::string> &omit, const std::string &name, const std::string &value) {
  return omitted(omit, name) ? std::string() : name + ": " + value + "\r\n";
}

}  // namespace

std::string notify(const std::string &nt, const std::string &nts, const std::string &usn, const std::string &location,
                   const std::string &cache_control, const std::vector<std::string> &omit, const std::string &extra) {
  return "NOTIFY * HTTP/1.1\r\n" + line(omit, "HOST", "239.255.255.250:1900") +
         line(omit, "CACHE-CONTROL", cache_control) + line(omit, "LOCATION", location) +
         line(omit, "SERVER", "Linux/6.1 DLNADOC/1.50 UPnP/1.0 Lab/1.0") + line(omit, "NT", nt) +
         line(omit, "USN", usn) + line(omit, "NTS", nts) + extra + "\r\n";
}

std::string response(const std::string &st, const std::string &usn, const std::string &location,
                     const std::string &cache_control, const std::vector<std::string> &omit) {
  return "HTTP/1.1 200 OK\r\n" + line(omit, "CACHE-CONTROL", cache_control) +
         line(omit, "DATE", "Tue, 08 Dec 2026 18:00:00 GMT") + "EXT:\r\n" + line(omit, "LOCATION", location) +
         line(omit, "SERVER", "Linux/6.1, UPnP/1.0, Portable SDK for UPnP devices/1.14") + line(omit, "ST", st) +
         line(omit, "USN", usn) + "\r\n";
}

std::vector<upnp_control_call> calls(unsigned long long after) {
  std::vector<upnp_control_call> all;
  std::vector<upnp_control_call> chunk(UPNP_RECORD_MAX_CALLS);
  for (;;) {
    int got = upnp_control_record_calls(after, chunk.data(), static_cast<int>(chunk.size()));
    if (got <= 0) break;
    all.insert(all.end(), chunk.begin(), chunk.begin() + got);
    after = chunk[static_cast<size_t>(got) - 1].sequence;
  }
  return all;
}

LogFile::LogFile() {
  char pattern[] = "/tmp/kestrel-ssdp-log-XXXXXX";
  if (mkdtemp(pattern) != nullptr) dir_ = pattern;
  path_ = dir_ + "/ssdp-log.txt";
  upnp_log_init(path_.c_str());
  upnp_log_set_level(LOG_LEVEL_DEBUG);
  upnp_log_set_sources(0xFFFFFFFFu);
  upnp_log_set_force_flush(1);
}

LogFile::~LogFile() {
  upnp_log_exit();
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

std::string LogFile::text() const {
  upnp_log_flush();
  std::ifstream in(path_, std::ios::binary);
  std::stringstream all;
  all << in.rdbuf();
  return all.str();
}

int LogFile::count(const std::string &needle) const {
  std::string all = text();
  int n = 0;
  for (size_t at = all.find(needle); at != std::string::npos; at = all.find(needle, at + 1)) ++n;
  return n;
}

}  // namespace ssdp_test
