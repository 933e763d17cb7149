#include "platform/rtl/ScopeGuard.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace plat {
namespace {

// What ran and what left the scope, for each kind of guard and way out.
TEST(ScopeGuard, RunsAsItsKindSaysAndReportsTheFirstFailure) {
  struct Case {
    const char* name;
    bool always;
    bool bodyThrows;
    bool actionThrows;
    bool dismiss;
    bool ran;             // the action ran
    const char* escaped;  // the message that left the scope, "" for none
  };
  const Case cases[] = {
      {"exit, normal", true, false, false, false, true, ""},
      {"exit, failure", true, true, false, false, true, "body"},
      {"exit, action raises on a normal exit", true, false, true, false, true, "action"},
      {"exit, action raises while failing", true, true, true, false, true, "body"},
      {"exit, dismissed", true, false, false, true, false, ""},
      {"failure, normal", false, false, false, false, false, ""},
      {"failure, failure", false, true, false, false, true, "body"},
      {"failure, action raises while failing", false, true, true, false, true, "body"},
      {"failure, dismissed and failing", false, true, false, true, false, "body"},
  };
  for (const Case& c : cases) {
    bool ran = false;
    std::string escaped;
    try {
      const auto action = [&] {
        ran = true;
        if (c.actionThrows) throw std::runtime_error("action");
      };
      auto guard = c.always ? TScopeGuard<decltype(action)>(true, action)
                            : TScopeGuard<decltype(action)>(false, action);
      if (c.dismiss) guard.Dismiss();
      if (c.bodyThrows) throw std::runtime_error("body");
    } catch (const std::exception& e) {
      escaped = e.what();
    }
    EXPECT_EQ(ran, c.ran) << c.name;
    EXPECT_EQ(escaped, c.escaped) << c.name;
  }
}

// A guard made while another exception is already on its way (inside a
// destructor during unwinding) runs on failure only for a new exception.
TEST(ScopeGuard, CountsOnlyExceptionsRaisedWhileItStands) {
  bool ranOnFailure = false;
  struct Unwinder {
    bool* ran;
    ~Unwinder() {
      const auto guard = OnScopeFailure([this] { *ran = true; });
    }
  };
  try {
    Unwinder u{&ranOnFailure};
    throw std::runtime_error("outer");
  } catch (const std::exception&) {
  }
  EXPECT_FALSE(ranOnFailure);
}

}  // namespace
}  // namespace plat
