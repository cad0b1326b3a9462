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

// Switches a profiler's sampling on or off around the measured operation:
// with KX9_BENCH_PERF_CTL and KX9_BENCH_PERF_ACK naming the FIFOs of
// `perf record --control=fifo:CTL,ACK -D -1`, only timed passes are sampled.
void ProfileRegion(bool on);

}  // namespace kx9bench
