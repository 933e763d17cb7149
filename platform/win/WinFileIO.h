#pragma once
// Whole-file reads and writes under flock, shared by the registry, the INI
// files and the system configuration. Host paths throughout.

#include <string>

namespace plat::win {

// An flock held on a file for the lifetime of the guard. The file is created
// when missing. Ok() is false when the file could not be opened or locked.
class TFileLockGuard {
 public:
  TFileLockGuard(const std::string& hostPath, bool exclusive);
  TFileLockGuard(const TFileLockGuard&) = delete;
  TFileLockGuard& operator=(const TFileLockGuard&) = delete;
  ~TFileLockGuard();

  bool Ok() const { return fd_ >= 0; }
  int Error() const { return error_; }

 private:
  int fd_ = -1;
  int error_ = 0;
};

// Reads a whole file. Returns false with errno-style error set when it cannot
// be read; a missing file gives false with error ENOENT.
bool ReadWholeFile(const std::string& hostPath, std::string& content, int& error);

// Writes content to a temporary file beside hostPath and renames it over
// hostPath, so readers see the old or the new file, never a part.
bool ReplaceWholeFile(const std::string& hostPath, const std::string& content, int& error);

// Creates the folder and its parents (host path).
bool MakeHostDirectories(const std::string& hostPath);

}  // namespace plat::win
