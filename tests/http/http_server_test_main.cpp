// Entry point of the server tests: the memory lock, then one server of the
// library on 127.0.0.1 with the test handlers for the whole run.
#include <gtest/gtest.h>

#include "base/upnp_log.h"
#include "base/upnp_mem.h"

void start_test_server();
void stop_test_server();

int main(int argc, char **argv) {
  upnp_mem_init();
  upnp_log_set_level(LOG_LEVEL_WARNING);
  ::testing::InitGoogleTest(&argc, argv);
  start_test_server();
  int result = RUN_ALL_TESTS();
  stop_test_server();
  return result;
}
