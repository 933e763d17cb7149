#include "setup/library/routines_ExpandPaths.h"

#include "platform/win/WinPaths.h"
#include "setup/library/routines_API.h"
#include "setup/library/routines_Registry.h"
#include "setup/library/routines_Strings.h"

namespace setup {

namespace {

std::string Read(TRootKeys root, const char* key, const char* name, const std::string& fallback) {
  return RemoveTrailingBackslash(ReadRegString(root, key, name, fallback));
}

std::string WindowsDrive() {
  return plat::win::ExtractWinFileDrive(GetWindowsDir());
}

}  // namespace

std::string StartMenuPath() {
  return Read(hkCurrentUser, kShellFoldersKey, "Start Menu", GetWindowsDir() + "\\Startmen");
}

std::string ProgramsMenuPath() {
  return Read(hkCurrentUser, kShellFoldersKey, "Programs", StartMenuPath() + "\\Programs");
}

std::string DesktopPath() {
  return Read(hkCurrentUser, kShellFoldersKey, "Desktop", GetWindowsDir() + "\\Desktop");
}

std::string StartupMenuPath() {
  return Read(hkCurrentUser, kShellFoldersKey, "Startup", GetWindowsDir() + "\\Startup");
}

std::string ProgramFilesPath() {
  return Read(hkLocalMachine, kCurrentVersionKey, "ProgramFilesDir",
              WindowsDrive() + "\\Program Files");
}

std::string CommonFilesPath() {
  return Read(hkLocalMachine, kCurrentVersionKey, "CommonFilesDir",
              WindowsDrive() + "\\Program Files\\Common Files");
}

}  // namespace setup
