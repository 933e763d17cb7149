#pragma once
// The processor time this thread has used, for tests that bound how long an
// algorithm takes (linear, not quadratic): unlike the wall clock it does not
// grow when a loaded machine leaves the test waiting for a core.

#include <time.h>

#include <cstdint>

namespace testsupport {

// Milliseconds of processor time the calling thread has used so far.
inline int64_t ThreadCpuMilliseconds() {
  timespec now{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

}  // namespace testsupport
