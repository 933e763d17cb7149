#include "platform/os/Os.h"

#include "platform/os/Files.h"

#include <pwd.h>
#include <sys/utsname.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <limits>
#include <thread>
#include <vector>

namespace plat {

uint32_t GetTickCount() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  const uint64_t ms =
      static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
  return static_cast<uint32_t>(ms);
}

void Sleep(uint32_t ms) {
  if (ms == 0) {
    std::this_thread::yield();
    return;
  }
  timespec left{static_cast<time_t>(ms / 1000u), static_cast<long>(ms % 1000u) * 1000000L};
  // A signal cuts nanosleep short; go on sleeping for what is left.
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

uint32_t GetCurrentThreadId() {
  return static_cast<uint32_t>(gettid());
}

std::string GetUserName() {
  const long hint = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(hint > 0 ? static_cast<size_t>(hint) : 1024u);
  passwd entry{};
  passwd* found = nullptr;
  for (;;) {
    const int rc = getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found);
    if (rc == ERANGE && buffer.size() < (1u << 20)) {
      buffer.resize(buffer.size() * 2);
      continue;
    }
    if (rc != 0 || found == nullptr || found->pw_name == nullptr) return {};
    return found->pw_name;
  }
}

std::string GetComputerName() {
  char name[256] = {};
  if (gethostname(name, sizeof(name) - 1) != 0) return {};
  return name;
}

int32_t GetLastOSError() {
  return errno;
}

std::string SysErrorMessage(int32_t code) {
  // The file layer's own codes for Windows-like share and lock refusals.
  if (code == kSharingViolation)
    return "The process cannot access the file because it is being used by another process";
  if (code == kLockViolation)
    return "The process cannot access the file because another process has locked a portion of "
           "the file";
  // Codes the system does not know have no name; their generic "Unknown
  // error" text would only hide that from the caller.
  if (strerrorname_np(code) == nullptr) return {};
  char buffer[256] = {};
  return strerror_r(code, buffer, sizeof(buffer));
}

namespace {

// Reads one decimal number at text[pos], advancing pos; values saturate.
uint32_t ReadNumber(const char* text, size_t& pos) {
  uint64_t value = 0;
  while (text[pos] >= '0' && text[pos] <= '9') {
    value = value * 10 + static_cast<uint64_t>(text[pos] - '0');
    if (value > std::numeric_limits<uint32_t>::max()) value = std::numeric_limits<uint32_t>::max();
    ++pos;
  }
  return static_cast<uint32_t>(value);
}

}  // namespace

bool GetVersionEx(TOSVersionInfo& info) {
  utsname names{};
  if (uname(&names) != 0) return false;
  uint32_t numbers[3] = {0, 0, 0};
  size_t pos = 0;
  for (int i = 0; i < 3; ++i) {
    if (names.release[pos] < '0' || names.release[pos] > '9') break;
    numbers[i] = ReadNumber(names.release, pos);
    if (names.release[pos] != '.') break;
    ++pos;
  }
  info.dwPlatformId = 0;
  info.dwMajorVersion = numbers[0];
  info.dwMinorVersion = numbers[1];
  info.dwBuildNumber = numbers[2];
  info.szCSDVersion.assign(names.version, strnlen(names.version, sizeof(names.version)));
  if (info.szCSDVersion.size() > 127) info.szCSDVersion.resize(127);
  return true;
}

}  // namespace plat
