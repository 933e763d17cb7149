#include "platform/win/WinSystem.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <vector>

#include "platform/os/Os.h"
#include "platform/win/IniFiles.h"
#include "platform/win/RegistryStore.h"
#include "platform/win/WinFileIO.h"
#include "platform/win/WinPaths.h"

namespace plat::win {

namespace {

const char* const kShellFolders =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
const char* const kCurrentVersion = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion";

bool HostFileExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

TIniFile Config() {
  return TIniFile::OnHostFile(SystemConfigFile());
}

std::string UserFolderName() {
  std::string user = GetUserName();
  for (char& c : user) {
    if (c == '\\' || c == '/' || c == ':') c = '_';
  }
  return user.empty() ? "User" : user;
}

void SetString(TRegKeyNode& root, const std::string& path, const std::string& name,
               const std::string& value) {
  TRegKeyNode* node = ForceKey(root, path);
  PLAT_ASSERT(node != nullptr, "Malformed key path of a seeded value");
  if (TRegValue* v = node->FindValue(name)) {
    v->Type = REG_SZ;
    v->Data = value + '\0';
  } else {
    node->Values.push_back(TRegValue{name, REG_SZ, value + '\0'});
  }
}

struct TFolderSeed {
  const char* Name;      // value name under "Shell Folders"
  const char* Relative;  // below the profile folder
};

const TFolderSeed kUserFolders[] = {
    {"AppData", "Application Data"},
    {"Cache", "Local Settings\\Temporary Internet Files"},
    {"Cookies", "Cookies"},
    {"Desktop", "Desktop"},
    {"Favorites", "Favorites"},
    {"History", "Local Settings\\History"},
    {"Local AppData", "Local Settings\\Application Data"},
    {"Local Settings", "Local Settings"},
    {"NetHood", "NetHood"},
    {"Personal", "My Documents"},
    {"PrintHood", "PrintHood"},
    {"Programs", "Start Menu\\Programs"},
    {"Recent", "Recent"},
    {"SendTo", "SendTo"},
    {"Start Menu", "Start Menu"},
    {"Startup", "Start Menu\\Programs\\Startup"},
    {"Templates", "Templates"},
};

const TFolderSeed kCommonFolders[] = {
    {"Common AppData", "Application Data"},
    {"Common Desktop", "Desktop"},
    {"Common Documents", "Documents"},
    {"Common Favorites", "Favorites"},
    {"Common Programs", "Start Menu\\Programs"},
    {"Common Start Menu", "Start Menu"},
    {"Common Startup", "Start Menu\\Programs\\Startup"},
    {"Common Templates", "Templates"},
};

void MakeWinFolder(const std::string& winPath) {
  MakeHostDirectories(HostPath(winPath));
}

// Makes each folder below base and records it under "Shell Folders".
template <size_t N>
void SeedFolders(TRegKeyNode& hive, const std::string& base, const TFolderSeed (&folders)[N]) {
  for (const TFolderSeed& f : folders) {
    const std::string path = base + "\\" + f.Relative;
    MakeWinFolder(path);
    SetString(hive, kShellFolders, f.Name, path);
  }
}

// Lays out a new machine. Called with the seeding lock held and the
// configuration file missing.
void SeedMachine(const std::string& root) {
  MakeHostDirectories(root + "/C");
  MakeHostDirectories(root + "/A");
  MakeWinFolder("C:\\WINDOWS\\system32");
  MakeWinFolder("C:\\WINDOWS\\SYSTEM");
  MakeWinFolder("C:\\WINDOWS\\TEMP");
  MakeWinFolder("C:\\WINDOWS\\Fonts");
  MakeWinFolder("C:\\Program Files\\Common Files");
  const std::string profile = "C:\\Documents and Settings\\" + UserFolderName();
  const std::string common = "C:\\Documents and Settings\\All Users";
  ChangeHive(HKEY_CURRENT_USER, [&](TRegKeyNode& hive) {
    SeedFolders(hive, profile, kUserFolders);
    SetString(hive, kShellFolders, "Fonts", "C:\\WINDOWS\\Fonts");
    return true;
  });
  ChangeHive(HKEY_LOCAL_MACHINE, [&](TRegKeyNode& hive) {
    SeedFolders(hive, common, kCommonFolders);
    SetString(hive, kCurrentVersion, "ProgramFilesDir", "C:\\Program Files");
    SetString(hive, kCurrentVersion, "CommonFilesDir", "C:\\Program Files\\Common Files");
    return true;
  });
  const std::string config =
      "[Version]\r\nPlatformId=2\r\nMajor=5\r\nMinor=1\r\nBuild=2600\r\n"
      "CSDVersion=Service Pack 2\r\n[International]\r\nLangID=1033\r\n";
  int error = 0;
  ReplaceWholeFile(root + "/windows.ini", config, error);
}

std::string WithoutTrailingBackslash(std::string path) {
  while (path.size() > 3 && (path.back() == '\\' || path.back() == '/')) path.pop_back();
  return path;
}

// Bytes of the regular files below a host folder (symbolic links not followed).
int64_t FolderBytes(const std::string& dir, int depth = 0) {
  if (depth > 64) return 0;
  std::unique_ptr<DIR, int (*)(DIR*)> d(::opendir(dir.c_str()), ::closedir);
  if (!d) return 0;
  int64_t total = 0;
  while (const dirent* entry = ::readdir(d.get())) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    struct stat st {};
    const std::string path = dir + "/" + name;
    if (::lstat(path.c_str(), &st) != 0) continue;
    if (S_ISREG(st.st_mode)) total += st.st_size;
    if (S_ISDIR(st.st_mode)) total += FolderBytes(path, depth + 1);
  }
  return total;
}

}  // namespace

std::string SystemConfigFile() {
  return WinRoot() + "/windows.ini";
}

void EnsureWindowsRoot() {
  const std::string root = WinRoot();
  if (HostFileExists(root + "/windows.ini")) return;
  MakeHostDirectories(root);
  TFileLockGuard lock(root + "/.seed.lock", true);
  if (HostFileExists(root + "/windows.ini")) return;  // another process seeded it
  SeedMachine(root);
}

bool GetVersionEx(TOSVersionInfoA& info) {
  if (info.dwOSVersionInfoSize != 148) return false;
  EnsureWindowsRoot();
  const TIniFile config = Config();
  info.dwPlatformId = static_cast<uint32_t>(config.ReadInteger("Version", "PlatformId", 2));
  info.dwMajorVersion = static_cast<uint32_t>(config.ReadInteger("Version", "Major", 5));
  info.dwMinorVersion = static_cast<uint32_t>(config.ReadInteger("Version", "Minor", 1));
  info.dwBuildNumber = static_cast<uint32_t>(config.ReadInteger("Version", "Build", 2600));
  info.szCSDVersion = config.ReadString("Version", "CSDVersion", "").substr(0, 127);
  return true;
}

void SetWindowsVersion(uint32_t platformId, uint32_t major, uint32_t minor, uint32_t build,
                       const std::string& csdVersion) {
  EnsureWindowsRoot();
  TIniFile config = Config();
  config.WriteInteger("Version", "PlatformId", static_cast<int32_t>(platformId));
  config.WriteInteger("Version", "Major", static_cast<int32_t>(major));
  config.WriteInteger("Version", "Minor", static_cast<int32_t>(minor));
  config.WriteInteger("Version", "Build", static_cast<int32_t>(build));
  config.WriteString("Version", "CSDVersion", csdVersion);
}

bool IsNTPlatform() {
  TOSVersionInfoA info;
  return GetVersionEx(info) && info.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

std::string GetWindowsDirectory() {
  EnsureWindowsRoot();
  return "C:\\WINDOWS";
}

std::string GetSystemDirectory() {
  return IsNTPlatform() ? "C:\\WINDOWS\\system32" : "C:\\WINDOWS\\SYSTEM";
}

std::string GetTempPath() {
  EnsureWindowsRoot();
  return "C:\\WINDOWS\\TEMP\\";
}

uint32_t GetTempFileName(const std::string& path, const std::string& prefix, uint32_t unique,
                         std::string& tempFileName) {
  EnsureWindowsRoot();
  std::string dir = path;
  if (!dir.empty() && dir.back() != '\\' && dir.back() != '/') dir += '\\';
  struct stat st {};
  if (::stat(HostPath(dir).c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return 0;
  const std::string stem = dir + prefix.substr(0, 3);
  auto nameOf = [&](uint32_t number) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "%X", number & 0xFFFF);
    return stem + hex + ".TMP";
  };
  if (unique != 0) {
    tempFileName = nameOf(unique);
    return unique & 0xFFFF;
  }
  uint32_t number = (GetTickCount() ^ static_cast<uint32_t>(::getpid())) & 0xFFFF;
  for (int tries = 0; tries < 0x10000; ++tries, number = (number + 1) & 0xFFFF) {
    if (number == 0) continue;
    const std::string name = nameOf(number);
    const int fd = ::open(HostPath(name).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      ::close(fd);
      tempFileName = name;
      return number;
    }
    if (errno != EEXIST) return 0;
  }
  return 0;
}

bool GetShortPathName(const std::string& longPath, std::string& shortPath) {
  struct stat st {};
  if (longPath.empty() || ::stat(HostPath(longPath).c_str(), &st) != 0) return false;
  shortPath = longPath;
  return true;
}

std::string GetModuleFileName() {
  char buffer[4096];
  const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return {};
  return WinPathFromHost(std::string(buffer, static_cast<size_t>(n)));
}

bool SHGetSpecialFolderPath(int32_t csidl, std::string& path) {
  EnsureWindowsRoot();
  struct TMap {
    int32_t Csidl;
    bool Common;
    const char* Value;
  };
  static constexpr TMap kMap[] = {
      {CSIDL_DESKTOP, false, "Desktop"},
      {CSIDL_PROGRAMS, false, "Programs"},
      {CSIDL_PERSONAL, false, "Personal"},
      {CSIDL_FAVORITES, false, "Favorites"},
      {CSIDL_STARTUP, false, "Startup"},
      {CSIDL_RECENT, false, "Recent"},
      {CSIDL_SENDTO, false, "SendTo"},
      {CSIDL_STARTMENU, false, "Start Menu"},
      {CSIDL_DESKTOPDIRECTORY, false, "Desktop"},
      {CSIDL_FONTS, false, "Fonts"},
      {CSIDL_TEMPLATES, false, "Templates"},
      {CSIDL_COMMON_STARTMENU, true, "Common Start Menu"},
      {CSIDL_COMMON_PROGRAMS, true, "Common Programs"},
      {CSIDL_COMMON_STARTUP, true, "Common Startup"},
      {CSIDL_COMMON_DESKTOPDIRECTORY, true, "Common Desktop"},
      {CSIDL_APPDATA, false, "AppData"},
      {CSIDL_LOCAL_APPDATA, false, "Local AppData"},
      {CSIDL_ALTSTARTUP, false, "AltStartup"},
      {CSIDL_COMMON_ALTSTARTUP, true, "Common AltStartup"},
      {CSIDL_COMMON_FAVORITES, true, "Common Favorites"},
      {CSIDL_COOKIES, false, "Cookies"},
      {CSIDL_COMMON_APPDATA, true, "Common AppData"},
  };
  switch (csidl) {
    case CSIDL_WINDOWS:
      path = GetWindowsDirectory();
      return true;
    case CSIDL_SYSTEM:
      path = GetSystemDirectory();
      return true;
    default:
      break;
  }
  for (const TMap& m : kMap) {
    if (m.Csidl != csidl) continue;
    const auto hive = LoadHive(m.Common ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER);
    const TRegKeyNode* node = hive != nullptr ? FindKey(*hive, kShellFolders) : nullptr;
    const TRegValue* value = node != nullptr ? node->FindValue(m.Value) : nullptr;
    if (value == nullptr || (value->Type != REG_SZ && value->Type != REG_EXPAND_SZ)) return false;
    path = WithoutTrailingBackslash(value->Data.substr(0, value->Data.find('\0')));
    return !path.empty();
  }
  if (csidl == CSIDL_PROGRAM_FILES || csidl == CSIDL_PROGRAM_FILES_COMMON) {
    const auto hive = LoadHive(HKEY_LOCAL_MACHINE);
    const TRegKeyNode* node = hive != nullptr ? FindKey(*hive, kCurrentVersion) : nullptr;
    const TRegValue* value =
        node != nullptr
            ? node->FindValue(csidl == CSIDL_PROGRAM_FILES ? "ProgramFilesDir" : "CommonFilesDir")
            : nullptr;
    if (value == nullptr || value->Type != REG_SZ) return false;
    path = WithoutTrailingBackslash(value->Data.substr(0, value->Data.find('\0')));
    return !path.empty();
  }
  return false;  // virtual folders: control panel, printers, recycle bin
}

uint16_t GetUserDefaultLangID() {
  EnsureWindowsRoot();
  return static_cast<uint16_t>(Config().ReadInteger("International", "LangID", 0x0409));
}

void SetUserDefaultLangID(uint16_t langId) {
  EnsureWindowsRoot();
  Config().WriteInteger("International", "LangID", langId);
}

bool EnableShutdownPrivilege() {
  return true;
}

bool ExitWindowsEx(uint32_t flags) {
  EnsureWindowsRoot();
  TIniFile config = Config();
  config.WriteInteger("Restart", "Requested", 1);
  config.WriteInteger("Restart", "Flags", static_cast<int32_t>(flags));
  return true;
}

bool RestartRequested() {
  EnsureWindowsRoot();
  return Config().ReadInteger("Restart", "Requested", 0) != 0;
}

void ClearRestartRequest() {
  EnsureWindowsRoot();
  Config().EraseSection("Restart");
}

bool GetDiskFreeSpace(const std::string& drive, uint64_t& totalBytes, uint64_t& freeBytes) {
  EnsureWindowsRoot();
  const TWinPathParts parts = SplitWinPath(drive);
  const char letter = parts.Drive.empty() ? 'C' : parts.Drive[0];
  const std::string host = HostPath(std::string(1, letter) + ":\\");
  struct stat st {};
  if (::stat(host.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  if (letter == 'A') {
    const int64_t capacity = Config().ReadInteger("Drives", "A", 0);
    if (capacity > 0) {
      const int64_t used = FolderBytes(host);
      totalBytes = static_cast<uint64_t>(capacity);
      freeBytes = used >= capacity ? 0 : static_cast<uint64_t>(capacity - used);
      return true;
    }
  }
  struct statvfs vfs {};
  if (::statvfs(host.c_str(), &vfs) != 0) return false;
  totalBytes = static_cast<uint64_t>(vfs.f_blocks) * vfs.f_frsize;
  freeBytes = static_cast<uint64_t>(vfs.f_bavail) * vfs.f_frsize;
  return true;
}

void SetFloppyCapacity(uint64_t bytes) {
  EnsureWindowsRoot();
  Config().WriteInteger("Drives", "A", static_cast<int32_t>(std::min<uint64_t>(bytes, 0x7FFFFFFF)));
}

}  // namespace plat::win
