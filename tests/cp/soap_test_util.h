// Test support for the SOAP actions: a device table stand-in registered as
// the invocation's device access, and a SOAP server on 127.0.0.1 that records
// each request (path, SOAPACTION, body) and answers from a script.
#ifndef TESTS_CP_SOAP_TEST_UTIL_H
#define TESTS_CP_SOAP_TEST_UTIL_H

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/upnp_xml.h"
#include "cp/upnp_soap_internal.h"
#include "http_test_server.h"

struct FakeService {
  std::string control_url;
  std::string scpd_text;  // empty: no SCPD
};

// One device at every index and kind; the tests change its fields.
struct FakeDevice {
  std::string name = "Fake Device";
  std::string url_base;
  std::map<unsigned, FakeService> services;
  uint32_t broken = 0;
  int lookup_rc = 0;
  bool lock_available = true;
  std::atomic<int> invalidations{0};
  std::atomic<int> lookups{0};
  int last_index = -1;
  int last_kind = -1;
};

// Registers the stand-in for the lifetime of the object.
class FakeDeviceTable {
 public:
  FakeDeviceTable();
  ~FakeDeviceTable();
  FakeDevice &device() { return device_; }
  // Adds a service whose SCPD lists `actions` (and optional state variables).
  void add_service(unsigned service, const std::string &control_url, const std::vector<std::string> &actions,
                   const std::string &state_variables = "");

 private:
  FakeDevice device_;
};

struct SoapRequest {
  std::string path;
  std::string soap_action;
  std::string body;
};

class SoapServer {
 public:
  // reply(request) gives the whole HTTP response text; an empty text closes
  // the connection without an answer.
  using Reply = std::function<std::string(const SoapRequest &)>;
  explicit SoapServer(Reply reply);
  std::string base() const { return server_->url(""); }
  std::vector<SoapRequest> requests();
  // A 200 response with a SOAP body holding `inner` in s:Body.
  static std::string ok(const std::string &inner);
  static std::string fault(int code, const std::string &description = "x");

 private:
  std::mutex mutex_;
  std::vector<SoapRequest> requests_;
  Reply reply_;
  std::unique_ptr<TestServer> server_;
};

#endif
