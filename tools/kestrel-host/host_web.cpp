// --web: switch the web API on through the library's exported entry and
// print where it answers.
#include "host_web.h"

#include <dlfcn.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <thread>

#include "host_output.h"
#include "xpcom_main_thread.h"

namespace host {

bool enable_web_api(const Library &lib, bool local_admin) {
  using Enable = void (*)(int);
  auto enable = reinterpret_cast<Enable>(dlsym(lib.handle, "lm_nmc_enable_web_api"));
  if (enable == nullptr) {
    say("error", "the library has no web API (lm_nmc_enable_web_api)");
    return false;
  }
  if (local_admin) {
    auto local = reinterpret_cast<Enable>(dlsym(lib.handle, "lm_nmc_web_api_set_local_admin"));
    if (local != nullptr) local(1);
  }
  enable(1);
  return true;
}

bool report_web_api(const Library &lib, int wait_ms, const std::string &url_file) {
  using BaseUrl = uint32_t (*)(uint32_t, char *);
  auto base_url = reinterpret_cast<BaseUrl>(dlsym(lib.handle, "lm_nmc_web_api_base_url"));
  if (base_url == nullptr) return false;
  char url[256];
  // The controller starts its servers on its own threads; observer calls
  // keep coming meanwhile, so the main thread's queue is served.
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
  while (base_url(sizeof url, url) != 0) {
    if (std::chrono::steady_clock::now() >= until) {
      say("error", "the web API did not come up");
      return false;
    }
    NS_ProcessMainThreadEvents(100);
  }
  // The page sits beside the commands: ".../nmc/web/" for ".../nmc/rpc/".
  std::string page(url);
  size_t rpc = page.rfind("/nmc/rpc/");
  if (rpc != std::string::npos) page.replace(rpc, 9, "/nmc/web/");
  emit(Record("web").str("url", url).str("page", page));
  if (!url_file.empty()) {
    std::string part = url_file + ".part";
    std::FILE *f = std::fopen(part.c_str(), "we");
    bool ok = f != nullptr && std::fprintf(f, "%s\n", url) > 0;
    if (f != nullptr && std::fclose(f) != 0) ok = false;
    if (!ok || std::rename(part.c_str(), url_file.c_str()) != 0) say("error", "cannot write the URL into " + url_file);
  }
  return true;
}

}  // namespace host
