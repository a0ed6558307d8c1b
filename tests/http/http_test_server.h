// A small HTTP server on 127.0.0.1 for the client tests. It accepts one
// connection at a time on its own thread, reads the request header and hands
// the connection to the test's handler, which writes whatever the case needs
// (and may stall until the server is stopped).
#ifndef TESTS_HTTP_HTTP_TEST_SERVER_H
#define TESTS_HTTP_HTTP_TEST_SERVER_H

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class TestServer {
 public:
  // handler(fd, request header and any body bytes that came with it)
  using Handler = std::function<void(TestServer &, int fd, const std::string &request)>;

  explicit TestServer(Handler handler);
  ~TestServer();

  std::string url(const std::string &path = "/") const;
  int port() const { return port_; }
  // Requests seen so far.
  std::vector<std::string> requests();
  // Waits until the server stops or ms pass; true when stopped.
  bool wait_stop(int ms);
  // Writes all of text; false when the peer went away.
  static bool send_all(int fd, const std::string &text);
  // Reads until `want` more bytes of body arrived (after the header).
  static std::string read_more(int fd, size_t want, std::string already);

 private:
  void run();

  Handler handler_;
  int listen_fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::condition_variable cv_;
  std::vector<std::string> requests_;
  std::thread thread_;
};

// A complete response with a Content-Length.
std::string http_response(const std::string &status, const std::string &body,
                          const std::string &extra_headers = "");

#endif
