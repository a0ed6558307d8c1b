// The servers and renderers the terminal mode shows: numbered as they first
// appear ("s1", "r2"), kept with their number while they come and go, so a
// number typed a minute later still names the same device.
#ifndef KESTREL_HOST_DEVICES_H
#define KESTREL_HOST_DEVICES_H

#include <string>
#include <vector>

namespace host {

struct Device {
  int number = 0;
  std::string name;
  std::string bookmark;
  bool present = false;
};

class DeviceList {
 public:
  // prefix: "s" for servers, "r" for renderers.
  explicit DeviceList(std::string prefix) : prefix_(std::move(prefix)) {}

  // Merges a fresh reading of the component's info strings
  // ("name^bookmark^..."); answers one line per change ("added s1 NAME",
  // "gone s1 NAME", "back s1 NAME", "renamed s1 NAME").
  std::vector<std::string> update(const std::vector<std::string> &infos);
  // A device by "s1", "1" or its exact name; present or not. Null when none.
  const Device *find(const std::string &word) const;
  const Device *by_bookmark(const std::string &bookmark) const;
  const Device *first_present() const;
  size_t present_count() const;
  const std::vector<Device> &all() const { return devices_; }
  // "s1 NAME".
  std::string label(const Device &d) const;

 private:
  std::string prefix_;
  std::vector<Device> devices_;  // in order of first appearance
};

}  // namespace host

#endif
