// MD5 of a byte stream fed piece by piece (RFC 1321), to fingerprint what a
// stream delivered.
#ifndef TOOLS_KESTREL_STREAM_STREAM_MD5_H
#define TOOLS_KESTREL_STREAM_STREAM_MD5_H

#include <cstddef>
#include <cstdint>
#include <string>

class StreamMd5 {
 public:
  StreamMd5() { reset(); }
  void reset();
  void update(const void *data, size_t size);
  // The digest as 32 lower-case hex digits; ends this computation (reset to
  // start another).
  std::string hex();

 private:
  void block(const uint8_t *p);
  uint32_t state_[4];
  uint64_t length_;  // bytes fed
  uint8_t pending_[64];
  size_t used_;
};

// MD5 of a whole text, as hex.
std::string stream_md5_of(const std::string &data);

#endif
