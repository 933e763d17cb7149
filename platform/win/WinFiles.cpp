#include "platform/win/WinFiles.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <memory>

#include "platform/win/Registry.h"
#include "platform/win/Restart.h"
#include "platform/win/WinPaths.h"
#include "platform/win/WinSystem.h"

namespace plat::win {

namespace {

thread_local uint32_t lastError = 0;

bool Fail(uint32_t code) {
  lastError = code;
  return false;
}

bool FailErrno(int error) {
  return Fail(ErrorFromErrno(error));
}

bool Succeed() {
  lastError = ERROR_SUCCESS;
  return true;
}

const char* const kAttrFile = ".winattrs";
constexpr uint32_t kSideAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                     FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_TEMPORARY |
                                     FILE_ATTRIBUTE_OFFLINE;

std::string HostDir(const std::string& host) {
  const size_t slash = host.find_last_of('/');
  return slash == 0 ? "/" : host.substr(0, slash);
}

std::string HostName(const std::string& host) {
  return host.substr(host.find_last_of('/') + 1);
}

// The side attributes of one folder: lines "XXXXXXXX name". The file is
// rewritten in place under an exclusive flock of itself.
class TAttrFile {
 public:
  explicit TAttrFile(const std::string& dir, bool write) : path_(dir + "/" + kAttrFile) {
    fd_ = ::open(path_.c_str(), write ? (O_RDWR | O_CREAT | O_CLOEXEC) : (O_RDONLY | O_CLOEXEC),
                 0666);
    if (fd_ < 0) return;
    while (::flock(fd_, write ? LOCK_EX : LOCK_SH) != 0 && errno == EINTR) {
    }
    std::string text;
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(fd_, buffer, sizeof buffer)) > 0)
      text.append(buffer, static_cast<size_t>(n));
    size_t pos = 0;
    while (pos < text.size()) {
      size_t end = text.find('\n', pos);
      if (end == std::string::npos) end = text.size();
      const std::string line = text.substr(pos, end - pos);
      pos = end + 1;
      if (line.size() < 10 || line[8] != ' ') continue;
      entries_.push_back({line.substr(9), static_cast<uint32_t>(std::strtoul(
                                              line.substr(0, 8).c_str(), nullptr, 16))});
    }
  }
  TAttrFile(const TAttrFile&) = delete;
  TAttrFile& operator=(const TAttrFile&) = delete;
  ~TAttrFile() {
    if (fd_ >= 0) ::close(fd_);
  }

  uint32_t Get(const std::string& name) const {
    for (const auto& e : entries_) {
      if (SameName(e.first, name)) return e.second;
    }
    return 0;
  }

  void Set(const std::string& name, uint32_t attributes) {
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
      if (SameName(it->first, name)) {
        entries_.erase(it);
        break;
      }
    }
    if (attributes != 0) entries_.push_back({name, attributes});
    Save();
  }

 private:
  void Save() {
    if (fd_ < 0) return;
    if (entries_.empty()) {
      ::unlink(path_.c_str());
      return;
    }
    std::string text;
    for (const auto& e : entries_) {
      char hex[16];
      std::snprintf(hex, sizeof hex, "%08X ", e.second);
      text += hex + e.first + "\n";
    }
    if (::ftruncate(fd_, 0) == 0) {
      size_t done = 0;
      while (done < text.size()) {
        const ssize_t n =
            ::pwrite(fd_, text.data() + done, text.size() - done, static_cast<off_t>(done));
        if (n <= 0 && errno != EINTR) break;
        if (n > 0) done += static_cast<size_t>(n);
      }
    }
  }

  std::string path_;
  int fd_ = -1;
  std::vector<std::pair<std::string, uint32_t>> entries_;
};

uint32_t SideAttributes(const std::string& host) {
  struct stat st {};
  if (::stat((HostDir(host) + "/" + kAttrFile).c_str(), &st) != 0) return 0;
  return TAttrFile(HostDir(host), false).Get(HostName(host)) & kSideAttributes;
}

void SetSideAttributes(const std::string& host, uint32_t attributes) {
  attributes &= kSideAttributes;
  if (attributes == 0 && SideAttributes(host) == 0) return;
  TAttrFile(HostDir(host), true).Set(HostName(host), attributes);
}

bool IsReadOnly(const struct stat& st) {
  return (st.st_mode & 0222) == 0;
}

// Open and flock the file without waiting: EWOULDBLOCK means another handle
// holds it. Returns the descriptor (holding the exclusive lock) or -1.
int LockForReplace(const std::string& host, int& error) {
  const int fd = ::open(host.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) {
    error = errno;
    return -1;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    error = errno;
    ::close(fd);
    return -1;
  }
  return fd;
}

struct TFd {
  int fd;
  ~TFd() {
    if (fd >= 0) ::close(fd);
  }
};

// Checks that an existing file may be replaced or removed; on success holds
// its lock in guard so nobody opens it meanwhile.
bool CheckReplaceable(const std::string& host, TFd& guard) {
  struct stat st {};
  if (::lstat(host.c_str(), &st) != 0) return FailErrno(errno);
  if (S_ISDIR(st.st_mode)) return Fail(ERROR_ACCESS_DENIED);
  if (IsReadOnly(st)) return Fail(ERROR_ACCESS_DENIED);
  if (!S_ISREG(st.st_mode)) return true;
  int error = 0;
  guard.fd = LockForReplace(host, error);
  if (guard.fd < 0) {
    return Fail(error == EWOULDBLOCK ? ERROR_SHARING_VIOLATION : ErrorFromErrno(error));
  }
  return true;
}

bool ParentExists(const std::string& host) {
  struct stat st {};
  return ::stat(HostDir(host).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool CopyContent(const std::string& from, const std::string& to, const struct stat& st) {
  const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return FailErrno(errno);
  TFd inGuard{in};
  const std::string temp = to + ".copy" + std::to_string(::getpid());
  const int out = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (out < 0) return FailErrno(errno);
  {
    TFd outGuard{out};
    char buffer[65536];
    for (;;) {
      const ssize_t n = ::read(in, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        const int error = errno;
        ::unlink(temp.c_str());
        return FailErrno(error);
      }
      if (n == 0) break;
      ssize_t done = 0;
      while (done < n) {
        const ssize_t w = ::write(out, buffer + done, static_cast<size_t>(n - done));
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) {
          const int error = errno;
          ::unlink(temp.c_str());
          return FailErrno(error);
        }
        done += w;
      }
    }
    // The copy keeps the source's date and read-only state, as on Windows.
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    ::futimens(out, times);
    ::fchmod(out, st.st_mode & 07777);
  }
  if (::rename(temp.c_str(), to.c_str()) != 0) {
    const int error = errno;
    ::unlink(temp.c_str());
    return FailErrno(error);
  }
  return true;
}

// Days from 1 January 1970 of a civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int64_t& y, unsigned& m, unsigned& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  y = static_cast<int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y += m <= 2;
}

constexpr int64_t kDelphiEpochOffset = 25569;  // days from 1899-12-30 to 1970-01-01

int32_t PackDosDate(int64_t year, unsigned month, unsigned day, unsigned hour, unsigned minute,
                    unsigned second) {
  if (year < 1980 || year > 2107) return 0;
  return static_cast<int32_t>((static_cast<uint32_t>(year - 1980) << 25) | (month << 21) |
                              (day << 16) | (hour << 11) | (minute << 5) | (second / 2));
}

bool UnpackDosDate(int32_t age, struct tm& tm) {
  const auto v = static_cast<uint32_t>(age);
  tm = {};
  tm.tm_year = static_cast<int>((v >> 25) & 0x7F) + 80;
  tm.tm_mon = static_cast<int>((v >> 21) & 0x0F) - 1;
  tm.tm_mday = static_cast<int>((v >> 16) & 0x1F);
  tm.tm_hour = static_cast<int>((v >> 11) & 0x1F);
  tm.tm_min = static_cast<int>((v >> 5) & 0x3F);
  tm.tm_sec = static_cast<int>(v & 0x1F) * 2;
  tm.tm_isdst = -1;
  return tm.tm_mon >= 0 && tm.tm_mon < 12 && tm.tm_mday >= 1 && tm.tm_mday <= 31 &&
         tm.tm_hour < 24 && tm.tm_min < 60 && tm.tm_sec < 60;
}

}  // namespace

uint32_t GetLastError() {
  return lastError;
}

void SetLastError(uint32_t code) {
  lastError = code;
}

uint32_t ErrorFromErrno(int error) {
  switch (error) {
    case 0:
      return ERROR_SUCCESS;
    case ENOENT:
      return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
      return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS:
      return ERROR_ACCESS_DENIED;
    case EEXIST:
      return ERROR_ALREADY_EXISTS;
    case ENOSPC:
    case EDQUOT:
      return ERROR_DISK_FULL;
    case ENOTEMPTY:
      return ERROR_DIR_NOT_EMPTY;
    case EXDEV:
      return ERROR_NOT_SAME_DEVICE;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    case EWOULDBLOCK:
      return ERROR_SHARING_VIOLATION;
    case ENOEXEC:
      return ERROR_BAD_EXE_FORMAT;
    case EINVAL:
      return ERROR_INVALID_PARAMETER;
    default:
      return ERROR_GEN_FAILURE;
  }
}

std::string FormatMessage(uint32_t code) {
  switch (code) {
    case ERROR_SUCCESS:
      return "The operation completed successfully.";
    case ERROR_FILE_NOT_FOUND:
      return "The system cannot find the file specified.";
    case ERROR_PATH_NOT_FOUND:
      return "The system cannot find the path specified.";
    case ERROR_ACCESS_DENIED:
      return "Access is denied.";
    case ERROR_INVALID_HANDLE:
      return "The handle is invalid.";
    case ERROR_NOT_ENOUGH_MEMORY:
      return "Not enough storage is available to process this command.";
    case ERROR_NOT_SAME_DEVICE:
      return "The system cannot move the file to a different disk drive.";
    case ERROR_GEN_FAILURE:
      return "A device attached to the system is not functioning.";
    case ERROR_SHARING_VIOLATION:
      return "The process cannot access the file because it is being used by another process.";
    case ERROR_FILE_EXISTS:
      return "The file exists.";
    case ERROR_INVALID_PARAMETER:
      return "The parameter is incorrect.";
    case ERROR_DISK_FULL:
      return "There is not enough space on the disk.";
    case ERROR_CALL_NOT_IMPLEMENTED:
      return "This function is not supported on this system.";
    case ERROR_DIR_NOT_EMPTY:
      return "The directory is not empty.";
    case ERROR_ALREADY_EXISTS:
      return "Cannot create a file when that file already exists.";
    case ERROR_BAD_EXE_FORMAT:
      return "%1 is not a valid Win32 application.";
    case ERROR_RESOURCE_DATA_NOT_FOUND:
      return "The specified image file did not contain a resource section.";
    case ERROR_RESOURCE_TYPE_NOT_FOUND:
      return "The specified resource type cannot be found in the image file.";
    default:
      return "Unknown error (" + std::to_string(code) + ").";
  }
}

uint32_t GetFileAttributes(const std::string& fileName) {
  EnsureWindowsRoot();
  const std::string host = HostPath(fileName);
  struct stat st {};
  if (::stat(host.c_str(), &st) != 0) {
    FailErrno(ParentExists(host) ? errno : ENOTDIR);
    return INVALID_FILE_ATTRIBUTES;
  }
  uint32_t attributes = SideAttributes(host);
  if (S_ISDIR(st.st_mode)) attributes |= FILE_ATTRIBUTE_DIRECTORY;
  if (IsReadOnly(st)) attributes |= FILE_ATTRIBUTE_READONLY;
  if (attributes == 0) attributes = FILE_ATTRIBUTE_NORMAL;
  Succeed();
  return attributes;
}

bool SetFileAttributes(const std::string& fileName, uint32_t attributes) {
  EnsureWindowsRoot();
  const std::string host = HostPath(fileName);
  struct stat st {};
  if (::stat(host.c_str(), &st) != 0) return FailErrno(ParentExists(host) ? errno : ENOTDIR);
  mode_t mode = st.st_mode & 07777;
  if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    mode &= ~static_cast<mode_t>(0222);
  } else if (IsReadOnly(st)) {
    mode |= S_IWUSR;
  }
  if (mode != (st.st_mode & 07777) && ::chmod(host.c_str(), mode) != 0) return FailErrno(errno);
  SetSideAttributes(host, attributes);
  return Succeed();
}

bool FileExists(const std::string& fileName) {
  EnsureWindowsRoot();
  struct stat st {};
  return ::stat(HostPath(fileName).c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(const std::string& dirName) {
  EnsureWindowsRoot();
  struct stat st {};
  return ::stat(HostPath(dirName).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool CreateDirectory(const std::string& dirName) {
  EnsureWindowsRoot();
  const std::string host = HostPath(dirName);
  if (::mkdir(host.c_str(), 0777) != 0) {
    return FailErrno(errno == ENOENT ? ENOTDIR : errno);
  }
  return Succeed();
}

bool ForceDirectories(const std::string& dirName) {
  EnsureWindowsRoot();
  const TWinPathParts parts = SplitWinPath(dirName);
  if (parts.Components.empty())
    return DirectoryExists(dirName) ? Succeed() : Fail(ERROR_PATH_NOT_FOUND);
  std::string path = parts.Drive + (parts.Absolute ? "\\" : "");
  for (const std::string& component : parts.Components) {
    path += component;
    if (!DirectoryExists(path) && !CreateDirectory(path)) return false;
    path += "\\";
  }
  return Succeed();
}

bool RemoveDirectory(const std::string& dirName) {
  EnsureWindowsRoot();
  const std::string host = HostPath(dirName);
  // The folder's side attribute file goes with it when nothing else is left.
  std::unique_ptr<DIR, int (*)(DIR*)> d(::opendir(host.c_str()), ::closedir);
  if (!d) return FailErrno(errno);
  bool onlyAttrs = true;
  bool hasAttrs = false;
  while (const dirent* entry = ::readdir(d.get())) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    if (name == kAttrFile) {
      hasAttrs = true;
    } else {
      onlyAttrs = false;
    }
  }
  d.reset();
  if (!onlyAttrs) return Fail(ERROR_DIR_NOT_EMPTY);
  if (hasAttrs) ::unlink((host + "/" + kAttrFile).c_str());
  if (::rmdir(host.c_str()) != 0) return FailErrno(errno);
  SetSideAttributes(host, 0);
  return Succeed();
}

int64_t FileSize(const std::string& fileName) {
  EnsureWindowsRoot();
  struct stat st {};
  if (::stat(HostPath(fileName).c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return -1;
  return st.st_size;
}

bool FileInUse(const std::string& fileName) {
  EnsureWindowsRoot();
  int error = 0;
  const int fd = LockForReplace(HostPath(fileName), error);
  if (fd >= 0) {
    ::close(fd);
    return false;
  }
  return error == EWOULDBLOCK;
}

bool DeleteFile(const std::string& fileName) {
  EnsureWindowsRoot();
  const std::string host = HostPath(fileName);
  TFd guard{-1};
  if (!CheckReplaceable(host, guard)) {
    if (lastError == ERROR_FILE_NOT_FOUND && !ParentExists(host)) lastError = ERROR_PATH_NOT_FOUND;
    return false;
  }
  if (::unlink(host.c_str()) != 0) return FailErrno(errno);
  SetSideAttributes(host, 0);
  return Succeed();
}

bool CopyFile(const std::string& existingName, const std::string& newName, bool failIfExists) {
  EnsureWindowsRoot();
  const std::string from = HostPath(existingName);
  const std::string to = HostPath(newName);
  struct stat st {};
  if (::stat(from.c_str(), &st) != 0) return FailErrno(errno);
  if (S_ISDIR(st.st_mode)) return Fail(ERROR_ACCESS_DENIED);
  TFd guard{-1};
  struct stat target {};
  if (::lstat(to.c_str(), &target) == 0) {
    if (failIfExists) return Fail(ERROR_FILE_EXISTS);
    if (!CheckReplaceable(to, guard)) return false;
  } else if (!ParentExists(to)) {
    return Fail(ERROR_PATH_NOT_FOUND);
  }
  if (!CopyContent(from, to, st)) return false;
  SetSideAttributes(to, SideAttributes(from) | FILE_ATTRIBUTE_ARCHIVE);
  return Succeed();
}

bool MoveFile(const std::string& existingName, const std::string& newName) {
  return MoveFileEx(existingName, newName, MOVEFILE_COPY_ALLOWED);
}

bool MoveFileEx(const std::string& existingName, const std::string& newName, uint32_t flags) {
  EnsureWindowsRoot();
  if ((flags & MOVEFILE_DELAY_UNTIL_REBOOT) != 0) {
    if (!IsNTPlatform()) return Fail(ERROR_CALL_NOT_IMPLEMENTED);
    if (existingName.empty()) return Fail(ERROR_INVALID_PARAMETER);
    // The restart runs in another folder: a relative name is recorded as
    // the path it names now.
    const auto full = [](const std::string& name) {
      const TWinPathParts parts = SplitWinPath(name);
      return name.empty() || (parts.Absolute && !parts.Drive.empty())
                 ? name
                 : WinPathFromHost(HostPath(name));
    };
    AddPendingRename(full(existingName), full(newName), (flags & MOVEFILE_REPLACE_EXISTING) != 0);
    return Succeed();
  }
  if (newName.empty()) return DeleteFile(existingName);
  const std::string from = HostPath(existingName);
  const std::string to = HostPath(newName);
  struct stat st {};
  if (::lstat(from.c_str(), &st) != 0) return FailErrno(errno);
  TFd sourceGuard{-1};
  if (S_ISREG(st.st_mode)) {
    int error = 0;
    sourceGuard.fd = LockForReplace(from, error);
    if (sourceGuard.fd < 0) {
      return Fail(error == EWOULDBLOCK ? ERROR_SHARING_VIOLATION : ErrorFromErrno(error));
    }
  }
  TFd targetGuard{-1};
  struct stat target {};
  const bool targetExists = ::lstat(to.c_str(), &target) == 0;
  // Renaming a file to itself under another case is a rename, not a clash.
  const bool sameFile = targetExists && target.st_ino == st.st_ino && target.st_dev == st.st_dev;
  if (targetExists && !sameFile) {
    if ((flags & MOVEFILE_REPLACE_EXISTING) == 0) return Fail(ERROR_ALREADY_EXISTS);
    if (!CheckReplaceable(to, targetGuard)) return false;
  }
  const uint32_t attributes = SideAttributes(from);
  if (::rename(from.c_str(), to.c_str()) != 0) {
    if (errno != EXDEV) return FailErrno(errno);
    if ((flags & MOVEFILE_COPY_ALLOWED) == 0 || S_ISDIR(st.st_mode)) {
      return Fail(ERROR_NOT_SAME_DEVICE);
    }
    if (!CopyContent(from, to, st)) return false;
    ::unlink(from.c_str());
  }
  SetSideAttributes(from, 0);
  SetSideAttributes(to, attributes);
  return Succeed();
}

int32_t FileAge(const std::string& fileName) {
  EnsureWindowsRoot();
  struct stat st {};
  if (::stat(HostPath(fileName).c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return -1;
  struct tm tm {};
  const time_t seconds = st.st_mtim.tv_sec;
  if (::localtime_r(&seconds, &tm) == nullptr) return -1;
  const int32_t age =
      PackDosDate(tm.tm_year + 1900, static_cast<unsigned>(tm.tm_mon + 1),
                  static_cast<unsigned>(tm.tm_mday), static_cast<unsigned>(tm.tm_hour),
                  static_cast<unsigned>(tm.tm_min), static_cast<unsigned>(tm.tm_sec));
  return age == 0 ? -1 : age;
}

bool FileSetDate(const std::string& fileName, int32_t age) {
  EnsureWindowsRoot();
  struct tm tm {};
  if (!UnpackDosDate(age, tm)) return Fail(ERROR_INVALID_PARAMETER);
  const time_t seconds = ::mktime(&tm);
  if (seconds == static_cast<time_t>(-1)) return Fail(ERROR_INVALID_PARAMETER);
  const struct timespec times[2] = {{0, UTIME_OMIT}, {seconds, 0}};
  if (::utimensat(AT_FDCWD, HostPath(fileName).c_str(), times, 0) != 0) return FailErrno(errno);
  return Succeed();
}

int32_t DateTimeToFileDate(double dateTime) {
  if (!std::isfinite(dateTime) || dateTime < 0 || dateTime > 2958466.0) return 0;
  // Whole seconds, rounded to the nearest millisecond first so that a time
  // stored as a fraction does not lose a second to rounding.
  const auto millis = static_cast<int64_t>(std::llround(dateTime * 86400000.0));
  const int64_t days = millis / 86400000;
  int64_t rest = (millis % 86400000) / 1000;
  int64_t y;
  unsigned m, d;
  CivilFromDays(days - kDelphiEpochOffset, y, m, d);
  const auto hour = static_cast<unsigned>(rest / 3600);
  rest %= 3600;
  return PackDosDate(y, m, d, hour, static_cast<unsigned>(rest / 60),
                     static_cast<unsigned>(rest % 60));
}

double FileDateToDateTime(int32_t fileDate) {
  struct tm tm {};
  if (!UnpackDosDate(fileDate, tm)) return 0;
  const int64_t days = DaysFromCivil(tm.tm_year + 1900, static_cast<unsigned>(tm.tm_mon + 1),
                                     static_cast<unsigned>(tm.tm_mday)) +
                       kDelphiEpochOffset;
  return static_cast<double>(days) + (tm.tm_hour * 3600.0 + tm.tm_min * 60.0 + tm.tm_sec) / 86400.0;
}

bool MatchesMask(const std::string& name, const std::string& mask) {
  if (mask == "*.*" || mask == "*") return true;
  const std::string n = UpperName(name);
  const std::string m = UpperName(mask);
  // Iterative wildcard match with one backtrack point.
  size_t i = 0, j = 0, star = std::string::npos, mark = 0;
  while (i < n.size()) {
    if (j < m.size() && (m[j] == '?' || m[j] == n[i])) {
      ++i;
      ++j;
    } else if (j < m.size() && m[j] == '*') {
      star = j++;
      mark = i;
    } else if (star != std::string::npos) {
      j = star + 1;
      i = ++mark;
    } else {
      return false;
    }
  }
  while (j < m.size() && m[j] == '*') ++j;
  // "name." matches "name" without extension, as Windows matches it.
  if (j + 1 == m.size() && m[j] == '.' && n.find('.') == std::string::npos) return true;
  return j == m.size();
}

std::vector<TWinFindData> FindFiles(const std::string& mask) {
  EnsureWindowsRoot();
  std::vector<TWinFindData> found;
  const std::string dir = ExtractWinFilePath(mask);
  const std::string pattern = ExtractWinFileName(mask);
  const std::string host = HostPath(dir.empty() ? "." : dir);
  std::unique_ptr<DIR, int (*)(DIR*)> d(::opendir(host.c_str()), ::closedir);
  if (!d) {
    FailErrno(errno);
    return found;
  }
  while (const dirent* entry = ::readdir(d.get())) {
    const std::string name = entry->d_name;
    if (name == "." || name == ".." || name == kAttrFile) continue;
    if (!MatchesMask(name, pattern)) continue;
    TWinFindData data;
    data.Name = name;
    const std::string winName = dir + name;
    data.Attributes = GetFileAttributes(winName);
    data.Size = std::max<int64_t>(FileSize(winName), 0);
    data.Time = FileAge(winName);
    found.push_back(data);
  }
  Succeed();
  return found;
}

}  // namespace plat::win
