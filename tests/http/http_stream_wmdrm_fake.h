// A fake WMDRM content-protection hook for the tests: content whose location
// contains "prot" is "encrypted" by XOR with 0x5A, has blocks of 1000 bytes,
// and is handed on in two halves per piece. Counts what the library asks.
#ifndef TESTS_HTTP_HTTP_STREAM_WMDRM_FAKE_H
#define TESTS_HTTP_HTTP_STREAM_WMDRM_FAKE_H

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

struct FakeWmdrm {
  std::atomic<int> prepared{0}, processed{0}, resets{0}, finished{0}, binds{0};
  std::atomic<bool> refuse_bind{false};
  std::mutex mutex;
  std::vector<std::string> bound;  // locations given to bind

  // Registers the hooks (with or without binding) after clearing the counts.
  void install(bool with_bind);
  static void uninstall();
};
extern FakeWmdrm g_fake_wmdrm;

// The fake's encryption (its own inverse).
std::string fake_wmdrm_crypt(const std::string &bytes);

#endif
