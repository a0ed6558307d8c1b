// kestrel-stream's progressive mode: a progressive download of a URL into a
// data file and its block map, watched as it fills (state, readable position,
// the block map on disk), interruptible by Ctrl-C and resumed by a second run
// with the same path; optionally a reader following the download through the
// cache's file stream, whose MD5 is printed at the end.
#ifndef TOOLS_KESTREL_STREAM_PROGRESSIVE_RUN_H
#define TOOLS_KESTREL_STREAM_PROGRESSIVE_RUN_H

#include <cstdint>
#include <string>
#include <vector>

struct ProgressiveOptions {
  std::string url, path;   // the data file; its block map is path + "_bm"
  bool reader = false;     // follow the download with a reader
  uint32_t buffer = 64 * 1024;  // the reader's buffer
  uint32_t pace_kib_s = 0;      // the reader reads at most this fast (0: as fast as written)
  int seconds = 60;        // give up after this long
  bool quiet = false;      // only the resume note and the summary
  long stop_ms = -1;       // stop as Ctrl-C would at this time (-1 never)
  std::vector<std::pair<long, int64_t>> seeks;  // at ms, restart the download at byte
};

// What the files on disk hold for a resume, as the download will see them.
struct ProgressiveDisk {
  bool fit = false;         // data file and map exist and fit together
  int64_t length = 0;       // the data file's length
  int64_t blocks = 0, written = 0;
  int64_t first_missing = -1;  // byte offset of the first missing block, -1 none
  std::string map;          // the map file's bytes
};
ProgressiveDisk progressive_disk(const std::string &path);

// A compact picture of a block map: at most width characters, each standing
// for an equal share of the blocks: '#' all written, '.' none, '+' some.
std::string progressive_map_bar(const std::string &map, size_t width);

// Runs the download; the exit code (0 complete, with the reader's END when
// there is a reader; 1 otherwise).
int run_progressive(const ProgressiveOptions &options);

#endif
