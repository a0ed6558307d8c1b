// nginx as the reference server of a benchmark: on 127.0.0.1 at a free port,
// serving static files from a private prefix in a temporary folder, stopped
// and the folder removed when the object goes.
#ifndef TESTS_SUPPORT_SUPPORT_NGINX_H
#define TESTS_SUPPORT_SUPPORT_NGINX_H

#include <sys/types.h>

#include <string>
#include <utility>
#include <vector>

namespace test_support {

class ReferenceNginx {
 public:
  // Whether /usr/sbin/nginx can be run.
  static bool available();
  // Serves files (name, bytes) with default_type as their content type;
  // ready() once the first file answers 200 (within 5 s).
  ReferenceNginx(const std::vector<std::pair<std::string, std::string>> &files, const std::string &default_type);
  ~ReferenceNginx();
  ReferenceNginx(const ReferenceNginx &) = delete;
  ReferenceNginx &operator=(const ReferenceNginx &) = delete;
  bool ready() const { return ready_; }
  std::string url(const std::string &file) const;

 private:
  std::string dir_;
  int port_ = 0;
  pid_t pid_ = -1;
  bool ready_ = false;
};

}  // namespace test_support

#endif
