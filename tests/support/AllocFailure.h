// File: AllocFailure.h
//
// Failure injection for the component's non-throwing allocations
// (new (std::nothrow)), which it turns into result 1. The test executable
// replaces the nothrow forms of operator new and operator new[]; every
// other allocation is left alone.
//
// Example:
//   NothrowNewFailure fail(3);  // the third nothrow allocation from here fails
//   EXPECT_EQ(labels.GetAllDynamicLabelData(out), KX9_ERR_ALLOC);
#pragma once

// Nothrow allocations made by this thread since the count was last reset.
long NothrowNewCount();
void ResetNothrowNewCount();

// Arms the nth nothrow allocation of this thread from now on to return null
// (0 disarms); disarmed again when the object goes.
class NothrowNewFailure {
 public:
  explicit NothrowNewFailure(long nth);
  ~NothrowNewFailure();
  NothrowNewFailure(const NothrowNewFailure&) = delete;
  NothrowNewFailure& operator=(const NothrowNewFailure&) = delete;
  // Whether the armed allocation happened.
  bool Fired() const;
};
