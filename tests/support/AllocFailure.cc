// File: AllocFailure.cc
#include "support/AllocFailure.h"

#include <execinfo.h>

#include <cstddef>
#include <cstdlib>
#include <new>

#include "platform/kx9platform.h"
#include "refdb/RefDatabase.h"

namespace {

thread_local long t_left = 0;  // of the countdown; 0: disarmed
thread_local unsigned t_kinds = 0;
thread_local bool t_fired = false;
thread_local int t_paused = 0;

bool NextFails(unsigned kind) {
  if (t_left == 0 || (t_kinds & kind) == 0 || t_paused > 0 || refdb::CallScope::Depth() > 0) return false;
  if (--t_left != 0) return false;
  t_fired = true;
  if (std::getenv("KX9_ALLOC_TRACE")) {
    void* frames[32];
    backtrace_symbols_fd(frames, backtrace(frames, 32), 2);
  }
  return true;
}

bool PlatformHook(PlatformAllocKind kind) {
  return NextFails(kind == PlatformAllocKind::kTaskMem ? kAllocTaskMem : kAllocBstr);
}

// Every operator new: a failing one gives null, or raises unless nothrow.
void* Allocate(std::size_t n, bool nothrow) {
  void* p = NextFails(kAllocNew) ? nullptr : std::malloc(n == 0 ? 1 : n);
  if (p == nullptr && !nothrow) throw std::bad_alloc();
  return p;
}

}  // namespace

AllocFailure::AllocFailure(long nth, unsigned kinds) {
  t_left = nth > 0 ? nth : 0, t_kinds = kinds, t_fired = false;
  PlatformSetAllocHook(PlatformHook);
}
AllocFailure::~AllocFailure() {
  t_left = 0, t_fired = false;
  PlatformSetAllocHook(nullptr);
}
bool AllocFailure::Fired() const { return t_fired; }

AllocFailurePause::AllocFailurePause() { ++t_paused; }
AllocFailurePause::~AllocFailurePause() { --t_paused; }

// The test binary's operator new and delete, all from malloc and free so
// every form pairs with every other (sanitizers still see each block).
void* operator new(std::size_t n) { return Allocate(n, false); }
void* operator new[](std::size_t n) { return Allocate(n, false); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept { return Allocate(n, true); }
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept { return Allocate(n, true); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
