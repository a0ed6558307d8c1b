#include "support_nginx.h"

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "support_tcp.h"
#include "support_wrk.h"

namespace test_support {

bool ReferenceNginx::available() { return access("/usr/sbin/nginx", X_OK) == 0; }

ReferenceNginx::ReferenceNginx(const std::vector<std::pair<std::string, std::string>> &files,
                               const std::string &default_type) {
  char tmpl[] = "/tmp/bench_nginx_XXXXXX";
  if (!mkdtemp(tmpl)) return;
  dir_ = tmpl;
  chmod(dir_.c_str(), 0755);  // the workers run as an unprivileged user
  mkdir((dir_ + "/www").c_str(), 0755);
  mkdir((dir_ + "/tmp").c_str(), 0755);
  for (const auto &f : files) {
    std::ofstream(dir_ + "/www/" + f.first, std::ios::binary) << f.second;
    chmod((dir_ + "/www/" + f.first).c_str(), 0644);
  }
  port_ = free_loopback_port();
  std::ofstream conf(dir_ + "/nginx.conf");
  conf << "daemon off;\nworker_processes auto;\npid " << dir_ << "/nginx.pid;\nerror_log " << dir_
       << "/error.log;\nevents { worker_connections 1024; }\nhttp {\n  access_log off;\n"
       << "  client_body_temp_path " << dir_ << "/tmp/body;\n  proxy_temp_path " << dir_ << "/tmp/proxy;\n"
       << "  fastcgi_temp_path " << dir_ << "/tmp/fastcgi;\n  uwsgi_temp_path " << dir_ << "/tmp/uwsgi;\n"
       << "  scgi_temp_path " << dir_ << "/tmp/scgi;\n  default_type " << default_type << ";\n"
       << "  keepalive_requests 1000000;\n"
       << "  server {\n    listen 127.0.0.1:" << port_ << ";\n    root " << dir_ << "/www;\n  }\n}\n";
  conf.close();
  pid_ = fork();
  if (pid_ == 0) {
    execl("/usr/sbin/nginx", "nginx", "-p", dir_.c_str(), "-c", (dir_ + "/nginx.conf").c_str(), "-e",
          (dir_ + "/error.log").c_str(), static_cast<char *>(nullptr));
    _exit(127);
  }
  // Ready when it answers.
  for (int i = 0; i < 50 && !files.empty(); ++i) {
    if (command_output("curl -s -o /dev/null -w '%{http_code}' " + url(files.front().first)) == "200") {
      ready_ = true;
      break;
    }
    usleep(100000);
  }
}

ReferenceNginx::~ReferenceNginx() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  if (!dir_.empty()) std::system(("rm -rf '" + dir_ + "'").c_str());
}

std::string ReferenceNginx::url(const std::string &file) const {
  return "http://127.0.0.1:" + std::to_string(port_) + "/" + file;
}

}  // namespace test_support
