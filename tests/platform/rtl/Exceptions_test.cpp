#include "platform/rtl/Exceptions.h"

#include <gtest/gtest.h>

namespace plat {
namespace {

TEST(Exceptions, AssertionNamesFileAndLine) {
  try {
    PLAT_ASSERT(1 + 1 == 3, "sum is off");
    FAIL() << "no exception";
  } catch (const EAssertionFailed& e) {
    EXPECT_EQ(e.Message().rfind("sum is off (Exceptions_test.cpp, line ", 0), 0u) << e.Message();
    EXPECT_EQ(e.ClassName(), "EAssertionFailed");
  }
}

TEST(Exceptions, DatabaseErrorIsAnException) {
  try {
    throw EDatabaseError("no table");
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "no table");
    EXPECT_STREQ(e.what(), "no table");
  }
}

}  // namespace
}  // namespace plat
