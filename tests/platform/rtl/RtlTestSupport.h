#pragma once
// Helpers shared by the runtime layer's tests.

#include <functional>
#include <string>

#include "platform/rtl/Exceptions.h"

namespace plat::rtltest {

// "<exception class>: <message>" of what action raises, or "no exception".
inline std::string MessageOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const Exception& e) {
    return e.ClassName() + ": " + e.Message();
  }
  return "no exception";
}

}  // namespace plat::rtltest
