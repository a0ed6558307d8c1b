// Waiting for a condition that another thread brings about.
#ifndef TESTS_SUPPORT_SUPPORT_WAIT_H
#define TESTS_SUPPORT_SUPPORT_WAIT_H

#include <functional>

namespace test_support {

// Asks pred every step_ms for up to ms, and once more at the end; true when
// it held.
bool wait_until(const std::function<bool()> &pred, int ms, int step_ms = 10);

}  // namespace test_support

#endif
