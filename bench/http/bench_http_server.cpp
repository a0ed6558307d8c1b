// Requests per second of the library's HTTP server beside nginx, both on
// 127.0.0.1 and both serving a static 1 KiB reply, measured with wrk (50
// keep-alive connections, two threads, 5 s per round, best of two rounds).
// nginx runs with a private configuration and prefix in a temporary folder
// and is stopped afterwards. Prints the ratio ours / nginx (the target: at
// least as many requests as nginx). Exit 77 when wrk or nginx is missing.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <string>

#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "http/http_methods.h"
#include "http/http_server.h"

namespace {

constexpr size_t kReplySize = 1024;
constexpr int kRounds = 2;
const char *const kWrk = "wrk -t2 -c50 -d5s --timeout 5s ";

std::string g_reply;

int static_handler(HTTP_connection *c) {
  c->content_type = "application/octet-stream";
  c->length = static_cast<int64_t>(g_reply.size());
  return HTTP_send(c, g_reply.data());
}

std::string run(const std::string &command) {
  std::string out;
  FILE *p = popen(command.c_str(), "r");
  if (!p) return out;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
  pclose(p);
  return out;
}

bool have(const char *program) {
  return std::system((std::string("command -v ") + program + " >/dev/null 2>&1").c_str()) == 0;
}

// Best requests per second of the rounds against url; 0 when wrk failed or
// saw errors.
double measure(const std::string &url, const char *name) {
  double best = 0;
  for (int round = 0; round < kRounds; ++round) {
    std::string out = run(std::string("timeout 30 ") + kWrk + url + " 2>&1");
    std::smatch m;
    if (out.find("Socket errors") != std::string::npos || out.find("Non-2xx") != std::string::npos ||
        !std::regex_search(out, m, std::regex("Requests/sec:\\s*([0-9.]+)"))) {
      std::fprintf(stderr, "%s: wrk failed:\n%s\n", name, out.c_str());
      return 0;
    }
    double rps = std::stod(m[1]);
    std::printf("  %-8s round %d: %.0f requests/s\n", name, round + 1, rps);
    if (rps > best) best = rps;
  }
  return best;
}

int free_port() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
  socklen_t len = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len);
  close(fd);
  return ntohs(a.sin_port);
}

class Nginx {
 public:
  Nginx(const std::string &body) {
    char tmpl[] = "/tmp/bench_nginx_XXXXXX";
    if (!mkdtemp(tmpl)) return;
    dir_ = tmpl;
    chmod(dir_.c_str(), 0755);  // the workers run as an unprivileged user
    mkdir((dir_ + "/www").c_str(), 0755);
    mkdir((dir_ + "/tmp").c_str(), 0755);
    std::ofstream(dir_ + "/www/reply.bin", std::ios::binary) << body;
    chmod((dir_ + "/www/reply.bin").c_str(), 0644);
    port_ = free_port();
    std::ofstream conf(dir_ + "/nginx.conf");
    conf << "daemon off;\nworker_processes auto;\npid " << dir_ << "/nginx.pid;\nerror_log " << dir_
         << "/error.log;\nevents { worker_connections 1024; }\nhttp {\n  access_log off;\n"
         << "  client_body_temp_path " << dir_ << "/tmp/body;\n  proxy_temp_path " << dir_ << "/tmp/proxy;\n"
         << "  fastcgi_temp_path " << dir_ << "/tmp/fastcgi;\n  uwsgi_temp_path " << dir_ << "/tmp/uwsgi;\n"
         << "  scgi_temp_path " << dir_ << "/tmp/scgi;\n  default_type application/octet-stream;\n"
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
    for (int i = 0; i < 50; ++i) {
      if (run("curl -s -o /dev/null -w '%{http_code}' " + url()) == "200") {
        ready_ = true;
        break;
      }
      usleep(100000);
    }
  }
  ~Nginx() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
    if (!dir_.empty()) std::system(("rm -rf '" + dir_ + "'").c_str());
  }
  bool ready() const { return ready_; }
  std::string url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/reply.bin"; }

 private:
  std::string dir_;
  int port_ = 0;
  pid_t pid_ = -1;
  bool ready_ = false;
};

}  // namespace

int main() {
  if (!have("wrk") || access("/usr/sbin/nginx", X_OK) != 0) {
    std::fprintf(stderr, "bench_http_server: wrk or nginx missing (scripts/setup bench)\n");
    return 77;
  }
  upnp_mem_init();
  upnp_log_set_level(LOG_LEVEL_ERROR);
  g_reply.assign(kReplySize, 'k');
  upnp_http_register_handler(static_handler, HTTP_METHOD_GET, "/reply.bin", 0, 0);
  int server = HTTP_server_open("127.0.0.1", static_cast<unsigned int>(free_port()));
  if (server < 0) {
    std::fprintf(stderr, "bench_http_server: cannot start our server\n");
    return 1;
  }
  const std::string ours_url = "http://127.0.0.1:" + std::to_string(HTTP_server_port(server)) + "/reply.bin";
  std::printf("HTTP server, %zu-byte static reply, %s\n", kReplySize, kWrk);
  double ours = measure(ours_url, "kestrel");
  HTTP_server_close(server);

  double reference = 0;
  {
    Nginx nginx(g_reply);
    if (!nginx.ready()) {
      std::fprintf(stderr, "bench_http_server: nginx did not start\n");
      return 1;
    }
    reference = measure(nginx.url(), "nginx");
  }
  if (ours <= 0 || reference <= 0) return 1;
  std::printf("kestrel %.0f requests/s, nginx %.0f requests/s, ratio kestrel/nginx = %.2f (target >= 1.00)\n", ours,
              reference, ours / reference);
  return 0;
}
