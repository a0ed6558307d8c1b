// Device table at scale inside the lab (tests/lab/lab.sh run, with
// LAB_RENDERERS=30): the lab's 30 real renderers and its media server plus
// 29 crafted servers (descriptions on the lab's HTTP file server, answering
// M-SEARCH from the peers' namespace) are discovered by a control point
// started from scratch. Measured from the first M-SEARCH on the wire until
// every one of them is usable, beside the same start with one slot per kind
// (time until one server and one renderer are usable) as the reference; with
// the process's threads and peak resident memory, and the library's own
// memory. Each start runs in a child process of its own, so that threads and
// peaks are those of that start alone. Bounded: 3 rounds, 20 s per start.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "base/upnp_ini_file.h"
#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "cp/upnp_cp.h"
#include "cp_test_util.h"

using Clock = std::chrono::steady_clock;

namespace {

constexpr int kRounds = 3;
constexpr int kCrafted = 29;
constexpr int kWanted = 30;  // per kind
constexpr int kStartLimitMs = 20000;
constexpr double kBudgetMs = 10000;

std::string env(const char *name) {
  const char *v = std::getenv(name);
  return v != nullptr ? v : "";
}

long status_value(const char *field) { return cp_test::process_status_value(field); }

int usable(int kind) { return cp_test::usable_count(kind); }

// Hears the library's first M-SEARCH on the lab's group.
class SearchWatch {
 public:
  explicit SearchWatch(const std::string &address) : address_(address) {
    fd_ = socket(AF_INET, SOCK_DGRAM, 0);
    int one = 1;
    setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in group{};
    group.sin_family = AF_INET;
    group.sin_port = htons(1900);
    inet_pton(AF_INET, "239.255.255.250", &group.sin_addr);
    ip_mreq join{};
    join.imr_multiaddr = group.sin_addr;
    inet_pton(AF_INET, address.c_str(), &join.imr_interface);
    ok_ = bind(fd_, reinterpret_cast<sockaddr *>(&group), sizeof group) == 0 &&
          setsockopt(fd_, IPPROTO_IP, IP_ADD_MEMBERSHIP, &join, sizeof join) == 0;
    if (ok_) thread_ = std::thread([this] { run(); });
  }
  ~SearchWatch() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    close(fd_);
  }
  bool ok() const { return ok_; }
  // The time of the first M-SEARCH, or none yet.
  bool first(Clock::time_point *at) const {
    if (!heard_) return false;
    *at = Clock::time_point(Clock::duration(first_.load()));
    return true;
  }

 private:
  void run() {
    while (!stop_ && !heard_) {
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, 20) <= 0) continue;
      char buffer[2048];
      sockaddr_in from{};
      socklen_t length = sizeof from;
      ssize_t got = recvfrom(fd_, buffer, sizeof buffer - 1, 0, reinterpret_cast<sockaddr *>(&from), &length);
      if (got <= 0) continue;
      char text[INET_ADDRSTRLEN];
      if (std::strncmp(buffer, "M-SEARCH", 8) == 0 &&
          address_ == inet_ntop(AF_INET, &from.sin_addr, text, sizeof text)) {
        first_ = Clock::now().time_since_epoch().count();
        heard_ = true;
      }
    }
  }

  std::string address_;
  int fd_ = -1;
  bool ok_ = false;
  std::atomic<bool> stop_{false};
  std::atomic<bool> heard_{false};
  std::atomic<Clock::rep> first_{0};
  std::thread thread_;
};

struct Figures {
  double usable_ms = -1;  // first M-SEARCH until the wanted devices are usable
  int servers = 0, renderers = 0;
  int threads_before = 0, threads_peak = 0, threads_after = 0;
  long rss_before_kb = 0, hwm_kb = 0;
  long long library_bytes = 0;
};

// One start of the control point with `slots` entries per kind, until
// `wanted` servers and renderers are usable. Runs in a child process.
Figures start_once(int slots, int wanted) {
  Figures f;
  upnp_mem_init();
  upnp_ini_file_init();
  upnp_ini_file_dmc_init();
  upnp_log_set_level(LOG_LEVEL_CRITICAL);
  upnp_ini_file_setPropertyByKey(INI_HTTPPORT, "9030");
  std::string n = std::to_string(slots);
  upnp_ini_file_setPropertyByKey(INI_MAX_SUPPORTED_SERVER, n.c_str());
  upnp_ini_file_setPropertyByKey(INI_MAX_SUPPORTED_RENDERER, n.c_str());
  SearchWatch watch(env("LAB_ADDR"));
  if (!watch.ok()) return f;
  f.threads_before = static_cast<int>(status_value("Threads"));
  f.rss_before_kb = status_value("VmRSS");
  long long memory_before = upnp_mem_used();
  Clock::time_point start = Clock::now();
  if (upnp_control_init2(0) != 0) return f;
  Clock::time_point done{};
  while (Clock::now() - start < std::chrono::milliseconds(kStartLimitMs)) {
    f.threads_peak = std::max(f.threads_peak, static_cast<int>(status_value("Threads")));
    f.servers = usable(1);
    f.renderers = usable(2);
    if (f.servers >= wanted && f.renderers >= wanted) {
      done = Clock::now();
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  Clock::time_point searched;
  if (done != Clock::time_point{} && watch.first(&searched))
    f.usable_ms = std::chrono::duration<double, std::milli>(done - searched).count();
  std::this_thread::sleep_for(std::chrono::seconds(1));  // loaders done
  f.threads_after = static_cast<int>(status_value("Threads"));
  f.library_bytes = upnp_mem_used() - memory_before;
  f.hwm_kb = status_value("VmHWM");
  upnp_control_exit();
  upnp_ini_file_release_on_exit();
  return f;
}

Figures start_in_child(int slots, int wanted) {
  int fds[2];
  Figures f;
  if (pipe(fds) != 0) return f;
  pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    Figures mine = start_once(slots, wanted);
    ssize_t w = write(fds[1], &mine, sizeof mine);
    _exit(w == static_cast<ssize_t>(sizeof mine) ? 0 : 1);
  }
  close(fds[1]);
  pollfd p{fds[0], POLLIN, 0};
  if (poll(&p, 1, kStartLimitMs + 15000) > 0 && read(fds[0], &f, sizeof f) != static_cast<ssize_t>(sizeof f)) f = Figures{};
  close(fds[0]);
  kill(pid, SIGKILL);  // only when it hangs; it has ended otherwise
  int status = 0;
  waitpid(pid, &status, 0);
  return f;
}

// The crafted servers: descriptions and service descriptions in the lab's
// web root, and the responder in the peers' namespace.
struct Crafted {
  std::vector<std::string> dirs;
  std::string list_path;
  pid_t responder = -1;
  int out = -1;

  bool start(const std::string &script) {
    std::string www = env("LAB_WWW");
    list_path = www + "/desc/cp-scale-list.txt";
    std::ofstream list(list_path);
    const char *type = "urn:schemas-upnp-org:device:MediaServer:1";
    for (int i = 1; i <= kCrafted; ++i) {
      char udn[64];
      std::snprintf(udn, sizeof udn, "uuid:cp-scale-server-s%05d", i);
      std::string tail = std::string(udn).substr(std::strlen(udn) - 6);
      std::string dir = www + "/" + tail;
      mkdir(dir.c_str(), 0755);
      dirs.push_back(dir);
      std::ofstream(dir + "/desc.xml") << cp_test::description(udn, type, "Scale Server " + tail, {"CM", "CDS"});
      std::ofstream(dir + "/CDS.xml") << cp_test::scpd({"Browse", "Search", "GetSystemUpdateID"});
      std::ofstream(dir + "/CM.xml") << cp_test::scpd({"GetProtocolInfo"});
      list << udn << " " << type << " " << env("LAB_HTTP_URL") << tail << "/desc.xml\n";
    }
    list.close();
    int fds[2];
    if (pipe(fds) != 0) return false;
    responder = fork();
    if (responder == 0) {
      dup2(fds[1], 1);
      close(fds[0]);
      std::string ns = env("LAB_PEERS_NS_PID");
      execlp("nsenter", "nsenter", "-t", ns.c_str(), "-n", "--", "python3", script.c_str(), "respond",
             list_path.c_str(), "300", static_cast<char *>(nullptr));
      _exit(127);
    }
    close(fds[1]);
    out = fds[0];
    char ready[16] = {};
    pollfd p{out, POLLIN, 0};
    return poll(&p, 1, 10000) > 0 && read(out, ready, sizeof ready - 1) > 0 && std::strncmp(ready, "ready", 5) == 0;
  }
  ~Crafted() {
    if (responder > 0) {
      kill(responder, SIGTERM);
      int status = 0;
      waitpid(responder, &status, 0);
    }
    if (out >= 0) close(out);
    if (!list_path.empty()) unlink(list_path.c_str());
    for (const std::string &d : dirs) {
      for (const char *f : {"/desc.xml", "/CDS.xml", "/CM.xml"}) unlink((d + f).c_str());
      rmdir(d.c_str());
    }
  }
};

double median(std::vector<double> v) {
  if (v.empty()) return -1;
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main() {
  if (env("LAB_NS_PID").empty() || std::atoi(env("LAB_RENDERERS").c_str()) < kWanted) {
    std::printf("bench_cp_scale: runs only inside a lab with %d renderers (LAB_RENDERERS=%d lab.sh run ...)\n",
                kWanted, kWanted);
    return 77;
  }
  Crafted crafted;
  if (!crafted.start(CP_SCALE_SSDP_SCRIPT)) {
    std::printf("FAILED: the crafted servers' responder did not start\n");
    return 1;
  }
  std::printf("devices: %d renderers (gmediarender), 1 media server (minidlna) + %d crafted servers\n", kWanted,
              kCrafted);
  std::vector<double> reference, scale;
  bool complete = true;
  Figures last, last_one;
  for (int round = 1; round <= kRounds; ++round) {
    Figures one = start_in_child(1, 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    Figures all = start_in_child(kWanted, kWanted);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    std::printf("round %d: 1+1 usable %.1f ms after the first M-SEARCH; 30+30: %d servers and %d renderers usable "
                "%.1f ms after it; threads %d before, peak %d, %d settled; peak RSS %ld kB (%ld kB before start); "
                "library memory %.1f KiB\n",
                round, one.usable_ms, all.servers, all.renderers, all.usable_ms, all.threads_before, all.threads_peak,
                all.threads_after, all.hwm_kb, all.rss_before_kb, all.library_bytes / 1024.0);
    std::fflush(stdout);
    if (one.usable_ms >= 0) reference.push_back(one.usable_ms);
    if (all.usable_ms >= 0) scale.push_back(all.usable_ms);
    complete = complete && all.usable_ms >= 0;
    last = all;
    last_one = one;
  }
  double ref = median(reference), big = median(scale);
  std::printf("median time to usable after the first M-SEARCH: 30 servers + 30 renderers %.1f ms, reference 1 server "
              "+ 1 renderer %.1f ms\n",
              big, ref);
  if (ref > 0 && big > 0) std::printf("ratio 30+30 / 1+1: %.2f\n", big / ref);
  std::printf("ratio 30+30 / budget (10 s): %.2f (target <= 1.0)\n", big / kBudgetMs);
  std::printf("threads at 30+30 (last round): peak %d, settled %d (%d before start); peak RSS %.1f MiB\n",
              last.threads_peak, last.threads_after, last.threads_before, last.hwm_kb / 1024.0);
  // Growth with the device count, last round: the threads still running
  // after settling, and memory per device beyond the first server and
  // renderer, against a budget of 0.5 MiB per device.
  const int added = 2 * (kWanted - 1);
  const double budget = 0.5 * 1024 * 1024;
  if (last_one.threads_after > 0 && last.threads_after > 0) {
    std::printf("settled threads: 1+1 %d, 30+30 %d; ratio threads 30+30 / 1+1: %.2f (target <= 1.0)\n",
                last_one.threads_after, last.threads_after,
                static_cast<double>(last.threads_after) / last_one.threads_after);
    double library = static_cast<double>(last.library_bytes - last_one.library_bytes) / added;
    double resident = (last.hwm_kb - last_one.hwm_kb) * 1024.0 / added;
    std::printf("library memory per added device %.1f KiB (1+1 %.1f KiB, 30+30 %.1f KiB); ratio to budget "
                "(0.5 MiB): %.3f (target <= 1.0)\n",
                library / 1024, last_one.library_bytes / 1024.0, last.library_bytes / 1024.0, library / budget);
    std::printf("peak RSS per added device %.1f KiB (1+1 %ld kB, 30+30 %ld kB); ratio to budget (0.5 MiB): %.3f "
                "(target <= 1.0)\n",
                resident / 1024, last_one.hwm_kb, last.hwm_kb, resident / budget);
  }
  if (!complete || big < 0 || big > kBudgetMs) {
    std::printf("FAILED: %s\n", complete ? "over the 10 s budget" : "a round did not make every device usable");
    return 1;
  }
  return 0;
}
