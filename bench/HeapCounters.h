// File: HeapCounters.h
//
// What a benchmarked operation costs the heap: allocations counted by the
// benchmark's own malloc, and the growth of the resident set's peak.
#pragma once

namespace kx9bench {

// Allocations made by the process so far.
unsigned long long Allocations();

// Resets the kernel's peak-RSS mark to the current RSS and returns that RSS (KiB).
long long ResetPeakRss();

// The peak RSS since the last reset (KiB).
long long PeakRssKiB();

}  // namespace kx9bench
