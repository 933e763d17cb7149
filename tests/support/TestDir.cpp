#include "support/TestDir.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

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
  const pid_t pid = ::fork();
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
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return WIFSIGNALED(status) ? -WTERMSIG(status) : -1;
}

int RunInChild(const std::function<int()>& body) { return WaitChild(StartChild(body)); }

}  // namespace testsupport
