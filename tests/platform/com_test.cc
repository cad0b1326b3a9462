// BSTR layout and ownership, task memory, and the allocation-failure hook,
// all proven by the live counters.
#include <gtest/gtest.h>

#include <vector>

#include "platform/kx9platform.h"

namespace {

using namespace std::string_literals;

// A 32-bit byte length before the text and a zero unit after it; null is the
// empty string; every string counts until freed, a BstrHolder's on scope exit
// and when its slot is reused.
TEST(Bstr, LayoutLengthsNullAndOwnership) {
  const long live = PlatformLiveBstrCount();
  EXPECT_TRUE(SysAllocString(nullptr) == nullptr && SysStringLen(nullptr) == 0);
  SysFreeString(nullptr);
  // clang-format off
  const std::pair<BSTR, std::string> cases[] = {  // the bytes from the length through the zero unit
      {SysAllocString(u"Speed"), "\x0A\0\0\0S\0p\0e\0e\0d\0\0\0"s},
      {SysAllocStringLen(u"a\0bcdef", 3), "\x06\0\0\0a\0\0\0b\0\0\0"s},  // embedded zero kept
      {SysAllocStringLen(nullptr, 4), "\x08\0\0\0"s + std::string(10, '\0')},
      {CString(u"Motor\u3042").AllocSysString(), "\x0C\0\0\0M\0o\0t\0o\0r\0\x42\x30\0\0"s},
      {CString().AllocSysString(), std::string(6, '\0')}};  // a string, not null
  // clang-format on
  EXPECT_EQ(PlatformLiveBstrCount(), live + 5);
  for (const auto& [b, bytes] : cases) {
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(b) - 4, bytes.size()), bytes);
    EXPECT_EQ(SysStringLen(b), static_cast<BYTE>(bytes[0]) / 2u);
    SysFreeString(b);
  }
  {
    BstrHolder h(SysAllocString(u"a"));
    *h.Put() = SysAllocString(u"b");
    EXPECT_TRUE(std::u16string(h.Get()) == u"b" && PlatformLiveBstrCount() == live + 1);
  }
  EXPECT_EQ(PlatformLiveBstrCount(), live);
}

// The hook is asked before every task-memory and BSTR allocation, with its
// kind, and a "yes" fails exactly that allocation; every task-memory block
// counts until freed, a zero-size one too.
TEST(AllocHook, AskedForEveryAllocationAndFailsWhatItRefuses) {
  static std::vector<PlatformAllocKind> asked;
  asked.clear();
  PlatformSetAllocHook([](PlatformAllocKind kind) {
    asked.push_back(kind);
    return asked.size() == 3;
  });
  const long tasks = PlatformLiveTaskMemCount(), bstrs = PlatformLiveBstrCount();
  void* a = CoTaskMemAlloc(0);
  BSTR b = SysAllocString(u"x");
  void* refused = CoTaskMemAlloc(8);
  BSTR c = SysAllocStringLen(u"yz", 2);
  PlatformSetAllocHook(nullptr);
  void* e = CoTaskMemAlloc(8);  // no hook: not asked
  EXPECT_TRUE(a && b && c && e && !refused);
  using K = PlatformAllocKind;
  EXPECT_EQ(asked, (std::vector<K>{K::kTaskMem, K::kBstr, K::kTaskMem, K::kBstr}));
  EXPECT_EQ(std::make_pair(tasks + 2, bstrs + 2), std::make_pair(PlatformLiveTaskMemCount(), PlatformLiveBstrCount()));
  for (void* p : {a, e, static_cast<void*>(nullptr)}) CoTaskMemFree(p);
  for (BSTR s : {b, c}) SysFreeString(s);
  EXPECT_EQ(std::make_pair(tasks, bstrs), std::make_pair(PlatformLiveTaskMemCount(), PlatformLiveBstrCount()));
}

}  // namespace
