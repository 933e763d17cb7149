#pragma once
// Helpers of the lock and disk manager tests: engine errors with their code
// and text, and signals between a test and the children it forks.

#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include "engine/storage/StorageTestSupport.h"
#include "engine/storage/zelCommonError.h"
#include "platform/os/Files.h"

namespace zel::locktest {

using storagetest::ExpectError;

// The error code Action raises, 0 when none (for forked children, which
// report through their exit code).
template <class F>
int32_t ErrorCodeOf(F&& Action) {
  try {
    Action();
  } catch (const EZelDatabaseError& e) {
    return e.ErrorCode();
  } catch (...) {
    return -1;
  }
  return 0;
}

// How many bytes of [Start, Start + Length) of file Name another handle
// could not lock; -1 when the file cannot be opened.
inline int CountLockedBytes(const std::string& Name, uint64_t Start, uint64_t Length) {
  plat::TOSFile probe;
  if (!probe.Open(Name, plat::TFileAccess::faReadWrite, plat::TFileShare::fsDenyNone)) return -1;
  int locked = 0;
  for (uint64_t b = Start; b < Start + Length; ++b) {
    if (probe.LockRange(b, 1)) {
      probe.UnlockRange(b, 1);
    } else {
      ++locked;
    }
  }
  return locked;
}

// A one-way signal across fork: Send writes a byte, Wait reads one or gives
// up after a timeout, so a child that died never hangs the test.
class TSignal {
 public:
  TSignal() {
    if (::pipe(fds_) != 0) fds_[0] = fds_[1] = -1;
  }
  TSignal(const TSignal&) = delete;
  TSignal& operator=(const TSignal&) = delete;
  ~TSignal() {
    if (fds_[0] >= 0) ::close(fds_[0]);
    if (fds_[1] >= 0) ::close(fds_[1]);
  }

  void Send() const {
    const char c = 'x';
    [[maybe_unused]] const ssize_t n = ::write(fds_[1], &c, 1);
  }
  bool Wait(int TimeoutMs = 30000) const {
    pollfd p{fds_[0], POLLIN, 0};
    if (::poll(&p, 1, TimeoutMs) != 1) return false;
    char c = 0;
    return ::read(fds_[0], &c, 1) == 1;
  }

 private:
  int fds_[2];
};

}  // namespace zel::locktest
