// A controller table for the web API tests: records every call with its
// arguments, counts contexts, and fails the operations a test names.
#ifndef TESTS_WEBAPI_WEBAPI_FAKE_H
#define TESTS_WEBAPI_WEBAPI_FAKE_H

#include <string>
#include <vector>

#include "webapi/webapi_controller.h"

namespace webapi_fake {

// Installs the fake table with a clean state.
void install();
// Puts the controller's own table back.
void remove();
// Calls seen so far ("set_mute 1", "go_bookmark uuid:x" ...).
std::vector<std::string> calls();
// Contexts created minus contexts deleted.
int open_contexts();
// Operations (by the names in calls()) that answer a failure.
void fail(const std::string &operation);
// Search results the fake server holds.
void set_search_results(unsigned count);
// The bookmark every object of the fake server answers ("item/1 a&b").
void set_bookmark(const std::string &bookmark);

}  // namespace webapi_fake

#endif
