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

TEST(TaskMem, CountsAndArmedFailure) {
  const long live = PlatformLiveTaskMemCount();
  void* zero = CoTaskMemAlloc(0);
  ASSERT_NE(zero, nullptr);
  EXPECT_EQ(PlatformLiveTaskMemCount(), live + 1);
  CoTaskMemFree(zero);
  CoTaskMemFree(nullptr);
  EXPECT_EQ(PlatformLiveTaskMemCount(), live);

  PlatformFailTaskMemAllocAt(3);
  std::vector<void*> got;
  for (int i = 0; i < 5; ++i) got.push_back(CoTaskMemAlloc(16));
  EXPECT_NE(got[0], nullptr);
  EXPECT_NE(got[1], nullptr);
  EXPECT_EQ(got[2], nullptr);  // only the third call fails
  EXPECT_NE(got[3], nullptr);
  EXPECT_NE(got[4], nullptr);
  EXPECT_EQ(PlatformLiveTaskMemCount(), live + 4);
  for (void* p : got) CoTaskMemFree(p);

  PlatformFailTaskMemAllocAt(1);
  EXPECT_EQ(CoTaskMemAlloc(8), nullptr);
  PlatformFailTaskMemAllocAt(2);
  PlatformFailTaskMemAllocAt(0);  // disarmed
  void* a = CoTaskMemAlloc(8);
  void* b = CoTaskMemAlloc(8);
  EXPECT_NE(a, nullptr);
  EXPECT_NE(b, nullptr);
  CoTaskMemFree(a);
  CoTaskMemFree(b);
  EXPECT_EQ(PlatformLiveTaskMemCount(), live);
}

TEST(TaskMem, ArmedFailureHitsExactlyOneCallAcrossThreads) {
  const long live = PlatformLiveTaskMemCount();
  PlatformFailTaskMemAllocAt(500);
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 250; ++i) {
        void* p = CoTaskMemAlloc(4);
        if (p == nullptr) ++failures;
        CoTaskMemFree(p);
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(failures.load(), 1);
  EXPECT_EQ(PlatformLiveTaskMemCount(), live);
}

}  // namespace
