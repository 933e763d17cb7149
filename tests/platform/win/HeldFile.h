#pragma once
// A file held open by another process: a forked child opens it through a
// handle of its own (an inherited one would share the parent's locks) and
// keeps it open until Release.

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "platform/os/Files.h"
#include "platform/win/WinPaths.h"
#include "support/TestDir.h"

namespace wintest {

class THeldFile {
 public:
  THeldFile() = default;
  THeldFile(const THeldFile&) = delete;
  THeldFile& operator=(const THeldFile&) = delete;
  ~THeldFile() {
    if (child_ > 0) Release();
    for (int& fd : fds_) {
      if (fd >= 0) ::close(fd);
      fd = -1;
    }
  }

  // Returns once the child holds the file (by Windows path) with share;
  // call it under ASSERT_NO_FATAL_FAILURE.
  void Hold(const std::string& winPath, plat::TFileShare share) {
    int ready[2], release[2];
    ASSERT_EQ(::pipe(ready), 0);
    fds_[0] = ready[0];
    fds_[1] = ready[1];
    ASSERT_EQ(::pipe(release), 0);
    fds_[2] = release[0];
    fds_[3] = release[1];
    const std::string host = plat::win::HostPath(winPath);
    child_ = testsupport::StartChild([&] {
      ::close(ready[0]);
      ::close(release[1]);
      plat::TOSFile file;
      if (!file.Open(host, plat::TFileAccess::faRead, share)) return 1;
      char c = 1;
      if (::write(ready[1], &c, 1) != 1 || ::read(release[0], &c, 1) != 1) return 2;
      return 0;
    });
    // Only the child writes "ready": a child that fails to open the file
    // then ends the read instead of leaving it waiting.
    ::close(fds_[1]);
    fds_[1] = -1;
    char c = 0;
    ASSERT_EQ(::read(ready[0], &c, 1), 1) << "the child could not open " << winPath;
  }

  // Lets the child close the file and end; its exit code (0: all went well).
  int Release() {
    if (child_ <= 0) return -1;
    const char c = 0;
    const bool told = ::write(fds_[3], &c, 1) == 1;
    // Closed either way, so that the child's wait ends even if the byte did
    // not go.
    ::close(fds_[3]);
    fds_[3] = -1;
    const int code = testsupport::WaitChild(child_);
    child_ = -1;
    return told ? code : -1;
  }

 private:
  int child_ = -1;
  int fds_[4] = {-1, -1, -1, -1};  // ready read/write, release read/write
};

}  // namespace wintest
