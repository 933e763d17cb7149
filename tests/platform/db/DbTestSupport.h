#pragma once
// Helpers shared by the dataset framework's tests.

#include <functional>
#include <string>

#include "platform/rtl/Exceptions.h"

namespace testdb {

// Runs f and returns the message of the E it raised, or "" when it raised
// nothing. Other exceptions pass through, so an unexpected kind fails the
// test.
template <typename E = plat::Exception>
std::string ErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const E& e) {
    return e.Message();
  }
  return "";
}

}  // namespace testdb
