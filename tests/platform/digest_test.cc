// The digest service: one MD5 reference value and what it refuses.
#include <gtest/gtest.h>

#include "platform/kx9platform.h"

namespace {

// MD5 of "abc" (RFC 1321) fills 16 bytes of the buffer and no more; an unknown
// algorithm, a buffer short of 16 bytes and missing data fail without writing.
TEST(Digest, Md5ReferenceValueAndRefusals) {
  auto hex = [](const char* data, ULONG algorithm, ULONG room) {  // "failed " first when refused
    std::vector<BYTE> d(20, 0xAA);
    std::string s = PlatformHash(algorithm, reinterpret_cast<const BYTE*>(data), 3, d.data(), room) ? "" : "failed ";
    for (BYTE b : d) s += {"0123456789abcdef"[b >> 4], "0123456789abcdef"[b & 15]};
    return s;
  };
  EXPECT_EQ(hex("abc", CALG_MD5, 20), "900150983cd24fb0d6963f7d28e17f72aaaaaaaa");
  EXPECT_EQ(std::vector<std::string>(3, "failed " + std::string(40, 'a')),
            (std::vector<std::string>{hex("abc", 0x8004, 20), hex("abc", CALG_MD5, 15), hex(nullptr, CALG_MD5, 20)}));
}

}  // namespace
