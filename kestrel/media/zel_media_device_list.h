#ifndef KESTREL_MEDIA_ZEL_MEDIA_DEVICE_LIST_H
#define KESTREL_MEDIA_ZEL_MEDIA_DEVICE_LIST_H

/* The guarded list behind ZelMediaServerList2 and ZelMediaRendererList2. The
 * list owns its devices through shared references: removing a device takes
 * it out of the list at once, but a caller that holds it (Hold... functions)
 * keeps it valid until that use ends; the last reference destroys it. The
 * raw-pointer lookups are for the thread that also removes (the controller's
 * notifier) and for handlers during an event of that device. */

#include <stdint.h>
#include <string.h>

#include <memory>
#include <mutex>
#include <vector>

template <typename Device>
class ZelMediaDeviceList {
 public:
  ZelMediaDeviceList() {}
  ZelMediaDeviceList(const ZelMediaDeviceList &) = delete;
  ZelMediaDeviceList &operator=(const ZelMediaDeviceList &) = delete;
  virtual ~ZelMediaDeviceList() {}

  uint32_t Count() {
    std::lock_guard<std::mutex> guard(lock_);
    return static_cast<uint32_t>(devices_.size());
  }
  std::shared_ptr<Device> HoldAt(uint32_t index) {
    std::lock_guard<std::mutex> guard(lock_);
    return index < devices_.size() ? devices_[index] : nullptr;
  }
  std::shared_ptr<Device> HoldFromContext(uint32_t context) {
    std::lock_guard<std::mutex> guard(lock_);
    for (const auto &device : devices_)
      if (device->GetContext() == context) return device;
    return nullptr;
  }
  std::shared_ptr<Device> HoldFromBookmark(const char *bookmark) {
    if (bookmark == nullptr) return nullptr;
    std::lock_guard<std::mutex> guard(lock_);
    return FindLocked(bookmark);
  }
  std::vector<std::shared_ptr<Device>> Snapshot() {
    std::lock_guard<std::mutex> guard(lock_);
    return devices_;
  }
  /* Appends unless null or the bookmark is listed already (false: the
   * caller keeps the device). */
  bool Append(const std::shared_ptr<Device> &device) {
    if (device == nullptr) return false;
    std::lock_guard<std::mutex> guard(lock_);
    if (FindLocked(device->GetBookmark()) != nullptr) return false;
    devices_.push_back(device);
    return true;
  }
  /* As Append for a device not yet shared: the list takes ownership only
   * when it answers true. */
  bool AppendNew(Device *device) {
    if (device == nullptr) return false;
    std::lock_guard<std::mutex> guard(lock_);
    if (FindLocked(device->GetBookmark()) != nullptr) return false;
    devices_.push_back(std::shared_ptr<Device>(device));
    return true;
  }
  /* Takes that device out; null when it is not listed. */
  std::shared_ptr<Device> Take(const Device *device) {
    std::lock_guard<std::mutex> guard(lock_);
    for (auto it = devices_.begin(); it != devices_.end(); ++it) {
      if (it->get() != device) continue;
      std::shared_ptr<Device> taken = *it;
      devices_.erase(it);
      return taken;
    }
    return nullptr;
  }
  /* Empties the list; the devices go with the returned references. */
  std::vector<std::shared_ptr<Device>> TakeAll() {
    std::vector<std::shared_ptr<Device>> all;
    std::lock_guard<std::mutex> guard(lock_);
    all.swap(devices_);
    return all;
  }

 private:
  std::shared_ptr<Device> FindLocked(const char *bookmark) {
    for (const auto &device : devices_)
      if (strcmp(device->GetBookmark(), bookmark) == 0) return device;
    return nullptr;
  }

  // Notifier threads add and remove while the main thread looks up.
  std::mutex lock_;
  std::vector<std::shared_ptr<Device>> devices_;
};

#endif
