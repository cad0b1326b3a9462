// The digest service: MD5 reference vectors and what it refuses.
#include <gtest/gtest.h>

#include "platform/kx9platform.h"

namespace {

// The digest as hex, "failed " first when refused; it goes into a 20-byte
// buffer of 0xAA whose bytes beyond the `room` given must stay.
std::string Hex(const char* data, std::size_t len, ULONG algorithm = CALG_MD5, ULONG room = 20) {
  std::vector<BYTE> d(20, 0xAA);
  std::string hex = PlatformHash(algorithm, reinterpret_cast<const BYTE*>(data), len, d.data(), room) ? "" : "failed ";
  for (BYTE b : d) hex += {"0123456789abcdef"[b >> 4], "0123456789abcdef"[b & 15]};
  return hex;
}

// MD5 gives the RFC 1321 suite's values (empty, one block, a padding block
// of its own, two blocks); unknown algorithms, short buffers and missing
// data fail without writing.
TEST(Digest, Md5MatchesTheReferenceSuiteAndRefusesWhatItCannotDo) {
  const std::pair<std::string, const char*> cases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const auto& [text, hex] : cases) EXPECT_EQ(Hex(text.data(), text.size()), hex + std::string(8, 'a')) << text;
  EXPECT_EQ(std::vector<std::string>(4, "failed " + std::string(40, 'a')),
            (std::vector<std::string>{Hex("abc", 3, 0x8004), Hex("abc", 3, 0), Hex("abc", 3, CALG_MD5, 15),
                                      Hex(nullptr, 3)}));
}

}  // namespace
