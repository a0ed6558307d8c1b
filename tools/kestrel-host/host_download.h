// The terminal mode's "download N|URL [FILE]": an item of the listing (or
// of a search's rows, or a URL) into a local file through the controller's
// exported lm_nmc_download_uri, with progress lines (bytes, rate, and time
// left when the item's size is known) about once a second, and Ctrl-C
// cancelling it. The bytes go into "FILE.part" beside FILE, renamed to
// FILE only once the whole resource arrived; a cancel or a failure removes
// the part file, so FILE is never half-written. An existing FILE is kept
// (the download is refused).
#ifndef KESTREL_HOST_DOWNLOAD_H
#define KESTREL_HOST_DOWNLOAD_H

#include <cstdint>
#include <functional>
#include <string>

#include "host_browse.h"
#include "host_load.h"

namespace host {

// The file name an item is saved under when none is given: its title with
// '/' and control characters made '_', and the extension of its URL's
// path when the title has none ("Tone" + "http://h/a/t.mp3" -> "Tone.mp3").
std::string download_file_name(const std::string &title, const std::string &url);

class Downloader {
 public:
  using Print = Browser::Print;
  // wait: as the uploader's (about 100 ms serving events; true once a stop
  // arrived since the last call).
  Downloader(const Library &lib, Print print, std::function<bool()> wait);

  // Downloads the entry's resource into path; size 0 when not known.
  // Returns once the transfer ended; true when the file is whole.
  bool download(const BrowseEntry &entry, uint64_t size, const std::string &path);
  void set_progress_ms(int ms) { progress_ms_ = ms; }

 private:
  void *lib_;
  Print print_;
  std::function<bool()> wait_;
  int progress_ms_ = 1000;
};

}  // namespace host

#endif
