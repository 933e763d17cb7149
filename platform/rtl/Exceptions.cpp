#include "platform/rtl/Exceptions.h"

#include <string>

namespace plat {

void RaiseAssertion(const char* message, const char* file, int line) {
  std::string name = file;
  const auto slash = name.find_last_of('/');
  if (slash != std::string::npos) name.erase(0, slash + 1);
  throw EAssertionFailed(std::string(message) + " (" + name + ", line " + std::to_string(line) +
                         ")");
}

}  // namespace plat
