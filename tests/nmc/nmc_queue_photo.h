// A crafted photo renderer for the slideshow tests: the crafted renderer of
// nmc_dmr_crafted.h on 127.0.0.1 with a watcher that turns the actions it is
// sent into the state events a picture renderer sends (Play: TRANSITIONING,
// then PLAYING unless it is told to stay TRANSITIONING; Stop: STOPPED;
// Pause: PAUSED_PLAYBACK unless Pause is refused with 701 or 13). The events
// enter the control point's event queue as a NOTIFY would, so they reach the
// controller on the control point's notifier thread. It shows a picture
// until told otherwise.
#ifndef TESTS_NMC_NMC_QUEUE_PHOTO_H
#define TESTS_NMC_NMC_QUEUE_PHOTO_H

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "nmc_dmr_crafted.h"

namespace nmc_test {

class PhotoRenderer {
 public:
  PhotoRenderer(const std::string &udn, const std::string &name);
  ~PhotoRenderer();
  CraftedRenderer &device() { return *device_; }
  // The control point's index of the renderer once it is listed (-1 before).
  void set_index(int index) { index_ = index; }
  // Stays TRANSITIONING after Play until told otherwise (false: PLAYING).
  void stay_transitioning(bool on);
  // Refuses Pause with the code (0: pauses).
  void refuse_pause(int code);
  // A state event as if someone else changed the renderer.
  void emit(const std::string &state);
  // Pictures shown (Play requests seen).
  int shown() const { return shown_.load(); }

 private:
  void watch();

  std::unique_ptr<CraftedRenderer> device_;
  std::atomic<int> index_{-1};
  std::atomic<bool> stay_{false};
  std::atomic<int> refuse_{0};
  std::atomic<int> shown_{0};
  std::atomic<uint32_t> sequence_{0};
  std::atomic<bool> stop_{false};
  std::thread watcher_;
};

}  // namespace nmc_test

#endif
