#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/kx9platform.h"

namespace {

DWORD Prefix(BSTR b) {
  DWORD v;
  std::memcpy(&v, reinterpret_cast<const char*>(b) - 4, 4);
  return v;
}

TEST(Bstr, LayoutLengthsAndNull) {
  const long live = PlatformLiveBstrCount();
  EXPECT_EQ(SysAllocString(nullptr), nullptr);
  EXPECT_EQ(SysStringLen(nullptr), 0u);
  EXPECT_EQ(SysStringByteLen(nullptr), 0u);
  SysFreeString(nullptr);
  EXPECT_EQ(PlatformLiveBstrCount(), live);

  BSTR a = SysAllocString(u"Speed");
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(Prefix(a), 10u);
  EXPECT_EQ(SysStringLen(a), 5u);
  EXPECT_EQ(std::u16string(a), u"Speed");
  EXPECT_EQ(a[5], 0);

  BSTR b = SysAllocStringLen(u"a\0bcdef", 3);  // embedded zero kept, rest cut
  EXPECT_EQ(SysStringLen(b), 3u);
  EXPECT_EQ(std::u16string(b, 3), std::u16string(u"a\0b", 3));
  EXPECT_EQ(b[3], 0);
  BSTR z = SysAllocStringLen(nullptr, 4);
  EXPECT_EQ(SysStringByteLen(z), 8u);
  for (int i = 0; i <= 4; ++i) EXPECT_EQ(z[i], 0);

  BSTR odd = SysAllocStringByteLen("abc", 3);
  EXPECT_EQ(Prefix(odd), 3u);
  EXPECT_EQ(SysStringByteLen(odd), 3u);
  EXPECT_EQ(SysStringLen(odd), 1u);
  EXPECT_EQ(std::memcmp(odd, "abc\0\0", 5), 0);
  BSTR zb = SysAllocStringByteLen(nullptr, 5);
  EXPECT_EQ(SysStringByteLen(zb), 5u);
  EXPECT_EQ(std::memcmp(zb, "\0\0\0\0\0\0\0", 7), 0);
  BSTR empty = SysAllocStringByteLen("x", 0);
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(SysStringByteLen(empty), 0u);
  EXPECT_EQ(empty[0], 0);

  EXPECT_EQ(PlatformLiveBstrCount(), live + 6);
  for (BSTR s : {a, b, z, odd, zb, empty}) SysFreeString(s);
  EXPECT_EQ(PlatformLiveBstrCount(), live);
}

TEST(Bstr, AllocSysStringCopiesTheText) {
  const long live = PlatformLiveBstrCount();
  CString s(u"Motor\u3042");
  BSTR b = s.AllocSysString();
  EXPECT_EQ(SysStringLen(b), 6u);
  EXPECT_EQ(std::u16string(b), s.Str());
  BSTR e = CString().AllocSysString();
  ASSERT_NE(e, nullptr);  // an empty text still gives a string, not null
  EXPECT_EQ(SysStringLen(e), 0u);
  SysFreeString(b);
  SysFreeString(e);
  EXPECT_EQ(PlatformLiveBstrCount(), live);
}

TEST(TaskMem, CountsEveryBlock) {
  const long live = PlatformLiveTaskMemCount();
  void* zero = CoTaskMemAlloc(0);
  ASSERT_NE(zero, nullptr);
  EXPECT_EQ(PlatformLiveTaskMemCount(), live + 1);
  CoTaskMemFree(zero);
  CoTaskMemFree(nullptr);
  EXPECT_EQ(PlatformLiveTaskMemCount(), live);

  EXPECT_EQ(PlatformLiveTaskMemCount(), live);
}

// The allocation hook is asked before every task-memory and BSTR allocation,
// with its kind, and a "yes" fails exactly that allocation.
TEST(AllocHook, AskedForEveryAllocationAndFailsWhatItRefuses) {
  static std::vector<PlatformAllocKind> asked;
  static int refuseAt = 0;
  asked.clear();
  refuseAt = 3;
  PlatformSetAllocHook([](PlatformAllocKind kind) {
    asked.push_back(kind);
    return static_cast<int>(asked.size()) == refuseAt;
  });
  const long tasks = PlatformLiveTaskMemCount(), bstrs = PlatformLiveBstrCount();
  void* a = CoTaskMemAlloc(8);
  BSTR b = SysAllocString(u"x");
  void* refused = CoTaskMemAlloc(8);
  BSTR c = SysAllocStringLen(u"yz", 2);
  BSTR d = SysAllocStringByteLen("q", 1);
  PlatformSetAllocHook(nullptr);
  void* e = CoTaskMemAlloc(8);  // no hook: not asked
  EXPECT_EQ(refused, nullptr);
  for (const void* p : std::vector<const void*>{a, b, c, d, e}) EXPECT_NE(p, nullptr);
  using K = PlatformAllocKind;
  EXPECT_EQ(asked, (std::vector<K>{K::kTaskMem, K::kBstr, K::kTaskMem, K::kBstr, K::kBstr}));
  EXPECT_EQ(PlatformLiveTaskMemCount(), tasks + 2);
  EXPECT_EQ(PlatformLiveBstrCount(), bstrs + 3);
  CoTaskMemFree(a);
  CoTaskMemFree(e);
  for (BSTR s : {b, c, d}) SysFreeString(s);
}

}  // namespace
