// The library's accounted memory in tests: a fixture whose tests must give
// back all they took, and taking over a text the library allocated.
#ifndef TESTS_SUPPORT_SUPPORT_MEM_H
#define TESTS_SUPPORT_SUPPORT_MEM_H

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace test_support {

// The text (or "<none>" for a null pointer), freed through the library.
std::string take_text(char *text);

// Whatever a test takes through the library's allocator it must have given
// back at its end.
class MemCheckedTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  int64_t before_ = 0;
};

}  // namespace test_support

#endif
