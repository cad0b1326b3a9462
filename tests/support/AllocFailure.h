// File: AllocFailure.h
//
// Failure injection for allocations: one countdown over the allocations of
// the calling thread (operator new and new[] in every form, task memory and
// BSTRs), armed by an AllocFailure object. A failing operator new raises
// std::bad_alloc, its nothrow form returns null, CoTaskMemAlloc and the BSTR
// allocators return null. Allocations made inside the reference database
// are not counted: the component's own are the subject.
// With KX9_ALLOC_TRACE set in the environment, the failed allocation's stack
// is printed to stderr.
//
// Example:
//   for (long n = 1;; ++n) {
//     AllocFailure fail(n);
//     ULONG r = labels.GetAllDynamicLabelData(out);
//     if (!fail.Fired()) break;    // n is past the operation's allocations
//     EXPECT_EQ(r, KX9_ERR_ALLOC);
//   }
#pragma once

// Which allocations a countdown counts.
enum AllocKinds : unsigned {
  kAllocNew = 1,      // operator new / new[], throwing and nothrow
  kAllocTaskMem = 2,  // CoTaskMemAlloc
  kAllocBstr = 4,     // SysAllocString, SysAllocStringLen, SysAllocStringByteLen
  kAllocAny = 7,
};

class AllocFailure {
 public:
  // Fails the nth counted allocation of this thread from now on (n >= 1).
  explicit AllocFailure(long nth, unsigned kinds = kAllocAny);
  ~AllocFailure();
  AllocFailure(const AllocFailure&) = delete;
  AllocFailure& operator=(const AllocFailure&) = delete;
  // Whether the armed allocation was reached (and failed).
  bool Fired() const;
};

// Stops the countdown for as long as it lives: for a test's own allocations
// in the middle of an armed operation.
class AllocFailurePause {
 public:
  AllocFailurePause();
  ~AllocFailurePause();
  AllocFailurePause(const AllocFailurePause&) = delete;
  AllocFailurePause& operator=(const AllocFailurePause&) = delete;
};
