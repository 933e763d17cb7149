#include "platform/rtl/Random.h"

#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <limits>
#include <set>
#include <vector>

namespace plat {
namespace {

// Restores the process's seed, so tests do not depend on their order.
class RandomTest : public ::testing::Test {
 protected:
  void SetUp() override { saved_ = RandSeed.load(); }
  void TearDown() override { RandSeed = saved_; }

 private:
  uint32_t saved_ = 0;
};

TEST_F(RandomTest, ValuesStayInRange) {
  RandSeed = 12345;
  const int32_t ranges[] = {1, 2, 3, 7, 100, 8192, 0xFFFFFF, std::numeric_limits<int32_t>::max()};
  for (int32_t range : ranges) {
    for (int i = 0; i < 2000; ++i) {
      const int32_t r = Random(range);
      ASSERT_GE(r, 0) << range;
      ASSERT_LT(r, range) << range;
    }
  }
  // No number lies below an empty or negative range.
  for (int32_t range : {0, -1, std::numeric_limits<int32_t>::min()}) EXPECT_EQ(Random(range), 0);
  for (int i = 0; i < 2000; ++i) {
    const double f = RandomFloat();
    ASSERT_GE(f, 0.0);
    ASSERT_LT(f, 1.0);
  }
}

TEST_F(RandomTest, SeedRepeatsTheSequence) {
  std::vector<int32_t> first, second;
  RandSeed = 42;
  for (int i = 0; i < 20; ++i) first.push_back(Random(1000000));
  RandSeed = 42;
  for (int i = 0; i < 20; ++i) second.push_back(Random(1000000));
  EXPECT_EQ(first, second);
  EXPECT_GT(std::set<int32_t>(first.begin(), first.end()).size(), 15u);
}

TEST_F(RandomTest, SmallRangesAreEvenlyCovered) {
  RandSeed = 7;
  std::array<int, 10> counts{};
  for (int i = 0; i < 20000; ++i) ++counts[size_t(Random(10))];
  for (int c : counts) {
    EXPECT_GT(c, 1700);
    EXPECT_LT(c, 2300);
  }
}

TEST_F(RandomTest, RandomizeChangesTheSeed) {
  RandSeed = 0;
  Randomize();
  const uint32_t first = RandSeed;
  Randomize();
  EXPECT_NE(RandSeed.load(), first);
}

// Each forked child reports its first draws through a pipe.
std::vector<int32_t> DrawInChild() {
  int fds[2];
  if (pipe(fds) != 0) return {};
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    int32_t values[4];
    for (auto& v : values) v = Random(std::numeric_limits<int32_t>::max());
    const bool ok = write(fds[1], values, sizeof(values)) == ssize_t(sizeof(values));
    _exit(ok ? 0 : 1);
  }
  close(fds[1]);
  std::vector<int32_t> values(4);
  const ssize_t got = read(fds[0], values.data(), sizeof(int32_t) * 4);
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (got != ssize_t(sizeof(int32_t) * 4) || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    return {};
  }
  return values;
}

TEST_F(RandomTest, ForkedChildrenDrawTheirOwnSequences) {
  Randomize();
  const uint32_t seed = RandSeed;
  const auto a = DrawInChild();
  const auto b = DrawInChild();
  ASSERT_EQ(a.size(), 4u);
  ASSERT_EQ(b.size(), 4u);
  // The parent's seed did not move, so both children started from it too:
  // only their own reseeding sets them apart.
  ASSERT_EQ(RandSeed.load(), seed);
  std::vector<int32_t> parent;
  for (int i = 0; i < 4; ++i) parent.push_back(Random(std::numeric_limits<int32_t>::max()));
  EXPECT_NE(a, b);
  EXPECT_NE(a, parent);
  EXPECT_NE(b, parent);
}

}  // namespace
}  // namespace plat
