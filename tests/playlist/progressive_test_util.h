// Servers and file checks for the progressive download tests: a resource
// server whose answers change from one GET to the next (a cut first answer,
// then whole ones), a paced server, and the data file and block map on disk.
#ifndef TESTS_PLAYLIST_PROGRESSIVE_TEST_UTIL_H
#define TESTS_PLAYLIST_PROGRESSIVE_TEST_UTIL_H

#include <atomic>
#include <string>
#include <vector>

#include "http_test_server.h"

// GET number n (from 0) is answered as stages[min(n, last)]; HEAD as stage 0.
TestServer::Handler staged_handler(const std::vector<CraftedResource> &stages, std::atomic<int> *gets);

// Answers HEAD and GET (with "Range: bytes=N-") for body, sending the body in
// pieces of `piece` bytes with a pause of pause_us after each.
TestServer::Handler paced_handler(const std::string &body, size_t piece, int pause_us);

// Blocks marked 1 in map whose bytes in data differ from original's; -1
// when the files do not fit the original's length.
int wrongly_marked_blocks(const std::string &data, const std::string &map, const std::string &original);

#endif
