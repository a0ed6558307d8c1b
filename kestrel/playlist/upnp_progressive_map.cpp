// The block map: one byte per block of the data file, read back from disk
// on resume, and the finders and readiness questions over its in-memory
// copy.
#include <cstring>

#include "playlist/upnp_progressive_internal.h"

int64_t download_block_count(int64_t length) {
  return length <= 0 ? 0 : (length + DOWNLOAD_BLOCK_SIZE - 1) / DOWNLOAD_BLOCK_SIZE;
}

int download_map_parse(const uint8_t *bytes, size_t size, int64_t length, std::vector<uint8_t> *marks) {
  if (length <= 0 || length > DOWNLOAD_MAX_LENGTH || !marks) return 0;
  const int64_t blocks = download_block_count(length);
  if (static_cast<int64_t>(size) != blocks || (size > 0 && !bytes)) return 0;
  marks->assign(size, 0);
  // Only a byte of exactly 1 marks a written block; anything else (a torn
  // or foreign byte) counts as missing and is fetched again.
  for (size_t i = 0; i < size; i++) (*marks)[i] = bytes[i] == 1 ? 1 : 0;
  return 1;
}

void DownloadGetFirstBlockMarked(int64_t *offset, int64_t from, uint8_t mark) {
  const download_status &g = g_DownloadStatus;
  const int64_t blocks = static_cast<int64_t>(g.marks.size());
  int64_t i = from <= 0 ? 0 : from / DOWNLOAD_BLOCK_SIZE;
  while (i < blocks && g.marks[static_cast<size_t>(i)] != mark) i++;
  *offset = i < blocks ? i * DOWNLOAD_BLOCK_SIZE : g.total;
}

void DownloadGetFirstUnmarkedBlock(int64_t *offset, int64_t from, int64_t *run_end) {
  DownloadGetFirstBlockMarked(offset, from, 0);
  if (run_end) {
    if (*offset >= g_DownloadStatus.total)
      *run_end = g_DownloadStatus.total;
    else
      DownloadGetFirstBlockMarked(run_end, *offset, 1);
  }
}

int download_range_ready_locked(int64_t from, int64_t to) {
  const download_status &g = g_DownloadStatus;
  if (g.total <= 0 || from < 0) return 0;
  if (to > g.total) to = g.total;
  if (from >= to) return 1;
  for (int64_t b = from / DOWNLOAD_BLOCK_SIZE; b * DOWNLOAD_BLOCK_SIZE < to; b++)
    if (static_cast<size_t>(b) >= g.marks.size() || !g.marks[static_cast<size_t>(b)]) return 0;
  return 1;
}

int64_t download_readable_locked(void) {
  const download_status &g = g_DownloadStatus;
  int64_t first_missing = 0;
  DownloadGetFirstBlockMarked(&first_missing, 0, 0);
  return first_missing > g.total ? g.total : first_missing;
}
