// Test entry point: the memory lock and the playlist store exist for the
// whole run, as after the library's start-up.
#include <gtest/gtest.h>

#include "base/upnp_mem.h"
#include "playlist/upnp_wpl.h"

int main(int argc, char **argv) {
  upnp_mem_init();
  upnp_wpl_init();
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
