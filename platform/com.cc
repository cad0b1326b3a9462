// BSTR strings and task memory, with live counters so that tests can prove
// every path frees what it was handed.
#include <atomic>
#include <cstdlib>

#include "platform/kx9platform.h"

namespace {

std::atomic<long> g_liveBstrs{0};
std::atomic<long> g_liveTaskMem{0};
std::atomic<PlatformAllocHook> g_allocHook{nullptr};

// Whether the test hook fails this allocation.
bool HookFails(PlatformAllocKind kind) {
  const PlatformAllocHook hook = g_allocHook.load(std::memory_order_relaxed);
  return hook != nullptr && hook(kind);
}

constexpr std::size_t kPrefix = sizeof(DWORD);

// Allocates a BSTR of `byteLen` bytes (plus prefix and a two-byte zero)
// whose contents are left to the caller; null on failure.
BSTR AllocBstrBytes(std::size_t byteLen) {
  if (byteLen > 0xFFFFFFFFu - kPrefix - sizeof(OLECHAR)) return nullptr;  // length must fit the prefix
  if (HookFails(PlatformAllocKind::kBstr)) return nullptr;
  // With an odd byte length one spare zero byte keeps a whole zero unit
  // readable at the next unit boundary.
  auto* block = static_cast<unsigned char*>(std::malloc(kPrefix + byteLen + sizeof(OLECHAR) + 1));
  if (block == nullptr) return nullptr;
  const DWORD len32 = static_cast<DWORD>(byteLen);
  std::memcpy(block, &len32, kPrefix);
  std::memset(block + kPrefix + byteLen, 0, sizeof(OLECHAR) + 1);
  g_liveBstrs.fetch_add(1, std::memory_order_relaxed);
  return reinterpret_cast<BSTR>(block + kPrefix);
}

unsigned char* BstrBytes(BSTR b) { return reinterpret_cast<unsigned char*>(b); }

}  // namespace

BSTR SysAllocString(const OLECHAR* psz) {
  if (psz == nullptr) return nullptr;
  std::size_t n = 0;
  while (psz[n] != 0) ++n;
  if (n > 0x7FFFFFFFu) return nullptr;
  return SysAllocStringLen(psz, static_cast<UINT>(n));
}

BSTR SysAllocStringLen(const OLECHAR* pch, UINT cch) {
  const std::size_t bytes = static_cast<std::size_t>(cch) * sizeof(OLECHAR);
  BSTR b = AllocBstrBytes(bytes);
  if (b == nullptr) return nullptr;
  if (pch != nullptr) {
    std::memcpy(BstrBytes(b), pch, bytes);
  } else {
    std::memset(BstrBytes(b), 0, bytes);
  }
  return b;
}

BSTR SysAllocStringByteLen(const char* psz, UINT len) {
  BSTR b = AllocBstrBytes(len);
  if (b == nullptr) return nullptr;
  if (psz != nullptr) {
    std::memcpy(BstrBytes(b), psz, len);
  } else {
    std::memset(BstrBytes(b), 0, len);
  }
  return b;
}

UINT SysStringByteLen(BSTR bstr) {
  if (bstr == nullptr) return 0;
  DWORD len;
  std::memcpy(&len, BstrBytes(bstr) - kPrefix, kPrefix);
  return len;
}

UINT SysStringLen(BSTR bstr) { return SysStringByteLen(bstr) / sizeof(OLECHAR); }

void SysFreeString(BSTR bstr) {
  if (bstr == nullptr) return;
  g_liveBstrs.fetch_sub(1, std::memory_order_relaxed);
  std::free(BstrBytes(bstr) - kPrefix);
}

void* CoTaskMemAlloc(std::size_t cb) {
  if (HookFails(PlatformAllocKind::kTaskMem)) return nullptr;
  void* p = std::malloc(cb == 0 ? 1 : cb);  // a zero-size request still yields a block
  if (p != nullptr) g_liveTaskMem.fetch_add(1, std::memory_order_relaxed);
  return p;
}

void CoTaskMemFree(void* pv) {
  if (pv == nullptr) return;
  g_liveTaskMem.fetch_sub(1, std::memory_order_relaxed);
  std::free(pv);
}

long PlatformLiveBstrCount() { return g_liveBstrs.load(std::memory_order_relaxed); }

long PlatformLiveTaskMemCount() { return g_liveTaskMem.load(std::memory_order_relaxed); }

void PlatformSetAllocHook(PlatformAllocHook hook) { g_allocHook.store(hook, std::memory_order_relaxed); }
