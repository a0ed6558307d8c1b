// For the component's unit tests: creating the component starts the
// controller, here without network (nothing leaves the host's namespace) and
// with its files in a folder of the test's own; the control point is cleaned
// up when the program's tests are done.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <memory>

#include "media/zel_control_point.h"
#include "nmc/lm_nmc.h"
#include "nmc/lm_nmc_internal.h"
#include "support_files.h"

namespace {

class OfflineController : public ::testing::Environment {
 public:
  void SetUp() override {
    dir_ = std::make_unique<test_support::TempDir>("xpcom_controller");
    setenv("KESTREL_APP_SUPPORT_DIR", dir_->path().c_str(), 1);  // the controller's log goes there
    nmc_set_network(0);
    lm_nmc_set_appdata_path(dir_->path().c_str());
  }
  void TearDown() override {
    ZelControlPoint2::Cleanup();
    lm_nmc_set_appdata_path(nullptr);
  }

 private:
  std::unique_ptr<test_support::TempDir> dir_;
};

::testing::Environment *const g_offline = ::testing::AddGlobalTestEnvironment(new OfflineController);

}  // namespace
