// A crafted renderer on 127.0.0.1 for the renderer tests: it serves its
// description and SCPDs (with the state variables a case needs) and answers
// each SOAP action from a script, recording the arguments it was sent. HEAD
// requests to "/media/..." paths answer with scripted header fields.
#ifndef TESTS_NMC_NMC_DMR_CRAFTED_H
#define TESTS_NMC_NMC_DMR_CRAFTED_H

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace nmc_test {

struct CraftedRendererSetup {
  std::string udn;
  std::string name;
  // The description's modelName, and more elements of the device (a UPC).
  std::string model = "Crafted";
  // "@BASE@" in it stands for the renderer's own base URL.
  std::string device_extra;
  // Extra <stateVariable> elements of the RenderingControl and AVTransport
  // SCPDs (see state_variable()).
  std::string rcs_variables;
  std::string avt_variables;
};

// A state variable with an allowed range, or with allowed values.
std::string range_variable(const std::string &name, const std::string &maximum);
std::string values_variable(const std::string &name, const std::vector<std::string> &values);

class CraftedRenderer {
 public:
  explicit CraftedRenderer(const CraftedRendererSetup &setup);
  ~CraftedRenderer();
  std::string location() const;
  std::string url(const std::string &path) const;
  // The inner XML of the action's response element; replaces any fault.
  void answer(const std::string &action, const std::string &inner);
  void fault(const std::string &action, int code);
  // Header fields of a HEAD to path (status 200 unless `status`).
  void head(const std::string &path, const std::string &fields, int status = 200);
  // The value of argument `name` in every request of the action, in order.
  std::vector<std::string> sent(const std::string &action, const std::string &name);
  int count(const std::string &action);
  void clear_sent();
  // The whole response to a POST without a SOAP action to path (body as
  // sent); unset or an empty answer: 404.
  void on_post(std::function<std::string(const std::string &path, const std::string &body)> handler);

 private:
  void run();
  void serve(int fd);
  std::string reply(const std::string &method, const std::string &path, const std::string &action,
                    const std::string &body);

  CraftedRendererSetup setup_;
  int listen_fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::map<std::string, std::string> answers_;
  std::map<std::string, int> faults_;
  std::map<std::string, std::pair<std::string, int>> heads_;
  std::vector<std::pair<std::string, std::string>> requests_;  // action, body
  std::vector<std::thread> workers_;
  std::function<std::string(const std::string &, const std::string &)> on_post_;
  std::thread thread_;
};

}  // namespace nmc_test

#endif
