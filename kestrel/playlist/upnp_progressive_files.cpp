// The data file and the block map file: preparing them for a content length
// (resuming what an earlier run left when both fit), writing a block, and
// the map bytes that follow each block's data to the disk.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstring>
#include <ctime>

#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "playlist/upnp_progressive_internal.h"

namespace {

// Map bytes are written in batches: one sync of the data file per batch
// keeps a block's data on disk before its map byte without a sync per block.
// A batch holds at least 16 blocks and spans at least 100 ms, so that a fast
// download is not held up by syncs (a sync per 256 KiB tripled the time of a
// 200 MB download against a local server).
constexpr size_t kMapBatch = 16;
constexpr int64_t kMapBatchMs = 100;

int64_t now_ms() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<int64_t>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}
int64_t g_last_flush_ms = 0;  // guarded by write_lock, like the batch

bool write_all_at(int fd, const void *data, size_t size, int64_t offset) {
  const char *p = static_cast<const char *>(data);
  while (size > 0) {
    ssize_t n = pwrite(fd, p, size, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
    offset += n;
  }
  return true;
}

int64_t file_size(int fd) {
  struct stat st;
  return fstat(fd, &st) == 0 && S_ISREG(st.st_mode) ? static_cast<int64_t>(st.st_size) : -1;
}

// Reads a map file of exactly `blocks` bytes into marks; false when it does
// not fit the length.
bool load_map(int map_fd, int64_t length, std::vector<uint8_t> *marks) {
  const int64_t blocks = download_block_count(length);
  if (file_size(map_fd) != blocks) return false;
  std::vector<uint8_t> bytes(static_cast<size_t>(blocks));
  size_t got = 0;
  while (got < bytes.size()) {
    ssize_t n = pread(map_fd, bytes.data() + got, bytes.size() - got, static_cast<off_t>(got));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    got += static_cast<size_t>(n);
  }
  return download_map_parse(bytes.data(), bytes.size(), length, marks) == 1;
}

bool open_files(void) {
  download_status &g = g_DownloadStatus;
  if (g.data_fd < 0) g.data_fd = open(g.path, O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (g.map_fd < 0) g.map_fd = open(g.map_path, O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (g.data_fd < 0 || g.map_fd < 0) {
    upnp_log_impl(LOG_LEVEL_ERROR, LOG_SYSTEM, "DownloadCreateFiles", "Cannot open %s: %s", g.path, strerror(errno));
    return false;
  }
  return true;
}

}  // namespace

void download_close_files(void) {
  download_status &g = g_DownloadStatus;
  download_flush_map();
  if (g.data_fd >= 0) close(g.data_fd);
  if (g.map_fd >= 0) close(g.map_fd);
  g.data_fd = g.map_fd = -1;
  g.pending.clear();
}

void download_preload_map(void) {
  download_status &g = g_DownloadStatus;
  EnterCriticalSection(&g.lock);
  bool known = g.total > 0 && static_cast<int64_t>(g.marks.size()) == download_block_count(g.total);
  LeaveCriticalSection(&g.lock);
  if (known || !g.path || !g.map_path) return;
  // Paths change only under write_lock, which the caller holds.
  int data_fd = open(g.path, O_RDONLY | O_CLOEXEC);
  int map_fd = open(g.map_path, O_RDONLY | O_CLOEXEC);
  int64_t length = data_fd >= 0 ? file_size(data_fd) : -1;
  std::vector<uint8_t> marks;
  bool fits = length > 0 && map_fd >= 0 && load_map(map_fd, length, &marks);
  if (data_fd >= 0) close(data_fd);
  if (map_fd >= 0) close(map_fd);
  if (!fits) return;
  // Only a hint for where to start: the answer's length decides whether
  // the files are kept (DownloadCreateFiles).
  EnterCriticalSection(&g.lock);
  g.total = length;
  g.marks.swap(marks);
  LeaveCriticalSection(&g.lock);
}

int DownloadCreateFiles(int64_t length, int64_t *move_to) {
  download_status &g = g_DownloadStatus;
  if (length <= 0 || length > DOWNLOAD_MAX_LENGTH) {
    upnp_log_impl(LOG_LEVEL_ERROR, LOG_SYSTEM, __func__, "Refusing a download of length %" PRId64, length);
    return DOWNLOAD_FILES_FAILED;
  }
  if (!open_files()) return DOWNLOAD_FILES_FAILED;
  const int64_t blocks = download_block_count(length);
  std::vector<uint8_t> marks;
  bool resume = file_size(g.data_fd) == length && load_map(g.map_fd, length, &marks);
  if (!resume) {
    // The map goes first, so that no stale mark ever stands beside new data.
    g.pending.clear();
    if (ftruncate(g.map_fd, 0) != 0 || ftruncate(g.data_fd, 0) != 0 ||
        ftruncate(g.data_fd, static_cast<off_t>(length)) != 0 || ftruncate(g.map_fd, static_cast<off_t>(blocks)) != 0) {
      upnp_log_impl(LOG_LEVEL_ERROR, LOG_SYSTEM, __func__, "Cannot size %s: %s", g.path, strerror(errno));
      return DOWNLOAD_FILES_FAILED;
    }
    marks.assign(static_cast<size_t>(blocks), 0);
  } else {
    // Blocks written in this run whose map bytes are not on disk yet.
    for (uint32_t b : g.pending)
      if (b < marks.size()) marks[b] = 1;
  }
  EnterCriticalSection(&g.lock);
  g.total = length;
  g.marks.swap(marks);
  int64_t first = 0;
  DownloadGetFirstUnmarkedBlock(&first, g.write_pos, nullptr);
  if (first >= g.total) DownloadGetFirstUnmarkedBlock(&first, 0, nullptr);
  int result = DOWNLOAD_FILES_READY;
  if (first >= g.total) {
    result = DOWNLOAD_FILES_COMPLETE;
  } else if (first != g.write_pos) {
    *move_to = first;
    result = DOWNLOAD_FILES_MOVE;
  }
  LeaveCriticalSection(&g.lock);
  return result;
}

int DownloadWriteBlock(void) {
  download_status &g = g_DownloadStatus;
  if (g.fill == 0) return 1;
  if (g.data_fd < 0 && !open_files()) return 0;
  const int64_t at = g.write_pos;
  if (at % DOWNLOAD_BLOCK_SIZE != 0 || !write_all_at(g.data_fd, g.block, g.fill, at)) {
    upnp_log_impl(LOG_LEVEL_ERROR, LOG_SYSTEM, __func__, "Cannot write the block at %" PRId64, at);
    return 0;
  }
  const uint32_t index = static_cast<uint32_t>(at / DOWNLOAD_BLOCK_SIZE);
  EnterCriticalSection(&g.lock);
  if (index < g.marks.size()) g.marks[index] = 1;
  g.write_pos = at + g.fill;
  LeaveCriticalSection(&g.lock);
  g.pending.push_back(index);
  g.fill = 0;
  g.blocks_this_request++;
  if (g.pending.size() >= kMapBatch && now_ms() - g_last_flush_ms >= kMapBatchMs) return download_flush_map();
  return 1;
}

int download_flush_map(void) {
  download_status &g = g_DownloadStatus;
  if (g.pending.empty()) return 1;
  g_last_flush_ms = now_ms();
  if (g.data_fd < 0 || g.map_fd < 0 || fdatasync(g.data_fd) != 0) {
    g.pending.clear();
    return 0;
  }
  static const uint8_t one = 1;
  bool ok = true;
  for (uint32_t b : g.pending) ok = write_all_at(g.map_fd, &one, 1, static_cast<int64_t>(b)) && ok;
  g.pending.clear();
  if (ok) fdatasync(g.map_fd);
  return ok ? 1 : 0;
}
