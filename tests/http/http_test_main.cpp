// Test entry point: the library's memory lock is created once, as the
// library's own start-up does, before any test allocates through it.
#include <gtest/gtest.h>

#include "base/upnp_mem.h"

int main(int argc, char **argv) {
  upnp_mem_init();
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
