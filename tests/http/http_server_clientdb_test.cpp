// The server's use of the client database: clients whose type asks for
// HTTP/1.0 replies, persistent HTTP/1.0 connections and the special reply
// header, recognised from a "clients.db" the test provides.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "base/upnp_ini_file.h"
#include "base/upnp_mem.h"
#include "base/upnp_resource.h"
#include "clientdb/upnp_client_db.h"
#include "clientdb/upnp_client_db_internal.h"
#include "http_server_test_util.h"

namespace {

// Type 2 is the old client: recognised by its header mark.
const char kClientsDb[] =
    ">>\n# type 0\n>>\nNA:Generic client\n>>\nHH:OldBox/1.0\nNA:Old box\nDX:REDSONIC\nHP:1.0RESPONSE\n>>\n";

int serve_db(const char *name, uint32_t *size, char **data) {
  *size = 0;
  *data = nullptr;
  if (std::strcmp(name, "clients.db") != 0) return 0;
  size_t n = sizeof kClientsDb - 1;
  char *copy = static_cast<char *>(upnp_malloc_impl(n + 2));
  std::memcpy(copy, kClientsDb, n);
  copy[n] = copy[n + 1] = '\0';
  *size = static_cast<uint32_t>(n);
  *data = copy;
  return 1;
}

int no_mac(const char *, char *mac) {
  mac[0] = '\0';
  return 0;
}

class HttpServerClients : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/kestrel-httpd-cdb-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(pattern));
    dir_ = pattern;
    upnp_ini_file_init();
    upnp_ini_file_setPropertyByKey(INI_APPDATA, dir_.c_str());
    g_cdb_mac_lookup = no_mac;
    register_upnp_resource_get_function(serve_db);
    ASSERT_GE(upnp_client_db_init(), 3);
  }
  void TearDown() override {
    upnp_client_db_exit();
    register_upnp_resource_get_function(nullptr);
    upnp_ini_file_release_on_exit();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  std::string dir_;
};

TEST_F(HttpServerClients, KnownOldClientKeepsItsHttp10Connection) {
  int fd = connect_server();
  ASSERT_GE(fd, 0);
  send_text(fd, "GET /small HTTP/1.0\r\nUser-Agent: OldBox/1.0\r\nConnection: Keep-Alive\r\n\r\n");
  Response r = parse_response(read_response(fd));
  EXPECT_EQ(0u, r.header.find("HTTP/1.0 200 OK\r\n"));
  EXPECT_EQ("keep-alive", field(r.header, "Connection"));
  send_text(fd, "GET /small HTTP/1.0\r\nUser-Agent: OldBox/1.0\r\nConnection: Keep-Alive\r\n\r\n");
  EXPECT_EQ("hello", parse_response(read_response(fd)).body);
  close(fd);
  // Any other HTTP/1.0 client is still closed.
  fd = connect_server();
  send_text(fd, "GET /small HTTP/1.0\r\nUser-Agent: NewBox/2.0\r\nConnection: Keep-Alive\r\n\r\n");
  r = parse_response(read_response(fd));
  EXPECT_EQ(0u, r.header.find("HTTP/1.1 200 OK\r\n"));
  EXPECT_TRUE(closed_by_server(fd, 2000));
  close(fd);
}

TEST_F(HttpServerClients, OldClientGetsNotFoundForUnsatisfiableRanges) {
  std::string all = round_trip("GET /data HTTP/1.0\r\nUser-Agent: OldBox/1.0\r\nConnection: Keep-Alive\r\n"
                             "Range: bytes=50-10\r\n\r\n");
  Response r = parse_response(all);
  EXPECT_EQ(0u, r.header.find("HTTP/1.0 404 Not Found\r\n")) << r.header;
  EXPECT_EQ("close", field(r.header, "Connection"));
}

TEST_F(HttpServerClients, RedsonicRequestsGetTheSpecialHeader) {
  int fd = connect_server();
  send_text(fd, "GET /small HTTP/1.0\r\nUser-Agent: OldBox/1.0 (redsonic)\r\n\r\n");
  std::string text = read_response(fd);
  close(fd);
  EXPECT_EQ("HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 5\r\nAccept-Range: 0 bytes\r\n"
            "User-Agent: redsonic\r\n\r\nhello",
            text);
}

}  // namespace
