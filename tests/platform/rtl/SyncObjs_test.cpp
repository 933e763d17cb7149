#include "platform/rtl/SyncObjs.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>

namespace plat {
namespace {

bool TryFromOtherThread(TCriticalSection& section) {
  bool entered = false;
  std::thread other([&] {
    entered = section.TryEnter();
    if (entered) section.Leave();
  });
  other.join();
  return entered;
}

TEST(TCriticalSectionTest, IsRecursiveAndExcludesOtherThreads) {
  TCriticalSection section;
  section.Enter();
  EXPECT_TRUE(section.TryEnter());
  section.Acquire();
  EXPECT_FALSE(TryFromOtherThread(section));
  section.Release();
  section.Leave();
  EXPECT_FALSE(TryFromOtherThread(section));
  section.Leave();
  EXPECT_TRUE(TryFromOtherThread(section));
}

TEST(TCriticalSectionTest, GuardLeavesOnException) {
  TCriticalSection section;
  try {
    TCriticalSectionGuard guard(section);
    EXPECT_FALSE(TryFromOtherThread(section));
    throw std::runtime_error("fail");
  } catch (const std::runtime_error&) {
  }
  EXPECT_TRUE(TryFromOtherThread(section));
}

TEST(TCriticalSectionTest, SerializesThreads) {
  TCriticalSection section;
  int counter = 0;
  auto work = [&] {
    for (int i = 0; i < 10000; ++i) {
      TCriticalSectionGuard guard(section);
      TCriticalSectionGuard nested(section);
      ++counter;
    }
  };
  std::thread a(work);
  std::thread b(work);
  a.join();
  b.join();
  EXPECT_EQ(counter, 20000);
}

}  // namespace
}  // namespace plat
