// File: AllocFailure.cc
#include "support/AllocFailure.h"

#include <cstddef>
#include <new>

namespace {

thread_local long t_count = 0;
thread_local long t_failAt = 0;  // 0: disarmed
thread_local bool t_fired = false;

bool NextFails() {
  ++t_count;
  if (t_failAt == 0 || --t_failAt != 0) return false;
  t_fired = true;
  return true;
}

}  // namespace

long NothrowNewCount() { return t_count; }
void ResetNothrowNewCount() { t_count = 0; }

NothrowNewFailure::NothrowNewFailure(long nth) {
  t_failAt = nth;
  t_fired = false;
}
NothrowNewFailure::~NothrowNewFailure() { t_failAt = 0; }
bool NothrowNewFailure::Fired() const { return t_fired; }

// The real allocation goes through the throwing forms, so that every
// allocator in the process (sanitizers included) pairs it with its delete.
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
  if (NextFails()) return nullptr;
  try {
    return ::operator new(n);
  } catch (...) {
    return nullptr;
  }
}

void* operator new[](std::size_t n, const std::nothrow_t&) noexcept {
  if (NextFails()) return nullptr;
  try {
    return ::operator new[](n);
  } catch (...) {
    return nullptr;
  }
}
