// The page handler ("/nmc/web"): serves the one file "nmc.html" from the
// "resources" folder beside the executable, else from the executable's
// folder, whatever the path asked; nothing else is ever read.
#include <unistd.h>

#include <cstdio>
#include <mutex>
#include <string>

#include "base/upnp_fd.h"
#include "base/upnp_ini_file.h"
#include "base/upnp_log.h"
#include "webapi/webapi_rss.h"

namespace {

// The page is ours and needs its inline script; it may only talk to the
// library that served it.
const char kPageHeaders[] =
    "X-Content-Type-Options: nosniff\r\n"
    "Content-Security-Policy: default-src 'none'; script-src 'unsafe-inline'; style-src 'unsafe-inline'; "
    "connect-src 'self'; img-src 'self' data:; base-uri 'none'; form-action 'none'; frame-ancestors 'none'\r\n"
    "Referrer-Policy: no-referrer\r\n";
// A page larger than this is not ours.
const long kMaxPage = 4L * 1024 * 1024;

// Set by tests before requests; read by request threads.
std::mutex g_folder_lock;
std::string g_folder;

std::string executable_folder() {
  {
    std::lock_guard<std::mutex> hold(g_folder_lock);
    if (!g_folder.empty()) return g_folder;
  }
  const char *dir = upnp_ini_file_get_EXE_Dir();
  if (dir && *dir) return dir;
  char path[4096];
  ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return std::string();
  std::string exe(path, static_cast<size_t>(n));
  size_t slash = exe.rfind('/');
  return slash == std::string::npos ? std::string() : exe.substr(0, slash);
}

bool read_file(const std::string &path, std::string *out) {
  FILE *f = upnp_fopen(path.c_str(), "rb");
  if (!f) return false;
  out->clear();
  char buffer[8192];
  size_t n;
  bool ok = true;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) {
    out->append(buffer, n);
    if (static_cast<long>(out->size()) > kMaxPage) {
      ok = false;
      break;
    }
  }
  if (std::ferror(f)) ok = false;
  std::fclose(f);
  return ok;
}

}  // namespace

void webapi_web_set_folder(const char *folder) {
  std::lock_guard<std::mutex> hold(g_folder_lock);
  g_folder = folder ? folder : "";
}

int webRequestHandler(HTTP_connection *connection) {
  if (!connection) return 1;
  HTTP_set_no_cache(connection);
  webapi_call call;
  call.connection = connection;
  std::string target;
  if (!webapi_raw_target(connection, &target) || webapi_check_host(connection, target) != 0) {
    return send_error_message(call, WEBAPI_BAD_REQUEST);
  }
  std::string folder = executable_folder();
  std::string page;
  if (folder.empty() ||
      (!read_file(folder + "/resources/nmc.html", &page) && !read_file(folder + "/nmc.html", &page))) {
    upnp_log_impl(LOG_LEVEL_WARNING, LOG_HTTP, __func__, "no nmc.html beside the executable");
    return HTTP_send_file_not_found(connection);
  }
  HTTP_add_header(connection, kPageHeaders);
  connection->content_type = HTTP_HTML_CONTENT_TYPE;
  connection->length = static_cast<int64_t>(page.size());
  return HTTP_send(connection, page.c_str());
}
