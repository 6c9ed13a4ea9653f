#pragma once
// The process's resident memory, from /proc/self/status, for checks and benchmarks that
// bound what a piece of work adds to it.
namespace vornel::test {

// A field of /proc/self/status in KiB ("VmRSS", "VmHWM"); 0 when it is not there.
long statusKilobytes(const char* field);

// Lets the peak start again from the current resident size; false when the kernel does not
// allow it (then the peak is the one since the process started).
bool restartPeakMemory();

// The resident high-water mark (VmHWM, else getrusage's ru_maxrss) in KiB.
long peakKilobytes();

} // namespace vornel::test
