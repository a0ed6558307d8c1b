// The crafted photo renderer: action requests watched every 10 ms and
// answered with the events a picture renderer sends.
#include "nmc_queue_photo.h"

#include "base/upnp_thread.h"
#include "cp/upnp_cp.h"
#include "cp/upnp_cp_eventing.h"
#include "cp/upnp_soap.h"

namespace nmc_test {

namespace {

std::string avt_event(const std::string &state) {
  return "<?xml version=\"1.0\"?><e:propertyset xmlns:e=\"urn:schemas-upnp-org:event-1-0\"><e:property><LastChange>"
         "&lt;Event xmlns=&quot;urn:schemas-upnp-org:metadata-1-0/AVT/&quot;&gt;&lt;InstanceID val=&quot;0&quot;&gt;"
         "&lt;TransportState val=&quot;" +
         state + "&quot;/&gt;&lt;/InstanceID&gt;&lt;/Event&gt;</LastChange></e:property></e:propertyset>";
}

std::string transport_info(const std::string &state) {
  return "<CurrentTransportState>" + state +
         "</CurrentTransportState><CurrentTransportStatus>OK</CurrentTransportStatus><CurrentSpeed>1</CurrentSpeed>";
}

}  // namespace

PhotoRenderer::PhotoRenderer(const std::string &udn, const std::string &name) {
  CraftedRendererSetup setup;
  setup.udn = udn;
  setup.name = name;
  device_ = std::make_unique<CraftedRenderer>(setup);
  device_->answer("GetTransportInfo", transport_info("STOPPED"));
  watcher_ = std::thread([this] { watch(); });
}

PhotoRenderer::~PhotoRenderer() {
  stop_ = true;
  watcher_.join();
}

void PhotoRenderer::stay_transitioning(bool on) { stay_ = on; }

void PhotoRenderer::refuse_pause(int code) {
  refuse_ = code;
  if (code != 0) device_->fault("Pause", code);
  else device_->answer("Pause", "");
}

void PhotoRenderer::emit(const std::string &state) {
  device_->answer("GetTransportInfo", transport_info(state));
  if (index_ < 0) return;
  upnp_cp_add_subscription_event(avt_event(state).c_str(), sequence_++, index_, UPNP_CP_KIND_RENDERER,
                                 UPNP_SERVICE_AVT);
}

void PhotoRenderer::watch() {
  int stops = 0;
  int plays = 0;
  int pauses = 0;
  while (!stop_) {
    Sleep(10);
    const int new_stops = device_->count("Stop");
    const int new_plays = device_->count("Play");
    const int new_pauses = device_->count("Pause");
    // Within one look, Stop comes before Play (a picture change).
    if (new_stops > stops) emit("STOPPED");
    if (new_plays > plays) {
      shown_ += new_plays - plays;
      emit("TRANSITIONING");
      if (!stay_) {
        Sleep(50);
        emit("PLAYING");
      }
    }
    if (new_pauses > pauses && refuse_ == 0) emit("PAUSED_PLAYBACK");
    stops = new_stops;
    plays = new_plays;
    pauses = new_pauses;
  }
}

}  // namespace nmc_test
