#pragma once
// Test helpers: a temporary directory removed with its contents, and a forked
// child that runs a function and reports its exit status.

#include <functional>
#include <string>

namespace testsupport {

class TempDir {
 public:
  TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  ~TempDir();

  const std::string& Path() const { return path_; }
  // Path of a name inside the directory.
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Runs body in a forked child, which exits with body's result (or 99 when it
// throws). Returns the child's exit code, or -signal when a signal ended it.
int RunInChild(const std::function<int()>& body);

// Starts body in a forked child without waiting; WaitChild collects it.
// A fork that keeps failing raises std::runtime_error in the caller (the
// test fails with the reason) instead of returning -1, which WaitChild would
// take for "any child".
int StartChild(const std::function<int()>& body);
// Raises std::invalid_argument for a pid that names no single child, and
// std::runtime_error when waitpid fails for another reason than a signal.
int WaitChild(int pid);

}  // namespace testsupport
