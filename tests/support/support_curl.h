// Running one curl process as the reference of a benchmark, and the text of
// a query value in the URLs given to curl.
#ifndef TESTS_SUPPORT_SUPPORT_CURL_H
#define TESTS_SUPPORT_SUPPORT_CURL_H

#include <string>
#include <vector>

namespace test_support {

// Runs curl with args (the first is "curl"); every request of the chain
// writes its "%{time_total}" on a line of its own ("-w"). Answers the sum of
// those times in seconds, or -1 when curl could not run or failed.
double run_curl_chain(std::vector<std::string> args);

// text with every byte but letters and digits written as %XX, for a query
// value.
std::string url_escape(const std::string &text);

}  // namespace test_support

#endif
