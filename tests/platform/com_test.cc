// BSTR layout and ownership, task memory, and the allocation-failure hook,
// all proven by the live counters.
#include <gtest/gtest.h>

#include <vector>

#include "platform/kx9platform.h"

namespace {

using namespace std::string_literals;

// A 32-bit byte length before the text and a zero unit after it (a whole one
// even for odd byte lengths); null is the empty string; every string counts.
TEST(Bstr, LayoutLengthsAndNull) {
  const long live = PlatformLiveBstrCount();
  EXPECT_EQ(SysAllocString(nullptr), nullptr);
  EXPECT_EQ(SysStringLen(nullptr) + SysStringByteLen(nullptr), 0u);
  SysFreeString(nullptr);
  // clang-format off
  const std::pair<BSTR, std::string> cases[] = {  // the bytes from the length through the zero unit
      {SysAllocString(u"Speed"), "\x0A\0\0\0S\0p\0e\0e\0d\0\0\0"s},
      {SysAllocStringLen(u"a\0bcdef", 3), "\x06\0\0\0a\0\0\0b\0\0\0"s},  // embedded zero kept
      {SysAllocStringLen(nullptr, 4), "\x08\0\0\0"s + std::string(10, '\0')},
      {SysAllocStringByteLen("abc", 3), "\x03\0\0\0" "abc\0\0\0"s},
      {SysAllocStringByteLen(nullptr, 5), "\x05\0\0\0"s + std::string(8, '\0')},
      {SysAllocStringByteLen("x", 0), std::string(6, '\0')},
      {CString(u"Motor\u3042").AllocSysString(), "\x0C\0\0\0M\0o\0t\0o\0r\0\x42\x30\0\0"s},
      {CString().AllocSysString(), std::string(6, '\0')}};  // a string, not null
  // clang-format on
  EXPECT_EQ(PlatformLiveBstrCount(), live + 8);
  for (const auto& [b, bytes] : cases) {
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(b) - 4, bytes.size()), bytes);
    EXPECT_EQ(SysStringByteLen(b), static_cast<BYTE>(bytes[0]));
    EXPECT_EQ(SysStringLen(b), static_cast<BYTE>(bytes[0]) / 2u);
    SysFreeString(b);
  }
  EXPECT_EQ(PlatformLiveBstrCount(), live);
}

// BstrHolder frees its string on scope exit and when its slot is reused;
// task memory counts every block, a zero-size one too.
TEST(Bstr, HolderAndTaskMemoryFreeWhatTheyOwn) {
  const long bstrs = PlatformLiveBstrCount(), tasks = PlatformLiveTaskMemCount();
  {
    BstrHolder h(SysAllocString(u"a"));
    *h.Put() = SysAllocString(u"b");
    EXPECT_EQ(std::u16string(h.Get()), u"b");
    EXPECT_EQ(PlatformLiveBstrCount(), bstrs + 1);
  }
  EXPECT_EQ(PlatformLiveBstrCount(), bstrs);
  void* zero = CoTaskMemAlloc(0);
  ASSERT_NE(zero, nullptr);
  EXPECT_EQ(PlatformLiveTaskMemCount(), tasks + 1);
  CoTaskMemFree(zero);
  CoTaskMemFree(nullptr);
  EXPECT_EQ(PlatformLiveTaskMemCount(), tasks);
}

// The hook is asked before every task-memory and BSTR allocation, with its
// kind, and a "yes" fails exactly that allocation.
TEST(AllocHook, AskedForEveryAllocationAndFailsWhatItRefuses) {
  static std::vector<PlatformAllocKind> asked;
  asked.clear();
  PlatformSetAllocHook([](PlatformAllocKind kind) {
    asked.push_back(kind);
    return asked.size() == 3;
  });
  const long tasks = PlatformLiveTaskMemCount(), bstrs = PlatformLiveBstrCount();
  void* a = CoTaskMemAlloc(8);
  BSTR b = SysAllocString(u"x");
  void* refused = CoTaskMemAlloc(8);
  BSTR c = SysAllocStringLen(u"yz", 2);
  BSTR d = SysAllocStringByteLen("q", 1);
  PlatformSetAllocHook(nullptr);
  void* e = CoTaskMemAlloc(8);  // no hook: not asked
  EXPECT_TRUE(a && b && c && d && e && !refused);
  using K = PlatformAllocKind;
  EXPECT_EQ(asked, (std::vector<K>{K::kTaskMem, K::kBstr, K::kTaskMem, K::kBstr, K::kBstr}));
  EXPECT_EQ(PlatformLiveTaskMemCount(), tasks + 2);
  EXPECT_EQ(PlatformLiveBstrCount(), bstrs + 3);
  for (void* p : {a, e}) CoTaskMemFree(p);
  for (BSTR s : {b, c, d}) SysFreeString(s);
}

}  // namespace
