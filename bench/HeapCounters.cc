// File: HeapCounters.cc
//
// Allocation counting for the benchmarks. Every allocation of the process
// (operator new, BSTRs and task memory all end in malloc) passes through
// these definitions, which interpose glibc's and count before forwarding.
// Peak RSS comes from the kernel, whose high-water mark can be reset.
#include "bench/HeapCounters.h"

#include <malloc.h>

#include <atomic>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
void* __libc_memalign(std::size_t, std::size_t);
}

namespace {
std::atomic<unsigned long long> g_allocations{0};

long long StatusKiB(const char* key) {
  std::FILE* f = std::fopen("/proc/self/status", "r");
  if (f == nullptr) return 0;
  char line[256];
  long long value = 0;
  const std::size_t n = std::strlen(key);
  while (std::fgets(line, sizeof line, f) != nullptr) {
    if (std::strncmp(line, key, n) == 0) {
      std::sscanf(line + n, "%lld", &value);
      break;
    }
  }
  std::fclose(f);
  return value;
}
}  // namespace

extern "C" {
void* malloc(std::size_t n) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  return __libc_malloc(n);
}
void* calloc(std::size_t n, std::size_t size) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  return __libc_calloc(n, size);
}
void* realloc(void* p, std::size_t n) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  return __libc_realloc(p, n);
}
void* memalign(std::size_t alignment, std::size_t n) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  return __libc_memalign(alignment, n);
}
int posix_memalign(void** out, std::size_t alignment, std::size_t n) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  *out = __libc_memalign(alignment, n);
  return *out == nullptr ? 12 : 0;
}
void* aligned_alloc(std::size_t alignment, std::size_t n) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  return __libc_memalign(alignment, n);
}
}

namespace kx9bench {

unsigned long long Allocations() { return g_allocations.load(std::memory_order_relaxed); }

long long ResetPeakRss() {
  // Free heap pages go back to the system first, so that the peak measures
  // what the operation needs rather than what earlier passes left behind.
  malloc_trim(0);
  // Writing 5 to clear_refs resets the high-water mark to the current RSS.
  if (std::FILE* f = std::fopen("/proc/self/clear_refs", "w")) {
    std::fputs("5", f);
    std::fclose(f);
  }
  return StatusKiB("VmRSS:");
}

long long PeakRssKiB() { return StatusKiB("VmHWM:"); }

void ProfileRegion(bool on) {
  // perf acknowledges each command on the second FIFO, so that sampling has
  // switched before the caller goes on.
  static std::FILE* control = nullptr;
  static std::FILE* ack = nullptr;
  static const bool wanted = [] {
    const char* c = std::getenv("KX9_BENCH_PERF_CTL");
    const char* a = std::getenv("KX9_BENCH_PERF_ACK");
    if (c == nullptr || a == nullptr) return false;
    control = std::fopen(c, "w");
    ack = std::fopen(a, "r");
    return control != nullptr && ack != nullptr;
  }();
  if (!wanted) return;
  std::fputs(on ? "enable\n" : "disable\n", control);
  std::fflush(control);
  char reply[16];
  std::fgets(reply, sizeof reply, ack);
}

}  // namespace kx9bench
