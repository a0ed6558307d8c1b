#include "support_mem.h"

#include "base/upnp_mem.h"

namespace test_support {

std::string take_text(char *text) {
  std::string out = text != nullptr ? text : "<none>";
  upnp_free_impl(text);
  return out;
}

void MemCheckedTest::SetUp() {
  upnp_mem_init();
  before_ = upnp_mem_used();
}

void MemCheckedTest::TearDown() { EXPECT_EQ(upnp_mem_used(), before_) << "accounted memory leaked"; }

}  // namespace test_support
