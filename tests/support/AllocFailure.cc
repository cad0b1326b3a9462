// File: AllocFailure.cc
#include "support/AllocFailure.h"

#include <execinfo.h>

#include <cstddef>
#include <cstdlib>
#include <new>

#include "platform/kx9platform.h"
#include "refdb/RefDatabase.h"

namespace {

struct Countdown {
  long left = 0;  // 0: disarmed
  unsigned kinds = 0;
  bool databaseToo = false;
  bool fired = false;
};
thread_local Countdown t_countdown;
thread_local long t_nothrowNews = 0;
thread_local int t_paused = 0;

bool NextFails(unsigned kind) {
  Countdown& c = t_countdown;
  if (c.left == 0 || (c.kinds & kind) == 0 || t_paused > 0) return false;
  if (!c.databaseToo && refdb::CallScope::Depth() > 0) return false;
  if (--c.left != 0) return false;
  c.fired = true;
  if (std::getenv("KX9_ALLOC_TRACE")) {
    void* frames[32];
    backtrace_symbols_fd(frames, backtrace(frames, 32), 2);
  }
  return true;
}

bool PlatformHook(PlatformAllocKind kind) {
  return NextFails(kind == PlatformAllocKind::kTaskMem ? kAllocTaskMem : kAllocBstr);
}

void* Allocate(std::size_t n) {
  if (NextFails(kAllocNew)) return nullptr;
  return std::malloc(n == 0 ? 1 : n);
}

}  // namespace

AllocFailure::AllocFailure(long nth, unsigned kinds, bool databaseToo) {
  t_countdown = Countdown{nth > 0 ? nth : 0, kinds, databaseToo, false};
  PlatformSetAllocHook(PlatformHook);
}
AllocFailure::~AllocFailure() {
  t_countdown = Countdown{};
  PlatformSetAllocHook(nullptr);
}
bool AllocFailure::Fired() const { return t_countdown.fired; }

AllocFailurePause::AllocFailurePause() { ++t_paused; }
AllocFailurePause::~AllocFailurePause() { --t_paused; }

long NothrowNewCount() { return t_nothrowNews; }
void ResetNothrowNewCount() { t_nothrowNews = 0; }

// The test binary's operator new and delete, all from malloc and free so
// every form pairs with every other (sanitizers still see each block).
void* operator new(std::size_t n) {
  if (void* p = Allocate(n)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t n) {
  if (void* p = Allocate(n)) return p;
  throw std::bad_alloc();
}
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
  ++t_nothrowNews;
  return Allocate(n);
}
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept {
  ++t_nothrowNews;
  return Allocate(n);
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
