// A POST sink on 127.0.0.1 for the upload tests and the benchmark: one
// thread per connection reads the request header, answers it as its mode
// says, reads the body by its framing (length or chunks) and answers again.
#ifndef TESTS_PLAYLIST_UPLOAD_SINK_H
#define TESTS_PLAYLIST_UPLOAD_SINK_H

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace upload_test {

enum class SinkMode {
  continue_201,         // "100 Continue", body, "201 Created"
  silent_200,           // no interim answer, body, "200 OK"
  refuse_417,           // "417 Expectation Failed" to the header
  continue_then_close,  // 100, body, close without an answer
  continue_final_100,   // 100, body, another 100, close
  continue_100_201,     // 100, body, another 100, then 201
  close_early,          // 100, 1000 bytes of body, close
  slow_reader,          // 100, body read 4 KiB at a time with pauses, 201
  refuse_body_403,      // 100, body, "403 Forbidden"
  stall,                // 100, then reads nothing until the sink ends
};

struct SinkRequest {
  std::string header;
  std::string raw_body;   // as it came (chunk lines included)
  std::string body;       // decoded
  bool complete = false;  // the framing's end was reached
};

class Sink {
 public:
  explicit Sink(SinkMode mode);
  ~Sink();
  std::string url(const std::string &path = "/upload") const;
  std::vector<SinkRequest> requests();
  // Ends the stalls.
  void release();

 private:
  void serve(int fd);
  SinkMode mode_;
  int listen_fd_ = -1;
  int port_ = 0;
  bool stopping_ = false;
  std::mutex mutex_;
  std::condition_variable released_;
  std::vector<SinkRequest> requests_;
  std::vector<std::thread> threads_;
  std::thread acceptor_;
};

// Reads a body after header from fd (already holds bytes read with the
// header): by Content-Length, or chunked; pause_ms between 4 KiB reads.
SinkRequest read_request_body(int fd, const std::string &header, std::string already, int pause_ms = 0,
                              size_t stop_after = std::string::npos);

}  // namespace upload_test

#endif
