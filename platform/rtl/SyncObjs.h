#pragma once
// Critical sections: a recursive mutex, and the guard that holds one for a
// scope.

#include <mutex>

#include "platform/rtl/Object.h"

namespace plat {

// Recursive: the thread that holds it may enter again, and must leave as
// often as it entered.
class TCriticalSection : public TObject {
 public:
  TCriticalSection() = default;
  TCriticalSection(const TCriticalSection&) = delete;
  TCriticalSection& operator=(const TCriticalSection&) = delete;

  std::string ClassName() const override { return "TCriticalSection"; }

  void Enter() { mutex_.lock(); }
  void Leave() { mutex_.unlock(); }
  void Acquire() { Enter(); }
  void Release() { Leave(); }
  // Enters when no other thread holds the section; returns whether it did.
  bool TryEnter() { return mutex_.try_lock(); }

 private:
  std::recursive_mutex mutex_;
};

// Enters the section on construction and leaves it on destruction, so the
// section is released also when an exception passes.
class TCriticalSectionGuard {
 public:
  explicit TCriticalSectionGuard(TCriticalSection& section) : section_(section) {
    section_.Enter();
  }
  TCriticalSectionGuard(const TCriticalSectionGuard&) = delete;
  TCriticalSectionGuard& operator=(const TCriticalSectionGuard&) = delete;
  ~TCriticalSectionGuard() { section_.Leave(); }

 private:
  TCriticalSection& section_;
};

}  // namespace plat
