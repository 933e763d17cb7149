#include "support/TestDir.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string>

namespace testsupport {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "zeltest-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

int StartChild(const std::function<int()>& body) {
  // A loaded machine may refuse a fork for a moment (EAGAIN): try again a
  // few times before giving up.
  pid_t pid = -1;
  for (int attempt = 0; attempt < 50; ++attempt) {
    pid = ::fork();
    if (pid >= 0 || errno != EAGAIN) break;
    ::usleep(20000);
  }
  if (pid < 0) {
    throw std::runtime_error(std::string("fork failed: ") + std::strerror(errno));
  }
  if (pid != 0) return pid;
  int code = 99;
  try {
    code = body();
  } catch (...) {
    code = 99;
  }
  ::_exit(code);
}

int WaitChild(int pid) {
  // pid -1 or 0 would wait for any child of the test.
  if (pid <= 0) throw std::invalid_argument("WaitChild: no child " + std::to_string(pid));
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) {
      throw std::runtime_error("waitpid " + std::to_string(pid) + ": " + std::strerror(errno));
    }
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return WIFSIGNALED(status) ? -WTERMSIG(status) : -1;
}

int RunInChild(const std::function<int()>& body) {
  return WaitChild(StartChild(body));
}

}  // namespace testsupport
