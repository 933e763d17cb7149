#pragma once
// Operating-system basics the engine asks of its host: a millisecond tick
// count, pauses, thread identity, the user and computer names, error texts of
// the last system call and a version record shaped like the one the engine
// reports in its file headers.

#include <cstdint>
#include <string>

namespace plat {

// Milliseconds from a monotonic clock, wrapping at 2^32 (about 49.7 days).
// Compare two readings by unsigned difference: `GetTickCount() - start`.
uint32_t GetTickCount();

// Pauses the calling thread for at least ms milliseconds; 0 only yields.
void Sleep(uint32_t ms);

// The kernel's ID of the calling thread.
uint32_t GetCurrentThreadId();

// The effective user's login name; empty when it cannot be determined.
std::string GetUserName();

// The host name; empty when it cannot be read.
std::string GetComputerName();

// The error code (errno) of the calling thread's last failed system call.
int32_t GetLastOSError();

// The system's text for an error code; empty when the system has none.
std::string SysErrorMessage(int32_t code);

// Operating-system version. Platform IDs follow the Windows values (1 for the
// old consumer line, 2 for the NT line); this system reports 0, "other".
struct TOSVersionInfo {
  uint32_t dwMajorVersion = 0;
  uint32_t dwMinorVersion = 0;
  uint32_t dwBuildNumber = 0;
  uint32_t dwPlatformId = 0;
  // Service text: the kernel's version string, at most 127 bytes (the
  // Windows field holds 128 characters with its terminator).
  std::string szCSDVersion;
};

// Fills info from the kernel: major, minor and build from the first three
// numbers of its release ("6.1.76-..." gives 6, 1, 76), the service text from
// its version string. Returns false, leaving info untouched, when the kernel
// cannot be asked.
bool GetVersionEx(TOSVersionInfo& info);

}  // namespace plat
