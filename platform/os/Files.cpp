#include "platform/os/Files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace plat {

namespace {

thread_local int lastFileError = 0;

bool SetFileError(int error) {
  lastFileError = error;
  errno = error;
  return false;
}

int OpenFlags(TFileAccess access) {
  switch (access) {
    case TFileAccess::faRead:
      return O_RDONLY;
    case TFileAccess::faWrite:
      return O_WRONLY;
    case TFileAccess::faReadWrite:
      return O_RDWR;
  }
  return O_RDONLY;
}

bool Overlaps(uint64_t aStart, uint64_t aLength, uint64_t bStart, uint64_t bLength) {
  return aStart < bStart + bLength && bStart < aStart + aLength;
}

// Byte-range lock of an open file description: owned by the descriptor's
// description, so closing another descriptor of the file leaves it alone.
bool SetRangeLock(int fd, short type, uint64_t offset, uint64_t length) {
  struct flock lock {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = static_cast<off_t>(offset);
  lock.l_len = static_cast<off_t>(length);
  lock.l_pid = 0;
  return fcntl(fd, F_OFD_SETLK, &lock) == 0;
}

}  // namespace

TOSFile::~TOSFile() {
  Close();
}

bool TOSFile::Fail(int error) {
  lastError_ = error;
  return SetFileError(error);
}

bool TOSFile::Open(const std::string& name, TFileAccess access, TFileShare share) {
  Close();
  const int fd = ::open(name.c_str(), OpenFlags(access) | O_CLOEXEC);
  if (fd < 0) return Fail(errno);
  const int mode = share == TFileShare::fsExclusive ? LOCK_EX : LOCK_SH;
  if (::flock(fd, mode | LOCK_NB) != 0) {
    const int error = errno == EWOULDBLOCK ? kSharingViolation : errno;
    ::close(fd);
    return Fail(error);
  }
  fd_ = fd;
  writable_ = access != TFileAccess::faRead;
  name_ = name;
  lastError_ = 0;
  return true;
}

bool TOSFile::Create(const std::string& name, bool failIfExists, TFileShare share) {
  Close();
  const int flags = O_RDWR | O_CREAT | O_CLOEXEC | (failIfExists ? O_EXCL : 0);
  const int fd = ::open(name.c_str(), flags, 0666);
  if (fd < 0) return Fail(errno);
  const int mode = share == TFileShare::fsExclusive ? LOCK_EX : LOCK_SH;
  if (::flock(fd, mode | LOCK_NB) != 0) {
    const int error = errno == EWOULDBLOCK ? kSharingViolation : errno;
    ::close(fd);
    return Fail(error);
  }
  // Truncate only once the exclusive lock shows nobody else has it open; a
  // file made with O_EXCL is new and empty anyway.
  if (!failIfExists && ::ftruncate(fd, 0) != 0) {
    const int error = errno;
    ::close(fd);
    return Fail(error);
  }
  fd_ = fd;
  writable_ = true;
  name_ = name;
  lastError_ = 0;
  return true;
}

void TOSFile::Close() {
  if (lockFd_ >= 0) ::close(lockFd_);
  if (fd_ >= 0) ::close(fd_);
  lockFd_ = -1;
  fd_ = -1;
  held_.clear();
  writable_ = false;
}

int64_t TOSFile::ReadAt(int64_t position, void* buffer, int64_t count) {
  if (fd_ < 0) return Fail(EBADF), -1;
  auto* out = static_cast<char*>(buffer);
  int64_t done = 0;
  while (done < count) {
    const ssize_t n = ::pread(fd_, out + done, static_cast<size_t>(count - done), position + done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return Fail(errno), -1;
    }
    if (n == 0) break;
    done += n;
  }
  return done;
}

int64_t TOSFile::WriteAt(int64_t position, const void* buffer, int64_t count) {
  if (fd_ < 0) return Fail(EBADF), -1;
  const auto* in = static_cast<const char*>(buffer);
  int64_t done = 0;
  while (done < count) {
    const ssize_t n = ::pwrite(fd_, in + done, static_cast<size_t>(count - done), position + done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return Fail(errno), -1;
    }
    done += n;
  }
  return done;
}

int64_t TOSFile::Size() {
  struct stat st {};
  if (fd_ < 0 || ::fstat(fd_, &st) != 0) return Fail(fd_ < 0 ? EBADF : errno), -1;
  return st.st_size;
}

bool TOSFile::SetSize(int64_t size) {
  if (fd_ < 0) return Fail(EBADF);
  return ::ftruncate(fd_, size) == 0 || Fail(errno);
}

bool TOSFile::Flush() {
  if (fd_ < 0) return Fail(EBADF);
  return ::fsync(fd_) == 0 || Fail(errno);
}

bool TOSFile::Identity(uint64_t& device, uint64_t& inode) {
  struct stat st {};
  if (fd_ < 0 || ::fstat(fd_, &st) != 0) return Fail(fd_ < 0 ? EBADF : errno);
  device = st.st_dev;
  inode = st.st_ino;
  return true;
}

// A write lock needs a descriptor with write access; a handle opened for
// reading only gets a companion read-write descriptor for its locks.
int TOSFile::LockDescriptor() {
  if (writable_) return fd_;
  if (lockFd_ < 0) lockFd_ = ::open(name_.c_str(), O_RDWR | O_CLOEXEC);
  return lockFd_;
}

bool TOSFile::LockRange(uint64_t offset, uint64_t length) {
  if (fd_ < 0) return Fail(EBADF);
  if (length == 0) return Fail(EINVAL);
  for (const auto& [start, size] : held_)
    if (Overlaps(offset, length, start, size)) return Fail(kLockViolation);
  const int fd = LockDescriptor();
  if (fd < 0) return Fail(errno);
  if (!SetRangeLock(fd, F_WRLCK, offset, length))
    return Fail(errno == EAGAIN || errno == EACCES ? kLockViolation : errno);
  held_.emplace_back(offset, length);
  return true;
}

bool TOSFile::UnlockRange(uint64_t offset, uint64_t length) {
  if (fd_ < 0) return Fail(EBADF);
  for (auto it = held_.begin(); it != held_.end(); ++it) {
    if (it->first != offset || it->second != length) continue;
    if (!SetRangeLock(LockDescriptor(), F_UNLCK, offset, length)) return Fail(errno);
    held_.erase(it);
    return true;
  }
  return Fail(kLockViolation);
}

void TOSFile::UnlockAll() {
  while (!held_.empty()) UnlockRange(held_.back().first, held_.back().second);
}

bool FileExists(const std::string& name) {
  struct stat st {};
  return ::stat(name.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(const std::string& name) {
  struct stat st {};
  return ::stat(name.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool DeleteFile(const std::string& name) {
  return ::unlink(name.c_str()) == 0 || SetFileError(errno);
}

bool RenameFile(const std::string& from, const std::string& to) {
  return ::rename(from.c_str(), to.c_str()) == 0 || SetFileError(errno);
}

bool CopyFile(const std::string& from, const std::string& to, bool failIfExists) {
  TOSFile source;
  if (!source.Open(from, TFileAccess::faRead, TFileShare::fsDenyNone))
    return SetFileError(source.LastError());
  const int flags = O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | (failIfExists ? O_EXCL : 0);
  const int target = ::open(to.c_str(), flags, 0666);
  if (target < 0) return SetFileError(errno);
  std::vector<char> chunk(65536);
  int64_t position = 0;
  for (;;) {
    const int64_t n = source.ReadAt(position, chunk.data(), int64_t(chunk.size()));
    if (n < 0) {
      ::close(target);
      return SetFileError(source.LastError());
    }
    if (n == 0) break;
    int64_t written = 0;
    while (written < n) {
      const ssize_t w = ::write(target, chunk.data() + written, size_t(n - written));
      if (w < 0 && errno == EINTR) continue;
      if (w < 0) {
        const int error = errno;
        ::close(target);
        return SetFileError(error);
      }
      written += w;
    }
    position += n;
  }
  return ::close(target) == 0 || SetFileError(errno);
}

int64_t FileSizeByName(const std::string& name) {
  struct stat st {};
  if (::stat(name.c_str(), &st) != 0) return SetFileError(errno), -1;
  return st.st_size;
}

// The read-only attribute is the absence of every write bit, whoever asks:
// even a process that could write the file anyway treats it as read-only.
bool FileIsReadOnly(const std::string& name) {
  struct stat st {};
  return ::stat(name.c_str(), &st) == 0 && !S_ISDIR(st.st_mode) && (st.st_mode & 0222) == 0;
}

bool FileIdentity(const std::string& name, uint64_t& device, uint64_t& inode) {
  struct stat st {};
  if (::stat(name.c_str(), &st) != 0) return SetFileError(errno);
  device = st.st_dev;
  inode = st.st_ino;
  return true;
}

bool ForceDirectories(const std::string& name) {
  if (name.empty()) return SetFileError(ENOENT);
  std::string path;
  size_t start = 0;
  while (start <= name.size()) {
    size_t slash = name.find('/', start);
    if (slash == std::string::npos) slash = name.size();
    path = name.substr(0, slash);
    if (!path.empty() && !DirectoryExists(path) && ::mkdir(path.c_str(), 0777) != 0 &&
        errno != EEXIST)
      return SetFileError(errno);
    start = slash + 1;
  }
  return true;
}

int LastFileError() {
  return lastFileError;
}

}  // namespace plat
