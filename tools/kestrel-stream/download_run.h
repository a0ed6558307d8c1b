// kestrel-stream's download mode: a URL downloaded through the controller's
// lm_nmc_download_uri (which starts the controller by itself), its pieces
// counted, digested and optionally written to a file, and the final call's
// result printed.
#ifndef TOOLS_KESTREL_STREAM_DOWNLOAD_RUN_H
#define TOOLS_KESTREL_STREAM_DOWNLOAD_RUN_H

#include <cstdint>
#include <string>

struct DownloadOptions {
  std::string url;
  std::string protocol_info;  // the resource's protocolInfo, "" none
  std::string path;           // write the bytes here, "" nowhere
  uint32_t buffer = 64 * 1024;
  uint32_t pace_kib_s = 0;    // take pieces no faster than this (KiB/s), 0 as they come
  int seconds = 60;           // stop (by the callback) after this long
  long stop_ms = -1;          // stop (by the callback) at this time, -1 never
  bool quiet = false;
};

// Runs the download; the exit code (0 when the final call said 0).
int run_download(const DownloadOptions &options);

#endif
