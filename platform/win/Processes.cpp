#include "platform/win/Processes.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/os/Os.h"
#include "platform/win/BatchFiles.h"
#include "platform/win/WinFiles.h"
#include "platform/win/WinPaths.h"
#include "platform/win/WinSystem.h"

namespace plat::win {

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

bool HasExtension(const std::string& winName) {
  return !ExtractWinFileExt(winName).empty();
}

bool IsHostFile(const std::string& host) {
  struct stat st {};
  return ::stat(host.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The host file of a program name, found as Windows finds it: the name as
// given and with ".exe" when it has no extension; a bare name in the current
// folder, the system and Windows folders, then the host's PATH.
std::string FindProgram(const std::string& name, const std::string& currentDirectory,
                        uint32_t& error) {
  auto tryName = [](const std::string& winName) -> std::string {
    std::string host = HostPath(winName);
    if (IsHostFile(host)) return host;
    if (!HasExtension(winName)) {
      host = HostPath(winName + ".exe");
      if (IsHostFile(host)) return host;
    }
    return {};
  };
  error = ERROR_FILE_NOT_FOUND;
  if (name.empty()) return {};
  const bool bare = name.find('\\') == std::string::npos && name.find('/') == std::string::npos &&
                    ExtractWinFileDrive(name).empty();
  if (!bare) {
    const std::string found = tryName(name);
    if (found.empty() && !DirectoryExists(ExtractWinFileDir(name))) error = ERROR_PATH_NOT_FOUND;
    return found;
  }
  std::vector<std::string> folders;
  if (!currentDirectory.empty()) folders.push_back(currentDirectory);
  folders.push_back(GetSystemDirectory());
  folders.push_back(GetWindowsDirectory());
  for (const std::string& folder : folders) {
    const std::string found = tryName(folder + "\\" + name);
    if (!found.empty()) return found;
  }
  if (const char* path = std::getenv("PATH")) {
    std::string list = path;
    size_t start = 0;
    while (start <= list.size()) {
      size_t colon = list.find(':', start);
      if (colon == std::string::npos) colon = list.size();
      const std::string dir = list.substr(start, colon - start);
      start = colon + 1;
      if (dir.empty()) continue;
      const std::string host = dir + "/" + name;
      if (IsHostFile(host) && ::access(host.c_str(), X_OK) == 0) return host;
    }
  }
  return {};
}

// The host folder a child starts in: none for an empty name; false with
// ERROR_PATH_NOT_FOUND for a folder that does not exist.
bool HostWorkingDirectory(const std::string& currentDirectory, std::string& hostDir) {
  if (currentDirectory.empty()) return true;
  if (!DirectoryExists(currentDirectory)) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return false;
  }
  hostDir = HostPath(currentDirectory);
  return true;
}

bool IsWindowsImage(const std::string& host) {
  const int fd = ::open(host.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char magic[2] = {0, 0};
  const bool pe = ::read(fd, magic, 2) == 2 && magic[0] == 'M' && magic[1] == 'Z';
  ::close(fd);
  return pe;
}

bool Reap(TProcessInformation& process, bool wait) {
  if (process.Exited || process.dwProcessId <= 0) return process.Exited;
  int status = 0;
  pid_t rc;
  do {
    rc = ::waitpid(process.dwProcessId, &status, wait ? 0 : WNOHANG);
  } while (rc < 0 && errno == EINTR);
  if (rc == process.dwProcessId) {
    process.Exited = true;
    process.ExitCode = WIFEXITED(status) ? static_cast<uint32_t>(WEXITSTATUS(status))
                                         : 128u + static_cast<uint32_t>(WTERMSIG(status));
    return true;
  }
  if (rc < 0) {
    // Not our child (any more): nothing to wait for.
    process.Exited = true;
    process.ExitCode = 0;
    return true;
  }
  return false;
}

// A batch runs in a process of its own through the interpreter; one it
// cannot read is no program.
bool StartBatch(const std::string& host, const std::string& currentDirectory,
                TProcessInformation& processInformation) {
  std::string text;
  {
    const int fd = ::open(host.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      SetLastError(ErrorFromErrno(errno));
      return false;
    }
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(n));
    ::close(fd);
  }
  std::vector<TBatchCommand> commands;
  std::string error;
  if (!ParseBatch(text, commands, error)) {
    SetLastError(ERROR_BAD_EXE_FORMAT);
    return false;
  }
  std::string hostDir;
  if (!HostWorkingDirectory(currentDirectory, hostDir)) return false;
  const pid_t pid = ::fork();
  if (pid < 0) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return false;
  }
  if (pid == 0) {
    int code = 0;
    try {
      if (!hostDir.empty() && ::chdir(hostDir.c_str()) != 0) ::_exit(1);
      RunBatch(commands);
    } catch (...) {
      code = 1;
    }
    ::_exit(code);
  }
  processInformation.dwProcessId = pid;
  processInformation.Exited = false;
  SetLastError(ERROR_SUCCESS);
  return true;
}

}  // namespace

TProcessInformation::~TProcessInformation() {
  CloseProcessHandle(*this);
}

void SplitCommandLine(const std::string& commandLine, std::string& program, std::string& rest) {
  size_t pos = 0;
  while (pos < commandLine.size() && IsBlank(commandLine[pos])) ++pos;
  program.clear();
  if (pos < commandLine.size() && commandLine[pos] == '"') {
    const size_t close = commandLine.find('"', pos + 1);
    program = commandLine.substr(pos + 1, close == std::string::npos ? close : close - pos - 1);
    pos = close == std::string::npos ? commandLine.size() : close + 1;
  } else {
    while (pos < commandLine.size() && !IsBlank(commandLine[pos])) program += commandLine[pos++];
  }
  while (pos < commandLine.size() && IsBlank(commandLine[pos])) ++pos;
  rest = commandLine.substr(pos);
}

std::vector<std::string> CommandLineToArgs(const std::string& arguments) {
  std::vector<std::string> args;
  size_t pos = 0;
  const size_t n = arguments.size();
  for (;;) {
    while (pos < n && IsBlank(arguments[pos])) ++pos;
    if (pos >= n) break;
    std::string arg;
    bool quoted = false;
    while (pos < n && (quoted || !IsBlank(arguments[pos]))) {
      if (arguments[pos] == '\\') {
        size_t slashes = 0;
        while (pos < n && arguments[pos] == '\\') {
          ++slashes;
          ++pos;
        }
        if (pos < n && arguments[pos] == '"') {
          arg.append(slashes / 2, '\\');
          if (slashes % 2 == 1) {
            arg += '"';
            ++pos;
          }
        } else {
          arg.append(slashes, '\\');
        }
      } else if (arguments[pos] == '"') {
        if (quoted && pos + 1 < n && arguments[pos + 1] == '"') {
          arg += '"';  // "" inside quotes is a literal quote
          pos += 2;
        } else {
          quoted = !quoted;
          ++pos;
        }
      } else {
        arg += arguments[pos++];
      }
    }
    args.push_back(arg);
  }
  return args;
}

bool CreateProcess(const std::string& applicationName, const std::string& commandLine,
                   bool /*inheritHandles*/, uint32_t /*creationFlags*/,
                   const std::string& currentDirectory, const TStartupInfo& /*startupInfo*/,
                   TProcessInformation& processInformation) {
  EnsureWindowsRoot();
  CloseProcessHandle(processInformation);
  std::string program = applicationName;
  std::string rest = commandLine;
  if (program.empty()) {
    SplitCommandLine(commandLine, program, rest);
  } else {
    // The command line's first item is the program's own name (argv[0]).
    std::string first;
    SplitCommandLine(commandLine, first, rest);
  }
  uint32_t error = 0;
  std::string host = FindProgram(program, currentDirectory, error);
  if (host.empty() && applicationName.empty()) {
    // An unquoted program name with blanks: Windows tries each longer
    // prefix of the command line in turn ("C:\Program Files\a b\x.exe").
    size_t start = 0;
    while (start < commandLine.size() && IsBlank(commandLine[start])) ++start;
    if (start < commandLine.size() && commandLine[start] != '"') {
      for (size_t blank = commandLine.find(' ', start + program.size() + 1);;
           blank = commandLine.find(' ', blank + 1)) {
        const std::string candidate = commandLine.substr(
            start, blank == std::string::npos ? std::string::npos : blank - start);
        uint32_t candidateError = 0;
        host = FindProgram(candidate, currentDirectory, candidateError);
        if (!host.empty()) {
          rest = blank == std::string::npos ? std::string() : commandLine.substr(blank + 1);
          break;
        }
        if (blank == std::string::npos) break;
      }
    }
  }
  if (host.empty()) {
    SetLastError(error);
    return false;
  }
  if (host.size() > 4 && UpperName(host.substr(host.size() - 4)) == ".BAT") {
    return StartBatch(host, currentDirectory, processInformation);
  }
  if (IsWindowsImage(host)) {
    SetLastError(ERROR_BAD_EXE_FORMAT);
    return false;
  }
  if (::access(host.c_str(), X_OK) != 0) {
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  std::string hostDir;
  if (!HostWorkingDirectory(currentDirectory, hostDir)) return false;
  const std::vector<std::string> args = CommandLineToArgs(rest);
  std::vector<std::string> argvStrings;
  argvStrings.push_back(host);
  argvStrings.insert(argvStrings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& s : argvStrings) argv.push_back(s.data());
  argv.push_back(nullptr);
  // The started program works on the same machine, also when the root was
  // the default one.
  const std::string rootEntry = std::string(kRootVariable) + "=" + WinRoot();
  std::vector<std::string> envStrings;
  const std::string prefix = std::string(kRootVariable) + "=";
  for (char** e = environ; *e != nullptr; ++e) {
    if (std::strncmp(*e, prefix.c_str(), prefix.size()) != 0) envStrings.push_back(*e);
  }
  envStrings.push_back(rootEntry);
  std::vector<char*> envp;
  for (std::string& s : envStrings) envp.push_back(s.data());
  envp.push_back(nullptr);

  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return false;
  }
  const pid_t pid = ::fork();
  if (pid < 0) {
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return false;
  }
  if (pid == 0) {
    ::close(pipeFds[0]);
    int childError = 0;
    if (!hostDir.empty() && ::chdir(hostDir.c_str()) != 0) childError = errno;
    if (childError == 0) {
      ::execve(host.c_str(), argv.data(), envp.data());
      childError = errno;
    }
    ssize_t ignored = ::write(pipeFds[1], &childError, sizeof childError);
    (void)ignored;
    ::_exit(127);
  }
  ::close(pipeFds[1]);
  int childError = 0;
  ssize_t n;
  do {
    n = ::read(pipeFds[0], &childError, sizeof childError);
  } while (n < 0 && errno == EINTR);
  ::close(pipeFds[0]);
  processInformation.dwProcessId = pid;
  processInformation.Exited = false;
  if (n == static_cast<ssize_t>(sizeof childError)) {
    Reap(processInformation, true);
    processInformation.dwProcessId = 0;
    SetLastError(ErrorFromErrno(childError));
    return false;
  }
  SetLastError(ERROR_SUCCESS);
  return true;
}

uint32_t WaitForInputIdle(TProcessInformation& process, uint32_t /*milliseconds*/) {
  return process.dwProcessId > 0 ? WAIT_OBJECT_0 : WAIT_FAILED;
}

uint32_t WaitForSingleObject(TProcessInformation& process, uint32_t milliseconds) {
  if (process.dwProcessId <= 0) return WAIT_FAILED;
  if (milliseconds == INFINITE) {
    Reap(process, true);
    return WAIT_OBJECT_0;
  }
  const uint32_t start = GetTickCount();
  for (;;) {
    if (Reap(process, false)) return WAIT_OBJECT_0;
    if (GetTickCount() - start >= milliseconds) return WAIT_TIMEOUT;
    Sleep(2);
  }
}

bool GetExitCodeProcess(TProcessInformation& process, uint32_t& exitCode) {
  if (process.dwProcessId <= 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  exitCode = Reap(process, false) ? process.ExitCode : STILL_ACTIVE;
  return true;
}

void CloseProcessHandle(TProcessInformation& process) {
  if (process.dwProcessId > 0) Reap(process, false);
  process.dwProcessId = 0;
  process.Exited = false;
  process.ExitCode = 0;
}

}  // namespace plat::win
