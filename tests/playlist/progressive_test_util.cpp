#include "progressive_test_util.h"

#include <unistd.h>

#include <cstdlib>

#include "playlist/upnp_progressive.h"

TestServer::Handler staged_handler(const std::vector<CraftedResource> &stages, std::atomic<int> *gets) {
  std::vector<TestServer::Handler> handlers;
  for (const CraftedResource &r : stages) handlers.push_back(crafted_handler(r));
  return [handlers, gets](TestServer &server, int fd, const std::string &request) {
    if (request.compare(0, 5, "HEAD ") == 0) {
      handlers[0](server, fd, request);
      return;
    }
    size_t n = static_cast<size_t>(gets->fetch_add(1));
    handlers[n < handlers.size() ? n : handlers.size() - 1](server, fd, request);
  };
}

TestServer::Handler paced_handler(const std::string &body, size_t piece, int pause_us) {
  return [body, piece, pause_us](TestServer &, int fd, const std::string &request) {
    std::string fields = "Content-Type: audio/mpeg\r\nAccept-Ranges: bytes\r\nConnection: close\r\n";
    if (request.compare(0, 5, "HEAD ") == 0) {
      TestServer::send_all(fd, "HTTP/1.1 200 OK\r\n" + fields + "Content-Length: " + std::to_string(body.size()) +
                                   "\r\n\r\n");
      return;
    }
    size_t from = 0;
    std::string status = "200 OK";
    size_t range = request.find("Range: bytes=");
    if (range != std::string::npos) {
      from = std::min<size_t>(std::strtoull(request.c_str() + range + 13, nullptr, 10), body.size());
      status = "206 Partial Content";
      fields += "Content-Range: bytes " + std::to_string(from) + "-" + std::to_string(body.size() - 1) + "/" +
                std::to_string(body.size()) + "\r\n";
    }
    fields += "Content-Length: " + std::to_string(body.size() - from) + "\r\n";
    if (!TestServer::send_all(fd, "HTTP/1.1 " + status + "\r\n" + fields + "\r\n")) return;
    for (size_t at = from; at < body.size(); at += piece) {
      if (!TestServer::send_all(fd, body.substr(at, piece))) return;
      usleep(static_cast<useconds_t>(pause_us));
    }
  };
}

int wrongly_marked_blocks(const std::string &data, const std::string &map, const std::string &original) {
  const size_t blocks = (original.size() + DOWNLOAD_BLOCK_SIZE - 1) / DOWNLOAD_BLOCK_SIZE;
  if (data.size() != original.size() || map.size() != blocks) return -1;
  int wrong = 0;
  for (size_t b = 0; b < blocks; b++) {
    if (map[b] != 1) continue;
    size_t at = b * DOWNLOAD_BLOCK_SIZE;
    if (data.compare(at, DOWNLOAD_BLOCK_SIZE, original, at, DOWNLOAD_BLOCK_SIZE) != 0) wrong++;
  }
  return wrong;
}

