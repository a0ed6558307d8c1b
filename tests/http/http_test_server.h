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
  // The start of each GET's "Range: bytes=N-" seen so far (0 without one).
  std::vector<long long> get_ranges();
  // Adds a request that a handler read itself (a kept connection's next one).
  void record_request(const std::string &request);
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

// A crafted media resource: how the server answers HEAD and GET for it. The
// server reads each further request of a kept connection itself.
struct CraftedResource {
  std::string body;              // the resource's bytes
  std::string content_type = "audio/mpeg";
  int head_status = 200;         // e.g. 405 or 406 refuse the HEAD
  bool keep_alive = false;       // keep the connection after HEAD for the GET
  bool ranges = true;            // answer "Range: bytes=N-" with 206 (false: ignore it, 200 from byte 0)
  bool accept_ranges = true;     // send "Accept-Ranges: bytes"
  bool chunked = false;          // chunked body, an extension on every size line
  size_t chunk = 1000;           // chunk size
  std::string bad_size_line;     // sent as the second size line (e.g. "zz")
  bool no_length = false;        // no length and no chunks: the body ends with the close
  size_t close_after = std::string::npos;  // close after this many body bytes
  size_t stall_after = std::string::npos;  // stop sending after this many body bytes until the peer goes
  int interim = 0;               // "100 Continue" answers before the GET's answer
  size_t big_header = 0;         // one more field of this many bytes
  std::string redirect;          // a GET of "/" is answered 302 with this Location
  bool redirect_loop = false;    // every GET is answered 302 to itself
  std::string head_fields;       // more fields of the HEAD answer
  std::string get_fields;        // more fields of the GET answer
};
TestServer::Handler crafted_handler(const CraftedResource &resource);

// A ShoutCast answer: "ICY 200 OK" (or the given status line) with station
// fields, then the audio with a metadata block after every `metaint` bytes
// (metaint 0: none) that carries the next of `titles` as StreamTitle and
// StreamUrl; chunked in pieces of `chunk` bytes when chunk > 0.
std::string icy_answer(const std::string &audio, size_t metaint, const std::vector<std::string> &titles,
                       size_t chunk = 0, const std::string &status_line = "ICY 200 OK");

// Bytes of a resource whose every byte tells its position (a 251-byte cycle,
// so no power-of-two offset repeats a piece unnoticed).
std::string patterned_body(size_t size);

#endif
