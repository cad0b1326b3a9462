// The digest service: MD5 reference vectors and what it refuses.
#include <gtest/gtest.h>

#include "platform/kx9platform.h"

namespace {

// MD5 as hex; the hash goes into a larger buffer whose tail must stay.
std::string Md5Hex(const std::string& s) {
  BYTE d[20];
  std::memset(d, 0xAA, sizeof d);
  if (!PlatformHash(CALG_MD5, reinterpret_cast<const BYTE*>(s.data()), s.size(), d, 20)) return "failed";
  std::string hex;
  for (BYTE b : d) hex += {"0123456789abcdef"[b >> 4], "0123456789abcdef"[b & 15]};
  return hex;
}

// The RFC 1321 test suite.
TEST(Digest, Md5MatchesTheReferenceSuite) {
  std::string eighty;
  for (int i = 0; i < 8; ++i) eighty += "1234567890";
  const std::pair<std::string, const char*> cases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
      {eighty, "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const auto& [text, hex] : cases) EXPECT_EQ(Md5Hex(text), hex + std::string(8, 'a')) << text;
}

// Unknown algorithms, short buffers and missing data fail without writing.
TEST(Digest, RefusesUnknownAlgorithmsAndShortBuffers) {
  const BYTE data[] = {'a', 'b', 'c'};
  BYTE out[20];
  std::memset(out, 0xAA, sizeof out);
  EXPECT_FALSE(PlatformHash(0x8004, data, 3, out, 20) || PlatformHash(0, data, 3, out, 20) ||
               PlatformHash(CALG_MD5, data, 3, out, 15) || PlatformHash(CALG_MD5, nullptr, 3, out, 16));
  EXPECT_EQ(std::vector<BYTE>(out, out + 20), std::vector<BYTE>(20, 0xAA));
}

}  // namespace
