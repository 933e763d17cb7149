#include "platform/win/WinFileIO.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace plat::win {

TFileLockGuard::TFileLockGuard(const std::string& hostPath, bool exclusive) {
  const int fd = ::open(hostPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) {
    error_ = errno;
    return;
  }
  int rc;
  do {
    rc = ::flock(fd, exclusive ? LOCK_EX : LOCK_SH);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    error_ = errno;
    ::close(fd);
    return;
  }
  fd_ = fd;
}

TFileLockGuard::~TFileLockGuard() {
  if (fd_ >= 0) ::close(fd_);  // closing the description drops the flock
}

bool ReadWholeFile(const std::string& hostPath, std::string& content, int& error) {
  content.clear();
  const int fd = ::open(hostPath.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error = errno;
    return false;
  }
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      error = errno;
      ::close(fd);
      return false;
    }
    if (n == 0) break;
    content.append(buffer, static_cast<size_t>(n));
  }
  ::close(fd);
  error = 0;
  return true;
}

bool ReplaceWholeFile(const std::string& hostPath, const std::string& content, int& error) {
  const std::string temp = hostPath + ".new" + std::to_string(::getpid());
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) {
    error = errno;
    return false;
  }
  size_t done = 0;
  while (done < content.size()) {
    const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      error = errno;
      ::close(fd);
      ::unlink(temp.c_str());
      return false;
    }
    done += static_cast<size_t>(n);
  }
  if (::close(fd) != 0 || ::rename(temp.c_str(), hostPath.c_str()) != 0) {
    error = errno;
    ::unlink(temp.c_str());
    return false;
  }
  error = 0;
  return true;
}

bool MakeHostDirectories(const std::string& hostPath) {
  if (hostPath.empty()) return false;
  struct stat st {};
  if (::stat(hostPath.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  const size_t slash = hostPath.find_last_of('/');
  if (slash != std::string::npos && slash > 0) {
    if (!MakeHostDirectories(hostPath.substr(0, slash))) return false;
  }
  if (::mkdir(hostPath.c_str(), 0777) == 0) return true;
  return errno == EEXIST && ::stat(hostPath.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace plat::win
