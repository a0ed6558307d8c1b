// Test support of event subscription: a GENA device on 127.0.0.1 that serves
// its descriptions, answers SUBSCRIBE / UNSUBSCRIBE (with configurable
// answers) and GetTransportInfo, and a NOTIFY sender.
#ifndef TESTS_CP_CP_EVENTING_UTIL_H
#define TESTS_CP_CP_EVENTING_UTIL_H

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace cp_eventing_test {

struct Request {
  std::string method, path, header, body;
};

class GenaDevice {
 public:
  GenaDevice();
  ~GenaDevice();
  std::string url(const std::string &path) const;
  int port() const { return port_; }
  void put(const std::string &path, const std::string &body);
  std::vector<Request> requests(const std::string &method);

  // Answers: granted seconds (-1 leaves TIMEOUT out), a status for renewals,
  // no SID in the answer, a delay of the SUBSCRIBE answer with a hook that
  // runs first (given the new SID), the transport state for
  // GetTransportInfo, and a stall that holds every SOAP answer back while it
  // is set (a hung renderer).
  std::atomic<int> grant_seconds{1800};
  std::atomic<int> renew_status{200};
  std::atomic<bool> omit_sid{false};
  std::atomic<int> subscribe_delay_ms{0};
  std::function<void(const std::string &sid)> before_answer;
  std::mutex state_mutex;
  std::string transport_state = "STOPPED";
  std::atomic<bool> stall_soap{false};

 private:
  void run();
  void answer(int fd);

  int listen_fd_ = -1;
  int port_ = 0;
  int next_sid_ = 1;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::map<std::string, std::string> files_;
  std::vector<Request> requests_;
  std::vector<std::thread> workers_;
  std::thread thread_;
};

// Sends one NOTIFY to 127.0.0.1:port from `from` (a loopback address) and
// returns the status of the answer (0 when none). seq < 0 leaves SEQ out;
// empty nt leaves NT and NTS out. chunked sends the body in chunks of at most
// chunk_size bytes instead of with a Content-Length.
int send_notify(int port, const std::string &sid, long long seq, const std::string &body,
                const std::string &nt = "upnp:event", const std::string &from = "127.0.0.1",
                const std::string &extra = "", bool chunked = false, size_t chunk_size = 65536);
// A LastChange event body of AVTransport with a transport state, of
// RenderingControl with a volume, or a ContentDirectory propertyset.
std::string avt_body(const std::string &state);
std::string rcs_body(int volume);
std::string cds_body(int update_id);

}  // namespace cp_eventing_test

#endif
