#pragma once
// Files of the virtual Windows, by Windows paths, with the Windows rules the
// setup program depends on:
//  1. A file that some process holds open under an flock (shared or
//     exclusive: every file handle of the platform takes one) is in use: it
//     cannot be deleted, replaced or moved (ERROR_SHARING_VIOLATION), as a
//     file open on Windows cannot.
//  2. The read-only attribute is the file's write permission bits; a
//     read-only file cannot be deleted or replaced (ERROR_ACCESS_DENIED). The
//     other attributes (hidden, system, archive, temporary, offline) are kept
//     beside the file, in the folder's ".winattrs" file, which listings hide.
//  3. File dates are the platform's DOS dates: local time in 2-second steps.
//  4. Failures leave a Windows error code for GetLastError.

#include <cstdint>
#include <string>
#include <vector>

namespace plat::win {

inline constexpr uint32_t FILE_ATTRIBUTE_READONLY = 0x0001;
inline constexpr uint32_t FILE_ATTRIBUTE_HIDDEN = 0x0002;
inline constexpr uint32_t FILE_ATTRIBUTE_SYSTEM = 0x0004;
inline constexpr uint32_t FILE_ATTRIBUTE_DIRECTORY = 0x0010;
inline constexpr uint32_t FILE_ATTRIBUTE_ARCHIVE = 0x0020;
inline constexpr uint32_t FILE_ATTRIBUTE_NORMAL = 0x0080;
inline constexpr uint32_t FILE_ATTRIBUTE_TEMPORARY = 0x0100;
inline constexpr uint32_t FILE_ATTRIBUTE_OFFLINE = 0x1000;
inline constexpr uint32_t INVALID_FILE_ATTRIBUTES = 0xFFFFFFFFu;

inline constexpr uint32_t MOVEFILE_REPLACE_EXISTING = 1;
inline constexpr uint32_t MOVEFILE_COPY_ALLOWED = 2;
inline constexpr uint32_t MOVEFILE_DELAY_UNTIL_REBOOT = 4;
inline constexpr uint32_t MOVEFILE_WRITE_THROUGH = 8;

// Windows error codes used by this layer.
inline constexpr uint32_t ERROR_SUCCESS = 0;
inline constexpr uint32_t ERROR_FILE_NOT_FOUND = 2;
inline constexpr uint32_t ERROR_PATH_NOT_FOUND = 3;
inline constexpr uint32_t ERROR_ACCESS_DENIED = 5;
inline constexpr uint32_t ERROR_INVALID_HANDLE = 6;
inline constexpr uint32_t ERROR_NOT_ENOUGH_MEMORY = 8;
inline constexpr uint32_t ERROR_NOT_SAME_DEVICE = 17;
inline constexpr uint32_t ERROR_GEN_FAILURE = 31;
inline constexpr uint32_t ERROR_SHARING_VIOLATION = 32;
inline constexpr uint32_t ERROR_FILE_EXISTS = 80;
inline constexpr uint32_t ERROR_INVALID_PARAMETER = 87;
inline constexpr uint32_t ERROR_DISK_FULL = 112;
inline constexpr uint32_t ERROR_CALL_NOT_IMPLEMENTED = 120;
inline constexpr uint32_t ERROR_DIR_NOT_EMPTY = 145;
inline constexpr uint32_t ERROR_ALREADY_EXISTS = 183;
inline constexpr uint32_t ERROR_BAD_EXE_FORMAT = 193;
inline constexpr uint32_t ERROR_RESOURCE_DATA_NOT_FOUND = 1812;
inline constexpr uint32_t ERROR_RESOURCE_TYPE_NOT_FOUND = 1813;

// The calling thread's last error, as Windows keeps it.
uint32_t GetLastError();
void SetLastError(uint32_t code);
// The system's text for a Windows error code ("Access is denied.").
std::string FormatMessage(uint32_t code);
// The Windows code for an errno value.
uint32_t ErrorFromErrno(int error);

uint32_t GetFileAttributes(const std::string& fileName);
bool SetFileAttributes(const std::string& fileName, uint32_t attributes);

bool FileExists(const std::string& fileName);  // a file, not a folder
bool DirectoryExists(const std::string& dirName);
bool CreateDirectory(const std::string& dirName);   // the parent must exist
bool ForceDirectories(const std::string& dirName);  // with every missing parent
bool RemoveDirectory(const std::string& dirName);   // must be empty
int64_t FileSize(const std::string& fileName);      // -1 when missing

// True when another handle (in any process) holds the file open.
bool FileInUse(const std::string& fileName);

bool DeleteFile(const std::string& fileName);
bool CopyFile(const std::string& existingName, const std::string& newName, bool failIfExists);
bool MoveFile(const std::string& existingName, const std::string& newName);
// With MOVEFILE_DELAY_UNTIL_REBOOT the move (or, with an empty newName, the
// deletion) is recorded as a pending rename and done by the next restart
// (ApplyPendingRestart); only the NT line supports it, as on Windows.
bool MoveFileEx(const std::string& existingName, const std::string& newName, uint32_t flags);

// The file's date as a DOS date (-1 when missing) and setting it.
int32_t FileAge(const std::string& fileName);
bool FileSetDate(const std::string& fileName, int32_t age);
// Conversions between DOS dates and date-times (days since 30 December 1899,
// local time). A date-time outside the DOS range gives 0.
int32_t DateTimeToFileDate(double dateTime);
double FileDateToDateTime(int32_t fileDate);

struct TWinFindData {
  std::string Name;
  uint32_t Attributes = 0;
  int64_t Size = 0;
  int32_t Time = 0;  // DOS date
};
// The entries of a folder whose names match a mask of "*" and "?" (ignoring
// case; "*.*" matches every name), without "." and "..". mask is a Windows
// path whose last component is the pattern ("C:\Kit\*.*").
std::vector<TWinFindData> FindFiles(const std::string& mask);
bool MatchesMask(const std::string& name, const std::string& mask);

}  // namespace plat::win
