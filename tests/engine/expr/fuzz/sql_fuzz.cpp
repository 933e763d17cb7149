// Fuzz target: arbitrary text as a whole statement through the parser engine,
// driven clause by clause over a small catalogue with child engines for
// subqueries and UNION parts, as the query layer drives it. Bad text must end
// in a recorded parse error, bad data in an engine error; anything else (another
// exception, a failed assertion, a crash, a hang, a sanitizer report) is a
// fault.

#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/storage/zelCommonError.h"
#include "tests/engine/sql/zelSqlFixture.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const zel::testing::TestCatalogue catalogue;
  const std::string text(reinterpret_cast<const char*>(data), size);
  try {
    zel::testing::StatementDriver driver(catalogue);
    auto parsed = driver.Parse(text);
    (void)parsed;
  } catch (const zel::EZelDatabaseError&) {
    // A literal that cannot be converted is an engine error: allowed.
  }
  return 0;
}
