#include "platform/os/Os.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <thread>

namespace plat {
namespace {

TEST(Os, TickCountFollowsSleep) {
  const uint32_t start = GetTickCount();
  Sleep(30);
  const uint32_t elapsed = GetTickCount() - start;
  EXPECT_GE(elapsed, 30u);
  // Upper bounds are generous, as a loaded machine may keep the test from a
  // core for seconds: they catch a pause taken in the wrong unit (30 s).
  EXPECT_LT(elapsed, 15000u);
  // A zero pause only yields.
  const uint32_t before = GetTickCount();
  Sleep(0);
  EXPECT_LT(GetTickCount() - before, 15000u);
}

TEST(Os, ThreadIdsDifferBetweenThreads) {
  const uint32_t main = GetCurrentThreadId();
  EXPECT_EQ(main, GetCurrentThreadId());
  EXPECT_EQ(main, static_cast<uint32_t>(getpid())) << "the test runs on the process's first thread";
  uint32_t other = main;
  std::thread([&] { other = GetCurrentThreadId(); }).join();
  EXPECT_NE(other, main);
}

TEST(Os, UserAndComputerNames) {
  if (const passwd* entry = getpwuid(geteuid())) {
    EXPECT_EQ(GetUserName(), entry->pw_name);
  } else {
    EXPECT_EQ(GetUserName(), "");
  }
  char host[256] = {};
  ASSERT_EQ(gethostname(host, sizeof(host) - 1), 0);
  EXPECT_EQ(GetComputerName(), host);
  EXPECT_FALSE(GetComputerName().empty());
}

TEST(Os, LastErrorAndItsText) {
  const int fd = open("/nonexistent-dir-for-os-test/file", O_RDONLY);
  const int32_t code = GetLastOSError();
  ASSERT_EQ(fd, -1);
  EXPECT_EQ(code, ENOENT);
  EXPECT_EQ(SysErrorMessage(code), "No such file or directory");
  EXPECT_EQ(SysErrorMessage(EACCES), "Permission denied");
  // Codes the system does not know have no text, so callers can say so.
  EXPECT_EQ(SysErrorMessage(99999), "");
  EXPECT_EQ(SysErrorMessage(-1), "");
}

TEST(Os, VersionComesFromTheKernel) {
  utsname names{};
  ASSERT_EQ(uname(&names), 0);
  TOSVersionInfo info;
  info.dwPlatformId = 7;
  ASSERT_TRUE(GetVersionEx(info));
  EXPECT_EQ(info.dwPlatformId, 0u);
  const std::string release = names.release;
  const std::string numbers = std::to_string(info.dwMajorVersion) + "." +
                              std::to_string(info.dwMinorVersion) + "." +
                              std::to_string(info.dwBuildNumber);
  // Kernels report at least "major.minor.patch"; the version is its start.
  EXPECT_EQ(release.compare(0, numbers.size(), numbers), 0) << release << " vs " << numbers;
  EXPECT_GT(info.dwMajorVersion, 0u);
  EXPECT_EQ(info.szCSDVersion, std::string(names.version).substr(0, 127));
  EXPECT_LE(info.szCSDVersion.size(), 127u);
}

}  // namespace
}  // namespace plat
