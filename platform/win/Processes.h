#pragma once
// Starting programs in the virtual Windows. A program named by a Windows path
// is started as a host process (fork and exec). A Windows program (a PE file,
// beginning with "MZ") cannot run on this host: its start fails with
// ERROR_BAD_EXE_FORMAT, as Windows fails a file it cannot run. Command lines
// follow the Windows rules: the first item (quoted or not) names the program,
// the rest is split into arguments as the C runtime of Windows splits it.

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace plat::win {

inline constexpr uint16_t SW_HIDE = 0;
inline constexpr uint16_t SW_SHOWNORMAL = 1;
inline constexpr uint16_t SW_SHOWMINIMIZED = 2;
inline constexpr uint16_t SW_SHOWMAXIMIZED = 3;
inline constexpr uint32_t STARTF_USESHOWWINDOW = 0x01;
inline constexpr uint32_t STARTF_FORCEONFEEDBACK = 0x40;
inline constexpr uint32_t NORMAL_PRIORITY_CLASS = 0x20;
inline constexpr uint32_t INFINITE = 0xFFFFFFFFu;
inline constexpr uint32_t WAIT_OBJECT_0 = 0;
inline constexpr uint32_t WAIT_TIMEOUT = 258;
inline constexpr uint32_t WAIT_FAILED = 0xFFFFFFFFu;
inline constexpr uint32_t STILL_ACTIVE = 259;

struct TStartupInfo {
  uint32_t dwFlags = 0;
  uint16_t wShowWindow = SW_SHOWNORMAL;  // no windows here: recorded only
};

// A started process. Closing it (CloseProcessHandle or the destructor) reaps
// it when it has ended; a process still running goes on by itself.
class TProcessInformation {
 public:
  TProcessInformation() = default;
  TProcessInformation(const TProcessInformation&) = delete;
  TProcessInformation& operator=(const TProcessInformation&) = delete;
  ~TProcessInformation();

  pid_t dwProcessId = 0;
  bool Exited = false;
  uint32_t ExitCode = 0;
};

// Starts a program. applicationName may be empty (the program is then the
// command line's first item). currentDirectory is a Windows path or empty.
// False with GetLastError set when it cannot start: ERROR_FILE_NOT_FOUND,
// ERROR_PATH_NOT_FOUND, ERROR_ACCESS_DENIED, ERROR_BAD_EXE_FORMAT.
bool CreateProcess(const std::string& applicationName, const std::string& commandLine,
                   bool inheritHandles, uint32_t creationFlags, const std::string& currentDirectory,
                   const TStartupInfo& startupInfo, TProcessInformation& processInformation);

// Programs here have no message queue: they are idle for input at once.
uint32_t WaitForInputIdle(TProcessInformation& process, uint32_t milliseconds);
// Waits for the process to end: WAIT_OBJECT_0, WAIT_TIMEOUT or WAIT_FAILED.
uint32_t WaitForSingleObject(TProcessInformation& process, uint32_t milliseconds);
// STILL_ACTIVE while it runs.
bool GetExitCodeProcess(TProcessInformation& process, uint32_t& exitCode);
void CloseProcessHandle(TProcessInformation& process);

// The arguments of a command line (after the program) by the Windows rules:
// blanks separate, double quotes group, backslashes are literal except before
// a double quote, where 2n backslashes give n and a quote toggles, and 2n + 1
// give n and a literal quote.
std::vector<std::string> CommandLineToArgs(const std::string& arguments);
// Splits a command line into the program item and the rest.
void SplitCommandLine(const std::string& commandLine, std::string& program, std::string& rest);

}  // namespace plat::win
