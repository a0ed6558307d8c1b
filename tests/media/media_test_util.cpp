#include "media_test_util.h"

#include <unistd.h>

#include <cstdlib>
#include <mutex>

#include "base/upnp_ini_file.h"
#include "media/zel_control_point.h"
#include "media/zel_site_config.h"
#include "media/zel_util.h"
#include "nmc/lm_nmc.h"
#include "nmc/lm_nmc_internal.h"
#include "nmc/lm_nmc_notify.h"
#include "support_tcp.h"

namespace media_test {

AppData::AppData() : dir_("media-appdata") {
  setenv("KESTREL_APP_SUPPORT_DIR", dir_.path().c_str(), 1);
  ZelUtil::ResetForTesting();
}

AppData::~AppData() {
  ZelUtil::ResetForTesting();
  unsetenv("KESTREL_APP_SUPPORT_DIR");
}

std::filesystem::path AppData::settings_path() const { return dir_.path() / "LumetMedia" / "LumetPluginSettings.ini"; }

void ControllerUp::SetUp() {
  dir_ = std::make_unique<test_support::TempDir>(name_);
  setenv("KESTREL_APP_SUPPORT_DIR", dir_->path().c_str(), 1);
  nmc_set_network(0);
  nmc_notifiers_set_start_delay(0);
  lm_nmc_set_appdata_path(dir_->path().c_str());
  ASSERT_NE(ZelControlPoint2::GetInstance(), nullptr);
}

void ControllerUp::TearDown() { ZelControlPoint2::Cleanup(); }

SiteHosts::SiteHosts(const std::string &host) {
  upnp_ini_file_init();
  zel_site_register();
  for (int key : {ZEL_SITE_VIDEO_WEB_HOST, ZEL_SITE_VIDEO_INFO_HOST, ZEL_SITE_VIDEO_DATA_HOST, ZEL_SITE_DATE_HOST}) {
    upnp_ini_file_setPropertyByKey(static_cast<unsigned int>(key), host.c_str());
  }
}

SiteHosts::~SiteHosts() { upnp_ini_file_release(); }

CraftedServer::CraftedServer(std::function<std::string(const std::string &)> reply) : reply_(std::move(reply)) {
  fd_ = test_support::listen_tcp("127.0.0.1", &port_);
  thread_ = std::thread([this] { serve(); });
}

CraftedServer::~CraftedServer() {
  stop_ = true;
  thread_.join();
  close(fd_);
}

std::vector<std::string> CraftedServer::requests() {
  std::lock_guard<std::mutex> hold(lock_);
  return requests_;
}

void CraftedServer::serve() {
  while (!stop_) {
    int c = test_support::accept_within(fd_, 100);
    if (c < 0) continue;
    std::string request = test_support::read_header(c, 2000);
    {
      std::lock_guard<std::mutex> hold(lock_);
      requests_.push_back(request.substr(0, request.find("\r\n")));
    }
    std::string answer = reply_(request);
    if (!answer.empty()) test_support::send_all(c, answer);
    close(c);
  }
}

std::string response(const std::string &status, const std::vector<std::string> &headers, const std::string &body) {
  std::string text = "HTTP/1.0 " + status + "\r\n";
  for (const std::string &h : headers) text += h + "\r\n";
  text += "Content-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
  return text;
}

}  // namespace media_test
