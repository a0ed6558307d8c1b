// A crafted media server on 127.0.0.1 for the server-side controller tests:
// it serves its description and SCPDs and answers ContentDirectory actions
// from a table of objects, with switches for the ways real servers
// miscount, and records every action it was asked (name and arguments).
#ifndef TESTS_NMC_NMC_DMS_SERVER_H
#define TESTS_NMC_NMC_DMS_SERVER_H

#include <functional>
#include <map>
#include <memory>
#include <atomic>
#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

#include "http_test_server.h"

namespace nmc_test {

struct CdsObject {
  std::string id;
  std::string parent;
  std::string title;
  bool container = false;
  std::string upnp_class;
  // More DIDL-Lite elements of the object (res, upnp:artist, ...).
  std::string extra;
  bool no_id = false, no_parent = false, no_title = false, no_child_count = false;
};

struct CdsCall {
  std::string action;
  std::map<std::string, std::string> args;
};

// A hook the test sets while the server's thread may read it.
template <typename Fn>
class GuardedHook {
 public:
  GuardedHook &operator=(Fn fn) {
    std::lock_guard<std::mutex> hold(mutex_);
    fn_ = std::move(fn);
    return *this;
  }
  GuardedHook &operator=(std::nullptr_t) { return *this = Fn(); }
  Fn get() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return fn_;
  }

 private:
  mutable std::mutex mutex_;
  Fn fn_;
};

class CdsServer {
 public:
  // The description's extra device elements (manufacturer, modelNumber...).
  explicit CdsServer(const std::string &udn, const std::string &name, const std::string &device_extra = "",
                     bool with_search = true);
  ~CdsServer();

  void add(const CdsObject &object);
  // A container with `count` items "<prefix> n" (n from 0).
  void add_items(const std::string &container, int count, const std::string &prefix);

  // Miscounting: TotalMatches always 0; NumberReturned this much above what
  // is sent; objects sent beyond NumberReturned.
  std::atomic<bool> total_zero{false};
  std::atomic<int> returned_extra{0};
  // A reply of its own for an action (an empty text uses the table).
  GuardedHook<std::function<std::string(const CdsCall &)>> reply;
  // Extra header fields of a GET of "/" (the base URL kinds look at).
  std::string root_header;
  // The whole response to a GET of any other path (an empty text: 404).
  GuardedHook<std::function<std::string(const std::string &path)>> other_get;
  // Extra device elements of the description (a "modelName" among them
  // replaces the default one); may be changed before the server is added.
  std::string device_extra;

  std::string description_url() const;
  std::string base_url() const;
  std::vector<CdsCall> calls();
  std::vector<CdsCall> calls_of(const std::string &action);
  void clear_calls();

  // A SOAP response with `inner` as the body element's content.
  static std::string soap_ok(const std::string &inner);
  static std::string soap_fault(int code);
  static std::string escape(const std::string &text);
  // The DIDL-Lite text of objects.
  std::string didl(const std::vector<const CdsObject *> &objects);

 private:
  std::string answer(const CdsCall &call);
  std::vector<const CdsObject *> children(const std::string &id);

  std::string udn_, name_;
  bool with_search_;
  std::mutex mutex_;
  std::vector<CdsObject> objects_;
  std::vector<CdsCall> calls_;
  std::unique_ptr<TestServer> server_;
};

}  // namespace nmc_test

#endif
