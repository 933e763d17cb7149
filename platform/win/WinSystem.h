#pragma once
// The emulated system: its version, its folders, temporary files, shell
// folders, the user's language and the restart request.
//
// The system's settings are kept in "windows.ini" in the root (host file):
//   [Version]  PlatformId, Major, Minor, Build, CSDVersion (Windows XP
//              Service Pack 2 unless configured)
//   [Drives]   A = capacity of the floppy drive in bytes (none: unlimited)
//   [International] LangID = the user's default language id (0x0409)
//   [Restart]  Requested, Flags: the last restart request
// Paths handed in and out here are Windows paths.

#include <cstdint>
#include <string>

namespace plat::win {

// The Windows version record (the 148-byte structure of GetVersionExA).
struct TOSVersionInfoA {
  uint32_t dwOSVersionInfoSize = 148;
  uint32_t dwMajorVersion = 0;
  uint32_t dwMinorVersion = 0;
  uint32_t dwBuildNumber = 0;
  uint32_t dwPlatformId = 0;
  std::string szCSDVersion;  // at most 127 bytes
};

inline constexpr uint32_t VER_PLATFORM_WIN32s = 0;
inline constexpr uint32_t VER_PLATFORM_WIN32_WINDOWS = 1;
inline constexpr uint32_t VER_PLATFORM_WIN32_NT = 2;

// False, as on Windows, when dwOSVersionInfoSize is not 148.
bool GetVersionEx(TOSVersionInfoA& info);
// Configures the version the machine reports (tests, a machine set up as an
// older Windows).
void SetWindowsVersion(uint32_t platformId, uint32_t major, uint32_t minor, uint32_t build,
                       const std::string& csdVersion);
// True for the NT line (platform 2).
bool IsNTPlatform();

// "C:\WINDOWS"; the system folder is "C:\WINDOWS\system32" on the NT line and
// "C:\WINDOWS\SYSTEM" on the others. Both exist.
std::string GetWindowsDirectory();
std::string GetSystemDirectory();
// The temporary folder with a trailing "\" ("C:\WINDOWS\TEMP\").
std::string GetTempPath();

// A new file "<path><prefix up to 3 chars><hex>.TMP". With unique 0 the
// number is chosen and the file created empty; otherwise the name is only
// formed. Returns the number used, 0 on failure (the folder is missing).
uint32_t GetTempFileName(const std::string& path, const std::string& prefix, uint32_t unique,
                         std::string& tempFileName);

// The short form of an existing path. The emulated file system keeps no 8.3
// names, so an existing path is its own short form (as on a volume with short
// names switched off). False when the path does not exist.
bool GetShortPathName(const std::string& longPath, std::string& shortPath);

// The running program's file as a Windows path.
std::string GetModuleFileName();

// Shell folders by their CSIDL number, read from the seeded "Shell Folders"
// values (per user in HKEY_CURRENT_USER, common ones in HKEY_LOCAL_MACHINE).
// False for virtual folders (control panel, printers, recycle bin) and for
// folders without a value.
bool SHGetSpecialFolderPath(int32_t csidl, std::string& path);

inline constexpr int32_t CSIDL_DESKTOP = 0;
inline constexpr int32_t CSIDL_PROGRAMS = 2;
inline constexpr int32_t CSIDL_CONTROLS = 3;
inline constexpr int32_t CSIDL_PRINTERS = 4;
inline constexpr int32_t CSIDL_PERSONAL = 5;
inline constexpr int32_t CSIDL_FAVORITES = 6;
inline constexpr int32_t CSIDL_STARTUP = 7;
inline constexpr int32_t CSIDL_RECENT = 8;
inline constexpr int32_t CSIDL_SENDTO = 9;
inline constexpr int32_t CSIDL_BITBUCKET = 10;
inline constexpr int32_t CSIDL_STARTMENU = 11;
inline constexpr int32_t CSIDL_DESKTOPDIRECTORY = 16;
inline constexpr int32_t CSIDL_FONTS = 20;
inline constexpr int32_t CSIDL_TEMPLATES = 21;
inline constexpr int32_t CSIDL_COMMON_STARTMENU = 22;
inline constexpr int32_t CSIDL_COMMON_PROGRAMS = 23;
inline constexpr int32_t CSIDL_COMMON_STARTUP = 24;
inline constexpr int32_t CSIDL_COMMON_DESKTOPDIRECTORY = 25;
inline constexpr int32_t CSIDL_APPDATA = 26;
inline constexpr int32_t CSIDL_LOCAL_APPDATA = 28;
inline constexpr int32_t CSIDL_ALTSTARTUP = 29;
inline constexpr int32_t CSIDL_COMMON_ALTSTARTUP = 30;
inline constexpr int32_t CSIDL_COMMON_FAVORITES = 31;
inline constexpr int32_t CSIDL_COOKIES = 33;
inline constexpr int32_t CSIDL_COMMON_APPDATA = 35;
inline constexpr int32_t CSIDL_WINDOWS = 36;
inline constexpr int32_t CSIDL_SYSTEM = 37;
inline constexpr int32_t CSIDL_PROGRAM_FILES = 38;
inline constexpr int32_t CSIDL_PROGRAM_FILES_COMMON = 43;

// The user's default language id (LANGID).
uint16_t GetUserDefaultLangID();
void SetUserDefaultLangID(uint16_t langId);

// Restarting: the request is recorded for the restart tool
// (ApplyPendingRestart), which plays the part of the next start of Windows.
inline constexpr uint32_t EWX_LOGOFF = 0;
inline constexpr uint32_t EWX_SHUTDOWN = 1;
inline constexpr uint32_t EWX_REBOOT = 2;
inline constexpr uint32_t EWX_FORCE = 4;
// On the NT line the request needs the shutdown privilege enabled first.
bool EnableShutdownPrivilege();
bool ExitWindowsEx(uint32_t flags);
bool RestartRequested();
void ClearRestartRequest();

// The drive's capacity and free bytes. The floppy drive A: has the capacity
// configured for it (free = capacity - bytes of its files); other drives
// report the host's file system.
bool GetDiskFreeSpace(const std::string& drive, uint64_t& totalBytes, uint64_t& freeBytes);
void SetFloppyCapacity(uint64_t bytes);  // 0: unlimited

// The host path of the system configuration file.
std::string SystemConfigFile();

}  // namespace plat::win
