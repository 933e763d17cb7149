#pragma once
// Clean-up that runs when a scope is left, written once where the work
// begins instead of in a catch-and-rethrow block and again after it.
//
//   strings.BeginUpdate();
//   const auto endUpdate = plat::OnScopeExit([&] { strings.EndUpdate(); });
//
//   const auto undo = plat::OnScopeFailure([&] { DeleteHalfMadeTable(); });
//
// When the scope is left by an exception, the action runs and an exception
// from it is dropped: the first failure is the one to report. On a normal
// exit an OnScopeExit action runs as a call at the end of the scope would,
// and what it raises propagates.

#include <exception>
#include <utility>

namespace plat {

template <class Action>
class TScopeGuard {
 public:
  TScopeGuard(bool OnSuccessToo, Action Run)
      : run_(std::move(Run)),
        onSuccessToo_(OnSuccessToo),
        exceptions_(std::uncaught_exceptions()) {}
  TScopeGuard(const TScopeGuard&) = delete;
  TScopeGuard& operator=(const TScopeGuard&) = delete;
  ~TScopeGuard() noexcept(false) {
    if (dismissed_) return;
    if (std::uncaught_exceptions() > exceptions_) {
      try {
        run_();
      } catch (...) {
        // The exception that is leaving the scope is the one to report.
      }
    } else if (onSuccessToo_) {
      run_();
    }
  }

  // The step succeeded after all: the action does not run.
  void Dismiss() { dismissed_ = true; }

 private:
  Action run_;
  bool onSuccessToo_;
  bool dismissed_ = false;
  int exceptions_;
};

// Runs Run whenever the scope is left.
template <class Action>
[[nodiscard]] TScopeGuard<Action> OnScopeExit(Action Run) {
  return TScopeGuard<Action>(true, std::move(Run));
}

// Runs Run only when an exception leaves the scope.
template <class Action>
[[nodiscard]] TScopeGuard<Action> OnScopeFailure(Action Run) {
  return TScopeGuard<Action>(false, std::move(Run));
}

}  // namespace plat
