// Benchmark inside the lab (tests/lab/lab.sh run): time from the start of
// the stack until every lab peer (media server and renderers) has been
// reported to the device table, side by side with gssdp-discover searching
// for the same device types in the same namespace; and the time from the
// start of the stack to its first M-SEARCH on the wire (budget 100 ms).
// Bounded: a few rounds of at most 20 s each.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "base/upnp_ini_file.h"
#include "base/upnp_mem.h"
#include "base/upnp_server_state.h"
#include "base/upnp_socket.h"
#include "ssdp/upnp_control_record.h"
#include "ssdp/upnp_ssdp.h"

using Clock = std::chrono::steady_clock;

namespace {

constexpr int kRounds = 3;
constexpr int kRoundLimitMs = 20000;

std::string env(const char *name) {
  const char *v = std::getenv(name);
  return v != nullptr ? v : "";
}

double ms_since(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

std::set<std::string> g_wanted;
std::mutex g_seen_mutex;
std::set<std::string> g_seen;

void on_call(const upnp_control_call *call) {
  if (!call->added) return;
  std::lock_guard<std::mutex> hold(g_seen_mutex);
  if (g_wanted.count(call->udn) != 0) g_seen.insert(call->udn);
}

// Our stack: start until every wanted UDN is reported; -1 on timeout.
double run_ours() {
  {
    std::lock_guard<std::mutex> hold(g_seen_mutex);
    g_seen.clear();
  }
  upnp_control_record_reset();
  auto start = Clock::now();
  upnp_server_start(UPNP_SERVER_RUNNING);
  double took = -1;
  while (ms_since(start) < kRoundLimitMs) {
    {
      std::lock_guard<std::mutex> hold(g_seen_mutex);
      if (g_seen.size() == g_wanted.size()) {
        took = ms_since(start);
        break;
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  upnp_server_stop(UPNP_SERVER_RUNNING);
  return took;
}

// gssdp-discover, one process per device type, started together; time
// until every wanted UDN appeared in their output; -1 on timeout or when
// the tool cannot run.
double run_gssdp(const std::string &interface) {
  const char *types[] = {"urn:schemas-upnp-org:device:MediaServer:1", "urn:schemas-upnp-org:device:MediaRenderer:1"};
  struct Tool {
    pid_t pid;
    int fd;
    std::string pending;
  };
  std::vector<Tool> tools;
  auto start = Clock::now();
  for (const char *type : types) {
    int pipe_fds[2];
    if (pipe(pipe_fds) != 0) return -1;
    pid_t pid = fork();
    if (pid == 0) {
      dup2(pipe_fds[1], 1);
      int null = open("/dev/null", O_WRONLY);
      dup2(null, 2);
      close(pipe_fds[0]);
      execlp("stdbuf", "stdbuf", "-oL", "gssdp-discover", "-i", interface.c_str(), "-t", type, "-n", "20",
             static_cast<char *>(nullptr));
      _exit(127);
    }
    close(pipe_fds[1]);
    tools.push_back({pid, pipe_fds[0], ""});
  }
  std::set<std::string> seen;
  double took = -1;
  while (ms_since(start) < kRoundLimitMs && took < 0) {
    std::vector<pollfd> fds;
    for (const Tool &t : tools) fds.push_back({t.fd, POLLIN, 0});
    if (poll(fds.data(), fds.size(), 50) <= 0) continue;
    bool open_any = false;
    for (size_t i = 0; i < tools.size(); ++i) {
      if ((fds[i].revents & (POLLIN | POLLHUP)) == 0) {
        open_any = true;
        continue;
      }
      char buffer[4096];
      ssize_t got = read(tools[i].fd, buffer, sizeof buffer);
      if (got <= 0) continue;
      open_any = true;
      tools[i].pending.append(buffer, static_cast<size_t>(got));
      size_t eol;
      while ((eol = tools[i].pending.find('\n')) != std::string::npos) {
        std::string line = tools[i].pending.substr(0, eol);
        tools[i].pending.erase(0, eol + 1);
        size_t at = line.find("USN:");
        if (at == std::string::npos) continue;
        std::string usn = line.substr(line.find("uuid:", at) != std::string::npos ? line.find("uuid:", at) : at);
        std::string udn = usn.substr(0, usn.find("::"));
        if (g_wanted.count(udn) != 0) seen.insert(udn);
      }
    }
    if (seen.size() == g_wanted.size()) took = ms_since(start);
    if (!open_any) break;
  }
  for (Tool &t : tools) {
    kill(t.pid, SIGTERM);
    int status;
    waitpid(t.pid, &status, 0);
    close(t.fd);
  }
  return took;
}

// Start of the stack to its first M-SEARCH heard on the group.
double run_first_search(const std::string &address) {
  upnp_socket_t s = upnp_socket_create_udp();
  setSockOptReuseAddr(s);
  sockaddr_in group{};
  group.sin_family = AF_INET;
  group.sin_port = htons(SSDP_PORT);
  inet_pton(AF_INET, SSDP_MULTICAST_ADDRESS, &group.sin_addr);
  if (upnp_socket_bind(s, &group) != 0 ||
      upnp_socket_setSockOptAddMembership(s, SSDP_MULTICAST_ADDRESS, address.c_str()) != 0) {
    upnp_socket_close(s);
    return -1;
  }
  setSockOptReceiveTimeout(s, 20);
  auto start = Clock::now();
  upnp_server_start(UPNP_SERVER_RUNNING);
  double took = -1;
  char buffer[2048];
  while (ms_since(start) < 5000) {
    sockaddr_in from{};
    ssize_t got = upnp_recvfrom(s, buffer, sizeof buffer - 1, 0, &from);
    if (got <= 0) continue;
    buffer[got] = '\0';
    char text[INET_ADDRSTRLEN];
    if (std::strncmp(buffer, "M-SEARCH", 8) == 0 &&
        address == inet_ntop(AF_INET, &from.sin_addr, text, sizeof text)) {
      took = ms_since(start);
      break;
    }
  }
  upnp_server_stop(UPNP_SERVER_RUNNING);
  upnp_socket_close(s);
  return took;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? -1 : v[v.size() / 2];
}

}  // namespace

int main() {
  if (env("LAB_NS_PID").empty()) {
    std::printf("bench_ssdp_discovery: runs only inside the lab (tests/lab/lab.sh run)\n");
    return 77;
  }
  upnp_mem_init();
  upnp_ini_file_init();
  upnp_ini_file_dmc_init();
  upnp_ini_file_setPropertyByKey(INI_HTTPPORT, "9020");
  upnp_cp_ssdp_init(0);
  upnp_control_record_set_listener(on_call);
  g_wanted.insert(env("LAB_SERVER_UDN"));
  for (int i = 1; i <= std::atoi(env("LAB_RENDERERS").c_str()); ++i) {
    g_wanted.insert(env(("LAB_RENDERER" + std::to_string(i) + "_UDN").c_str()));
  }
  std::printf("lab peers: %zu (1 media server, %zu renderers) on %s\n", g_wanted.size(), g_wanted.size() - 1,
              env("LAB_IFACE").c_str());

  std::vector<double> ours, gssdp, first;
  bool failed = false;
  for (int round = 0; round < kRounds; ++round) {
    double a = run_ours();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    double b = run_gssdp(env("LAB_IFACE"));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    double c = run_first_search(env("LAB_ADDR"));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    std::printf("round %d: libkestrel64 all peers %.1f ms, gssdp-discover all peers %.1f ms, first M-SEARCH %.1f ms\n",
                round + 1, a, b, c);
    std::fflush(stdout);
    failed = failed || a < 0 || c < 0;
    if (a >= 0) ours.push_back(a);
    if (b >= 0) gssdp.push_back(b);
    if (c >= 0) first.push_back(c);
  }
  double mo = median(ours), mg = median(gssdp), mf = median(first);
  std::printf("median time until every lab peer is reported: libkestrel64 %.1f ms, gssdp-discover %.1f ms\n", mo, mg);
  if (mo > 0 && mg > 0) std::printf("ratio libkestrel64 / gssdp-discover: %.2f\n", mo / mg);
  std::printf("median start to first M-SEARCH: %.1f ms (budget 100 ms, ratio %.2f)\n", mf, mf / 100.0);
  upnp_server_stop(UPNP_SERVER_RUNNING);
  upnp_ini_file_release_on_exit();
  if (failed || mf < 0 || mf >= 100.0) {
    std::printf("FAILED: %s\n", failed ? "a round did not complete" : "first M-SEARCH over budget");
    return 1;
  }
  return 0;
}
