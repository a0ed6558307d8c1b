// Numbered device lists of the terminal mode.
#include "host_devices.h"

#include <cstdlib>

namespace host {

namespace {

// Field k of "a^b^c"; empty past the end.
std::string field(const std::string &info, size_t k) {
  size_t start = 0;
  for (size_t i = 0; i < k; ++i) {
    start = info.find('^', start);
    if (start == std::string::npos) return std::string();
    ++start;
  }
  size_t end = info.find('^', start);
  return info.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

}  // namespace

std::string DeviceList::label(const Device &d) const { return prefix_ + std::to_string(d.number) + " " + d.name; }

std::vector<std::string> DeviceList::update(const std::vector<std::string> &infos) {
  std::vector<std::string> changes;
  std::vector<bool> seen(devices_.size(), false);
  for (const std::string &info : infos) {
    std::string name = field(info, 0);
    std::string bookmark = field(info, 1);
    if (bookmark.empty()) continue;
    size_t k = 0;
    while (k < devices_.size() && devices_[k].bookmark != bookmark) ++k;
    if (k == devices_.size()) {
      Device d;
      d.number = static_cast<int>(devices_.size()) + 1;
      d.name = name;
      d.bookmark = bookmark;
      d.present = true;
      devices_.push_back(d);
      seen.push_back(true);
      changes.push_back("added " + label(d));
      continue;
    }
    if (seen[k]) continue;  // listed twice in one reading
    seen[k] = true;
    Device &d = devices_[k];
    if (!d.present) {
      d.present = true;
      d.name = name;
      changes.push_back("back " + label(d));
    } else if (d.name != name) {
      d.name = name;
      changes.push_back("renamed " + label(d));
    }
  }
  for (size_t k = 0; k < devices_.size(); ++k)
    if (devices_[k].present && !seen[k]) {
      devices_[k].present = false;
      changes.push_back("gone " + label(devices_[k]));
    }
  return changes;
}

const Device *DeviceList::find(const std::string &word) const {
  std::string digits = word;
  if (digits.compare(0, prefix_.size(), prefix_) == 0) digits = digits.substr(prefix_.size());
  if (!digits.empty() && digits.find_first_not_of("0123456789") == std::string::npos && digits.size() < 9) {
    long n = std::strtol(digits.c_str(), nullptr, 10);
    if (n >= 1 && static_cast<size_t>(n) <= devices_.size()) return &devices_[static_cast<size_t>(n - 1)];
    return nullptr;
  }
  for (const Device &d : devices_)
    if (d.name == word) return &d;
  return nullptr;
}

const Device *DeviceList::by_bookmark(const std::string &bookmark) const {
  for (const Device &d : devices_)
    if (d.bookmark == bookmark) return &d;
  return nullptr;
}

const Device *DeviceList::first_present() const {
  for (const Device &d : devices_)
    if (d.present) return &d;
  return nullptr;
}

size_t DeviceList::present_count() const {
  size_t n = 0;
  for (const Device &d : devices_) n += d.present ? 1 : 0;
  return n;
}

}  // namespace host
