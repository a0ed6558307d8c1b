// The stream fingerprint of kestrel-stream and the stream lab tests: the
// RFC 1321 test suite, fed whole and in pieces that straddle the 64-byte
// blocks.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "stream_md5.h"

TEST(StreamMd5, KnownDigestsWholeAndInPieces) {
  const struct {
    std::string text, md5;
  } cases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(stream_md5_of(c.text), c.md5) << c.text;
    for (size_t piece : {1u, 7u, 55u, 63u, 64u, 65u}) {
      StreamMd5 md5;
      for (size_t at = 0; at < c.text.size(); at += piece)
        md5.update(c.text.data() + at, std::min(piece, c.text.size() - at));
      EXPECT_EQ(md5.hex(), c.md5) << c.text << " in pieces of " << piece;
    }
  }
}
