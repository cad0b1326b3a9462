// BSTR strings and task memory, with live counters so that tests can prove
// every path frees what it was handed.
#include <sys/mman.h>

#include <atomic>
#include <cstdint>
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

// Small BSTRs and task-memory blocks are recycled through per-thread caches
// of freed blocks, one free list per 32-byte size class, each holding up to
// 1 MiB: the database hands out one BSTR per text field and one comment
// array per row, a whole batch of rows at a time, and the heap would
// otherwise see every one of them. Sanitized builds skip the caches, so that
// a use after free stays visible.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kCacheBlocks = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kCacheBlocks = false;
#else
constexpr bool kCacheBlocks = true;
#endif
#else
constexpr bool kCacheBlocks = true;
#endif
constexpr std::size_t kClassBytes = 32;
constexpr std::size_t kClasses = 16;  // blocks up to 512 bytes
constexpr std::size_t kBytesPerClass = std::size_t{1} << 20;

struct BlockCache {
  void* heads[kClasses];  // each free block starts with the next one's address
  std::size_t counts[kClasses];
};
// Zero-initialized and without destructors: usable until the thread's very end.
thread_local BlockCache t_bstrs;
thread_local BlockCache t_taskMem;
thread_local bool t_closed;  // the thread is ending: free straight away

void* Pop(BlockCache& cache, std::size_t c) {
  void* block = cache.heads[c];
  if (block != nullptr) {
    std::memcpy(&cache.heads[c], block, sizeof(void*));
    --cache.counts[c];
  }
  return block;
}

// Frees the cached blocks when the thread ends.
struct CacheCloser {
  ~CacheCloser() {
    t_closed = true;
    for (BlockCache* cache : {&t_bstrs, &t_taskMem})
      for (std::size_t c = 0; c < kClasses; ++c)
        while (void* block = Pop(*cache, c)) std::free(block);
  }
};
thread_local CacheCloser t_closer;

// A block of size class c: a cached one, or a new one of the class's size.
void* Take(BlockCache& cache, std::size_t c) {
  (void)&t_closer;  // registers the thread's closer
  void* block = Pop(cache, c);
  return block != nullptr ? block : std::malloc((c + 1) * kClassBytes);
}

// Keeps a freed block of size class c when there is room; false: free it.
bool Keep(BlockCache& cache, std::size_t c, void* block) {
  if (t_closed || c >= kClasses || cache.counts[c] >= kBytesPerClass / ((c + 1) * kClassBytes)) return false;
  std::memcpy(block, &cache.heads[c], sizeof(void*));
  cache.heads[c] = block;
  ++cache.counts[c];
  return true;
}

// Task memory carries its size class in front of the caller's bytes, as
// much as keeps the caller's alignment.
constexpr std::size_t kTaskHeader = alignof(std::max_align_t);

// The block size for a BSTR of `byteLen` bytes: prefix, units, a two-byte
// zero and, with an odd byte length, one spare zero byte that keeps a whole
// zero unit readable at the next unit boundary.
std::size_t BlockBytes(std::size_t byteLen) { return kPrefix + byteLen + sizeof(OLECHAR) + 1; }

// Allocates a BSTR of `byteLen` bytes whose contents are left to the
// caller; null on failure.
BSTR AllocBstrBytes(std::size_t byteLen) {
  if (byteLen > 0xFFFFFFFFu - kPrefix - sizeof(OLECHAR)) return nullptr;  // length must fit the prefix
  if (HookFails(PlatformAllocKind::kBstr)) return nullptr;
  const std::size_t need = BlockBytes(byteLen);
  unsigned char* block = nullptr;
  const std::size_t c = (need - 1) / kClassBytes;
  if (kCacheBlocks && c < kClasses) {
    block = static_cast<unsigned char*>(Take(t_bstrs, c));
  } else {
    block = static_cast<unsigned char*>(std::malloc(need));
  }
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
  unsigned char* block = BstrBytes(bstr) - kPrefix;
  if (kCacheBlocks && Keep(t_bstrs, (BlockBytes(SysStringByteLen(bstr)) - 1) / kClassBytes, block)) return;
  std::free(block);
}

void* CoTaskMemAlloc(std::size_t cb) {
  if (HookFails(PlatformAllocKind::kTaskMem)) return nullptr;
  if (cb == 0) cb = 1;  // a zero-size request still yields a block
  void* p = nullptr;
  if (kCacheBlocks) {
    if (cb > SIZE_MAX - kTaskHeader) return nullptr;
    const std::size_t c = (kTaskHeader + cb - 1) / kClassBytes;
    auto* block = static_cast<unsigned char*>(c < kClasses ? Take(t_taskMem, c) : std::malloc(kTaskHeader + cb));
    if (block != nullptr) {
      std::memcpy(block, &c, sizeof c);
      p = block + kTaskHeader;
    }
  } else {
    p = std::malloc(cb);
  }
  if (p != nullptr) g_liveTaskMem.fetch_add(1, std::memory_order_relaxed);
  return p;
}

void CoTaskMemFree(void* pv) {
  if (pv == nullptr) return;
  g_liveTaskMem.fetch_sub(1, std::memory_order_relaxed);
  if (!kCacheBlocks) return std::free(pv);
  unsigned char* block = static_cast<unsigned char*>(pv) - kTaskHeader;
  std::size_t c;
  std::memcpy(&c, block, sizeof c);
  if (!Keep(t_taskMem, c, block)) std::free(block);
}

void PlatformAdviseSequentialWrite(void* p, std::size_t n) {
  constexpr std::uintptr_t kHuge = std::uintptr_t{2} << 20;
  const auto first = (reinterpret_cast<std::uintptr_t>(p) + kHuge - 1) & ~(kHuge - 1);
  const auto last = (reinterpret_cast<std::uintptr_t>(p) + n) & ~(kHuge - 1);
  if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
}

long PlatformLiveBstrCount() { return g_liveBstrs.load(std::memory_order_relaxed); }

long PlatformLiveTaskMemCount() { return g_liveTaskMem.load(std::memory_order_relaxed); }

void PlatformSetAllocHook(PlatformAllocHook hook) { g_allocHook.store(hook, std::memory_order_relaxed); }
