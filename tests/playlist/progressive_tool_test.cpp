// kestrel-stream -m progressive against a paced server on 127.0.0.1: Ctrl-C
// (SIGINT) ends a run keeping the files with only true blocks marked, and a
// second run with the same path says where it resumes, fetches from that
// block on and ends with a copy equal to the original.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "http_test_server.h"
#include "playlist/upnp_progressive.h"
#include "progressive_test_util.h"
#include "support_files.h"
#include "support_wait.h"

namespace {

using test_support::read_file;

// Starts the tool with its output into out; the child's pid.
pid_t start_tool(const std::string &url, const std::string &path, const std::string &out) {
  pid_t child = fork();
  if (child == 0) {
    int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) _exit(127);
    dup2(fd, 1);
    dup2(fd, 2);
    execl(KESTREL_STREAM, KESTREL_STREAM, "-m", "progressive", "-o", path.c_str(), url.c_str(),
          static_cast<char *>(nullptr));
    _exit(127);
  }
  return child;
}

int exit_code(pid_t child) {
  int status = 0;
  if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

TEST(ProgressiveTool, InterruptedRunResumesAtTheFirstMissingBlock) {
  test_support::TempDir dir("kestrel-progressive-tool");
  const std::string body = patterned_body(3000000);  // 184 blocks, about 1.5 s from the paced server
  const size_t blocks = (body.size() + DOWNLOAD_BLOCK_SIZE - 1) / DOWNLOAD_BLOCK_SIZE;
  TestServer server(paced_handler(body, 4096, 2000));
  const std::string url = server.url("/media.mp3"), path = (dir.path() / "copy.mp3").string();
  const std::string out1 = (dir.path() / "run1.txt").string(), out2 = (dir.path() / "run2.txt").string();

  pid_t child = start_tool(url, path, out1);
  ASSERT_GT(child, 0);
  // Interrupted once it printed some progress of the download.
  EXPECT_TRUE(test_support::wait_until([&] { return read_file(out1).find("DOWNLOADING") != std::string::npos; },
                                       10000));
  usleep(300000);
  kill(child, SIGINT);
  EXPECT_EQ(exit_code(child), 1);
  const std::string text1 = read_file(out1);
  EXPECT_NE(text1.find("interrupted: "), std::string::npos) << text1;
  const std::string map = read_file(path + "_bm");
  EXPECT_EQ(wrongly_marked_blocks(read_file(path), map, body), 0);
  const size_t marked = static_cast<size_t>(std::count(map.begin(), map.end(), '\1'));
  ASSERT_GT(marked, 0u) << "the map bytes still pending were not written at the interruption";
  ASSERT_LT(marked, blocks);
  const size_t first_missing = map.find('\0');
  const size_t gets_before = server.get_ranges().size();

  child = start_tool(url, path, out2);
  ASSERT_GT(child, 0);
  EXPECT_EQ(exit_code(child), 0);
  const std::string text2 = read_file(out2);
  const std::string said = "resuming " + path + ": " + std::to_string(marked) + " of " + std::to_string(blocks) +
                           " blocks on disk, from the first missing block " + std::to_string(first_missing) +
                           " (byte " + std::to_string(first_missing * DOWNLOAD_BLOCK_SIZE) + ")";
  EXPECT_NE(text2.find(said), std::string::npos) << text2;
  const std::vector<long long> ranges = server.get_ranges();
  ASSERT_GT(ranges.size(), gets_before);
  EXPECT_EQ(ranges[gets_before], static_cast<long long>(first_missing * DOWNLOAD_BLOCK_SIZE));
  EXPECT_TRUE(read_file(path) == body) << "the copy differs from the original";
  EXPECT_EQ(read_file(path + "_bm"), std::string(blocks, '\1'));
}

}  // namespace
