#include <gtest/gtest.h>

#include <cstdio>

#include "platform/kx9platform.h"

namespace {

std::string Md5Hex(const std::string& s) {
  BYTE d[16];
  if (!PlatformHash(CALG_MD5, reinterpret_cast<const BYTE*>(s.data()), s.size(), d, 16)) return "failed";
  std::string hex;
  char two[3];
  for (BYTE b : d) {
    std::snprintf(two, sizeof two, "%02x", b);
    hex += two;
  }
  return hex;
}

TEST(Digest, Md5MatchesTheRfc1321Suite) {
  EXPECT_EQ(Md5Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(Md5Hex("a"), "0cc175b9c0f1b6a831c399e269772661");
  EXPECT_EQ(Md5Hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(Md5Hex("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
  EXPECT_EQ(Md5Hex("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
  EXPECT_EQ(Md5Hex("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
            "d174ab98d277d9f5a5611c2c9f419d9f");
  EXPECT_EQ(Md5Hex("1234567890123456789012345678901234567890123456789012345678901234567890123456789"
                   "0"),
            "57edf4a22be3c955ac49da2e2107b67a");
}

TEST(Digest, RefusesUnknownAlgorithmsAndShortBuffers) {
  const BYTE data[] = {'a', 'b', 'c'};
  BYTE out[20];
  std::memset(out, 0xAA, sizeof out);
  EXPECT_FALSE(PlatformHash(0x8004, data, 3, out, 20));  // not offered
  EXPECT_FALSE(PlatformHash(0, data, 3, out, 20));
  EXPECT_FALSE(PlatformHash(CALG_MD5, data, 3, out, 15));
  EXPECT_FALSE(PlatformHash(CALG_MD5, nullptr, 3, out, 16));
  for (BYTE b : out) EXPECT_EQ(b, 0xAA);
  ASSERT_TRUE(PlatformHash(CALG_MD5, data, 3, out, 20));  // a larger buffer takes the 16 bytes
  EXPECT_EQ(out[0], 0x90);
  EXPECT_EQ(out[15], 0x72);
  for (int i = 16; i < 20; ++i) EXPECT_EQ(out[i], 0xAA);
}

}  // namespace
